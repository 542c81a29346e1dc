// The Word and Excel operations through the LibreOffice server on .docx,
// .docm, .xlsx and .xlsm files: each document stays in its format, macros
// keep their bytes, and the failures read as they do for .doc and .xls.

#include "core/engines/excel_replace.h"
#include "core/engines/header_footer.h"
#include "core/engines/word_replace.h"
#include "office_test_support.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "suites/libreoffice/package_parts.h"
#include "support/binary_documents.h"
#include "support/fake_window.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

using engines_testing::FakeWindow;
using office_testing::Sheet;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;
namespace packages = libreoffice::packages;

namespace {

using Lines = std::vector<std::string>;

const std::string kMacros = binary_documents::vbaProject(
    "Module1",
    "Attribute VB_Name = \"Module1\"\r\nSub Hello()\r\n    MsgBox \"hi\"\r\nEnd Sub\r\n");

std::string relationship(const std::string& id, const std::string& type,
                         const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"http://schemas." + type + "\" Target=\"" +
           target + "\"/>";
}

std::string relationships(const std::string& inside) {
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
           "relationships\">" +
           inside + "</Relationships>";
}

// A .docm of one paragraph or a .xlsm of one sheet "S" with one cell, with the
// macros, written byte by byte: the office writes no macros of its own.
std::string macroPackage(bool word, const std::string& text) {
    const std::string folder = word ? "word/" : "xl/";
    const std::string main = word ? "document.xml" : "workbook.xml";
    const std::string mainType = word ? "ms-word.document" : "ms-excel.sheet";
    const std::string office = "openxmlformats.org/officeDocument/2006/relationships/";
    std::string rels = relationship("rId9", "microsoft.com/office/2006/relationships/vbaProject",
                                    "vbaProject.bin");
    std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/" +
             folder + main + "\" ContentType=\"application/vnd." + mainType +
             ".macroEnabled.main+xml\"/>" +
             (word ? ""
                   : "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
                     "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>") +
             "</Types>"},
        {"_rels/.rels",
         relationships(relationship("rId1", office + "officeDocument", folder + main))},
        {folder + "vbaProject.bin", kMacros}};
    if (word) {
        parts.emplace_back("word/document.xml",
                           "<w:document xmlns:w=\"http://schemas.openxmlformats.org/"
                           "wordprocessingml/2006/main\"><w:body><w:p><w:r><w:t>" +
                               text + "</w:t></w:r></w:p></w:body></w:document>");
    } else {
        const std::string ns =
            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
        rels += relationship("rId1", office + "worksheet", "worksheets/sheet1.xml");
        parts.emplace_back("xl/workbook.xml",
                           "<workbook " + ns + " xmlns:r=\"http://schemas." +
                               office.substr(0, office.size() - 1) +
                               "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/>"
                               "</sheets></workbook>");
        parts.emplace_back("xl/worksheets/sheet1.xml",
                           "<worksheet " + ns +
                               "><sheetData><row r=\"1\"><c r=\"A1\" "
                               "t=\"inlineStr\"><is><t>" +
                               text + "</t></is></c></row></sheetData></worksheet>");
    }
    parts.emplace_back(folder + "_rels/" + main + ".rels", relationships(rels));
    return binary_documents::storedZip(parts);
}

// What the file is: "zip" and the main part's content type, or "other".
std::string packageKind(const fs::path& file) {
    if (readFile(file).rfind("PK\x03\x04", 0) != 0)
        return "other";
    const auto macros = packages::declaresMacros(file);
    return !macros ? "zip, main part unknown" : *macros ? "zip, with macros" : "zip, no macros";
}

class XmlFormats : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = office_testing::missingOfficeReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        ASSERT_TRUE(libreoffice::registerClasses(registry_));
        window_.folder = folder_.path().string();
    }

    // Office-made documents of `format`, copied into the folder as `as`
    // (name -> file name).
    void make(const std::map<std::string, std::string>& flat, const std::string& format,
              const std::vector<std::pair<std::string, std::string>>& as) {
        const auto made = office_testing::makeDocuments(flat, format, scratch_.path());
        for (const auto& [name, target] : as)
            fs::copy_file(made.at(name), folder_ / target);
    }

    void list() {
        window_.files.clear();
        for (const auto& entry : fs::directory_iterator(folder_.path()))
            window_.files.push_back(entry.path().filename().string());
        std::sort(window_.files.begin(), window_.files.end());
    }

    automation::Registry registry_;
    TempFolder scratch_, folder_;
    FakeWindow window_;
};

TEST_F(XmlFormats, WordReplaceAndHeadersKeepEachDocumentInItsFormat) {
    make({{"twice", office_testing::flatText(
                        {"<text:p>One apple, <text:span text:style-name=\"B\">apple</text:span>."
                         "</text:p>",
                         "", "", ""})},
          {"absent", office_testing::flatText({"Nothing here.", "", "", ""})}},
         "docx",
         {{"twice", "a-twice.docx"}, {"absent", "c-absent.docx"}, {"twice", "d-named.doc"}});
    make({{"table", office_testing::flatSpreadsheet({Sheet{"S", {{"apple"}}}})}}, "xlsx",
         {{"table", "f-table.docx"}});
    writeFile(folder_ / "b-macros.docm", macroPackage(true, "An apple a day"));
    const std::string docx = readFile(folder_ / "a-twice.docx");
    writeFile(folder_ / "e-truncated.docx", docx.substr(0, docx.size() / 2));
    writeFile(folder_ / "g-secret.docx", binary_documents::encryptedPackage());
    office_testing::ageFile(folder_ / "c-absent.docx");
    const std::string absentBytes = readFile(folder_ / "c-absent.docx");
    const long long absentTime = office_testing::modificationTime(folder_ / "c-absent.docx");
    list();

    window_.modeValue = engines::Mode::WordDoc;
    window_.find = "apple";
    window_.replacement = "pear";
    window_.run(engines::Operation::WordReplace, registry_);

    ASSERT_EQ(window_.journal.size(), 7u) << window_.text3;
    EXPECT_EQ(Lines(window_.journal.begin(), window_.journal.begin() + 4),
              (Lines{"a-twice.docx 已替换内容", "b-macros.docm 已替换内容",
                     "c-absent.docx 没找到替换的内容", "d-named.doc 已替换内容"}));
    const struct {
        std::size_t line;
        const char* says;
    } failures[] = {{4, "e-truncated.docx”已损坏，或不是 Word 文档（.docx）"},
                    {5, "f-table.docx”是电子表格，不是 Word 文档（.docx）"},
                    {6, "g-secret.docx”有密码保护"}};
    for (const auto& f : failures)
        EXPECT_NE(window_.journal[f.line].find(f.says), std::string::npos)
            << window_.journal[f.line];
    EXPECT_EQ(window_.failures, 3);
    EXPECT_EQ(readFile(folder_ / "c-absent.docx"), absentBytes);
    EXPECT_EQ(office_testing::modificationTime(folder_ / "c-absent.docx"), absentTime);

    // The header writer on the documents the office can open.
    for (const char* name : {"e-truncated.docx", "f-table.docx", "g-secret.docx"})
        fs::remove(folder_ / name);
    list();
    window_.journal.clear();
    window_.header = true;
    window_.headerContent = "页眉文字";
    window_.headerAlign = "居中";
    window_.run(engines::Operation::HeaderFooter, registry_);
    EXPECT_EQ(window_.journal, (Lines{"a-twice.docx 已写入内容", "b-macros.docm 已写入内容",
                                      "c-absent.docx 已写入内容", "d-named.doc 已写入内容"}));

    const Lines files = {"a-twice.docx", "b-macros.docm", "c-absent.docx", "d-named.doc"};
    std::vector<fs::path> paths;
    for (const auto& name : files)
        paths.push_back(folder_ / name);
    const auto saved = office_testing::readBack(paths, "fodt");
    const std::vector<Lines> bodies = {
        {"One pear, pear."}, {"An pear a day"}, {"Nothing here."}, {"One pear, pear."}};
    const Lines kinds = {"zip, no macros", "zip, with macros", "zip, no macros", "zip, no macros"};
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(saved[i].bodyParagraphs(), bodies[i]) << files[i];
        EXPECT_NE(office_testing::plainText(saved[i].masterStyles()).find("页眉文字"),
                  std::string::npos)
            << files[i];
        EXPECT_EQ(packageKind(paths[i]), kinds[i]) << files[i];
    }
    EXPECT_TRUE(packages::readPart(folder_ / "b-macros.docm", "word/vbaProject.bin") == kMacros)
        << "the macro part changed";
    // The office reads the macros it kept.
    EXPECT_NE(saved[1].xml.find("Sub Hello()"), std::string::npos);
    list();
    EXPECT_EQ(window_.files, files); // no lock or temporary file left
}

TEST_F(XmlFormats, ExcelReplaceKeepsEachWorkbookInItsFormat) {
    make({{"two", office_testing::flatSpreadsheet(
                      {Sheet{"一", {{"nothing"}}}, Sheet{"二", {{"apple pie", "7"}}}})},
          {"none", office_testing::flatSpreadsheet({Sheet{"S", {{"pear"}}}})}},
         "xlsx", {{"two", "a-two.xlsx"}, {"none", "c-none.xlsx"}, {"two", "d-named.xls"}});
    make({{"letter", office_testing::flatText({"apple", "", "", ""})}}, "docx",
         {{"letter", "e-letter.xlsx"}});
    writeFile(folder_ / "b-macros.xlsm", macroPackage(false, "apple tart"));
    writeFile(folder_ / "f-secret.xlsx", binary_documents::encryptedPackage());
    office_testing::ageFile(folder_ / "c-none.xlsx");
    const std::string noneBytes = readFile(folder_ / "c-none.xlsx");
    list();

    window_.modeValue = engines::Mode::ExcelXls;
    window_.find = "apple";
    window_.replacement = "pear";
    window_.run(engines::Operation::ExcelReplace, registry_);

    ASSERT_EQ(window_.journal.size(), 8u) << window_.text3;
    EXPECT_EQ(Lines(window_.journal.begin(), window_.journal.begin() + 6),
              (Lines{"a-two.xlsx-一没找到替换的内容", "a-two.xlsx-二已替换内容",
                     "b-macros.xlsm-S已替换内容", "c-none.xlsx-S没找到替换的内容",
                     "d-named.xls-一没找到替换的内容", "d-named.xls-二已替换内容"}));
    EXPECT_NE(window_.journal[6].find("e-letter.xlsx”是文字处理文档，不是 Excel 工作簿（.xlsx）"),
              std::string::npos)
        << window_.journal[6];
    EXPECT_NE(window_.journal[7].find("f-secret.xlsx”有密码保护"), std::string::npos)
        << window_.journal[7];
    EXPECT_EQ(window_.failures, 2);
    EXPECT_EQ(readFile(folder_ / "c-none.xlsx"), noneBytes);

    const Lines files = {"a-two.xlsx", "b-macros.xlsm", "d-named.xls"};
    std::vector<fs::path> paths;
    for (const auto& name : files)
        paths.push_back(folder_ / name);
    const auto saved = office_testing::readBack(paths, "fods");
    EXPECT_EQ(saved[0].sheets().at("二"), (Lines{"pear pie", "7"}));
    EXPECT_EQ(saved[1].sheets().at("S"), Lines{"pear tart"});
    EXPECT_EQ(saved[2].sheets().at("二"), (Lines{"pear pie", "7"}));
    const Lines kinds = {"zip, no macros", "zip, with macros", "zip, no macros"};
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(packageKind(paths[i]), kinds[i]) << files[i];
    EXPECT_TRUE(packages::readPart(folder_ / "b-macros.xlsm", "xl/vbaProject.bin") == kMacros)
        << "the macro part changed";
}

} // namespace
