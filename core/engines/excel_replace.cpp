#include "core/engines/excel_replace.h"

#include "core/automation/excel_constants.h"
#include "core/engines/document_run.h"
#include "core/engines/prescan.h"

#include <algorithm>

namespace engines {

using automation::Object;
using automation::Value;

namespace {

void reportSheet(DocumentRun& document, const std::string& sheet, bool found,
                 const std::vector<std::size_t>& pairs) {
    const char* mark =
        !found ? kSheetNotFound : (document.request.dryRun ? kSheetFoundDryRun : kSheetReplaced);
    const std::string line = document.name + "-" + sheet + mark;
    document.report(line, document.journalOf(line, found, pairs));
}

void notePairs(DocumentOutcome& outcome, const std::vector<std::size_t>& pairs) {
    for (const std::size_t pair : pairs)
        if (std::find(outcome.pairsReplaced.begin(), outcome.pairsReplaced.end(), pair) ==
            outcome.pairsReplaced.end())
            outcome.pairsReplaced.push_back(pair);
    std::sort(outcome.pairsReplaced.begin(), outcome.pairsReplaced.end());
}

// After a failure: the workbook is closed without saving. A failing close
// needs no line of its own; quitting the instance at the end closes it.
void closeUnsaved(const Object& workbook) {
    try {
        workbook.call("Close", {Value(false)});
    } catch (const std::exception&) {
    }
}

// One worksheet: every pair in order, searched and, when found, replaced;
// then its line. True when anything was found.
bool replaceOnSheet(DocumentRun& document, const Object& workbook, int sheet) {
    workbook.get("Sheets", {Value(sheet)}).toObject().call("Activate");
    const Object worksheet = workbook.get("Worksheets", {Value(sheet)}).toObject();
    const std::string sheetName =
        workbook.get("Worksheets", {Value(sheet)}).toObject().get("Name").toString();

    const RunRequest& request = document.request;
    std::vector<std::size_t> replaced;
    for (std::size_t k = 0; k < request.pairs.size(); ++k) {
        const ReplacePair& pair = request.pairs[k];
        const Value found = worksheet.get("Cells").toObject().call("Find", {Value(pair.find)});
        if (!found.isObject() || found.isNothing())
            continue;
        replaced.push_back(k);
        if (request.dryRun)
            continue;
        worksheet.get("Cells").toObject().call("Replace", {},
                                               {{"What", Value(pair.find)},
                                                {"Replacement", Value(pair.replacement)},
                                                {"LookAt", Value(excel::lookAt::Part)},
                                                {"SearchOrder", Value(excel::order::ByRows)},
                                                {"MatchCase", Value(false)},
                                                {"SearchFormat", Value(false)},
                                                {"ReplaceFormat", Value(false)}});
    }
    notePairs(document.outcome, replaced);
    reportSheet(document, sheetName, !replaced.empty(), replaced);
    return !replaced.empty();
}

// Through the suite: every worksheet in order, then saved on closing.
void replaceThroughSuite(DocumentRun& document) {
    const Object application = document.application();
    if (application.isNothing())
        return;
    Object workbook;
    try {
        workbook =
            application.get("Workbooks").toObject().call("Open", {Value(document.path)}).toObject();
        application.put("Visible", Value(false));

        bool anyReplaced = false;
        const auto sheets = workbook.get("Worksheets").toObject().get("Count").toInteger();
        for (std::int64_t j = 1; j <= sheets; ++j)
            anyReplaced = replaceOnSheet(document, workbook, static_cast<int>(j)) || anyReplaced;

        if (document.request.dryRun) {
            workbook.call("Close", {Value(false)});
            return;
        }
        // Saved whether or not anything was replaced, and a save rewrites
        // the file either way: the original is kept first.
        std::string error;
        if (!document.keepOriginal(error)) {
            document.reportFailure(unchangedFailureLine(document.name, error));
            closeUnsaved(workbook);
            return;
        }
        try {
            workbook.call("Close", {Value(true)});
        } catch (...) {
            document.changeFailed();
            throw;
        }
        workbook = {};
        if (anyReplaced)
            document.changed();
        else
            document.resaved();
    } catch (const std::exception& e) {
        // Closed without saving, and a failed save keeps the original: the
        // lines of sheets already reported as replaced did not reach the file.
        document.reportFailure(unchangedFailureLine(document.name, describeError(e)));
        if (!workbook.isNothing())
            closeUnsaved(workbook);
    }
}

} // namespace

void replaceInWorkbook(DocumentRun& document) {
    if (const Prescan* prescan = document.services.prescan) {
        if (const auto sheets = prescan->workbookLacks(document.path, document.findTexts())) {
            // Reported as the worksheets' searches would; neither opened nor saved.
            document.outcome.engine = EngineUsed::Prescan;
            for (const std::string& sheet : *sheets)
                reportSheet(document, sheet, false, {});
            return;
        }
    }
    BuiltinAttempt builtin = tryBuiltinEngine(document);
    if (builtin.step == BuiltinStep::ToSuite)
        return replaceThroughSuite(document);
    if (document.outcome.failed)
        return;
    for (const BuiltinResult::Part& part : builtin.result.parts)
        reportSheet(document, part.name, part.replaced, part.pairsReplaced);
}

} // namespace engines
