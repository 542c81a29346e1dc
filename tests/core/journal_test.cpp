#include "core/journal.h"
#include "core/text/encoding.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using testing_support::readFile;
using testing_support::TempFolder;

namespace {

// 2020-06-13 09:05:07 local time.
std::time_t localMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// Chooses the ANSI code set for one test. The expected texts below are
// UTF-8, which is the Linux default but not the code page of a Windows system.
struct CodeSetGuard {
    explicit CodeSetGuard(std::string codeSet = "UTF-8") { text::setAnsiCodeSet(codeSet); }
    ~CodeSetGuard() { text::setAnsiCodeSet(""); }
};

} // namespace

TEST(Journal, FirstEntryCreatesDayFolderAndSecondAppends) {
    CodeSetGuard utf8;
    TempFolder app;
    const std::time_t t = localMoment(2020, 6, 13, 9, 5, 7);
    journal::Journal j(app.path(), [t] { return t; });

    ASSERT_TRUE(j.rz("a.doc 已替换内容"));
    const auto file = app / "Journal" / "2020-06-13" / "2020-06-13.txt";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(readFile(file), "时间：2020/6/13 9:05:07 a.doc 已替换内容\r\n");

    ASSERT_TRUE(j.rz("b.doc 没找到替换的内容"));
    EXPECT_EQ(readFile(file), "时间：2020/6/13 9:05:07 a.doc 已替换内容\r\n"
                              "时间：2020/6/13 9:05:07 b.doc 没找到替换的内容\r\n");
}

TEST(Journal, EmptyLineKeepsTrailingSpaceAndLineBreaksStayInside) {
    CodeSetGuard utf8;
    TempFolder app;
    const std::time_t t = localMoment(2021, 12, 1, 23, 59, 58);
    journal::Journal j(app.path(), [t] { return t; });
    j.rz("");
    j.rz("two\r\nlines");
    EXPECT_EQ(readFile(j.dayFile()),
              "时间：2021/12/1 23:59:58 \r\n时间：2021/12/1 23:59:58 two\r\nlines\r\n");
}

TEST(Journal, TwoJournalsOnOneDayShareTheFileInOrder) {
    CodeSetGuard utf8;
    TempFolder app;
    std::time_t t = localMoment(2022, 1, 2, 10, 0, 0);
    journal::Journal first(app.path(), [&t] { return t; });
    journal::Journal second(app.path(), [&t] { return t; });
    first.rz("one");
    t += 1;
    second.rz("two");
    EXPECT_EQ(readFile(first.dayFile()),
              "时间：2022/1/2 10:00:00 one\r\n时间：2022/1/2 10:00:01 two\r\n");
}

TEST(Journal, RemovedJournalFolderIsRecreated) {
    TempFolder app;
    journal::Journal j(app.path());
    ASSERT_TRUE(j.rz("first"));
    std::filesystem::remove_all(app / "Journal");
    ASSERT_TRUE(j.rz("second"));
    const std::string content = readFile(j.dayFile());
    EXPECT_NE(content.find("second\r\n"), std::string::npos);
    EXPECT_EQ(content.find("first"), std::string::npos);
}

TEST(Journal, EntryThatCannotBeWrittenIsSkipped) {
    TempFolder app;
    // A plain file where the Journal folder should be.
    testing_support::writeFile(app / "Journal", "x");
    journal::Journal j(app.path());
    EXPECT_FALSE(j.rz("lost"));
    EXPECT_EQ(readFile(app / "Journal"), "x");
}

TEST(Journal, WritesCodePage936WhenChosen) {
    CodeSetGuard guard("CP936");
    TempFolder app;
    const std::time_t t = localMoment(2020, 6, 13, 9, 5, 7);
    journal::Journal j(app.path(), [t] { return t; });
    j.rz("表");
    // 时 间 ： 表 in GBK.
    const std::string expected = "\xCA\xB1\xBC\xE4\xA3\xBA"
                                 "2020/6/13 9:05:07 "
                                 "\xB1\xED\r\n";
    EXPECT_EQ(readFile(j.dayFile()), expected);
}

TEST(Journal, EntryAcrossMidnightGoesToTheFileOfTheFirstReading) {
    CodeSetGuard utf8;
    TempFolder app;
    std::vector<std::time_t> readings{localMoment(2020, 6, 13, 23, 59, 59),
                                      localMoment(2020, 6, 14, 0, 0, 0)};
    size_t next = 0;
    journal::Journal j(app.path(), [&] { return readings[std::min(next++, readings.size() - 1)]; });
    j.rz("x");
    EXPECT_EQ(readFile(app / "Journal" / "2020-06-13" / "2020-06-13.txt"),
              "时间：2020/6/14 0:00:00 x\r\n");
}
