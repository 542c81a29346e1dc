// A folder of nothing but .docx and .xlsx needs no office. Documents the
// office made are run through the command line with an automation registry
// in which nothing can be started, in the default engine choice: our own
// engine does every one of them, no line fails, and the office reads the
// replaced text back afterwards.

#include "cli/cli.h"
#include "core/automation/automation.h"
#include "office_test_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using office_testing::Sheet;
using testing_support::TempFolder;
namespace fs = std::filesystem;

TEST(BuiltinEnginesWithoutOffice, PackagesAreReplacedWithNothingToStart) {
    if (const std::string reason = office_testing::missingOfficeReason(); !reason.empty())
        GTEST_SKIP() << reason;
    TempFolder made, folder, app;
    const auto words = office_testing::makeDocuments(
        {{"a", office_testing::flatText({office_testing::paragraph("甲方：旧公司，地址同上")})},
         {"b", office_testing::flatText({office_testing::paragraph("与此无关")})}},
        "docx", made.path());
    const auto books = office_testing::makeDocuments(
        {{"c", office_testing::flatSpreadsheet(
                   {Sheet{"表一", {{"旧公司", "7"}}}, Sheet{"表二", {{"别的"}}}})}},
        "xlsx", made.path());
    for (const auto* documents : {&words, &books})
        for (const auto& [name, file] : *documents)
            fs::copy_file(file, folder.path() / file.filename());

    // Nothing registered: starting an office would fail with a line.
    const automation::Registry nothing;
    struct Case {
        std::string command;
        std::string lines;
    };
    for (const Case& c :
         {Case{"word-replace", "a.docx 已替换内容\nb.docx 没找到替换的内容\n"},
          Case{"excel-replace", "c.xlsx-表一已替换内容\nc.xlsx-表二没找到替换的内容\n"}}) {
        std::ostringstream out, err;
        EXPECT_EQ(cli::run({c.command, "--folder", folder.path().string(), "--find", "旧公司",
                            "--replace", "新公司", "--app-folder", app.path().string()},
                           out, err, cli::Environment{nothing, app.path(), false}),
                  0)
            << err.str();
        EXPECT_EQ(out.str(), c.lines) << c.command;
    }

    const auto text = office_testing::readBack({folder.path() / "a.docx"}, "fodt");
    EXPECT_EQ(text.at(0).bodyParagraphs(), std::vector<std::string>{"甲方：新公司，地址同上"});
    const auto cells = office_testing::readBack({folder.path() / "c.xlsx"}, "fods");
    EXPECT_EQ(cells.at(0).sheets().at("表一"), (std::vector<std::string>{"新公司", "7"}));
}
