// Backups and undo through the command-line program on documents the office
// makes: a Word replace, an Excel replace and a header/footer run are undone
// byte for byte with their modification times; a run killed part-way is
// undone without leaving a document changed and unkept; a full store
// changes nothing.

#include "core/backup/backup_store.h"
#include "core/backup/sha256.h"
#include "core/text/paths.h"
#include "office_test_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using office_testing::flatSpreadsheet;
using office_testing::flatText;
using office_testing::paragraph;
using testing_support::folderContents;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

extern char** environ;

namespace {

using Lines = std::vector<std::string>;

// The program, started with its standard output on a pipe (standard error
// goes to the test's).
class Program {
public:
    explicit Program(std::vector<std::string> args) {
        args.insert(args.begin(), BR_CLI_PROGRAM);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int pipe[2];
        if (::pipe(pipe) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipe[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start " + args[0]);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        out_ = ::fdopen(pipe[0], "r");
    }
    ~Program() {
        if (pid_ > 0)
            wait();
        std::fclose(out_);
    }
    // The next line of output, without its line end; nothing at the end.
    std::optional<std::string> line() {
        char buffer[4096];
        if (!std::fgets(buffer, sizeof buffer, out_))
            return std::nullopt;
        std::string text = buffer;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }
    void kill() { ::kill(pid_, SIGKILL); }
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    std::FILE* out_ = nullptr;
};

struct Ran {
    int status;
    Lines lines;
};
Ran run(const std::vector<std::string>& args) {
    Program program(args);
    Lines lines;
    while (auto line = program.line())
        lines.push_back(*line);
    const int status = program.wait();
    return {status, lines};
}

std::size_t countContaining(const Lines& lines, const std::string& part) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
        return l.find(part) != std::string::npos;
    }));
}

std::map<std::string, long long> modificationTimes(const fs::path& folder) {
    std::map<std::string, long long> times;
    for (const auto& entry : fs::directory_iterator(folder))
        times[entry.path().filename().string()] = office_testing::modificationTime(entry.path());
    return times;
}

class BackupOffice : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = office_testing::missingOfficeReason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }
    // Documents made by the office, each aged so that a rewrite shows.
    void make(const std::map<std::string, std::string>& flat, const std::string& format) {
        TempFolder scratch;
        for (const auto& [name, path] :
             office_testing::makeDocuments(flat, format, scratch.path())) {
            fs::copy_file(path, docs / path.filename());
            office_testing::ageFile(docs / path.filename());
        }
    }
    std::vector<std::string> withApp(std::vector<std::string> args) {
        args.insert(args.end(), {"--app-folder", app.path().string()});
        return args;
    }

    TempFolder docs, app;
};

std::map<std::string, std::string> wordDocuments(int count) {
    std::map<std::string, std::string> flat;
    for (int i = 1; i <= count; ++i)
        flat["文档" + std::to_string(i)] =
            flatText({paragraph("旧的名称，第 " + std::to_string(i) + " 份。"), "", "", ""});
    return flat;
}

TEST_F(BackupOffice, EveryOperationIsUndoneByteForByteExceptWhatWasEditedSince) {
    const struct {
        const char* command;
        std::vector<std::string> options;
        std::string format;
    } cases[] = {
        {"word-replace", {"--find", "旧的", "--replace", "新的"}, "doc"},
        // Without the prescan the office opens and saves 表三 too, which
        // lacks the text: it is kept before the save, which may rewrite it.
        {"excel-replace", {"--find", "旧的", "--replace", "新的", "--no-prescan"}, "xls"},
        {"header-footer", {"--footer", "页脚文字"}, "doc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        for (const auto& entry : fs::directory_iterator(docs.path()))
            fs::remove_all(entry.path());
        if (c.format == "doc") {
            auto flat = wordDocuments(3);
            flat["无关"] = flatText({paragraph("别的内容"), "", "", ""});
            make(flat, "doc");
        } else {
            make({{"表一", flatSpreadsheet({{"甲", {{"旧的价格", "12"}}}, {"乙", {{"旧的"}}}})},
                  {"表二", flatSpreadsheet({{"甲", {{"旧的"}}}})},
                  {"表三", flatSpreadsheet({{"甲", {{"别的"}}}})}},
                 "xls");
        }
        const auto before = folderContents(docs.path());
        const auto times = modificationTimes(docs.path());

        std::vector<std::string> args{c.command, "--folder", docs.path().string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(run(withApp(args)).status, 0);
        const auto after = folderContents(docs.path());
        ASSERT_NE(after, before);
        // The runs list it, with the documents it changed.
        const Ran runs = run(withApp({"runs"}));
        ASSERT_EQ(runs.status, 0);
        const std::size_t changed = c.format == "xls" ? 2 : c.command[0] == 'w' ? 3 : 4;
        EXPECT_EQ(backup::keptRuns(app.path()).back().manifest.documents.size(),
                  c.format == "xls" ? 3 : changed);
        EXPECT_EQ(countContaining(runs.lines, "修改了 " + std::to_string(changed) + " 个文档"), 1u)
            << runs.lines.back();

        // One document is edited after the run: it stays as edited.
        const std::string edited = c.format == "doc" ? "文档1.doc" : "表二.xls";
        writeFile(docs / testing_support::utf8Path(edited), "后来的内容");
        const Ran undone = run(withApp({"undo"}));
        EXPECT_EQ(undone.status, 1);
        EXPECT_EQ(countContaining(undone.lines, "又被修改过"), 1u);
        EXPECT_EQ(countContaining(undone.lines, edited), 1u);
        auto expected = before;
        expected[edited] = "后来的内容";
        EXPECT_EQ(folderContents(docs.path()), expected);
        auto expectedTimes = times;
        expectedTimes.erase(edited);
        auto timesNow = modificationTimes(docs.path());
        timesNow.erase(edited);
        EXPECT_EQ(timesNow, expectedTimes);

        // A second undo of the run changes nothing.
        writeFile(docs / testing_support::utf8Path(edited), after.at(edited));
        const Ran again = run(withApp({"undo"}));
        EXPECT_EQ(again.status, 0);
        EXPECT_EQ(countContaining(again.lines, "撤销过"), 1u);
        EXPECT_EQ(readFile(docs / testing_support::utf8Path(edited)), after.at(edited));
    }
}

TEST_F(BackupOffice, ARunKilledPartWayIsUndoneAndNoDocumentIsChangedWithoutItsOriginal) {
    make(wordDocuments(6), "doc");
    const auto before = folderContents(docs.path());
    {
        Program cli(withApp({"word-replace", "--folder", docs.path().string(), "--find", "旧的",
                             "--replace", "新的"}));
        for (int n = 0; n < 2; ++n)
            ASSERT_TRUE(cli.line()) << "the run ended before its second document";
        cli.kill();
        cli.wait();
    }
    const std::vector<backup::KeptRun> runs = backup::keptRuns(app.path());
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_LT(runs[0].manifest.documents.size(), 6u) << "the run was not stopped part-way";
    const Ran undone = run(withApp({"undo"}));
    EXPECT_GE(countContaining(undone.lines, "已还原"), 2u);
    for (const auto& [name, bytes] : before) {
        const std::string now = readFile(docs / testing_support::utf8Path(name));
        if (now == bytes)
            continue;
        // Changed and not restored: only a document the run was saving when
        // it died, named by undo, with its original in the store.
        EXPECT_EQ(countContaining(undone.lines, name), 1u) << name;
        const auto& entries = runs[0].manifest.documents;
        const auto kept = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
            return fs::path(text::pathFromUtf8(e.original)).filename().string() == name;
        });
        ASSERT_NE(kept, entries.end()) << name << " was changed without a backup";
        EXPECT_EQ(readFile(runs[0].folder / text::pathFromUtf8(kept->copy)), bytes) << name;
    }
}

TEST_F(BackupOffice, AFullStoreLeavesTheDocumentUnchangedAndSaysWhy) {
    const fs::path store = backup::storePath(app.path());
    fs::create_directories(store);
    bool mounted = false;
    if (::geteuid() == 0) {
        // A tmpfs of two pages, filled up.
        mounted = ::mount("tmpfs", store.c_str(), "tmpfs", 0, "size=8k") == 0;
        if (mounted)
            std::ofstream(store / "filler", std::ios::binary) << std::string(64 * 1024, 'x');
    } else {
        fs::permissions(store, fs::perms::owner_read | fs::perms::owner_exec);
    }
    if (::geteuid() == 0 && !mounted)
        GTEST_SKIP() << "cannot mount a tmpfs, and permissions do not stop the superuser";
    make(wordDocuments(1), "doc");
    const auto before = folderContents(docs.path());
    const Ran ran = run(withApp(
        {"word-replace", "--folder", docs.path().string(), "--find", "旧的", "--replace", "新的"}));
    if (mounted)
        ::umount2(store.c_str(), MNT_DETACH);
    else
        fs::permissions(store, fs::perms::owner_all);
    EXPECT_EQ(ran.status, 1);
    ASSERT_EQ(ran.lines.size(), 1u);
    EXPECT_NE(ran.lines[0].find("文档1.doc 处理失败（文件未改动）"), std::string::npos)
        << ran.lines[0];
    EXPECT_NE(ran.lines[0].find(mounted ? "磁盘空间不足" : "没有写入权限"), std::string::npos)
        << ran.lines[0];
    EXPECT_EQ(folderContents(docs.path()), before);
}

} // namespace
