#include "core/engines/builtin_word.h"

#include "core/formats/ooxml_package.h"
#include "core/formats/search_text.h"
#include "core/formats/xml_events.h"
#include "core/formats/zip_package.h"
#include "core/text/encoding.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <new>

namespace engines {

namespace {

using formats::XmlEndTag;
using formats::XmlStartTag;
using formats::XmlText;
using formats::ooxml::kMarkupCompatibilityNs;
using formats::ooxml::kMathNs;
using formats::ooxml::kWordNs;

constexpr std::string_view kXmlNs = "http://www.w3.org/XML/1998/namespace";

// Why a document is left to the office; thrown anywhere in the engine and
// caught once, before anything is written.
struct Declined {
    std::string reason;
};

[[noreturn]] void decline(const std::string& why) {
    throw Declined{why + "，要由办公软件处理（不限定引擎再试）。"};
}

// Valid UTF-8 (as Expat delivers it, or checked before) to code points with
// their byte ranges.
template <typename Emit> void forEachCodePoint(std::string_view s, Emit&& emit) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (std::size_t k = 1; k <= extra && i + k < s.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        const std::size_t end = std::min(s.size(), i + extra + 1);
        emit(c, i, end);
        i = end;
    }
}

bool validUtf8(std::string_view s) {
    std::u32string ignored;
    return text::decodeUtf8(s, ignored);
}

// ---------------------------------------------------------------- the main text

// What makes a character one whose replacement we leave to the office.
enum Flag : std::uint8_t {
    FieldCode = 1,
    FieldResult = 2,
    Deleted = 4,   // tracked deletion
    Tracked = 8,   // tracked insertion or formatting change
    Control = 16,  // content control
    Hidden = 32,   // hidden text
    Doubtful = 64, // ruby, whitespace the office may read otherwise, unknown content
};

struct Item {
    // A character; a place where the office may hold something we do not
    // read as text (a picture, a symbol, a field's mark); a tab or break.
    enum class Kind : std::uint8_t { Char, Gap, Break };
    Kind kind = Kind::Char;
    std::uint8_t flags = 0;
    char32_t c = 0;
    // The text element holding the character, and its bytes in the
    // element's decoded text; -1 for characters we never change.
    std::int32_t element = -1;
    std::uint32_t begin = 0, end = 0;
};

struct Paragraph {
    std::vector<Item> items;
    std::uint8_t markFlags = 0; // for every character of the paragraph
};

// A `w:t`: where its start tag and content stand in the part, and its text.
struct TextElement {
    std::size_t tagOffset = 0, tagLength = 0;
    std::size_t contentBegin = 0, contentEnd = 0;
    bool preserve = false;
    bool spaceAttribute = false;
    std::string text;
};

struct MainText {
    std::vector<Paragraph> paragraphs;
    // Text we do not know how the office reads; any match in it declines.
    Paragraph doubtful;
    std::vector<TextElement> elements;
};

enum class Kind {
    Other,
    Body,
    P,
    R,
    T,
    DelText,
    InstrText,
    DelInstrText,
    Break,
    FldChar,
    FldSimple,
    PPr,
    RPr,
    Del,
    Ins,
    Sdt,
    Ruby,
    Container,
    Ignored,
    GapOnly,
    Excluded, // properties, and content outside the main text (text boxes, pictures)
    ExcludedGap,
    Refused,
};

Kind wordKind(std::string_view local) {
    static const std::map<std::string_view, Kind> kKinds{
        {"body", Kind::Body},
        {"p", Kind::P},
        {"r", Kind::R},
        {"t", Kind::T},
        {"delText", Kind::DelText},
        {"instrText", Kind::InstrText},
        {"delInstrText", Kind::DelInstrText},
        {"tab", Kind::Break},
        {"br", Kind::Break},
        {"cr", Kind::Break},
        {"ptab", Kind::Break},
        {"fldChar", Kind::FldChar},
        {"fldSimple", Kind::FldSimple},
        {"pPr", Kind::PPr},
        {"rPr", Kind::RPr},
        {"del", Kind::Del},
        {"moveFrom", Kind::Del},
        {"ins", Kind::Ins},
        {"moveTo", Kind::Ins},
        {"sdt", Kind::Sdt},
        {"ruby", Kind::Ruby},
        {"tbl", Kind::Container},
        {"tr", Kind::Container},
        {"tc", Kind::Container},
        {"hyperlink", Kind::Container},
        {"smartTag", Kind::Container},
        {"customXml", Kind::Container},
        {"sdtContent", Kind::Container},
        {"dir", Kind::Container},
        {"bdo", Kind::Container},
        {"rt", Kind::Container},
        {"rubyBase", Kind::Container},
        {"bookmarkStart", Kind::Ignored},
        {"bookmarkEnd", Kind::Ignored},
        {"proofErr", Kind::Ignored},
        {"permStart", Kind::Ignored},
        {"permEnd", Kind::Ignored},
        {"lastRenderedPageBreak", Kind::Ignored},
        {"moveFromRangeStart", Kind::Ignored},
        {"moveFromRangeEnd", Kind::Ignored},
        {"moveToRangeStart", Kind::Ignored},
        {"moveToRangeEnd", Kind::Ignored},
        {"sym", Kind::GapOnly},
        {"noBreakHyphen", Kind::GapOnly},
        {"softHyphen", Kind::GapOnly},
        {"footnoteReference", Kind::GapOnly},
        {"endnoteReference", Kind::GapOnly},
        {"commentReference", Kind::GapOnly},
        {"commentRangeStart", Kind::GapOnly},
        {"commentRangeEnd", Kind::GapOnly},
        {"annotationRef", Kind::GapOnly},
        {"footnoteRef", Kind::GapOnly},
        {"endnoteRef", Kind::GapOnly},
        {"separator", Kind::GapOnly},
        {"continuationSeparator", Kind::GapOnly},
        {"pgNum", Kind::GapOnly},
        {"dayShort", Kind::GapOnly},
        {"dayLong", Kind::GapOnly},
        {"monthShort", Kind::GapOnly},
        {"monthLong", Kind::GapOnly},
        {"yearShort", Kind::GapOnly},
        {"yearLong", Kind::GapOnly},
        {"contentPart", Kind::GapOnly},
        {"sectPr", Kind::Excluded},
        {"tblPr", Kind::Excluded},
        {"tblGrid", Kind::Excluded},
        {"tblPrEx", Kind::Excluded},
        {"trPr", Kind::Excluded},
        {"tcPr", Kind::Excluded},
        {"sdtPr", Kind::Excluded},
        {"sdtEndPr", Kind::Excluded},
        {"smartTagPr", Kind::Excluded},
        {"customXmlPr", Kind::Excluded},
        {"rubyPr", Kind::Excluded},
        {"fldData", Kind::Excluded},
        {"txbxContent", Kind::Excluded},
        {"drawing", Kind::ExcludedGap},
        {"pict", Kind::ExcludedGap},
        {"object", Kind::ExcludedGap},
        {"altChunk", Kind::Refused},
        {"subDoc", Kind::Refused},
    };
    const auto it = kKinds.find(local);
    return it == kKinds.end() ? Kind::Other : it->second;
}

Kind kindOf(const formats::XmlName& name) {
    if (name.uri == kWordNs)
        return wordKind(name.local);
    // Alternate content: the office reads one of its choices. Text boxes in
    // it stay outside the main text; any other text in it is a doubt.
    if (name.uri == kMarkupCompatibilityNs && name.local == "AlternateContent")
        return Kind::Other;
    if (name.uri == kMathNs)
        return Kind::ExcludedGap;
    return Kind::Other;
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Reads the main text of a document part into paragraphs of items.
class MainTextReader : public formats::XmlEvents {
public:
    explicit MainTextReader(MainText& text) : text_(text) {}

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kWordNs, "document"))
            decline("文档的正文部件不是可识别的 Word 文档");
        const Kind kind = kindOf(tag.name);
        inspectProperty(tag);
        stack_.push_back(kind);
        if (excludedFrom_ != kNone)
            return;
        if (!inBody_) {
            inBody_ = kind == Kind::Body;
            return;
        }
        switch (kind) {
        case Kind::Refused:
            decline("文档嵌入了其他文档的内容");
        case Kind::P:
            if (unknownFrom_ == kNone) {
                text_.paragraphs.emplace_back();
                if (markChangedBefore_)
                    text_.paragraphs.back().markFlags |= Tracked;
                markChangedBefore_ = false;
                open_.push_back(text_.paragraphs.size() - 1);
            }
            break;
        case Kind::R:
            runFlags_ = 0;
            break;
        case Kind::T:
        case Kind::DelText:
        case Kind::InstrText:
        case Kind::DelInstrText:
            startText(tag, kind);
            break;
        case Kind::Break: {
            // A tab or line break is a character of the office's text that
            // no find text holds; a positional tab, a page or column break
            // may be none at all.
            const auto type = tag.attribute(kWordNs, "type");
            if (tag.name.local == "ptab" || (type && *type != "textWrapping"))
                gap();
            else
                add({Item::Kind::Break, flagsNow(), 0});
            break;
        }
        case Kind::FldChar:
            gap();
            if (const auto type = tag.attribute(kWordNs, "fldCharType")) {
                if (*type == "begin")
                    fields_.push_back(false);
                else if (*type == "separate" && !fields_.empty())
                    fields_.back() = true;
                else if (*type == "end" && !fields_.empty())
                    fields_.pop_back();
            }
            break;
        case Kind::FldSimple:
            gap();
            fields_.push_back(false);
            if (const auto instruction = tag.attribute(kWordNs, "instr"))
                emit(*instruction, flagsNow(), -1);
            gap();
            fields_.back() = true;
            break;
        case Kind::Del:
            ++deleted_;
            break;
        case Kind::Ins:
            ++inserted_;
            break;
        case Kind::Sdt:
            gap();
            ++controls_;
            break;
        case Kind::Ruby:
            gap();
            ++ruby_;
            break;
        case Kind::GapOnly:
        case Kind::ExcludedGap:
            gap();
            excludedFrom_ = tag.depth;
            break;
        case Kind::Excluded:
        case Kind::PPr:
        case Kind::RPr:
            excludedFrom_ = tag.depth;
            break;
        case Kind::Other:
            gap();
            if (unknownFrom_ == kNone)
                unknownFrom_ = tag.depth;
            break;
        default:
            break;
        }
    }

    void endElement(const XmlEndTag& tag) override {
        const Kind kind = stack_.back();
        stack_.pop_back();
        if (excludedFrom_ != kNone) {
            if (excludedFrom_ == tag.depth)
                excludedFrom_ = kNone;
            return;
        }
        if (!inBody_)
            return;
        switch (kind) {
        case Kind::Body:
            inBody_ = false;
            break;
        case Kind::P:
            if (unknownFrom_ == kNone && !open_.empty()) {
                // A tracked change of the paragraph mark joins or splits
                // paragraphs: neither side is ours.
                if (text_.paragraphs[open_.back()].markFlags & Tracked)
                    markChangedBefore_ = true;
                open_.pop_back();
            }
            break;
        case Kind::T:
        case Kind::DelText:
        case Kind::InstrText:
        case Kind::DelInstrText:
            endText(tag);
            break;
        case Kind::R:
            runFlags_ = 0;
            break;
        case Kind::FldSimple:
            if (!fields_.empty())
                fields_.pop_back();
            gap();
            break;
        case Kind::Del:
            --deleted_;
            break;
        case Kind::Ins:
            --inserted_;
            break;
        case Kind::Sdt:
            --controls_;
            gap();
            break;
        case Kind::Ruby:
            --ruby_;
            gap();
            break;
        default:
            break;
        }
        if (unknownFrom_ == tag.depth)
            unknownFrom_ = kNone;
    }

    void characters(const XmlText& t) override {
        if (collecting_ && excludedFrom_ == kNone)
            collected_ += t.text;
    }

private:
    // Run and paragraph properties that change what the office shows.
    void inspectProperty(const XmlStartTag& tag) {
        if (stack_.size() < 2 || tag.name.uri != kWordNs || !inBody_)
            return;
        const Kind parent = stack_.back(), grandparent = stack_[stack_.size() - 2];
        const std::string_view n = tag.name.local;
        if (parent == Kind::RPr && grandparent == Kind::R) {
            if (n == "vanish" || n == "specVanish" || n == "webHidden")
                runFlags_ |= Hidden;
            else if (n == "rPrChange")
                runFlags_ |= Tracked;
        } else if (parent == Kind::RPr && grandparent == Kind::PPr) {
            if ((n == "ins" || n == "del" || n == "moveFrom" || n == "moveTo") && !open_.empty())
                text_.paragraphs[open_.back()].markFlags |= Tracked;
        } else if (parent == Kind::PPr && n == "pPrChange" && !open_.empty()) {
            text_.paragraphs[open_.back()].markFlags |= Tracked;
        }
    }

    std::uint8_t flagsNow() const {
        std::uint8_t flags = runFlags_;
        for (const bool result : fields_)
            flags |= result ? FieldResult : FieldCode;
        if (deleted_ > 0)
            flags |= Deleted;
        if (inserted_ > 0)
            flags |= Tracked;
        if (controls_ > 0)
            flags |= Control;
        if (ruby_ > 0 || unknownFrom_ != kNone)
            flags |= Doubtful;
        return flags;
    }

    Paragraph& target() {
        if (unknownFrom_ != kNone || open_.empty())
            return text_.doubtful;
        return text_.paragraphs[open_.back()];
    }

    void add(const Item& item) { target().items.push_back(item); }
    void gap() { add({Item::Kind::Gap, 0, 0}); }

    void emit(std::string_view s, std::uint8_t flags, std::int32_t element) {
        Paragraph& p = target();
        forEachCodePoint(s, [&](char32_t c, std::size_t b, std::size_t e) {
            p.items.push_back({Item::Kind::Char, flags, c, element, static_cast<std::uint32_t>(b),
                               static_cast<std::uint32_t>(e)});
        });
    }

    void startText(const XmlStartTag& tag, Kind kind) {
        collecting_ = true;
        collected_.clear();
        textKind_ = kind;
        if (kind != Kind::T)
            return;
        TextElement e;
        e.tagOffset = tag.offset;
        e.tagLength = tag.length;
        e.contentBegin = tag.offset + tag.length;
        const auto space = tag.attribute(kXmlNs, "space");
        e.spaceAttribute = space.has_value();
        e.preserve = space == std::optional<std::string_view>("preserve");
        element_ = std::move(e);
    }

    void endText(const XmlEndTag& tag) {
        collecting_ = false;
        std::uint8_t flags = flagsNow();
        if (textKind_ == Kind::DelText)
            flags |= Deleted;
        else if (textKind_ == Kind::InstrText)
            flags |= FieldCode;
        else if (textKind_ == Kind::DelInstrText)
            flags |= FieldCode | Deleted;
        std::int32_t element = -1;
        if (textKind_ == Kind::T) {
            // Whitespace the office may drop or read otherwise.
            if (collected_.find_first_of("\t\r\n") != std::string::npos ||
                (!element_.preserve && !collected_.empty() &&
                 (collected_.front() == ' ' || collected_.back() == ' ')))
                flags |= Doubtful;
            if (tag.length > 0 && !collected_.empty()) {
                element_.contentEnd = tag.offset;
                element_.text = collected_;
                text_.elements.push_back(std::move(element_));
                element = static_cast<std::int32_t>(text_.elements.size() - 1);
            }
        }
        emit(collected_, flags, element);
    }

    MainText& text_;
    std::vector<Kind> stack_;
    std::vector<std::size_t> open_;
    std::vector<bool> fields_; // open fields: in their result (true) or code
    std::size_t excludedFrom_ = kNone, unknownFrom_ = kNone;
    int deleted_ = 0, inserted_ = 0, controls_ = 0, ruby_ = 0;
    std::uint8_t runFlags_ = 0;
    bool inBody_ = false;
    bool markChangedBefore_ = false;
    bool collecting_ = false;
    Kind textKind_ = Kind::T;
    std::string collected_;
    TextElement element_;
};

MainText readMainText(std::string_view xml) {
    MainText text;
    MainTextReader reader(text);
    const formats::XmlResult result = formats::parseXml(xml, reader);
    if (!result.complete())
        decline("文档的正文部件不是完整的 XML，可能已损坏");
    return text;
}

// ---------------------------------------------------------------- matching

struct Pattern {
    formats::SearchPattern search;
    std::u32string chars;
};

// A match: the items from `first` to `last` of one paragraph.
struct Match {
    const Paragraph* paragraph;
    std::size_t first, last;
};

bool sameLetter(char32_t a, char32_t b) {
    const auto fold = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    return fold(a) == fold(b);
}

[[noreturn]] void declineFor(std::uint8_t flags) {
    if (flags & (FieldCode | FieldResult))
        decline("要替换的文字涉及域（域代码或域结果）");
    if (flags & (Deleted | Tracked))
        decline("要替换的文字涉及修订（跟踪的插入、删除或格式更改）");
    if (flags & Control)
        decline("要替换的文字在内容控件中");
    if (flags & Hidden)
        decline("要替换的文字涉及隐藏文字");
    decline("要替换的文字涉及无法确定办公软件如何处理的内容（注音、特殊空白或未识别的元素）");
}

// The office searches the paragraph's text as it shows it: field codes or
// results, deleted text or not, each maybe. We look at every such view: a
// match in any of them that touches anything but plain text declines, and
// so does one that the office might see other than we do (letters equal to
// it but not to us). What is left is the plain text, the same in every view;
// its matches, leftmost first and not overlapping, are the office's.
void matchParagraph(const Paragraph& p, const Pattern& pattern, std::vector<Match>& matches) {
    std::uint8_t all = p.markFlags;
    for (const Item& item : p.items)
        all |= item.flags;
    const bool varies = (all & (FieldCode | FieldResult | Deleted)) != 0;
    const std::u32string& needle = pattern.search.form();

    std::vector<std::size_t> chars, gapsBefore, formBegin;
    std::vector<std::size_t> owner;
    std::u32string form;
    constexpr unsigned kCanonical = 2; // results shown, codes and deletions not
    for (unsigned view = 0; view < 8; ++view) {
        if (!varies && view != kCanonical)
            continue;
        const std::uint8_t hide = ((view & 1) ? 0 : FieldCode) | ((view & 2) ? 0 : FieldResult) |
                                  ((view & 4) ? 0 : Deleted);
        chars.clear();
        gapsBefore.clear();
        formBegin.clear();
        owner.clear();
        form.clear();
        std::size_t gaps = 0;
        for (std::size_t i = 0; i < p.items.size(); ++i) {
            const Item& item = p.items[i];
            if (item.kind == Item::Kind::Gap || (item.flags & hide)) {
                ++gaps;
                continue;
            }
            chars.push_back(i);
            gapsBefore.push_back(gaps);
            formBegin.push_back(form.size());
            if (item.kind == Item::Kind::Break)
                form.push_back(formats::kSearchBreak);
            else
                formats::appendSearchForm(item.c, form);
            owner.resize(form.size(), chars.size() - 1);
        }
        formBegin.push_back(form.size());
        std::size_t taken = 0;
        for (std::size_t s = form.find(needle); s != std::u32string::npos;
             s = form.find(needle, s + 1)) {
            const std::size_t e = s + needle.size();
            const std::size_t k1 = owner[s], k2 = owner[e - 1];
            // Part of a character's form, a character the office may skip
            // right after the match: the office may see it otherwise.
            if (formBegin[k1] != s || formBegin[k2 + 1] != e ||
                (k2 + 1 < chars.size() && formBegin[k2 + 2] == formBegin[k2 + 1]))
                decline("要替换的文字附近有办公软件可能另作匹配的字符（如变音符号）");
            if (gapsBefore[k2] != gapsBefore[k1])
                decline("要替换的文字跨越了图片、符号、批注、域标记等特殊内容");
            std::uint8_t flags = p.markFlags;
            for (std::size_t k = k1; k <= k2; ++k)
                flags |= p.items[chars[k]].flags;
            if (flags)
                declineFor(flags);
            if (view != kCanonical || s < taken)
                continue;
            if (k2 - k1 + 1 != pattern.chars.size())
                decline("文中的写法与查找文字不完全相同（全半角、变音符号或其他写法），办公软件可能"
                        "也会替换");
            for (std::size_t k = k1; k <= k2; ++k) {
                const Item& item = p.items[chars[k]];
                if (item.kind != Item::Kind::Char || item.element < 0 ||
                    !sameLetter(item.c, pattern.chars[k - k1]))
                    decline("文中的写法与查找文字不完全相同（全半角、变音符号或其他写法），办公软件"
                            "可能也会替换");
            }
            matches.push_back({&p, chars[k1], chars[k2]});
            taken = e;
        }
    }
}

// ---------------------------------------------------------------- editing

// The part with every match replaced: the new text goes into the text
// element of the match's first character, the rest of the match is removed
// from the elements that hold it. Only those elements' contents (and, where
// needed, their start tags) change.
std::string applyMatches(std::string_view xml, const MainText& text,
                         const std::vector<Match>& matches, const std::string& replacement) {
    struct Cut {
        std::uint32_t begin, end;
        bool insert;
    };
    std::map<std::int32_t, std::vector<Cut>> cuts;
    for (const Match& m : matches) {
        bool first = true;
        for (std::size_t i = m.first; i <= m.last; ++i) {
            const Item& item = m.paragraph->items[i];
            std::vector<Cut>& list = cuts[item.element];
            if (i > m.first && m.paragraph->items[i - 1].element == item.element) {
                list.back().end = item.end;
                continue;
            }
            list.push_back({item.begin, item.end, first});
            first = false;
        }
    }
    struct Edit {
        std::size_t offset, length;
        std::string bytes;
    };
    std::vector<Edit> edits;
    for (const auto& [index, list] : cuts) {
        const TextElement& element = text.elements[static_cast<std::size_t>(index)];
        std::string updated;
        std::size_t at = 0;
        for (const Cut& cut : list) {
            updated.append(element.text, at, cut.begin - at);
            if (cut.insert)
                updated += replacement;
            at = cut.end;
        }
        updated.append(element.text, at);
        if (!element.preserve && updated.find(' ') != std::string::npos) {
            if (element.spaceAttribute || element.tagLength < 2 ||
                xml[element.tagOffset + element.tagLength - 1] != '>' ||
                xml[element.tagOffset + element.tagLength - 2] == '/')
                decline("文中的空白无法照原样保存");
            edits.push_back(
                {element.tagOffset + element.tagLength - 1, 0, " xml:space=\"preserve\""});
        }
        edits.push_back({element.contentBegin, element.contentEnd - element.contentBegin,
                         text::xmlEscaped(updated)});
    }
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
    std::string out;
    out.reserve(xml.size() + replacement.size() * matches.size() + 64);
    std::size_t at = 0;
    for (const Edit& edit : edits) {
        out.append(xml.substr(at, edit.offset - at));
        out += edit.bytes;
        at = edit.offset + edit.length;
    }
    out.append(xml.substr(at));
    return out;
}

// ---------------------------------------------------------------- the package

// Settings under which the office would record or refuse the change.
class SettingsReader : public formats::XmlEvents {
public:
    void startElement(const XmlStartTag& tag) override {
        if (tag.depth != 1 || tag.name.uri != kWordNs)
            return;
        const auto on = [&](std::string_view name) {
            const auto v = tag.attribute(kWordNs, name);
            return v && (*v == "1" || *v == "true" || *v == "on");
        };
        const auto val = tag.attribute(kWordNs, "val");
        const bool set = !val || (*val != "0" && *val != "false" && *val != "off");
        if (tag.name.local == "trackRevisions" && set)
            decline("文档开着修订跟踪，办公软件会把替换记为修订");
        if ((tag.name.local == "documentProtection" || tag.name.local == "writeProtection") &&
            on("enforcement"))
            decline("文档设有编辑限制");
    }
};

void checkDocumentParts(const formats::ZipPackage& package, const std::string& mainPart) {
    using formats::ooxml::relationshipType;
    for (const auto& r : formats::ooxml::readRelationships(package, mainPart)) {
        if (r.external)
            continue;
        if (r.type == relationshipType("settings")) {
            const auto xml = package.read(r.partName);
            SettingsReader settings;
            if (xml && !formats::parseXml(*xml, settings).complete())
                decline("文档的设置部件已损坏");
        } else if (r.type == relationshipType("styles")) {
            const auto xml = package.read(r.partName);
            if (xml && (xml->find("vanish") != std::string::npos ||
                        xml->find("Vanish") != std::string::npos))
                decline("文档的样式含有隐藏文字");
        }
    }
}

Pattern patternOf(const ReplacePair& pair) {
    const std::string& find = pair.find;
    if (find.empty())
        decline("查找文字为空");
    if (find.find('^') != std::string::npos)
        decline("查找文字含有办公软件的特殊代码（^）");
    if (find.find_first_of("\t\r\n\v\f") != std::string::npos)
        decline("查找文字含有换行或制表符");
    auto search = formats::SearchPattern::make(find);
    if (!search || search->form().empty())
        decline("查找文字含有无法确定匹配方式的字符");
    const std::string& with = pair.replacement;
    if (with.find('^') != std::string::npos)
        decline("替换文字含有办公软件的特殊代码（^）");
    if (!validUtf8(with))
        decline("替换文字不是有效的文字");
    forEachCodePoint(with, [&](char32_t c, std::size_t, std::size_t) {
        // Controls, and separators the office may take as a new line or paragraph.
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029 || c == 0xFFFE ||
            c == 0xFFFF)
            decline("替换文字含有换行、制表符或控制字符");
    });
    Pattern pattern{std::move(*search), {}};
    forEachCodePoint(find, [&](char32_t c, std::size_t, std::size_t) { pattern.chars += c; });
    return pattern;
}

std::string packageProblem(const formats::ZipError& e) {
    using K = formats::ZipError::Kind;
    switch (e.kind) {
    case K::NotAPackage:
        return "文件不是有效的 Word 文档（找不到 zip 目录）";
    case K::Damaged:
        return "文件已损坏或不完整（zip 结构或压缩数据有误）";
    case K::Encrypted:
        return "文件已加密（设有打开密码）";
    case K::Unsupported:
        return "文件使用了不支持的 zip 格式（分卷或特殊压缩方式）";
    case K::TooLarge:
        return "文件中的内容太大，超出内置引擎可处理的上限";
    }
    return "文件无法读取";
}

} // namespace

bool WordPackageEngine::handles(Operation operation, std::string_view fileName) const {
    if (operation != Operation::WordReplace || fileName.size() < 5)
        return false;
    std::string ext(fileName.substr(fileName.size() - 5));
    for (char& c : ext)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return ext == ".docx" || ext == ".docm";
}

BuiltinResult WordPackageEngine::replace(Operation, std::string_view content,
                                         const std::vector<ReplacePair>& pairs) const {
    BuiltinResult result;
    try {
        std::vector<Pattern> patterns;
        for (const ReplacePair& pair : pairs)
            patterns.push_back(patternOf(pair));
        const formats::ZipPackage package(content);
        const formats::ooxml::MainPart main = formats::ooxml::mainPart(package);
        if (main.strict)
            decline("文档使用严格（Strict）格式");
        const formats::ZipEntry* entry = package.find(main.partName);
        std::string xml = package.read(*entry);
        MainText text = readMainText(xml);
        BuiltinResult::Part part;
        bool checked = false, stale = false;
        std::vector<Match> matches;
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            // The part is read again only when a later pair needs it.
            if (stale)
                text = readMainText(xml);
            stale = false;
            matches.clear();
            matchParagraph(text.doubtful, patterns[k], matches);
            if (!matches.empty())
                declineFor(Doubtful);
            for (const Paragraph& p : text.paragraphs)
                matchParagraph(p, patterns[k], matches);
            if (matches.empty())
                continue;
            if (!checked)
                checkDocumentParts(package, main.partName);
            checked = true;
            xml = applyMatches(xml, text, matches, pairs[k].replacement);
            stale = true;
            part.replaced = true;
            part.pairsReplaced.push_back(k);
        }
        if (part.replaced)
            result.newContent = package.rewrite({{entry->index, xml}});
        result.parts.push_back(std::move(part));
        result.done = true;
    } catch (const Declined& d) {
        result = {};
        result.reason = d.reason;
    } catch (const formats::ZipError& e) {
        result = {};
        result.reason =
            packageProblem(e) + "，内置引擎不处理，要由办公软件处理（不限定引擎再试）。";
    } catch (const formats::FormatError&) {
        result = {};
        result.reason =
            "文件的结构无法识别（不是完整的 Word 文档），要由办公软件处理（不限定引擎再试）。";
    } catch (const std::bad_alloc&) {
        result = {};
        result.reason = "文档太大，内置引擎内存不足，要由办公软件处理（不限定引擎再试）。";
    }
    return result;
}

} // namespace engines
