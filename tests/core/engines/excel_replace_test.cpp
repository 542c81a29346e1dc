#include "core/automation/excel_constants.h"
#include "core/engines/excel_replace.h"
#include "core/engines/suite.h"
#include "support/fake_window.h"
#include "support/scripted_server.h"
#include "support/transcripts.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::string lowerAscii(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return s;
}

// A spreadsheet program whose workbooks are lists of worksheets of cells.
// `Cells.Replace` honours LookAt (1 whole cell, 2 part) and MatchCase.
class FakeExcel {
public:
    struct Sheet {
        std::string name;
        std::vector<std::string> cells;
    };
    struct Book {
        std::vector<Sheet> sheets;
        int saves = 0;
    };
    static constexpr int kSheets = 3;

    explicit FakeExcel(scripted::Server& s)
        : excel(s.object("excel")), wbs(s.object("wbs")), wb(s.object("wb")),
          worksheets(s.object("worksheets")), found(s.object("found")) {
        excel.onGet("Workbooks", wbs);
        wbs.onCall("Open", scripted::computed([this](const Call& c, int) -> Reply {
                       const std::string path = c.positional.at(0).toString();
                       auto it = disk.find(path);
                       if (it == disk.end())
                           return Error(automation::errors::ExcelFailure, "找不到 " + path);
                       openPath = path;
                       book = it->second.sheets;
                       return wb;
                   }));
        wb.onGet("Worksheets", scripted::computed([this](const Call& c, int) -> Reply {
                     if (c.positional.empty())
                         return worksheets;
                     return *sheet.at(static_cast<std::size_t>(c.positional[0].toInteger() - 1));
                 }));
        wb.onGet("Sheets", scripted::computed([this](const Call& c, int) -> Reply {
                     return *sheet.at(static_cast<std::size_t>(c.positional.at(0).toInteger() - 1));
                 }));
        wb.onCall("Close", scripted::computed([this](const Call& c, int) -> Reply {
                      if (c.positional.at(0).toBool()) {
                          disk[openPath].sheets = book;
                          ++disk[openPath].saves;
                      }
                      return Value();
                  }));
        worksheets.onGet("Count", scripted::computed([this](const Call&, int) -> Reply {
                             return static_cast<int>(book.size());
                         }));
        for (int j = 0; j < kSheets; ++j) {
            const std::string n = std::to_string(j + 1);
            auto& ws = s.object("sheet" + n);
            auto& cells = s.object("cells" + n);
            sheet.push_back(&ws);
            ws.onGet("Name", scripted::computed([this, j](const Call&, int) -> Reply {
                         return book.at(static_cast<std::size_t>(j)).name;
                     }));
            ws.onGet("Cells", cells);
            cells.onCall("Find", scripted::computed([this, j](const Call& c, int) -> Reply {
                             const std::string what = lowerAscii(c.positional.at(0).toString());
                             for (const auto& cell : book.at(static_cast<std::size_t>(j)).cells)
                                 if (lowerAscii(cell).find(what) != std::string::npos)
                                     return found;
                             return scripted::nothing();
                         }));
            cells.onCall("Replace", scripted::computed([this, j](const Call& c, int) -> Reply {
                             replaceCells(book.at(static_cast<std::size_t>(j)), c);
                             return true;
                         }));
        }
    }

    static void replaceCells(Sheet& sheet, const Call& c) {
        const std::string what = c.namedArgument("What")->toString();
        const std::string with = c.namedArgument("Replacement")->toString();
        const bool whole = c.namedArgument("LookAt")->toInteger() == excel::lookAt::Whole;
        const bool matchCase = c.namedArgument("MatchCase")->toBool();
        const auto fold = [&](const std::string& s) { return matchCase ? s : lowerAscii(s); };
        for (auto& cell : sheet.cells) {
            if (whole) {
                if (fold(cell) == fold(what))
                    cell = with;
                continue;
            }
            for (std::size_t at = fold(cell).find(fold(what)); at != std::string::npos;
                 at = fold(cell).find(fold(what), at + with.size()))
                cell.replace(at, what.size(), with);
        }
    }

    scripted::ScriptedObject& excel;
    scripted::ScriptedObject& wbs;
    scripted::ScriptedObject& wb;
    scripted::ScriptedObject& worksheets;
    scripted::ScriptedObject& found;
    std::vector<scripted::ScriptedObject*> sheet;
    std::map<std::string, Book> disk;
    std::string openPath;
    std::vector<Sheet> book;
};

Lines openCalls(const std::string& name) {
    return {"get excel.Workbooks", "call wbs.Open(" + quoted(pathOf(name)) + ")",
            "put excel.Visible = False", "get wb.Worksheets", "get worksheets.Count"};
}

Lines sheetCalls(int j, const std::string& find, bool found, const std::string& with = "新") {
    const std::string n = std::to_string(j);
    Lines calls = {"get wb.Sheets(" + n + ")",
                   "call sheet" + n + ".Activate()",
                   "get wb.Worksheets(" + n + ")",
                   "get wb.Worksheets(" + n + ")",
                   "get sheet" + n + ".Name",
                   "get sheet" + n + ".Cells",
                   "call cells" + n + ".Find(" + quoted(find) + ")"};
    if (found) {
        calls.push_back("get sheet" + n + ".Cells");
        calls.push_back("call cells" + n + ".Replace(What:=" + quoted(find) +
                        ", Replacement:=" + quoted(with) +
                        ", LookAt:=2, SearchOrder:=1, MatchCase:=False, SearchFormat:=False, "
                        "ReplaceFormat:=False)");
    }
    return calls;
}

class ExcelReplace : public ::testing::Test {
protected:
    ExcelReplace() : fake(server) {
        server.provide(registry, "excel.application", fake.excel);
        window.modeValue = Mode::ExcelXls;
    }
    void run() { window.run(engines::Operation::ExcelReplace, registry); }

    scripted::Server server;
    automation::Registry registry;
    FakeExcel fake;
    FakeWindow window;
};

} // namespace

TEST_F(ExcelReplace, EveryWorksheetIsReportedInOrderAndTheWorkbookSaved) {
    fake.disk[pathOf("book.xls")] = {{{"一", {"a", "b"}}, {"二", {"x旧y"}}, {"三", {""}}}, 0};
    window.files = {"book.xls"};
    run();
    EXPECT_EQ(server.transcript(), concat({{"create excel.application"},
                                           openCalls("book.xls"),
                                           sheetCalls(1, "旧", false),
                                           sheetCalls(2, "旧", true),
                                           sheetCalls(3, "旧", false),
                                           {"call wb.Close(True)", "call excel.Quit()"}}));
    const Lines lines = {"book.xls-一没找到替换的内容", "book.xls-二已替换内容",
                         "book.xls-三没找到替换的内容"};
    EXPECT_EQ(window.text3, logOf(lines));
    EXPECT_EQ(window.journal, lines);
    EXPECT_EQ(fake.disk[pathOf("book.xls")].sheets[1].cells[0], "x新y");
    EXPECT_EQ(fake.disk[pathOf("book.xls")].saves, 1);
}

TEST_F(ExcelReplace, WorkbookWithoutTheTextIsStillSaved) {
    fake.disk[pathOf("a.xls")] = {{{"Sheet1", {"无"}}, {"Sheet2", {}}}, 0};
    window.files = {"a.xls"};
    run();
    EXPECT_EQ(server.transcript(), concat({{"create excel.application"},
                                           openCalls("a.xls"),
                                           sheetCalls(1, "旧", false),
                                           sheetCalls(2, "旧", false),
                                           {"call wb.Close(True)", "call excel.Quit()"}}));
    EXPECT_EQ(window.journal,
              Lines({"a.xls-Sheet1没找到替换的内容", "a.xls-Sheet2没找到替换的内容"}));
    EXPECT_EQ(fake.disk[pathOf("a.xls")].saves, 1);
}

TEST_F(ExcelReplace, PartOfCellCaseIgnoringMatchesAreReplaced) {
    fake.disk[pathOf("a.xls")] = {{{"S", {"Abc 与 aBC 之间", "abc"}}}, 0};
    window.files = {"a.xls"};
    window.find = "abc";
    window.replacement = "Z";
    run();
    EXPECT_EQ(fake.disk[pathOf("a.xls")].sheets[0].cells,
              std::vector<std::string>({"Z 与 Z 之间", "Z"}));
    EXPECT_EQ(window.journal, Lines({"a.xls-S已替换内容"}));
}

TEST_F(ExcelReplace, DocumentModesAndNoModeDoNothing) {
    fake.disk[pathOf("a.xls")] = {{{"S", {"旧"}}}, 0};
    window.files = {"a.xls"};
    for (Mode mode : {Mode::WordDoc, Mode::WpsDoc, Mode::None}) {
        window.modeValue = mode;
        run();
    }
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(window.text3, "");
}

TEST_F(ExcelReplace, WpsFallsBackToKetWhenEtCannotBeCreated) {
    server.provideFailing(registry, "ET.Application",
                          automation::makeError(automation::errors::CannotCreateObject));
    server.provide(registry, "KET.Application", fake.excel);
    fake.disk[pathOf("a.xls")] = {{{"S", {"旧"}}}, 0};
    window.files = {"a.xls"};
    window.modeValue = Mode::WpsXls;
    run();
    EXPECT_EQ(server.transcript(),
              concat({{"create ET.Application -> error 429", "create KET.Application"},
                      openCalls("a.xls"),
                      sheetCalls(1, "旧", true),
                      {"call wb.Close(True)", "call excel.Quit()"}}));
}

TEST_F(ExcelReplace, SuiteThatCannotStartFailsEveryWorkbook) {
    registry.unregisterClass("excel.application");
    window.files = {"a.xls"};
    run();
    window.modeValue = Mode::WpsXls;
    run();
    EXPECT_TRUE(server.transcript().empty());
    const Lines lines = {"无法启动 Microsoft Excel（excel.application）：ActiveX 部件不能创建对象",
                         "a.xls 处理失败（文件未改动）：未能启动 Microsoft Excel。",
                         "无法启动 WPS（KET.Application）：ActiveX 部件不能创建对象",
                         "a.xls 处理失败（文件未改动）：未能启动 WPS。"};
    EXPECT_EQ(window.text3, logOf(lines));
    EXPECT_EQ(window.journal, lines);
}

TEST_F(ExcelReplace, WorkbookThatCannotBeOpenedIsReportedAndTheRunGoesOn) {
    fake.disk[pathOf("b.xls")] = {{{"S", {"旧"}}}, 0};
    window.files = {"a.xls", "b.xls"};
    run();
    EXPECT_EQ(server.transcript(),
              concat({{"create excel.application", "get excel.Workbooks",
                       "call wbs.Open(" + quoted(pathOf("a.xls")) + ") -> error 1004"},
                      openCalls("b.xls"),
                      sheetCalls(1, "旧", true),
                      {"call wb.Close(True)", "call excel.Quit()"}}));
    const Lines lines = {"a.xls 处理失败（文件未改动）：找不到 " + pathOf("a.xls"),
                         "b.xls-S已替换内容"};
    EXPECT_EQ(window.text3, logOf(lines));
    EXPECT_EQ(window.journal, lines);
}

TEST_F(ExcelReplace, SheetThatCannotBeActivatedClosesTheWorkbookUnsaved) {
    fake.disk[pathOf("a.xls")] = {{{"S1", {"旧"}}, {"S2", {"旧"}}, {"S3", {"旧"}}}, 0};
    fake.disk[pathOf("b.xls")] = {{{"T", {"旧"}}}, 0};
    window.files = {"a.xls", "b.xls"};
    fake.sheet[1]->onCall("Activate", Error(automation::errors::ExcelFailure, "无法激活工作表"));
    run();
    EXPECT_EQ(server.transcript(),
              concat({{"create excel.application"},
                      openCalls("a.xls"),
                      sheetCalls(1, "旧", true),
                      {"get wb.Sheets(2)", "call sheet2.Activate() -> error 1004",
                       "call wb.Close(False)"},
                      openCalls("b.xls"),
                      sheetCalls(1, "旧", true),
                      {"call wb.Close(True)", "call excel.Quit()"}}));
    EXPECT_EQ(window.journal,
              Lines({"a.xls-S1已替换内容", "a.xls 处理失败（文件未改动）：无法激活工作表",
                     "b.xls-T已替换内容"}));
    EXPECT_EQ(fake.disk[pathOf("a.xls")].saves, 0);
    EXPECT_EQ(fake.disk[pathOf("a.xls")].sheets[0].cells[0], "旧");
    EXPECT_EQ(fake.disk[pathOf("b.xls")].saves, 1);
}

TEST_F(ExcelReplace, FailedSaveOrReplaceClosesWithoutSaving) {
    fake.disk[pathOf("a.xls")] = {{{"S", {"旧"}}}, 0};
    window.files = {"a.xls"};

    fake.wb.onCall("Close", scripted::computed([](const Call& c, int) -> Reply {
                       if (c.positional.at(0).toBool())
                           return Error(automation::errors::ExcelFailure, "无法保存 a.xls");
                       return Value();
                   }));
    run();
    Lines calls = server.transcript();
    EXPECT_EQ(
        Lines(calls.end() - 3, calls.end()),
        Lines({"call wb.Close(True) -> error 1004", "call wb.Close(False)", "call excel.Quit()"}));
    EXPECT_EQ(window.journal,
              Lines({"a.xls-S已替换内容", "a.xls 处理失败（文件未改动）：无法保存 a.xls"}));

    server.clearLog();
    window.journal.clear();
    fake.sheet[0]->onGet(
        "Cells", scripted::inTurn({server.object("cells1"), Error(-2147417848, "自动化错误")}));
    run();
    calls = server.transcript();
    EXPECT_EQ(Lines(calls.end() - 4, calls.end()),
              Lines({"call cells1.Find(\"旧\")", "get sheet1.Cells -> error -2147417848",
                     "call wb.Close(False)", "call excel.Quit()"}));
    EXPECT_EQ(window.journal, Lines({"a.xls 处理失败（文件未改动）：自动化错误"}));
}

TEST_F(ExcelReplace, DryRunFindsOnlyAndClosesWithoutSaving) {
    fake.disk[pathOf("book.xls")] = {{{"一", {"a"}}, {"二", {"x旧y"}}}, 0};
    window.files = {"book.xls"};
    window.searchOnly = true;
    run();
    EXPECT_EQ(server.transcript(), concat({{"create excel.application"},
                                           openCalls("book.xls"),
                                           sheetCalls(1, "旧", false),
                                           sheetCalls(2, "旧", false),
                                           {"call wb.Close(False)", "call excel.Quit()"}}));
    EXPECT_EQ(window.text3, logOf({"book.xls-一没找到替换的内容",
                                   "book.xls-二含有要替换的内容（试运行，未保存）"}));
    EXPECT_EQ(fake.disk[pathOf("book.xls")].sheets[1].cells[0], "x旧y");
    EXPECT_EQ(fake.disk[pathOf("book.xls")].saves, 0);
}

TEST_F(ExcelReplace, PairsAreAppliedOnEachSheetInOrderAndTheJournalNamesThem) {
    fake.disk[pathOf("a.xls")] = {{{"一", {"甲"}}, {"二", {"无"}}}, 0};
    window.files = {"a.xls"};
    window.pairs = {{"甲", "乙"}, {"乙", "丙"}};
    run();
    // The second pair searches what the first left, on the same sheet.
    const Lines second = sheetCalls(1, "乙", true, "丙");
    EXPECT_EQ(server.transcript(), concat({{"create excel.application"},
                                           openCalls("a.xls"),
                                           sheetCalls(1, "甲", true, "乙"),
                                           Lines(second.end() - 4, second.end()),
                                           sheetCalls(2, "甲", false),
                                           {"get sheet2.Cells", "call cells2.Find(\"乙\")"},
                                           {"call wb.Close(True)", "call excel.Quit()"}}));
    EXPECT_EQ(fake.disk[pathOf("a.xls")].sheets[0].cells[0], "丙");
    EXPECT_EQ(window.journal,
              Lines({"a.xls-一已替换内容（替换：甲→乙、乙→丙）", "a.xls-二没找到替换的内容"}));
}
