// The prescan against the office as the oracle: documents the office made
// (and one whose piece table is rewritten with compressed pieces), each with
// the text in a different place. Wherever the office's Find finds the text,
// the prescan must say "maybe"; and the replace runs give the same lines and
// journal entries with the prescan as without it.

#include "cli/cli.h"
#include "core/engines/excel_replace.h"
#include "core/engines/prescan.h"
#include "core/engines/word_replace.h"
#include "core/formats/compound_file.h"
#include "core/formats/prescan.h"
#include "core/formats/word_text.h"
#include "core/text/encoding.h"
#include "office_test_support.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/binary_documents.h"
#include "support/fake_window.h"
#include "support/temp_folder.h"
#include "support/zip_documents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

using automation::Object;
using automation::Value;
using office_testing::Sheet;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- compressed pieces

std::uint32_t u32At(const std::string& s, std::size_t at) {
    return formats::readU32(s, at);
}

// Rewrites an office-made document so that the leading characters of its
// first piece that fit in 8 bits become a compressed piece: the text is
// written 8-bit in place, the piece is split in two, and every text position
// in the formatting tables (the bin tables and their pages) is moved along.
std::string withCompressedPieces(const std::string& file) {
    const formats::CompoundFile cf(file);
    std::string doc = *cf.stream(u"WordDocument");
    const bool table1 = (formats::readU16(doc, 0x0A) & 0x0200) != 0;
    const std::u16string tableName = table1 ? u"1Table" : u"0Table";
    std::string table = *cf.stream(tableName);
    const std::size_t fcLcb = 154;
    auto fcOf = [&](std::size_t index) { return u32At(doc, fcLcb + 8 * index); };
    auto lcbOf = [&](std::size_t index) { return u32At(doc, fcLcb + 8 * index + 4); };

    const std::string clx = table.substr(fcOf(33), lcbOf(33));
    std::size_t at = 0;
    while (clx[at] == 0x01)
        at += 3 + formats::readU16(clx, at + 1);
    const std::string prcs = clx.substr(0, at);
    const std::uint32_t lcb = u32At(clx, at + 1);
    const std::string plc = clx.substr(at + 5, lcb);
    const std::size_t n = (lcb - 4) / 12;
    std::vector<std::uint32_t> cps;
    for (std::size_t i = 0; i <= n; ++i)
        cps.push_back(u32At(plc, 4 * i));
    std::vector<std::string> pcds;
    for (std::size_t i = 0; i < n; ++i)
        pcds.push_back(plc.substr(4 * (n + 1) + 8 * i, 8));

    const std::uint32_t fc0 = u32At(pcds[0], 2);
    if (fc0 & 0x40000000u)
        throw std::runtime_error("the office wrote a compressed piece itself");
    std::size_t k = 0;
    while (k < cps[1] - cps[0]) {
        const std::uint16_t c = formats::readU16(doc, fc0 + 2 * k);
        if (c >= 0x100 || (c >= 0x80 && c < 0xA0))
            break;
        ++k;
    }
    if (k == 0 || k == cps[1] - cps[0])
        throw std::runtime_error("the first piece cannot be split");
    for (std::size_t i = 0; i < k; ++i)
        doc[fc0 + i] = static_cast<char>(formats::readU16(doc, fc0 + 2 * i));

    std::string newPlc;
    std::vector<std::string> newPcds;
    std::vector<std::uint32_t> newCps{cps[0], cps[0] + static_cast<std::uint32_t>(k)};
    std::string a = pcds[0], b = pcds[0];
    binary_documents::putU32(a, 2, (fc0 * 2) | 0x40000000u);
    binary_documents::putU32(b, 2, fc0 + 2 * static_cast<std::uint32_t>(k));
    newPcds = {a, b};
    for (std::size_t i = 1; i < n; ++i) {
        newCps.push_back(cps[i]);
        newPcds.push_back(pcds[i]);
    }
    newCps.push_back(cps[n]);
    for (const auto cp : newCps)
        binary_documents::appendU32(newPlc, cp);
    for (const auto& p : newPcds)
        newPlc += p;
    std::string newClx = prcs + '\x02';
    binary_documents::appendU32(newClx, static_cast<std::uint32_t>(newPlc.size()));
    newClx += newPlc;
    binary_documents::putU32(doc, fcLcb + 8 * 33, static_cast<std::uint32_t>(table.size()));
    binary_documents::putU32(doc, fcLcb + 8 * 33 + 4, static_cast<std::uint32_t>(newClx.size()));
    table += newClx;

    // Text positions in the compressed part move to half their distance.
    const std::uint32_t end = fc0 + 2 * static_cast<std::uint32_t>(k);
    auto moved = [&](std::uint32_t f) { return f >= fc0 && f <= end ? fc0 + (f - fc0) / 2 : f; };
    for (const std::size_t index : {12u, 13u}) { // PlcBteChpx, PlcBtePapx
        const std::size_t base = fcOf(index);
        const std::size_t count = (lcbOf(index) - 4) / 8;
        for (std::size_t i = 0; i <= count; ++i)
            binary_documents::putU32(table, base + 4 * i, moved(u32At(table, base + 4 * i)));
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t page =
                (u32At(table, base + 4 * (count + 1) + 4 * i) & 0x3FFFFF) * 512;
            const std::size_t runs = static_cast<std::uint8_t>(doc[page + 511]);
            for (std::size_t r = 0; r <= runs; ++r)
                binary_documents::putU32(doc, page + 4 * r, moved(u32At(doc, page + 4 * r)));
        }
    }

    std::vector<binary_documents::Stream> streams{{u"WordDocument", doc}, {tableName, table}};
    for (const std::u16string& name : {std::u16string(u"Data"),
                                       std::u16string(u"\x01"
                                                      u"CompObj"),
                                       std::u16string(u"\x05"
                                                      u"SummaryInformation"),
                                       std::u16string(u"\x05"
                                                      u"DocumentSummaryInformation")})
        if (auto s = cf.stream(name))
            streams.emplace_back(name, *s);
    return binary_documents::compoundFile(streams);
}

// ---------------------------------------------------------------- fixture

// One question: the office's answer as we expect it (none: either), and the
// prescan's answer where it is known: "certainly not" where the text is
// outside what the operation searches or nowhere.
struct Question {
    std::string document;
    std::string find;
    std::optional<bool> officeFinds;
    std::optional<bool> prescanMaybe;
};

class PrescanOffice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        reason_ = office_testing::missingOfficeReason();
        if (!reason_.empty())
            return;
        folder_ = new TempFolder;
        const auto text = [](const std::string& body, const std::string& header = "") {
            return office_testing::flatText({body, header, "", ""});
        };
        std::map<std::string, std::string> docs{
            {"body", text("<text:p>合同编号 HT-2019 由 ACME Corp 签订</text:p>")},
            {"table",
             text("<table:table table:name=\"T\"><table:table-column/><table:table-column/>"
                  "<table:table-row><table:table-cell><text:p>甲方名称</text:p></table:table-cell>"
                  "<table:table-cell><text:p>Table Cell Text</text:p></table:table-cell>"
                  "</table:table-row></table:table><text:p/>")},
            {"split", text("<text:p>Mixed Ca<text:span text:style-name=\"B\">se Spl</text:span>"
                           "<text:span text:style-name=\"I\">it 文</text:span>字</text:p>")},
            {"field", text("<text:p>Tel: <text:a xlink:type=\"simple\" "
                           "xlink:href=\"http://example.com/\">ACME 公司</text:a> Corp</text:p>"
                           "<text:p>Page <text:page-number text:select-page=\"current\">1"
                           "</text:page-number> end</text:p>")},
            {"header", text("<text:p>正文</text:p>", "页眉专有文字")},
            {"footnote", text("<text:p>正文<text:note text:id=\"n1\" text:note-class=\"footnote\">"
                              "<text:note-citation>1</text:note-citation><text:note-body><text:p>"
                              "脚注专有文字</text:p></text:note-body></text:note>结束</text:p>")},
            {"textbox",
             text("<text:p>正文<draw:frame draw:name=\"F\" text:anchor-type=\"paragraph\" "
                  "svg:width=\"5cm\" svg:height=\"2cm\"><draw:text-box><text:p>"
                  "文本框专有文字</text:p></draw:text-box></draw:frame>结束</text:p>")},
            {"comment", text("<text:p>正文<office:annotation><dc:creator>A</dc:creator><text:p>"
                             "批注专有文字</text:p></office:annotation>结束</text:p>")},
            {"latin", text("<text:p>Hello World from Straße 合同</text:p>")},
        };
        documents_ = office_testing::makeDocuments(docs, "doc", folder_->path() / "made");
        const fs::path compressed = folder_->path() / "made" / "compressed.doc";
        writeFile(compressed, withCompressedPieces(readFile(documents_.at("latin"))));
        documents_["compressed"] = compressed;
        // The same documents as .docx, and one with tracked changes.
        docs["tracked"] = text(
            "<text:tracked-changes><text:changed-region text:id=\"ct1\"><text:deletion>"
            "<office:change-info><dc:creator>A</dc:creator><dc:date>2020-01-01T00:00:00</dc:date>"
            "</office:change-info><text:p>删除文字</text:p></text:deletion></text:changed-region>"
            "<text:changed-region text:id=\"ct2\"><text:insertion><office:change-info>"
            "<dc:creator>A</dc:creator><dc:date>2020-01-01T00:00:00</dc:date></office:change-info>"
            "</text:insertion></text:changed-region></text:tracked-changes>"
            "<text:p>前文<text:change text:change-id=\"ct1\"/>后文<text:change-start "
            "text:change-id=\"ct2\"/>插入文字<text:change-end text:change-id=\"ct2\"/>结束"
            "</text:p>");
        packages_ = office_testing::makeDocuments(docs, "docx", folder_->path() / "packages");
        standIns(packages_, "doc");

        const auto cell = [](const std::string& formula, const std::string& type,
                             const std::string& value) {
            return "<table:table-cell table:formula=\"of:" + formula + "\" office:value-type=\"" +
                   type + "\" " + (type == "string" ? "office:string-value" : "office:value") +
                   "=\"" + value + "\"><text:p>" + value + "</text:p></table:table-cell>";
        };
        std::map<std::string, std::string> books{
            {"shared",
             office_testing::flatSpreadsheet(
                 {Sheet{"Sheet1", {{"合同编号2019", "other"}}}, Sheet{"第二页", {{"x"}}}})},
            {"literal", office_testing::flatSpreadsheet(
                            {Sheet{"S", {{cell("=LEN(&quot;签订日期&quot;)", "float", "4")}}}})},
            {"result", office_testing::flatSpreadsheet(
                           // Without a kept result the office computes it and
                           // stores it with the formula.
                           {Sheet{"S",
                                  {{"<table:table-cell table:formula=\"of:=UNICHAR(21512)&amp;"
                                    "UNICHAR(21516)\"/>"}}}})},
            {"sheetname", office_testing::flatSpreadsheet(
                              {Sheet{"年度报表", {{"数据"}}},
                               Sheet{"汇总", {{cell("=[$年度报表.A1]", "string", "数据")}}}})},
            {"protected", office_testing::flatSpreadsheet({Sheet{"保护", {{"机密文字"}}, true}})},
            {"number", office_testing::flatSpreadsheet({Sheet{"S", {{"2019"}}}})},
            {"date", office_testing::flatSpreadsheet(
                         {Sheet{"S",
                                {{"<table:table-cell office:value-type=\"date\" "
                                  "office:date-value=\"2019-05-01\"><text:p>2019-05-01</text:p>"
                                  "</table:table-cell>"}}}})},
        };
        workbooks_ = office_testing::makeDocuments(books, "xls", folder_->path() / "made");
        books["twosheets"] = office_testing::flatSpreadsheet(
            {Sheet{"一", {{"共用文字", "1"}}}, Sheet{"二", {{"other", "共用文字"}}}});
        packageBooks_ = office_testing::makeDocuments(books, "xlsx", folder_->path() / "packages");
        // Inline strings, which the office does not write.
        const fs::path inlined = folder_->path() / "packages" / "inline.xlsx";
        binary_documents::WorkbookParts parts;
        parts.sheets.emplace_back("行内", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><r><t>行内"
                                          "</t></r><r><t>文字</t></r></is></c></row>");
        writeFile(inlined, binary_documents::workbookPackage(parts));
        packageBooks_["inline"] = inlined;
        standIns(packageBooks_, "xls");
    }

    static void TearDownTestSuite() {
        for (Object** app : {&word_, &excel_}) {
            if (*app) {
                try {
                    (*app)->call("Quit");
                } catch (const automation::Error&) {
                }
            }
            delete *app;
            *app = nullptr;
        }
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (!reason_.empty())
            GTEST_SKIP() << reason_;
    }

    // The office's Find on the main text (the server answers as Word does).
    // A server that opens only .doc and .xls answers for a package through
    // the office's own conversion of it: the package as the office reads it.
    static void standIns(const std::map<std::string, fs::path>& packages,
                         const std::string& format) {
        std::vector<fs::path> sources;
        for (const auto& [name, path] : packages)
            sources.push_back(path);
        const auto converted =
            office_testing::convert(sources, format, folder_->path() / ("as-" + format));
        for (std::size_t i = 0; i < sources.size(); ++i)
            standIn_[sources[i]] = converted[i];
    }

    // Opens a document, or its stand-in when the server refuses its format.
    static Object open(const Object& application, const char* collection,
                       const fs::path& document) {
        const Object documents = application.get(collection).toObject();
        try {
            return documents.call("Open", {Value(document.string())}).toObject();
        } catch (const automation::Error&) {
            const auto standIn = standIn_.find(document);
            if (standIn == standIn_.end())
                throw;
            return documents.call("Open", {Value(standIn->second.string())}).toObject();
        }
    }

    static bool wordFinds(const fs::path& document, const std::string& text) {
        if (!word_)
            word_ = new Object(libreoffice::createWordApplication());
        const Object& word = *word_;
        const Object doc = open(word, "Documents", document);
        const bool found = doc.get("Content")
                               .toObject()
                               .get("Find")
                               .toObject()
                               .call("Execute", {Value(text)})
                               .toBool();
        word.get("Documents").toObject().call("Close", {Value(false)});
        return found;
    }

    // Whether any worksheet's Find finds the text, and the worksheet names.
    static std::pair<bool, std::vector<std::string>> excelFinds(const fs::path& workbook,
                                                                const std::string& text) {
        if (!excel_)
            excel_ = new Object(libreoffice::createExcelApplication());
        const Object& excel = *excel_;
        const Object book = open(excel, "Workbooks", workbook);
        bool found = false;
        std::vector<std::string> names;
        const auto count = book.get("Worksheets").toObject().get("Count").toInteger();
        for (std::int64_t j = 1; j <= count; ++j) {
            const Object sheet = book.get("Worksheets", {Value(static_cast<int>(j))}).toObject();
            names.push_back(sheet.get("Name").toString());
            const Value hit = sheet.get("Cells").toObject().call("Find", {Value(text)});
            found = found || (hit.isObject() && !hit.isNothing());
        }
        book.call("Close", {Value(false)});
        return {found, names};
    }

    static void askWord(const std::map<std::string, fs::path>& documents,
                        const std::vector<Question>& questions);
    static void askExcel(const std::map<std::string, fs::path>& workbooks,
                         const std::vector<Question>& questions);

    static std::string reason_;
    static TempFolder* folder_;
    static std::map<std::string, fs::path> documents_;
    static std::map<std::string, fs::path> workbooks_;
    // The same as .docx and .xlsx packages, and some only as packages.
    static std::map<std::string, fs::path> packages_;
    static std::map<std::string, fs::path> packageBooks_;
    static std::map<fs::path, fs::path> standIn_;
    // One office for the Word questions, one for the Excel questions.
    static Object* word_;
    static Object* excel_;
};

std::string PrescanOffice::reason_;
TempFolder* PrescanOffice::folder_ = nullptr;
std::map<std::string, fs::path> PrescanOffice::documents_;
std::map<std::string, fs::path> PrescanOffice::workbooks_;
std::map<std::string, fs::path> PrescanOffice::packages_;
std::map<std::string, fs::path> PrescanOffice::packageBooks_;
std::map<fs::path, fs::path> PrescanOffice::standIn_;
Object* PrescanOffice::word_ = nullptr;
Object* PrescanOffice::excel_ = nullptr;

// Asks the office and the prescan each question whose document is in
// `documents`.
void PrescanOffice::askWord(const std::map<std::string, fs::path>& documents,
                            const std::vector<Question>& questions) {
    for (const Question& q : questions) {
        const auto it = documents.find(q.document);
        if (it == documents.end())
            continue;
        SCOPED_TRACE(it->second.filename().string() + " / " + q.find);
        const bool office = wordFinds(it->second, q.find);
        const bool maybe = formats::wordFileMayHold(it->second, q.find);
        if (q.officeFinds) {
            EXPECT_EQ(office, *q.officeFinds);
        }
        if (office) {
            EXPECT_TRUE(maybe) << "the prescan would hide a document the office finds the text in";
        }
        if (q.prescanMaybe) {
            EXPECT_EQ(maybe, *q.prescanMaybe);
        }
    }
}

const std::vector<Question> kWordQuestions{
    {"body", "合同编号", true, true},
    {"body", "acme corp", true, true},
    {"body", "ht-2019 由", true, true},
    {"body", "不存在的词", false, false},
    {"table", "甲方名称", true, true},
    {"table", "table cell TEXT", true, true},
    {"table", "名称Table", false, false},
    {"split", "mixed case split 文字", true, true},
    {"field", "tel: acme 公司 corp", true, true},
    {"field", "ACME 公司", true, true},
    {"field", "page", true, true},
    {"header", "页眉专有文字", false, false},
    {"footnote", "脚注专有文字", false, false},
    {"textbox", "文本框专有文字", false, false},
    {"comment", "批注专有文字", false, false},
    {"latin", "hELLO wORLD", true, true},
    {"latin", "straße 合同", true, true},
    {"latin", "world to", false, false},
    {"compressed", "hELLO wORLD", true, true},
    {"compressed", "from STRASSE", std::nullopt, std::nullopt},
    {"compressed", "straße 合同", true, true},
    {"compressed", "world to", false, false},
};

TEST_F(PrescanOffice, WordMaybeWhereverTheOfficeFindsTheText) {
    askWord(documents_, kWordQuestions);
}

TEST_F(PrescanOffice, WordPackagesMaybeWhereverTheOfficeFindsTheText) {
    askWord(packages_, kWordQuestions);
    askWord(packages_, {{"tracked", "插入文字结束", true, true},
                        {"tracked", "前文后文", std::nullopt, true},
                        {"tracked", "删除文字", std::nullopt, true},
                        {"tracked", "后文删除", std::nullopt, false},
                        {"tracked", "不存在的词", false, false}});
    // Several texts at once: "maybe" when any one may be there.
    EXPECT_TRUE(formats::wordFileMayHold(packages_.at("body"),
                                         std::vector<std::string>{"不存在的词", "acme corp"}));
    EXPECT_FALSE(formats::wordFileMayHold(packages_.at("header"),
                                          std::vector<std::string>{"不存在的词", "页眉专有文字"}));
}

TEST_F(PrescanOffice, CompressedPiecesReadAsTheOfficeWroteThem) {
    const auto original = readFile(documents_.at("latin"));
    const auto rewritten = readFile(documents_.at("compressed"));
    const std::u16string before = formats::wordMainText(formats::CompoundFile(original));
    const std::u16string after = formats::wordMainText(formats::CompoundFile(rewritten));
    EXPECT_EQ(after, before);
    // The office reads the rewritten document's text as well.
    const auto back = office_testing::readBack({documents_.at("compressed")}, "fodt");
    EXPECT_EQ(back[0].bodyParagraphs(), std::vector<std::string>{"Hello World from Straße 合同"});
}

void PrescanOffice::askExcel(const std::map<std::string, fs::path>& workbooks,
                             const std::vector<Question>& questions) {
    for (const Question& q : questions) {
        const auto it = workbooks.find(q.document);
        if (it == workbooks.end())
            continue;
        SCOPED_TRACE(it->second.filename().string() + " / " + q.find);
        const auto [office, names] = excelFinds(it->second, q.find);
        const auto answer = formats::workbookFileMayHold(it->second, q.find);
        if (q.officeFinds) {
            EXPECT_EQ(office, *q.officeFinds);
        }
        if (office) {
            EXPECT_TRUE(answer.mayHold) << "the prescan would hide a workbook the office finds "
                                           "the text in";
        }
        if (q.prescanMaybe) {
            EXPECT_EQ(answer.mayHold, *q.prescanMaybe);
        }
        if (!answer.mayHold) {
            EXPECT_EQ(answer.worksheets, names);
        }
    }
}

const std::vector<Question> kExcelQuestions{
    {"shared", "合同编号", true, true},   {"shared", "不存在", false, false},
    {"literal", "签订", true, true},      {"literal", "合同", false, false},
    {"result", "合同", false, true},      {"sheetname", "年度报表", true, true},
    {"sheetname", "季度", false, false},  {"protected", "机密", true, true},
    {"number", "2019", true, true},       {"number", "合同", false, false},
    {"date", "2019", std::nullopt, true}, {"date", "合同", false, false},
};

TEST_F(PrescanOffice, ExcelMaybeWhereverTheOfficeFindsTheText) {
    askExcel(workbooks_, kExcelQuestions);
}

TEST_F(PrescanOffice, WorkbookPackagesMaybeWhereverTheOfficeFindsTheText) {
    askExcel(packageBooks_, kExcelQuestions);
    askExcel(packageBooks_, {{"twosheets", "共用文字", true, true},
                             {"twosheets", "文字other", false, false},
                             {"inline", "行内文字", true, true},
                             {"inline", "不存在", false, false}});
}

// ---------------------------------------------------------------- same results

struct RunResult {
    std::string log;
    std::vector<std::string> journal;
    std::map<std::string, std::string> bytes;
};

class SameResults : public PrescanOffice {
protected:
    RunResult run(const std::map<std::string, fs::path>& made, engines::Mode mode,
                  const std::string& find, bool prescan, TempFolder& folder) {
        engines_testing::FakeWindow window;
        for (const auto& [name, path] : made) {
            fs::copy_file(path, folder.path() / path.filename());
            window.files.push_back(path.filename().string());
        }
        std::sort(window.files.begin(), window.files.end());
        window.folder = folder.path().string();
        window.modeValue = mode;
        window.find = find;
        window.replacement = "替换后";
        window.prescanner = prescan ? &engines::filePrescan() : nullptr;
        automation::Registry registry;
        libreoffice::registerClasses(registry);
        if (mode == engines::Mode::WordDoc)
            window.run(engines::Operation::WordReplace, registry);
        else
            window.run(engines::Operation::ExcelReplace, registry);
        RunResult r{window.text3, window.journal, {}};
        for (const auto& name : window.files)
            r.bytes[name] = readFile(folder.path() / name);
        return r;
    }
};

TEST_F(SameResults, WordLinesJournalAndFilesWithAndWithoutThePrescan) {
    for (const std::string find : {"专有文字", "acme", "不存在的词"}) {
        SCOPED_TRACE(find);
        TempFolder with, without;
        const RunResult a = run(documents_, engines::Mode::WordDoc, find, true, with);
        const RunResult b = run(documents_, engines::Mode::WordDoc, find, false, without);
        EXPECT_EQ(a.log, b.log);
        EXPECT_EQ(a.journal, b.journal);
        ASSERT_EQ(a.journal.size(), documents_.size());
        for (const auto& [name, bytes] : a.bytes) {
            const bool replaced = a.log.find(name + " 已替换内容") != std::string::npos;
            if (!replaced) {
                // Closed unsaved either way: the file as it was.
                EXPECT_EQ(bytes, b.bytes.at(name)) << name;
                EXPECT_EQ(bytes, readFile(documents_.at(name.substr(0, name.size() - 4)))) << name;
            } else {
                const auto back =
                    office_testing::readBack({with.path() / name, without.path() / name}, "fodt");
                EXPECT_EQ(back[0].bodyParagraphs(), back[1].bodyParagraphs()) << name;
            }
        }
    }
}

TEST_F(SameResults, ExcelLinesAndJournalWithAndWithoutThePrescan) {
    for (const std::string find : {"合同", "2019", "不存在"}) {
        SCOPED_TRACE(find);
        TempFolder with, without;
        const RunResult a = run(workbooks_, engines::Mode::ExcelXls, find, true, with);
        const RunResult b = run(workbooks_, engines::Mode::ExcelXls, find, false, without);
        EXPECT_EQ(a.log, b.log);
        EXPECT_EQ(a.journal, b.journal);
        for (const auto& [name, bytes] : a.bytes) {
            const std::string original = readFile(workbooks_.at(name.substr(0, name.size() - 4)));
            if (!formats::workbookMayHold(original, find).mayHold) {
                // Neither opened nor saved with the prescan: the file as it
                // was (without it, the office saves it again).
                EXPECT_EQ(bytes, original) << name;
            }
            const auto back =
                office_testing::readBack({with.path() / name, without.path() / name}, "fods");
            EXPECT_EQ(back[0].sheets(), back[1].sheets()) << name;
        }
    }
}

} // namespace

namespace {

// The command line over a copy of the documents: its output and journal
// entries (without their times).
std::pair<std::string, std::vector<std::string>>
commandLine(const std::string& command, const std::map<std::string, fs::path>& made,
            const std::string& find, const std::vector<std::string>& extra) {
    TempFolder folder, app;
    for (const auto& [name, path] : made)
        fs::copy_file(path, folder.path() / path.filename());
    automation::Registry registry;
    libreoffice::registerClasses(registry);
    std::vector<std::string> args{command,  "--folder",     folder.path().string(),
                                  "--find", find,           "--replace",
                                  "新",     "--app-folder", app.path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    cli::run(args, out, err, cli::Environment{registry, app.path(), false});
    std::vector<std::string> entries;
    for (const auto& day : fs::directory_iterator(app / "Journal"))
        for (const auto& file : fs::directory_iterator(day.path())) {
            std::istringstream in(readFile(file.path()));
            for (std::string line; std::getline(in, line);) {
                // Where the run's backups went differs from run to run.
                if (line.find("原件已备份到") == std::string::npos)
                    entries.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
            }
        }
    return {out.str(), entries};
}

} // namespace

TEST_F(SameResults, TwoJobsPrintWhatOneJobPrints) {
    text::setAnsiCodeSet("UTF-8");
    const auto one = commandLine("word-replace", documents_, "acme", {});
    EXPECT_EQ(std::count(one.first.begin(), one.first.end(), '\n'),
              static_cast<std::ptrdiff_t>(documents_.size()));
    EXPECT_EQ(commandLine("word-replace", documents_, "acme", {"--jobs", "2"}), one);
    EXPECT_EQ(commandLine("word-replace", documents_, "acme", {"--jobs", "2", "--no-prescan"}),
              one);
    const auto sheets = commandLine("excel-replace", workbooks_, "2019", {});
    EXPECT_EQ(commandLine("excel-replace", workbooks_, "2019", {"--jobs", "2"}), sheets);
    text::setAnsiCodeSet("");
}
