#include "core/documents/folder_listing.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

using documents::DocumentKind;
using documents::folderAncestors;
using documents::FolderStep;
using documents::listDocuments;
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
    // Several wildcards separated by ";".
    EXPECT_TRUE(matchesPattern("a.DocX", documents::kWordDocumentsPattern));
    EXPECT_TRUE(matchesPattern("a.docm", documents::kWordDocumentsPattern));
    EXPECT_FALSE(matchesPattern("a.dotx", documents::kWordDocumentsPattern));
    EXPECT_TRUE(matchesPattern("a.XLSM", documents::kWorkbooksPattern));
    EXPECT_FALSE(matchesPattern("a.xlsb", documents::kWorkbooksPattern));
    EXPECT_TRUE(matchesPattern("a.xls", ";;*.xls;"));
    EXPECT_FALSE(matchesPattern("a.xls", ";"));
}

TEST(FolderListing, PatternFromFormatNames) {
    const struct {
        DocumentKind kind;
        const char* formats;
        const char* pattern; // null: refused, with a sentence naming `named`
        const char* named;
    } cases[] = {
        {DocumentKind::Word, "docx,doc", "*.doc;*.docx", nullptr},
        {DocumentKind::Word, " .DOCM ,docm", "*.docm", nullptr},
        {DocumentKind::Excel, "xlsm,xls,xlsx", "*.xls;*.xlsx;*.xlsm", nullptr},
        {DocumentKind::Word, "doc,xlsx", nullptr, "xlsx"},
        {DocumentKind::Excel, "docx", nullptr, "docx"},
        {DocumentKind::Word, "pdf", nullptr, "pdf"},
        {DocumentKind::Word, " , ", nullptr, "doc、docx、docm"},
    };
    for (const auto& c : cases) {
        std::string pattern = "unchanged", error;
        const bool ok = documents::patternForFormats(c.kind, c.formats, pattern, error);
        if (c.pattern) {
            EXPECT_TRUE(ok) << c.formats << ": " << error;
            EXPECT_EQ(pattern, c.pattern) << c.formats;
        } else {
            EXPECT_FALSE(ok) << c.formats;
            EXPECT_EQ(pattern, "unchanged");
            EXPECT_NE(error.find(c.named), std::string::npos) << error;
        }
    }
}

TEST(FolderListing, ListsOnlyOrdinaryMatchingFilesSortedByName) {
    TempFolder dir;
    for (const char* name : {"b.doc", "A.DOC", "c.docx", "d.xls", ".hidden.doc", "报告.doc",
                             "~$b.doc", ".~lock.b.doc#", "~$d.xls"})
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
    EXPECT_EQ(listMatchingFiles(dir.path(), "*"),
              (std::vector<std::string>{"A.DOC", "b.doc", "c.docx", "d.xls", "报告.doc"}));
}

TEST(DocumentListing, SubfoldersDepthFirstWithoutLinksHiddenOrExcludedFolders) {
    TempFolder outside, dir;
    writeFile(outside / "o.doc", "x");
    for (const char* name :
         {"b.doc", "A.docx", "~$A.docx", "z/x.DOCM", "合同/2024/a.doc", "合同/2024/.~lock.a.doc#",
          "合同/c.doc", "合同/2024/q/r.doc", ".hidden/h.doc", "app/a.doc", "app/备份/b.doc",
          "store/s.doc", "loop/l.doc", "d1/d2/d.doc", "d1/d2/d3/deep.doc", "d1/d2/d3/d4/e.doc"}) {
        std::filesystem::create_directories((dir / testing_support::utf8Path(name)).parent_path());
        writeFile(dir / testing_support::utf8Path(name), "x");
    }
    // Links to folders outside and inside, and back up to the chosen folder;
    // Windows without the privilege (Wine) has none of them.
    std::error_code noLink;
    std::filesystem::create_directory_symlink(outside.path(), dir / "link-out", noLink);
    std::filesystem::create_directory_symlink(dir / testing_support::utf8Path("合同"),
                                              dir / "link-in", noLink);
    std::filesystem::create_directory_symlink(dir / testing_support::utf8Path("合同"),
                                              dir / "link-in-2", noLink);
    std::filesystem::create_directory_symlink(dir.path(), dir / "loop" / "back", noLink);

    documents::ListingOptions options;
    options.subfolders = true;
    // Named by another spelling of the same folders.
    options.excludedFolders = {dir / "z" / ".." / "app", dir / "store" / ".", dir / "missing"};
    options.maxDepth = 3;
    const auto listing = listDocuments(dir.path(), "*.doc;*.docx;*.docm", options);
    EXPECT_EQ(listing.files,
              (std::vector<std::string>{"A.docx", "b.doc", "d1/d2/d.doc", "d1/d2/d3/deep.doc",
                                        "loop/l.doc", "z/x.DOCM", "合同/c.doc", "合同/2024/a.doc",
                                        "合同/2024/q/r.doc"}));
    ASSERT_EQ(listing.warnings.size(), 1u);
    EXPECT_NE(listing.warnings[0].find("“d1/d2/d3/d4”"), std::string::npos) << listing.warnings[0];

    // A cap on the folders entered ends the listing, and says where.
    options.maxFolders = 3; // d1, d1/d2, d1/d2/d3
    const auto capped = listDocuments(dir.path(), "*.doc", options);
    EXPECT_EQ(capped.files,
              (std::vector<std::string>{"b.doc", "d1/d2/d.doc", "d1/d2/d3/deep.doc"}));
    ASSERT_EQ(capped.warnings.size(), 1u);
    EXPECT_NE(capped.warnings[0].find("从“d1/d2/d3/d4”起"), std::string::npos)
        << capped.warnings[0];

    // Without subfolders only the chosen folder's own files.
    EXPECT_EQ(listDocuments(dir.path(), "*.doc;*.docx", {}).files,
              (std::vector<std::string>{"A.docx", "b.doc"}));
}

#ifndef _WIN32
// As the superuser, who reads every folder, the listing runs as "nobody".
TEST(DocumentListing, UnreadableSubfolderIsSkippedAndNamed) {
    TempFolder dir;
    for (const char* name : {"a/x.doc", "locked/y.doc", "z.doc"}) {
        std::filesystem::create_directories((dir / name).parent_path());
        writeFile(dir / name, "x");
    }
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_read |
                                                 std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    documents::ListingOptions options;
    options.subfolders = true;
    auto list = [&] {
        const auto listing = listDocuments(dir.path(), "*.doc", options);
        std::string out;
        for (const auto& lines : {listing.files, listing.warnings})
            for (const auto& line : lines)
                out += line + "\n";
        return out;
    };
    std::string result;
    if (::geteuid() != 0) {
        result = list();
    } else {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            const std::string out =
                ::setgid(65534) == 0 && ::setuid(65534) == 0 ? list() : "cannot drop privileges";
            (void)!::write(fds[1], out.data(), out.size());
            ::_exit(0);
        }
        ::close(fds[1]);
        char buffer[4096];
        for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
            result.append(buffer, static_cast<size_t>(n));
        ::close(fds[0]);
        ::waitpid(child, nullptr, 0);
    }
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
    EXPECT_EQ(result,
              "z.doc\na/x.doc\n无法读取子文件夹“locked”（没有访问权限），其中的文件没有列出。\n");
}
#endif

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
