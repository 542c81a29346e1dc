// Our zip and XML layers on packages the office made (.docx and .xlsx
// converted from flat OpenDocument files): every entry reads with its CRC, a
// rewrite without change is the same file, and a rewrite that edits one text
// in place keeps every other entry's raw record and opens in the office with
// the change.

#include "core/formats/xml_events.h"
#include "core/formats/zip_package.h"
#include "office_test_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using office_testing::Sheet;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

// The byte range of the first literal piece of character data that holds
// `text`.
struct FindText : formats::XmlEvents {
    explicit FindText(std::string t) : text(std::move(t)) {}
    std::string text;
    std::size_t offset = std::string::npos;
    void characters(const formats::XmlText& t) override {
        const auto at = t.text.find(text);
        if (t.literal && at != std::string_view::npos) {
            offset = t.offset + at;
            stop();
        }
    }
};

class OfficePackages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        reason_ = office_testing::missingOfficeReason();
        if (!reason_.empty())
            return;
        folder_ = new TempFolder;
        made_ = office_testing::makeDocuments(
            {{"text", office_testing::flatText({"<text:p>第一段 旧文字 end</text:p>"
                                                "<text:p>Second <text:span text:style-name=\"B\">"
                                                "bold</text:span></text:p>",
                                                "页眉", "", ""})}},
            "docx", folder_->path());
        const auto books = office_testing::makeDocuments(
            {{"book",
              office_testing::flatSpreadsheet(
                  {Sheet{"第一页", {{"旧文字", "12.5"}, {"other"}}}, Sheet{"Two", {{"旧文字"}}}})}},
            "xlsx", folder_->path());
        made_.insert(books.begin(), books.end());
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (!reason_.empty())
            GTEST_SKIP() << reason_;
    }

    static std::string reason_;
    static TempFolder* folder_;
    static std::map<std::string, fs::path> made_;
};

std::string OfficePackages::reason_;
TempFolder* OfficePackages::folder_ = nullptr;
std::map<std::string, fs::path> OfficePackages::made_;

TEST_F(OfficePackages, EveryEntryReadsAndAnUnchangedRewriteIsTheSameFile) {
    for (const auto& [name, path] : made_) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(path);
        const formats::ZipPackage package(bytes);
        ASSERT_GT(package.entries().size(), 3u);
        for (const auto& e : package.entries())
            EXPECT_NO_THROW((void)package.read(e)) << e.name;
        EXPECT_EQ(package.rewrite({}), bytes);
    }
}

TEST_F(OfficePackages, AnEditedPartOpensWithTheChangeAndNothingElseMoves) {
    struct Edit {
        const char* document;
        const char* part;
    };
    for (const Edit& edit :
         {Edit{"text", "word/document.xml"}, Edit{"book", "xl/sharedStrings.xml"}}) {
        SCOPED_TRACE(edit.document);
        const fs::path original = made_.at(edit.document);
        const std::string bytes = readFile(original);
        const formats::ZipPackage package(bytes);
        const formats::ZipEntry* entry = package.find(edit.part);
        ASSERT_NE(entry, nullptr);
        std::string xml = package.read(*entry);
        FindText find("旧文字");
        formats::parseXml(xml, find);
        ASSERT_NE(find.offset, std::string::npos);
        xml.replace(find.offset, find.text.size(), "新的文字");

        const fs::path changed = folder_->path() / ("changed" + original.extension().string());
        writeFile(changed, package.rewrite({{entry->index, xml}}));
        const std::string after = readFile(changed);
        const formats::ZipPackage rewritten(after);
        ASSERT_EQ(rewritten.entries().size(), package.entries().size());
        for (const auto& e : package.entries()) {
            const auto& now = rewritten.entries()[e.index];
            EXPECT_EQ(now.name, e.name);
            if (e.index != entry->index) {
                EXPECT_EQ(rewritten.rawRecord(now), package.rawRecord(e)) << e.name;
            }
        }
        EXPECT_EQ(rewritten.read(edit.part), xml);

        const auto back = office_testing::readBack(
            {changed}, edit.document == std::string("text") ? "fodt" : "fods");
        if (edit.document == std::string("text")) {
            EXPECT_EQ(back[0].bodyParagraphs(),
                      (std::vector<std::string>{"第一段 新的文字 end", "Second bold"}));
            EXPECT_NE(back[0].masterStyles().find("页眉"), std::string::npos);
        } else {
            const auto sheets = back[0].sheets();
            EXPECT_EQ(sheets.at("第一页"), (std::vector<std::string>{"新的文字", "12.5", "other"}));
            EXPECT_EQ(sheets.at("Two"), std::vector<std::string>{"新的文字"});
        }
    }
}

} // namespace
