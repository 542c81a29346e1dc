// The prescan of .docx and .xlsx packages written byte by byte: what counts
// as the main text and as a cell's text, what is a doubt, the file's content
// deciding over its name, and damaged packages. The office's own answers on
// packages it made are compared in tests/suites/libreoffice/.

#include "core/formats/compound_file.h"
#include "core/formats/prescan.h"
#include "support/binary_documents.h"
#include "support/temp_folder.h"
#include "support/zip_documents.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using binary_documents::PackageSheet;
using binary_documents::wordPackage;
using binary_documents::workbookPackage;
using binary_documents::WorkbookParts;

using binary_documents::wordml::field;
using binary_documents::wordml::p;
using binary_documents::wordml::r;
using binary_documents::wordml::textBox;

// Found: "maybe", and a text that is nowhere gets "certainly not" (so the
// "maybe" came from the text); Absent: "certainly not"; Doubt: "maybe" for
// any text.
enum Answer { Found, Absent, Doubt };
const std::string kNowhere = "不在文中";

struct WordCase {
    const char* label;
    std::string package;
    std::vector<std::string> find;
    Answer answer;
};

class WordPackages : public testing::TestWithParam<WordCase> {};

TEST_P(WordPackages, AnswerForTheMainText) {
    const WordCase& c = GetParam();
    EXPECT_EQ(formats::wordDocumentMayHold(c.package, c.find), c.answer != Absent);
    EXPECT_EQ(formats::wordDocumentMayHold(c.package, kNowhere), c.answer == Doubt);
}

const std::string kTable = "<w:tbl><w:tr><w:tc>" + p(r("甲方")) + "</w:tc><w:tc>" + p(r("乙方")) +
                           "</w:tc></w:tr></w:tbl>";
const std::string kTracked = p(r("前文") + "<w:del><w:r><w:delText>删除</w:delText></w:r></w:del>" +
                               "<w:ins>" + r("插入") + "</w:ins>" + r("后文"));
const std::string kJoined =
    "<w:p><w:pPr><w:rPr><w:del/></w:rPr></w:pPr>" + r("上段") + "</w:p>" + p(r("下段"));

INSTANTIATE_TEST_SUITE_P(
    Documents, WordPackages,
    testing::Values(
        WordCase{"body", wordPackage(p(r("合同编号 ACME"))), {"acme"}, Found},
        WordCase{"absent", wordPackage(p(r("合同编号 ACME"))), {"协议"}, Absent},
        WordCase{"any_of_several", wordPackage(p(r("合同编号"))), {"协议", "编号"}, Found},
        WordCase{"none_of_several", wordPackage(p(r("合同编号"))), {"协议", "甲方"}, Absent},
        WordCase{"split_runs",
                 wordPackage(p(r("Mixed Ca") + r("se 文") + r("字"))),
                 {"case 文字"},
                 Found},
        WordCase{"table_cell", wordPackage(kTable), {"乙方"}, Found},
        WordCase{"across_cells", wordPackage(kTable), {"甲方乙方"}, Absent},
        WordCase{
            "across_paragraphs", wordPackage(p(r("第一")) + p(r("第二"))), {"第一第二"}, Absent},
        WordCase{"across_a_tab",
                 wordPackage(p(r("前") + "<w:r><w:tab/></w:r>" + r("后"))),
                 {"前后"},
                 Absent},
        WordCase{"tab_stops_are_not_text",
                 wordPackage("<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs>"
                             "</w:pPr>" +
                             r("前") + r("后") + "</w:p>"),
                 {"前后"},
                 Found},
        WordCase{"field_result",
                 wordPackage(p(r("电话 ") + field(" HYPERLINK x ", "公司") + r("号"))),
                 {"电话 公司号"},
                 Found},
        WordCase{"field_code",
                 wordPackage(p(r("电话") + field("HYPERLINK", "公司"))),
                 {"电话hyperlink"},
                 Found},
        WordCase{"field_neither_way",
                 wordPackage(p(r("电话") + field("HYPERLINK", "公司"))),
                 {"hyperlink电话"},
                 Absent},
        WordCase{"simple_field",
                 wordPackage(p("<w:fldSimple w:instr=\" PAGE \">" + r("页码") + "</w:fldSimple>")),
                 {"页码"},
                 Found},
        WordCase{"deleted_text_shown", wordPackage(kTracked), {"前文删除插入"}, Found},
        WordCase{"deleted_text_hidden", wordPackage(kTracked), {"前文插入后文"}, Found},
        WordCase{"tracked_absent", wordPackage(kTracked), {"删除后文"}, Absent},
        WordCase{"deleted_paragraph_mark_joins", wordPackage(kJoined), {"上段下段"}, Found},
        WordCase{
            "paragraph_mark_kept", wordPackage(p(r("上段")) + p(r("下段"))), {"上段下段"}, Absent},
        WordCase{"text_box_only",
                 wordPackage(p(r("正文") + textBox("框内文字") + r("结束"))),
                 {"框内文字"},
                 Absent},
        WordCase{"text_around_a_text_box",
                 wordPackage(p(r("正文") + textBox("框内文字") + r("结束"))),
                 {"正文结束"},
                 Found},
        WordCase{"ruby_base",
                 wordPackage(p("<w:r><w:ruby><w:rt>" + r("pinyin") + "</w:rt><w:rubyBase>" +
                               r("汉字") + "</w:rubyBase></w:ruby></w:r>")),
                 {"汉字"},
                 Found},
        WordCase{"symbol_and_hyphens",
                 wordPackage(p(r("e") + "<w:r><w:noBreakHyphen/><w:softHyphen/></w:r>" + r("mail") +
                               "<w:r><w:sym w:font=\"Symbol\" w:char=\"03A9\"/></w:r>")),
                 {"e-mailΩ"},
                 Found},
        WordCase{"main_part_by_its_relationship",
                 wordPackage(p(r("正文")), "content/main.xml"),
                 {"正文"},
                 Found},
        WordCase{"main_part_absent_by_its_relationship",
                 wordPackage(p(r("正文")), "content/main.xml"),
                 {"协议"},
                 Absent},
        WordCase{"unknown_find_text", wordPackage(p(r("正文"))), {"مرحبا"}, Found},
        WordCase{"no_find_text", wordPackage(p(r("正文"))), {}, Found},
        // Doubts.
        WordCase{"text_in_alternate_content",
                 wordPackage(p("<mc:AlternateContent><mc:Choice Requires=\"w14\">" + r("甲") +
                               "</mc:Choice><mc:Fallback>" + r("乙") +
                               "</mc:Fallback></mc:AlternateContent>")),
                 {"协议"},
                 Doubt},
        WordCase{"edge_spaces_without_preserve",
                 wordPackage(p("<w:r><w:t>a </w:t></w:r>" + r("b"))),
                 {"协议"},
                 Doubt},
        WordCase{"equation",
                 wordPackage(p("<m:oMath><m:r><m:t>x</m:t></m:r></m:oMath>")),
                 {"协议"},
                 Doubt},
        WordCase{"embedded_document", wordPackage("<w:altChunk r:id=\"rId9\"/>"), {"协议"}, Doubt},
        WordCase{"strict_namespace",
                 wordPackage(p(r("正文")), "word/document.xml",
                             "http://purl.oclc.org/ooxml/wordprocessingml/main"),
                 {"协议"},
                 Doubt}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- workbooks

std::string cell(const std::string& ref, const std::string& type, const std::string& inner) {
    return "<c r=\"" + ref + "\"" + (type.empty() ? "" : " t=\"" + type + "\"") + ">" + inner +
           "</c>";
}
std::string row(const std::string& cells) {
    return "<row r=\"1\">" + cells + "</row>";
}

WorkbookParts book(std::vector<PackageSheet> sheets, std::string strings = "",
                   std::string styles = "") {
    WorkbookParts w;
    w.sheets = std::move(sheets);
    w.sharedStrings = std::move(strings);
    w.styles = std::move(styles);
    return w;
}

const std::string kStrings =
    "<si><t>合同编号</t></si><si><r><t>富</t></r><r><rPr><b/></rPr><t>文本</t></r>"
    "<rPh sb=\"0\" eb=\"1\"><t>フリガナ</t></rPh></si><si><t>a_x000D_b_x4E2D_</t></si>";
const std::string kSharedCell = row(cell("A1", "s", "<v>0</v>"));
const std::string kNumber = row(cell("A1", "", "<v>2019</v>"));

struct WorkbookCase {
    const char* label;
    WorkbookParts parts;
    std::string find;
    Answer answer;
};

class WorkbookPackages : public testing::TestWithParam<WorkbookCase> {};

TEST_P(WorkbookPackages, AnswerForCellsAndFormulas) {
    const WorkbookCase& c = GetParam();
    const std::string package = workbookPackage(c.parts);
    const auto answer = formats::workbookMayHold(package, c.find);
    EXPECT_EQ(answer.mayHold, c.answer != Absent);
    EXPECT_EQ(formats::workbookMayHold(package, kNowhere).mayHold, c.answer == Doubt);
    if (!answer.mayHold) {
        std::vector<std::string> names;
        for (const auto& s : c.parts.sheets)
            names.push_back(s.name);
        EXPECT_EQ(answer.worksheets, names);
    }
}

WorkbookParts unusual(WorkbookParts w) {
    w.unusualNames = true;
    return w;
}

INSTANTIATE_TEST_SUITE_P(
    Workbooks, WorkbookPackages,
    testing::Values(
        WorkbookCase{"shared_string", book({{"S", kSharedCell}}, kStrings), "合同", Found},
        WorkbookCase{"absent", book({{"S", kSharedCell}, {"第二页", kSharedCell}}, kStrings),
                     "协议", Absent},
        WorkbookCase{"rich_text_runs", book({{"S", kSharedCell}}, kStrings), "富文本", Found},
        WorkbookCase{"phonetic_runs_are_not_text", book({{"S", kSharedCell}}, kStrings),
                     "フリガナ", Absent},
        WorkbookCase{"escaped_characters", book({{"S", kSharedCell}}, kStrings), "b中", Found},
        WorkbookCase{"inline_string",
                     book({{"S", row(cell("A1", "inlineStr", "<is><t>行内文字</t></is>"))}}),
                     "行内", Found},
        WorkbookCase{"inline_rich_string",
                     book({{"S", row(cell("A1", "inlineStr",
                                          "<is><r><t>行</t></r><r><t>内</t></r></is>"))}}),
                     "行内", Found},
        WorkbookCase{"formula_text",
                     book({{"S", row(cell("A1", "str", "<f>\"签订\"&amp;B1</f><v>签订x</v>"))}}),
                     "\"签订\"&", Found},
        WorkbookCase{"formula_string_result",
                     book({{"S", row(cell("A1", "str", "<f>B1</f><v>结果文本</v>"))}}), "结果",
                     Found},
        WorkbookCase{"formula_without_the_text",
                     book({{"S", row(cell("A1", "str", "<f>B1</f><v>结果</v>"))}}), "合同",
                     Absent},
        WorkbookCase{"formula_and_an_ascii_find_text",
                     book({{"S", row(cell("A1", "", "<f>SUM(B1:B2)</f><v>3</v>"))}}), "sum(",
                     Found},
        WorkbookCase{"shared_formula_and_a_digit",
                     book({{"S", row(cell("A1", "str", "<f t=\"shared\" si=\"0\" ref=\"A1:A2\">"
                                                       "\"合\"&amp;B1</f><v>合</v>") +
                                     cell("A2", "str", "<f t=\"shared\" si=\"0\"/><v>合</v>"))}}),
                     "合\"&b2", Found},
        WorkbookCase{"number_and_digits", book({{"S", kNumber}}), "2019", Found},
        WorkbookCase{"number_and_a_latin_word", book({{"S", kNumber}}), "Mär", Found},
        WorkbookCase{"number_and_a_chinese_text", book({{"S", kNumber}}), "合同", Absent},
        WorkbookCase{"date_and_a_chinese_text",
                     book({{"S", row(cell("A1", "d", "<v>2019-05-01T00:00:00</v>"))}}), "年",
                     Absent},
        WorkbookCase{"number_with_a_format_text",
                     book({{"S", kNumber}}, "",
                          "<numFmts count=\"1\"><numFmt numFmtId=\"164\" "
                          "formatCode=\"0&quot;件&quot;\"/></numFmts>"),
                     "件", Found},
        WorkbookCase{"format_text_without_numbers",
                     book({{"S", kSharedCell}}, kStrings,
                          "<numFmts count=\"1\"><numFmt numFmtId=\"164\" "
                          "formatCode=\"0&quot;件&quot;\"/></numFmts>"),
                     "件", Absent},
        WorkbookCase{"parts_found_through_relationships",
                     unusual(book({{"一", kSharedCell}, {"二", kNumber}}, kStrings)), "编号",
                     Found},
        WorkbookCase{"names_in_workbook_order",
                     unusual(book({{"第三季度", kSharedCell}, {"Sheet1", ""}, {"A-B", ""}},
                                  kStrings)),
                     "协议", Absent},
        // Doubts.
        WorkbookCase{"number_with_a_localized_format",
                     book({{"S", kNumber}}, "",
                          "<cellXfs count=\"1\"><xf numFmtId=\"31\"/></cellXfs>"),
                     "年", Doubt},
        WorkbookCase{"hidden_sheet",
                     book({{"S", kSharedCell}, {"H", kSharedCell, "hidden"}}, kStrings), "协议",
                     Doubt},
        WorkbookCase{"chart_sheet",
                     book({{"S", kSharedCell}, {"C", "", "", "chartsheet"}}, kStrings), "协议",
                     Doubt},
        WorkbookCase{"links_to_other_workbooks",
                     [] {
                         auto w = book({{"S", kSharedCell}}, kStrings);
                         w.workbookExtra = "<externalReferences><externalReference r:id=\"x\"/>"
                                           "</externalReferences>";
                         return w;
                     }(),
                     "协议", Doubt},
        WorkbookCase{"no_sheets", book({}, kStrings), "协议", Doubt}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- content decides

TEST(PackagePrescan, TheContentDecidesNotTheName) {
    testing_support::TempFolder folder;
    const std::string docx = wordPackage(p(r("合同编号")));
    binary_documents::WordDocumentLayout layout;
    layout.pieces.push_back({u"合同编号\r", false});
    const std::string doc = binary_documents::wordDocument(layout);
    const std::string xlsx = workbookPackage(book({{"S", kSharedCell}}, kStrings));
    struct File {
        const char* name;
        const std::string& bytes;
        bool word;
    };
    for (const File& f : {File{"package.doc", docx, true}, File{"compound.docx", doc, true},
                          File{"package.xls", xlsx, false}}) {
        SCOPED_TRACE(f.name);
        testing_support::writeFile(folder / f.name, f.bytes);
        if (f.word) {
            EXPECT_TRUE(
                formats::wordFileMayHold(folder / f.name, std::vector<std::string>{"编号"}));
            EXPECT_FALSE(formats::wordFileMayHold(folder / f.name, "协议"));
            // A workbook question on a Word file: never "certainly not".
            EXPECT_TRUE(formats::workbookFileMayHold(folder / f.name, "协议").mayHold);
        } else {
            EXPECT_TRUE(formats::workbookFileMayHold(folder / f.name, "编号").mayHold);
            EXPECT_FALSE(
                formats::workbookFileMayHold(folder / f.name, std::vector<std::string>{"协议"})
                    .mayHold);
            EXPECT_TRUE(formats::wordFileMayHold(folder / f.name, "协议"));
        }
    }
}

// ---------------------------------------------------------------- damage

TEST(PackagePrescan, DamagedPackagesAreMaybe) {
    const std::string docx = wordPackage(p(r("合同编号 ACME")) + kTable);
    const std::string xlsx = workbookPackage(book({{"S", kSharedCell}, {"T", kNumber}}, kStrings));
    ASSERT_FALSE(formats::wordDocumentMayHold(docx, "协议"));
    ASSERT_FALSE(formats::workbookMayHold(xlsx, "协议").mayHold);

    // A bomb: the main part declares a small size and inflates to 64 MB.
    binary_documents::ZipLayout bomb;
    bomb.items.resize(2);
    bomb.items[0].name = "_rels/.rels";
    bomb.items[0].content = "<Relationships xmlns=\"http://schemas.openxmlformats.org/"
                            "package/2006/relationships\"><Relationship Id=\"a\" "
                            "Type=\"http://schemas.openxmlformats.org/officeDocument/"
                            "2006/relationships/officeDocument\" Target=\"d.xml\"/>"
                            "</Relationships>";
    bomb.items[1].name = "d.xml";
    bomb.items[1].content = std::string(64u << 20, ' ');
    std::string bombed = binary_documents::zipArchive(bomb);
    const std::size_t central = formats::readU32(bombed, bombed.size() - 6);
    const std::size_t local = formats::readU32(bombed, central + 46 + 11 + 42);
    binary_documents::putU32(bombed, local + 22, 100);
    binary_documents::putU32(bombed, central + 46 + 11 + 24, 100);
    EXPECT_TRUE(formats::wordDocumentMayHold(bombed, "协议"));

    std::mt19937 random(20250101);
    for (int i = 0; i < 2000; ++i) {
        std::string f = i % 2 ? xlsx : docx;
        const std::size_t at = random() % f.size();
        if (i % 3 == 0)
            f.resize(at);
        else
            for (int k = 0; k < 4; ++k)
                f[random() % f.size()] = static_cast<char>(random());
        // Every answer comes back; a damaged package is never read as one
        // that certainly lacks the text unless its parts still parse.
        if (i % 2)
            (void)formats::workbookMayHold(f, "协议");
        else
            (void)formats::wordDocumentMayHold(f, "协议");
        if (i % 3 == 0) {
            EXPECT_TRUE(i % 2 ? formats::workbookMayHold(f, "协议").mayHold
                              : formats::wordDocumentMayHold(f, "协议"))
                << "truncated at " << at;
        }
    }
}

} // namespace
