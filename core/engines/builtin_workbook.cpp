#include "core/engines/builtin_workbook.h"

#include "core/formats/ooxml_package.h"
#include "core/formats/search_text.h"
#include "core/formats/xml_events.h"
#include "core/formats/zip_package.h"
#include "core/text/encoding.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace engines {

namespace {

using formats::FormatError;
using formats::SearchPattern;
using formats::XmlEndTag;
using formats::XmlEvents;
using formats::XmlStartTag;
using formats::XmlText;
using formats::ZipError;
using formats::ZipPackage;
using formats::ooxml::kSpreadsheetNs;

constexpr std::string_view kXmlNs = "http://www.w3.org/XML/1998/namespace";
constexpr const char* kToSuite = "要由办公软件处理（不限定引擎再试）。";

// Thrown where the workbook is declined; `reason` is the user's sentence.
struct Declined {
    std::string reason;
};

[[noreturn]] void decline(const std::string& why) {
    throw Declined{why + "，" + kToSuite};
}

// ---------------------------------------------------------------- text

// The text as it goes between the tags of a <t> element.
std::string escapedXml(std::u32string_view text) {
    std::string out;
    for (const char32_t c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            text::appendUtf8(c, out);
    }
    return out;
}

char32_t upperAscii(char32_t c) {
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

bool isHex(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The format's escape of a character, _xHHHH_, which readers decode (or
// not) each in its own way.
bool hasEscape(std::u32string_view text) {
    for (std::size_t i = 0; i + 6 < text.size(); ++i)
        if (text[i] == '_' && (text[i + 1] == 'x' || text[i + 1] == 'X') && isHex(text[i + 2]) &&
            isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) && text[i + 6] == '_')
            return true;
    return false;
}

// The text with its escapes decoded, as the office reads it.
std::u32string unescaped(std::u32string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 6 < text.size() && hasEscape(text.substr(i, 7))) {
            char32_t c = 0;
            for (std::size_t k = i + 2; k < i + 6; ++k)
                c = c * 16 + static_cast<char32_t>(text[k] <= '9'   ? text[k] - '0'
                                                   : text[k] <= 'F' ? text[k] - 'A' + 10
                                                                    : text[k] - 'a' + 10);
            out.push_back(c);
            i += 6;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the office, reading the text as typed into a cell, could take it
// for something other than text: a formula, a number, a date or time, a
// percentage, a currency amount, a boolean, an error; or whether it starts
// with the apostrophe that marks typed text. Coarse on purpose.
bool mayReadAsValue(std::u32string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && isSpace(text[first]))
        ++first;
    while (last > first && isSpace(text[last - 1]))
        --last;
    if (first == last)
        return false;
    const std::u32string_view t = text.substr(first, last - first);
    if (std::u32string_view(U"=+-'@#").find(t.front()) != std::u32string_view::npos)
        return true;
    static const std::set<std::u32string> kWords{
        U"AM",     U"PM",        U"A",       U"P",        U"E",        U"JAN",   U"FEB",  U"MAR",
        U"APR",    U"MAY",       U"JUN",     U"JUL",      U"AUG",      U"SEP",   U"SEPT", U"OCT",
        U"NOV",    U"DEC",       U"JANUARY", U"FEBRUARY", U"MARCH",    U"APRIL", U"JUNE", U"JULY",
        U"AUGUST", U"SEPTEMBER", U"OCTOBER", U"NOVEMBER", U"DECEMBER", U"MON",   U"TUE",  U"WED",
        U"THU",    U"FRI",       U"SAT",     U"SUN"};
    std::u32string upper;
    for (const char32_t c : t)
        upper.push_back(upperAscii(c));
    if (upper == U"TRUE" || upper == U"FALSE")
        return true;
    bool digit = false;
    std::u32string word;
    const auto wordEnds = [&] {
        const bool known = word.empty() || kWords.count(word) > 0;
        word.clear();
        return known;
    };
    for (const char32_t c : upper) {
        if (c >= 'A' && c <= 'Z') {
            word.push_back(c);
            continue;
        }
        if (!wordEnds())
            return false;
        if ((c >= '0' && c <= '9') || (c >= 0xFF10 && c <= 0xFF19)) {
            digit = true;
            continue;
        }
        if (std::u32string_view(U" .,:/-+%$()€£¥￥年月日时分秒\u00A0").find(c) ==
            std::u32string_view::npos)
            return false;
    }
    return wordEnds() && digit;
}

// ---------------------------------------------------------------- strings

// One <t> element of a string: where its content stands in the part.
struct Piece {
    std::size_t begin = 0, end = 0;
    bool preserve = false;
    std::u32string text;
};

// A cell's string: its text pieces in order (the runs of rich text), without
// its phonetic runs.
struct StringItem {
    std::vector<Piece> pieces;
    bool phonetic = false;

    std::u32string text() const {
        std::u32string all;
        for (const Piece& p : pieces)
            all += p.text;
        return all;
    }
};

// Collects the pieces of string items from their elements.
class ItemReader {
public:
    void begin(StringItem& item) {
        item_ = &item;
        phonetic_ = 0;
    }
    void start(const XmlStartTag& tag) {
        if (!item_)
            return;
        // The whole content of a text is rewritten: it must be text only.
        if (inText_)
            throw FormatError("an element inside a text");
        if (tag.name.uri != kSpreadsheetNs)
            return;
        if (tag.name.local == "rPh" || tag.name.local == "phoneticPr") {
            item_->phonetic = item_->phonetic || tag.name.local == "rPh";
            ++phonetic_;
        } else if (tag.name.local == "t" && phonetic_ == 0) {
            Piece piece;
            piece.begin = tag.offset + tag.length;
            piece.preserve =
                tag.attribute(kXmlNs, "space") == std::optional<std::string_view>("preserve");
            item_->pieces.push_back(std::move(piece));
            inText_ = true;
        }
    }
    void end(const XmlEndTag& tag) {
        if (!item_ || tag.name.uri != kSpreadsheetNs)
            return;
        if (tag.name.local == "rPh" || tag.name.local == "phoneticPr") {
            --phonetic_;
        } else if (tag.name.local == "t" && inText_) {
            Piece& piece = item_->pieces.back();
            // An empty-element tag: nothing between the tags.
            piece.end = tag.length == 0 ? piece.begin : tag.offset;
            inText_ = false;
        }
    }
    void characters(const XmlText& text) {
        if (item_ && inText_ && !text::decodeUtf8(text.text, item_->pieces.back().text))
            throw FormatError("text that is not UTF-8");
    }
    void finish() { item_ = nullptr; }

private:
    StringItem* item_ = nullptr;
    std::size_t phonetic_ = 0;
    bool inText_ = false;
};

std::string readPart(const ZipPackage& package, const std::string& partName,
                     std::size_t& entryIndex) {
    const formats::ZipEntry* entry = package.find(partName);
    if (!entry)
        throw FormatError("no part " + partName);
    entryIndex = entry->index;
    return package.read(*entry);
}

void parsePart(std::string_view xml, XmlEvents& events, const std::string& partName) {
    const formats::XmlResult result = formats::parseXml(xml, events);
    if (!result.complete())
        throw FormatError(partName + ": " + result.message);
}

class SharedStrings : public XmlEvents {
public:
    std::vector<StringItem> items;

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kSpreadsheetNs, "sst"))
            throw FormatError("not a transitional shared string table");
        if (tag.depth == 1 && tag.name.is(kSpreadsheetNs, "si"))
            reader_.begin(items.emplace_back());
        else if (tag.depth > 1)
            reader_.start(tag);
    }
    void endElement(const XmlEndTag& tag) override {
        if (tag.depth == 1)
            reader_.finish();
        else if (tag.depth > 1)
            reader_.end(tag);
    }
    void characters(const XmlText& t) override { reader_.characters(t); }

private:
    ItemReader reader_;
};

// ---------------------------------------------------------------- styles

struct CellFormat {
    int numberFormat = 0;
    bool quotePrefix = false;
};

class Styles : public XmlEvents {
public:
    std::vector<CellFormat> cellFormats;
    std::map<int, std::string> codes;
    // Built-in formats that differ by locale (Chinese, Japanese and Korean
    // dates and numerals).
    bool localized = false;

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kSpreadsheetNs, "styleSheet"))
            throw FormatError("not a transitional styles part");
        if (tag.name.uri != kSpreadsheetNs)
            return;
        if (tag.name.local == "cellXfs") {
            inCellFormats_ = true;
        } else if (tag.name.local == "numFmt") {
            const std::string code(tag.attribute({}, "formatCode").value_or(""));
            codes[number(tag.attribute({}, "numFmtId"))] = code;
            std::string lower = code;
            for (char& c : lower)
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            if (lower.find("[dbnum") != std::string::npos)
                localized = true;
        } else if (tag.name.local == "xf") {
            const int id = number(tag.attribute({}, "numFmtId"));
            if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58))
                localized = true;
            if (inCellFormats_) {
                const auto quote = tag.attribute({}, "quotePrefix");
                cellFormats.push_back({id, quote == "1" || quote == "true"});
            }
        }
    }
    void endElement(const XmlEndTag& tag) override {
        if (tag.name.is(kSpreadsheetNs, "cellXfs"))
            inCellFormats_ = false;
    }

    static int number(std::optional<std::string_view> text) {
        int n = 0;
        for (const char c : text.value_or(""))
            n = c >= '0' && c <= '9' && n < 100000 ? n * 10 + (c - '0') : n;
        return n;
    }

private:
    bool inCellFormats_ = false;
};

// ---------------------------------------------------------------- worksheets

struct StringCell {
    bool shared = false;
    std::size_t item = 0; // in the shared table or the sheet's inline items
    std::size_t style = 0;
    bool hiddenRow = false;
    std::size_t column = 0; // from 1; 0 when the cell has no reference
};

struct Worksheet {
    std::string name;
    std::string partName;
    std::size_t entry = 0;
    std::string xml;
    std::vector<StringItem> inlineItems;
    std::vector<StringCell> cells;
    bool isProtected = false;
    // An autofilter: its hidden rows may be filtered ones, which the office
    // does not search.
    bool filtered = false;
    // Tables and pivot tables, whose header and output cells the office
    // treats on their own.
    bool structured = false;
};

// What the cells other than strings hold.
struct OtherCells {
    std::vector<std::string> formulas;
    // Values that are text without being a string cell (a formula's string
    // result stored without its formula).
    std::vector<std::string> texts;
    bool values = false; // numbers, dates, booleans, errors
    // Shared strings that stand as a formula's result: never changed.
    std::set<std::size_t> resultStrings;
};

class WorksheetReader : public XmlEvents {
public:
    WorksheetReader(Worksheet& sheet, OtherCells& others) : sheet_(sheet), others_(others) {}

    void startElement(const XmlStartTag& tag) override {
        if (tag.depth == 0 && !tag.name.is(kSpreadsheetNs, "worksheet"))
            throw FormatError("not a transitional worksheet");
        if (tag.name.uri != kSpreadsheetNs)
            return;
        const std::string_view n = tag.name.local;
        if (tag.depth == 1) {
            inData_ = n == "sheetData";
            if (n == "autoFilter")
                sheet_.filtered = true;
            if (n == "sheetProtection") {
                const auto locked = tag.attribute({}, "sheet");
                sheet_.isProtected = locked == "1" || locked == "true";
            }
            return;
        }
        if (!inData_)
            return;
        if (n == "row") {
            const auto hidden = tag.attribute({}, "hidden");
            hiddenRow_ = hidden == "1" || hidden == "true";
        } else if (n == "c") {
            type_ = std::string(tag.attribute({}, "t").value_or("n"));
            cell_ = StringCell{};
            cell_.style = static_cast<std::size_t>(Styles::number(tag.attribute({}, "s")));
            cell_.hiddenRow = hiddenRow_;
            cell_.column = columnOf(tag.attribute({}, "r").value_or(""));
            formula_ = hasValue_ = hasInline_ = false;
        } else if (n == "f" || n == "v") {
            part_ = n == "f" ? Part::Formula : Part::Value;
            if (n == "f")
                formula_ = true;
            else
                hasValue_ = true;
            value_.clear();
        } else if (n == "is") {
            part_ = Part::Inline;
            hasInline_ = true;
            reader_.begin(sheet_.inlineItems.emplace_back());
        } else if (part_ == Part::Inline) {
            reader_.start(tag);
        }
    }

    void endElement(const XmlEndTag& tag) override {
        if (tag.name.uri != kSpreadsheetNs || !inData_)
            return;
        const std::string_view n = tag.name.local;
        if (n == "sheetData") {
            inData_ = false;
        } else if (n == "f") {
            others_.formulas.push_back(value_);
            part_ = Part::None;
        } else if (n == "v") {
            valueText_ = value_;
            part_ = Part::None;
        } else if (n == "is") {
            reader_.finish();
            part_ = Part::None;
        } else if (n == "c") {
            endCell();
        } else if (part_ == Part::Inline) {
            reader_.end(tag);
        }
    }

    void characters(const XmlText& t) override {
        if (part_ == Part::Formula || part_ == Part::Value)
            value_ += t.text;
        else if (part_ == Part::Inline)
            reader_.characters(t);
    }

private:
    enum class Part { None, Formula, Value, Inline };

    // "AB12" -> 28; 0 when there is no reference.
    static std::size_t columnOf(std::string_view reference) {
        std::size_t column = 0;
        for (const char c : reference) {
            if (c < 'A' || c > 'Z' || column > 100000)
                break;
            column = column * 26 + static_cast<std::size_t>(c - 'A' + 1);
        }
        return column;
    }

    void endCell() {
        if (formula_) {
            if (type_ == "s" && hasValue_)
                others_.resultStrings.insert(sharedIndex());
            return;
        }
        if (type_ == "inlineStr") {
            if (hasInline_) {
                cell_.item = sheet_.inlineItems.size() - 1;
                sheet_.cells.push_back(cell_);
            }
        } else if (hasInline_) {
            // An inline string the cell's type does not take.
            sheet_.inlineItems.pop_back();
        }
        if (!hasValue_ || type_ == "inlineStr")
            return;
        if (type_ == "s") {
            cell_.shared = true;
            cell_.item = sharedIndex();
            sheet_.cells.push_back(cell_);
        } else if (type_ == "str") {
            others_.texts.push_back(valueText_);
        } else {
            others_.values = true;
        }
    }

    std::size_t sharedIndex() const {
        std::size_t index = 0;
        if (valueText_.empty() || valueText_.size() > 9 ||
            valueText_.find_first_not_of("0123456789") != std::string::npos)
            throw FormatError("a shared string index that is not a number");
        for (const char c : valueText_)
            index = index * 10 + static_cast<std::size_t>(c - '0');
        return index;
    }

    Worksheet& sheet_;
    OtherCells& others_;
    ItemReader reader_;
    bool inData_ = false;
    bool hiddenRow_ = false;
    Part part_ = Part::None;
    std::string type_;
    StringCell cell_;
    bool formula_ = false, hasValue_ = false, hasInline_ = false;
    std::string value_, valueText_;
};

// ---------------------------------------------------------------- matching

struct Pair {
    std::size_t index = 0;
    std::u32string find, replacement;
    SearchPattern pattern;
};

bool sameLetter(char32_t a, char32_t b) {
    return upperAscii(a) == upperAscii(b);
}

// A text being replaced in: each character with the piece it belongs to.
struct Characters {
    std::u32string text;
    std::vector<std::size_t> piece;
};

std::u32string searchForm(std::u32string_view text) {
    std::u32string form;
    for (const char32_t c : text)
        formats::appendSearchForm(c, form);
    return form;
}

// Replaces every match of `pair` in `chars`, left to right, each replacement
// taking the piece of the first character it replaces. True when anything
// was found. Declines where the office might match other characters than
// exactly these (another letter case than ASCII's, width or accent variants,
// characters the office skips).
bool replaceIn(Characters& chars, const Pair& pair) {
    const std::u32string& find = pair.find;
    std::u32string rest; // the text with each match as a break
    Characters out;
    bool found = false;
    std::size_t i = 0;
    while (i < chars.text.size()) {
        bool match = i + find.size() <= chars.text.size();
        for (std::size_t k = 0; match && k < find.size(); ++k)
            match = sameLetter(chars.text[i + k], find[k]);
        if (!match) {
            out.text.push_back(chars.text[i]);
            out.piece.push_back(chars.piece[i]);
            rest.push_back(chars.text[i]);
            ++i;
            continue;
        }
        found = true;
        const std::size_t piece = chars.piece[i];
        for (const char32_t c : pair.replacement) {
            out.text.push_back(c);
            out.piece.push_back(piece);
        }
        rest.push_back(formats::kSearchBreak);
        i += find.size();
    }
    if (pair.pattern.foundIn(searchForm(rest)))
        decline(
            "单元格中有与查找内容只差大小写、全半角或附加符号的文字，无法确定办公软件是否替换它");
    if (found)
        chars = std::move(out);
    return found;
}

// What becomes of one string: its new pieces and the pairs it matched.
struct ItemResult {
    std::vector<std::size_t> pairs;
    std::vector<std::u32string> pieces;
    bool changed = false;
};

ItemResult replaceItem(const StringItem& item, const std::vector<Pair>& pairs) {
    ItemResult result;
    const std::u32string before = item.text();
    if (hasEscape(before)) {
        const std::u32string form = searchForm(unescaped(before));
        for (const Pair& pair : pairs)
            if (pair.pattern.foundIn(form))
                decline("单元格文字中有 _xHHHH_ 形式的转义，各程序对它的读法不一");
    }
    // A text that no pair may match stays as it is (a pair that changes
    // nothing leaves the text for the next one as it was).
    const std::u32string form = searchForm(before);
    if (std::none_of(pairs.begin(), pairs.end(),
                     [&](const Pair& pair) { return pair.pattern.foundIn(form); }))
        return result;
    Characters chars;
    for (std::size_t p = 0; p < item.pieces.size(); ++p)
        for (const char32_t c : item.pieces[p].text) {
            chars.text.push_back(c);
            chars.piece.push_back(p);
        }
    for (const Pair& pair : pairs)
        if (replaceIn(chars, pair))
            result.pairs.push_back(pair.index);
    if (result.pairs.empty())
        return result;

    if (hasEscape(before) || hasEscape(chars.text))
        decline("单元格文字中有 _xHHHH_ 形式的转义，各程序对它的读法不一");
    for (const char32_t c : before + chars.text)
        if (c < 0x20 && c != '\n' && c != '\t')
            decline("单元格文字中有控制字符");
    const std::size_t units =
        chars.text.size() +
        static_cast<std::size_t>(std::count_if(chars.text.begin(), chars.text.end(),
                                               [](char32_t c) { return c >= 0x10000; }));
    if (units > 32767)
        decline("替换后的单元格文字超过 32767 个字符");
    if (mayReadAsValue(before) || mayReadAsValue(chars.text))
        decline("替换前或替换后的单元格文字可能被办公软件当作数字、日期、公式或逻辑值");
    result.pieces.assign(item.pieces.size(), {});
    for (std::size_t k = 0; k < chars.text.size(); ++k)
        result.pieces[chars.piece[k]].push_back(chars.text[k]);
    for (std::size_t p = 0; p < item.pieces.size(); ++p) {
        const Piece& piece = item.pieces[p];
        const std::u32string& now = result.pieces[p];
        result.changed = result.changed || now != piece.text;
        const auto edgeSpace = [](const std::u32string& s) {
            return !s.empty() && (isSpace(s.front()) || isSpace(s.back()));
        };
        if (!piece.preserve && (edgeSpace(piece.text) || edgeSpace(now)))
            decline("单元格文字首尾的空白没有标明保留，各程序对它的读法不一");
    }
    if (result.changed && item.phonetic)
        decline("单元格文字带有注音，替换后注音的位置无法保持一致");
    return result;
}

// The in-place edits of one part: byte ranges and what replaces them.
using Edits = std::map<std::size_t, std::pair<std::size_t, std::string>>;

void addEdits(const StringItem& item, const ItemResult& result, Edits& edits) {
    if (!result.changed)
        return;
    for (std::size_t p = 0; p < item.pieces.size(); ++p) {
        const Piece& piece = item.pieces[p];
        if (result.pieces[p] != piece.text)
            edits[piece.begin] = {piece.end - piece.begin, escapedXml(result.pieces[p])};
    }
}

std::string applyEdits(const std::string& xml, const Edits& edits) {
    std::string out;
    std::size_t at = 0;
    for (const auto& [offset, edit] : edits) {
        out.append(xml, at, offset - at);
        out += edit.second;
        at = offset + edit.first;
    }
    out.append(xml, at, std::string::npos);
    return out;
}

// ---------------------------------------------------------------- the workbook

std::vector<Pair> preparePairs(const std::vector<ReplacePair>& pairs) {
    std::vector<Pair> prepared;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        // The office finds nothing for an empty text.
        if (pairs[k].find.empty())
            continue;
        Pair pair;
        pair.index = k;
        auto pattern = SearchPattern::make(pairs[k].find);
        // A find text that starts with an apostrophe may match the one the
        // office puts before a text that looks like a number.
        if (!pattern || pattern->form().empty() || pattern->form().front() == U'\'' ||
            !text::decodeUtf8(pairs[k].find, pair.find))
            decline("查找内容“" + pairs[k].find + "”中有内置引擎不能确定如何匹配的字符");
        if (!text::decodeUtf8(pairs[k].replacement, pair.replacement))
            decline("替换内容不是有效的 UTF-8 文字");
        for (const char32_t c : pair.replacement)
            if (c < 0x20 && c != '\n' && c != '\t')
                decline("替换内容中有控制字符");
        pair.pattern = std::move(*pattern);
        prepared.push_back(std::move(pair));
    }
    return prepared;
}

// Whether the pattern may match where the office's own formula syntax
// differs from the stored one. Those differences are in ASCII only and never
// put a letter, digit or space next to another script's character: a
// pattern holding such a character, whose ASCII is only letters, digits and
// spaces, matches the office's formula exactly where it matches the stored
// one.
bool mayMatchFormulaSyntax(const SearchPattern& p) {
    const auto& form = p.form();
    const bool other = std::any_of(form.begin(), form.end(), [](char32_t c) { return c >= 0x80; });
    return p.isLatin() || !other || std::any_of(form.begin(), form.end(), [](char32_t c) {
               return c < 0x80 && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') && c != ' ';
           });
}
bool allAscii(const SearchPattern& p) {
    return p.isLatin() ||
           std::all_of(p.form().begin(), p.form().end(), [](char32_t c) { return c < 0x80; });
}
bool foundInText(const SearchPattern& p, std::string_view utf8) {
    std::u32string chars;
    return !text::decodeUtf8(utf8, chars) || hasEscape(chars) || p.foundIn(searchForm(chars));
}

// Declines where a find text may stand in a cell that is not a string: a
// formula shows in the office's own syntax, which differs from the stored one
// in ASCII only (separators, references, function names, shifted references
// of shared formulas); a number, date,
// boolean or error shows in ASCII or Latin words, or as its format says.
void checkOtherCells(const std::vector<Pair>& pairs, const OtherCells& others,
                     const Styles& styles) {
    for (const Pair& pair : pairs) {
        const SearchPattern& p = pair.pattern;
        if (!others.formulas.empty() && mayMatchFormulaSyntax(p))
            decline("工作簿里有公式，查找内容可能出现在办公软件显示的公式中");
        for (const std::string& formula : others.formulas)
            if (foundInText(p, formula))
                decline("工作簿里有含有查找内容的公式，内置引擎不改公式");
        for (const std::string& text : others.texts)
            if (foundInText(p, text))
                decline("工作簿里有含有查找内容的公式结果");
        if (!others.values)
            continue;
        if (allAscii(p) || styles.localized)
            decline("工作簿里有数字、日期或逻辑值，查找内容可能出现在它们显示的文字中");
        for (const auto& [id, code] : styles.codes)
            if (foundInText(p, code))
                decline("工作簿的数字格式中含有查找内容");
    }
}

// A text format that shows more than the cell's text (a literal around @, or
// a section for text of its own).
bool changesShownText(const Styles& styles, std::size_t style) {
    if (style >= styles.cellFormats.size())
        return style != 0;
    const CellFormat& format = styles.cellFormats[style];
    if (format.quotePrefix)
        return true;
    const auto code = styles.codes.find(format.numberFormat);
    if (code == styles.codes.end())
        return false;
    return (code->second.find('@') != std::string::npos && code->second != "@") ||
           std::count(code->second.begin(), code->second.end(), ';') >= 3;
}

BuiltinResult replaceInWorkbook(std::string_view content, const std::vector<ReplacePair>& input) {
    const std::vector<Pair> pairs = preparePairs(input);
    const ZipPackage package(content);
    const formats::ooxml::MainPart main = formats::ooxml::mainPart(package);
    if (main.strict)
        decline("工作簿使用 Strict Open XML 格式");
    const formats::ooxml::Workbook book = formats::ooxml::readWorkbook(package, main.partName);
    if (book.externalReferences)
        decline("工作簿链接了其他工作簿");

    std::vector<Worksheet> sheets;
    for (const auto& sheet : book.sheets) {
        if (sheet.kind != formats::ooxml::WorkbookSheet::Kind::Worksheet)
            decline("工作簿里有图表工作表、对话框工作表或宏工作表（“" + sheet.name + "”）");
        Worksheet& added = sheets.emplace_back();
        added.name = sheet.name;
        added.partName = sheet.partName;
        for (const auto& r : formats::ooxml::readRelationships(package, sheet.partName))
            if (r.type == formats::ooxml::relationshipType("table") ||
                r.type == formats::ooxml::relationshipType("pivotTable"))
                added.structured = true;
    }
    if (sheets.empty())
        decline("工作簿里没有工作表");

    const auto sstParts = book.partsOfType("sharedStrings");
    if (sstParts.size() > 1)
        decline("工作簿有不止一个共享字符串表");
    SharedStrings shared;
    std::string sstXml;
    std::size_t sstEntry = 0;
    if (!sstParts.empty()) {
        sstXml = readPart(package, sstParts.front(), sstEntry);
        parsePart(sstXml, shared, sstParts.front());
    }
    Styles styles;
    for (const auto& part : book.partsOfType("styles")) {
        std::size_t entry = 0;
        parsePart(readPart(package, part, entry), styles, part);
    }
    OtherCells others;
    for (Worksheet& sheet : sheets) {
        sheet.xml = readPart(package, sheet.partName, sheet.entry);
        WorksheetReader reader(sheet, others);
        parsePart(sheet.xml, reader, sheet.partName);
    }
    checkOtherCells(pairs, others, styles);

    // Each string once: shared ones by their index, inline ones by cell.
    // Every worksheet gets every pair and all cells of a shared string read
    // the same text, so a changed shared string is changed in every cell
    // that uses it just as the office changes each of them: no copy is ever
    // needed. The cells the office would leave as they are (a formula's
    // result, a filtered row, a protected sheet) decline instead.
    std::vector<std::optional<ItemResult>> sharedResults(shared.items.size());
    BuiltinResult result;
    result.done = true;
    Edits sstEdits;
    std::map<std::size_t, std::string> changes;
    for (Worksheet& sheet : sheets) {
        std::set<std::size_t> sheetPairs;
        Edits edits;
        for (const StringCell& cell : sheet.cells) {
            const StringItem* item = nullptr;
            const ItemResult* outcome = nullptr;
            ItemResult inlineResult;
            if (cell.shared) {
                if (cell.item >= shared.items.size())
                    throw FormatError("a shared string index out of range");
                item = &shared.items[cell.item];
                auto& slot = sharedResults[cell.item];
                if (!slot) {
                    slot = replaceItem(*item, pairs);
                    if (slot->changed && others.resultStrings.count(cell.item))
                        decline("工作簿里有公式的结果用着要替换的共享字符串");
                    addEdits(*item, *slot, sstEdits);
                }
                outcome = &*slot;
            } else {
                item = &sheet.inlineItems[cell.item];
                inlineResult = replaceItem(*item, pairs);
                addEdits(*item, inlineResult, edits);
                outcome = &inlineResult;
            }
            if (outcome->pairs.empty())
                continue;
            if (sheet.isProtected)
                decline("工作表“" + sheet.name + "”受保护，其中有含查找内容的单元格");
            if (sheet.structured)
                decline("工作表“" + sheet.name +
                        "”有表格或数据透视表，其中的单元格由办公软件另行处理");
            if (cell.hiddenRow && sheet.filtered)
                decline("工作表“" + sheet.name + "”中含查找内容的单元格在筛选隐藏的行里");
            if (cell.column > 1024)
                decline("工作表“" + sheet.name + "”中含查找内容的单元格超出了办公软件的列数");
            if (changesShownText(styles, cell.style))
                decline("工作表“" + sheet.name + "”中含查找内容的单元格的格式会改变显示的文字");
            sheetPairs.insert(outcome->pairs.begin(), outcome->pairs.end());
        }
        if (!edits.empty())
            changes[sheet.entry] = applyEdits(sheet.xml, edits);
        BuiltinResult::Part part;
        part.name = sheet.name;
        part.replaced = !sheetPairs.empty();
        part.pairsReplaced.assign(sheetPairs.begin(), sheetPairs.end());
        result.parts.push_back(std::move(part));
    }
    if (!sstEdits.empty())
        changes[sstEntry] = applyEdits(sstXml, sstEdits);
    const bool anyReplaced = std::any_of(result.parts.begin(), result.parts.end(),
                                         [](const BuiltinResult::Part& p) { return p.replaced; });
    if (anyReplaced)
        result.newContent = package.rewrite(changes);
    return result;
}

std::string lowerExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    std::string ext(dot == std::string_view::npos ? std::string_view() : name.substr(dot));
    for (char& c : ext)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return ext;
}

} // namespace

bool WorkbookPackageEngine::handles(Operation operation, std::string_view fileName) const {
    const std::string ext = lowerExtension(fileName);
    return operation == Operation::ExcelReplace && (ext == ".xlsx" || ext == ".xlsm");
}

BuiltinResult WorkbookPackageEngine::replace(Operation operation, std::string_view content,
                                             const std::vector<ReplacePair>& pairs) const {
    BuiltinResult declined;
    if (operation != Operation::ExcelReplace) {
        declined.reason = std::string("内置引擎只做 Excel 工作簿的替换，") + kToSuite;
        return declined;
    }
    try {
        return replaceInWorkbook(content, pairs);
    } catch (const Declined& d) {
        declined.reason = d.reason;
    } catch (const ZipError& e) {
        switch (e.kind) {
        case ZipError::Kind::Encrypted:
            declined.reason = "工作簿已加密（设有打开密码），内置引擎无法读取，";
            break;
        case ZipError::Kind::TooLarge:
            declined.reason = "工作簿中的内容超出内置引擎可处理的上限，";
            break;
        case ZipError::Kind::Unsupported:
            declined.reason = "工作簿使用了内置引擎不支持的 zip 格式，";
            break;
        default:
            declined.reason = "工作簿已损坏或不完整，内置引擎无法读取，";
        }
        declined.reason += kToSuite;
    } catch (const std::exception&) {
        // FormatError and the like: the package is not as the office writes it.
        declined.reason = std::string("工作簿的内容不合格式或内置引擎读不懂，") + kToSuite;
    }
    return declined;
}

} // namespace engines
