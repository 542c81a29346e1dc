// The Word classes served by LibreOffice, member by member, on real .doc
// files. The tests share one application object, so one office process.

#include "office_fixture.h"
#include "office_test_support.h"
#include "password_documents.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/automation_errors.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <regex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using automation::Error;
using automation::Object;
using automation::Value;
using office_testing::TextDocument;
using testing_support::errorOf;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- call helpers

Object openDocument(const Object& app, const fs::path& path) {
    return app.get("Documents").toObject().call("Open", {Value(path.string())}).toObject();
}

bool contentContains(const Object& document, const std::string& text) {
    return document.get("Content")
        .toObject()
        .get("Find")
        .toObject()
        .call("Execute", {Value(text)})
        .toBool();
}

bool replaceEverywhere(const Object& app, const std::string& find, const std::string& replacement) {
    return app.get("ActiveDocument")
        .toObject()
        .get("Content")
        .toObject()
        .get("Find")
        .toObject()
        .call(
            "Execute", {},
            {{"FindText", Value(find)}, {"ReplaceWith", Value(replacement)}, {"Replace", Value(2)}})
        .toBool();
}

void closeDocuments(const Object& app, bool save) {
    app.get("Documents").toObject().call("Close", {Value(save)});
}

void seekView(const Object& app, int view) {
    app.get("ActiveWindow")
        .toObject()
        .get("ActivePane")
        .toObject()
        .get("View")
        .toObject()
        .put("SeekView", Value(view));
}

std::string storyText(const Object& app, bool header, int index = 1) {
    return app.get("ActiveDocument")
        .toObject()
        .get("Sections", {Value(1)})
        .toObject()
        .get(header ? "Headers" : "Footers", {Value(index)})
        .toObject()
        .get("Range")
        .toObject()
        .get("Text")
        .toString();
}

// A program folder `root`/program of links to the installed office's files
// (without soffice.bin), with no share folder beside it.
fs::path fakeProgramFolder(const fs::path& root) {
    const fs::path program = root / "program";
    fs::create_directories(program);
    const fs::path real = libreoffice::defaultProgramFolder();
    for (const char* name : {"fundamentalrc", "types.rdb", "bootstraprc", "libswlo.so",
                             "libmswordlo.so", "libsclo.so", "libscfiltlo.so"})
        fs::create_symlink(real / name, program / name);
    return program;
}

bool processGroupAlive(int group) {
    return group > 0 && ::kill(-group, 0) == 0;
}

// The whole folder, to see that no temporary or lock file is left behind.
std::vector<std::string> folderListing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// ---------------------------------------------------------------- fixture

struct WordModel {
    static Object create() { return libreoffice::createWordApplication(); }
    static void closeAll(const Object& app) { closeDocuments(app, false); }
    static const char* extension() { return "doc"; }
    static std::map<std::string, fs::path> makeTemplates(const fs::path& folder) {
        std::map<std::string, std::string> sources;
        sources["twice"] =
            office_testing::flatText({"<text:p>Hello apple world, <text:span "
                                      "text:style-name=\"B\">apple</text:span> again.</text:p>",
                                      "Header with apple", "", ""});
        sources["absent"] = office_testing::flatText({"Nothing to see here.", "", "", ""});
        sources["stories"] = office_testing::flatText(
            {"<text:p>Body text.<text:note text:id=\"n1\" text:note-class=\"footnote\">"
             "<text:note-citation>1</text:note-citation><text:note-body><text:p>NOTEONLY</text:p>"
             "</text:note-body></text:note></text:p>"
             "<table:table "
             "table:name=\"T\"><table:table-column/><table:table-row><table:table-cell>"
             "<text:p>TABLEWORD</text:p></table:table-cell></table:table-row></table:table>"
             "<text:p><draw:frame draw:name=\"F\" text:anchor-type=\"paragraph\" svg:width=\"5cm\" "
             "svg:height=\"2cm\"><draw:text-box><text:p>FRAMEONLY</text:p></draw:text-box></"
             "draw:frame>"
             "end</text:p>",
             "HEADERONLY", "FOOTERONLY", ""});
        sources["chinese"] = office_testing::flatText({"这是测试文本，再测试一次。", "", "", ""});
        sources["plain"] = office_testing::flatText({"Plain body.", "", "", ""});
        sources["withheader"] = office_testing::flatText({"Body.", "已有页眉", "已有页脚", ""});
        sources["firstpage"] =
            office_testing::flatText({"Body.", "Other pages", "", "First page header"});
        return office_testing::makeDocuments(sources, "doc", folder);
    }
};

using WordServer = office_testing::OfficeFixture<WordModel>;

// ---------------------------------------------------------------- detection

TEST(WordDetection, ClassesAreRegisteredAndAnswerWithoutStartingTheOffice) {
    if (const auto reason = office_testing::missingOfficeReason(); !reason.empty())
        GTEST_SKIP() << reason;
    automation::Registry registry;
    ASSERT_TRUE(libreoffice::registerClasses(registry).has_value());
    for (const char* name : {"word.Application", "Word.Application", "WORD.APPLICATION",
                             "excel.application", "excel.Application", "Excel.Application"})
        EXPECT_TRUE(registry.isRegistered(name)) << name;
    // The WPS classes are not served on Linux.
    for (const char* name : {"ET.Application", "KET.Application"})
        EXPECT_EQ(errorOf([&] { registry.create(name); }).number, 429) << name;

    const Object word = registry.create("Word.Application");
    word.put("Visible", Value(false));
    EXPECT_FALSE(word.get("Visible").toBool());
    EXPECT_EQ(word.value().toString(), "LibreOffice Writer");
    const double version = word.get("Version").toDouble();
    EXPECT_GT(version, 3.0);
    const Object excel = registry.create("excel.Application");
    EXPECT_FALSE(excel.value().toString().empty());
    EXPECT_EQ(excel.get("Version").toDouble(), version);
    // Nothing so far needed a document.
    EXPECT_EQ(libreoffice::officeProcessGroup(word), 0);
    EXPECT_EQ(libreoffice::officeProcessGroup(excel), 0);
}

TEST(OfficeInstallation, MissingUserInterfaceFilesAreNamedWhenTheApplicationIsMade) {
    if (const auto reason = office_testing::missingOfficeReason(); !reason.empty())
        GTEST_SKIP() << reason;
    // The installed office has them (the tests need the full packages).
    EXPECT_EQ(libreoffice::missingUserInterface(libreoffice::defaultProgramFolder(), true), "");
    EXPECT_EQ(libreoffice::missingUserInterface(libreoffice::defaultProgramFolder(), false), "");

    // An installation as the "-nogui" packages leave it.
    TempFolder installation;
    const fs::path program = fakeProgramFolder(installation.path());
    fs::create_symlink(libreoffice::defaultProgramFolder() / "soffice.bin",
                       program / "soffice.bin");
    libreoffice::ServerOptions options;
    options.programFolder = program;
    auto create = [&](bool writer) {
        return writer ? libreoffice::createWordApplication(options)
                      : libreoffice::createExcelApplication(options);
    };
    struct Case {
        bool writer;
        const char* package;
        const char* folder;
    };
    for (const Case& c : {Case{true, "libreoffice-writer", "modules/swriter/ui"},
                          Case{false, "libreoffice-calc", "modules/scalc/ui"}}) {
        const Error e = errorOf([&] { create(c.writer); });
        EXPECT_EQ(e.number, 429) << c.package;
        EXPECT_NE(e.description.find(std::string("安装完整的 ") + c.package + " "),
                  std::string::npos)
            << e.description;
        EXPECT_NE(e.description.find(c.folder), std::string::npos) << e.description;
    }
    // An empty folder of that name is as good as none; a description file in
    // it is enough to make the object (which does not start the office).
    const fs::path ui = installation / "share/config/soffice.cfg/modules/swriter/ui";
    fs::create_directories(ui);
    EXPECT_EQ(errorOf([&] { create(true); }).number, 429);
    writeFile(ui / "annotation.ui", "<interface/>");
    EXPECT_NO_THROW(create(true));
    EXPECT_EQ(errorOf([&] { create(false); }).number, 429);
}

// ---------------------------------------------------------------- find and replace

TEST_F(WordServer, FindsTextInTheMainTextOnly) {
    const Object stories = openDocument(app(), copyOf("stories"));
    EXPECT_TRUE(contentContains(stories, "Body text"));
    // A table of the main text is main text.
    EXPECT_TRUE(contentContains(stories, "TABLEWORD"));
    for (const char* elsewhere : {"HEADERONLY", "FOOTERONLY", "NOTEONLY", "FRAMEONLY"})
        EXPECT_FALSE(contentContains(stories, elsewhere)) << elsewhere;
    EXPECT_FALSE(contentContains(stories, "no such text"));
    // Word's first-use settings: letter case does not matter.
    EXPECT_TRUE(contentContains(stories, "body TEXT"));
    closeDocuments(app(), false);
}

TEST_F(WordServer, ReplacesEveryOccurrenceInTheMainTextAndKeepsFormatting) {
    const fs::path path = copyOf("twice");
    const Object document = openDocument(app(), path);
    app().put("Visible", Value(false));
    ASSERT_TRUE(contentContains(document, "apple"));
    EXPECT_TRUE(replaceEverywhere(app(), "apple", "pear"));
    EXPECT_FALSE(contentContains(document, "apple"));
    closeDocuments(app(), true);
    EXPECT_EQ(app().get("Documents").toObject().get("Count").toInteger(), 0);

    const auto saved = office_testing::readBack({path}, "fodt");
    const auto body = saved[0].bodyParagraphs();
    ASSERT_EQ(body.size(), 1u);
    EXPECT_EQ(body[0], "Hello pear world, pear again.");
    // The bold occurrence is still bold.
    const std::regex span(R"re(<text:span text:style-name="([^"]+)">pear</text:span>)re");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(saved[0].xml, m, span)) << saved[0].xml;
    EXPECT_NE(saved[0].style(m[1]).find("fo:font-weight=\"bold\""), std::string::npos);
    // The header's occurrence is not main text.
    EXPECT_NE(office_testing::plainText(saved[0].masterStyles()).find("Header with apple"),
              std::string::npos);
    // The original's place holds a complete document and nothing else is left.
    EXPECT_EQ(folderListing(folder_.path()), std::vector<std::string>{"twice.doc"});
}

TEST_F(WordServer, TextOnlyInOtherStoriesIsNeitherFoundNorReplaced) {
    const fs::path path = copyOf("stories");
    openDocument(app(), path);
    for (const char* elsewhere : {"HEADERONLY", "FOOTERONLY", "NOTEONLY", "FRAMEONLY"})
        EXPECT_FALSE(replaceEverywhere(app(), elsewhere, "CHANGED")) << elsewhere;
    EXPECT_TRUE(replaceEverywhere(app(), "TABLEWORD", "TABLECHANGED"));
    closeDocuments(app(), true);

    const auto saved = office_testing::readBack({path}, "fodt");
    const std::string all = office_testing::plainText(saved[0].xml);
    for (const char* elsewhere :
         {"HEADERONLY", "FOOTERONLY", "NOTEONLY", "FRAMEONLY", "TABLECHANGED"})
        EXPECT_NE(all.find(elsewhere), std::string::npos) << elsewhere;
    EXPECT_EQ(all.find("CHANGED", all.find("TABLECHANGED") + 12), std::string::npos);
}

TEST_F(WordServer, ReplacesChineseTextAndTextThatContainsTheReplacement) {
    const fs::path chinese = copyOf("chinese");
    Object document = openDocument(app(), chinese);
    ASSERT_TRUE(contentContains(document, "测试"));
    EXPECT_TRUE(replaceEverywhere(app(), "测试", "检验测试"));
    closeDocuments(app(), true);

    const auto saved = office_testing::readBack({chinese}, "fodt");
    EXPECT_EQ(saved[0].bodyParagraphs(),
              std::vector<std::string>{"这是检验测试文本，再检验测试一次。"});
}

TEST_F(WordServer, DocumentClosedWithoutSavingKeepsItsBytesAndTime) {
    const fs::path path = copyOf("absent");
    office_testing::ageFile(path);
    const std::string before = readFile(path);
    const long long time = office_testing::modificationTime(path);

    const Object document = openDocument(app(), path);
    EXPECT_FALSE(contentContains(document, "apple"));
    closeDocuments(app(), false);

    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(office_testing::modificationTime(path), time);
    EXPECT_EQ(folderListing(folder_.path()), std::vector<std::string>{"absent.doc"});
}

TEST_F(WordServer, SavingKeepsTheFilePermissions) {
    const fs::path path = copyOf("twice");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    openDocument(app(), path);
    replaceEverywhere(app(), "apple", "pear");
    closeDocuments(app(), true);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // The saved text, as Word 97 stores it: UTF-16.
    EXPECT_NE(readFile(path).find(std::string("p\0e\0a\0r\0", 8)), std::string::npos);
}

// ---------------------------------------------------------------- header and footer

struct Written {
    std::string text; // the story text read back through the server
    std::string xml;  // the document as flat XML after a reload
};

TEST_F(WordServer, HeaderTakesFontSizeBoldAndEveryAlignment) {
    struct Case {
        int alignment;
        const char* odfAlign;
    };
    const std::vector<Case> cases = {{1, "center"}, {2, "end"}, {3, "justify"}};
    std::vector<fs::path> paths;
    for (const auto& c : cases) {
        const fs::path path = copyOf("plain", "align" + std::to_string(c.alignment));
        paths.push_back(path);
        const Object document = openDocument(app(), path);
        app().put("Visible", Value(false));
        app().put("DisplayAlerts", Value(true));
        document.call("Activate");
        seekView(app(), 9);
        const Object selection = app().get("Selection").toObject();
        const Object font = selection.get("Font").toObject();
        font.put("Name", Value("宋体"));
        font.put("Size", Value("14"));
        font.put("Bold", Value(true));
        selection.call("TypeText", {Value("页眉文字")});
        selection.get("ParagraphFormat").toObject().put("Alignment", Value(c.alignment));
        EXPECT_EQ(selection.get("ParagraphFormat").toObject().get("Alignment").toInteger(),
                  c.alignment);
        seekView(app(), 0);
        EXPECT_EQ(storyText(app(), true), "页眉文字\r");
        app()
            .get("ActiveDocument")
            .toObject()
            .get("ActiveWindow")
            .toObject()
            .get("ActivePane")
            .toObject()
            .get("View")
            .toObject()
            .put("SeekView", Value(0));
        document.call("Save");
        document.call("Close");
    }

    const auto saved = office_testing::readBack(paths, "fodt");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].odfAlign);
        const std::string master = saved[i].masterStyles();
        // The typed text has the paragraph to itself, so its character
        // formatting may sit on the paragraph's style or on a span.
        const std::regex typed(
            R"re(<text:p text:style-name="([^"]+)">(?:<text:span text:style-name="([^"]+)">)?页眉文字)re");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(master, m, typed)) << master;
        const std::string paragraphStyle = saved[i].style(m[1]);
        const std::string textStyle = paragraphStyle + (m[2].matched ? saved[i].style(m[2]) : "");
        EXPECT_NE(paragraphStyle.find(std::string("fo:text-align=\"") + cases[i].odfAlign + "\""),
                  std::string::npos)
            << paragraphStyle;
        EXPECT_NE(textStyle.find("style:font-name-asian=\"宋体\""), std::string::npos) << textStyle;
        // The Latin font refers to a font declaration, named "宋体" or "宋体1".
        EXPECT_TRUE(std::regex_search(textStyle, std::regex(R"re(style:font-name="宋体[0-9]*")re")))
            << textStyle;
        EXPECT_NE(textStyle.find("fo:font-size=\"14pt\""), std::string::npos) << textStyle;
        EXPECT_NE(textStyle.find("style:font-size-asian=\"14pt\""), std::string::npos) << textStyle;
        EXPECT_NE(textStyle.find("fo:font-weight=\"bold\""), std::string::npos) << textStyle;
        EXPECT_NE(textStyle.find("style:font-weight-asian=\"bold\""), std::string::npos)
            << textStyle;
    }
}

TEST_F(WordServer, FooterWithPageNumberFieldSurvivesAReload) {
    const fs::path path = copyOf("plain");
    const Object document = openDocument(app(), path);
    document.call("Activate");
    seekView(app(), 10);
    const Object selection = app().get("Selection").toObject();
    selection.get("Font").toObject().put("Size", Value("10.5"));
    // The "居右" order: the page number first, then spaces and the text.
    selection.call("TypeText", {Value("第")});
    const Object field = selection.get("Fields")
                             .toObject()
                             .call("Add", {selection.get("Range"), Value(33)})
                             .toObject();
    EXPECT_EQ(field.get("Type").toInteger(), 33);
    selection.call("TypeText", {Value("页")});
    selection.get("ParagraphFormat").toObject().put("Alignment", Value(2));
    selection.call("TypeText", {Value(std::string(22, ' ') + "页脚文字")});
    selection.get("ParagraphFormat").toObject().put("Alignment", Value(2));
    // Read while the footer view is still active, as the writer does.
    EXPECT_EQ(storyText(app(), false), "第1页" + std::string(22, ' ') + "页脚文字\r");
    seekView(app(), 0);
    document.call("Save");
    document.call("Close");

    const auto saved = office_testing::readBack({path}, "fodt");
    const std::string master = saved[0].masterStyles();
    const auto footer = master.find("<style:footer");
    ASSERT_NE(footer, std::string::npos) << master;
    const std::string footerXml =
        master.substr(footer, master.find("</style:footer>", footer) - footer);
    EXPECT_NE(footerXml.find("<text:page-number"), std::string::npos) << footerXml;
    std::smatch paragraph;
    ASSERT_TRUE(std::regex_search(footerXml, paragraph,
                                  std::regex(R"re(<text:p[^>]*>([\s\S]*?)</text:p>)re")));
    EXPECT_EQ(office_testing::plainText(paragraph[1]), "第1页" + std::string(22, ' ') + "页脚文字");
    EXPECT_LT(footerXml.find("第"), footerXml.find("<text:page-number"));
    EXPECT_LT(footerXml.find("<text:page-number"), footerXml.find("页<"));
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(footerXml, m, std::regex(R"re(<text:p text:style-name="([^"]+)")re")));
    EXPECT_NE(saved[0].style(m[1]).find("fo:text-align=\"end\""), std::string::npos);
    EXPECT_NE(saved[0].xml.find("fo:font-size=\"10.5pt\""), std::string::npos);
}

TEST_F(WordServer, ExistingHeaderIsKeptAndNewTextGoesInFront) {
    const fs::path path = copyOf("withheader");
    const Object document = openDocument(app(), path);
    EXPECT_EQ(storyText(app(), true), "已有页眉\r");
    EXPECT_EQ(storyText(app(), false), "已有页脚\r");
    seekView(app(), 9);
    app().get("Selection").toObject().call("TypeText", {Value("新")});
    seekView(app(), 0);
    EXPECT_EQ(storyText(app(), true), "新已有页眉\r");
    // Text typed in the main view goes to the start of the main text.
    app().get("Selection").toObject().call("TypeText", {Value("Start. ")});
    document.call("Save");
    document.call("Close");

    const auto saved = office_testing::readBack({path}, "fodt");
    EXPECT_NE(office_testing::plainText(saved[0].masterStyles()).find("新已有页眉"),
              std::string::npos);
    EXPECT_EQ(saved[0].bodyParagraphs(), std::vector<std::string>{"Start. Body."});
}

TEST_F(WordServer, HeaderViewTurnsAnAbsentHeaderOnAndReadsEmptyWhenOff) {
    const fs::path path = copyOf("plain");
    openDocument(app(), path);
    EXPECT_EQ(storyText(app(), true), "");
    EXPECT_EQ(storyText(app(), false), "");
    seekView(app(), 9);
    seekView(app(), 0);
    // Switched on, with its one empty paragraph.
    EXPECT_EQ(storyText(app(), true), "\r");
    closeDocuments(app(), false);
}

TEST_F(WordServer, CurrentPageHeaderOfADifferentFirstPageIsTheFirstPageHeader) {
    const fs::path path = copyOf("firstpage");
    openDocument(app(), path);
    const std::string primary = storyText(app(), true, 1);
    const std::string first = storyText(app(), true, 2);
    if (first == primary)
        GTEST_SKIP() << "the office did not import a separate first-page header";
    EXPECT_EQ(first, "First page header\r");
    seekView(app(), 9);
    app().get("Selection").toObject().call("TypeText", {Value("1: ")});
    seekView(app(), 0);
    EXPECT_EQ(storyText(app(), true, 2), "1: First page header\r");
    EXPECT_EQ(storyText(app(), true, 1), "Other pages\r");
    closeDocuments(app(), false);
}

TEST_F(WordServer, FontSizesAreConvertedAsWordDoes) {
    openDocument(app(), copyOf("plain"));
    seekView(app(), 9);
    const Object font = app().get("Selection").toObject().get("Font").toObject();
    font.put("Size", Value("12.3"));
    EXPECT_EQ(font.get("Size").toDouble(), 12.5); // half points
    font.put("Size", Value(" 9 "));
    EXPECT_EQ(font.get("Size").toDouble(), 9.0);
    const Error notNumber = errorOf([&] { font.put("Size", Value("小四")); });
    EXPECT_EQ(notNumber.number, 13);
    EXPECT_NE(notNumber.description.find("小四"), std::string::npos);
    EXPECT_EQ(errorOf([&] { font.put("Size", Value("0")); }).number, 4608);
    EXPECT_EQ(errorOf([&] { font.put("Size", Value("2000")); }).number, 4608);
    closeDocuments(app(), false);
}

// ---------------------------------------------------------------- failures

TEST_F(WordServer, FailuresNameTheFileAndSayWhatIsWrong) {
    const fs::path missing = folder_ / "missing.doc";
    Error e = errorOf([&] { openDocument(app(), missing); });
    EXPECT_NE(e.description.find(missing.string()), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("找不到"), std::string::npos) << e.description;

    const fs::path text = folder_ / "text.doc";
    writeFile(text, "just some text, not a Word document\n");
    e = errorOf([&] { openDocument(app(), text); });
    EXPECT_NE(e.description.find(text.string()), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("Word 97-2003"), std::string::npos) << e.description;

    const fs::path empty = folder_ / "empty.doc";
    writeFile(empty, "");
    e = errorOf([&] { openDocument(app(), empty); });
    EXPECT_NE(e.description.find("空文件"), std::string::npos) << e.description;

    // A compound file of another kind: a Word document with one byte changed
    // in its header is damaged; the office refuses it.
    const fs::path broken = folder_ / "broken.doc";
    std::string bytes = readFile(documents().at("plain"));
    bytes.resize(bytes.size() / 3);
    writeFile(broken, bytes);
    e = errorOf([&] { openDocument(app(), broken); });
    EXPECT_NE(e.description.find(broken.string()), std::string::npos) << e.description;

    const fs::path folder = folder_ / "no such folder" / "a.doc";
    e = errorOf([&] { openDocument(app(), folder); });
    EXPECT_NE(e.description.find("找不到文件夹"), std::string::npos) << e.description;
    EXPECT_EQ(app().get("Documents").toObject().get("Count").toInteger(), 0);
}

TEST_F(WordServer, PasswordProtectedDocumentIsRefused) {
    const fs::path path = folder_ / "secret.doc";
    office_testing::savePasswordProtected(documents().at("plain"), path, "secret");
    const Error e = errorOf([&] { openDocument(app(), path); });
    EXPECT_NE(e.description.find("密码"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(path.string()), std::string::npos) << e.description;
    EXPECT_EQ(app().get("Documents").toObject().get("Count").toInteger(), 0);
}

TEST_F(WordServer, DocumentLockedByAnotherUserIsReadButNeverSavedOver) {
    const fs::path path = copyOf("twice");
    office_testing::ageFile(path);
    const std::string before = readFile(path);
    const long long time = office_testing::modificationTime(path);
    writeFile(folder_ / ".~lock.twice.doc#", "Zhang San,zhangsan,office-pc,07.12.2025 "
                                             "10:00,file:///home/zhangsan/.config/libreoffice/4;");

    const Object document = openDocument(app(), path);
    EXPECT_TRUE(document.get("ReadOnly").toBool());
    EXPECT_TRUE(contentContains(document, "apple"));
    EXPECT_TRUE(replaceEverywhere(app(), "apple", "pear"));
    const Error e = errorOf([&] { closeDocuments(app(), true); });
    EXPECT_NE(e.description.find("Zhang San"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(path.string()), std::string::npos) << e.description;
    // Still open after the failed save, as in Word; closed without saving.
    EXPECT_EQ(app().get("Documents").toObject().get("Count").toInteger(), 1);
    closeDocuments(app(), false);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(office_testing::modificationTime(path), time);
    EXPECT_TRUE(fs::exists(folder_ / ".~lock.twice.doc#"));
}

TEST_F(WordServer, ReadOnlyFileIsNeverSavedOver) {
    const fs::path path = copyOf("twice");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string before = readFile(path);
    const Object document = openDocument(app(), path);
    replaceEverywhere(app(), "apple", "pear");
    const Error e = errorOf([&] { document.call("Save"); });
    EXPECT_NE(e.description.find("只读"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(path.string()), std::string::npos) << e.description;
    document.call("Close", {Value(false)});
    EXPECT_EQ(readFile(path), before);
}

TEST_F(WordServer, MembersThatNeedADocumentSaySoAndUnknownMembersAre438) {
    EXPECT_EQ(errorOf([&] { app().get("ActiveDocument"); }).number, 4248);
    EXPECT_EQ(errorOf([&] { app().get("Selection"); }).number, 4248);
    EXPECT_EQ(errorOf([&] { app().get("NoSuchMember"); }).number, 438);
    // Member names ignore letter case, as late binding does.
    EXPECT_EQ(app().get("documents").toObject().get("COUNT").toInteger(), 0);
    const Object document = openDocument(app(), copyOf("plain"));
    const Error sections = errorOf([&] { document.get("Sections", {Value(2)}); });
    EXPECT_EQ(sections.number, 5941);
    EXPECT_EQ(errorOf([&] { seekView(app(), 7); }).number, 5);
    document.call("Close");
    EXPECT_EQ(errorOf([&] { document.get("Content"); }).number, 5825);
}

// ---------------------------------------------------------------- the office process

TEST_F(WordServer, CrashedOfficeIsAnErrorAndTheNextOpenStartsANewOne) {
    Object word = libreoffice::createWordApplication();
    const Object document = openDocument(word, copyOf("twice"));
    const int group = libreoffice::officeProcessGroup(word);
    ASSERT_GT(group, 0);
    ::kill(-group, SIGKILL);

    const Error e = errorOf([&] { contentContains(document, "apple"); });
    EXPECT_EQ(e.number, 462);
    EXPECT_NE(e.description.find("意外退出"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("twice.doc"), std::string::npos) << e.description;
    // The dead office's lock file does not stay behind in the user's folder.
    EXPECT_FALSE(fs::exists(folder_ / ".~lock.twice.doc#"));

    // The batch goes on: the next document opens in a new office.
    const Object next = openDocument(word, copyOf("absent"));
    EXPECT_FALSE(contentContains(next, "apple"));
    EXPECT_NE(libreoffice::officeProcessGroup(word), group);
    word.call("Quit");
}

TEST_F(WordServer, HungOfficeTimesOutInsteadOfHanging) {
    libreoffice::ServerOptions options;
    options.callTimeout = std::chrono::seconds(3);
    Object word = libreoffice::createWordApplication(options);
    const Object document = openDocument(word, copyOf("twice"));
    const int group = libreoffice::officeProcessGroup(word);
    ASSERT_GT(group, 0);
    ::kill(-group, SIGSTOP);

    const auto start = std::chrono::steady_clock::now();
    const Error e = errorOf([&] { contentContains(document, "apple"); });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(e.number, 462);
    EXPECT_NE(e.description.find("3 秒"), std::string::npos) << e.description;
    EXPECT_LT(waited, std::chrono::seconds(30));
    EXPECT_FALSE(processGroupAlive(group));

    EXPECT_TRUE(contentContains(openDocument(word, copyOf("twice", "again")), "apple"));

    // Released while hung, with a document open: ended, not waited for.
    const int second = libreoffice::officeProcessGroup(word);
    ::kill(-second, SIGSTOP);
    const auto released = std::chrono::steady_clock::now();
    word = Object();
    EXPECT_LT(std::chrono::steady_clock::now() - released, std::chrono::seconds(30));
    EXPECT_FALSE(processGroupAlive(second));
}

TEST_F(WordServer, QuitAndReleaseEndTheOffice) {
    int group = 0;
    {
        Object word = libreoffice::createWordApplication();
        openDocument(word, copyOf("plain"));
        group = libreoffice::officeProcessGroup(word);
        ASSERT_TRUE(processGroupAlive(group));
        // Released without Quit, with a document open.
    }
    EXPECT_FALSE(processGroupAlive(group));
    // The document's lock file went with it.
    EXPECT_EQ(folderListing(folder_.path()), std::vector<std::string>{"plain.doc"});

    Object word = libreoffice::createWordApplication();
    openDocument(word, copyOf("absent"));
    group = libreoffice::officeProcessGroup(word);
    word.call("Quit");
    EXPECT_FALSE(processGroupAlive(group));
    EXPECT_EQ(errorOf([&] { word.get("Documents"); }).number, 462);
    // Detection members still answer.
    EXPECT_FALSE(word.value().toString().empty());
}

TEST_F(WordServer, OfficeLeftRunningWithTheSameProfileIsEndedFirst) {
    // A process that holds the first profile of a fresh profile folder, as an
    // office does when the program that started it died without ending it.
    TempFolder profiles;
    const std::string marker = "-env:UserInstallation=file://" + (profiles / "profile-0").string();
    std::vector<std::string> arguments = {"/bin/sh", "-c", "while :; do sleep 1; done", "sh",
                                          marker};
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t orphan = 0;
    ASSERT_EQ(::posix_spawn(&orphan, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    // Running as itself, with its arguments in place.
    const auto started = std::chrono::steady_clock::now();
    while (readFile("/proc/" + std::to_string(orphan) + "/cmdline").find(marker) ==
               std::string::npos &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    libreoffice::ServerOptions options;
    options.profileRoot = profiles.path();
    Object word = libreoffice::createWordApplication(options);
    EXPECT_TRUE(contentContains(openDocument(word, copyOf("twice")), "apple"));
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 100 && ended == 0; ++i) {
        ended = ::waitpid(orphan, &status, WNOHANG);
        if (ended == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended == 0) {
        ::kill(orphan, SIGKILL);
        ::waitpid(orphan, &status, 0);
        ADD_FAILURE() << "the process holding the profile was not ended";
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    word.call("Quit");
}

TEST_F(WordServer, OfficeThatCannotStartIsReportedOnceAndQuickly) {
    // A program folder whose office exits at once.
    TempFolder installation;
    const fs::path fake = fakeProgramFolder(installation.path());
    fs::create_symlink(libreoffice::defaultProgramFolder().parent_path() / "share",
                       installation / "share");
    writeFile(fake / "soffice.bin", "#!/bin/sh\necho broken >&2\nexit 3\n");
    fs::permissions(fake / "soffice.bin", fs::perms::owner_all);

    libreoffice::ServerOptions options;
    options.programFolder = fake;
    options.profileRoot = fake / "profiles";
    Object word = libreoffice::createWordApplication(options);
    const fs::path path = copyOf("plain");
    Error e = errorOf([&] { openDocument(word, path); });
    EXPECT_EQ(e.number, 429);
    EXPECT_NE(e.description.find((fake / "soffice.bin").string()), std::string::npos)
        << e.description;
    EXPECT_NE(e.description.find("退出码 3"), std::string::npos) << e.description;
    // Not tried again for every document of a batch.
    const auto start = std::chrono::steady_clock::now();
    e = errorOf([&] { openDocument(word, path); });
    EXPECT_EQ(e.number, 429);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // An office that never answers is given up after the start time-out.
    writeFile(fake / "soffice.bin", "#!/bin/sh\nexec sleep 600\n");
    options.startTimeout = std::chrono::seconds(2);
    Object hanging = libreoffice::createWordApplication(options);
    e = errorOf([&] { openDocument(hanging, path); });
    EXPECT_EQ(e.number, 429);
    EXPECT_NE(e.description.find("2 秒"), std::string::npos) << e.description;
}

} // namespace
