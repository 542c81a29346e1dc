#include "core/documents/folder_listing.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

using documents::folderAncestors;
using documents::FolderStep;
using documents::listMatchingFiles;
using documents::listSubfolders;
using documents::matchesPattern;
using documents::PathStyle;
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

#ifdef _WIN32
TEST(FolderListing, FilesWithTheHiddenOrSystemAttributeAreLeftOut) {
    TempFolder dir;
    for (const char* name : {"a.doc", "~$a.doc", "sys.doc", "both.doc", "readonly.doc"})
        writeFile(dir / name, "x");
    const std::pair<const char*, DWORD> marks[] = {
        {"~$a.doc", FILE_ATTRIBUTE_HIDDEN},
        {"sys.doc", FILE_ATTRIBUTE_SYSTEM},
        {"both.doc", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"readonly.doc", FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& [name, attributes] : marks)
        ASSERT_TRUE(SetFileAttributesW((dir / name).c_str(), attributes)) << name;

    EXPECT_EQ(listMatchingFiles(dir.path(), "*.doc"),
              (std::vector<std::string>{"a.doc", "readonly.doc"}));
    for (const auto& [name, attributes] : marks)
        SetFileAttributesW((dir / name).c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

TEST(FolderAncestors, FromTheRootDownForBothPlatformsPaths) {
    using Steps = std::vector<FolderStep>;
    const struct {
        const char* folder;
        PathStyle style;
        Steps expected;
    } cases[] = {
        {"/", PathStyle::Posix, {{"/", "/"}}},
        {"/home/x", PathStyle::Posix, {{"/", "/"}, {"home", "/home"}, {"x", "/home/x"}}},
        {"//srv//./文档/", PathStyle::Posix, {{"/", "/"}, {"srv", "/srv"}, {"文档", "/srv/文档"}}},
        // A backslash is part of a POSIX name.
        {"/a\\b", PathStyle::Posix, {{"/", "/"}, {"a\\b", "/a\\b"}}},
        {"C:/", PathStyle::Windows, {{"C:\\", "C:\\"}}},
        {"C:", PathStyle::Windows, {{"C:\\", "C:\\"}}},
        {"C:/Users/x",
         PathStyle::Windows,
         {{"C:\\", "C:\\"}, {"Users", "C:\\Users"}, {"x", "C:\\Users\\x"}}},
        {"d:\\报告\\2024\\",
         PathStyle::Windows,
         {{"d:\\", "d:\\"}, {"报告", "d:\\报告"}, {"2024", "d:\\报告\\2024"}}},
        {"//server/share/docs",
         PathStyle::Windows,
         {{"\\\\server\\share", "\\\\server\\share"}, {"docs", "\\\\server\\share\\docs"}}},
        {"\\\\server\\share", PathStyle::Windows, {{"\\\\server\\share", "\\\\server\\share"}}},
        // A path without a drive starts at the current drive's root.
        {"/x/y", PathStyle::Windows, {{"\\", "\\"}, {"x", "\\x"}, {"y", "\\x\\y"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(folderAncestors(c.folder, c.style), c.expected) << c.folder;
}
