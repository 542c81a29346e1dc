// Our own Excel replace on workbook packages written byte by byte: what it
// changes (and only there), the lines it gives per worksheet, and every kind
// of workbook it must leave to the office. The office's own results on
// workbooks it made are compared in tests/suites/libreoffice/.

#include "core/engines/builtin_workbook.h"
#include "core/formats/zip_package.h"
#include "support/zip_documents.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using binary_documents::PackageSheet;
using binary_documents::workbookPackage;
using binary_documents::WorkbookParts;
using engines::Operation;
using engines::ReplacePair;

std::string s(const std::string& ref, int index, const std::string& attributes = "") {
    return "<c r=\"" + ref + "\" t=\"s\"" + attributes + "><v>" + std::to_string(index) +
           "</v></c>";
}
std::string row(const std::string& cells, const std::string& attributes = "") {
    return "<row r=\"1\"" + attributes + ">" + cells + "</row>";
}
std::string si(const std::string& text) {
    return "<si><t>" + text + "</t></si>";
}

// Two sheets sharing the string 0; sheet 二 also has string 1. A hidden
// sheet and a row hidden by hand are searched as the others.
WorkbookParts twoSheets(const std::string& shared, const std::string& other = "other") {
    WorkbookParts parts;
    parts.sheets.emplace_back("一", row(s("A1", 0), " hidden=\"1\""));
    parts.sheets.emplace_back("二", row(s("A1", 1) + s("B1", 0)), "hidden");
    parts.sharedStrings = si(shared) + si(other);
    return parts;
}

// Each worksheet as "name:pairs" ("-" when nothing was replaced).
std::string linesOf(const engines::BuiltinResult& result) {
    std::string lines;
    for (const auto& part : result.parts) {
        lines += (lines.empty() ? "" : " ") + part.name + ":";
        for (const std::size_t pair : part.pairsReplaced)
            lines += std::to_string(pair);
        if (!part.replaced)
            lines += "-";
    }
    return lines;
}

engines::BuiltinResult run(const std::string& bytes, const std::vector<ReplacePair>& pairs) {
    return engines::WorkbookPackageEngine().replace(Operation::ExcelReplace, bytes, pairs);
}

TEST(BuiltinWorkbook, TakesWorkbookPackagesOfTheExcelReplaceOnly) {
    const engines::WorkbookPackageEngine engine;
    EXPECT_TRUE(engine.handles(Operation::ExcelReplace, "报表.XLSX"));
    EXPECT_TRUE(engine.handles(Operation::ExcelReplace, "a.b.xlsm"));
    EXPECT_FALSE(engine.handles(Operation::ExcelReplace, "a.xls"));
    EXPECT_FALSE(engine.handles(Operation::ExcelReplace, "xlsx"));
    EXPECT_FALSE(engine.handles(Operation::WordReplace, "a.xlsx"));
}

TEST(BuiltinWorkbook, ChangesOnlyTheTextsThatChange) {
    WorkbookParts inlined;
    inlined.sheets.emplace_back("行", row("<c r=\"A1\" t=\"inlineStr\"><is><t>行内文字</t></is></c>"
                                          "<c r=\"B1\" t=\"inlineStr\"><is><t>别的</t></is></c>"));
    WorkbookParts rich;
    rich.sheets.emplace_back("富", row(s("A1", 0)));
    rich.sharedStrings = "<si><r><rPr><b/></rPr><t>签订</t></r><r><t>合同书</t></r></si>";
    WorkbookParts twoItems = twoSheets("合同甲", "丙合同");
    const struct {
        const char* name;
        WorkbookParts parts;
        std::vector<ReplacePair> pairs;
        std::string lines;
        std::string part;       // the one part that changes
        std::string was, isNow; // a fragment of it before and after
    } cases[] = {
        {"a shared string used on two sheets, changed once",
         twoSheets("合同甲"),
         {{"合同", "协议"}},
         "一:0 二:0",
         "xl/sharedStrings.xml",
         si("合同甲"),
         si("协议甲")},
        {"only the item that holds it",
         twoItems,
         {{"丙", "丁"}},
         "一:- 二:0",
         "xl/sharedStrings.xml",
         si("丙合同"),
         si("丁合同")},
        {"inline strings",
         inlined,
         {{"行内", "单元格"}},
         "行:0",
         "xl/worksheets/sheet1.xml",
         "<t>行内文字</t></is></c><c r=\"B1\" t=\"inlineStr\"><is><t>别的</t>",
         "<t>单元格文字</t></is></c><c r=\"B1\" t=\"inlineStr\"><is><t>别的</t>"},
        {"a match across runs goes to the first run",
         rich,
         {{"订合", "订立"}},
         "富:0",
         "xl/sharedStrings.xml",
         "<t>签订</t></r><r><t>合同书</t>",
         "<t>签订立</t></r><r><t>同书</t>"},
        {"pairs in order, each over the result before",
         twoSheets("甲"),
         {{"甲", "乙"}, {"", "x"}, {"乙", "丙丙"}, {"丙丙", "丁"}},
         "一:023 二:023",
         "xl/sharedStrings.xml",
         si("甲"),
         si("丁")},
        {"a pair that matches only after another",
         twoSheets("甲", "乙"),
         {{"乙", "丙"}, {"甲", "乙"}},
         "一:1 二:01",
         "xl/sharedStrings.xml",
         si("甲") + si("乙"),
         si("乙") + si("丙")},
        {"ASCII letters in either case; markup escaped",
         twoSheets("Acme Co"),
         {{"aCME", "<&>"}},
         "一:0 二:0",
         "xl/sharedStrings.xml",
         si("Acme Co"),
         si("&lt;&amp;&gt; Co")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = workbookPackage(c.parts);
        const auto result = run(before, c.pairs);
        ASSERT_TRUE(result.done) << result.reason;
        EXPECT_EQ(linesOf(result), c.lines);
        const formats::ZipPackage was(before), now(result.newContent);
        ASSERT_EQ(now.entries().size(), was.entries().size());
        for (std::size_t i = 0; i < was.entries().size(); ++i) {
            const auto& entry = was.entries()[i];
            if (entry.name != c.part) {
                EXPECT_EQ(now.rawRecord(now.entries()[i]), was.rawRecord(entry)) << entry.name;
                continue;
            }
            std::string expected = was.read(entry);
            const std::size_t at = expected.find(c.was);
            ASSERT_NE(at, std::string::npos);
            expected.replace(at, c.was.size(), c.isNow);
            EXPECT_EQ(now.read(now.entries()[i]), expected);
        }
    }
}

TEST(BuiltinWorkbook, NothingFoundIsNeverWritten) {
    const auto result = run(workbookPackage(twoSheets("合同")), {{"不存在", "x"}, {"", "y"}});
    ASSERT_TRUE(result.done);
    EXPECT_EQ(linesOf(result), "一:- 二:-");
    EXPECT_TRUE(result.newContent.empty());
}

TEST(BuiltinWorkbook, DeclinesWhatTheOfficeCouldDoOtherwise) {
    const auto one = [](const std::string& sheetData, const std::string& strings = si("合同"),
                        const std::string& after = "", const std::string& styles = "") {
        WorkbookParts parts;
        parts.sheets.emplace_back("一", sheetData, "", "worksheet", after);
        parts.sharedStrings = strings;
        parts.styles = styles;
        return workbookPackage(parts);
    };
    WorkbookParts chart = twoSheets("合同");
    chart.sheets.emplace_back("图", "", "", "chartsheet");
    WorkbookParts table = twoSheets("合同");
    table.sheets[1].related = "table";
    const std::string textFormat =
        "<numFmts count=\"1\"><numFmt numFmtId=\"164\" "
        "formatCode=\"&quot;编号&quot;@\"/></numFmts><cellXfs count=\"2\">"
        "<xf numFmtId=\"0\"/><xf numFmtId=\"164\"/></cellXfs>";
    std::string flagged = workbookPackage(twoSheets("合同"));
    flagged[6] = 1; // the first local header's flags, not the central record's
    binary_documents::ZipLayout encrypted;
    encrypted.items.emplace_back();
    encrypted.items.back().name = "_rels/.rels";
    encrypted.items.back().flags = 1;
    const std::string good = workbookPackage(twoSheets("合同"));
    const struct {
        const char* name;
        std::string bytes;
        std::string find, replacement;
    } cases[] = {
        {"an ASCII text beside any formula",
         one(row(s("A1", 0) + "<c r=\"B1\"><f>SUM(1)</f><v>1</v></c>"), si("abc")), "abc", "x"},
        {"a formula that holds the text", one(row("<c r=\"A1\"><f>\"合同\"&amp;\"\"</f></c>")),
         "合同", "x"},
        {"digits beside a number",
         one(row(s("A1", 0) + "<c r=\"B1\"><v>2019</v></c>"), si("2019年")), "2019", "x"},
        {"a number format that holds the text",
         one(row(s("A1", 1) + "<c r=\"B1\"><v>1</v></c>"), si("x") + si("编号"), "", textFormat),
         "编号", "x"},
        {"a text format that shows more than the text",
         one(row(s("A1", 0, " s=\"1\"")), si("合同"), "", textFormat), "合同", "x"},
        {"a hidden row under an autofilter",
         one(row(s("A1", 0), " hidden=\"1\""), si("合同"), "<autoFilter ref=\"A1:A1\"/>"), "合同",
         "x"},
        {"a protected sheet", one(row(s("A1", 0)), si("合同"), "<sheetProtection sheet=\"1\"/>"),
         "合同", "x"},
        {"a chart sheet", workbookPackage(chart), "合同", "x"},
        {"a sheet with a table", workbookPackage(table), "合同", "x"},
        {"an escape that reads as the text", one(row(s("A1", 0)), si("合_x540C_")), "合同", "x"},
        {"a leading apostrophe", one(row(s("A1", 0)), si("x")), "'x", "y"},
        {"a full-width variant of the text", one(row(s("A1", 0)), si("ＡＢＣ")), "abc", "x"},
        {"a result the office may take for a number", one(row(s("A1", 0)), si("号1")), "号", ""},
        {"a text that reads as a date", one(row(s("A1", 0)), si("Jan 5 合")), " 合", ""},
        {"spaces at the edge without xml:space", one(row(s("A1", 0))), "合", " 前"},
        {"an _xHHHH_ escape", one(row(s("A1", 0)), si("合同_x000D_")), "合同", "x"},
        {"a phonetic run",
         one(row(s("A1", 0)), "<si><t>合同</t><rPh sb=\"0\" eb=\"1\"><t>ごう</t></rPh></si>"),
         "合同", "x"},
        {"a control character in the replacement", one(row(s("A1", 0))), "合同", "\x01"},
        {"a text past the cell's length", one(row(s("A1", 0)), si([] {
                                                  std::string t;
                                                  for (int i = 0; i < 20000; ++i)
                                                      t += "合";
                                                  return t;
                                              }())),
         "合", "合合"},
        {"an index past the table", one(row(s("A1", 5))), "合同", "x"},
        {"a formula's result kept as the shared string",
         one(row(s("A1", 0) + "<c r=\"B1\" t=\"s\"><f>A1</f><v>0</v></c>")), "合同", "x"},
        {"a cell past the office's columns", one(row(s("AMK1", 0))), "合同", "x"},
        {"truncated", good.substr(0, good.size() / 2), "合同", "x"},
        {"flags that disagree", flagged, "合同", "x"},
        {"an encrypted entry", binary_documents::zipArchive(encrypted), "合同", "x"},
        {"not a package", "合同 plain text", "合同", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = run(c.bytes, {{c.find, c.replacement}});
        EXPECT_FALSE(result.done);
        EXPECT_NE(result.reason.find("办公软件"), std::string::npos) << result.reason;
        EXPECT_TRUE(result.newContent.empty());
    }
}

TEST(BuiltinWorkbook, RandomDamageNeitherCrashesNorHangs) {
    WorkbookParts parts = twoSheets("", "");
    parts.sharedStrings = "<si><r><t>合</t></r><r><t>同甲</t></r></si><si><t>丙合同</t></si>";
    parts.sheets[0].sheetData = row(
        s("A1", 0) + "<c r=\"B1\" t=\"inlineStr\"><is><r><t>合</t></r><r><t>同</t></r></is></c>");
    const std::string good = workbookPackage(parts);
    std::mt19937 random(20261209);
    const std::string markup = "<>/=\"&;tsirvcfis01 ";
    int done = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes;
        const int flips = 1 + static_cast<int>(random() % 8);
        if (round % 2 == 0) {
            // The zip damaged: caught by its checks, mostly.
            bytes = good;
            for (int k = 0; k < flips; ++k)
                bytes[random() % bytes.size()] = static_cast<char>(random());
            if (round % 10 == 0)
                bytes.resize(random() % bytes.size());
        } else {
            // The XML damaged inside a sound zip: only the parts' readers stand.
            WorkbookParts damaged = parts;
            std::string& xml = round % 4 == 1 ? damaged.sharedStrings : damaged.sheets[0].sheetData;
            for (int k = 0; k < 1 + flips % 2; ++k)
                xml[random() % xml.size()] = markup[random() % markup.size()];
            bytes = workbookPackage(damaged);
        }
        const auto result = run(bytes, {{"合同", "协议"}, {"协", "x"}});
        if (result.done) {
            ++done;
            EXPECT_EQ(result.parts.size(), 2u);
            if (!result.newContent.empty()) {
                EXPECT_NO_THROW(formats::ZipPackage{result.newContent});
            }
        } else {
            EXPECT_FALSE(result.reason.empty());
        }
    }
    // Much damage still leaves a workbook; much does not.
    EXPECT_GT(done, 0);
    EXPECT_LT(done, 400);
}

} // namespace
