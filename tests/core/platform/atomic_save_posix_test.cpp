// Saving through a temporary file: the original keeps its content until the
// commit, keeps its mode, and a link keeps pointing at the saved file.

#include "core/platform/atomic_save.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <system_error>

using platform::AtomicSave;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

TEST(AtomicSave, ReplacesTheOriginalOnlyOnCommitAndKeepsItsMode) {
    TempFolder folder;
    const fs::path document = folder / "a.doc";
    writeFile(document, "old content");
    fs::permissions(document,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    {
        AtomicSave save(document);
        EXPECT_EQ(save.temporaryPath().parent_path(), folder.path());
        EXPECT_NE(save.temporaryPath().filename().string().find("a.doc"), std::string::npos);
        writeFile(save.temporaryPath(), "half written");
        // Abandoned (the writer failed): the original stays, the temporary goes.
    }
    EXPECT_EQ(readFile(document), "old content");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);

    {
        AtomicSave save(document);
        writeFile(save.temporaryPath(), "new content");
        save.commit();
    }
    EXPECT_EQ(readFile(document), "new content");
    EXPECT_EQ(fs::status(document).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(AtomicSave, CommitWithoutWrittenFileFailsAndKeepsTheOriginal) {
    TempFolder folder;
    const fs::path document = folder / "a.xls";
    writeFile(document, "old");
    AtomicSave save(document);
    EXPECT_THROW(save.commit(), std::system_error);
    EXPECT_EQ(readFile(document), "old");
}

TEST(AtomicSave, SymbolicLinkKeepsPointingAtTheSavedFile) {
    TempFolder folder;
    fs::create_directory(folder / "real");
    writeFile(folder / "real" / "a.doc", "old");
    fs::create_symlink(folder / "real" / "a.doc", folder / "link.doc");
    {
        AtomicSave save(folder / "link.doc");
        EXPECT_EQ(save.target(), fs::canonical(folder / "real" / "a.doc"));
        writeFile(save.temporaryPath(), "new");
        save.commit();
    }
    EXPECT_TRUE(fs::is_symlink(folder / "link.doc"));
    EXPECT_EQ(readFile(folder / "real" / "a.doc"), "new");
}

TEST(AtomicSave, ReplaceFileContentSetsTheTimeAndKeepsTheOriginalOnFailure) {
    TempFolder folder;
    const fs::path document = folder / "a.docx";
    writeFile(document, "old");
    const auto then = fs::file_time_type::clock::now() - std::chrono::hours(48);
    std::string error;
    ASSERT_TRUE(platform::replaceFileContent(document, "new", error, then)) << error;
    EXPECT_EQ(readFile(document), "new");
    EXPECT_EQ(fs::last_write_time(document), then);

    // A folder in the file's place cannot be replaced, not even by root.
    fs::create_directory(folder / "b.docx");
    writeFile(folder / "b.docx" / "inside", "kept");
    EXPECT_FALSE(platform::replaceFileContent(folder / "b.docx", "new", error));
    EXPECT_NE(error.find("b.docx"), std::string::npos);
    EXPECT_EQ(readFile(folder / "b.docx" / "inside"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
}

} // namespace
