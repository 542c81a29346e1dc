// What the update window does around the download: size readings, progress
// texts, file names from the network, and files replaced only when whole.

#include "core/text/encoding.h"
#include "core/updater/download.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <limits>

using namespace updater;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

TEST(DownloadSizes, HeaderReadings) {
    EXPECT_EQ(contentLengthOf("3000"), 3000);
    EXPECT_EQ(contentLengthOf(" 3000"), 3000);
    EXPECT_EQ(contentLengthOf("12abc"), 12);
    EXPECT_EQ(contentLengthOf(""), 0);
    EXPECT_EQ(contentLengthOf("abc"), 0);
    EXPECT_EQ(contentLengthOf("0"), 0);
    EXPECT_EQ(contentLengthOf("-5"), 0);
    EXPECT_EQ(contentLengthOf("99999999999"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(downloadSizeOf("3000"), 3000.0f);
    EXPECT_EQ(downloadSizeOf("none"), 0.0f);
    // Single precision: 123456789 is held as 123456792.
    EXPECT_EQ(roundToInt32(downloadSizeOf("123456789")), 123456792);
    EXPECT_EQ(roundToInt32(2.5), 2);
    EXPECT_EQ(roundToInt32(3.5), 4);
}

TEST(ProgressTexts, ThreeThousandBytesInThreeChunks) {
    EXPECT_EQ(progressText(2048, 3000.0f), "已经下载 2kb / 2kb（68.27%）");
    EXPECT_EQ(progressText(3000, 3000.0f), "已经下载 2kb / 2kb（100.00%）");
    EXPECT_EQ(finishedText(3000, 3000.0f), "完成 2kb / 2kb（100%）");
    EXPECT_EQ(progressText(12800, 353280.0f), "已经下载 12kb / 345kb（3.62%）");
    EXPECT_EQ(finishedText(353280, 353280.0f), "完成 345kb / 345kb（100%）");
}

TEST(ProgressTexts, AnUnknownSizeDoesNotDivideByZero) {
    EXPECT_EQ(progressText(2048, 0.0f), "已经下载 2kb / 0kb（0.00%）");
    EXPECT_EQ(finishedText(2048, 0.0f), "完成 2kb / 0kb（100%）");
    // More than announced is shown as it is.
    EXPECT_EQ(progressText(3000, 2000.0f), "已经下载 2kb / 1kb（150.00%）");
}

TEST(DownloadFileNames, DecodedFromTheHeader) {
    EXPECT_EQ(DownloadFileName("attachment; filename= %E6%9B%B4%E6%96%B0.exe"), "更新.exe");
    EXPECT_EQ(DownloadFileName("attachment; filename= batchreplace.exe"), "batchreplace.exe");
    // Only the exact text with one blank is deleted.
    EXPECT_EQ(DownloadFileName("attachment; filename=x.exe"), "attachment; filename=x.exe");
    EXPECT_EQ(DownloadFileName(""), "");
}

TEST(DownloadFileNames, OnlyPlainNamesAreAccepted) {
    for (const char* good : {"更新.exe", "batchreplace.exe", "a b.exe", "..hidden", "console.exe"})
        EXPECT_TRUE(isPlainFileName(good)) << good;
    for (const char* bad : {"",
                            ".",
                            "..",
                            "...",
                            ". .",
                            "a/b",
                            "../../x.exe",
                            "/etc/passwd",
                            "..\\x.exe",
                            "C:evil.exe",
                            "C:\\Windows\\x.exe",
                            "\\\\server\\share",
                            "a\tb",
                            "a\x01"
                            "b",
                            "a\x7f",
                            "x.",
                            "x ",
                            "a*b",
                            "a?b",
                            "a|b",
                            "a<b",
                            "CON",
                            "nul.txt",
                            "Com1.exe",
                            "LPT9"})
        EXPECT_FALSE(isPlainFileName(bad)) << bad;
    EXPECT_FALSE(isPlainFileName(std::string(256, 'a')));
    // What the decoder can make of escapes: separators, dots, and dots and
    // slashes from over-long UTF-8 forms.
    EXPECT_FALSE(isPlainFileName(DownloadFileName("attachment; filename= %2E%2E%2Fx.exe")));
    EXPECT_FALSE(isPlainFileName(DownloadFileName("attachment; filename= ..%5Cx.exe")));
    EXPECT_FALSE(isPlainFileName(DownloadFileName("attachment; filename= %C0%AE%C0%AE%C0%AFx")));
    EXPECT_FALSE(isPlainFileName(DownloadFileName("attachment; filename= %C0%80x.exe")));
    EXPECT_FALSE(isPlainFileName(DownloadFileName("attachment; filename= a%0D%0Ab")));
}

TEST(ZeroVersion, NumbersThatAreZero) {
    for (const char* zero : {"0", "0.0.0", "00000", "0 "})
        EXPECT_TRUE(isZeroVersion(zero)) << zero;
    for (const char* other : {"1.5.9", "0.0.1", "", "abc", "2.0地 "})
        EXPECT_FALSE(isZeroVersion(other)) << other;
}

TEST(WholeFiles, TheTargetIsReplacedOnlyByAWholeFile) {
    TempFolder app;
    writeFile(app / "update.exe", "old");
    {
        WholeFileWriter writer(app / "update.exe");
        std::string error;
        ASSERT_TRUE(writer.open(error)) << error;
        ASSERT_TRUE(writer.append("new ", error));
        ASSERT_TRUE(writer.append("bytes", error));
        EXPECT_EQ(readFile(app / "update.exe"), "old");
        ASSERT_TRUE(writer.commit(error)) << error;
    }
    EXPECT_EQ(readFile(app / "update.exe"), "new bytes");
    {
        // Abandoned half-way: the old file stays, the partial file goes.
        WholeFileWriter writer(app / "update.exe");
        std::string error;
        ASSERT_TRUE(writer.open(error));
        ASSERT_TRUE(writer.append("half", error));
        EXPECT_TRUE(fs::exists(writer.partial()));
    }
    EXPECT_EQ(readFile(app / "update.exe"), "new bytes");
    EXPECT_EQ(std::distance(fs::directory_iterator(app.path()), fs::directory_iterator()), 1);
}

TEST(WholeFiles, AFileThatCannotBeCreatedIsNamed) {
    TempFolder app;
    writeFile(app / "download", "a file where the folder should be");
    WholeFileWriter writer(app / "download" / "x.exe");
    std::string error;
    EXPECT_FALSE(writer.open(error));
    EXPECT_NE(error.find("x.exe"), std::string::npos);
}

TEST(WholeFiles, CopyReplacesOrLeavesTheTargetAlone) {
    TempFolder app;
    writeFile(app / "download.bin", std::string(3000, 'n'));
    writeFile(app / "prog.exe", "old");
    std::string error;
    ASSERT_TRUE(replaceWithCopy(app / "download.bin", app / "prog.exe", error)) << error;
    EXPECT_EQ(readFile(app / "prog.exe"), std::string(3000, 'n'));

    // A program stays a program.
    fs::permissions(app / "prog.exe", fs::perms::owner_all | fs::perms::group_read);
    writeFile(app / "download.bin", "v2");
    ASSERT_TRUE(replaceWithCopy(app / "download.bin", app / "prog.exe", error)) << error;
    EXPECT_EQ(readFile(app / "prog.exe"), "v2");
#ifndef _WIN32
    // (Windows files have no execute bits to keep.)
    EXPECT_EQ(fs::status(app / "prog.exe").permissions(),
              fs::perms::owner_all | fs::perms::group_read);
#endif

    // A folder of that name cannot be replaced by a file.
    fs::create_directories(app / "busy" / "inside");
    EXPECT_FALSE(replaceWithCopy(app / "download.bin", app / "busy", error));
    EXPECT_NE(error.find("busy"), std::string::npos);
    EXPECT_NE(error.find("download.bin"), std::string::npos);
    EXPECT_TRUE(fs::exists(app / "busy" / "inside"));
    EXPECT_FALSE(fs::exists(app / ".busy.new"));
}

// A writer given up before its commit leaves the folders around it as they
// were: the folders it made go when they are empty, others stay.
TEST(WholeFiles, AWriterGivenUpRemovesTheFoldersItMade) {
    struct Case {
        const char* name;
        fs::path existing; // made before the writer, relative to the app folder
        fs::path target;
        std::map<std::string, std::string> left; // what the app folder holds afterwards
    };
    const Case cases[] = {
        {"one new folder", "", "download/x.exe", {}},
        {"two new folders", "", "a/b/x.exe", {}},
        {"existing folder", "download", "download/x.exe", {{"download/", ""}}},
        {"existing outer folder", "a", "a/b/x.exe", {{"a/", ""}}},
    };
    for (const Case& c : cases) {
        TempFolder app;
        if (!c.existing.empty())
            fs::create_directories(app / c.existing);
        {
            WholeFileWriter writer(app / c.target);
            std::string error;
            ASSERT_TRUE(writer.open(error)) << c.name << ": " << error;
            ASSERT_TRUE(writer.append("half", error)) << c.name;
        }
        EXPECT_EQ(testing_support::folderContents(app.path()), c.left) << c.name;
    }
    // A file put into a made folder meanwhile keeps it.
    TempFolder app;
    {
        WholeFileWriter writer(app / "download" / "x.exe");
        std::string error;
        ASSERT_TRUE(writer.open(error)) << error;
        writeFile(app / "download" / "other", "kept");
    }
    EXPECT_EQ(readFile(app / "download" / "other"), "kept");
}

// The chunk loop: 1024-byte chunks written as they come, the progress after
// each, and a body short of its announced size never taking any place.
TEST(ChunkLoop, ChunksProgressAndTheAnnouncedSize) {
    using Outcome = ChunkLoopResult::Outcome;
    struct Case {
        const char* name;
        std::size_t bodySize;
        std::int64_t announced;
        Outcome outcome;
        std::vector<std::int64_t> progress;
    };
    const Case cases[] = {
        {"3000 of 3000", 3000, 3000, Outcome::Complete, {2048, 3000, 3000}},
        {"1000 of 3000", 1000, 3000, Outcome::Short, {1000}},
        {"2999 of 3000", 2999, 3000, Outcome::Short, {2048, 2999, 2999}},
        {"size not announced", 1000, 0, Outcome::Complete, {1000}},
        {"empty body", 0, 0, Outcome::Complete, {}},
        {"empty body of 10", 0, 10, Outcome::Short, {}},
    };
    for (const Case& c : cases) {
        TempFolder app;
        writeFile(app / "update.exe", "old");
        const std::string body(c.bodySize, 'b');
        std::size_t at = 0;
        std::vector<int> asked;
        std::vector<std::int64_t> progress;
        WholeFileWriter file(app / "update.exe");
        std::string error;
        ASSERT_TRUE(file.open(error)) << error;
        ChunkLoop loop(
            [&](int size) {
                asked.push_back(size);
                const std::string chunk = body.substr(at, static_cast<std::size_t>(size));
                at += chunk.size();
                return chunk;
            },
            file, c.announced, "http://host/f");
        while (loop.step())
            progress.push_back(loop.received());
        EXPECT_FALSE(loop.step()) << c.name;
        EXPECT_EQ(progress, c.progress) << c.name;
        for (int size : asked)
            EXPECT_EQ(size, 1024) << c.name;
        const ChunkLoopResult& r = loop.result();
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        if (c.outcome == Outcome::Complete) {
            EXPECT_EQ(r.received, static_cast<std::int64_t>(c.bodySize)) << c.name;
            ASSERT_TRUE(file.commit(error)) << error;
            EXPECT_EQ(readFile(app / "update.exe"), body) << c.name;
        }
        if (c.outcome == Outcome::Short) {
            EXPECT_NE(r.error.find("http://host/f"), std::string::npos) << r.error;
            EXPECT_NE(r.error.find(std::to_string(c.announced)), std::string::npos) << r.error;
            EXPECT_NE(r.error.find(std::to_string(c.bodySize)), std::string::npos) << r.error;
        }
    }
}
