// The command-line front end against a scripted suite: arguments, output,
// journal and exit statuses.

#include "cli/cli.h"
#include "core/text/encoding.h"
#include "core/text/paths.h"
#include "support/binary_documents.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

namespace {

class Cli : public ::testing::Test {
protected:
    Cli() {
        for (const char* name : {"b.doc", "A.DOC", "c.xls", "x.txt", "~$b.doc"})
            writeFile(docs / name, "x");
        // The journal texts below are compared as UTF-8, the Linux default
        // and not the code page of a Windows system.
        text::setAnsiCodeSet("UTF-8");
    }
    ~Cli() override { text::setAnsiCodeSet(""); }

    int run(std::vector<std::string> args, bool progress = false) {
        out.str("");
        err.str("");
        const cli::Environment env{registry, app.path(), progress};
        return cli::run(args, out, err, env);
    }

    std::string journalText() const {
        std::string all;
        if (!std::filesystem::exists(app / "Journal"))
            return all;
        for (const auto& day : std::filesystem::directory_iterator(app / "Journal"))
            for (const auto& file : std::filesystem::directory_iterator(day.path()))
                all += readFile(file.path());
        return all;
    }

    // A word processor whose test search answers from `found`, by call.
    void scriptWord(std::vector<scripted::Reply> found) {
        scripted::scriptWordSearch(server, registry, scripted::inTurn(std::move(found)));
    }

    TempFolder app;
    TempFolder docs;
    automation::Registry registry;
    scripted::Server server;
    std::ostringstream out;
    std::ostringstream err;
};

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST_F(Cli, WordReplaceRunsTheListedFilesAndPrintsTheLogLines) {
    // A.DOC: found, replaced; b.doc: not found.
    scriptWord({automation::Value(true), automation::Value(true), automation::Value(false)});
    EXPECT_EQ(
        run({"word-replace", "--folder", docs.path().string(), "--find", "旧", "--replace", "新"}),
        cli::kAllProcessed);
    EXPECT_EQ(out.str(), "A.DOC 已替换内容\nb.doc 没找到替换的内容\n");
    const std::string journal = journalText();
    EXPECT_NE(journal.find(" A.DOC 已替换内容\r\n"), std::string::npos);
    EXPECT_NE(journal.find(" b.doc 没找到替换的内容\r\n"), std::string::npos);
    const auto calls = server.transcript();
    EXPECT_TRUE(contains(calls, "call docs.Open(\"" + (docs / "A.DOC").string() + "\")"));
    EXPECT_TRUE(contains(calls, "call find.Execute(\"旧\")"));
    EXPECT_FALSE(contains(calls, "call docs.Open(\"" + (docs / "x.txt").string() + "\")"));
    EXPECT_TRUE(err.str().empty()); // no progress when stderr is no terminal
}

TEST_F(Cli, FindTextKeepsItsLineBreakAndDryRunSavesNothing) {
    scriptWord({automation::Value(true), automation::Value(false)});
    EXPECT_EQ(run({"word-replace", "--folder", docs.path().string(), "--find", "a\nb", "--replace",
                   "c", "--dry-run"}),
              cli::kAllProcessed);
    EXPECT_EQ(out.str(), "A.DOC 含有要替换的内容（试运行，未保存）\nb.doc 没找到替换的内容\n");
    const auto calls = server.transcript();
    EXPECT_TRUE(contains(calls, "call find.Execute(\"a\nb\")"));
    EXPECT_FALSE(contains(calls, "call docs.Close(True)"));
}

TEST_F(Cli, PairsFromATableAreAppliedInOrder) {
    // A.DOC holds both find texts (a test search and a replacement each),
    // b.doc neither.
    const automation::Value yes(true), no(false);
    scriptWord({yes, yes, yes, yes, no, no});
    writeFile(app / "表.txt", "# 更名\n甲\t乙\n丙\t丁\n");
    EXPECT_EQ(run({"word-replace", "--folder", docs.path().string(), "--pairs",
                   (app / "表.txt").string()}),
              cli::kAllProcessed);
    EXPECT_EQ(out.str(), "A.DOC 已替换内容\nb.doc 没找到替换的内容\n");
    EXPECT_NE(journalText().find(" A.DOC 已替换内容（替换：甲→乙、丙→丁）\r\n"), std::string::npos)
        << journalText();
    const auto calls = server.transcript();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "call find.Execute(\"丙\")"), 2);
}

TEST_F(Cli, FormatsNarrowTheListAndRecursiveGoesIntoSubfolders) {
    scriptWord({automation::Value(false)});
    const auto contracts = docs / text::pathFromUtf8("合同");
    std::filesystem::create_directories(contracts / "2024");
    writeFile(contracts / "2024" / "d.docm", "x");
    writeFile(contracts / "a.docx", "x");
    writeFile(docs / "e.docx", "x");
    // The application folder inside the chosen one is never listed.
    std::filesystem::create_directories(docs / "app" / text::pathFromUtf8("备份"));
    writeFile(docs / "app" / text::pathFromUtf8("备份") / "old.doc", "x");
    struct Case {
        std::vector<std::string> extra;
        std::string progress;
    };
    const std::vector<Case> cases = {
        {{}, "[1/3] A.DOC\n[2/3] b.doc\n[3/3] e.docx\n"},
        {{"--formats", "docx"}, "[1/1] e.docx\n"},
        {{"--recursive"},
         "[1/5] A.DOC\n[2/5] b.doc\n[3/5] e.docx\n[4/5] 合同/a.docx\n"
         "[5/5] 合同/2024/d.docm\n"},
        {{"--recursive", "--formats", "DOCM,.doc"},
         "[1/3] A.DOC\n[2/3] b.doc\n[3/3] 合同/2024/d.docm\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"word-replace",
                                         "--folder",
                                         docs.path().string(),
                                         "--find",
                                         "旧",
                                         "--replace",
                                         "新",
                                         "--dry-run",
                                         "--app-folder",
                                         (docs / "app").string()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(run(args, true), cli::kAllProcessed);
        EXPECT_EQ(err.str(), c.progress);
    }
    const auto calls = server.transcript();
    EXPECT_TRUE(contains(calls, "call docs.Open(\"" +
                                    text::pathToUtf8(contracts / "2024" / "d.docm") + "\")"));
    EXPECT_EQ(run({"excel-replace", "--folder", docs.path().string(), "--find", "x", "--replace",
                   "y", "--formats", "docx"}),
              cli::kUsageError);
    EXPECT_NE(err.str().find("docx"), std::string::npos) << err.str();
}

TEST_F(Cli, ProgressGoesToStandardErrorOncePerDocument) {
    scriptWord({automation::Value(false), automation::Value(false)});
    run({"word-replace", "--folder", docs.path().string(), "--find", "x", "--replace", "y"}, true);
    EXPECT_EQ(err.str(), "[1/2] A.DOC\n[2/2] b.doc\n");
}

TEST_F(Cli, ChangedDocumentsAreKeptUnlessNoBackupAndRunsListsTheRun) {
    const std::vector<std::string> replace{
        "word-replace", "--folder", docs.path().string(), "--find", "旧", "--replace", "新"};
    for (const bool backups : {false, true}) {
        scriptWord({automation::Value(true), automation::Value(false)}); // A.DOC changes
        auto args = replace;
        if (!backups)
            args.push_back("--no-backup");
        EXPECT_EQ(run(args), cli::kAllProcessed);
    }
    EXPECT_EQ(run({"runs"}), cli::kAllProcessed);
    // One run, of the Word replace in the folder; its one document kept
    // (the scripted office changes no byte of it).
    const std::string runs = out.str();
    EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << runs;
    EXPECT_NE(runs.find("\tWord 替换\t" + docs.path().string() + "\t修改了 0 个文档\n"),
              std::string::npos)
        << runs;
    EXPECT_NE(journalText().find("原件已备份到"), std::string::npos);
    EXPECT_EQ(run({"undo"}), cli::kAllProcessed);
    EXPECT_EQ(out.str(), "已还原“" + (docs / "A.DOC").string() + "”。\n");
    EXPECT_EQ(run({"undo", "a", "b"}), cli::kUsageError);
}

TEST_F(Cli, AnyFailedDocumentGivesExitStatusOne) {
    auto& word = server.object("word");
    auto& documents = server.object("docs");
    word.onGet("Documents", documents);
    documents.onCall("Open", automation::Error(5174, "文件已损坏"));
    server.provide(registry, "word.Application", word);
    EXPECT_EQ(
        run({"word-replace", "--folder", docs.path().string(), "--find", "x", "--replace", "y"}),
        cli::kSomeFailed);
    EXPECT_EQ(out.str(), "A.DOC 处理失败：文件已损坏\nb.doc 处理失败：文件已损坏\n");
}

TEST_F(Cli, SuiteThatCannotStartIsAFailure) {
    EXPECT_EQ(run({"excel-replace", "--folder", docs.path().string(), "--find", "x", "--replace",
                   "y", "--suite", "wps"}),
              cli::kSomeFailed);
    EXPECT_NE(out.str().find("KET.Application"), std::string::npos);
}

TEST_F(Cli, HeaderFooterPassesTheSettingsToTheWriter) {
    // Word's object graph as far as the writer walks it.
    auto& word = server.object("word");
    auto& documents = server.object("docs");
    auto& doc = server.object("doc");
    auto& window = server.object("window");
    auto& pane = server.object("pane");
    auto& view = server.object("view");
    auto& sel = server.object("sel");
    auto& font = server.object("font");
    auto& para = server.object("para");
    auto& fields = server.object("fields");
    auto& active = server.object("active");
    auto& section = server.object("section");
    auto& story = server.object("story");
    auto& range = server.object("range");
    word.onGet("Documents", documents)
        .onGet("ActiveWindow", window)
        .onGet("Selection", sel)
        .onGet("ActiveDocument", active);
    documents.onCall("Open", doc);
    window.onGet("ActivePane", pane);
    pane.onGet("View", view);
    sel.onGet("Font", font)
        .onGet("ParagraphFormat", para)
        .onGet("Fields", fields)
        .onGet("Range", range);
    active.onGet("ActiveWindow", window).onGet("Sections", section);
    section.onGet("Footers", story).onGet("Headers", story);
    story.onGet("Range", range);
    range.onGet("Text", automation::Value("第1页 页脚"));
    server.provide(registry, "Word.Application", word);
    run({"header-footer", "--folder", docs.path().string(), "--footer", "页脚", "--align", "居中",
         "--page-number", "居右", "--font", "黑体", "--size", "12", "--bold"});
    const auto calls = server.transcript();
    EXPECT_TRUE(contains(calls, "call docs.Open(\"" + (docs / "A.DOC").string() + "\")"));
    std::string all;
    for (const auto& c : calls)
        all += c + "\n";
    EXPECT_NE(all.find("= \"黑体\""), std::string::npos) << all;
    EXPECT_NE(all.find("= \"12\""), std::string::npos) << all;
    EXPECT_NE(all.find("(\"第\")"), std::string::npos) << all;
    EXPECT_NE(all.find("call sel.TypeText(\"页脚\")"), std::string::npos) << all;
    EXPECT_NE(all.find("call fields.Add(range, 33)"), std::string::npos) << all;
    EXPECT_NE(all.find("put para.Alignment = 2"), std::string::npos) << all; // page number right
    EXPECT_EQ(out.str(), "A.DOC 页脚已写入内容\nb.doc 页脚已写入内容\n");
}

TEST_F(Cli, DetectPrintsTheStatusLinesWithoutTheLeadingBreak) {
    EXPECT_EQ(run({"detect", "--app-folder", app.path().string()}), cli::kAllProcessed);
    EXPECT_EQ(out.str(),
              "1、获取offcce版本失败\n2、未安装WPS-V8或以下版本\n3、未安装WPS-V9或以上版本\n");
    // Each missing suite is a journal entry.
    const std::string journal = journalText();
    EXPECT_NE(journal.find("WPSV9错误代码：429错误描述："), std::string::npos);
}

TEST_F(Cli, UsageErrorsNameWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string folder = docs.path().string();
    const std::string table = (app / "表.txt").string();
    writeFile(app / "表.txt", "甲\t乙\n\n丙丁\n");
    const std::vector<Case> cases = {
        {{}, "用法"},
        {{"word-replace", "--folder", folder, "--pairs", table},
         "替换表“" + table + "”第 3 行没有制表符"},
        {{"word-replace", "--folder", folder, "--pairs", table, "--find", "x"},
         "--pairs 不能和 --find、--replace 一起用"},
        {{"excel-replace", "--folder", folder, "--pairs", (app / "无.txt").string()},
         "无法读取替换表“" + (app / "无.txt").string() + "”"},
        {{"frobnicate"}, "不认识的命令“frobnicate”"},
        {{"word-replace", "--folder", folder, "--find", "x"}, "缺少选项 --replace"},
        {{"word-replace", "--folder", folder, "--find"}, "选项 --find 后面缺少取值"},
        {{"word-replace", "--folder", (docs / "nope").string(), "--find", "x", "--replace", "y"},
         "找不到文件夹“" + (docs / "nope").string() + "”"},
        {{"word-replace", "--folder", (docs / "c.xls").string(), "--find", "x", "--replace", "y"},
         "不是文件夹"},
        {{"word-replace", "--folder", folder, "--find", "x", "--replace", "y", "--suite", "ms"},
         "--suite 的取值“ms”无效"},
        {{"word-replace", "--folder", folder, "--find", "x", "--replace", "y", "--bold"},
         "不认识的选项 --bold"},
        {{"header-footer", "--folder", folder}, "--header 或 --footer"},
        {{"header-footer", "--folder", folder, "--header", "a", "--footer", "b"},
         "--header 或 --footer"},
        {{"header-footer", "--folder", folder, "--header", "a", "--page-number", "居中1"},
         "--page-number 要和 --footer"},
        {{"header-footer", "--folder", folder, "--footer", "a", "--align", "左"},
         "--align 的取值“左”无效"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args), cli::kUsageError) << c.message;
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
        EXPECT_TRUE(out.str().empty());
    }
    EXPECT_TRUE(server.transcript().empty()); // nothing was started
}

TEST_F(Cli, HelpAndVersionGoToStandardOutputWithStatusZero) {
    struct Case {
        std::vector<std::string> args;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {{"--help"}, cli::usage()},
        {{"-h"}, cli::usage()},
        {{"--version"}, "batchreplace-cli " + cli::versionText() + "\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args), cli::kAllProcessed) << c.args[0];
        EXPECT_EQ(out.str(), c.printed);
        EXPECT_TRUE(err.str().empty()) << err.str();
    }
    EXPECT_EQ(run({"detect", "--version"}), cli::kUsageError);
    EXPECT_NE(err.str().find("不认识的选项 --version"), std::string::npos) << err.str();
    // The version text is the window's: major.minor.revision, not the four
    // numbers of the file version.
    EXPECT_TRUE(std::regex_match(cli::versionText(), std::regex(R"(\d+\.\d+\.\d+)")))
        << cli::versionText();
    EXPECT_NE(cli::usage().find("--version"), std::string::npos);
}

TEST_F(Cli, EmptyListIsAUsageError) {
    TempFolder empty;
    writeFile(empty / "only.xls", "x");
    EXPECT_EQ(
        run({"word-replace", "--folder", empty.path().string(), "--find", "x", "--replace", "y"}),
        cli::kUsageError);
    EXPECT_NE(err.str().find("中没有 .doc、.docx、.docm 文件"), std::string::npos) << err.str();
}

// ---------------------------------------------------------------- prescan and parallel runs

namespace {

// A word processor that is safe to drive from several threads: each
// application object is its own instance; a document holds the text when
// its file does. Documents take different times, so parallel runs finish
// out of list order.
class ThreadedWord : public automation::Dispatch {
public:
    struct Shared {
        std::mutex mutex;
        std::vector<std::string> opened;
        int instances = 0;
    };

    ThreadedWord(std::shared_ptr<Shared> shared, std::string path = {})
        : shared_(std::move(shared)), path_(std::move(path)) {}

    automation::Value invoke(automation::CallKind, std::string_view member,
                             const automation::Args& args) override {
        using automation::Object;
        using automation::Value;
        if (member == "Documents" || member == "Content" || member == "Find")
            return Value(Object(std::make_shared<ThreadedWord>(shared_, path_)));
        if (member == "ActiveDocument")
            return Value(Object(std::make_shared<ThreadedWord>(shared_)));
        if (member == "Open") {
            const std::string path = args.positional.at(0).toString();
            {
                std::lock_guard lock(shared_->mutex);
                shared_->opened.push_back(path);
            }
            if (readFile(path).find("broken") != std::string::npos)
                throw automation::Error(5174, "文件已损坏");
            return Value(Object(std::make_shared<ThreadedWord>(shared_, path)));
        }
        if (member == "Execute") {
            // The replacement (named arguments only) replaces.
            if (args.positional.empty())
                return Value(true);
            const std::string content = readFile(path_);
            // Documents take different times.
            std::this_thread::sleep_for(std::chrono::milliseconds(content.size() % 7));
            return Value(content.find(args.positional[0].toString()) != std::string::npos);
        }
        return Value();
    }

private:
    std::shared_ptr<Shared> shared_;
    std::string path_;
};

} // namespace

class CliJobs : public Cli {
protected:
    CliJobs() {
        registry.registerClass("word.Application", [shared = shared_] {
            {
                std::lock_guard lock(shared->mutex);
                ++shared->instances;
            }
            return automation::Object(std::make_shared<ThreadedWord>(shared));
        });
        for (int i = 0; i < 23; ++i) {
            const std::string name = "f" + std::to_string(100 + i) + ".doc";
            std::string content(static_cast<std::size_t>(i * 3), '.');
            if (i % 4 == 0)
                content += "旧";
            if (i == 9)
                content += "broken";
            writeFile(many / name, content);
        }
    }

    std::vector<std::string> journalEntries() const {
        std::vector<std::string> entries;
        std::istringstream in(journalText());
        for (std::string line; std::getline(in, line);) {
            // Where the run's backups went differs from run to run.
            if (line.find("原件已备份到") == std::string::npos)
                entries.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
        }
        return entries;
    }

    std::shared_ptr<ThreadedWord::Shared> shared_ = std::make_shared<ThreadedWord::Shared>();
    TempFolder many;
};

TEST_F(CliJobs, ParallelRunsPrintAndJournalInListOrder) {
    const std::vector<std::string> base{
        "word-replace", "--folder", many.path().string(), "--find", "旧", "--replace", "新"};
    EXPECT_EQ(run(base), cli::kSomeFailed);
    const std::string sequential = out.str();
    const auto sequentialJournal = journalEntries();
    ASSERT_EQ(sequentialJournal.size(), 23u);
    EXPECT_EQ(shared_->instances, 1);
    EXPECT_NE(sequential.find("f109.doc 处理失败：文件已损坏\n"), std::string::npos);
    for (const std::string jobs : {"2", "3", "0", "64"}) {
        SCOPED_TRACE(jobs);
        std::filesystem::remove_all(app / "Journal");
        shared_->instances = 0;
        auto args = base;
        args.insert(args.end(), {"--jobs", jobs});
        EXPECT_EQ(run(args), cli::kSomeFailed);
        EXPECT_EQ(out.str(), sequential);
        EXPECT_EQ(journalEntries(), sequentialJournal);
        // Each job starts its own office, and only when it takes a document.
        if (jobs != "0") {
            EXPECT_LE(shared_->instances, std::min(std::stoi(jobs), 23));
        }
        EXPECT_GE(shared_->instances, 1);
    }
}

TEST_F(CliJobs, ProgressNamesEveryDocumentOnce) {
    run({"word-replace", "--folder", many.path().string(), "--find", "旧", "--replace", "新",
         "--jobs", "3"},
        true);
    std::istringstream in(err.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    EXPECT_EQ(lines.size(), 23u);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(std::unique(lines.begin(), lines.end()), lines.end());
}

TEST_F(CliJobs, JobsMustBeANumberUpTo64) {
    for (const std::string jobs : {"x", "-1", "65", "", "1.5"}) {
        EXPECT_EQ(run({"word-replace", "--folder", many.path().string(), "--find", "旧",
                       "--replace", "新", "--jobs", jobs}),
                  cli::kUsageError)
            << jobs;
        EXPECT_NE(err.str().find("--jobs 的取值“" + jobs + "”无效"), std::string::npos)
            << err.str();
    }
    EXPECT_EQ(shared_->instances, 0);
}

TEST_F(CliJobs, PrescanSkipsAWordDocumentWithoutTheTextUnlessTurnedOff) {
    TempFolder folder;
    binary_documents::WordDocumentLayout without, with;
    without.pieces.push_back({u"No such words here\r", false});
    with.pieces.push_back({u"这里有旧的内容\r", false});
    writeFile(folder / "a.doc", binary_documents::wordDocument(without));
    writeFile(folder / "b.doc", binary_documents::wordDocument(with) + "旧");
    const std::vector<std::string> base{
        "word-replace", "--folder", folder.path().string(), "--find", "旧", "--replace", "新"};
    EXPECT_EQ(run(base), cli::kAllProcessed);
    const std::string withPrescan = out.str();
    EXPECT_EQ(shared_->opened, std::vector<std::string>{(folder / "b.doc").string()});
    EXPECT_EQ(shared_->instances, 1); // the application is still created and quit

    shared_->opened.clear();
    auto args = base;
    args.push_back("--no-prescan");
    EXPECT_EQ(run(args), cli::kAllProcessed);
    EXPECT_EQ(out.str(), withPrescan);
    EXPECT_EQ(shared_->opened.size(), 2u);
    EXPECT_EQ(withPrescan, "a.doc 没找到替换的内容\nb.doc 已替换内容\n");
}
