// Our own Excel replace against the office as the oracle: workbooks the office
// made go through `--engine suite` and `--engine builtin` on copies of one
// folder. Where our engine does the job, the lines are the office's and the
// cells read back the same; where it declines, it says so in one line and
// leaves the file as it was.

#include "cli/cli.h"
#include "core/formats/zip_package.h"
#include "office_test_support.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

using office_testing::Sheet;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

std::string text(const std::string& paragraphs) {
    return "<table:table-cell office:value-type=\"string\">" + paragraphs + "</table:table-cell>";
}

class BuiltinWorkbookOffice : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        reason_ = office_testing::missingOfficeReason();
        if (!reason_.empty())
            return;
        folder_ = new TempFolder;
        const std::string formula = "<table:table-cell table:formula=\"of:=LEN(&quot;合同&quot;)\" "
                                    "office:value-type=\"float\" office:value=\"2\"><text:p>2"
                                    "</text:p></table:table-cell>";
        const std::map<std::string, std::string> books{
            {"shared",
             office_testing::flatSpreadsheet({Sheet{"一", {{"合同甲", "其他"}}},
                                              Sheet{"二", {{"x"}, {"合同甲", "合同与合同，ACME"}}},
                                              Sheet{"三", {{"无关"}}}})},
            {"rich", office_testing::flatSpreadsheet(
                         {Sheet{"富",
                                {{text("<text:p>签<text:span text:style-name=\"B\">订合"
                                       "</text:span>同书 acme</text:p>")}}}})},
            {"lines", office_testing::flatSpreadsheet({Sheet{
                          "行", {{text("<text:p>第一行合同</text:p><text:p>第二行</text:p>")}}}})},
            {"numbers", office_testing::flatSpreadsheet(
                            {Sheet{"数",
                                   {{"合同金额", "1234.5"},
                                    {"2019",
                                     "<table:table-cell office:value-type=\"date\" "
                                     "office:date-value=\"2019-05-01\"><text:p>2019-05-01</text:p>"
                                     "</table:table-cell>",
                                     "<table:table-cell office:value-type=\"boolean\" "
                                     "office:boolean-value=\"true\"><text:p>TRUE</text:p>"
                                     "</table:table-cell>"}}}})},
            {"formula", office_testing::flatSpreadsheet({Sheet{"式", {{"合同", formula}}}})},
            {"sums",
             office_testing::flatSpreadsheet({Sheet{
                 "和",
                 {{"ACME合同 2019", "<table:table-cell table:formula=\"of:=SUM(2019;[.B2])&amp;"
                                    "&quot;合&quot;\" office:value-type=\"string\" "
                                    "office:string-value=\"2019合\"><text:p>2019合</text:p>"
                                    "</table:table-cell>"},
                  {"", "0"}}}})},
            {"protected", office_testing::flatSpreadsheet({Sheet{"保护", {{"合同"}}, true}})},
            {"hidden", office_testing::flatSpreadsheet(
                           {Sheet{"显", {{"合同"}, {"合同丙"}}, false, false, {1}},
                            Sheet{"隐", {{"合同乙"}}, false, true}})},
        };
        made_ = new std::map<std::string, fs::path>(
            office_testing::makeDocuments(books, "xlsx", folder_->path() / "made"));
    }

    static void TearDownTestSuite() {
        delete made_;
        made_ = nullptr;
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (!reason_.empty())
            GTEST_SKIP() << reason_;
    }

    // The command line's output on a copy of the workbooks with `engine`.
    static std::string run(const fs::path& folder, const std::string& engine,
                           const std::string& pairs) {
        TempFolder app;
        fs::create_directories(folder);
        for (const auto& [name, path] : *made_)
            fs::copy_file(path, folder / path.filename());
        const fs::path table = app.path() / "pairs.txt";
        writeFile(table, pairs);
        automation::Registry registry;
        libreoffice::registerClasses(registry);
        std::ostringstream out, err;
        cli::run({"excel-replace", "--folder", folder.string(), "--pairs", table.string(),
                  "--engine", engine, "--app-folder", app.path().string()},
                 out, err, cli::Environment{registry, app.path(), false});
        return out.str();
    }

    static std::vector<std::string> linesOf(const std::string& output, const std::string& file) {
        std::vector<std::string> lines;
        std::istringstream in(output);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(file + "-", 0) == 0 || line.rfind(file + " ", 0) == 0)
                lines.push_back(line);
        return lines;
    }

    static inline std::string reason_;
    static inline TempFolder* folder_ = nullptr;
    static inline std::map<std::string, fs::path>* made_ = nullptr;
};

TEST_F(BuiltinWorkbookOffice, SameLinesAndCellsAsTheOfficeOrDeclined) {
    // The office wrote the hidden sheet and row as such.
    const std::string hidden = readFile(made_->at("hidden"));
    const formats::ZipPackage package(hidden);
    ASSERT_NE(package.read("xl/workbook.xml")->find("state=\"hidden\""), std::string::npos);
    ASSERT_NE(package.read("xl/worksheets/sheet1.xml")->find("hidden=\""), std::string::npos);
    const struct {
        const char* name;
        std::string pairs; // a replacement table
        std::set<std::string> declined;
    } cases[] = {
        {"a text across sheets, runs and lines", "合同\t协议\n", {"formula", "protected"}},
        {"pairs one after the other, ASCII in either case",
         "订合同\t立约\n约\t契约\nacme\tWidget\n",
         {"numbers", "formula", "sums"}},
        {"beside formulas: other scripts with ASCII letters and digits", "acme合同 2\t新\n", {}},
        {"beside formulas: ASCII punctuation", "合同 2019\t新\n\"合\t新\n", {"sums", "formula"}},
        {"nothing to find", "不存在\t新\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder scratch;
        const fs::path bySuite = scratch.path() / "suite", byBuiltin = scratch.path() / "builtin";
        const std::string suiteOut = run(bySuite, "suite", c.pairs);
        const std::string builtinOut = run(byBuiltin, "builtin", c.pairs);
        for (const auto& [name, original] : *made_) {
            SCOPED_TRACE(name);
            const std::string file = original.filename().string();
            const auto ours = linesOf(builtinOut, file);
            const std::string now = readFile(byBuiltin / file);
            if (c.declined.count(name)) {
                ASSERT_EQ(ours.size(), 1u);
                EXPECT_NE(ours[0].find("文件未改动"), std::string::npos) << ours[0];
                EXPECT_EQ(now, readFile(original));
                continue;
            }
            const auto office = linesOf(suiteOut, file);
            EXPECT_FALSE(office.empty());
            EXPECT_EQ(ours, office);
            const bool replaced = std::any_of(ours.begin(), ours.end(), [](const std::string& l) {
                return l.find("已替换内容") != std::string::npos;
            });
            if (!replaced) {
                EXPECT_EQ(now, readFile(original));
                continue;
            }
            const auto back = office_testing::readBack({bySuite / file, byBuiltin / file}, "fods");
            EXPECT_EQ(back[1].sheets(), back[0].sheets());
        }
    }
}

} // namespace
