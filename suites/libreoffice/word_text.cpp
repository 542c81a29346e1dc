#include "suites/libreoffice/word_text.h"

#include "core/text/paths.h"
#include "suites/libreoffice/dispatch_support.h"

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/NumberingType.hpp>
#include <com/sun/star/style/ParagraphAdjust.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/ControlCharacter.hpp>
#include <com/sun/star/text/PageNumberType.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XSearchDescriptor.hpp>
#include <com/sun/star/util/XSearchable.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace libreoffice {

namespace fs = std::filesystem;

namespace {

bool boolProperty(const Reference<css::beans::XPropertySet>& set, const char* name, bool fallback) {
    if (!set->getPropertySetInfo()->hasPropertyByName(OUString::createFromAscii(name)))
        return fallback;
    return uno::propertyOf<bool>(set, name);
}

// A story's text as Word gives it: every paragraph ends with CR, a line
// break inside a paragraph is a vertical tab, a table cell ends with CR BEL.
std::string wordText(const Reference<css::text::XText>& text) {
    std::string out;
    Reference<css::container::XEnumeration> parts =
        uno::must<css::container::XEnumerationAccess>(text)->createEnumeration();
    while (parts->hasMoreElements()) {
        Reference<css::uno::XInterface> part(parts->nextElement(), uno::UNO_QUERY);
        Reference<css::text::XTextTable> table(part, uno::UNO_QUERY);
        if (table.is()) {
            const auto names = table->getCellNames();
            for (const auto& cellName : names) {
                Reference<css::text::XText> cell(table->getCellByName(cellName), uno::UNO_QUERY);
                if (cell.is())
                    out += toUtf8(cell->getString());
                out += "\r\a";
            }
            continue;
        }
        Reference<css::text::XTextRange> paragraph(part, uno::UNO_QUERY);
        if (paragraph.is()) {
            std::string line = toUtf8(paragraph->getString());
            std::replace(line.begin(), line.end(), '\n', '\v');
            out += line;
            out += '\r';
        }
    }
    return out;
}

// Which story of the first page's style a header or footer index names:
// 1 primary, 2 first page, 3 even pages.
const char* storyProperty(bool header, int index,
                          const Reference<css::beans::XPropertySet>& style) {
    if (index == 2 && !boolProperty(style, "FirstIsShared", true))
        return header ? "HeaderTextFirst" : "FooterTextFirst";
    if (index == 3 && !boolProperty(style, header ? "HeaderIsShared" : "FooterIsShared", true))
        return header ? "HeaderTextLeft" : "FooterTextLeft";
    return header ? "HeaderText" : "FooterText";
}

// ---------------------------------------------------------------- search

Reference<css::util::XSearchDescriptor>
searchDescriptor(const Reference<css::util::XSearchable>& searchable, const std::string& text,
                 bool matchCase, bool wholeWord) {
    Reference<css::util::XSearchDescriptor> descriptor = searchable->createSearchDescriptor();
    descriptor->setSearchString(toOUString(text));
    Reference<css::beans::XPropertySet> settings = uno::must<css::beans::XPropertySet>(descriptor);
    uno::setProperty(settings, "SearchCaseSensitive", Any(matchCase));
    uno::setProperty(settings, "SearchWords", Any(wholeWord));
    uno::setProperty(settings, "SearchRegularExpression", Any(false));
    uno::setProperty(settings, "SearchSimilarity", Any(false));
    return descriptor;
}

// Whether a hit lies in the main text (body paragraphs and tables); hits in
// headers, footers, frames and notes belong to other stories.
class MainTextTest {
public:
    explicit MainTextTest(WordDocument& document) {
        Reference<css::text::XText> body = document.text->getText();
        compare_ = uno::must<css::text::XTextRangeCompare>(body);
        start_ = body->getStart();
    }
    bool contains(const Reference<css::text::XTextRange>& hit) const {
        try {
            compare_->compareRegionStarts(hit, start_);
            return true;
        } catch (const css::lang::IllegalArgumentException&) {
            return false;
        }
    }

private:
    Reference<css::text::XTextRangeCompare> compare_;
    Reference<css::text::XTextRange> start_;
};

} // namespace

Reference<css::text::XTextRange> rangeOf(const Reference<css::text::XTextCursor>& cursor) {
    return Reference<css::text::XTextRange>(cursor.get());
}

Reference<css::beans::XPropertySet> firstPageStyle(WordDocument& document) {
    Reference<css::text::XText> body = document.text->getText();
    Reference<css::text::XTextCursor> start = body->createTextCursor();
    start->gotoStart(false);
    const OUString styleName =
        uno::propertyOf<OUString>(uno::must<css::beans::XPropertySet>(start), "PageStyleName");
    Reference<css::container::XNameAccess> families =
        uno::must<css::style::XStyleFamiliesSupplier>(document.component)->getStyleFamilies();
    Reference<css::container::XNameAccess> pageStyles(families->getByName("PageStyles"),
                                                      uno::UNO_QUERY_THROW);
    return Reference<css::beans::XPropertySet>(pageStyles->getByName(styleName),
                                               uno::UNO_QUERY_THROW);
}

bool storyExists(WordDocument& document, bool header, int index) {
    auto style = firstPageStyle(document);
    if (!uno::propertyOf<bool>(style, header ? "HeaderIsOn" : "FooterIsOn"))
        return false;
    if (index == 2)
        return !boolProperty(style, "FirstIsShared", true);
    if (index == 3)
        return !boolProperty(style, header ? "HeaderIsShared" : "FooterIsShared", true);
    return true;
}

std::string storyText(WordDocument& document, bool header, int index) {
    auto style = firstPageStyle(document);
    // A header or footer that is switched off has no text at all.
    if (!uno::propertyOf<bool>(style, header ? "HeaderIsOn" : "FooterIsOn"))
        return {};
    Reference<css::text::XText> story(
        style->getPropertyValue(OUString::createFromAscii(storyProperty(header, index, style))),
        uno::UNO_QUERY_THROW);
    return wordText(story);
}

std::string mainText(WordDocument& document) {
    return wordText(document.text->getText());
}

void seek(WordDocument& document, int view) {
    Reference<css::text::XText> story;
    if (view == word::seek::MainDocument) {
        story = document.text->getText();
    } else if (view == word::seek::CurrentPageHeader || view == word::seek::CurrentPageFooter ||
               view == word::seek::PrimaryHeader || view == word::seek::PrimaryFooter) {
        const bool header =
            view == word::seek::CurrentPageHeader || view == word::seek::PrimaryHeader;
        Reference<css::beans::XPropertySet> style = firstPageStyle(document);
        const char* onName = header ? "HeaderIsOn" : "FooterIsOn";
        if (!uno::propertyOf<bool>(style, onName)) {
            uno::setProperty(style, onName, Any(true));
            document.changed = true;
        }
        // The current page is the first one: its own header when the first
        // page has a different one.
        const int index =
            (view == word::seek::CurrentPageHeader || view == word::seek::CurrentPageFooter) ? 2
                                                                                             : 1;
        story.set(
            style->getPropertyValue(OUString::createFromAscii(storyProperty(header, index, style))),
            uno::UNO_QUERY_THROW);
    } else {
        throw Error(automation::errors::InvalidArgument,
                    "视图 " + std::to_string(view) + " 不受支持（可用 0、1、4、9、10）。");
    }
    Reference<css::text::XTextCursor> cursor = story->createTextCursor();
    cursor->gotoStart(false);
    document.story = story;
    document.cursor = cursor;
    document.seekView = view;
    document.pending = PendingFont{};
}

void ensureInsertionPoint(WordDocument& document) {
    if (!document.cursor.is())
        seek(document, word::seek::MainDocument);
}

void applyPendingFont(WordDocument& document, sal_Int32 count) {
    if (document.pending.empty() || count <= 0)
        return;
    sal_Int32 left = count;
    while (left > 0) {
        const auto step = static_cast<sal_Int16>(std::min<sal_Int32>(left, 32767));
        document.cursor->goLeft(step, true);
        left -= step;
    }
    std::vector<std::pair<std::string, Any>> values;
    if (document.pending.name) {
        const Any name(toOUString(*document.pending.name));
        // The Asian and complex variants make the font reach Chinese text.
        values.emplace_back("CharFontName", name);
        values.emplace_back("CharFontNameAsian", name);
        values.emplace_back("CharFontNameComplex", name);
    }
    if (document.pending.size) {
        const Any size(*document.pending.size);
        values.emplace_back("CharHeight", size);
        values.emplace_back("CharHeightAsian", size);
        values.emplace_back("CharHeightComplex", size);
    }
    if (document.pending.bold) {
        const Any weight(*document.pending.bold ? css::awt::FontWeight::BOLD
                                                : css::awt::FontWeight::NORMAL);
        values.emplace_back("CharWeight", weight);
        values.emplace_back("CharWeightAsian", weight);
        values.emplace_back("CharWeightComplex", weight);
    }
    // One remote call for all of them; the names must be sorted.
    std::sort(values.begin(), values.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    uno::Sequence<OUString> names(static_cast<sal_Int32>(values.size()));
    uno::Sequence<Any> anys(static_cast<sal_Int32>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        names.getArray()[i] = OUString::createFromAscii(values[i].first.c_str());
        anys.getArray()[i] = values[i].second;
    }
    uno::must<css::beans::XMultiPropertySet>(document.cursor)->setPropertyValues(names, anys);
    document.cursor->collapseToEnd();
}

void typeText(WordDocument& document, const std::string& text) {
    ensureInsertionPoint(document);
    if (!text.empty())
        document.changed = true;
    std::string segment;
    auto flush = [&] {
        if (segment.empty())
            return;
        const OUString piece = toOUString(segment);
        document.story->insertString(rangeOf(document.cursor), piece, false);
        applyPendingFont(document, piece.getLength());
        segment.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n' || c == '\v') {
            flush();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            document.story->insertControlCharacter(
                rangeOf(document.cursor),
                c == '\v' ? css::text::ControlCharacter::LINE_BREAK
                          : css::text::ControlCharacter::PARAGRAPH_BREAK,
                false);
        } else {
            segment += c;
        }
    }
    flush();
}

bool findInMainText(WordDocument& document, const std::string& text, bool matchCase,
                    bool wholeWord) {
    if (text.empty())
        return false;
    Reference<css::util::XSearchable> searchable =
        uno::must<css::util::XSearchable>(document.component);
    auto descriptor = searchDescriptor(searchable, text, matchCase, wholeWord);
    const MainTextTest mainText(document);
    // The search visits the main text first, so the first hit usually decides.
    Reference<css::uno::XInterface> hit = searchable->findFirst(descriptor);
    for (int guard = 0; hit.is() && guard < 1000000; ++guard) {
        Reference<css::text::XTextRange> range(hit, uno::UNO_QUERY);
        if (range.is() && mainText.contains(range))
            return true;
        hit = searchable->findNext(hit, descriptor);
    }
    return false;
}

int replaceInMainText(WordDocument& document, const std::string& text,
                      const std::string& replacement, bool matchCase, bool wholeWord, int mode) {
    if (text.empty())
        return 0;
    Reference<css::util::XSearchable> searchable =
        uno::must<css::util::XSearchable>(document.component);
    auto descriptor = searchDescriptor(searchable, text, matchCase, wholeWord);
    const MainTextTest mainText(document);
    // All hits are found before the first is replaced, so a replacement that
    // contains the text is not searched again.
    Reference<css::container::XIndexAccess> hits = searchable->findAll(descriptor);
    std::vector<Reference<css::text::XTextRange>> mainHits;
    const sal_Int32 count = hits.is() ? hits->getCount() : 0;
    for (sal_Int32 i = 0; i < count; ++i) {
        Reference<css::text::XTextRange> range(hits->getByIndex(i), uno::UNO_QUERY);
        if (range.is() && mainText.contains(range)) {
            mainHits.push_back(range);
            if (mode == word::replace::One)
                break;
        }
    }
    const OUString with = toOUString(replacement);
    for (const auto& range : mainHits)
        range->setString(with);
    if (!mainHits.empty())
        document.changed = true;
    return static_cast<int>(mainHits.size());
}

// ---------------------------------------------------------------- values

double fontSizeFrom(const Value& v) {
    double size = 0;
    try {
        size = v.toDouble();
    } catch (const Error&) {
        throw Error(automation::errors::TypeMismatch,
                    "字号“" + (v.type() == Value::Type::String ? v.toString() : v.debugString()) +
                        "”不是数字。请填写 1 到 1638 之间的磅值，例如 10 或 10.5。");
    }
    // Word keeps sizes in half points.
    const double rounded = std::round(size * 2) / 2;
    if (!(rounded >= 1 && rounded <= 1638))
        throw Error(automation::errors::WordValueOutOfRange,
                    "字号“" + v.toString() + "”超出范围。请填写 1 到 1638 之间的磅值。");
    return rounded;
}

// Word's paragraph alignment to the office's: left, centred, right, justified,
// distributed.
void setAlignment(WordDocument& document, std::int64_t alignment) {
    using css::style::ParagraphAdjust;
    ParagraphAdjust adjust;
    ParagraphAdjust lastLine = css::style::ParagraphAdjust_LEFT;
    switch (alignment) {
    case 0:
        adjust = css::style::ParagraphAdjust_LEFT;
        break;
    case 1:
        adjust = css::style::ParagraphAdjust_CENTER;
        break;
    case 2:
        adjust = css::style::ParagraphAdjust_RIGHT;
        break;
    case 3:
        adjust = css::style::ParagraphAdjust_BLOCK;
        break;
    case 4:
        adjust = css::style::ParagraphAdjust_BLOCK;
        lastLine = css::style::ParagraphAdjust_BLOCK;
        break;
    default:
        throw Error(automation::errors::InvalidArgument,
                    "段落对齐方式 " + std::to_string(alignment) + " 无效（应为 0 到 4）。");
    }
    auto settings = uno::must<css::beans::XPropertySet>(document.cursor);
    uno::setProperty(settings, "ParaAdjust", Any(adjust));
    document.changed = true;
    uno::setProperty(settings, "ParaLastLineAdjust", Any(static_cast<sal_Int16>(lastLine)));
}

std::int64_t alignmentOf(WordDocument& document) {
    auto settings = uno::must<css::beans::XPropertySet>(document.cursor);
    const auto adjust = uno::propertyOf<sal_Int16>(settings, "ParaAdjust");
    const auto lastLine = uno::propertyOf<sal_Int16>(settings, "ParaLastLineAdjust");
    switch (static_cast<css::style::ParagraphAdjust>(adjust)) {
    case css::style::ParagraphAdjust_CENTER:
        return 1;
    case css::style::ParagraphAdjust_RIGHT:
        return 2;
    case css::style::ParagraphAdjust_BLOCK:
        return lastLine == static_cast<sal_Int16>(css::style::ParagraphAdjust_BLOCK) ? 4 : 3;
    default:
        return 0;
    }
}

} // namespace libreoffice
