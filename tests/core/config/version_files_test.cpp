#include "core/config/version_files.h"
#include "core/text/encoding.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using config::CutField;
using config::CutVersion;
using config::IsNewerVersion;
using config::ReadJoinedLines;
using config::ReadLastLine;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

namespace {

struct CodeSetGuard {
    ~CodeSetGuard() { text::setAnsiCodeSet(""); }
};

std::optional<std::string> lastLineOf(const std::string& bytes) {
    TempFolder folder;
    writeFile(folder / "f.ini", bytes);
    return ReadLastLine(folder / "f.ini");
}

std::optional<std::string> joinedLinesOf(const std::string& bytes) {
    TempFolder folder;
    writeFile(folder / "f.ini", bytes);
    return ReadJoinedLines(folder / "f.ini");
}

} // namespace

TEST(WriteLine, WrittenInTheAnsiCodePageWithCrLf) {
    TempFolder app;
    std::string error;
    text::setAnsiCodeSet("CP936");
    EXPECT_TRUE(config::WriteLine(app / "toconfigure" / "updata.ini", "版 1.5.9", error));
    text::setAnsiCodeSet("");
    EXPECT_EQ(readFile(app / "toconfigure" / "updata.ini"), "\xB0\xE6 1.5.9\r\n");
    EXPECT_TRUE(config::WriteLine(app / "toconfigure" / "updata.ini", "", error));
    EXPECT_EQ(readFile(app / "toconfigure" / "updata.ini"), "\r\n");
    writeFile(app / "file", "x");
    EXPECT_FALSE(config::WriteLine(app / "file" / "updata.ini", "x", error));
    EXPECT_NE(error.find("updata.ini"), std::string::npos);
}

TEST(WriteLine, TheVersionFileHoldsOneLineAfterEveryWrite) {
    TempFolder app;
    std::string error;
    std::filesystem::create_directories(app / "toconfigure");
    writeFile(app / "toconfigure" / "dqbb.ini", "0.0.1\r\n9.9.9\r\n");
    ASSERT_TRUE(config::WriteVersionFile(app.path(), "1.5.8", error)) << error;
    EXPECT_EQ(readFile(config::currentVersionFile(app.path())), "1.5.8\r\n");
    EXPECT_EQ(ReadLastLine(config::currentVersionFile(app.path())), "1.5.8");
}

TEST(ReadLastLine, LineEnds) {
    EXPECT_EQ(lastLineOf("1.5.7\r\n1.5.8\r\n"), "1.5.8");
    // CR alone ends a line too.
    EXPECT_EQ(lastLineOf("1.5.7\r1.5.8\r"), "1.5.8");
    // A lone LF belongs to the line.
    EXPECT_EQ(lastLineOf("a\nb\r\nc\nd"), "c\nd");
    EXPECT_EQ(lastLineOf("a\nb\n"), "a\nb\n");
    // A line end at the very end adds no empty line, but an empty line before
    // it is a line of its own.
    EXPECT_EQ(lastLineOf("1.5.8\r\n\r\n"), "");
    EXPECT_EQ(lastLineOf("1.5.8\r\r\n"), "");
    EXPECT_EQ(lastLineOf("1.5.8"), "1.5.8");
    EXPECT_EQ(lastLineOf(""), "");
    EXPECT_EQ(lastLineOf("\r\n"), "");
}

TEST(ReadLastLine, MissingFileGivesNoInformation) {
    TempFolder folder;
    EXPECT_EQ(ReadLastLine(folder / "absent.ini"), std::nullopt);
    EXPECT_EQ(ReadJoinedLines(folder / "absent.ini"), std::nullopt);
    // A folder in the file's place cannot be read as a file either.
    std::filesystem::create_directory(folder / "dir.ini");
    EXPECT_EQ(ReadLastLine(folder / "dir.ini"), std::nullopt);
}

TEST(ReadLastLine, ShippedConfigurationKeepsItsZeroBytes) {
    const std::optional<std::string> line = ReadLastLine(SHIPPED_CONFIG_FILE);
    ASSERT_TRUE(line);
    ASSERT_EQ(line->size(), 52u);
    EXPECT_EQ(line->substr(50), std::string(2, '\0'));
    const std::string url = config::textBeforeNul(*line);
    EXPECT_EQ(url.size(), 50u);
    EXPECT_EQ(url.rfind("https://", 0), 0u);
    EXPECT_NE(url.find("/post/"), std::string::npos);
}

TEST(ReadLastLine, ConvertsFromTheAnsiCodePage) {
    CodeSetGuard guard;
    text::setAnsiCodeSet("CP936");
    // "版 1.5.9" and "配置" in GBK; GBK's trail bytes never split a line.
    EXPECT_EQ(lastLineOf("x\r\n\xB0\xE6 1.5.9\r\n"), "版 1.5.9");
    EXPECT_EQ(joinedLinesOf("\xC5\xE4\r\n\xD6\xC3\r\n"), "配置");
}

TEST(ReadJoinedLines, JoinsWithoutSeparators) {
    EXPECT_EQ(joinedLinesOf("A\r\nB\r\n"), "AB");
    EXPECT_EQ(joinedLinesOf("A\rB\r\nC"), "ABC");
    EXPECT_EQ(joinedLinesOf("A\nB\nC\n"), "A\nB\nC\n");
    EXPECT_EQ(joinedLinesOf(""), "");
}

TEST(CutVersion, FiveCodeUnitsAfterTheMarker) {
    EXPECT_EQ(CutVersion("<p>版 1.5.9 地 x</p>"), "1.5.9");
    // A short version takes in what follows it.
    EXPECT_EQ(CutVersion("版 2.0\r\n地 abc"), "2.0\r\n");
    EXPECT_EQ(CutVersion("版 2.0地 abc"), "2.0地 ");
    // A long one is cut.
    EXPECT_EQ(CutVersion("版 1.5.10"), "1.5.1");
    // Fewer at the end of the text.
    EXPECT_EQ(CutVersion("abc版 1.5"), "1.5");
    EXPECT_EQ(CutVersion("版 "), "");
    // The first marker counts.
    EXPECT_EQ(CutVersion("版 1.0.0 版 9.9.9"), "1.0.0");
    // Characters are UTF-16 code units: a character outside the basic plane
    // takes two of the five.
    EXPECT_EQ(CutVersion("版 😀1.2.3"), "😀1.2");
    EXPECT_EQ(CutVersion("版 中文版本号"), "中文版本号");
}

TEST(CutVersion, AbsentWithoutMarker) {
    EXPECT_EQ(CutVersion(""), std::nullopt);
    EXPECT_EQ(CutVersion("版1.5.9"), std::nullopt);
    EXPECT_EQ(CutVersion("版　1.5.9"), std::nullopt); // a full-width space is not the marker
    EXPECT_EQ(CutVersion("<html>404</html>"), std::nullopt);
}

TEST(CutField, BetweenTheMarkers) {
    EXPECT_EQ(CutField("地 abc址结", "地 ", "址结"), " abc");
    EXPECT_EQ(CutField("前文地  https://x/y 址结后文", "地 ", "址结"), "  https://x/y ");
    // The start marker nearer the end marker wins.
    EXPECT_EQ(CutField("地 one 地 two址结", "地 ", "址结"), " two");
    // A start marker may end right where the end marker begins.
    EXPECT_EQ(CutField("地 址结", "地 ", "址结"), " ");
    // Only the first end marker counts.
    EXPECT_EQ(CutField("方 a式结方 b式结", "方 ", "式结"), " a");
    EXPECT_EQ(CutField("更 第一行\r\n第二行说结", "更 ", "说结"), " 第一行\r\n第二行");
}

TEST(CutField, AbsentWhenAMarkerIsMissing) {
    EXPECT_EQ(CutField("abc址结地 ", "地 ", "址结"), std::nullopt);
    EXPECT_EQ(CutField("地 abc", "地 ", "址结"), std::nullopt);
    EXPECT_EQ(CutField("abc址结", "地 ", "址结"), std::nullopt);
    // The first end marker has no start before it, although a later pair
    // would.
    EXPECT_EQ(CutField("址结 地 x址结", "地 ", "址结"), std::nullopt);
    // A start marker that overlaps the end marker does not lie before it.
    EXPECT_EQ(CutField("ab", "ab", "b"), std::nullopt);
    EXPECT_EQ(CutField("", "地 ", "址结"), std::nullopt);
}

TEST(IsNewerVersion, PlainStringOrder) {
    EXPECT_TRUE(IsNewerVersion("1.5.8", "1.5.9"));
    EXPECT_FALSE(IsNewerVersion("1.5.8", "1.5.8"));
    EXPECT_FALSE(IsNewerVersion("1.5.8", "1.5.7"));
    EXPECT_FALSE(IsNewerVersion("1.6.0", "1.5.9"));
    // 1.5.10 on the page is cut to 1.5.1.
    EXPECT_FALSE(IsNewerVersion("1.5.9", *CutVersion("版 1.5.10")));
    // No numbers: 1.10.0 sorts before 1.9.0.
    EXPECT_FALSE(IsNewerVersion("1.9.0", "1.10."));
    // A prefix is the smaller.
    EXPECT_TRUE(IsNewerVersion("1.5", "1.5.0"));
    EXPECT_TRUE(IsNewerVersion("", "1"));
    EXPECT_FALSE(IsNewerVersion("", ""));
    EXPECT_FALSE(IsNewerVersion("1.5.8", ""));
    // UTF-16 code units, not UTF-8 bytes: a surrogate (0xD83D) sorts before
    // U+FF08, although its UTF-8 lead byte sorts after.
    EXPECT_TRUE(IsNewerVersion("😀", "（"));
    EXPECT_FALSE(IsNewerVersion("（", "😀"));
}
