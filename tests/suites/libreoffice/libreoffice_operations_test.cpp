// The three batch operations run through the LibreOffice server on real
// .doc and .xls files, as the window's word.doc and excel.xls modes run them.

#include "core/engines/excel_replace.h"
#include "core/engines/header_footer.h"
#include "core/engines/prescan.h"
#include "core/engines/word_replace.h"
#include "office_test_support.h"
#include "password_documents.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/fake_suites.h"
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
            window_.prescanner = &engines::filePrescan();
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
    window_.find = "apple";
    window_.replacement = "pear";
    window_.run(engines::Operation::WordReplace, registry_);

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
    window_.find = "苹果";
    window_.replacement = "梨";
    window_.run(engines::Operation::WordReplace, registry_);
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

TEST_P(Replace, ExcelReplaceReportsEveryWorksheetAndStoresOnlyChangedWorkbooks) {
    makeFolder(
        {{"a-second", office_testing::flatSpreadsheet(
                          {Sheet{"一", {{"nothing"}}},
                           Sheet{"二", {{"Big APPLE tart and apple", "7"}, {"apple"}}},
                           Sheet{"三", {{"pear"}}}})},
         {"b-none",
          office_testing::flatSpreadsheet({Sheet{"Sheet1", {{"x"}}}, Sheet{"Sheet2", {{"y"}}}})},
         {"c-guarded", office_testing::flatSpreadsheet({Sheet{"Open", {{"apple"}}},
                                                        Sheet{"Locked", {{"an apple"}}, true},
                                                        Sheet{"After", {{"apple"}}}})}},
        "xls");
    for (const char* name : {"b-none.xls", "c-guarded.xls"})
        office_testing::ageFile(folder_ / name);
    const std::string noneBytes = readFile(folder_ / "b-none.xls");
    const long long noneTime = office_testing::modificationTime(folder_ / "b-none.xls");
    const std::string guardedBytes = readFile(folder_ / "c-guarded.xls");
    const long long guardedTime = office_testing::modificationTime(folder_ / "c-guarded.xls");

    window_.modeValue = engines::Mode::ExcelXls;
    window_.find = "apple";
    window_.replacement = "pear";
    window_.run(engines::Operation::ExcelReplace, registry_);

    ASSERT_EQ(window_.journal.size(), 7u) << window_.text3;
    EXPECT_EQ(Cells(window_.journal.begin(), window_.journal.begin() + 6),
              (Cells{"a-second.xls-一没找到替换的内容", "a-second.xls-二已替换内容",
                     "a-second.xls-三没找到替换的内容", "b-none.xls-Sheet1没找到替换的内容",
                     "b-none.xls-Sheet2没找到替换的内容", "c-guarded.xls-Open已替换内容"}));
    // The protected sheet is a failure, and the line says the file kept its
    // content although its first sheet was reported as replaced.
    const std::string& failure = window_.journal[6];
    EXPECT_EQ(failure.rfind("c-guarded.xls 处理失败（文件未改动）：", 0), 0u) << failure;
    EXPECT_NE(failure.find("“Locked”受保护"), std::string::npos) << failure;
    EXPECT_EQ(window_.failures, 1);
    // Nothing found: not stored again (with the prescan not even opened),
    // byte for byte and time.
    EXPECT_EQ(readFile(folder_ / "b-none.xls"), noneBytes);
    EXPECT_EQ(office_testing::modificationTime(folder_ / "b-none.xls"), noneTime);
    EXPECT_EQ(readFile(folder_ / "c-guarded.xls"), guardedBytes);
    EXPECT_EQ(office_testing::modificationTime(folder_ / "c-guarded.xls"), guardedTime);
    const auto sheets = office_testing::readBack({folder_ / "a-second.xls"}, "fods");
    EXPECT_EQ(sheets[0].sheets().at("二"), (Cells{"Big pear tart and pear", "7", "pear"}));
    EXPECT_EQ(sheets[0].sheets().at("一"), Cells{"nothing"});
}

TEST_F(Operations, DocumentsWithCommentsNotesFramesTrackedChangesAndFieldsAreProcessed) {
    // Each story holds the text; only the main text may change.
    const std::string body =
        "<text:tracked-changes text:track-changes=\"false\"><text:changed-region "
        "text:id=\"ct1\"><text:insertion>"
        "<office:change-info><dc:creator>Li Si</dc:creator><dc:date>2024-05-01T10:00:00</dc:date>"
        "</office:change-info></text:insertion></text:changed-region></text:tracked-changes>"
        "<text:p>Main apple text<office:annotation><dc:creator>Li Si</dc:creator>"
        "<dc:date>2024-05-01T10:00:00</dc:date><text:p>COMMENT apple</text:p>"
        "</office:annotation> and more.<text:note text:id=\"n1\" text:note-class=\"footnote\">"
        "<text:note-citation>1</text:note-citation><text:note-body><text:p>NOTE apple</text:p>"
        "</text:note-body></text:note></text:p>"
        "<text:p><draw:frame draw:name=\"F\" text:anchor-type=\"paragraph\" svg:width=\"5cm\" "
        "svg:height=\"2cm\"><draw:text-box><text:p>FRAME apple</text:p></draw:text-box>"
        "</draw:frame>Page <text:page-number text:select-page=\"current\">1</text:page-number>"
        "</text:p><text:p><text:change-start text:change-id=\"ct1\"/>Tracked insertion."
        "<text:change-end text:change-id=\"ct1\"/></text:p>";
    makeFolder({{"stories", office_testing::flatText({body, "", "", ""})}}, "doc");
    // The office kept every kind of content in the .doc it wrote.
    const std::string made = office_testing::readBack({folder_ / "stories.doc"}, "fodt")[0].xml;
    for (const char* element : {"<office:annotation", "<text:note ", "<draw:frame",
                                "<text:changed-region", "<text:page-number"})
        ASSERT_NE(made.find(element), std::string::npos) << element << "\n" << made;

    window_.modeValue = engines::Mode::WordDoc;
    window_.find = "apple";
    window_.replacement = "pear";
    window_.run(engines::Operation::WordReplace, registry_);
    window_.header = true;
    window_.headerContent = "页眉";
    window_.headerAlign = "居中";
    window_.run(engines::Operation::HeaderFooter, registry_);

    // No office ended: one line each, no failure.
    EXPECT_EQ(window_.journal, (Cells{"stories.doc 已替换内容", "stories.doc 已写入内容"}));
    EXPECT_EQ(window_.failures, 0);
    const auto saved = office_testing::readBack({folder_ / "stories.doc"}, "fodt")[0];
    const std::string all = office_testing::plainText(saved.xml);
    for (const char* kept : {"COMMENT apple", "NOTE apple", "FRAME apple", "Tracked insertion."})
        EXPECT_NE(all.find(kept), std::string::npos) << kept;
    EXPECT_NE(all.find("Main pear text"), std::string::npos) << all;
    EXPECT_EQ(all.find("Main apple"), std::string::npos) << all;
    EXPECT_NE(saved.xml.find("<office:annotation"), std::string::npos);
    EXPECT_NE(office_testing::plainText(saved.masterStyles()).find("页眉"), std::string::npos);
}

// The office writes the mark into workbooks only (its Word filter neither
// writes nor reports one), so the workbook stands for both.
TEST_F(Operations, ReadOnlyRecommendedWorkbookIsProcessed) {
    TempFolder scratch;
    const auto book = office_testing::makeDocuments(
        {{"table", office_testing::flatSpreadsheet({Sheet{"S", {{"apple"}}}})}}, "xls",
        scratch.path());
    office_testing::StoreOptions mark;
    mark.readOnlyRecommended = true;
    office_testing::storeCopy(book.at("table"), folder_ / "table.xls", mark);
    // The file carries the mark, as the office reads it.
    ASSERT_NE(office_testing::readBack({folder_ / "table.xls"}, "fods")[0].xml.find(
                  "config:name=\"LoadReadonly\" config:type=\"boolean\">true"),
              std::string::npos);

    window_.find = "apple";
    window_.replacement = "pear";
    window_.files = {"table.xls"};
    window_.modeValue = engines::Mode::ExcelXls;
    window_.run(engines::Operation::ExcelReplace, registry_);
    EXPECT_EQ(window_.journal, Cells{"table.xls-S已替换内容"});
    EXPECT_EQ(office_testing::readBack({folder_ / "table.xls"}, "fods")[0].sheets().at("S"),
              Cells{"pear"});
}

TEST_F(Operations, EveryPlacementIsTheAlignmentTheOfficeReadsBack) {
    struct Case {
        bool header;
        std::string placement;     // 居左 / 居中 / 居右 of the header or the footer text
        std::string pagePlacement; // the page number's, or empty for none
        const char* align;         // as the reloaded document gives it
    };
    const std::vector<Case> cases = {
        {true, "居左", "", "justify"},  {true, "居中", "", "center"},
        {true, "居右", "", "end"},      {false, "居左", "", "justify"},
        {false, "居中", "", "center"},  {false, "居右", "", "end"},
        {false, "", "居中1", "center"}, {false, "", "居中2", "center"},
        {false, "", "居左", "justify"}, {false, "", "居右", "end"},
    };
    std::map<std::string, std::string> flat;
    for (std::size_t i = 0; i < cases.size(); ++i)
        flat["p" + std::to_string(i)] = office_testing::flatText({"Body.", "", "", ""});
    makeFolder(flat, "doc");
    window_.modeValue = engines::Mode::WordDoc;
    window_.headerContent = "页眉";
    window_.footerContent = "页脚";
    std::vector<fs::path> paths;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        window_.files = {"p" + std::to_string(i) + ".doc"};
        paths.push_back(folder_ / window_.files[0]);
        window_.header = c.header;
        window_.footer = !c.header;
        window_.headerAlign = c.placement;
        window_.footerAlign = c.placement;
        window_.pageNumber = !c.pagePlacement.empty();
        window_.pageNumberAlign = c.pagePlacement;
        window_.run(engines::Operation::HeaderFooter, registry_);
    }
    ASSERT_EQ(window_.failures, 0) << window_.text3;
    const auto saved = office_testing::readBack(paths, "fodt");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE((c.header ? "页眉 " : "页脚 ") + c.placement + " " + c.pagePlacement);
        const std::string master = saved[i].masterStyles();
        const std::string part = c.header ? "header" : "footer";
        std::smatch m;
        ASSERT_TRUE(std::regex_search(
            master, m,
            std::regex("<style:" + part +
                       R"re(>\s*<text:p text:style-name="([^"]+)">([\s\S]*?)</text:p>)re")))
            << master;
        EXPECT_NE(saved[i].style(m[1]).find(std::string("fo:text-align=\"") + c.align + "\""),
                  std::string::npos)
            << saved[i].style(m[1]);
        const std::string text = office_testing::plainText(m[2]);
        EXPECT_NE(text.find(c.pagePlacement.empty() ? (c.header ? "页眉" : "页脚") : "第1页"),
                  std::string::npos)
            << text;
    }
}

TEST_F(Operations, HeaderAndFooterWriterWritesWhatAReloadShows) {
    makeFolder({{"plain", office_testing::flatText({"Body.", "", "", ""})},
                {"kept", office_testing::flatText({"Body.", "旧页眉", "", ""})}},
               "doc");
    // Header, centred, 宋体 14 bold, into both documents.
    window_.modeValue = engines::Mode::WordDoc;
    window_.header = true;
    window_.headerContent = "公司机密";
    window_.headerAlign = "居中";
    window_.font = "宋体";
    window_.size = "14";
    window_.bold = true;
    window_.run(engines::Operation::HeaderFooter, registry_);
    EXPECT_EQ(window_.text3, logOf({"kept.doc 已写入内容", "plain.doc 已写入内容"}));

    // Footer "居右" with the page number "居中1" into plain.doc only.
    window_.files = {"plain.doc"};
    window_.header = false;
    window_.footer = true;
    window_.footerContent = "第一稿";
    window_.footerAlign = "居右";
    window_.pageNumber = true;
    window_.pageNumberAlign = "居中1";
    window_.bold = false;
    window_.size = "10";
    window_.run(engines::Operation::HeaderFooter, registry_);
    const std::string footerText = "第1页" + std::string(22, ' ') + "第一稿";
    EXPECT_EQ(window_.journal.back(), "plain.doc 页脚已写入内容" + footerText + "\r");

    // Footer "居左" with the page number "居中2" into kept.doc.
    window_.files = {"kept.doc"};
    window_.footerAlign = "居左";
    window_.pageNumberAlign = "居中2";
    window_.run(engines::Operation::HeaderFooter, registry_);
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

TEST_F(Operations, DetectionNamesLibreOfficeInTheFirstStatusLine) {
    const auto installation = libreoffice::findInstallation();
    ASSERT_TRUE(installation);
    detection_fakes::FakeDetectionView view(folder_.path());
    const detection::StatusLines lines = detection::detectSuites(registry_, view);
    EXPECT_EQ(lines, (detection::StatusLines{
                         "1、本机系统提示: 已安装LibreOffice 版本号：" + installation->version,
                         "2、未安装WPS-V8或以下版本", "3、未安装WPS-V9或以上版本"}));
    EXPECT_TRUE(view.enabled[detection::DocumentMode::WordDoc] &&
                view.enabled[detection::DocumentMode::ExcelXls]);
    EXPECT_FALSE(view.enabled[detection::DocumentMode::WpsDoc] ||
                 view.enabled[detection::DocumentMode::WpsXls]);
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("offcce"), std::string::npos) << line;
}

TEST_F(Operations, FontSizeTheSuiteRefusesStopsTheWriterAndKeepsTheDocument) {
    makeFolder({{"a", office_testing::flatText({"Body.", "", "", ""})},
                {"b", office_testing::flatText({"Body.", "", "", ""})}},
               "doc");
    office_testing::ageFile(folder_ / "a.doc");
    const std::string before = readFile(folder_ / "a.doc");
    window_.modeValue = engines::Mode::WordDoc;
    window_.header = true;
    window_.size = "小四";
    window_.run(engines::Operation::HeaderFooter, registry_);
    ASSERT_EQ(window_.journal.size(), 1u) << window_.text3;
    EXPECT_EQ(window_.journal[0].rfind("a.doc 处理失败（文件未改动）：", 0), 0u)
        << window_.journal[0];
    EXPECT_NE(window_.journal[0].find("小四"), std::string::npos);
    EXPECT_EQ(readFile(folder_ / "a.doc"), before);
}

} // namespace
