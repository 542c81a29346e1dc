// A run as every front end sees it: the order of its reports with parallel
// jobs, stopping, the choice between our own engine and the suite, and the
// backup taken before a document changes.

#include "core/engines/builtin_engine.h"
#include "core/engines/change_keeper.h"
#include "core/engines/run.h"
#include "core/engines/suite.h"
#include "support/fake_window.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

using automation::Value;
using engines::EngineChoice;
using engines::Mode;
using engines::Operation;
using engines_testing::FakeWindow;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
using Lines = std::vector<std::string>;

namespace {

// Replaces in plain-text files named .docx; declines a file that holds "拒".
// A file's first character sets how long it takes (in milliseconds), so
// parallel jobs finish out of order.
class FakeBuiltin : public engines::BuiltinEngine {
public:
    bool handles(Operation, std::string_view name) const override {
        return name.size() > 5 && name.substr(name.size() - 5) == ".docx";
    }
    engines::BuiltinResult replace(Operation, std::string_view content,
                                   const std::vector<engines::ReplacePair>& pairs) const override {
        if (!content.empty() && content[0] >= '0' && content[0] <= '9')
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * (content[0] - '0')));
        engines::BuiltinResult result;
        if (content.find("拒") != std::string_view::npos) {
            result.reason = "含有内置引擎不处理的内容。";
            return result;
        }
        result.done = true;
        std::string text(content);
        engines::BuiltinResult::Part part;
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            for (auto at = text.find(pairs[k].find); at != std::string::npos;
                 at = text.find(pairs[k].find, at + pairs[k].replacement.size())) {
                text.replace(at, pairs[k].find.size(), pairs[k].replacement);
                if (part.pairsReplaced.empty() || part.pairsReplaced.back() != k)
                    part.pairsReplaced.push_back(k);
            }
        }
        part.replaced = !part.pairsReplaced.empty();
        if (part.replaced)
            result.newContent = text;
        result.parts.push_back(part);
        return result;
    }
};

// Records what it is asked; refuses documents named in `refuse`.
class FakeKeeper : public engines::ChangeKeeper {
public:
    Lines refuse;
    Lines calls;
    std::mutex mutex;

    bool beforeChange(const std::filesystem::path& document, std::string& error) override {
        std::lock_guard lock(mutex);
        const std::string name = document.filename().string();
        calls.push_back("before " + name + " " + readFile(document));
        if (std::find(refuse.begin(), refuse.end(), name) != refuse.end()) {
            error = "备份文件夹已满。";
            return false;
        }
        return true;
    }
    void afterChange(const std::filesystem::path& document) override {
        std::lock_guard lock(mutex);
        calls.push_back("after " + document.filename().string() + " " + readFile(document));
    }
    std::filesystem::path backupOf(const std::filesystem::path& document) const override {
        return "/backups" / document.filename();
    }
};

class Run : public ::testing::Test {
protected:
    Run() {
        window.folder = folder.path().string();
        window.modeValue = Mode::WordDoc;
        window.builtin = &builtin;
        window.backups = &keeper;
    }
    void files(const std::vector<std::pair<std::string, std::string>>& contents) {
        window.files.clear();
        for (const auto& [name, content] : contents) {
            writeFile(folder / name, content);
            window.files.push_back(name);
        }
    }
    // A word processor in which every document holds the text.
    void scriptWord() { scripted::scriptWordSearch(server, registry, Value(true)); }

    TempFolder folder;
    FakeBuiltin builtin;
    FakeKeeper keeper;
    FakeWindow window;
    scripted::Server server;
    automation::Registry registry;
};

TEST_F(Run, ParallelJobsReportInListOrderAsOneJobDoes) {
    // The first documents take longest.
    const std::vector<std::pair<std::string, std::string>> contents = {
        {"a.docx", "9旧"}, {"b.docx", "6无"}, {"c.docx", "3旧"}, {"d.docx", "0旧旧"},
        {"e.docx", "0无"}, {"f.docx", "4旧"}, {"g.docx", "0旧"}};
    const Lines expected = {"a.docx 已替换内容", "b.docx 没找到替换的内容", "c.docx 已替换内容",
                            "d.docx 已替换内容", "e.docx 没找到替换的内容", "f.docx 已替换内容",
                            "g.docx 已替换内容"};
    for (const std::size_t jobs : {1, 2, 3}) {
        files(contents);
        FakeWindow run = window;
        run.jobs = jobs;
        const engines::RunSummary summary = run.run(Operation::WordReplace, registry);
        EXPECT_EQ(run.text3, engines_testing::logOf(expected)) << jobs << " jobs";
        // Every line comes before its document's finish, in list order.
        Lines linesAndFinishes;
        for (const std::string& r : run.reportOrder)
            if (r != "start")
                linesAndFinishes.push_back(r);
        Lines alternating;
        for (int i = 0; i < 7; ++i)
            alternating.insert(alternating.end(), {"line", "done"});
        EXPECT_EQ(linesAndFinishes, alternating) << jobs << " jobs";
        EXPECT_EQ(summary.finished, 7u);
        EXPECT_EQ(summary.changed, 5u);
        EXPECT_EQ(readFile(folder / "d.docx"), "0新新");
        EXPECT_TRUE(server.transcript().empty()) << "the suite was never needed";
    }
}

TEST_F(Run, StopFinishesTheCurrentDocumentAndSaysHowManyAreLeft) {
    files({{"a.docx", "旧"}, {"b.docx", "旧"}, {"c.docx", "旧"}, {"d.docx", "旧"}});
    engines::RunControl control;
    // The stop comes while the second document runs.
    class Stopping : public FakeWindow {
    public:
        engines::RunControl* control = nullptr;
        void documentStarted(std::size_t index, const std::string& name) override {
            FakeWindow::documentStarted(index, name);
            if (index == 1)
                control->requestStop();
        }
    } stopping;
    static_cast<FakeWindow&>(stopping) = window;
    stopping.control = &control;
    const engines::RunSummary summary = stopping.run(Operation::WordReplace, registry, &control);
    EXPECT_EQ(stopping.journal,
              Lines({"a.docx 已替换内容（由内置引擎替换）", "b.docx 已替换内容（由内置引擎替换）",
                     "已停止，剩余 2 个文档未处理"}));
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(readFile(folder / "b.docx"), "新");
    EXPECT_EQ(readFile(folder / "c.docx"), "旧");
}

TEST_F(Run, EngineChoiceDecidesWhoTakesEachDocument) {
    scriptWord();
    struct Case {
        EngineChoice engine;
        Lines lines;
        std::string declinedFile; // a.docx afterwards
        bool suiteStarted;
    };
    const std::string unchanged = " 处理失败（文件未改动）：";
    const std::vector<Case> cases = {
        {EngineChoice::Auto,
         {"a.docx 已替换内容", "b.docx 已替换内容（由内置引擎替换）", "c.doc 已替换内容"},
         "拒旧",
         true},
        {EngineChoice::Builtin,
         {"a.docx" + unchanged + "含有内置引擎不处理的内容。",
          "b.docx 已替换内容（由内置引擎替换）",
          "c.doc" + unchanged +
              "内置引擎只处理 .docx、.docm、.xlsx 和 .xlsm "
              "文件，这个文件要由办公软件处理（不限定引擎再试）。"},
         "拒旧",
         false},
        {EngineChoice::Suite,
         {"a.docx 已替换内容", "b.docx 已替换内容", "c.doc 已替换内容"},
         "拒旧",
         true},
    };
    for (const Case& c : cases) {
        files({{"a.docx", "拒旧"}, {"b.docx", "旧"}, {"c.doc", "旧"}});
        server.clearLog();
        FakeWindow run = window;
        run.engine = c.engine;
        run.run(Operation::WordReplace, registry);
        EXPECT_EQ(run.journal, c.lines);
        // The scripted suite changes no file; only our own engine wrote b.docx.
        EXPECT_EQ(readFile(folder / "a.docx"), c.declinedFile);
        EXPECT_EQ(readFile(folder / "b.docx"), c.engine == EngineChoice::Suite ? "旧" : "新");
        EXPECT_EQ(!server.transcript().empty(), c.suiteStarted);
    }
}

TEST_F(Run, OriginalIsKeptBeforeAChangeAndARefusedBackupLeavesTheDocument) {
    scriptWord();
    files({{"a.docx", "旧"}, {"b.docx", "无"}, {"c.docx", "旧"}, {"d.doc", "旧"}, {"e.doc", "旧"}});
    keeper.refuse = {"c.docx", "e.doc"};
    window.run(Operation::WordReplace, registry);
    const std::string unchanged = " 处理失败（文件未改动）：备份文件夹已满。";
    EXPECT_EQ(window.journal,
              Lines({"a.docx 已替换内容（由内置引擎替换）", "b.docx 没找到替换的内容",
                     "c.docx" + unchanged, "d.doc 已替换内容", "e.doc" + unchanged}));
    // Asked only for documents about to change; told what each change left.
    EXPECT_EQ(keeper.calls, Lines({"before a.docx 旧", "after a.docx 新", "before c.docx 旧",
                                   "before d.doc 旧", "after d.doc 旧", "before e.doc 旧"}));
    EXPECT_EQ(readFile(folder / "c.docx"), "旧");
    EXPECT_EQ(window.outcomes.at(0).backup, "/backups/a.docx");
    EXPECT_TRUE(window.outcomes.at(0).changed);
    EXPECT_FALSE(window.outcomes.at(2).changed);
    // The suite saved d.doc and closed e.doc unsaved.
    const Lines calls = server.transcript();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "call docs.Close(True)"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "call docs.Close(False)"), 1);
}

} // namespace
