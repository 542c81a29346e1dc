#include "core/engines/header_footer.h"

#include "core/automation/word_constants.h"
#include "core/engines/document_run.h"

#include <optional>

namespace engines {

using automation::Object;
using automation::Value;

namespace {

Object objectAt(const Object& from, std::string_view member) {
    return from.get(member).toObject();
}

// `ActiveWindow.ActivePane.View.SeekView` = view.
void seekView(const Object& window, int view) {
    objectAt(objectAt(window, "ActivePane"), "View").put("SeekView", Value(view));
}

Object selection(const Object& word) {
    return objectAt(word, "Selection");
}

// Font name, size (the text as typed; Word converts it) and, when ticked, bold.
void applyFont(const Object& word, const HeaderFooterSettings& settings) {
    objectAt(selection(word), "Font").put("Name", Value(settings.fontName));
    objectAt(selection(word), "Font").put("Size", Value(settings.fontSize));
    if (settings.bold)
        objectAt(selection(word), "Font").put("Bold", Value(true));
}

void typeText(const Object& word, const std::string& text) {
    selection(word).call("TypeText", {Value(text)});
}

void align(const Object& word, int alignment) {
    objectAt(selection(word), "ParagraphFormat").put("Alignment", Value(alignment));
}

// `ActiveDocument.Sections(1).<part>(1).Range.Text`.
std::string readBack(const Object& word, std::string_view part) {
    const Object section = objectAt(word, "ActiveDocument").get("Sections", {Value(1)}).toObject();
    const Object headerFooter = section.get(part, {Value(1)}).toObject();
    return objectAt(headerFooter, "Range").get("Text").toString();
}

// After a failure: closed without saving; Word's quit at the end of the run
// closes it when this fails too.
void closeUnsaved(const Object& document) {
    try {
        document.call("Close", {Value(false)});
    } catch (const std::exception&) {
    }
}

std::string spaces(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// The text typed and the alignment set for a header placement; none for a
// text outside the placement table.
struct Placement {
    std::string text;
    int alignment;
};

std::optional<Placement> headerPlacement(const std::string& choice, const std::string& text) {
    if (choice == "居中")
        return Placement{text, word::align::Centre};
    if (choice == "居左")
        return Placement{text + spaces(25), word::align::Justify};
    if (choice == "居右")
        return Placement{spaces(16) + text, word::align::Right};
    return std::nullopt;
}

std::optional<int> pageNumberAlignment(const std::string& choice) {
    if (choice == "居中1" || choice == "居中2")
        return word::align::Centre;
    if (choice == "居左")
        return word::align::Justify;
    if (choice == "居右")
        return word::align::Right;
    return std::nullopt;
}

void writeHeader(const Object& word, const HeaderFooterSettings& settings, DocumentRun& document) {
    seekView(objectAt(word, "ActiveWindow"), word::seek::CurrentPageHeader);
    applyFont(word, settings);
    if (auto placement = headerPlacement(settings.headerPlacement, settings.headerText)) {
        typeText(word, placement->text);
        align(word, placement->alignment);
    }
    seekView(objectAt(word, "ActiveWindow"), word::seek::MainDocument);
    const bool written = !readBack(word, "Headers").empty();
    document.report(document.name + (written ? kHeaderWritten : kHeaderFailed));
}

void writeFooter(const Object& word, const HeaderFooterSettings& settings, DocumentRun& document) {
    seekView(objectAt(word, "ActiveWindow"), word::seek::CurrentPageFooter);
    applyFont(word, settings);

    const std::string footerChoice = settings.footerPlacement;
    if (footerChoice == "居中") {
        typeText(word, settings.footerText);
        align(word, word::align::Centre);
    } else if (footerChoice == "居左") {
        typeText(word, settings.footerText + spaces(26));
        align(word, word::align::Justify);
    }
    if (settings.pageNumber) {
        if (auto alignment = pageNumberAlignment(settings.pageNumberPlacement)) {
            typeText(word, "第");
            const Object fields = objectAt(selection(word), "Fields");
            const Object range = objectAt(selection(word), "Range");
            fields.call("Add", {Value(range), Value(word::field::Page)});
            typeText(word, "页");
            align(word, *alignment);
        }
    }
    // A right-aligned footer text follows the page number.
    if (footerChoice == "居右") {
        typeText(word, spaces(22) + settings.footerText);
        align(word, word::align::Right);
    }

    // Read while the footer view is still active.
    const std::string footer = readBack(word, "Footers");
    const std::string line = document.name + (footer.empty() ? kFooterFailed : kFooterWritten);
    document.report(line, line + footer);
}

} // namespace

void writeHeaderOrFooter(DocumentRun& document) {
    // The run stops at the first document that fails.
    document.stopRun = true;
    const Object word = document.application();
    if (word.isNothing())
        return;
    const HeaderFooterSettings& settings = document.request.headerFooter;
    Object opened;
    bool saved = false;
    try {
        opened = objectAt(word, "Documents").call("Open", {Value(document.path)}).toObject();
        word.put("Visible", Value(false));
        word.put("DisplayAlerts", Value(true));
        opened.call("Activate");

        if (settings.header)
            writeHeader(word, settings, document);
        if (settings.footer)
            writeFooter(word, settings, document);

        seekView(objectAt(objectAt(word, "ActiveDocument"), "ActiveWindow"),
                 word::seek::MainDocument);
        // Saved in every case; it changes the file only when something was typed.
        const bool changing = settings.header || settings.footer;
        std::string error;
        if (changing && !document.keepOriginal(error)) {
            document.reportFailure(unchangedFailureLine(document.name, error));
            closeUnsaved(opened);
            return;
        }
        try {
            opened.call("Save");
        } catch (...) {
            if (changing)
                document.changeFailed();
            throw;
        }
        saved = true;
        if (changing)
            document.changed();
        opened.call("Close");
        document.stopRun = false;
    } catch (const std::exception& e) {
        // Closed without saving (a document whose save failed keeps its
        // original), and Word is quit at the end of the run. Until the save
        // succeeded the file keeps its original content, whatever
        // "已写入内容" lines came before.
        document.reportFailure(saved ? failureLine(document.name, describeError(e))
                                     : unchangedFailureLine(document.name, describeError(e)));
        if (!opened.isNothing())
            closeUnsaved(opened);
    }
}

} // namespace engines
