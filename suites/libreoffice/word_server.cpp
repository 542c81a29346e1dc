// The Word object model over LibreOffice Writer: the application, its
// documents, the main text and its search, the insertion point of the header
// and footer view with its font and paragraph format, page-number fields, and
// the header and footer stories of the first section.

#include "suites/libreoffice/dispatch_support.h"
#include "suites/libreoffice/office_session.h"
#include "suites/libreoffice/server_objects.h"

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

namespace css = uno::css;
namespace fs = std::filesystem;
using automation::Args;
using automation::CallKind;
using automation::Error;
using automation::Object;
using automation::Value;
using rtl::OUString;
using uno::Any;
using uno::Reference;
using uno::toOUString;
using uno::toUtf8;

namespace {

// A document that cannot be opened.
constexpr long kOpenFailure = server_errors::WordFile;
// Any other command that fails on a document.
constexpr long kCommandFailure = 4198;

// Header and footer view selectors (`SeekView`).
constexpr int kSeekMainDocument = 0;
constexpr int kSeekPrimaryHeader = 1;
constexpr int kSeekPrimaryFooter = 4;
constexpr int kSeekCurrentPageHeader = 9;
constexpr int kSeekCurrentPageFooter = 10;

// Field types (`Fields.Add`).
constexpr int kFieldNumPages = 26;
constexpr int kFieldPage = 33;

// `Replace` of `Find.Execute`.
constexpr int kReplaceNone = 0;
constexpr int kReplaceOne = 1;
constexpr int kReplaceAll = 2;

std::string inQuotes(const fs::path& p) {
    return "“" + p.string() + "”";
}

// Formatting chosen at the insertion point, applied to what is typed next.
struct PendingFont {
    std::optional<std::string> name;
    std::optional<float> size;
    std::optional<bool> bold;
    bool empty() const { return !name && !size && !bold; }
};

struct WordDocument {
    fs::path path;
    std::string name;
    Reference<css::lang::XComponent> component;
    Reference<css::text::XTextDocument> text;
    std::string readOnlyReason;
    std::uint64_t generation = 0;
    bool open = true;

    // The insertion point of the document's window: the story it is in (the
    // main text, a header or a footer) and its position there.
    int seekView = kSeekMainDocument;
    Reference<css::text::XText> story;
    Reference<css::text::XTextCursor> cursor;
    PendingFont pending;
};
using DocumentPtr = std::shared_ptr<WordDocument>;

struct WordState {
    std::shared_ptr<Session> session;
    std::vector<DocumentPtr> documents;
    DocumentPtr active;
    ApplicationSettings settings{false, Value(-1) /* wdAlertsAll */, Value(true)};
    // Find settings kept from one search to the next, as Word keeps them.
    bool matchCase = false;
    bool matchWholeWord = false;
    bool quit = false;
};
using StatePtr = std::shared_ptr<WordState>;

// ---------------------------------------------------------------- state helpers

void checkNotQuit(const WordState& state) {
    if (state.quit)
        throw Error(server_errors::ServerUnavailable,
                    "LibreOffice 已经退出（调用过 Quit），这个 Word 对象不能再使用。");
}

// Forgets documents of an office that is no longer running.
void dropLostDocuments(WordState& state) {
    const auto generation = state.session->generation();
    const bool running = state.session->isRunning();
    std::erase_if(state.documents, [&](const DocumentPtr& d) {
        if (running && d->generation == generation)
            return false;
        d->open = false;
        return true;
    });
    if (state.active && !state.active->open)
        state.active = state.documents.empty() ? nullptr : state.documents.back();
}

void checkUsable(const WordState& state, const WordDocument& document) {
    checkNotQuit(state);
    if (!document.open)
        throw Error(5825, "文档" + inQuotes(document.path) + "已经关闭。");
    if (!state.session->isRunning() || document.generation != state.session->generation())
        throw Error(server_errors::ServerUnavailable,
                    "LibreOffice 已经退出，文档" + inQuotes(document.path) + "不再打开。");
}

DocumentPtr activeDocument(WordState& state) {
    checkNotQuit(state);
    dropLostDocuments(state);
    if (!state.active)
        throw Error(server_errors::WordNoDocument, "没有打开的文档，此命令无效。");
    return state.active;
}

DocumentPtr openDocument(WordState& state, const std::string& path, bool readOnly) {
    checkNotQuit(state);
    // The file is checked before the office starts: a missing file is
    // reported at once.
    const auto check = files::checkBeforeOpen(path, files::Format::Word97, kOpenFailure);
    try {
        state.session->ensureRunning();
        dropLostDocuments(state);
        LoadedDocument loaded = state.session->load(check, files::Format::Word97, kOpenFailure);
        auto document = std::make_shared<WordDocument>();
        document->path = check.path;
        document->name = check.path.filename().string();
        document->component = loaded.component;
        document->text = uno::must<css::text::XTextDocument>(loaded.component);
        document->readOnlyReason = loaded.readOnlyReason;
        if (readOnly && document->readOnlyReason.empty())
            document->readOnlyReason = "文档" + inQuotes(check.path) + "以只读方式打开，不能保存。";
        document->generation = state.session->generation();
        state.documents.push_back(document);
        state.active = document;
        return document;
    } catch (...) {
        state.session->rethrowAsError(kOpenFailure, path);
    }
}

void saveDocument(WordState& state, WordDocument& document) {
    checkUsable(state, document);
    state.session->save(document.component, document.path, files::Format::Word97,
                        document.readOnlyReason, kCommandFailure);
}

// Closes one document, saving it first when asked. A failed save leaves the
// document open, as Word does.
void closeDocument(WordState& state, const DocumentPtr& document, bool save) {
    if (save)
        saveDocument(state, *document);
    if (document->open && state.session->isRunning() &&
        document->generation == state.session->generation())
        Session::close(document->component);
    state.session->closed(document->path);
    document->open = false;
    document->component.clear();
    document->text.clear();
    document->story.clear();
    document->cursor.clear();
    std::erase(state.documents, document);
    if (state.active == document)
        state.active = state.documents.empty() ? nullptr : state.documents.back();
}

void quitApplication(WordState& state, bool save) {
    if (state.quit)
        return;
    dropLostDocuments(state);
    while (!state.documents.empty())
        closeDocument(state, state.documents.front(), save);
    state.session->stop();
    state.quit = true;
}

// `SaveChanges` of `Close` and `Quit`: true (-1) saves; false (0) and
// wdPromptToSaveChanges (-2), which nobody can answer here, do not.
bool saveChangesArgument(const Value* v) {
    return v && v->toInteger() == -1;
}

// ---------------------------------------------------------------- text helpers

Reference<css::text::XTextRange> rangeOf(const Reference<css::text::XTextCursor>& cursor) {
    return Reference<css::text::XTextRange>(cursor.get());
}

// The page style of the first page: the one at the start of the main text.
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

// Moves the insertion point to the start of a story.
void seek(WordDocument& document, int view) {
    Reference<css::text::XText> story;
    if (view == kSeekMainDocument) {
        story = document.text->getText();
    } else if (view == kSeekCurrentPageHeader || view == kSeekCurrentPageFooter ||
               view == kSeekPrimaryHeader || view == kSeekPrimaryFooter) {
        const bool header = view == kSeekCurrentPageHeader || view == kSeekPrimaryHeader;
        Reference<css::beans::XPropertySet> style = firstPageStyle(document);
        const char* onName = header ? "HeaderIsOn" : "FooterIsOn";
        if (!uno::propertyOf<bool>(style, onName))
            uno::setProperty(style, onName, Any(true));
        // The current page is the first one: its own header when the first
        // page has a different one.
        const int index =
            (view == kSeekCurrentPageHeader || view == kSeekCurrentPageFooter) ? 2 : 1;
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
        seek(document, kSeekMainDocument);
}

// Applies the pending font to the `count` UTF-16 units before the insertion point.
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

// `TypeText`: CR LF, CR or LF start a new paragraph, a vertical tab a new line.
void typeText(WordDocument& document, const std::string& text) {
    ensureInsertionPoint(document);
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

// Replaces hits in the main text only; each replaced hit keeps the
// formatting of its own first character. Returns how many were replaced.
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
            if (mode == kReplaceOne)
                break;
        }
    }
    const OUString with = toOUString(replacement);
    for (const auto& range : mainHits)
        range->setString(with);
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
        throw Error(server_errors::WordValueOutOfRange,
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

// ---------------------------------------------------------------- objects

// Objects that belong to the application.
class WordObject : public ServerObject {
public:
    explicit WordObject(StatePtr state) : ServerObject(state->session), state_(std::move(state)) {}

protected:
    long failureNumber() const override { return kCommandFailure; }
    StatePtr state_;
};

// Objects that belong to one document.
class DocumentObject : public WordObject {
public:
    DocumentObject(StatePtr state, DocumentPtr document)
        : WordObject(std::move(state)), document_(std::move(document)) {}

protected:
    std::string subject() const override { return document_->path.string(); }
    WordDocument& usable() {
        checkUsable(*state_, *document_);
        return *document_;
    }
    DocumentPtr document_;
};

template <class T, class... A> Value make(A&&... args) {
    return Value(Object(std::make_shared<T>(std::forward<A>(args)...)));
}

// A range: the main text (`Content`), a header or footer story, or a
// position (`Selection.Range`).
class WordRange : public DocumentObject {
public:
    enum class Kind { MainText, Story, Position };
    WordRange(StatePtr state, DocumentPtr document, Kind kind, bool header = false, int index = 1,
              Reference<css::text::XTextCursor> position = {})
        : DocumentObject(std::move(state), std::move(document)), kind_(kind), header_(header),
          index_(index), position_(std::move(position)) {}

    Kind kind() const { return kind_; }
    const Reference<css::text::XTextCursor>& position() const { return position_; }
    const DocumentPtr& document() const { return document_; }

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override;

private:
    Kind kind_;
    bool header_;
    int index_;
    Reference<css::text::XTextCursor> position_;
};

class WordFind : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (sameName(member, "Execute") && kind == CallKind::Method)
            return execute(args);
        if (sameName(member, "Text")) {
            if (kind == CallKind::Put) {
                text_ = newValue(args).toString();
                return {};
            }
            return Value(text_);
        }
        if (sameName(member, "MatchCase") || sameName(member, "MatchWholeWord")) {
            bool& setting =
                sameName(member, "MatchCase") ? state_->matchCase : state_->matchWholeWord;
            if (kind == CallKind::Put) {
                setting = newValue(args).toBool();
                return {};
            }
            return Value(setting);
        }
        if (sameName(member, "ClearFormatting") && kind == CallKind::Method)
            return {};
        unknownMember(member);
    }

private:
    Value execute(const Args& args) {
        const Arguments a(args, {"FindText", "MatchCase", "MatchWholeWord", "MatchWildcards",
                                 "MatchSoundsLike", "MatchAllWordForms", "Forward", "Wrap",
                                 "Format", "ReplaceWith", "Replace", "MatchKashida",
                                 "MatchDiacritics", "MatchAlefHamza", "MatchControl"});
        if (const Value* v = a.find("FindText"))
            text_ = v->toString();
        if (const Value* v = a.find("MatchCase"))
            state_->matchCase = v->toBool();
        if (const Value* v = a.find("MatchWholeWord"))
            state_->matchWholeWord = v->toBool();
        for (const char* unsupported : {"MatchWildcards", "MatchSoundsLike", "MatchAllWordForms"}) {
            if (const Value* v = a.find(unsupported); v && v->toBool())
                throw Error(automation::errors::InvalidArgument,
                            std::string("不支持按 ") + unsupported + " 查找。");
        }
        const int mode =
            a.has("Replace") ? static_cast<int>(a.find("Replace")->toInteger()) : kReplaceNone;
        if (mode != kReplaceNone && mode != kReplaceOne && mode != kReplaceAll)
            throw Error(automation::errors::InvalidArgument,
                        "Replace 参数 " + std::to_string(mode) + " 无效（应为 0、1 或 2）。");
        const std::string replacement =
            a.has("ReplaceWith") ? a.find("ReplaceWith")->toString() : "";

        WordDocument& document = usable();
        if (mode == kReplaceNone)
            return Value(
                findInMainText(document, text_, state_->matchCase, state_->matchWholeWord));
        return Value(replaceInMainText(document, text_, replacement, state_->matchCase,
                                       state_->matchWholeWord, mode) > 0);
    }

    std::string text_;
};

Value WordRange::dispatch(CallKind kind, std::string_view member, const Args&) {
    if (sameName(member, "Text") && kind != CallKind::Put) {
        WordDocument& document = usable();
        switch (kind_) {
        case Kind::MainText:
            return Value(wordText(document.text->getText()));
        case Kind::Story: {
            auto style = firstPageStyle(document);
            // A header or footer that is switched off has no text at all.
            if (!uno::propertyOf<bool>(style, header_ ? "HeaderIsOn" : "FooterIsOn"))
                return Value(std::string());
            Reference<css::text::XText> story(style->getPropertyValue(OUString::createFromAscii(
                                                  storyProperty(header_, index_, style))),
                                              uno::UNO_QUERY_THROW);
            return Value(wordText(story));
        }
        case Kind::Position:
            return Value(toUtf8(position_->getString()));
        }
    }
    if (sameName(member, "Find") && kind == CallKind::Get) {
        if (kind_ != Kind::MainText)
            throw Error(kCommandFailure, "只能在文档正文（Content）中查找。");
        return make<WordFind>(state_, document_);
    }
    unknownMember(member);
}

class WordFont : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        WordDocument& document = usable();
        ensureInsertionPoint(document);
        auto current = uno::must<css::beans::XPropertySet>(document.cursor);
        if (sameName(member, "Name")) {
            if (kind == CallKind::Put) {
                const std::string name = newValue(args).toString();
                if (!name.empty())
                    document.pending.name = name;
                return {};
            }
            if (document.pending.name)
                return Value(*document.pending.name);
            return Value(toUtf8(uno::propertyOf<OUString>(current, "CharFontName")));
        }
        if (sameName(member, "Size")) {
            if (kind == CallKind::Put) {
                document.pending.size = static_cast<float>(fontSizeFrom(newValue(args)));
                return {};
            }
            if (document.pending.size)
                return Value(static_cast<double>(*document.pending.size));
            return Value(static_cast<double>(uno::propertyOf<float>(current, "CharHeight")));
        }
        if (sameName(member, "Bold")) {
            if (kind == CallKind::Put) {
                const Value& v = newValue(args);
                bool bold;
                if (v.type() != Value::Type::Bool && v.toInteger() == 9999998) { // wdToggle
                    const bool now = document.pending.bold.value_or(
                        uno::propertyOf<float>(current, "CharWeight") >
                        css::awt::FontWeight::NORMAL);
                    bold = !now;
                } else {
                    bold = v.toBool();
                }
                document.pending.bold = bold;
                return {};
            }
            const bool bold = document.pending.bold.value_or(
                uno::propertyOf<float>(current, "CharWeight") > css::awt::FontWeight::NORMAL);
            return Value(bold ? -1 : 0);
        }
        unknownMember(member);
    }
};

class WordParagraphFormat : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (!sameName(member, "Alignment"))
            unknownMember(member);
        WordDocument& document = usable();
        ensureInsertionPoint(document);
        if (kind == CallKind::Put) {
            setAlignment(document, newValue(args).toInteger());
            return {};
        }
        return Value(alignmentOf(document));
    }
};

class WordField : public DocumentObject {
public:
    WordField(StatePtr state, DocumentPtr document, int type)
        : DocumentObject(std::move(state), std::move(document)), type_(type) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args&) override {
        if (sameName(member, "Type") && kind == CallKind::Get)
            return Value(type_);
        unknownMember(member);
    }

private:
    int type_;
};

class WordFields : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (!(sameName(member, "Add") && kind == CallKind::Method))
            unknownMember(member);
        const Arguments a(args, {"Range", "Type", "Text", "PreserveFormatting"});
        const Object rangeObject = a.required("Range").toObject();
        auto* range = dynamic_cast<WordRange*>(rangeObject.dispatch());
        if (!range || range->kind() != WordRange::Kind::Position || range->document() != document_)
            throw Error(automation::errors::TypeMismatch,
                        "Fields.Add 的 Range 参数必须是本文档的 Selection.Range。");
        const int type = a.has("Type") ? static_cast<int>(a.find("Type")->toInteger()) : -1;
        const char* service = nullptr;
        if (type == kFieldPage)
            service = "com.sun.star.text.TextField.PageNumber";
        else if (type == kFieldNumPages)
            service = "com.sun.star.text.TextField.PageCount";
        else
            throw Error(automation::errors::InvalidArgument,
                        "不支持域类型 " + std::to_string(type) + "（支持 26 总页数、33 页码）。");

        WordDocument& document = usable();
        ensureInsertionPoint(document);
        Reference<css::text::XTextContent> field(
            uno::must<css::lang::XMultiServiceFactory>(document.component)
                ->createInstance(OUString::createFromAscii(service)),
            uno::UNO_QUERY_THROW);
        auto settings = uno::must<css::beans::XPropertySet>(field);
        if (type == kFieldPage)
            uno::setProperty(settings, "SubType", Any(css::text::PageNumberType_CURRENT));
        uno::setProperty(settings, "NumberingType", Any(css::style::NumberingType::ARABIC));

        // At the insertion point the field is typed like text: the point
        // moves past it and the field takes the pending font.
        const Reference<css::text::XTextCursor>& at = range->position();
        bool atInsertionPoint = false;
        try {
            atInsertionPoint =
                uno::must<css::text::XTextRangeCompare>(document.story)
                    ->compareRegionStarts(rangeOf(document.cursor), rangeOf(at)) == 0;
        } catch (const css::lang::IllegalArgumentException&) {
            // In another story.
        }
        if (atInsertionPoint) {
            document.story->insertTextContent(rangeOf(document.cursor), field, false);
            applyPendingFont(document, 1);
        } else {
            at->getText()->insertTextContent(rangeOf(at), field, false);
        }
        return make<WordField>(state_, document_, type);
    }
};

class WordSelection : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (sameName(member, "Font") && kind == CallKind::Get)
            return make<WordFont>(state_, document_);
        if (sameName(member, "ParagraphFormat") && kind == CallKind::Get)
            return make<WordParagraphFormat>(state_, document_);
        if (sameName(member, "Fields") && kind == CallKind::Get)
            return make<WordFields>(state_, document_);
        if (sameName(member, "TypeText") && kind == CallKind::Method) {
            const Arguments a(args, {"Text"});
            typeText(usable(), a.required("Text").toString());
            return {};
        }
        if (sameName(member, "Range") && kind == CallKind::Get) {
            WordDocument& document = usable();
            ensureInsertionPoint(document);
            Reference<css::text::XTextCursor> copy =
                document.story->createTextCursorByRange(rangeOf(document.cursor));
            return make<WordRange>(state_, document_, WordRange::Kind::Position, false, 1, copy);
        }
        if (sameName(member, "Text") && kind == CallKind::Get) {
            WordDocument& document = usable();
            ensureInsertionPoint(document);
            return Value(toUtf8(document.cursor->getString()));
        }
        unknownMember(member);
    }
};

class WordView : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (sameName(member, "SeekView")) {
            WordDocument& document = usable();
            if (kind == CallKind::Put) {
                seek(document, static_cast<int>(newValue(args).toInteger()));
                return {};
            }
            return Value(document.seekView);
        }
        if (sameName(member, "Type")) {
            if (kind == CallKind::Put)
                return {};   // one kind of view only; nothing is shown
            return Value(3); // wdPrintView
        }
        unknownMember(member);
    }
};

// `ActiveWindow` and `ActiveWindow.ActivePane`: both lead to the view and
// the selection of their document.
class WordWindow : public DocumentObject {
public:
    WordWindow(StatePtr state, DocumentPtr document, bool pane)
        : DocumentObject(std::move(state), std::move(document)), pane_(pane) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args&) override {
        if (kind == CallKind::Get) {
            if (sameName(member, "View"))
                return make<WordView>(state_, document_);
            if (sameName(member, "ActivePane") && !pane_)
                return make<WordWindow>(state_, document_, true);
            if (sameName(member, "Selection"))
                return make<WordSelection>(state_, document_);
        }
        unknownMember(member);
    }

private:
    bool pane_;
};

class WordHeaderFooter : public DocumentObject {
public:
    WordHeaderFooter(StatePtr state, DocumentPtr document, bool header, int index)
        : DocumentObject(std::move(state), std::move(document)), header_(header), index_(index) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args&) override {
        if (sameName(member, "Range") && kind == CallKind::Get)
            return make<WordRange>(state_, document_, WordRange::Kind::Story, header_, index_);
        if (sameName(member, "Exists") && kind == CallKind::Get) {
            auto style = firstPageStyle(usable());
            if (!uno::propertyOf<bool>(style, header_ ? "HeaderIsOn" : "FooterIsOn"))
                return Value(false);
            if (index_ == 2)
                return Value(!boolProperty(style, "FirstIsShared", true));
            if (index_ == 3)
                return Value(
                    !boolProperty(style, header_ ? "HeaderIsShared" : "FooterIsShared", true));
            return Value(true);
        }
        unknownMember(member);
    }

private:
    bool header_;
    int index_;
};

int headerFooterIndex(const Value& v) {
    const auto index = v.toInteger();
    if (index < 1 || index > 3)
        throw Error(server_errors::WordNoSuchMember,
                    "页眉页脚编号 " + std::to_string(index) + " 不存在（应为 1、2 或 3）。");
    return static_cast<int>(index);
}

class WordHeadersFooters : public DocumentObject {
public:
    WordHeadersFooters(StatePtr state, DocumentPtr document, bool header)
        : DocumentObject(std::move(state), std::move(document)), header_(header) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Item")) &&
            args.positional.size() == 1)
            return make<WordHeaderFooter>(state_, document_, header_,
                                          headerFooterIndex(args.positional[0]));
        if (sameName(member, "Count") && kind == CallKind::Get)
            return Value(3);
        unknownMember(member);
    }

private:
    bool header_;
};

class WordSection : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get && (sameName(member, "Headers") || sameName(member, "Footers"))) {
            const bool header = sameName(member, "Headers");
            if (args.positional.size() == 1)
                return make<WordHeaderFooter>(state_, document_, header,
                                              headerFooterIndex(args.positional[0]));
            return make<WordHeadersFooters>(state_, document_, header);
        }
        unknownMember(member);
    }
};

// Only the first section is served: the header and footer writer uses it.
Value sectionAt(const StatePtr& state, const DocumentPtr& document, const Value& index) {
    if (index.toInteger() != 1)
        throw Error(server_errors::WordNoSuchMember,
                    "只支持第 1 节（Sections(1)），不支持 Sections(" + index.toString() + ")。");
    return make<WordSection>(state, document);
}

class WordSections : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Item")) &&
            args.positional.size() == 1)
            return sectionAt(state_, document_, args.positional[0]);
        if (sameName(member, "First") && kind == CallKind::Get)
            return make<WordSection>(state_, document_);
        unknownMember(member);
    }
};

class WordDocumentObject : public DocumentObject {
public:
    using DocumentObject::DocumentObject;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get) {
            if (sameName(member, "Content")) {
                usable();
                return make<WordRange>(state_, document_, WordRange::Kind::MainText);
            }
            if (sameName(member, "Sections")) {
                usable();
                if (args.positional.size() == 1)
                    return sectionAt(state_, document_, args.positional[0]);
                return make<WordSections>(state_, document_);
            }
            if (sameName(member, "ActiveWindow")) {
                usable();
                return make<WordWindow>(state_, document_, false);
            }
            if (member.empty() || sameName(member, "Name"))
                return Value(document_->name);
            if (sameName(member, "FullName"))
                return Value(document_->path.string());
            if (sameName(member, "Path"))
                return Value(document_->path.parent_path().string());
            if (sameName(member, "ReadOnly"))
                return Value(!document_->readOnlyReason.empty());
            if (sameName(member, "Saved"))
                return Value(!uno::must<css::util::XModifiable>(usable().component)->isModified());
        }
        if (kind == CallKind::Method) {
            if (sameName(member, "Activate")) {
                usable();
                state_->active = document_;
                return {};
            }
            if (sameName(member, "Save")) {
                saveDocument(*state_, *document_);
                return {};
            }
            if (sameName(member, "Close")) {
                const Arguments a(args, {"SaveChanges", "OriginalFormat", "RouteDocument"});
                checkNotQuit(*state_);
                if (!document_->open)
                    throw Error(5825, "文档" + inQuotes(document_->path) + "已经关闭。");
                closeDocument(*state_, document_, saveChangesArgument(a.find("SaveChanges")));
                return {};
            }
        }
        unknownMember(member);
    }
};

class WordDocuments : public WordObject {
public:
    using WordObject::WordObject;

    std::unique_ptr<automation::Enumeration> enumerate() override {
        checkNotQuit(*state_);
        dropLostDocuments(*state_);
        class Listing : public automation::Enumeration {
        public:
            explicit Listing(std::vector<Value> items) : items_(std::move(items)) {}
            std::optional<Value> next() override {
                if (next_ >= items_.size())
                    return std::nullopt;
                return items_[next_++];
            }

        private:
            std::vector<Value> items_;
            std::size_t next_ = 0;
        };
        std::vector<Value> items;
        for (const auto& d : state_->documents)
            items.push_back(make<WordDocumentObject>(state_, d));
        return std::make_unique<Listing>(std::move(items));
    }

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        checkNotQuit(*state_);
        if (sameName(member, "Open") && kind == CallKind::Method) {
            const Arguments a(args, {"FileName", "ConfirmConversions", "ReadOnly",
                                     "AddToRecentFiles", "PasswordDocument", "PasswordTemplate",
                                     "Revert", "WritePasswordDocument", "WritePasswordTemplate",
                                     "Format", "Encoding", "Visible", "OpenAndRepair",
                                     "DocumentDirection", "NoEncodingDialog", "XMLTransform"});
            const bool readOnly = a.has("ReadOnly") && a.find("ReadOnly")->toBool();
            return make<WordDocumentObject>(
                state_, openDocument(*state_, a.required("FileName").toString(), readOnly));
        }
        if (sameName(member, "Close") && kind == CallKind::Method) {
            const Arguments a(args, {"SaveChanges", "OriginalFormat", "RouteDocument"});
            const bool save = saveChangesArgument(a.find("SaveChanges"));
            dropLostDocuments(*state_);
            // Every open document; a failed save stops here and leaves that
            // document open.
            while (!state_->documents.empty())
                closeDocument(*state_, state_->documents.front(), save);
            return {};
        }
        if (sameName(member, "Count") && kind == CallKind::Get) {
            dropLostDocuments(*state_);
            return Value(static_cast<int>(state_->documents.size()));
        }
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Item")) &&
            args.positional.size() == 1) {
            dropLostDocuments(*state_);
            const Value& index = args.positional[0];
            if (index.type() == Value::Type::String) {
                for (const auto& d : state_->documents)
                    if (sameName(d->name, index.toString()) || d->path.string() == index.toString())
                        return make<WordDocumentObject>(state_, d);
            } else {
                const auto i = index.toInteger();
                if (i >= 1 && i <= static_cast<std::int64_t>(state_->documents.size()))
                    return make<WordDocumentObject>(state_, state_->documents[i - 1]);
            }
            throw Error(server_errors::WordNoSuchMember,
                        "集合中没有文档 " + index.toString() + "。");
        }
        unknownMember(member);
    }
};

class WordApplication : public WordObject, public ApplicationObject {
public:
    using WordObject::WordObject;
    ~WordApplication() override {
        try {
            // Under the watchdog: a hung office is ended, not waited for.
            Session::Call call(*state_->session);
            quitApplication(*state_, false);
        } catch (...) {
            // Released without Quit: the office ends in any case.
            state_->session->stop();
        }
    }
    int processGroup() const override { return state_->session->processGroup(); }

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        // Answered without the office, and after Quit as well.
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Name")))
            return Value(session_->installation().productName + " Writer");
        if (kind == CallKind::Get && sameName(member, "Version"))
            return Value(session_->installation().version);
        if (auto answer = answerApplicationSetting(kind, member, args, state_->settings))
            return *answer;
        if (sameName(member, "Quit") && kind == CallKind::Method) {
            const Arguments a(args, {"SaveChanges", "OriginalFormat", "RouteDocument"});
            quitApplication(*state_, saveChangesArgument(a.find("SaveChanges")));
            return {};
        }
        checkNotQuit(*state_);
        if (kind == CallKind::Get) {
            if (sameName(member, "Documents"))
                return make<WordDocuments>(state_);
            if (sameName(member, "ActiveDocument"))
                return make<WordDocumentObject>(state_, activeDocument(*state_));
            if (sameName(member, "Selection"))
                return make<WordSelection>(state_, activeDocument(*state_));
            if (sameName(member, "ActiveWindow"))
                return make<WordWindow>(state_, activeDocument(*state_), false);
        }
        unknownMember(member);
    }
};

} // namespace

Object newWordApplication(std::shared_ptr<Session> session) {
    auto state = std::make_shared<WordState>();
    state->session = std::move(session);
    return Object(std::make_shared<WordApplication>(state));
}

} // namespace libreoffice
