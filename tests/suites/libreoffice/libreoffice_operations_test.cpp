// The three batch operations run through the LibreOffice server on real
// .doc and .xls files, as the window's word.doc and excel.xls modes run them.

#include "core/engines/excel_replace.h"
#include "core/engines/header_footer.h"
#include "core/engines/prescan.h"
#include "core/engines/word_replace.h"
#include "office_test_support.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/fake_window.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

using engines_testing::FakeWindow;
using engines_testing::logOf;
using office_testing::Sheet;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

using Cells = std::vector<std::string>;

class Operations : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = office_testing::missingOfficeReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        ASSERT_TRUE(libreoffice::registerClasses(registry_));
        window_.folder = folder_.path().string();
    }

    // Makes the documents in the test's folder and lists them, sorted by
    // name, in the file list.
    void makeFolder(const std::map<std::string, std::string>& flat, const std::string& format) {
        TempFolder scratch;
        const auto made = office_testing::makeDocuments(flat, format, scratch.path());
        for (const auto& [name, path] : made)
            fs::copy_file(path, folder_ / path.filename());
        listFolder();
    }

    void listFolder() {
        window_.files.clear();
        for (const auto& entry : fs::directory_iterator(folder_.path()))
            window_.files.push_back(entry.path().filename().string());
        std::sort(window_.files.begin(), window_.files.end());
    }

    automation::Registry registry_;
    TempFolder folder_;
    FakeWindow window_;
};

// The Word and Excel replace with the prescan off and on: the same lines and
// files, except that a workbook without the text is not saved again.
class Replace : public Operations, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        Operations::SetUp();
        if (GetParam())
            window_.prescanValue = &engines::filePrescan();
    }
};

INSTANTIATE_TEST_SUITE_P(Prescan, Replace, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

TEST_P(Replace, WordReplaceChangesOnlyTheDocumentsWithTheTextInTheirMainText) {
    makeFolder(
        {{"a-twice",
          office_testing::flatText(
              {"<text:p>One apple, <text:span text:style-name=\"B\">Apple</text:span>.</text:p>",
               "", "", ""})},
         {"b-absent", office_testing::flatText({"Nothing here.", "", "", ""})},
         {"c-header", office_testing::flatText({"Body only.", "apple in the header", "", ""})},
         {"d-中文", office_testing::flatText({"苹果和苹果", "", "", ""})}},
        "doc");
    // A file that is not a Word document does not stop the run.
    writeFile(folder_ / "e-broken.doc", "not a document");
    listFolder();
    for (const char* name : {"b-absent.doc", "c-header.doc"})
        office_testing::ageFile(folder_ / name);
    const std::string absentBytes = readFile(folder_ / "b-absent.doc");
    const long long absentTime = office_testing::modificationTime(folder_ / "b-absent.doc");
    const long long headerTime = office_testing::modificationTime(folder_ / "c-header.doc");

    window_.modeValue = engines::Mode::WordDoc;
    window_.text1 = "apple";
    window_.text2 = "pear";
    engines::wordReplace(window_, window_, registry_);

    ASSERT_EQ(window_.journal.size(), 5u) << window_.text3;
    EXPECT_EQ(window_.journal[0], "a-twice.doc 已替换内容");
    EXPECT_EQ(window_.journal[1], "b-absent.doc 没找到替换的内容");
    EXPECT_EQ(window_.journal[2], "c-header.doc 没找到替换的内容");
    EXPECT_EQ(window_.journal[3], "d-中文.doc 没找到替换的内容");
    EXPECT_EQ(window_.journal[4].rfind("e-broken.doc 处理失败：", 0), 0u) << window_.journal[4];
    EXPECT_NE(window_.journal[4].find("Word 97-2003"), std::string::npos) << window_.journal[4];
    EXPECT_EQ(window_.failures, 1);

    EXPECT_EQ(readFile(folder_ / "b-absent.doc"), absentBytes);
    EXPECT_EQ(office_testing::modificationTime(folder_ / "b-absent.doc"), absentTime);
    EXPECT_EQ(office_testing::modificationTime(folder_ / "c-header.doc"), headerTime);

    // A second run with Chinese text: its lines follow the first run's.
    window_.text1 = "苹果";
    window_.text2 = "梨";
    engines::wordReplace(window_, window_, registry_);
    ASSERT_EQ(window_.journal.size(), 10u);
    EXPECT_EQ(window_.journal[8], "d-中文.doc 已替换内容");
    EXPECT_EQ(window_.text3.substr(0, window_.text3.find("\r\n") + 2),
              "a-twice.doc 已替换内容\r\n");

    const auto saved =
        office_testing::readBack({folder_ / "a-twice.doc", folder_ / "d-中文.doc"}, "fodt");
    EXPECT_EQ(saved[0].bodyParagraphs(), Cells{"One pear, pear."});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        saved[0].xml, m,
        std::regex(R"re(<text:span text:style-name="([^"]+)">pear</text:span>)re")));
    EXPECT_NE(saved[0].style(m[1]).find("fo:font-weight=\"bold\""), std::string::npos);
    EXPECT_EQ(saved[1].bodyParagraphs(), Cells{"梨和梨"});
    // No lock or temporary file is left in the folder.
    listFolder();
    EXPECT_EQ(window_.files,
              (Cells{"a-twice.doc", "b-absent.doc", "c-header.doc", "d-中文.doc", "e-broken.doc"}));
}

TEST_P(Replace, ExcelReplaceReportsEveryWorksheetAndSavesEveryWorkbookItOpens) {
    makeFolder({{"a-second", office_testing::flatSpreadsheet(
                                 {Sheet{"一", {{"nothing"}}},
                                  Sheet{"二", {{"Big APPLE tart and apple", "7"}, {"apple"}}},
                                  Sheet{"三", {{"pear"}}}})},
                {"b-none", office_testing::flatSpreadsheet(
                               {Sheet{"Sheet1", {{"x"}}}, Sheet{"Sheet2", {{"y"}}}})}},
               "xls");
    office_testing::ageFile(folder_ / "b-none.xls");
    const long long untouched = office_testing::modificationTime(folder_ / "b-none.xls");

    window_.modeValue = engines::Mode::ExcelXls;
    window_.text1 = "apple";
    window_.text2 = "pear";
    engines::excelReplace(window_, window_, registry_);

    EXPECT_EQ(window_.text3,
              logOf({"a-second.xls-一没找到替换的内容", "a-second.xls-二已替换内容",
                     "a-second.xls-三没找到替换的内容", "b-none.xls-Sheet1没找到替换的内容",
                     "b-none.xls-Sheet2没找到替换的内容"}));
    if (GetParam()) {
        // The prescan found the text nowhere in it: neither opened nor saved.
        EXPECT_EQ(office_testing::modificationTime(folder_ / "b-none.xls"), untouched);
    } else {
        // Saved although nothing was found in it.
        EXPECT_NE(office_testing::modificationTime(folder_ / "b-none.xls"), untouched);
    }
    const auto sheets =
        office_testing::readBack({folder_ / "a-second.xls", folder_ / "b-none.xls"}, "fods");
    EXPECT_EQ(sheets[0].sheets().at("二"), (Cells{"Big pear tart and pear", "7", "pear"}));
    EXPECT_EQ(sheets[0].sheets().at("一"), Cells{"nothing"});
    EXPECT_EQ(sheets[1].sheets().at("Sheet2"), Cells{"y"});
}

TEST_F(Operations, HeaderAndFooterWriterWritesWhatAReloadShows) {
    makeFolder({{"plain", office_testing::flatText({"Body.", "", "", ""})},
                {"kept", office_testing::flatText({"Body.", "旧页眉", "", ""})}},
               "doc");
    // Header, centred, 宋体 14 bold, into both documents.
    window_.modeValue = engines::Mode::WordDoc;
    window_.option5 = true;
    window_.text4 = "公司机密";
    window_.combo1 = "居中";
    window_.text6 = "宋体";
    window_.text7 = "14";
    window_.check1 = true;
    engines::writeHeadersAndFooters(window_, window_, window_, registry_);
    EXPECT_EQ(window_.text3, logOf({"kept.doc 已写入内容", "plain.doc 已写入内容"}));

    // Footer "居右" with the page number "居中1" into plain.doc only.
    window_.files = {"plain.doc"};
    window_.option5 = false;
    window_.option6 = true;
    window_.text5 = "第一稿";
    window_.combo2 = "居右";
    window_.check3 = true;
    window_.combo3 = "居中1";
    window_.check1 = false;
    window_.text7 = "10";
    engines::writeHeadersAndFooters(window_, window_, window_, registry_);
    const std::string footerText = "第1页" + std::string(22, ' ') + "第一稿";
    EXPECT_EQ(window_.journal.back(), "plain.doc 页脚已写入内容" + footerText + "\r");

    // Footer "居左" with the page number "居中2" into kept.doc.
    window_.files = {"kept.doc"};
    window_.combo2 = "居左";
    window_.combo3 = "居中2";
    engines::writeHeadersAndFooters(window_, window_, window_, registry_);
    EXPECT_EQ(window_.journal.back(),
              "kept.doc 页脚已写入内容第一稿" + std::string(26, ' ') + "第1页\r");

    const auto saved =
        office_testing::readBack({folder_ / "plain.doc", folder_ / "kept.doc"}, "fodt");
    struct Expected {
        std::string header;
        std::string footer;
        const char* footerAlign;
    };
    const Expected expected[] = {
        {"公司机密", footerText, "end"},
        {"公司机密旧页眉", "第一稿" + std::string(26, ' ') + "第1页", "center"}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::string master = saved[i].masterStyles();
        std::smatch header;
        ASSERT_TRUE(std::regex_search(
            master, header,
            std::regex(
                R"re(<style:header>\s*<text:p text:style-name="([^"]+)">([\s\S]*?)</text:p>)re")))
            << master;
        EXPECT_EQ(office_testing::plainText(header[2]), expected[i].header);
        EXPECT_NE(saved[i].style(header[1]).find("fo:text-align=\"center\""), std::string::npos);
        EXPECT_NE(saved[i].xml.find("fo:font-weight=\"bold\""), std::string::npos);
        std::smatch footer;
        ASSERT_TRUE(std::regex_search(
            master, footer,
            std::regex(
                R"re(<style:footer>\s*<text:p text:style-name="([^"]+)">([\s\S]*?)</text:p>)re")))
            << master;
        EXPECT_EQ(office_testing::plainText(footer[2]), expected[i].footer);
        EXPECT_NE(std::string(footer[2]).find("<text:page-number"), std::string::npos);
        EXPECT_NE(saved[i].style(footer[1]).find(std::string("fo:text-align=\"") +
                                                 expected[i].footerAlign),
                  std::string::npos)
            << saved[i].style(footer[1]);
    }
}

TEST_F(Operations, FontSizeTheSuiteRefusesStopsTheWriterAndKeepsTheDocument) {
    makeFolder({{"a", office_testing::flatText({"Body.", "", "", ""})},
                {"b", office_testing::flatText({"Body.", "", "", ""})}},
               "doc");
    office_testing::ageFile(folder_ / "a.doc");
    const std::string before = readFile(folder_ / "a.doc");
    window_.modeValue = engines::Mode::WordDoc;
    window_.option5 = true;
    window_.text7 = "小四";
    engines::writeHeadersAndFooters(window_, window_, window_, registry_);
    ASSERT_EQ(window_.journal.size(), 1u) << window_.text3;
    EXPECT_EQ(window_.journal[0].rfind("a.doc 处理失败：", 0), 0u) << window_.journal[0];
    EXPECT_NE(window_.journal[0].find("小四"), std::string::npos);
    EXPECT_EQ(readFile(folder_ / "a.doc"), before);
}

} // namespace
