#include "core/engines/excel_replace.h"

#include "core/automation/excel_constants.h"
#include "core/engines/prescan.h"
#include "core/engines/suite.h"

namespace engines {

using automation::Object;
using automation::Value;

namespace {

// One worksheet: searches it, replaces when found, and reports it.
void replaceOnSheet(const Object& workbook, int sheet, const RunInputs& inputs, int fileIndex,
                    Reporter& reporter) {
    workbook.get("Sheets", {Value(sheet)}).toObject().call("Activate");
    const Object worksheet = workbook.get("Worksheets", {Value(sheet)}).toObject();
    const std::string sheetName =
        workbook.get("Worksheets", {Value(sheet)}).toObject().get("Name").toString();

    const Value found = worksheet.get("Cells").toObject().call("Find", {Value(inputs.findText())});
    const bool isFound = found.isObject() && !found.isNothing();
    if (isFound && inputs.dryRun()) {
        reporter.report(inputs.fileName(fileIndex) + "-" + sheetName + kSheetFoundDryRun);
        return;
    }
    if (isFound) {
        worksheet.get("Cells").toObject().call("Replace", {},
                                               {{"What", Value(inputs.findText())},
                                                {"Replacement", Value(inputs.replacementText())},
                                                {"LookAt", Value(excel::lookAt::Part)},
                                                {"SearchOrder", Value(excel::order::ByRows)},
                                                {"MatchCase", Value(false)},
                                                {"SearchFormat", Value(false)},
                                                {"ReplaceFormat", Value(false)}});
    }
    reporter.report(inputs.fileName(fileIndex) + "-" + sheetName +
                    (isFound ? kSheetReplaced : kSheetNotFound));
}

// One workbook: every worksheet in order, then saved on closing.
void replaceInWorkbook(const Object& application, const RunInputs& inputs, int index,
                       Reporter& reporter) {
    const std::string path = documentPath(inputs.folderPath(), inputs.fileName(index));
    if (const Prescan* prescan = inputs.prescan()) {
        if (const auto sheets = prescan->workbookLacks(path, inputs.findText())) {
            // Reported as the worksheets' searches would; neither opened nor saved.
            for (const std::string& sheet : *sheets)
                reporter.report(inputs.fileName(index) + "-" + sheet + kSheetNotFound);
            return;
        }
    }
    Object workbook;
    try {
        workbook = application.get("Workbooks").toObject().call("Open", {Value(path)}).toObject();
        application.put("Visible", Value(false));

        const auto sheets = workbook.get("Worksheets").toObject().get("Count").toInteger();
        for (std::int64_t j = 1; j <= sheets; ++j)
            replaceOnSheet(workbook, static_cast<int>(j), inputs, index, reporter);

        // Saved whether or not anything was replaced; a dry run saves nothing.
        workbook.call("Close", {Value(!inputs.dryRun())});
    } catch (const std::exception& e) {
        // Closed without saving, and a failed save keeps the original: the
        // lines of sheets already reported as replaced did not reach the file.
        reporter.reportFailure(unchangedFailureLine(inputs.fileName(index), describeError(e)));
        if (!workbook.isNothing()) {
            try {
                workbook.call("Close", {Value(false)});
            } catch (const std::exception&) {
                // Reported above; quitting the instance at the end closes it.
            }
        }
    }
}

} // namespace

void excelReplace(const RunInputs& inputs, Reporter& reporter,
                  const automation::Registry& registry) {
    const auto suite = suiteForMode(inputs.mode(), Mode::ExcelXls,
                                    {"Microsoft Excel", "excel.application", ""}, Mode::WpsXls);
    if (!suite)
        return;
    runOverListedFiles(inputs, reporter, registry, *suite, [&](const Object& application, int i) {
        replaceInWorkbook(application, inputs, i, reporter);
    });
}

} // namespace engines
