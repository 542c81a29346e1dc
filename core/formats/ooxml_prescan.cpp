#include "core/formats/ooxml_prescan.h"

#include "core/formats/ooxml_package.h"
#include "core/formats/xml_events.h"
#include "core/text/encoding.h"

#include <array>
#include <unordered_map>

namespace formats {

namespace {

using ooxml::kMarkupCompatibilityNs;
using ooxml::kMathNs;
using ooxml::kSpreadsheetNs;
using ooxml::kWordNs;

constexpr std::string_view kXmlNs = "http://www.w3.org/XML/1998/namespace";

// Reads the part and sends its events; a part that is not complete (other
// than stopped by the receiver) is a doubt.
void parsePart(const ZipPackage& package, const std::string& partName, XmlEvents& events) {
    const auto xml = package.read(partName);
    if (!xml)
        throw FormatError("no part " + partName);
    const XmlResult result = parseXml(*xml, events);
    if (result.outcome != XmlResult::Outcome::Complete &&
        result.outcome != XmlResult::Outcome::Stopped)
        throw FormatError(partName + ": " + result.message);
}

// Valid UTF-8 (as Expat delivers it) to code points.
template <typename Emit> void forEachCodePoint(std::string_view s, Emit&& emit) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < s.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        emit(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
}

// ---------------------------------------------------------------- Word

// The main text seen several ways at once: field codes shown or results
// shown (or both, as stored), deleted text shown or not. A pattern found in
// any view may be found by the office.
class MainTextViews {
public:
    explicit MainTextViews(const std::vector<SearchPattern>& patterns) {
        for (const SearchPattern& p : patterns)
            for (std::size_t v = 0; v < kViews.size(); ++v)
                matchers_.emplace_back(p);
    }

    bool found() const { return found_; }

    void fieldBegin() {
        inResult_.push_back(false);
        ++hiddenByCode_;
    }
    void fieldSeparate() {
        if (!inResult_.empty() && !inResult_.back()) {
            inResult_.back() = true;
            --hiddenByCode_;
            ++hiddenByResult_;
        }
    }
    void fieldEnd() {
        if (inResult_.empty())
            return;
        if (inResult_.back())
            --hiddenByResult_;
        else
            --hiddenByCode_;
        inResult_.pop_back();
    }

    void character(char32_t c, bool deleted) {
        // Printable ASCII and CJK ideographs are their own form (ASCII
        // letters in upper case).
        const bool simple = (c >= 0x20 && c < 0x7F) || (c >= 0x4E00 && c <= 0x9FFF);
        if (simple) {
            form_.assign(1, c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        } else {
            form_.clear();
            appendSearchForm(c, form_);
            if (form_.empty())
                return;
        }
        const bool everywhere = !deleted && hiddenByCode_ == 0 && hiddenByResult_ == 0;
        if (uniform_ && everywhere) {
            // Until the views first differ, one matcher per pattern stands
            // for all of them.
            for (std::size_t m = 0; m < matchers_.size(); m += kViews.size()) {
                matchers_[m].feed(form_);
                found_ = found_ || matchers_[m].found();
            }
            return;
        }
        if (uniform_) {
            std::vector<SearchPattern::Matcher> copies;
            for (std::size_t m = 0; m < matchers_.size(); ++m)
                copies.push_back(matchers_[m - m % kViews.size()]);
            matchers_.swap(copies);
            uniform_ = false;
        }
        for (std::size_t v = 0; v < kViews.size(); ++v) {
            const View& view = kViews[v];
            if ((!view.codes && hiddenByCode_ > 0) || (!view.results && hiddenByResult_ > 0) ||
                (!view.deleted && deleted))
                continue;
            for (std::size_t m = v; m < matchers_.size(); m += kViews.size()) {
                matchers_[m].feed(form_);
                found_ = found_ || matchers_[m].found();
            }
        }
    }

private:
    struct View {
        bool codes, results, deleted;
    };
    static constexpr std::array<View, 6> kViews{{{true, true, false},
                                                 {true, true, true},
                                                 {false, true, false},
                                                 {false, true, true},
                                                 {true, false, false},
                                                 {true, false, true}}};
    std::vector<SearchPattern::Matcher> matchers_;
    std::vector<bool> inResult_;
    std::size_t hiddenByCode_ = 0, hiddenByResult_ = 0;
    std::u32string form_;
    bool uniform_ = true;
    bool found_ = false;
};

// The elements of the Word namespace the main text depends on.
enum class W {
    Other,
    Body,
    P,
    PPr,
    RPr,
    R,
    T,
    DelText,
    InstrText,
    DelInstrText,
    Tab,
    Br,
    Cr,
    PTab,
    NoBreakHyphen,
    SoftHyphen,
    Sym,
    FldChar,
    FldSimple,
    Del,
    MoveFrom,
    Tc,
    Tr,
    TxbxContent,
    Ruby,
    RubyBase,
    Doubt, // content we do not read: embedded documents, generated dates, page numbers
};

W wordElement(std::string_view local) {
    static const std::unordered_map<std::string_view, W> kNames{
        {"body", W::Body},
        {"p", W::P},
        {"pPr", W::PPr},
        {"rPr", W::RPr},
        {"r", W::R},
        {"t", W::T},
        {"delText", W::DelText},
        {"instrText", W::InstrText},
        {"delInstrText", W::DelInstrText},
        {"tab", W::Tab},
        {"br", W::Br},
        {"cr", W::Cr},
        {"ptab", W::PTab},
        {"noBreakHyphen", W::NoBreakHyphen},
        {"softHyphen", W::SoftHyphen},
        {"sym", W::Sym},
        {"fldChar", W::FldChar},
        {"fldSimple", W::FldSimple},
        {"del", W::Del},
        {"moveFrom", W::MoveFrom},
        {"tc", W::Tc},
        {"tr", W::Tr},
        {"txbxContent", W::TxbxContent},
        {"ruby", W::Ruby},
        {"rubyBase", W::RubyBase},
        {"altChunk", W::Doubt},
        {"subDoc", W::Doubt},
        {"pgNum", W::Doubt},
        {"dayShort", W::Doubt},
        {"dayLong", W::Doubt},
        {"monthShort", W::Doubt},
        {"monthLong", W::Doubt},
        {"yearShort", W::Doubt},
        {"yearLong", W::Doubt},
    };
    const auto it = kNames.find(local);
    return it == kNames.end() ? W::Other : it->second;
}

class WordMainText : public XmlEvents {
public:
    explicit WordMainText(const std::vector<SearchPattern>& patterns) : views_(patterns) {}
    bool found() const { return views_.found(); }

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kWordNs, "document"))
            throw FormatError("the main part is not a transitional Word document");
        const W parent = stack_.empty() ? W::Other : stack_.back().w;
        const W grandparent = stack_.size() < 2 ? W::Other : stack_[stack_.size() - 2].w;
        W w = tag.name.uri == kWordNs ? wordElement(tag.name.local) : W::Other;
        bool counted = false;
        if (tag.name.uri == kMarkupCompatibilityNs && tag.name.local == "AlternateContent") {
            ++alternateDepth_;
            counted = true;
        }
        stack_.push_back({w, counted});
        if (w == W::Body)
            ++bodyDepth_;
        if (w == W::TxbxContent)
            ++skipDepth_;
        if (bodyDepth_ == 0 || skipDepth_ > 0)
            return;
        if (tag.name.uri == kMathNs)
            throw FormatError("an equation in the main text");
        switch (w) {
        case W::Doubt:
            throw FormatError("content the prescan does not read");
        case W::P:
            paragraphMarkDeleted_.push_back(false);
            break;
        case W::Del:
        case W::MoveFrom:
            if (parent == W::RPr) {
                // The paragraph mark's own change.
                if (grandparent == W::PPr && !paragraphMarkDeleted_.empty())
                    paragraphMarkDeleted_.back() = true;
            } else {
                stack_.back().deletion = true;
                ++deletedDepth_;
            }
            break;
        case W::T:
        case W::DelText:
        case W::InstrText:
        case W::DelInstrText:
            collecting_ = true;
            collected_.clear();
            preserve_ =
                tag.attribute(kXmlNs, "space") == std::optional<std::string_view>("preserve");
            break;
        case W::Tab:
        case W::PTab:
            if (parent == W::R)
                emit(U'\t', false);
            break;
        case W::Br:
        case W::Cr:
            if (parent == W::R)
                emit(U'\x0B', false);
            break;
        case W::NoBreakHyphen:
            if (parent == W::R)
                emit(U'\x1E', false);
            break;
        case W::SoftHyphen:
            break;
        case W::Sym:
            if (parent == W::R)
                emit(symbolCharacter(tag.attribute(kWordNs, "char")), false);
            break;
        case W::FldChar:
            if (const auto type = tag.attribute(kWordNs, "fldCharType")) {
                if (*type == "begin")
                    views_.fieldBegin();
                else if (*type == "separate")
                    views_.fieldSeparate();
                else if (*type == "end")
                    views_.fieldEnd();
            }
            break;
        case W::FldSimple:
            views_.fieldBegin();
            if (const auto instruction = tag.attribute(kWordNs, "instr"))
                forEachCodePoint(*instruction, [&](char32_t c) { emit(c, false); });
            views_.fieldSeparate();
            break;
        case W::Ruby:
            // The guide text (w:rt) as a field's code, the base as its result.
            views_.fieldBegin();
            break;
        case W::RubyBase:
            views_.fieldSeparate();
            break;
        default:
            break;
        }
        if (found())
            stop();
    }

    void endElement(const XmlEndTag&) override {
        const Element e = stack_.back();
        stack_.pop_back();
        if (e.alternate)
            --alternateDepth_;
        const bool reading = bodyDepth_ > 0 && skipDepth_ == 0;
        if (e.w == W::TxbxContent)
            --skipDepth_;
        if (e.w == W::Body)
            --bodyDepth_;
        if (!reading)
            return;
        if (e.deletion)
            --deletedDepth_;
        switch (e.w) {
        case W::T:
        case W::DelText:
        case W::InstrText:
        case W::DelInstrText:
            endText(e.w);
            break;
        case W::P: {
            const bool deleted = !paragraphMarkDeleted_.empty() && paragraphMarkDeleted_.back();
            if (!paragraphMarkDeleted_.empty())
                paragraphMarkDeleted_.pop_back();
            emit(U'\r', deleted);
            break;
        }
        case W::Tc:
        case W::Tr:
            emit(U'\x07', false);
            break;
        case W::FldSimple:
        case W::Ruby:
            views_.fieldEnd();
            break;
        default:
            break;
        }
        if (found())
            stop();
    }

    void characters(const XmlText& text) override {
        if (collecting_)
            collected_ += text.text;
    }

private:
    struct Element {
        W w;
        bool alternate = false;
        bool deletion = false;
    };

    static char32_t symbolCharacter(std::optional<std::string_view> hex) {
        char32_t c = 0;
        if (!hex || hex->empty() || hex->size() > 6)
            return 0xFFFD;
        for (const char h : *hex) {
            const int d = h >= '0' && h <= '9'   ? h - '0'
                          : h >= 'a' && h <= 'f' ? h - 'a' + 10
                          : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                 : -1;
            if (d < 0)
                return 0xFFFD;
            c = c * 16 + static_cast<char32_t>(d);
        }
        return c;
    }

    void endText(W w) {
        collecting_ = false;
        const bool text = w == W::T || w == W::DelText;
        if (text) {
            // Whitespace the office may drop or read otherwise: a doubt.
            if (collected_.find_first_of("\t\r\n") != std::string::npos)
                throw FormatError("a line end or tab inside a text element");
            if (!preserve_ && !collected_.empty() &&
                (collected_.front() == ' ' || collected_.back() == ' '))
                throw FormatError("spaces at the edge of a text without xml:space");
        }
        const bool deleted = w == W::DelText || w == W::DelInstrText;
        forEachCodePoint(collected_, [&](char32_t c) { emit(c, deleted); });
    }

    void emit(char32_t c, bool deleted) {
        if (alternateDepth_ > 0)
            throw FormatError("text inside alternate content");
        views_.character(c, deleted || deletedDepth_ > 0);
    }

    MainTextViews views_;
    std::vector<Element> stack_;
    std::vector<bool> paragraphMarkDeleted_;
    std::size_t bodyDepth_ = 0, skipDepth_ = 0, alternateDepth_ = 0, deletedDepth_ = 0;
    bool collecting_ = false;
    bool preserve_ = false;
    std::string collected_;
};

// ---------------------------------------------------------------- workbooks

// Whether the pattern's search form has ASCII characters: all of them, or
// any.
bool formAllAscii(const SearchPattern& p) {
    for (const char32_t c : p.form())
        if (c >= 0x80)
            return false;
    return true;
}
bool formAnyAscii(const SearchPattern& p) {
    for (const char32_t c : p.form())
        if (c < 0x80)
            return true;
    return false;
}

// Cell texts as Find compares them: each string in search form, also with
// the _xHHHH_ escapes of the format decoded.
class CellTexts {
public:
    explicit CellTexts(const std::vector<SearchPattern>& patterns) : patterns_(patterns) {}
    bool found = false;

    void search(std::string_view utf8) {
        if (found)
            return;
        const std::u16string units = text::utf8ToUtf16(utf8);
        check(units);
        if (units.find(u"_x") != std::u16string::npos)
            check(unescaped(units));
    }

private:
    static std::u16string unescaped(const std::u16string& s) {
        std::u16string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == u'_' && i + 6 < s.size() && s[i + 1] == u'x' && s[i + 6] == u'_') {
                char16_t c = 0;
                bool hex = true;
                for (std::size_t k = i + 2; k < i + 6 && hex; ++k) {
                    const char16_t h = s[k];
                    const int d = h >= u'0' && h <= u'9'   ? h - u'0'
                                  : h >= u'a' && h <= u'f' ? h - u'a' + 10
                                  : h >= u'A' && h <= u'F' ? h - u'A' + 10
                                                           : -1;
                    hex = d >= 0;
                    c = static_cast<char16_t>(c * 16 + (d < 0 ? 0 : d));
                }
                if (hex) {
                    out.push_back(c);
                    i += 6;
                    continue;
                }
            }
            out.push_back(s[i]);
        }
        return out;
    }

    void check(std::u16string_view units) {
        form_.clear();
        appendSearchForm(units, form_);
        for (const SearchPattern& p : patterns_)
            found = found || p.foundIn(form_);
    }

    const std::vector<SearchPattern>& patterns_;
    std::u32string form_;
};

// The strings of a shared string table, or of a worksheet's inline strings:
// the <t> elements of an item, without its phonetic runs.
class StringItems {
public:
    explicit StringItems(CellTexts& texts) : texts_(texts) {}

    void start(const XmlStartTag& tag) {
        if (tag.name.uri != kSpreadsheetNs)
            return;
        if (tag.name.local == "rPh")
            ++phonetic_;
        else if (tag.name.local == "t" && phonetic_ == 0)
            inText_ = true;
    }
    void end(const XmlEndTag& tag) {
        if (tag.name.uri != kSpreadsheetNs)
            return;
        if (tag.name.local == "rPh")
            --phonetic_;
        else if (tag.name.local == "t")
            inText_ = false;
    }
    void characters(const XmlText& t) {
        if (inText_)
            item_ += t.text;
    }
    void begin() { item_.clear(); }
    void finish() { texts_.search(item_); }

private:
    CellTexts& texts_;
    std::string item_;
    std::size_t phonetic_ = 0;
    bool inText_ = false;
};

class SharedStrings : public XmlEvents {
public:
    explicit SharedStrings(CellTexts& texts) : texts_(texts), items_(texts) {}

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kSpreadsheetNs, "sst"))
            throw FormatError("not a transitional shared string table");
        if (tag.depth == 1 && tag.name.is(kSpreadsheetNs, "si"))
            items_.begin();
        else if (tag.depth > 1)
            items_.start(tag);
    }
    void endElement(const XmlEndTag& tag) override {
        if (tag.depth == 1 && tag.name.is(kSpreadsheetNs, "si")) {
            items_.finish();
            if (texts_.found)
                stop();
        } else if (tag.depth > 1) {
            items_.end(tag);
        }
    }
    void characters(const XmlText& t) override { items_.characters(t); }

private:
    CellTexts& texts_;
    StringItems items_;
};

struct SheetFacts {
    bool formulas = false;
    bool otherThanText = false; // numbers, dates, booleans, errors
};

class WorksheetCells : public XmlEvents {
public:
    WorksheetCells(CellTexts& texts, SheetFacts& facts)
        : texts_(texts), facts_(facts), items_(texts) {}

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kSpreadsheetNs, "worksheet"))
            throw FormatError("not a transitional worksheet");
        if (tag.name.uri != kSpreadsheetNs)
            return;
        const std::string_view n = tag.name.local;
        if (tag.depth == 1 && n == "sheetData") {
            inData_ = true;
            return;
        }
        if (!inData_)
            return;
        if (n == "c") {
            const auto type = tag.attribute({}, "t");
            type_ = type ? std::string(*type) : "n";
        } else if (n == "f" || n == "v") {
            part_ = n == "f" ? Part::Formula : Part::Value;
            value_.clear();
        } else if (n == "is") {
            part_ = Part::Inline;
            items_.begin();
        } else if (part_ == Part::Inline) {
            items_.start(tag);
        }
    }

    void endElement(const XmlEndTag& tag) override {
        if (tag.name.uri != kSpreadsheetNs || !inData_)
            return;
        const std::string_view n = tag.name.local;
        if (n == "sheetData") {
            inData_ = false;
        } else if (n == "f") {
            facts_.formulas = true;
            texts_.search(value_);
            part_ = Part::None;
        } else if (n == "v") {
            if (type_ == "str" || type_ == "inlineStr")
                texts_.search(value_);
            else if (type_ != "s")
                facts_.otherThanText = true;
            part_ = Part::None;
        } else if (n == "is") {
            items_.finish();
            part_ = Part::None;
        } else if (part_ == Part::Inline) {
            items_.end(tag);
        }
        if (texts_.found)
            stop();
    }

    void characters(const XmlText& t) override {
        if (part_ == Part::Formula || part_ == Part::Value)
            value_ += t.text;
        else if (part_ == Part::Inline)
            items_.characters(t);
    }

private:
    enum class Part { None, Formula, Value, Inline };
    CellTexts& texts_;
    SheetFacts& facts_;
    StringItems items_;
    bool inData_ = false;
    Part part_ = Part::None;
    std::string type_;
    std::string value_;
};

// The number formats of the styles part: whether a cell format uses a
// built-in format that differs by locale, and the custom format codes.
class NumberFormats : public XmlEvents {
public:
    bool localized = false;
    std::vector<std::string> codes;

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kSpreadsheetNs, "styleSheet"))
            throw FormatError("not a transitional styles part");
        if (tag.name.is(kSpreadsheetNs, "numFmt")) {
            if (const auto code = tag.attribute({}, "formatCode")) {
                codes.emplace_back(*code);
                // Numbers shown as Chinese, Japanese or Korean numerals.
                std::string lower(*code);
                for (char& c : lower)
                    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                if (lower.find("[dbnum") != std::string::npos)
                    localized = true;
            }
        } else if (tag.name.is(kSpreadsheetNs, "xf")) {
            if (const auto id = tag.attribute({}, "numFmtId")) {
                int n = 0;
                for (const char c : *id)
                    n = c >= '0' && c <= '9' && n < 100000 ? n * 10 + (c - '0') : n;
                // Chinese, Japanese and Korean dates and times, not stored.
                if ((n >= 27 && n <= 36) || (n >= 50 && n <= 58))
                    localized = true;
            }
        }
    }
};

} // namespace

bool wordPackageMayHold(const ZipPackage& package, const std::vector<SearchPattern>& patterns) {
    const ooxml::MainPart main = ooxml::mainPart(package);
    if (main.strict)
        throw FormatError("a strict document");
    WordMainText reader(patterns);
    parsePart(package, main.partName, reader);
    return reader.found();
}

WorkbookScan scanWorkbookPackage(const ZipPackage& package,
                                 const std::vector<SearchPattern>& patterns) {
    const ooxml::MainPart main = ooxml::mainPart(package);
    if (main.strict)
        throw FormatError("a strict workbook");
    const ooxml::Workbook book = ooxml::readWorkbook(package, main.partName);
    if (book.externalReferences)
        throw FormatError("links to other workbooks");
    WorkbookScan scan;
    for (const auto& sheet : book.sheets) {
        if (sheet.kind != ooxml::WorkbookSheet::Kind::Worksheet ||
            sheet.state != ooxml::WorkbookSheet::State::Visible)
            throw FormatError("a sheet other than a visible worksheet: " + sheet.name);
        scan.worksheets.push_back(sheet.name);
    }
    if (scan.worksheets.empty())
        throw FormatError("no worksheets");

    CellTexts texts(patterns);
    const auto sharedStrings = book.partsOfType("sharedStrings");
    if (sharedStrings.size() > 1)
        throw FormatError("more than one shared string table");
    for (const auto& part : sharedStrings) {
        SharedStrings reader(texts);
        parsePart(package, part, reader);
    }
    SheetFacts facts;
    for (const auto& sheet : book.sheets) {
        if (texts.found)
            return scan;
        WorksheetCells reader(texts, facts);
        parsePart(package, sheet.partName, reader);
    }
    if (texts.found)
        return scan;

    bool asciiOrLatin = false, anyAscii = false;
    for (const SearchPattern& p : patterns) {
        asciiOrLatin = asciiOrLatin || formAllAscii(p) || p.isLatin();
        anyAscii = anyAscii || formAnyAscii(p) || p.isLatin();
    }
    // A formula shows in the office's own syntax, which differs from the
    // stored one in ASCII only (separators, references, function names); a
    // number, date, boolean or error shows in ASCII or, in some languages,
    // in Latin words, unless its format is one that differs by locale.
    if ((facts.formulas && anyAscii) || (facts.otherThanText && asciiOrLatin))
        return scan;
    if (facts.otherThanText) {
        NumberFormats formats;
        for (const auto& part : book.partsOfType("styles"))
            parsePart(package, part, formats);
        if (formats.localized)
            return scan;
        for (const auto& code : formats.codes)
            texts.search(code);
        if (texts.found)
            return scan;
    }
    scan.mayHold = false;
    return scan;
}

} // namespace formats
