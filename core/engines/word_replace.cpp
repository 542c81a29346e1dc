#include "core/engines/word_replace.h"

#include "core/engines/document_run.h"
#include "core/engines/prescan.h"

namespace engines {

using automation::Object;
using automation::Value;

namespace {

// Closes every document of the instance (the current one only, within a run).
void closeDocuments(const Object& application, bool saveChanges) {
    application.get("Documents").toObject().call("Close", {Value(saveChanges)});
}

// After a failure: closed without saving. A failing close needs no line of
// its own; the instance is quit at the end of the run, which closes it.
void closeUnsaved(const Object& application) {
    try {
        closeDocuments(application, false);
    } catch (const std::exception&) {
    }
}

void reportWordResult(DocumentRun& document, bool found) {
    const char* mark =
        !found ? kWordNotFound : (document.request.dryRun ? kWordFoundDryRun : kWordReplaced);
    const std::string line = document.name + mark;
    document.report(line, document.journalOf(line, found, document.outcome.pairsReplaced));
}

// Through the suite: every pair in order, each tested on the document's main
// text and, when found, replaced in it.
void replaceThroughSuite(DocumentRun& document) {
    const Object application = document.application();
    if (application.isNothing())
        return;
    const RunRequest& request = document.request;
    bool open = false;
    try {
        const Value opened =
            application.get("Documents").toObject().call("Open", {Value(document.path)});
        open = true;
        const Object wordDocument = opened.toObject();
        application.put("Visible", Value(false));

        for (std::size_t k = 0; k < request.pairs.size(); ++k) {
            const ReplacePair& pair = request.pairs[k];
            // The test search: only the text, every other setting as the
            // application holds it.
            const bool found = wordDocument.get("Content")
                                   .toObject()
                                   .get("Find")
                                   .toObject()
                                   .call("Execute", {Value(pair.find)})
                                   .toBool();
            if (!found)
                continue;
            document.outcome.pairsReplaced.push_back(k);
            if (request.dryRun)
                continue;
            application.get("ActiveDocument")
                .toObject()
                .get("Content")
                .toObject()
                .get("Find")
                .toObject()
                .call("Execute", {},
                      {{"FindText", Value(pair.find)},
                       {"ReplaceWith", Value(pair.replacement)},
                       {"Replace", Value(2)}});
        }
        const bool found = !document.outcome.pairsReplaced.empty();
        if (!found || request.dryRun) {
            // A failing close without saving is not tried a second time.
            open = false;
            closeDocuments(application, false);
            reportWordResult(document, found);
            return;
        }
        std::string error;
        if (!document.keepOriginal(error)) {
            document.reportFailure(unchangedFailureLine(document.name, error));
            open = false;
            closeUnsaved(application);
            return;
        }
        // When saving fails the document is still open; it is then closed
        // without saving, which keeps the original file.
        try {
            closeDocuments(application, true);
        } catch (...) {
            document.changeFailed();
            throw;
        }
        open = false;
        document.changed();
        reportWordResult(document, true);
    } catch (const std::exception& e) {
        document.reportFailure(failureLine(document.name, describeError(e)));
        if (open)
            closeUnsaved(application);
    }
}

} // namespace

void replaceInWordDocument(DocumentRun& document) {
    if (const Prescan* prescan = document.services.prescan;
        prescan && prescan->wordDocumentLacks(document.path, document.findTexts())) {
        document.outcome.engine = EngineUsed::Prescan;
        reportWordResult(document, false);
        return;
    }
    BuiltinAttempt builtin = tryBuiltinEngine(document);
    if (builtin.step == BuiltinStep::ToSuite)
        return replaceThroughSuite(document);
    if (!document.outcome.failed)
        reportWordResult(document,
                         !builtin.result.parts.empty() && builtin.result.parts[0].replaced);
}

} // namespace engines
