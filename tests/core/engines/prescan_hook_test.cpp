// The replace runs with a prescan: a document it rules out is reported as
// without the text and never opened; every other document runs as before.

#include "core/engines/excel_replace.h"
#include "core/engines/prescan.h"
#include "core/engines/suite.h"
#include "core/engines/word_replace.h"
#include "support/fake_window.h"
#include "support/scripted_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using automation::Value;
using engines_testing::FakeWindow;
using engines_testing::logOf;

namespace {

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const std::string& t : texts)
        out += (out.empty() ? "" : ",") + t;
    return out;
}

// Rules out the documents it knows as without the text.
class FakePrescan : public engines::Prescan {
public:
    std::map<std::string, std::vector<std::string>> lacking; // path -> worksheet names
    mutable std::vector<std::string> asked;

    bool wordDocumentLacks(const std::string& path,
                           const std::vector<std::string>& findTexts) const override {
        asked.push_back(path + "|" + joined(findTexts));
        return lacking.count(path) > 0;
    }
    std::optional<std::vector<std::string>>
    workbookLacks(const std::string& path,
                  const std::vector<std::string>& findTexts) const override {
        asked.push_back(path + "|" + joined(findTexts));
        auto it = lacking.find(path);
        if (it == lacking.end())
            return std::nullopt;
        return it->second;
    }
};

std::string pathOf(const std::string& name) {
    return engines::documentPath("/docs", name);
}

bool contains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

class PrescanHook : public ::testing::Test {
protected:
    PrescanHook() {
        window.folder = "/docs";
        window.find = "旧";
        window.replacement = "新";
        window.prescanner = &prescan;
    }

    void scriptWord() { scripted::scriptWordSearch(server, registry, Value(true)); }

    void scriptExcel() {
        auto& excel = server.object("excel");
        auto& books = server.object("books");
        auto& book = server.object("book");
        auto& sheets = server.object("sheets");
        auto& sheet = server.object("sheet");
        auto& cells = server.object("cells");
        excel.onGet("Workbooks", books);
        books.onCall("Open", book);
        book.onGet("Worksheets",
                   scripted::computed([&](const scripted::Call& c, int) -> scripted::Reply {
                       if (c.positional.empty())
                           return sheets;
                       return sheet;
                   }));
        book.onGet("Sheets", sheet);
        sheets.onGet("Count", Value(1));
        sheet.onGet("Name", Value("表一"));
        sheet.onGet("Cells", cells);
        cells.onCall("Find", Value());
        server.provide(registry, "excel.application", excel);
    }

    FakeWindow window;
    FakePrescan prescan;
    scripted::Server server;
    automation::Registry registry;
};

TEST_F(PrescanHook, WordDocumentRuledOutIsReportedAndNotOpened) {
    scriptWord();
    window.modeValue = engines::Mode::WordDoc;
    window.files = {"a.doc", "b.doc", "c.doc"};
    prescan.lacking[pathOf("a.doc")] = {};
    prescan.lacking[pathOf("c.doc")] = {};
    window.run(engines::Operation::WordReplace, registry);

    EXPECT_EQ(window.text3,
              logOf({"a.doc 没找到替换的内容", "b.doc 已替换内容", "c.doc 没找到替换的内容"}));
    EXPECT_EQ(window.journal,
              (std::vector<std::string>{"a.doc 没找到替换的内容", "b.doc 已替换内容",
                                        "c.doc 没找到替换的内容"}));
    const auto calls = server.transcript();
    EXPECT_FALSE(contains(calls, "a.doc"));
    EXPECT_FALSE(contains(calls, "c.doc"));
    EXPECT_TRUE(contains(calls, "Open(\"" + pathOf("b.doc") + "\")"));
    EXPECT_EQ(calls.back(), "call word.Quit()");
    EXPECT_EQ(prescan.asked,
              (std::vector<std::string>{pathOf("a.doc") + "|旧", pathOf("b.doc") + "|旧",
                                        pathOf("c.doc") + "|旧"}));
}

TEST_F(PrescanHook, NoSuiteStartsWhenEveryDocumentIsRuledOutAndEveryFindTextIsAsked) {
    scriptWord();
    window.modeValue = engines::Mode::WordDoc;
    window.files = {"a.doc"};
    window.pairs = {{"甲", "乙"}, {"乙", "丙"}};
    prescan.lacking[pathOf("a.doc")] = {};
    window.run(engines::Operation::WordReplace, registry);
    EXPECT_EQ(window.text3, logOf({"a.doc 没找到替换的内容"}));
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(prescan.asked, std::vector<std::string>{pathOf("a.doc") + "|甲,乙"});
}

TEST_F(PrescanHook, WorkbookRuledOutGivesOneLinePerWorksheetAndIsNeitherOpenedNorSaved) {
    scriptExcel();
    window.modeValue = engines::Mode::ExcelXls;
    window.files = {"a.xls", "b.xls"};
    prescan.lacking[pathOf("a.xls")] = {"第一页", "Sheet2", "汇总"};
    window.run(engines::Operation::ExcelReplace, registry);
    EXPECT_EQ(window.text3, logOf({"a.xls-第一页没找到替换的内容", "a.xls-Sheet2没找到替换的内容",
                                   "a.xls-汇总没找到替换的内容", "b.xls-表一没找到替换的内容"}));
    const auto calls = server.transcript();
    EXPECT_FALSE(contains(calls, "a.xls"));
    EXPECT_TRUE(contains(calls, "Open(\"" + pathOf("b.xls") + "\")"));
    // The workbook that was opened is still saved on closing.
    EXPECT_TRUE(contains(calls, "call book.Close(True)"));
}

TEST_F(PrescanHook, WithoutPrescanEveryDocumentIsOpened) {
    scriptWord();
    window.modeValue = engines::Mode::WordDoc;
    window.files = {"a.doc"};
    prescan.lacking[pathOf("a.doc")] = {};
    window.prescanner = nullptr;
    window.run(engines::Operation::WordReplace, registry);
    EXPECT_TRUE(contains(server.transcript(), "Open(\"" + pathOf("a.doc") + "\")"));
    EXPECT_TRUE(prescan.asked.empty());
}

} // namespace
