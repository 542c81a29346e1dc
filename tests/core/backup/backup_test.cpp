// The backup store against real files in a temporary application folder:
// SHA-256 vectors, the manifest written as a run goes, undo of each case a
// document can be in, and the keeping limits with their settings file.

#include "core/backup/backup_store.h"
#include "core/backup/keeping.h"
#include "core/backup/manifest.h"
#include "core/backup/sha256.h"
#include "core/backup/undo.h"
#include "core/platform/atomic_save.h"
#include "core/text/paths.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::utf8Path;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

constexpr std::time_t kNoon = 1765281600; // 2025-12-09 12:00 UTC

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Sha256, KnownVectorsWholeAndInPieces) {
    const std::string million(1000000, 'a');
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", // 56 bytes: padding spills
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(backup::sha256(c.message), c.digest) << c.message.size();
        for (const std::size_t piece : {1u, 63u, 65u, 4099u}) {
            backup::Sha256 hash;
            for (std::size_t at = 0; at < c.message.size(); at += piece)
                hash.update(std::string_view(c.message).substr(at, piece));
            EXPECT_EQ(hash.hexDigest(), c.digest) << c.message.size() << " by " << piece;
        }
    }
}

TEST(Manifest, FieldsSurviveTheRoundTripAndACutLineIsSkipped) {
    const std::string hashA(64, 'a'), hashB(64, 'b');
    backup::DocumentEntry a{1, "a (2).doc", "/文档/a\tb\\c\r\nd.doc", 12345, -42, hashA, hashB};
    backup::DocumentEntry b{2, "b.xls", "C:\\表格\\b.xls", 0, 7, hashB, std::nullopt};
    const std::string text =
        backup::manifestStart({kNoon, "Word 替换", "/文\t档"}) + backup::documentLine(a) +
        backup::documentLine(b) + backup::resultLine(1, hashB) + backup::undoneLine(kNoon + 60) +
        // A run killed while writing: the last line is cut short.
        backup::documentLine({3, "c.doc", "/c.doc", 1, 1, hashA, {}}).substr(0, 80);
    const backup::Manifest m = backup::parseManifest(text);
    ASSERT_TRUE(m.header);
    EXPECT_EQ(m.header->time, kNoon);
    EXPECT_EQ(m.header->folder, "/文\t档");
    ASSERT_EQ(m.documents.size(), 2u);
    EXPECT_EQ(m.documents[0].original, a.original);
    EXPECT_EQ(m.documents[0].copy, a.copy);
    EXPECT_EQ(m.documents[0].mtime, -42);
    EXPECT_EQ(m.documents[0].leftHash, hashB);
    EXPECT_EQ(m.documents[1].original, b.original);
    EXPECT_FALSE(m.documents[1].leftHash);
    EXPECT_EQ(m.undone, kNoon + 60);
    EXPECT_EQ(backup::documentsChanged(m), 2u); // one changed, one unknown
}

// A run over documents in a folder of its own, with the store in `app`.
class Store : public ::testing::Test {
protected:
    fs::path document(const std::string& name, const std::string& content) {
        const fs::path file = docs / utf8Path(name);
        fs::create_directories(file.parent_path());
        writeFile(file, content);
        fs::last_write_time(file, fs::file_time_type(std::chrono::hours(400000)));
        return file;
    }
    // What an engine does: keep, store the change, record it.
    void change(backup::BackupStore& store, const fs::path& file, const std::string& content,
                bool recorded = true) {
        std::string error;
        ASSERT_TRUE(store.beforeChange(file, error)) << error;
        ASSERT_TRUE(platform::replaceFileContent(file, content, error)) << error;
        if (recorded)
            store.afterChange(file);
    }
    backup::BackupStore store(std::time_t at = kNoon) {
        return backup::BackupStore(app.path(), "Word 替换", text::pathToUtf8(docs.path()),
                                   [at] { return at; });
    }

    TempFolder app, docs;
};

TEST_F(Store, UndoRestoresWhatStillHoldsTheResultAndLeavesTheRestWithALine) {
    enum class After { Nothing, Edited, Deleted, Unrecorded, UnrecordedBack };
    const struct {
        const char* name;
        After after;
        bool restored;
        const char* line;
    } cases[] = {
        {"甲.doc", After::Nothing, true, "已还原"},
        {"sub/甲.doc", After::Nothing, true, "已还原"}, // same file name
        {"edited.doc", After::Edited, false, "又被修改过"},
        {"deleted.doc", After::Deleted, false, "已被移动或删除"},
        {"killed.doc", After::Unrecorded, false, "中断"},
        {"killed-unsaved.doc", After::UnrecordedBack, true, "不需要还原"},
    };
    auto run = store();
    std::map<std::string, fs::file_time_type> times;
    for (const auto& c : cases) {
        const fs::path file = document(c.name, std::string("原件 ") + c.name);
        times[c.name] = fs::last_write_time(file);
        change(run, file, "新", c.after != After::Unrecorded && c.after != After::UnrecordedBack);
        if (c.after == After::Edited)
            writeFile(file, "用户后来的修改");
        if (c.after == After::Deleted)
            fs::remove(file);
        if (c.after == After::UnrecordedBack)
            writeFile(file, std::string("原件 ") + c.name);
    }
    EXPECT_EQ(run.backupOf(docs / utf8Path("sub/甲.doc")).filename(), utf8Path("甲 (2).doc"));
    ASSERT_TRUE(run.journalLine());
    EXPECT_TRUE(contains(*run.journalLine(), text::pathToUtf8(run.runFolder())));

    const backup::UndoResult undone = backup::undoLastRun(app.path());
    ASSERT_EQ(undone.lines.size(), std::size(cases));
    EXPECT_TRUE(undone.anyLeftAlone);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const fs::path file = docs / utf8Path(c.name);
        EXPECT_TRUE(contains(undone.lines[i], c.line)) << undone.lines[i];
        EXPECT_TRUE(contains(undone.lines[i], text::pathToUtf8(file))) << undone.lines[i];
        if (c.restored) {
            EXPECT_EQ(readFile(file), std::string("原件 ") + c.name);
        } else if (c.after != After::Deleted) {
            EXPECT_NE(readFile(file), std::string("原件 ") + c.name) << c.name;
        }
        if (c.after == After::Nothing) {
            EXPECT_EQ(fs::last_write_time(file), times[c.name]) << c.name;
        }
    }

    // The second undo of the run changes nothing, even over a new result.
    writeFile(docs / utf8Path("甲.doc"), "新");
    const backup::UndoResult again = backup::undoLastRun(app.path());
    ASSERT_EQ(again.lines.size(), 1u);
    EXPECT_TRUE(contains(again.lines[0], "撤销过"));
    EXPECT_FALSE(again.anyLeftAlone);
    EXPECT_EQ(readFile(docs / utf8Path("甲.doc")), "新");
}

TEST_F(Store, RunsAreListedInOrderAndOnlyRunsThatChangedMakeAFolder) {
    auto nothing = store();
    EXPECT_FALSE(nothing.journalLine());
    auto first = store(), second = store(), later = store(kNoon + 3600);
    change(later, document("c.doc", "c"), "C");
    change(first, document("a.doc", "a"), "A");
    change(second, document("b.doc", "b"), "B");
    const std::vector<backup::KeptRun> runs = backup::keptRuns(app.path());
    ASSERT_EQ(runs.size(), 3u);
    // Named by the local time the run began: the same second gets -1, -2.
    const std::string day = runs[0].id.substr(0, 11);
    const std::string hhmmss = runs[0].id.substr(11, 6);
    EXPECT_EQ(runs[0].id, day + hhmmss + "-1");
    EXPECT_EQ(runs[1].id, day + hhmmss + "-2");
    EXPECT_EQ(runs[0].manifest.documents.at(0).original, text::pathToUtf8(docs / "a.doc"));
    EXPECT_EQ(runs[2].manifest.documents.at(0).original, text::pathToUtf8(docs / "c.doc"));
    EXPECT_EQ(runs[1].manifest.header->operation, "Word 替换");
    // An unknown run is named.
    const backup::UndoResult unknown = backup::undoRun(app.path(), "2000-01-01/000000-1");
    EXPECT_TRUE(unknown.anyLeftAlone);
    EXPECT_TRUE(contains(unknown.lines.at(0), "2000-01-01/000000-1"));
    EXPECT_EQ(readFile(docs / "a.doc"), "A");
}

TEST_F(Store, ABackupThatCannotBeWrittenRefusesTheChangeAndSaysWhere) {
    // A file where the store's folder should be: no folder can be made.
    writeFile(backup::storePath(app.path()), "");
    auto run = store();
    const fs::path file = document("a.doc", "a");
    std::string error;
    EXPECT_FALSE(run.beforeChange(file, error));
    EXPECT_TRUE(contains(error, text::pathToUtf8(backup::storePath(app.path())))) << error;
    EXPECT_TRUE(contains(error, "没有修改")) << error;
    EXPECT_TRUE(run.backupOf(file).empty());
}

TEST(KeepingSettings, ClearLinesAndDefaultsForBadValues) {
    const struct {
        std::string text;
        int days;
        std::uintmax_t megabytes;
    } cases[] = {
        {"", 30, 2048},
        {"\xEF\xBB\xBF保留天数=7\r\n最大容量MB = 100 \r\n", 7, 100},
        {"; 保留天数=1\n保留天数=abc\n最大容量MB=-5\n", 30, 2048},
        {"保留天数=0\n最大容量MB=99999999999999999999\n", 30, 2048},
        {"保留天数=3650\n其他=1\n最大容量MB=1", 3650, 1},
    };
    for (const auto& c : cases) {
        const backup::KeepingSettings s = backup::parseKeepingSettings(c.text);
        EXPECT_EQ(s.days, c.days) << c.text;
        EXPECT_EQ(s.maxBytes, c.megabytes << 20) << c.text;
    }
    // A missing file is written with the defaults, and reads back as them.
    TempFolder app;
    backup::readKeepingSettings(app.path());
    const std::string written = readFile(backup::settingsFile(app.path()));
    EXPECT_TRUE(contains(written, "保留天数=30\r\n")) << written;
    EXPECT_TRUE(contains(written, "最大容量MB=2048\r\n")) << written;
}

TEST_F(Store, KeepingRemovesOldRunsThenTheOldestUntilTheStoreFits) {
    const std::time_t day = 24 * 60 * 60;
    const struct {
        int days;
        std::uintmax_t maxBytes;
        std::size_t kept; // of the 4 runs, the newest ones
    } cases[] = {
        {30, 1 << 30, 3},                  // the run of 40 days ago goes
        {90, 1 << 30, 4}, {1, 1 << 30, 1}, // all too old but the newest
        {90, 3000, 2},                     // 1000 bytes and a manifest each: two fit
        {90, 1, 1},                        // the newest stays even when it alone is too large
    };
    for (const auto& c : cases) {
        TempFolder folder;
        for (const std::time_t age : {40 * day, 20 * day, 10 * day, day}) {
            backup::BackupStore run(folder.path(), "Word 替换", "/d", [=] { return kNoon - age; });
            change(run, document("a.doc", std::string(1000, 'x')), "y");
        }
        EXPECT_TRUE(backup::keepWithinLimits(folder.path(), {c.days, c.maxBytes}, [] {
                        return kNoon;
                    }).empty());
        const auto runs = backup::keptRuns(folder.path());
        ASSERT_EQ(runs.size(), c.kept) << c.days << " " << c.maxBytes;
        EXPECT_EQ(runs.back().manifest.header->time, kNoon - day);
    }
}

} // namespace
