#include "core/engines/header_footer.h"

#include "core/automation/word_constants.h"
#include "core/engines/suite.h"

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
void applyFont(const Object& word, const HeaderFooterInputs& settings) {
    objectAt(selection(word), "Font").put("Name", Value(settings.fontName()));
    objectAt(selection(word), "Font").put("Size", Value(settings.fontSize()));
    if (settings.boldTicked())
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

void writeHeader(const Object& word, const HeaderFooterInputs& settings, const std::string& name,
                 Reporter& reporter) {
    seekView(objectAt(word, "ActiveWindow"), word::seek::CurrentPageHeader);
    applyFont(word, settings);
    if (auto placement = headerPlacement(settings.headerPlacement(), settings.headerText())) {
        typeText(word, placement->text);
        align(word, placement->alignment);
    }
    seekView(objectAt(word, "ActiveWindow"), word::seek::MainDocument);
    const bool written = !readBack(word, "Headers").empty();
    reporter.report(name + (written ? kHeaderWritten : kHeaderFailed));
}

void writeFooter(const Object& word, const HeaderFooterInputs& settings, const std::string& name,
                 Reporter& reporter) {
    seekView(objectAt(word, "ActiveWindow"), word::seek::CurrentPageFooter);
    applyFont(word, settings);

    const std::string footerChoice = settings.footerPlacement();
    if (footerChoice == "居中") {
        typeText(word, settings.footerText());
        align(word, word::align::Centre);
    } else if (footerChoice == "居左") {
        typeText(word, settings.footerText() + spaces(26));
        align(word, word::align::Justify);
    }
    if (settings.pageNumberTicked()) {
        if (auto alignment = pageNumberAlignment(settings.pageNumberPlacement())) {
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
        typeText(word, spaces(22) + settings.footerText());
        align(word, word::align::Right);
    }

    // Read while the footer view is still active.
    const std::string footer = readBack(word, "Footers");
    const std::string line = name + (footer.empty() ? kFooterFailed : kFooterWritten);
    reporter.report(line, line + footer);
}

} // namespace

void writeHeadersAndFooters(const RunInputs& inputs, const HeaderFooterInputs& settings,
                            Reporter& reporter, const automation::Registry& registry) {
    if (inputs.mode() != Mode::WordDoc)
        return;
    const SuiteClass suite{"Microsoft Word", "Word.Application", ""};
    const Object word = startSuite(registry, suite, reporter);
    if (word.isNothing())
        return;

    const int count = inputs.fileCount();
    for (int i = 0; i < count; ++i) {
        const std::string name = inputs.fileName(i);
        Object document;
        bool saved = false;
        try {
            document = objectAt(word, "Documents")
                           .call("Open", {Value(documentPath(inputs.folderPath(), name))})
                           .toObject();
            word.put("Visible", Value(false));
            word.put("DisplayAlerts", Value(true));
            document.call("Activate");

            if (settings.headerSelected())
                writeHeader(word, settings, name, reporter);
            if (settings.footerSelected())
                writeFooter(word, settings, name, reporter);

            seekView(objectAt(objectAt(word, "ActiveDocument"), "ActiveWindow"),
                     word::seek::MainDocument);
            document.call("Save");
            saved = true;
            document.call("Close");
        } catch (const std::exception& e) {
            // The run stops at this document: it is closed without saving
            // (a document whose save failed keeps its original), and Word is
            // quit below.
            // Until the save succeeded the file keeps its original content,
            // whatever "已写入内容" lines came before.
            reporter.reportFailure(saved ? failureLine(name, describeError(e))
                                         : unchangedFailureLine(name, describeError(e)));
            if (!document.isNothing()) {
                try {
                    document.call("Close", {Value(false)});
                } catch (const std::exception&) {
                    // Reported above; quitting Word closes it.
                }
            }
            break;
        }
    }
    quitSuite(word, suite.label, reporter);
}

} // namespace engines
