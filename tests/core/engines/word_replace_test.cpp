#include "core/engines/suite.h"
#include "core/engines/word_replace.h"
#include "support/fake_window.h"
#include "support/scripted_server.h"
#include "support/transcripts.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using automation::Error;
using automation::Value;
using engines::Mode;
using engines_testing::concat;
using engines_testing::FakeWindow;
using engines_testing::Lines;
using engines_testing::logOf;
using engines_testing::pathOf;
using engines_testing::quoted;
using scripted::Call;
using scripted::Reply;

namespace {

// A word processor whose documents have a main text and a header. The test
// search and the replacement act on the main text, as Word's `Content` does.
class FakeWord {
public:
    struct File {
        std::string body;
        std::string header;
        int saves = 0;
    };

    explicit FakeWord(scripted::Server& s)
        : word(s.object("word")), docs(s.object("docs")), doc(s.object("doc")),
          content(s.object("content")), find(s.object("find")), active(s.object("active")),
          activeContent(s.object("activeContent")), activeFind(s.object("activeFind")) {
        word.onGet("Documents", docs).onGet("ActiveDocument", active);
        docs.onCall("Open", scripted::computed([this](const Call& c, int) -> Reply {
                        const std::string path = c.positional.at(0).toString();
                        auto it = disk.find(path);
                        if (it == disk.end())
                            return Error(automation::errors::WordFile, "找不到文件 " + path);
                        openPath = path;
                        body = it->second.body;
                        return doc;
                    }));
        docs.onCall("Close", scripted::computed([this](const Call& c, int) -> Reply {
                        if (c.positional.at(0).toBool()) {
                            disk[openPath].body = body;
                            ++disk[openPath].saves;
                        }
                        openPath.clear();
                        return Value();
                    }));
        doc.onGet("Content", content);
        content.onGet("Find", find);
        find.onCall("Execute", scripted::computed([this](const Call& c, int) -> Reply {
                        return body.find(c.positional.at(0).toString()) != std::string::npos;
                    }));
        active.onGet("Content", activeContent);
        activeContent.onGet("Find", activeFind);
        activeFind.onCall(
            "Execute", scripted::computed([this](const Call& c, int) -> Reply {
                const std::string what = c.namedArgument("FindText")->toString();
                const std::string with = c.namedArgument("ReplaceWith")->toString();
                const auto mode = c.namedArgument("Replace")->toInteger(); // 1 one, 2 all
                bool any = false;
                for (std::size_t at = body.find(what); at != std::string::npos && !what.empty();
                     at = body.find(what, at + with.size())) {
                    body.replace(at, what.size(), with);
                    any = true;
                    if (mode != 2)
                        break;
                }
                return any;
            }));
    }

    scripted::ScriptedObject& word;
    scripted::ScriptedObject& docs;
    scripted::ScriptedObject& doc;
    scripted::ScriptedObject& content;
    scripted::ScriptedObject& find;
    scripted::ScriptedObject& active;
    scripted::ScriptedObject& activeContent;
    scripted::ScriptedObject& activeFind;
    std::map<std::string, File> disk;
    std::string openPath;
    std::string body;
};

// The calls one document costs, by outcome.
Lines foundCalls(const std::string& name, const std::string& find, const std::string& with) {
    return {"get word.Documents",
            "call docs.Open(" + quoted(pathOf(name)) + ")",
            "put word.Visible = False",
            "get doc.Content",
            "get content.Find",
            "call find.Execute(" + quoted(find) + ")",
            "get word.ActiveDocument",
            "get active.Content",
            "get activeContent.Find",
            "call activeFind.Execute(FindText:=" + quoted(find) + ", ReplaceWith:=" + quoted(with) +
                ", Replace:=2)",
            "get word.Documents",
            "call docs.Close(True)"};
}

Lines notFoundCalls(const std::string& name, const std::string& find) {
    return {"get word.Documents",       "call docs.Open(" + quoted(pathOf(name)) + ")",
            "put word.Visible = False", "get doc.Content",
            "get content.Find",         "call find.Execute(" + quoted(find) + ")",
            "get word.Documents",       "call docs.Close(False)"};
}

class WordReplace : public ::testing::Test {
protected:
    WordReplace() : fake(server) {
        server.provide(registry, "word.Application", fake.word);
        window.modeValue = Mode::WordDoc;
    }
    void run() { window.run(engines::Operation::WordReplace, registry); }

    scripted::Server server;
    automation::Registry registry;
    FakeWord fake;
    FakeWindow window;
};

} // namespace

TEST_F(WordReplace, ReplacesEveryOccurrenceAndSavesOnlyDocumentsWithTheText) {
    fake.disk[pathOf("a.doc")] = {"旧 一 旧", "", 0};
    fake.disk[pathOf("b.doc")] = {"正文", "页眉里的旧", 0}; // only in the header
    fake.disk[pathOf("c.doc")] = {"没有", "", 0};
    window.files = {"a.doc", "b.doc", "c.doc"};

    run();

    EXPECT_EQ(server.transcript(), concat({{"create word.Application"},
                                           foundCalls("a.doc", "旧", "新"),
                                           notFoundCalls("b.doc", "旧"),
                                           notFoundCalls("c.doc", "旧"),
                                           {"call word.Quit()"}}));
    EXPECT_EQ(fake.disk[pathOf("a.doc")].body, "新 一 新");
    EXPECT_EQ(fake.disk[pathOf("a.doc")].saves, 1);
    EXPECT_EQ(fake.disk[pathOf("b.doc")].saves, 0);
    EXPECT_EQ(fake.disk[pathOf("b.doc")].header, "页眉里的旧");
    EXPECT_EQ(fake.disk[pathOf("c.doc")].saves, 0);
    const Lines lines = {"a.doc 已替换内容", "b.doc 没找到替换的内容", "c.doc 没找到替换的内容"};
    EXPECT_EQ(window.text3, logOf(lines));
    EXPECT_EQ(window.journal, lines);
    // Each document: started, its line, finished.
    EXPECT_EQ(window.reportOrder,
              Lines({"start", "line", "done", "start", "line", "done", "start", "line", "done"}));
}

TEST_F(WordReplace, WorkbookModesAndNoModeDoNothing) {
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    window.files = {"a.doc"};
    for (Mode mode : {Mode::ExcelXls, Mode::WpsXls, Mode::None}) {
        window.modeValue = mode;
        run();
    }
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(window.text3, "");
    EXPECT_TRUE(window.journal.empty());
}

TEST_F(WordReplace, EmptyListStartsNoSuite) {
    // The suite starts only for a document that needs it.
    run();
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(window.text3, "");
}

TEST_F(WordReplace, TextsAreTakenAsTheyStand) {
    // The mode prompts, a text with a line break and an empty replacement are
    // sent unchanged, neither trimmed nor refused.
    fake.disk[pathOf("a.doc")] = {"请输入要替换原内容", "", 0};
    fake.disk[pathOf("b.doc")] = {" 行一\r\n行二 ", "", 0};
    window.files = {"a.doc"};
    window.find = "请输入要替换原内容";
    window.replacement = "请输入新替换内容";
    run();
    EXPECT_EQ(fake.disk[pathOf("a.doc")].body, "请输入新替换内容");

    server.clearLog();
    window.files = {"b.doc"};
    window.find = " 行一\r\n行二 ";
    window.replacement = "";
    run();
    EXPECT_EQ(server.transcript(), concat({{"create word.Application"},
                                           foundCalls("b.doc", " 行一\r\n行二 ", ""),
                                           {"call word.Quit()"}}));
    EXPECT_EQ(fake.disk[pathOf("b.doc")].body, "");
}

TEST_F(WordReplace, TwoRunsAppendTheirLines) {
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    window.files = {"a.doc"};
    run();
    run();
    EXPECT_EQ(window.text3, logOf({"a.doc 已替换内容", "a.doc 没找到替换的内容"}));
    EXPECT_EQ(window.journal, Lines({"a.doc 已替换内容", "a.doc 没找到替换的内容"}));
}

TEST_F(WordReplace, WpsFallsBackToKetWhenEtCannotBeCreated) {
    server.provideFailing(registry, "ET.Application",
                          automation::makeError(automation::errors::CannotCreateObject));
    server.provide(registry, "KET.Application", fake.word);
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    window.files = {"a.doc"};
    window.modeValue = Mode::WpsDoc;
    run();
    EXPECT_EQ(server.transcript(),
              concat({{"create ET.Application -> error 429", "create KET.Application"},
                      foundCalls("a.doc", "旧", "新"),
                      {"call word.Quit()"}}));
    EXPECT_EQ(window.journal, Lines({"a.doc 已替换内容"}));
}

TEST_F(WordReplace, WpsUsesEtWhenItExists) {
    server.provide(registry, "ET.Application", fake.word);
    server.provideFailing(registry, "KET.Application", Error(1, "不应创建"));
    fake.disk[pathOf("a.doc")] = {"无", "", 0};
    window.files = {"a.doc"};
    window.modeValue = Mode::WpsDoc;
    run();
    EXPECT_EQ(
        server.transcript(),
        concat({{"create ET.Application"}, notFoundCalls("a.doc", "旧"), {"call word.Quit()"}}));
}

TEST_F(WordReplace, SuiteThatCannotStartIsTriedOnceAndEveryDocumentFails) {
    window.files = {"a.doc", "b.doc"};
    const std::string unchanged = " 处理失败（文件未改动）：";
    struct Case {
        Mode mode;
        std::function<void()> script;
        std::string startLine;
        std::string suite;
    };
    const std::vector<Case> cases = {
        // Microsoft Word has no fallback.
        {Mode::WordDoc,
         [&] {
             server.provideFailing(registry, "word.Application",
                                   automation::makeError(automation::errors::CannotCreateObject));
             server.provide(registry, "KET.Application", fake.word);
         },
         "无法启动 Microsoft Word（word.Application）：ActiveX 部件不能创建对象", "Microsoft Word"},
        // WPS: neither class; the line names the last one tried.
        {Mode::WpsDoc, [&] { registry.unregisterClass("KET.Application"); },
         "无法启动 WPS（KET.Application）：ActiveX 部件不能创建对象", "WPS"},
        // WPS: ET fails with another error, so KET is not tried.
        {Mode::WpsDoc,
         [&] {
             server.provideFailing(registry, "ET.Application",
                                   Error(-2147023174, "RPC 服务器不可用"));
             server.provide(registry, "KET.Application", fake.word);
         },
         "无法启动 WPS（ET.Application）：RPC 服务器不可用", "WPS"},
    };
    for (const Case& c : cases) {
        c.script();
        server.clearLog();
        window.journal.clear();
        window.modeValue = c.mode;
        run();
        const Lines lines = {c.startLine, "a.doc" + unchanged + "未能启动 " + c.suite + "。",
                             "b.doc" + unchanged + "未能启动 " + c.suite + "。"};
        // One start line: the creation is not tried again for the second document.
        EXPECT_EQ(window.journal, lines);
    }
    EXPECT_EQ(server.transcript().back(), "create ET.Application -> error -2147023174");
}

TEST_F(WordReplace, DocumentThatCannotBeOpenedIsReportedAndTheRunGoesOn) {
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    fake.disk[pathOf("c.doc")] = {"旧", "", 0};
    window.files = {"a.doc", "missing.doc", "c.doc"};
    run();
    EXPECT_EQ(server.transcript(),
              concat({{"create word.Application"},
                      foundCalls("a.doc", "旧", "新"),
                      {"get word.Documents",
                       "call docs.Open(" + quoted(pathOf("missing.doc")) + ") -> error 5174"},
                      foundCalls("c.doc", "旧", "新"),
                      {"call word.Quit()"}}));
    const Lines lines = {"a.doc 已替换内容",
                         "missing.doc 处理失败：找不到文件 " + pathOf("missing.doc"),
                         "c.doc 已替换内容"};
    EXPECT_EQ(window.text3, logOf(lines));
    EXPECT_EQ(window.journal, lines);
}

TEST_F(WordReplace, DocumentFailingAfterOpeningIsClosedWithoutSaving) {
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    fake.disk[pathOf("b.doc")] = {"旧", "", 0};
    window.files = {"a.doc", "b.doc"};

    // The test search of the first document fails.
    fake.find.onCall("Execute", scripted::failingOnCall(1, Error(4605, "此命令无效"), true));
    run();
    Lines expected = {"create word.Application",
                      "get word.Documents",
                      "call docs.Open(" + quoted(pathOf("a.doc")) + ")",
                      "put word.Visible = False",
                      "get doc.Content",
                      "get content.Find",
                      "call find.Execute(\"旧\") -> error 4605",
                      "get word.Documents",
                      "call docs.Close(False)"};
    expected = concat({expected, foundCalls("b.doc", "旧", "新"), {"call word.Quit()"}});
    EXPECT_EQ(server.transcript(), expected);
    EXPECT_EQ(window.journal, Lines({"a.doc 处理失败：此命令无效", "b.doc 已替换内容"}));
    EXPECT_EQ(fake.disk[pathOf("a.doc")].saves, 0);
}

TEST_F(WordReplace, FailedReplaceOrSaveClosesWithoutSaving) {
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    window.files = {"a.doc"};

    // The replacement fails: no error description from the server.
    fake.activeFind.onCall("Execute", Error(5560, ""));
    run();
    Lines calls = server.transcript();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(Lines(calls.end() - 4, calls.end()),
              Lines({"call activeFind.Execute(FindText:=\"旧\", ReplaceWith:=\"新\", Replace:=2) "
                     "-> error 5560",
                     "get word.Documents", "call docs.Close(False)", "call word.Quit()"}));
    EXPECT_EQ(window.journal, Lines({"a.doc 处理失败：错误代码 5560"}));

    // Saving on close fails: the document is closed a second time, unsaved.
    server.clearLog();
    window.journal.clear();
    fake.activeFind.onCall("Execute", true);
    fake.docs.onCall("Close", scripted::computed([](const Call& c, int) -> Reply {
                         if (c.positional.at(0).toBool())
                             return Error(5153, "磁盘已满");
                         return Value();
                     }));
    run();
    calls = server.transcript();
    EXPECT_EQ(Lines(calls.end() - 5, calls.end()),
              Lines({"get word.Documents", "call docs.Close(True) -> error 5153",
                     "get word.Documents", "call docs.Close(False)", "call word.Quit()"}));
    EXPECT_EQ(window.journal, Lines({"a.doc 处理失败：磁盘已满"}));
    EXPECT_EQ(fake.disk[pathOf("a.doc")].body, "旧");
}

TEST_F(WordReplace, FailedCloseOfAnUnchangedDocumentIsNotRetried) {
    fake.disk[pathOf("a.doc")] = {"无", "", 0};
    window.files = {"a.doc"};
    fake.docs.onCall("Close", Error(automation::errors::WordCommandFailed, "命令失败"));
    run();
    const Lines calls = server.transcript();
    EXPECT_EQ(
        Lines(calls.end() - 3, calls.end()),
        Lines({"get word.Documents", "call docs.Close(False) -> error 4198", "call word.Quit()"}));
    EXPECT_EQ(window.journal, Lines({"a.doc 处理失败：命令失败"}));
}

TEST_F(WordReplace, QuitFailureIsReportedAfterTheLastDocument) {
    fake.disk[pathOf("a.doc")] = {"无", "", 0};
    window.files = {"a.doc"};
    fake.word.onCall("Quit",
                     Error(automation::errors::ServerUnavailable, "远程服务器不存在或不可用"));
    run();
    EXPECT_EQ(window.journal, Lines({"a.doc 没找到替换的内容",
                                     "Microsoft Word 未能退出：远程服务器不存在或不可用"}));
    EXPECT_EQ(window.reportOrder, Lines({"start", "line", "done", "line"}));
}

TEST(DocumentPath, JoinsFolderAndNameWithoutDoublingARootSeparator) {
#ifdef _WIN32
    EXPECT_EQ(engines::documentPath("C:\\docs", "a.doc"), "C:\\docs\\a.doc");
    EXPECT_EQ(engines::documentPath("C:\\", "a.doc"), "C:\\a.doc");
    // The folder list's own form, forward slashes, reaches the suite natively.
    EXPECT_EQ(engines::documentPath("C:/x", "a.doc"), "C:\\x\\a.doc");
    EXPECT_EQ(engines::documentPath("C:/", "a.doc"), "C:\\a.doc");
    EXPECT_EQ(engines::documentPath("//server/share/报告", "a.doc"),
              "\\\\server\\share\\报告\\a.doc");
#else
    EXPECT_EQ(engines::documentPath("/docs", "a.doc"), "/docs/a.doc");
    EXPECT_EQ(engines::documentPath("/", "a.doc"), "/a.doc");
#endif
}

TEST_F(WordReplace, DryRunSearchesOnlyAndSavesNothing) {
    fake.disk[pathOf("a.doc")] = {"旧 一 旧", "", 0};
    fake.disk[pathOf("b.doc")] = {"没有", "", 0};
    window.files = {"a.doc", "b.doc"};
    window.searchOnly = true;

    run();

    // The found document is closed unsaved like one without the text.
    Lines foundThenClosed = notFoundCalls("a.doc", "旧");
    EXPECT_EQ(server.transcript(), concat({{"create word.Application"},
                                           foundThenClosed,
                                           notFoundCalls("b.doc", "旧"),
                                           {"call word.Quit()"}}));
    EXPECT_EQ(fake.disk[pathOf("a.doc")].body, "旧 一 旧");
    EXPECT_EQ(fake.disk[pathOf("a.doc")].saves, 0);
    EXPECT_EQ(window.text3,
              logOf({"a.doc 含有要替换的内容（试运行，未保存）", "b.doc 没找到替换的内容"}));
    EXPECT_EQ(window.failures, 0);
}

TEST_F(WordReplace, FailuresAreCountedOncePerFailedDocument) {
    fake.disk[pathOf("a.doc")] = {"旧", "", 0};
    window.files = {"missing.doc", "a.doc", "gone.doc"};
    run();
    EXPECT_EQ(window.failures, 2);
    EXPECT_EQ(fake.disk[pathOf("a.doc")].saves, 1);
}

TEST_F(WordReplace, PairsAreAppliedInOrderInOneOpenAndTheJournalNamesThoseThatReplaced) {
    fake.disk[pathOf("a.doc")] = {"甲 丁", "", 0};
    fake.disk[pathOf("b.doc")] = {"无", "", 0};
    window.files = {"a.doc", "b.doc"};
    window.pairs = {{"甲", "乙"}, {"戊", "己"}, {"乙", "丙"}};
    run();
    // Each pair is tested on the text the pairs before it left: 甲→乙→丙.
    EXPECT_EQ(fake.disk[pathOf("a.doc")].body, "丙 丁");
    EXPECT_EQ(fake.disk[pathOf("a.doc")].saves, 1);
    EXPECT_EQ(fake.disk[pathOf("b.doc")].saves, 0);
    const Lines calls = server.transcript();
    EXPECT_EQ(
        std::count(calls.begin(), calls.end(), "call docs.Open(" + quoted(pathOf("a.doc")) + ")"),
        1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "call find.Execute(\"戊\")"), 2);
    EXPECT_EQ(window.text3, logOf({"a.doc 已替换内容", "b.doc 没找到替换的内容"}));
    EXPECT_EQ(window.journal,
              Lines({"a.doc 已替换内容（替换：甲→乙、乙→丙）", "b.doc 没找到替换的内容"}));
}
