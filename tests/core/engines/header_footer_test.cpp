#include "core/automation/word_constants.h"
#include "core/engines/header_footer.h"
#include "core/engines/suite.h"
#include "support/fake_window.h"
#include "support/scripted_server.h"
#include "support/transcripts.h"

#include <gtest/gtest.h>

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

std::string spaces(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

// Word with one paragraph per header and footer: typed text and page fields
// go to the part the view shows, the alignment set last stays.
class FakeWord {
public:
    struct Part {
        std::string text;
        int alignment = 0;
    };
    struct Document {
        Part header;
        Part footer;
        int saves = 0;
    };

    explicit FakeWord(scripted::Server& s)
        : word(s.object("word")), docs(s.object("docs")), doc(s.object("doc")),
          window(s.object("window")), pane(s.object("pane")), view(s.object("view")),
          sel(s.object("sel")), font(s.object("font")), para(s.object("para")),
          fields(s.object("fields")), selRange(s.object("selRange")),
          activeDoc(s.object("activeDoc")), section(s.object("section")),
          header(s.object("header")), footer(s.object("footer")),
          headerRange(s.object("headerRange")), footerRange(s.object("footerRange")) {
        word.onGet("Documents", docs)
            .onGet("ActiveWindow", window)
            .onGet("Selection", sel)
            .onGet("ActiveDocument", activeDoc);
        docs.onCall("Open", scripted::computed([this](const Call& c, int) -> Reply {
                        const std::string path = c.positional.at(0).toString();
                        auto it = disk.find(path);
                        if (it == disk.end())
                            return Error(automation::errors::WordFile, "找不到文件 " + path);
                        openPath = path;
                        current = it->second;
                        viewShown = 0;
                        return doc;
                    }));
        doc.onCall("Save", scripted::computed([this](const Call&, int) -> Reply {
                       ++current.saves;
                       disk[openPath] = current;
                       return Value();
                   }));
        window.onGet("ActivePane", pane);
        pane.onGet("View", view);
        view.onPut("SeekView", scripted::computed([this](const Call& c, int) -> Reply {
                       viewShown = static_cast<int>(c.positional.at(0).toInteger());
                       return Value();
                   }));
        sel.onGet("Font", font)
            .onGet("ParagraphFormat", para)
            .onGet("Fields", fields)
            .onGet("Range", selRange);
        sel.onCall("TypeText", scripted::computed([this](const Call& c, int) -> Reply {
                       shownPart().text += c.positional.at(0).toString();
                       return Value();
                   }));
        para.onPut("Alignment", scripted::computed([this](const Call& c, int) -> Reply {
                       shownPart().alignment = static_cast<int>(c.positional.at(0).toInteger());
                       return Value();
                   }));
        fields.onCall(
            "Add", scripted::computed([this](const Call& c, int) -> Reply {
                if (c.positional.size() != 2 || c.positional[1].toInteger() != word::field::Page)
                    return Error(automation::errors::InvalidArgument, "无效的过程调用或参数");
                shownPart().text += "{PAGE}";
                return Value();
            }));
        activeDoc.onGet("ActiveWindow", window);
        activeDoc.onGet("Sections", section);
        section.onGet("Headers", header).onGet("Footers", footer);
        header.onGet("Range", headerRange);
        footer.onGet("Range", footerRange);
        // Word ends every header and footer with a paragraph mark.
        headerRange.onGet("Text", scripted::computed([this](const Call&, int) -> Reply {
                              return current.header.text + "\r";
                          }));
        footerRange.onGet("Text", scripted::computed([this](const Call&, int) -> Reply {
                              return current.footer.text + "\r";
                          }));
    }

    Part& shownPart() {
        if (viewShown == 9)
            return current.header;
        if (viewShown == 10)
            return current.footer;
        return body;
    }

    scripted::ScriptedObject &word, &docs, &doc, &window, &pane, &view, &sel, &font, &para, &fields,
        &selRange, &activeDoc, &section, &header, &footer, &headerRange, &footerRange;
    std::map<std::string, Document> disk;
    std::string openPath;
    Document current;
    Part body;
    int viewShown = 0;
};

Lines openDoc(const std::string& name) {
    return {"get word.Documents", "call docs.Open(" + quoted(pathOf(name)) + ")",
            "put word.Visible = False", "put word.DisplayAlerts = True", "call doc.Activate()"};
}
Lines seek(int view) {
    return {"get word.ActiveWindow", "get window.ActivePane", "get pane.View",
            "put view.SeekView = " + std::to_string(view)};
}
Lines fontCalls(const std::string& name, const std::string& size, bool bold = false) {
    Lines calls = {"get word.Selection", "get sel.Font", "put font.Name = " + quoted(name),
                   "get word.Selection", "get sel.Font", "put font.Size = " + quoted(size)};
    if (bold)
        calls.insert(calls.end(), {"get word.Selection", "get sel.Font", "put font.Bold = True"});
    return calls;
}
Lines type(const std::string& text) {
    return {"get word.Selection", "call sel.TypeText(" + quoted(text) + ")"};
}
Lines align(int alignment) {
    return {"get word.Selection", "get sel.ParagraphFormat",
            "put para.Alignment = " + std::to_string(alignment)};
}
Lines pageNumber() {
    return concat({type("第"),
                   {"get word.Selection", "get sel.Fields", "get word.Selection", "get sel.Range",
                    "call fields.Add(selRange, 33)"},
                   type("页")});
}
Lines readBack(const std::string& part) {
    const std::string lower = part == "Headers" ? "header" : "footer";
    return {"get word.ActiveDocument", "get activeDoc.Sections(1)", "get section." + part + "(1)",
            "get " + lower + ".Range", "get " + lower + "Range.Text"};
}
Lines saveAndClose() {
    return {"get word.ActiveDocument", "get activeDoc.ActiveWindow", "get window.ActivePane",
            "get pane.View",           "put view.SeekView = 0",      "call doc.Save()",
            "call doc.Close()"};
}

class HeaderFooter : public ::testing::Test {
protected:
    HeaderFooter() : fake(server) {
        server.provide(registry, "Word.Application", fake.word);
        window.modeValue = Mode::WordDoc;
    }
    void run() { window.run(engines::Operation::HeaderFooter, registry); }
    void addDocuments(const Lines& names) {
        for (const auto& n : names) {
            fake.disk[pathOf(n)] = {};
            window.files.push_back(n);
        }
    }
    const FakeWord::Document& saved(const std::string& name) { return fake.disk[pathOf(name)]; }

    scripted::Server server;
    automation::Registry registry;
    FakeWord fake;
    FakeWindow window;
};

} // namespace

TEST_F(HeaderFooter, CentredHeaderCallSequence) {
    addDocuments({"a.doc"});
    window.header = true;
    window.headerContent = "公司文件";
    window.font = "黑体";
    window.size = "10.5";
    window.bold = true;
    run();
    EXPECT_EQ(server.transcript(), concat({{"create Word.Application"},
                                           openDoc("a.doc"),
                                           seek(9),
                                           fontCalls("黑体", "10.5", true),
                                           type("公司文件"),
                                           align(1),
                                           seek(0),
                                           readBack("Headers"),
                                           saveAndClose(),
                                           {"call word.Quit()"}}));
    EXPECT_EQ(saved("a.doc").header.text, "公司文件");
    EXPECT_EQ(saved("a.doc").header.alignment, 1);
    EXPECT_EQ(saved("a.doc").saves, 1);
    EXPECT_EQ(window.text3, logOf({"a.doc 已写入内容"}));
    EXPECT_EQ(window.journal, Lines({"a.doc 已写入内容"}));
}

TEST_F(HeaderFooter, FooterOrdersWithAndWithoutThePageNumber) {
    struct Row {
        std::string footerChoice;
        bool pageNumber;
        std::string pageChoice;
        std::string paragraph;
        int alignment;
    };
    const std::vector<Row> rows = {
        {"居中", false, "居中1", "脚", 1},
        {"居左", false, "居中1", "脚" + spaces(26), 3},
        {"居右", false, "居中1", spaces(22) + "脚", 2},
        {"居右", true, "居中1", "第{PAGE}页" + spaces(22) + "脚", 2},
        {"居左", true, "居中2", "脚" + spaces(26) + "第{PAGE}页", 1},
        {"居中", true, "居左", "脚第{PAGE}页", 3},
        {"居中", true, "居右", "脚第{PAGE}页", 2},
        // A page-number placement outside the table adds no page number.
        {"居中", true, "中间", "脚", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.footerChoice + "/" + row.pageChoice + (row.pageNumber ? "/页码" : ""));
        fake.disk.clear();
        window.files.clear();
        addDocuments({"a.doc"});
        window.footer = true;
        window.footerContent = "脚";
        window.footerAlign = row.footerChoice;
        window.pageNumber = row.pageNumber;
        window.pageNumberAlign = row.pageChoice;
        run();
        EXPECT_EQ(saved("a.doc").footer.text, row.paragraph);
        EXPECT_EQ(saved("a.doc").footer.alignment, row.alignment);
        EXPECT_EQ(saved("a.doc").header.text, "");
    }
}

TEST_F(HeaderFooter, RightFooterWithPageNumberCallSequence) {
    addDocuments({"a.doc"});
    window.footer = true;
    window.footerContent = "第一章";
    window.footerAlign = "居右";
    window.pageNumber = true;
    window.pageNumberAlign = "居中1";
    run();
    EXPECT_EQ(server.transcript(), concat({{"create Word.Application"},
                                           openDoc("a.doc"),
                                           seek(10),
                                           fontCalls("宋体", "10"),
                                           pageNumber(),
                                           align(1),
                                           type(spaces(22) + "第一章"),
                                           align(2),
                                           readBack("Footers"),
                                           saveAndClose(),
                                           {"call word.Quit()"}}));
    // The journal line carries the footer text read back.
    const std::string line = "a.doc 页脚已写入内容";
    EXPECT_EQ(window.text3, logOf({line}));
    EXPECT_EQ(window.journal, Lines({line + "第{PAGE}页" + spaces(22) + "第一章\r"}));
}

TEST_F(HeaderFooter, PlacementOutsideTheTableTypesNothingButStillSaves) {
    addDocuments({"a.doc"});
    window.header = true;
    window.headerAlign = "中间";
    run();
    EXPECT_EQ(server.transcript(), concat({{"create Word.Application"},
                                           openDoc("a.doc"),
                                           seek(9),
                                           fontCalls("宋体", "10"),
                                           seek(0),
                                           readBack("Headers"),
                                           saveAndClose(),
                                           {"call word.Quit()"}}));
    EXPECT_EQ(saved("a.doc").saves, 1);
    // The header read back is Word's bare paragraph mark: not empty.
    EXPECT_EQ(window.journal, Lines({"a.doc 已写入内容"}));
}

TEST_F(HeaderFooter, NeitherOptionSavesEveryDocumentWithoutALine) {
    addDocuments({"a.doc", "b.doc"});
    run();
    EXPECT_EQ(server.transcript(), concat({{"create Word.Application"},
                                           openDoc("a.doc"),
                                           saveAndClose(),
                                           openDoc("b.doc"),
                                           saveAndClose(),
                                           {"call word.Quit()"}}));
    EXPECT_EQ(saved("a.doc").saves, 1);
    EXPECT_EQ(saved("b.doc").saves, 1);
    EXPECT_EQ(window.text3, "");
    EXPECT_TRUE(window.journal.empty());
}

TEST_F(HeaderFooter, EmptyReadBackGivesTheFailedMarks) {
    addDocuments({"a.doc"});
    fake.headerRange.onGet("Text", "");
    fake.footerRange.onGet("Text", "");
    window.header = true;
    run();
    window.header = false;
    window.footer = true;
    run();
    EXPECT_EQ(window.text3, logOf({"a.doc 写入内容失败", "a.doc 页脚写入内容失败"}));
    EXPECT_EQ(window.journal, Lines({"a.doc 写入内容失败", "a.doc 页脚写入内容失败"}));
}

TEST_F(HeaderFooter, ExistingHeaderIsKept) {
    addDocuments({"a.doc"});
    fake.disk[pathOf("a.doc")].header.text = "旧页眉";
    window.header = true;
    window.headerContent = "新";
    run();
    EXPECT_EQ(saved("a.doc").header.text, "旧页眉新");
}

TEST_F(HeaderFooter, OtherModesDoNothing) {
    addDocuments({"a.doc"});
    window.header = true;
    for (Mode mode : {Mode::WpsDoc, Mode::ExcelXls, Mode::WpsXls, Mode::None}) {
        window.modeValue = mode;
        run();
    }
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(window.text3, "");
}

TEST_F(HeaderFooter, WordThatCannotStartIsReportedAndStopsTheRun) {
    registry.unregisterClass("Word.Application");
    addDocuments({"a.doc", "b.doc"});
    window.header = true;
    run();
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(window.journal,
              Lines({"无法启动 Microsoft Word（Word.Application）：ActiveX 部件不能创建对象",
                     "a.doc 处理失败（文件未改动）：未能启动 Microsoft Word。"}));
}

TEST_F(HeaderFooter, DocumentThatCannotBeOpenedStopsTheRun) {
    addDocuments({"a.doc"});
    window.files = {"a.doc", "missing.doc", "c.doc"};
    fake.disk[pathOf("c.doc")] = {};
    window.header = true;
    run();
    const Lines calls = server.transcript();
    EXPECT_EQ(Lines(calls.end() - 4, calls.end()),
              Lines({"call doc.Close()", "get word.Documents",
                     "call docs.Open(" + quoted(pathOf("missing.doc")) + ") -> error 5174",
                     "call word.Quit()"}));
    EXPECT_EQ(window.journal,
              Lines({"a.doc 已写入内容",
                     "missing.doc 处理失败（文件未改动）：找不到文件 " + pathOf("missing.doc")}));
    EXPECT_EQ(saved("a.doc").saves, 1);
    EXPECT_EQ(saved("c.doc").saves, 0);
}

TEST_F(HeaderFooter, RefusedFontSizeStopsTheRunAndClosesUnsaved) {
    addDocuments({"a.doc", "b.doc", "c.doc"});
    window.footer = true;
    fake.font.onPut("Size", scripted::failingOnCall(
                                2, Error(automation::errors::WordValueOutOfRange, "数值超出范围")));
    run();
    const Lines calls = server.transcript();
    EXPECT_EQ(Lines(calls.end() - 3, calls.end()),
              Lines({"put font.Size = \"10\" -> error 4608", "call doc.Close(False)",
                     "call word.Quit()"}));
    const Lines lines = {"a.doc 页脚已写入内容", "b.doc 处理失败（文件未改动）：数值超出范围"};
    EXPECT_EQ(window.text3, logOf(lines));
    EXPECT_EQ(window.journal, Lines({"a.doc 页脚已写入内容页脚" + spaces(26) + "\r", lines[1]}));
    EXPECT_EQ(saved("a.doc").saves, 1);
    EXPECT_EQ(saved("b.doc").saves, 0);
    EXPECT_EQ(saved("c.doc").saves, 0);
}

TEST_F(HeaderFooter, FailedSaveAfterTheReadBackGivesBothLines) {
    addDocuments({"a.doc", "b.doc"});
    window.header = true;
    fake.doc.onCall("Save", Error(5153, "磁盘已满"));
    run();
    const Lines calls = server.transcript();
    EXPECT_EQ(
        Lines(calls.end() - 3, calls.end()),
        Lines({"call doc.Save() -> error 5153", "call doc.Close(False)", "call word.Quit()"}));
    EXPECT_EQ(window.journal,
              Lines({"a.doc 已写入内容", "a.doc 处理失败（文件未改动）：磁盘已满"}));
    EXPECT_EQ(saved("a.doc").saves, 0);
    EXPECT_EQ(saved("a.doc").header.text, "");
}
