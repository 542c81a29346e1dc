#include "core/documents/folder_listing.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using documents::listMatchingFiles;
using documents::listSubfolders;
using documents::matchesPattern;
using testing_support::TempFolder;
using testing_support::writeFile;

TEST(FolderListing, PatternIsCaseInsensitiveAndExact) {
    EXPECT_TRUE(matchesPattern("a.doc", "*.doc"));
    EXPECT_TRUE(matchesPattern("REPORT.DOC", "*.doc"));
    EXPECT_TRUE(matchesPattern("报告.doc", "*.doc"));
    EXPECT_FALSE(matchesPattern("a.docx", "*.doc"));
    EXPECT_FALSE(matchesPattern("a.doc.bak", "*.doc"));
    EXPECT_FALSE(matchesPattern("doc", "*.doc"));
    EXPECT_TRUE(matchesPattern(".doc", "*.doc"));
    EXPECT_TRUE(matchesPattern("a.b.xls", "*.xls"));
    EXPECT_TRUE(matchesPattern("表.xls", "?.xls")); // one character, several bytes
    EXPECT_FALSE(matchesPattern("ab.xls", "?.xls"));
}

TEST(FolderListing, ListsOnlyOrdinaryMatchingFilesSortedByName) {
    TempFolder dir;
    for (const char* name : {"b.doc", "A.DOC", "c.docx", "d.xls", ".hidden.doc", "报告.doc"})
        writeFile(dir / testing_support::utf8Path(name), "x");
    std::filesystem::create_directory(dir / "folder.doc");
    // Windows lets only privileged accounts make symbolic links (Wine none at
    // all); without one the dangling-link case is simply absent.
    std::error_code noLink;
    std::filesystem::create_symlink(dir / "missing", dir / "dangling.doc", noLink);

    EXPECT_EQ(listMatchingFiles(dir.path(), "*.doc"),
              (std::vector<std::string>{"A.DOC", "b.doc", "报告.doc"}));
    EXPECT_EQ(listMatchingFiles(dir.path(), "*.xls"), (std::vector<std::string>{"d.xls"}));
    EXPECT_EQ(listSubfolders(dir.path()), (std::vector<std::string>{"folder.doc"}));
}

TEST(FolderListing, UnreadableFolderRaises) {
    TempFolder dir;
    EXPECT_THROW(listMatchingFiles(dir / "missing", "*.doc"), std::filesystem::filesystem_error);
}
