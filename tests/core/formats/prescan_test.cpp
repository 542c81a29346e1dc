// The prescan's answers on documents written byte by byte: the search form of
// texts, the Word main text (pieces, fields, special characters), the BIFF8
// workbook strings, and damaged files. The office's own answers on documents
// it made are compared in tests/suites/libreoffice/prescan_office_test.cpp.

#include "core/formats/prescan.h"
#include "core/text/encoding.h"
#include "support/binary_documents.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using binary_documents::appendU16;
using binary_documents::appendU32;
using binary_documents::compoundFile;
using binary_documents::putU16;
using binary_documents::putU32;
using binary_documents::WordDocumentLayout;
using binary_documents::WordPiece;

std::u16string u16(const std::string& utf8) {
    return text::utf8ToUtf16(utf8);
}

std::string unicodeDocument(const std::string& mainText) {
    WordDocumentLayout layout;
    layout.pieces.push_back({u16(mainText), false});
    return binary_documents::wordDocument(layout);
}

// ---------------------------------------------------------------- search form

struct MatchCase {
    const char* label;
    std::string find;
    std::string text;
    bool mayHold;
};

class SearchForm : public testing::TestWithParam<MatchCase> {};

TEST_P(SearchForm, DecidesAsCaseInsensitiveFindMight) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(formats::wordDocumentMayHold(unicodeDocument(c.text), c.find), c.mayHold);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SearchForm,
    testing::Values(MatchCase{"ascii_case", "acme corp", "Order from ACME Corp today", true},
                    MatchCase{"ascii_absent", "acme corp", "Order from ACME Group", false},
                    MatchCase{"chinese", "合同编号", "本合同编号为2019-01", true},
                    MatchCase{"chinese_split_by_space", "合同编号", "合同 编号", false},
                    MatchCase{"latin_accents_case", "CAFÉ CRÈME", "un café crème", true},
                    MatchCase{"sharp_s_full_folding", "STRASSE", "Hauptstraße", true},
                    MatchCase{"capital_sharp_s", "straße", "HAUPTSTRAẞE", true},
                    MatchCase{"dotless_i", "I", "ı", true},
                    MatchCase{"dotted_capital_i", "istanbul", "İSTANBUL", true},
                    MatchCase{"long_s", "s", "ſ", true},
                    MatchCase{"kelvin_sign", "k", "\u212A", true},
                    MatchCase{"greek", "ΣΟΦΙΑ", "σοφια", true},
                    MatchCase{"greek_final_sigma", "ΟΔΟΣ", "οδος", true},
                    MatchCase{"cyrillic", "ПРИВЕТ", "привет", true},
                    MatchCase{"cyrillic_absent", "ПРИВЕТ", "пока", false},
                    MatchCase{"full_width", "ＡＢＣ１", "abc1", true},
                    MatchCase{"half_width_in_text", "abc", "ＡＢＣ", true},
                    MatchCase{"no_break_space", "a b", "a\u00A0b", true},
                    MatchCase{"ideographic_space", "a b", "a\u3000b", true},
                    MatchCase{"curly_quotes", "\"ok\" it's", "“ok” it’s", true},
                    MatchCase{"optional_hyphen_skipped", "information", "infor\x1Fmation", true},
                    MatchCase{"soft_hyphen_skipped", "information", "infor\u00ADmation", true},
                    MatchCase{"non_breaking_hyphen", "e-mail", "e\x1Email", true},
                    MatchCase{"paragraph_breaks", "ab", "a\rb", false},
                    MatchCase{"cell_marks_break", "ab",
                              "a\x07"
                              "b",
                              false},
                    MatchCase{"tab_breaks", "ab", "a\tb", false},
                    MatchCase{"picture_mark_skipped", "ab",
                              "a\x01"
                              "b",
                              true},
                    MatchCase{"surrogate_pair", "𠀀", "x𠀀y", true},
                    MatchCase{"surrogate_pair_absent", "𠀀", "x𠀁y", false},
                    // Find texts whose matching is not known well: always "maybe".
                    MatchCase{"control_in_find_text", "a\tb", "nothing here", true},
                    MatchCase{"arabic_find_text", "مرحبا", "nothing here", true},
                    MatchCase{"private_use_find_text", "\uE001", "nothing here", true},
                    MatchCase{"invalid_utf8_find_text", "\xFF\xFE", "nothing here", true},
                    MatchCase{"empty_find_text", "", "nothing here", true}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- Word

struct WordCase {
    const char* label;
    WordDocumentLayout layout;
    std::string find;
    bool mayHold;
};

class WordMainText : public testing::TestWithParam<WordCase> {};

TEST_P(WordMainText, AnswersForTheMainTextOnly) {
    const WordCase& c = GetParam();
    for (const int version : {3, 4})
        EXPECT_EQ(
            formats::wordDocumentMayHold(binary_documents::wordDocument(c.layout, version), c.find),
            c.mayHold)
            << "container version " << version;
}

WordDocumentLayout pieces(std::vector<WordPiece> p) {
    WordDocumentLayout layout;
    layout.pieces = std::move(p);
    return layout;
}

WordDocumentLayout withRaw(WordDocumentLayout layout, std::size_t piece, std::string raw) {
    layout.rawCompressed.emplace_back(piece, std::move(raw));
    return layout;
}

WordDocumentLayout mainTextOf(WordDocumentLayout layout, std::size_t length) {
    layout.mainTextLength = length;
    return layout;
}

const std::u16string kField = u"Call \x13HYPERLINK x\x14"
                              u"ACME\x15 Corp now\r";
const std::u16string kNested = u"A \x13 IF \x13 DATE \x14"
                               u"1999\x15 = 1 \x14"
                               u"Result\x15 Z\r";

INSTANTIATE_TEST_SUITE_P(
    Documents, WordMainText,
    testing::Values(
        WordCase{"unicode_piece", pieces({{u"Contract 合同 ACME\r", false}}), "合同 acme", true},
        WordCase{"unicode_piece_absent", pieces({{u"Contract 合同 ACME\r", false}}), "协议", false},
        WordCase{"compressed_piece", pieces({{u"Hello World\r", true}}), "WORLD", true},
        WordCase{"compressed_piece_absent", pieces({{u"Hello World\r", true}}), "planet", false},
        WordCase{"across_compressed_and_unicode",
                 pieces({{u"Price: 1", true}, {u"00 元\r", false}}), "price: 100 元", true},
        WordCase{"compressed_windows_quotes",
                 withRaw(pieces({{u"", true}}), 0, "\x93Hi\x94 \x85\r"), "“hi” …", true},
        WordCase{"compressed_quotes_as_straight", withRaw(pieces({{u"", true}}), 0, "\x93Hi\x94\r"),
                 "\"hi\"", true},
        WordCase{"compressed_byte_without_mapping",
                 withRaw(pieces({{u"", true}}), 0, "price \x80 5\r"), "absent", true},
        WordCase{"footnote_story_not_searched",
                 mainTextOf(pieces({{u"Main text\r", false}, {u"Footnote ACME\r", false}}), 10),
                 "acme", false},
        WordCase{"main_text_ends_inside_a_piece",
                 mainTextOf(pieces({{u"Main text\rFootnote ACME\r", true}}), 10), "acme", false},
        WordCase{"field_result_with_text_before", pieces({{kField, false}}), "call acme", true},
        WordCase{"field_code_with_text_after", pieces({{kField, false}}), "hyperlink x corp", true},
        WordCase{"field_as_stored", pieces({{kField, false}}), "xacme corp", true},
        WordCase{"field_absent", pieces({{kField, false}}), "call corp", false},
        WordCase{"nested_field_result", pieces({{kNested, false}}), "a result z", true},
        WordCase{"nested_field_inner_result_hidden_in_code", pieces({{kNested, false}}), "a 1999",
                 false},
        WordCase{"encrypted",
                 [] {
                     auto s = pieces({{u"nothing\r", false}});
                     s.encrypted = true;
                     return s;
                 }(),
                 "absent", true},
        WordCase{"word_95",
                 [] {
                     auto s = pieces({{u"nothing\r", false}});
                     s.nFib = 0x65;
                     return s;
                 }(),
                 "absent", true},
        WordCase{"table_stream_0",
                 [] {
                     auto s = pieces({{u"nothing\r", false}});
                     s.tableStream1 = false;
                     return s;
                 }(),
                 "absent", false}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- Excel

std::string record(std::uint16_t type, const std::string& data) {
    std::string r;
    appendU16(r, type);
    appendU16(r, static_cast<std::uint16_t>(data.size()));
    return r + data;
}

// XLUnicodeString (16-bit count) or ShortXLUnicodeString (8-bit count).
std::string xlString(const std::string& utf8, bool shortCount = false, bool wide = true) {
    const std::u16string s = u16(utf8);
    std::string out;
    if (shortCount)
        out.push_back(static_cast<char>(s.size()));
    else
        appendU16(out, static_cast<std::uint16_t>(s.size()));
    out.push_back(wide ? '\x01' : '\x00');
    for (const char16_t c : s) {
        if (wide)
            appendU16(out, c);
        else
            out.push_back(static_cast<char>(c));
    }
    return out;
}

std::string bof(std::uint16_t kind) {
    std::string d;
    appendU16(d, 0x0600);
    appendU16(d, kind);
    d.append(12, '\0');
    return record(0x0809, d);
}

std::string cellHeader() {
    return std::string(6, '\0');
}

struct TestSheet {
    std::string name;
    std::vector<std::string> records;
    std::uint8_t kind = 0;        // BOUNDSHEET dt
    std::uint8_t state = 0;       // visible
    std::uint16_t bofKind = 0x10; // worksheet
};

// A workbook stream: globals (after BOF and before the sheets' entries),
// then each sheet's substream.
std::string workbookFile(const std::vector<std::string>& globals,
                         const std::vector<TestSheet>& sheets,
                         std::u16string streamName = u"Workbook") {
    std::string head = bof(0x0005);
    for (const auto& g : globals)
        head += g;
    std::vector<std::size_t> positionFields;
    for (const auto& s : sheets) {
        std::string d(6, '\0');
        d[4] = static_cast<char>(s.state);
        d[5] = static_cast<char>(s.kind);
        d += xlString(s.name, true);
        positionFields.push_back(head.size() + 4);
        head += record(0x0085, d);
    }
    head += record(0x000A, "");
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        putU32(head, positionFields[i], static_cast<std::uint32_t>(head.size()));
        head += bof(sheets[i].bofKind);
        for (const auto& r : sheets[i].records)
            head += r;
        head += record(0x000A, "");
    }
    return compoundFile({{streamName, head}});
}

std::string sst(const std::vector<std::string>& parts) {
    std::string first = parts[0];
    std::string out = record(0x00FC, first);
    for (std::size_t i = 1; i < parts.size(); ++i)
        out += record(0x003C, parts[i]);
    return out;
}

std::string sstHeader(std::uint32_t count) {
    std::string d;
    appendU32(d, count);
    appendU32(d, count);
    return d;
}

// "ABC合同": the characters start 8-bit in the SST and go on 16-bit in the
// CONTINUE record, which begins with the new flags byte.
std::string splitSharedStrings() {
    std::string part1 = sstHeader(2);
    appendU16(part1, 5);
    part1 += std::string("\x00", 1) + "ABC";
    std::string part2 = "\x01";
    for (const char16_t c : u16("合同"))
        appendU16(part2, c);
    part2 += xlString("第二个字符串");
    return sst({part1, part2});
}

std::string number() {
    return record(0x0203, cellHeader() + std::string(8, '\0'));
}

std::string formulaWithString(const std::string& literal) {
    std::string d = cellHeader() + std::string(8, '\0') + std::string(6, '\0');
    std::string rgce = "\x17" + xlString(literal, true).substr(0);
    appendU16(d, static_cast<std::uint16_t>(rgce.size()));
    return record(0x0006, d + rgce);
}

std::string stringResult(const std::string& text) {
    std::string d = cellHeader();
    d[6 - 6] = 0;
    std::string value(8, '\0');
    value[6] = '\xFF';
    value[7] = '\xFF';
    std::string f = cellHeader() + value + std::string(6, '\0');
    appendU16(f, 1);
    f += "\x1C";
    return record(0x0006, f) + record(0x0207, xlString(text));
}

std::string definedName(const std::string& name) {
    const std::u16string n = u16(name);
    std::string d(14, '\0');
    d[3] = static_cast<char>(n.size());
    d.push_back('\x01');
    for (const char16_t c : n)
        appendU16(d, c);
    return record(0x0018, d);
}

std::string xfWithFormat(std::uint16_t format) {
    std::string d(20, '\0');
    putU16(d, 2, format);
    return record(0x00E0, d);
}

struct ExcelCase {
    const char* label;
    std::string file;
    std::string find;
    bool mayHold;
};

class WorkbookStrings : public testing::TestWithParam<ExcelCase> {};

TEST_P(WorkbookStrings, AnswerFromTheWorkbooksStrings) {
    const ExcelCase& c = GetParam();
    const auto answer = formats::workbookMayHold(c.file, c.find);
    EXPECT_EQ(answer.mayHold, c.mayHold);
    if (!answer.mayHold) {
        EXPECT_FALSE(answer.worksheets.empty());
    }
}

const std::vector<TestSheet> kTwoSheets{{"Sheet1", {}}, {"数据", {}}};

INSTANTIATE_TEST_SUITE_P(
    Workbooks, WorkbookStrings,
    testing::Values(
        ExcelCase{"shared_string_split_by_continue",
                  workbookFile({splitSharedStrings()}, kTwoSheets), "c合同", true},
        ExcelCase{"string_after_the_split", workbookFile({splitSharedStrings()}, kTwoSheets),
                  "第二个", true},
        ExcelCase{"absent_from_strings", workbookFile({splitSharedStrings()}, kTwoSheets), "协议",
                  false},
        ExcelCase{"ascii_without_other_cells", workbookFile({splitSharedStrings()}, kTwoSheets),
                  "2019", false},
        ExcelCase{"label_cell",
                  workbookFile({}, {{"S", {record(0x0204, cellHeader() + xlString("旧名称"))}}}),
                  "旧名称", true},
        ExcelCase{
            "compressed_label",
            workbookFile(
                {}, {{"S", {record(0x0204, cellHeader() + xlString("Old Name", false, false))}}}),
            "old name", true},
        ExcelCase{"formula_string_literal",
                  workbookFile({}, {{"S", {formulaWithString("签订日期")}}}), "签订", true},
        ExcelCase{
            "formula_without_the_text",
            workbookFile({}, {{"S", {formulaWithString("签订日期"), stringResult("结果文本")}}}),
            "合同", false},
        ExcelCase{"formula_string_result", workbookFile({}, {{"S", {stringResult("结果文本")}}}),
                  "结果", true},
        ExcelCase{"formula_makes_ascii_maybe", workbookFile({}, {{"S", {stringResult("x")}}}),
                  "sum", true},
        ExcelCase{"sheet_name", workbookFile({}, {{"年度报表", {}}}), "报表", true},
        ExcelCase{"defined_name", workbookFile({definedName("区域名")}, kTwoSheets), "区域", true},
        ExcelCase{"number_with_ascii", workbookFile({}, {{"S", {number()}}}), "2019", true},
        ExcelCase{"number_with_latin_word", workbookFile({}, {{"S", {number()}}}), "Mär", true},
        ExcelCase{"number_with_chinese", workbookFile({}, {{"S", {number()}}}), "合同", false},
        ExcelCase{"number_with_localized_date_format",
                  workbookFile({xfWithFormat(31)}, {{"S", {number()}}}), "年", true},
        ExcelCase{"encrypted", workbookFile({record(0x002F, std::string(6, '\0'))}, kTwoSheets),
                  "协议", true},
        ExcelCase{"chart_sheet", workbookFile({}, {{"S", {}}, {"Chart", {}, 2, 0, 0x20}}), "协议",
                  true},
        ExcelCase{"hidden_sheet", workbookFile({}, {{"S", {}}, {"H", {}, 0, 1}}), "协议", true},
        ExcelCase{
            "dialog_sheet",
            workbookFile({}, {{"S", {}}, {"D", {record(0x0081, std::string("\x10\x04", 2))}}}),
            "协议", true},
        ExcelCase{"link_to_another_file",
                  workbookFile({record(0x01AE, std::string("\x01\x00\x05\x00\x00a.xls", 9) +
                                                   xlString("Sheet1"))},
                               kTwoSheets),
                  "协议", true},
        ExcelCase{"link_to_itself",
                  workbookFile({record(0x01AE, std::string("\x02\x00\x01\x04", 4))}, kTwoSheets),
                  "协议", false},
        ExcelCase{"excel_95_stream", workbookFile({}, kTwoSheets, u"Book"), "协议", true},
        ExcelCase{"no_sheets", workbookFile({}, {}), "协议", true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WorkbookStrings, WorksheetNamesInTheWorkbooksOrder) {
    const auto answer = formats::workbookMayHold(
        workbookFile({}, {{"第三季度", {}}, {"Sheet1", {}}, {"A-B", {}}}), "协议");
    ASSERT_FALSE(answer.mayHold);
    EXPECT_EQ(answer.worksheets, (std::vector<std::string>{"第三季度", "Sheet1", "A-B"}));
}

// ---------------------------------------------------------------- damaged files

TEST(DamagedFiles, AreMaybe) {
    const std::string doc = unicodeDocument("Contract ACME\r");
    const std::string book = workbookFile({splitSharedStrings()}, kTwoSheets);
    ASSERT_FALSE(formats::wordDocumentMayHold(doc, "absent"));
    ASSERT_FALSE(formats::workbookMayHold(book, "协议").mayHold);
    std::mt19937 random(20190101);
    std::vector<std::string> files{"", std::string(4096, '\0'), "plain text, not a compound file"};
    std::string noise(70000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    files.push_back(noise);
    for (std::size_t cut = 0; cut < doc.size(); cut += 97)
        files.push_back(doc.substr(0, cut));
    for (const auto& f : files) {
        EXPECT_TRUE(formats::wordDocumentMayHold(f, "absent")) << f.size() << " bytes";
        EXPECT_TRUE(formats::workbookMayHold(f, "协议").mayHold) << f.size() << " bytes";
    }
}

// Random damage with a fixed seed: every answer comes back (no crash, no
// hang, no exception escaping).
TEST(DamagedFiles, RandomMutationsAlwaysAnswer) {
    const std::string doc = binary_documents::wordDocument(
        pieces({{u"Contract 合同 ACME\r", false}, {u"Hello World\r", true}}));
    const std::string book = workbookFile({splitSharedStrings(), definedName("区域名")},
                                          {{"S", {number(), stringResult("结果文本")}}, {"T", {}}});
    std::mt19937 random(42);
    int answered = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string f = (i % 2 == 0) ? doc : book;
        const int kind = static_cast<int>(random() % 4);
        const std::size_t at = random() % f.size();
        if (kind == 0) {
            for (int k = 0; k < 4; ++k)
                f[random() % f.size()] = static_cast<char>(random());
        } else if (kind == 1 && at + 4 <= f.size()) {
            const std::uint32_t values[] = {
                0xFFFFFFFF, 0xFFFFFFFE, 0x7FFFFFFF, 0, 1, static_cast<std::uint32_t>(random())};
            putU32(f, at & ~std::size_t{3}, values[random() % 6]);
        } else if (kind == 2) {
            f.resize(at);
        } else {
            const std::size_t n = std::min<std::size_t>(random() % 600, f.size() - at);
            std::fill(f.begin() + static_cast<std::ptrdiff_t>(at),
                      f.begin() + static_cast<std::ptrdiff_t>(at + n), '\0');
        }
        if (i % 2 == 0)
            formats::wordDocumentMayHold(f, "合同 acme");
        else
            formats::workbookMayHold(f, "结果");
        ++answered;
    }
    EXPECT_EQ(answered, 3000);
}

} // namespace
