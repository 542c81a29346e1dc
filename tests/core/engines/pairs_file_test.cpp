// Replacement tables: what is read as pairs, and every mistake named with its
// line.

#include "core/engines/pairs_file.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using engines::ReplacePair;
using Pairs = std::vector<ReplacePair>;

namespace {

TEST(PairsFile, ReadsPairsAndSkipsBlankAndCommentLines) {
    struct Case {
        std::string content;
        Pairs pairs;
    };
    const std::vector<Case> cases = {
        {"甲\t乙\n丙\t丁\n", {{"甲", "乙"}, {"丙", "丁"}}},
        // A byte order mark, CR LF line ends, no line end at the end.
        {"\xEF\xBB\xBF甲\t乙\r\n丙\t丁", {{"甲", "乙"}, {"丙", "丁"}}},
        // Blank lines and comments; an empty replacement deletes.
        {"# 公司更名\n\n甲\t\n\r\n#甲\t乙\n", {{"甲", ""}}},
        // The first tab separates; spaces are kept as they stand.
        {" 甲 \t乙\t丙 \n", {{" 甲 ", "乙\t丙 "}}},
    };
    for (const Case& c : cases) {
        Pairs pairs;
        std::string error;
        EXPECT_TRUE(engines::parsePairs(c.content, "“t.txt”", pairs, error)) << error;
        EXPECT_EQ(pairs, c.pairs) << c.content;
    }
}

TEST(PairsFile, MistakesNameTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"甲\t乙\n丙丁\n", "替换表“t.txt”第 2 行没有制表符"},
        {"#\n\n\t乙\n", "替换表“t.txt”第 3 行的原内容是空的"},
        {"甲\t乙\n\xFF\xFE\t乙\n", "替换表“t.txt”第 2 行不是 UTF-8 文本"},
        {"# 只有注释\n\n", "替换表“t.txt”中没有替换对"},
        {"", "替换表“t.txt”中没有替换对"},
    };
    for (const auto& [content, message] : cases) {
        Pairs pairs;
        std::string error;
        EXPECT_FALSE(engines::parsePairs(content, "“t.txt”", pairs, error)) << content;
        EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    }
    std::string tooMany;
    for (std::size_t i = 0; i <= engines::kMaxPairs; ++i)
        tooMany += "a" + std::to_string(i) + "\tb\n";
    Pairs pairs;
    std::string error;
    EXPECT_FALSE(engines::parsePairs(tooMany, "“t.txt”", pairs, error));
    EXPECT_NE(error.find("第 10001 行超出上限"), std::string::npos) << error;
}

TEST(PairsFile, FileThatCannotBeReadIsNamed) {
    testing_support::TempFolder folder;
    Pairs pairs;
    std::string error;
    EXPECT_FALSE(engines::readPairsFile(folder / "missing.txt", pairs, error));
    EXPECT_NE(error.find("missing.txt"), std::string::npos) << error;
    testing_support::writeFile(folder / "t.txt", "甲\t乙\n");
    EXPECT_TRUE(engines::readPairsFile(folder / "t.txt", pairs, error)) << error;
    EXPECT_EQ(pairs, (Pairs{{"甲", "乙"}}));
}

} // namespace
