#include "core/engines/word_replace.h"

#include "core/engines/prescan.h"
#include "core/engines/suite.h"

namespace engines {

using automation::Object;
using automation::Value;

namespace {

// Closes every document of the instance (the current one only, within a run).
void closeDocuments(const Object& application, bool saveChanges) {
    application.get("Documents").toObject().call("Close", {Value(saveChanges)});
}

// One document: reports its result line.
void replaceInDocument(const Object& application, const RunInputs& inputs, int index,
                       Reporter& reporter) {
    const std::string name = inputs.fileName(index);
    const std::string path = documentPath(inputs.folderPath(), name);
    if (const Prescan* prescan = inputs.prescan();
        prescan && prescan->wordDocumentLacks(path, inputs.findText())) {
        reporter.report(name + kWordNotFound);
        return;
    }
    bool open = false;
    try {
        const Value opened = application.get("Documents").toObject().call("Open", {Value(path)});
        open = true;
        const Object document = opened.toObject();
        application.put("Visible", Value(false));

        // The test search: only the text, every other setting as the
        // application holds it.
        const bool found = document.get("Content")
                               .toObject()
                               .get("Find")
                               .toObject()
                               .call("Execute", {Value(inputs.findText())})
                               .toBool();
        if (!found || inputs.dryRun()) {
            // A failing close without saving is not tried a second time.
            open = false;
            closeDocuments(application, false);
            reporter.report(name + (found ? kWordFoundDryRun : kWordNotFound));
            return;
        }
        application.get("ActiveDocument")
            .toObject()
            .get("Content")
            .toObject()
            .get("Find")
            .toObject()
            .call("Execute", {},
                  {{"FindText", Value(inputs.findText())},
                   {"ReplaceWith", Value(inputs.replacementText())},
                   {"Replace", Value(2)}});
        // When saving fails the document is still open; it is then closed
        // without saving, which keeps the original file.
        closeDocuments(application, true);
        open = false;
        reporter.report(name + kWordReplaced);
    } catch (const std::exception& e) {
        reporter.reportFailure(failureLine(name, describeError(e)));
        if (open) {
            try {
                closeDocuments(application, false);
            } catch (const std::exception&) {
                // The failure line already names the document; the instance
                // is quit at the end of the run, which closes it.
            }
        }
    }
}

} // namespace

void wordReplace(const RunInputs& inputs, Reporter& reporter,
                 const automation::Registry& registry) {
    const auto suite = suiteForMode(inputs.mode(), Mode::WordDoc,
                                    {"Microsoft Word", "word.Application", ""}, Mode::WpsDoc);
    if (!suite)
        return;
    runOverListedFiles(inputs, reporter, registry, *suite, [&](const Object& application, int i) {
        replaceInDocument(application, inputs, i, reporter);
    });
}

} // namespace engines
