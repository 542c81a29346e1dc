// The Excel classes served by LibreOffice, member by member, on real .xls
// files. The tests share one application object, so one office process.

#include "office_fixture.h"
#include "office_test_support.h"
#include "password_documents.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/automation_errors.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sys/stat.h>

using automation::Error;
using automation::Object;
using automation::Value;
using office_testing::Sheet;
using testing_support::errorOf;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

using Cells = std::vector<std::string>;

Object openWorkbook(const Object& app, const fs::path& path) {
    return app.get("Workbooks").toObject().call("Open", {Value(path.string())}).toObject();
}

Object worksheet(const Object& book, int j) {
    return book.get("Worksheets", {Value(j)}).toObject();
}

Value findOn(const Object& sheet, const std::string& text) {
    return sheet.get("Cells").toObject().call("Find", {Value(text)});
}

// `Cells.Replace` with the seven named arguments of the workbook replace.
void replaceOn(const Object& sheet, const std::string& what, const std::string& replacement,
               int lookAt = 2, bool matchCase = false) {
    sheet.get("Cells").toObject().call("Replace", {},
                                       {{"What", Value(what)},
                                        {"Replacement", Value(replacement)},
                                        {"LookAt", Value(lookAt)},
                                        {"SearchOrder", Value(1)},
                                        {"MatchCase", Value(matchCase)},
                                        {"SearchFormat", Value(false)},
                                        {"ReplaceFormat", Value(false)}});
}

struct ExcelModel {
    static Object create() { return libreoffice::createExcelApplication(); }
    static void closeAll(const Object& app) { app.get("Workbooks").toObject().call("Close"); }
    static const char* extension() { return "xls"; }
    static std::map<std::string, fs::path> makeTemplates(const fs::path& folder) {
        std::map<std::string, std::string> sources;
        sources["three"] = office_testing::flatSpreadsheet(
            {Sheet{"First", {{"a", "b"}, {"1", "2"}}},
             Sheet{"Second", {{"apple pie", "x"}, {"Big APPLE tart and apple", "7"}}},
             Sheet{"Third", {{"apple on sheet three"}}}});
        sources["none"] = office_testing::flatSpreadsheet(
            {Sheet{"Sheet1", {{"nothing"}}}, Sheet{"Sheet2", {{"here"}}}});
        sources["mixed"] = office_testing::flatSpreadsheet(
            {Sheet{"Only", {{"Apple and apple"}, {"pineapple"}, {"apple"}, {"APPLE"}}}});
        sources["chinese"] = office_testing::flatSpreadsheet(
            {Sheet{"工作表一", {{"测试数据"}, {"没有"}}}, Sheet{"工作表二", {{"其他"}}}});
        sources["guarded"] = office_testing::flatSpreadsheet(
            {Sheet{"Open", {{"apple"}}}, Sheet{"Locked", {{"apple"}, {"x"}}, true}});
        auto books = office_testing::makeDocuments(sources, "xls", folder);
        // A Word document, to be named .xls.
        books["letter"] = office_testing::makeDocuments(
            {{"letter", office_testing::flatText({"A letter.", "", "", ""})}}, "doc",
            folder / "word")["letter"];
        return books;
    }
};

using ExcelServer = office_testing::OfficeFixture<ExcelModel>;

TEST_F(ExcelServer, WorksheetsAreCountedNamedAndSearchedOneByOne) {
    const Object book = openWorkbook(app(), copyOf("three"));
    app().put("Visible", Value(false));
    ASSERT_EQ(book.get("Worksheets").toObject().get("Count").toInteger(), 3);
    const std::vector<std::string> names = {"First", "Second", "Third"};
    const std::vector<bool> found = {false, true, true};
    for (int j = 1; j <= 3; ++j) {
        book.get("Sheets", {Value(j)}).toObject().call("Activate");
        EXPECT_EQ(app().get("ActiveSheet").toObject().get("Name").toString(), names[j - 1]);
        const Object sheet = worksheet(book, j);
        EXPECT_EQ(sheet.get("Name").toString(), names[j - 1]);
        const Value hit = findOn(sheet, "apple");
        EXPECT_EQ(!hit.isNothing(), found[j - 1]) << names[j - 1];
    }
    // Part of a cell, letter case ignored: the first use's settings.
    const Value hit = findOn(worksheet(book, 2), "APPLE P");
    ASSERT_FALSE(hit.isNothing());
    EXPECT_EQ(hit.toObject().get("Address").toString(), "$A$1");
    EXPECT_EQ(hit.toObject().get("Value").toString(), "apple pie");
    EXPECT_TRUE(findOn(worksheet(book, 1), "zzz").isNothing());
    EXPECT_EQ(errorOf([&] { worksheet(book, 4); }).number, 9);
    book.call("Close", {Value(false)});
}

TEST_F(ExcelServer, ReplaceActsOnItsWorksheetOnlyAndTheWorkbookIsSavedAsExcel97) {
    const fs::path path = copyOf("three");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const Object book = openWorkbook(app(), path);
    replaceOn(worksheet(book, 2), "apple", "pear");
    book.call("Close", {Value(true)});
    EXPECT_EQ(app().get("Workbooks").toObject().get("Count").toInteger(), 0);

    EXPECT_EQ(readFile(path).substr(0, 8), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()), 1);
    const auto sheets = office_testing::readBack({path}, "fods")[0].sheets();
    EXPECT_EQ(sheets.at("First"), (Cells{"a", "b", "1", "2"}));
    // Every occurrence in a cell, whatever its letter case; the rest stays.
    EXPECT_EQ(sheets.at("Second"), (Cells{"pear pie", "x", "Big pear tart and pear", "7"}));
    EXPECT_EQ(sheets.at("Third"), (Cells{"apple on sheet three"}));
}

TEST_F(ExcelServer, WholeCellAndLetterCaseAreHonouredWhenAsked) {
    const fs::path path = copyOf("mixed");
    const Object book = openWorkbook(app(), path);
    const Object sheet = worksheet(book, 1);
    replaceOn(sheet, "apple", "WHOLE", 1, true);
    replaceOn(sheet, "Apple", "Part", 2, true);
    book.call("Close", {Value(true)});
    EXPECT_EQ(office_testing::readBack({path}, "fods")[0].sheets().at("Only"),
              (Cells{"Part and apple", "pineapple", "WHOLE", "APPLE"}));
}

TEST_F(ExcelServer, WorkbookNoCallChangedIsNotStoredAgain) {
    const fs::path path = copyOf("none");
    office_testing::ageFile(path);
    const std::string bytes = readFile(path);
    const long long before = office_testing::modificationTime(path);
    Object book = openWorkbook(app(), path);
    for (int j = 1; j <= 2; ++j) {
        EXPECT_TRUE(findOn(worksheet(book, j), "apple").isNothing());
        // A replace that replaced nothing changes nothing.
        replaceOn(worksheet(book, j), "apple", "pear");
    }
    EXPECT_TRUE(book.get("Saved").toBool());
    book.call("Save");
    book.call("Close", {Value(true)});
    EXPECT_EQ(readFile(path), bytes);
    EXPECT_EQ(office_testing::modificationTime(path), before);

    // A value set is a change: stored on closing.
    book = openWorkbook(app(), path);
    worksheet(book, 2).get("Cells", {Value(1), Value(2)}).toObject().put("Value", Value("new"));
    EXPECT_FALSE(book.get("Saved").toBool());
    book.call("Close", {Value(true)});
    EXPECT_NE(office_testing::modificationTime(path), before);
    EXPECT_EQ(office_testing::readBack({path}, "fods")[0].sheets().at("Sheet2"),
              (Cells{"here", "new"}));
}

TEST_F(ExcelServer, MatchCaseFalseAfterTrueIgnoresLetterCaseAgain) {
    const fs::path path = copyOf("mixed");
    const Object book = openWorkbook(app(), path);
    const Object sheet = worksheet(book, 1);
    replaceOn(sheet, "APPLE", "UPPER", 1, true);
    // The same application, the earlier setting switched off again.
    replaceOn(sheet, "Apple", "lower", 1, false);
    // Without the argument the last setting holds: letter case ignored.
    const Value hit = findOn(sheet, "PINEAPPLE");
    ASSERT_FALSE(hit.isNothing());
    EXPECT_EQ(hit.toObject().get("Address").toString(), "$A$2");
    book.call("Close", {Value(true)});
    EXPECT_EQ(office_testing::readBack({path}, "fods")[0].sheets().at("Only"),
              (Cells{"Apple and apple", "pineapple", "lower", "UPPER"}));
}

TEST_F(ExcelServer, ReplaceOnAProtectedSheetIsRefusedAndChangesNothing) {
    const fs::path path = copyOf("guarded");
    office_testing::ageFile(path);
    const std::string bytes = readFile(path);
    const Object book = openWorkbook(app(), path);
    // Found, as Excel finds text in locked cells.
    EXPECT_FALSE(findOn(worksheet(book, 2), "apple").isNothing());
    const Error e = errorOf([&] { replaceOn(worksheet(book, 2), "apple", "pear"); });
    EXPECT_EQ(e.number, 1004);
    EXPECT_NE(e.description.find("工作表“Locked”受保护"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(path.string()), std::string::npos) << e.description;
    // Text that is not there is no reason to refuse.
    replaceOn(worksheet(book, 2), "absent", "pear");
    // The open sheet of the same workbook is replaced as usual.
    replaceOn(worksheet(book, 1), "apple", "pear");
    book.call("Close", {Value(false)});
    EXPECT_EQ(readFile(path), bytes);
}

TEST_F(ExcelServer, SavingReplacesTheFileAndKeepsLinks) {
    // A hard link keeps the old content: the new one is a new file moved
    // over the path, not the old file written in place.
    const fs::path path = copyOf("three");
    const fs::path hard = folder_ / "hard-link";
    fs::create_hard_link(path, hard);
    const std::string before = readFile(path);
    struct stat old {};
    ASSERT_EQ(::stat(path.c_str(), &old), 0);
    Object book = openWorkbook(app(), path);
    replaceOn(worksheet(book, 2), "apple", "pear");
    book.call("Close", {Value(true)});
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_NE(now.st_ino, old.st_ino);
    EXPECT_EQ(readFile(hard), before);
    EXPECT_NE(readFile(path), before);
    EXPECT_EQ(office_testing::readBack({path}, "fods")[0].sheets().at("Second"),
              (Cells{"pear pie", "x", "Big pear tart and pear", "7"}));

    // Through a symbolic link: the link stays and names the saved file.
    const fs::path target = copyOf("mixed");
    const fs::path link = folder_ / "link.xls";
    fs::create_symlink("mixed.xls", link);
    book = openWorkbook(app(), link);
    replaceOn(worksheet(book, 1), "pineapple", "kiwi", 1);
    book.call("Close", {Value(true)});
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("mixed.xls"));
    EXPECT_EQ(office_testing::readBack({target}, "fods")[0].sheets().at("Only"),
              (Cells{"Apple and apple", "kiwi", "apple", "APPLE"}));
    // Nothing else is left in the folder: no temporary or lock file.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"hard-link", "link.xls", "mixed.xls", "three.xls"}));
}

TEST_F(ExcelServer, WorkbookClosedWithoutSavingKeepsItsBytesAndTime) {
    const fs::path path = copyOf("three");
    office_testing::ageFile(path);
    const std::string bytes = readFile(path);
    const long long time = office_testing::modificationTime(path);
    const Object book = openWorkbook(app(), path);
    replaceOn(worksheet(book, 2), "apple", "pear");
    book.call("Close", {Value(false)});
    EXPECT_EQ(readFile(path), bytes);
    EXPECT_EQ(office_testing::modificationTime(path), time);
}

TEST_F(ExcelServer, ChineseSheetNamesAndText) {
    const fs::path path = copyOf("chinese");
    const Object book = openWorkbook(app(), path);
    EXPECT_EQ(worksheet(book, 1).get("Name").toString(), "工作表一");
    EXPECT_EQ(book.get("Worksheets", {Value("工作表二")}).toObject().get("Index").toInteger(), 2);
    EXPECT_FALSE(findOn(worksheet(book, 1), "测试").isNothing());
    EXPECT_TRUE(findOn(worksheet(book, 2), "测试").isNothing());
    replaceOn(worksheet(book, 1), "测试", "检验");
    book.call("Close", {Value(true)});
    EXPECT_EQ(office_testing::readBack({path}, "fods")[0].sheets().at("工作表一"),
              (Cells{"检验数据", "没有"}));
}

TEST_F(ExcelServer, FailuresNameTheFileAndSayWhatIsWrong) {
    Error e = errorOf([&] { openWorkbook(app(), folder_ / "missing.xls"); });
    EXPECT_EQ(e.number, 1004);
    EXPECT_NE(e.description.find((folder_ / "missing.xls").string()), std::string::npos)
        << e.description;

    writeFile(folder_ / "list.xls", "a,b,c\n1,2,3\n");
    e = errorOf([&] { openWorkbook(app(), folder_ / "list.xls"); });
    EXPECT_NE(e.description.find("Excel 97-2003"), std::string::npos) << e.description;

    // A Word document named .xls, and a workbook named .doc.
    fs::copy_file(documents().at("letter"), folder_ / "letter.xls");
    e = errorOf([&] { openWorkbook(app(), folder_ / "letter.xls"); });
    EXPECT_NE(e.description.find("文字处理文档"), std::string::npos) << e.description;
    fs::copy_file(documents().at("none"), folder_ / "table.doc");
    Object word = libreoffice::createWordApplication();
    e = errorOf([&] {
        word.get("Documents").toObject().call("Open", {Value((folder_ / "table.doc").string())});
    });
    EXPECT_NE(e.description.find("电子表格"), std::string::npos) << e.description;
    word.call("Quit");

    const fs::path secret = folder_ / "secret.xls";
    office_testing::savePasswordProtected(documents().at("none"), secret, "secret");
    e = errorOf([&] { openWorkbook(app(), secret); });
    EXPECT_NE(e.description.find("密码"), std::string::npos) << e.description;
    EXPECT_EQ(app().get("Workbooks").toObject().get("Count").toInteger(), 0);

    const Object book = openWorkbook(app(), copyOf("mixed"));
    const Object cells = worksheet(book, 1).get("Cells").toObject();
    e = errorOf([&] {
        cells.call(
            "Replace", {},
            {{"What", Value("a")}, {"Replacement", Value("b")}, {"SearchFormat", Value(true)}});
    });
    EXPECT_EQ(e.number, 1004);
    EXPECT_EQ(errorOf([&] {
                  cells.call("Replace", {}, {{"What", Value("a")}, {"Nonsense", Value(1)}});
              }).number,
              448);
}

TEST_F(ExcelServer, LockedAndReadOnlyWorkbooksAreNeverSavedOver) {
    const fs::path locked = copyOf("three");
    office_testing::ageFile(locked);
    const std::string bytes = readFile(locked);
    writeFile(folder_ / ".~lock.three.xls#",
              "Wang Wu,wangwu,desk-3,07.12.2025 10:00,file:///home/wangwu/p;");
    Object book = openWorkbook(app(), locked);
    replaceOn(worksheet(book, 2), "apple", "pear");
    Error e = errorOf([&] { book.call("Close", {Value(true)}); });
    EXPECT_NE(e.description.find("Wang Wu"), std::string::npos) << e.description;
    book.call("Close", {Value(false)});
    EXPECT_EQ(readFile(locked), bytes);

    const fs::path readOnly = copyOf("none");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    const std::string before = readFile(readOnly);
    book = openWorkbook(app(), readOnly);
    worksheet(book, 1).get("Cells", {Value(1), Value(1)}).toObject().put("Value", Value(1));
    e = errorOf([&] { book.call("Close", {Value(true)}); });
    EXPECT_NE(e.description.find("只读"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find(readOnly.string()), std::string::npos) << e.description;
    book.call("Close", {Value(false)});
    EXPECT_EQ(readFile(readOnly), before);
}

} // namespace
