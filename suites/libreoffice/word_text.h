#pragma once

// The Word document as the Word server keeps it, and the text work on it:
// the insertion point of the header and footer view (seek, typing with the
// pending font, paragraph alignment), the header and footer stories of the
// first page, and find and replace limited to the main text.

#include "core/automation/automation.h"
#include "core/automation/word_constants.h"
#include "suites/libreoffice/office_documents.h"
#include "suites/libreoffice/uno_support.h"

#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace libreoffice {

// Formatting chosen at the insertion point, applied to what is typed next.
struct PendingFont {
    std::optional<std::string> name;
    std::optional<float> size;
    std::optional<bool> bold;
    bool empty() const { return !name && !size && !bold; }
};

struct WordDocument : OfficeDocument {
    uno::Reference<uno::css::text::XTextDocument> text;
    // The insertion point of the document's window: the story it is in (the
    // main text, a header or a footer) and its position there.
    int seekView = word::seek::MainDocument;
    uno::Reference<uno::css::text::XText> story;
    uno::Reference<uno::css::text::XTextCursor> cursor;
    PendingFont pending;

    void release() override {
        text.clear();
        story.clear();
        cursor.clear();
    }
};
using DocumentPtr = std::shared_ptr<WordDocument>;

uno::Reference<uno::css::text::XTextRange>
rangeOf(const uno::Reference<uno::css::text::XTextCursor>& cursor);

// The page style of the first page: the one at the start of the main text.
uno::Reference<uno::css::beans::XPropertySet> firstPageStyle(WordDocument& document);
// Whether the first page's header (or footer) of index 1 primary, 2 first
// page or 3 even pages exists, as `HeadersFooters(i).Exists` answers.
bool storyExists(WordDocument& document, bool header, int index);
// The text of a header or footer story; empty when it is switched off.
std::string storyText(WordDocument& document, bool header, int index);
// The main text as Word gives it.
std::string mainText(WordDocument& document);

// Moves the insertion point to the start of a story (`SeekView`); a header
// or footer that is off is switched on.
void seek(WordDocument& document, int view);
// The insertion point, at the start of the main text when none was chosen.
void ensureInsertionPoint(WordDocument& document);
// Applies the pending font to the `count` UTF-16 units before the insertion point.
void applyPendingFont(WordDocument& document, sal_Int32 count);
// `TypeText`: CR LF, CR or LF start a new paragraph, a vertical tab a new line.
void typeText(WordDocument& document, const std::string& text);

// Whether the main text holds `text`.
bool findInMainText(WordDocument& document, const std::string& text, bool matchCase,
                    bool wholeWord);
// Replaces hits in the main text only (one or all, by `mode`); each replaced
// hit keeps the formatting of its own first character. Returns how many were
// replaced.
int replaceInMainText(WordDocument& document, const std::string& text,
                      const std::string& replacement, bool matchCase, bool wholeWord, int mode);

// A font size as Word takes it: a number of points, rounded to half points.
double fontSizeFrom(const automation::Value& v);
// Word's paragraph alignment at the insertion point, set and read.
void setAlignment(WordDocument& document, std::int64_t alignment);
std::int64_t alignmentOf(WordDocument& document);

} // namespace libreoffice
