// Permission failures of the LibreOffice server: folders and files that an
// ordinary user may not read or write. Run as an ordinary user (ctest does
// that through setpriv when it runs as root).

#include "office_test_support.h"
#include "suites/libreoffice/libreoffice_server.h"
#include "support/automation_errors.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <unistd.h>

using automation::Error;
using automation::Object;
using automation::Value;
using testing_support::errorOf;
using testing_support::readFile;
using testing_support::TempFolder;
namespace fs = std::filesystem;

namespace {

// Replaces "apple" in the document's main text; true when it was there.
bool replaceApple(const Object& document) {
    return document.get("Content")
        .toObject()
        .get("Find")
        .toObject()
        .call("Execute", {},
              {{"FindText", Value("apple")}, {"ReplaceWith", Value("pear")}, {"Replace", Value(2)}})
        .toBool();
}

class Permissions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        reason_ = office_testing::missingOfficeReason();
        if (reason_.empty() && ::geteuid() == 0)
            reason_ = "the permission checks must run as an ordinary user (root passes them all)";
        if (!reason_.empty())
            return;
        templates_ = new TempFolder;
        documents_ = office_testing::makeDocuments(
            {{"letter", office_testing::flatText({"An apple a day.", "", "", ""})}}, "doc",
            templates_->path());
        books_ = office_testing::makeDocuments(
            {{"table", office_testing::flatSpreadsheet({office_testing::Sheet{"S", {{"apple"}}}})}},
            "xls", templates_->path() / "books");
    }
    static void TearDownTestSuite() {
        delete templates_;
        templates_ = nullptr;
    }
    void SetUp() override {
        if (!reason_.empty())
            GTEST_SKIP() << reason_;
    }

    static std::string reason_;
    static TempFolder* templates_;
    static std::map<std::string, fs::path> documents_;
    static std::map<std::string, fs::path> books_;
    TempFolder folder_;
};

std::string Permissions::reason_;
TempFolder* Permissions::templates_ = nullptr;
std::map<std::string, fs::path> Permissions::documents_;
std::map<std::string, fs::path> Permissions::books_;

TEST_F(Permissions, UnreadableFolderAndFileAreNamed) {
    const fs::path closed = folder_ / "closed";
    fs::create_directory(closed);
    fs::copy_file(documents_.at("letter"), closed / "letter.doc");
    fs::permissions(closed, fs::perms::none);
    const fs::path unreadable = folder_ / "unreadable.doc";
    fs::copy_file(documents_.at("letter"), unreadable);
    fs::permissions(unreadable, fs::perms::none);

    Object word = libreoffice::createWordApplication();
    const Object documents = word.get("Documents").toObject();
    Error e = errorOf([&] { documents.call("Open", {Value((closed / "letter.doc").string())}); });
    EXPECT_NE(e.description.find(closed.string()), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("权限"), std::string::npos) << e.description;
    e = errorOf([&] { documents.call("Open", {Value(unreadable.string())}); });
    EXPECT_NE(e.description.find(unreadable.string()), std::string::npos) << e.description;
    EXPECT_NE(e.description.find("权限"), std::string::npos) << e.description;
    // Refused before the office was needed.
    EXPECT_EQ(libreoffice::officeProcessGroup(word), 0);
    fs::permissions(closed, fs::perms::owner_all);
}

TEST_F(Permissions, DocumentsInAReadOnlyFolderAreSearchedButNeverSaved) {
    const fs::path shelf = folder_ / "shelf";
    fs::create_directory(shelf);
    fs::copy_file(documents_.at("letter"), shelf / "letter.doc");
    fs::copy_file(books_.at("table"), shelf / "table.xls");
    fs::permissions(shelf, fs::perms::owner_read | fs::perms::owner_exec);
    const std::string letter = readFile(shelf / "letter.doc");
    const std::string table = readFile(shelf / "table.xls");

    Object word = libreoffice::createWordApplication();
    const Object document = word.get("Documents")
                                .toObject()
                                .call("Open", {Value((shelf / "letter.doc").string())})
                                .toObject();
    // Changed, so that closing stores it.
    EXPECT_TRUE(replaceApple(document));
    Error e = errorOf([&] { word.get("Documents").toObject().call("Close", {Value(true)}); });
    EXPECT_NE(e.description.find("不可写"), std::string::npos) << e.description;
    EXPECT_NE(e.description.find((shelf / "letter.doc").string()), std::string::npos)
        << e.description;
    word.get("Documents").toObject().call("Close", {Value(false)});
    word.call("Quit");

    Object excel = libreoffice::createExcelApplication();
    const Object book = excel.get("Workbooks")
                            .toObject()
                            .call("Open", {Value((shelf / "table.xls").string())})
                            .toObject();
    book.get("Worksheets", {Value(1)})
        .toObject()
        .get("Cells", {Value(1), Value(1)})
        .toObject()
        .put("Value", Value("pear"));
    e = errorOf([&] { book.call("Close", {Value(true)}); });
    EXPECT_NE(e.description.find("不可写"), std::string::npos) << e.description;
    book.call("Close", {Value(false)});
    excel.call("Quit");

    EXPECT_EQ(readFile(shelf / "letter.doc"), letter);
    EXPECT_EQ(readFile(shelf / "table.xls"), table);
    fs::permissions(shelf, fs::perms::owner_all);
    EXPECT_EQ(std::distance(fs::directory_iterator(shelf), fs::directory_iterator()), 2);
}

TEST_F(Permissions, ReadOnlyFileInAWritableFolderIsNeverSavedOver) {
    const fs::path path = folder_ / "letter.doc";
    fs::copy_file(documents_.at("letter"), path);
    fs::permissions(path, fs::perms::owner_read);
    const std::string before = readFile(path);
    Object word = libreoffice::createWordApplication();
    const Object document =
        word.get("Documents").toObject().call("Open", {Value(path.string())}).toObject();
    EXPECT_TRUE(replaceApple(document));
    const Error e = errorOf([&] { document.call("Save"); });
    EXPECT_NE(e.description.find("只读"), std::string::npos) << e.description;
    document.call("Close", {Value(false)});
    word.call("Quit");
    EXPECT_EQ(readFile(path), before);
}

} // namespace
