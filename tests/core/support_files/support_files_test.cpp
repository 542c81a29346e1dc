#include "core/platform/app_folder.h"
#include "core/support_files/support_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <map>

namespace fs = std::filesystem;
using support_files::writeMissingSupportFiles;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

namespace {

// Distinct bytes for each payload, zero bytes included.
std::map<int, std::string> samplePayloads() {
    std::map<int, std::string> m;
    for (int id = 101; id <= 107; ++id)
        m[id] = "payload " + std::to_string(id) + std::string("\0\x01\xFF", 3) +
                std::string(static_cast<std::size_t>(id), 'x');
    return m;
}

support_files::PayloadSource sourceOf(const std::map<int, std::string>& payloads,
                                      std::vector<int>* asked = nullptr) {
    return [&payloads, asked](int id) -> std::optional<std::string_view> {
        if (asked)
            asked->push_back(id);
        auto it = payloads.find(id);
        if (it == payloads.end())
            return std::nullopt;
        return std::string_view(it->second);
    };
}

const fs::path configFile = fs::path("toconfigure") / fs::path(u8"配置.ini");

struct AppFolder {
    TempFolder folder;
    AppFolder() { fs::create_directory(folder / "toconfigure"); }
    fs::path operator/(const fs::path& p) const { return folder / p; }
};

std::vector<fs::path> allTargets() {
    return {configFile,
            platform::updaterFileName(),
            fs::path("toconfigure") / "MSCOMCTL.OCX",
            fs::path("toconfigure") / "MSINET.OCX",
            fs::path("toconfigure") / "SkinH.dll",
            fs::path("toconfigure") / "tabctl32.ocx",
            fs::path("toconfigure") / "SkinH.she"};
}

} // namespace

TEST(MissingSupportFiles, FirstStartWritesEveryPayloadInOrder) {
    AppFolder app;
    const auto payloads = samplePayloads();
    std::vector<int> asked;
    EXPECT_TRUE(writeMissingSupportFiles(app.folder.path(), sourceOf(payloads, &asked)).empty());
    EXPECT_EQ(asked, (std::vector<int>{101, 102, 103, 104, 105, 106, 107}));
    const auto targets = allTargets();
    for (int id = 101; id <= 107; ++id)
        EXPECT_EQ(readFile(app / targets[static_cast<std::size_t>(id - 101)]), payloads.at(id))
            << id;
    // No temporary files are left behind.
    int entries = 0;
    for (auto it = fs::recursive_directory_iterator(app.folder.path());
         it != fs::recursive_directory_iterator(); ++it)
        ++entries;
    EXPECT_EQ(entries, 8); // toconfigure, the updater and six files in toconfigure
#ifndef _WIN32
    // The updater can be started.
    const auto perms = fs::status(app / platform::updaterFileName()).permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(fs::status(app / configFile).permissions() & fs::perms::owner_exec, fs::perms::none);
#endif
}

TEST(MissingSupportFiles, ExistingFilesAreNeverTouched) {
    AppFolder app;
    const auto payloads = samplePayloads();
    ASSERT_TRUE(writeMissingSupportFiles(app.folder.path(), sourceOf(payloads)).empty());

    // The user edits the configuration file: it stays as edited.
    writeFile(app / configFile, "https://127.0.0.1:8080/mine");
    // An empty file counts as present too: existence is the only test.
    writeFile(app / "toconfigure" / "SkinH.dll", "");
    // Times as the file system keeps them (Windows to 100 ns).
    std::map<fs::path, fs::file_time_type> old;
    for (const auto& t : allTargets()) {
        fs::last_write_time(app / t, fs::file_time_type::clock::now() - std::chrono::hours(48));
        old[t] = fs::last_write_time(app / t);
    }
    // Only SkinH.she is missing.
    fs::remove(app / "toconfigure" / "SkinH.she");

    std::vector<int> asked;
    EXPECT_TRUE(writeMissingSupportFiles(app.folder.path(), sourceOf(payloads, &asked)).empty());
    EXPECT_EQ(asked, std::vector<int>{107});
    EXPECT_EQ(readFile(app / configFile), "https://127.0.0.1:8080/mine");
    EXPECT_EQ(readFile(app / "toconfigure" / "SkinH.dll"), "");
    EXPECT_EQ(readFile(app / "toconfigure" / "SkinH.she"), payloads.at(107));
    for (const auto& t : allTargets()) {
        if (t.filename() != "SkinH.she") {
            EXPECT_EQ(fs::last_write_time(app / t), old[t]) << t;
        }
    }

    // Deleting the configuration file brings the shipped copy back.
    fs::remove(app / configFile);
    EXPECT_TRUE(writeMissingSupportFiles(app.folder.path(), sourceOf(payloads)).empty());
    EXPECT_EQ(readFile(app / configFile), payloads.at(101));
}

TEST(MissingSupportFiles, PayloadsTheProgramDoesNotCarryAreSkippedQuietly) {
    AppFolder app;
    std::map<int, std::string> only{{101, std::string("u\0\0", 3)}};
    EXPECT_TRUE(writeMissingSupportFiles(app.folder.path(), sourceOf(only)).empty());
    EXPECT_TRUE(fs::exists(app / configFile));
    EXPECT_FALSE(fs::exists(app / platform::updaterFileName()));
    EXPECT_FALSE(fs::exists(app / "toconfigure" / "MSINET.OCX"));
}

TEST(MissingSupportFiles, UnwritableTargetsAreReportedAndTheRestIsWritten) {
    AppFolder app;
    // A file where the toconfigure folder should be: nothing can be written
    // under it, whoever runs the test.
    fs::remove(app / "toconfigure");
    writeFile(app / "toconfigure", "not a folder");
    const auto payloads = samplePayloads();
    const std::vector<std::string> messages =
        writeMissingSupportFiles(app.folder.path(), sourceOf(payloads));

    ASSERT_EQ(messages.size(), 6u);
    const auto targets = allTargets();
    std::size_t m = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (i == 1)
            continue; // the updater goes beside the program
        const std::u8string p = (app / targets[i]).u8string();
        EXPECT_NE(messages[m].find(std::string(p.begin(), p.end())), std::string::npos)
            << messages[m];
        ++m;
    }
    // The updater, which goes into the application folder itself, is there.
    EXPECT_EQ(readFile(app / platform::updaterFileName()), payloads.at(102));
}

TEST(ExtractResource, OnlyCustomResources) {
    AppFolder app;
    const auto payloads = samplePayloads();
    EXPECT_FALSE(support_files::ExtractResource(sourceOf(payloads), 105, "custom",
                                                app / "toconfigure" / "a.bin"));
    EXPECT_EQ(readFile(app / "toconfigure" / "a.bin"), payloads.at(105));
    EXPECT_FALSE(support_files::ExtractResource(sourceOf(payloads), 105, "RCDATA",
                                                app / "toconfigure" / "b.bin"));
    EXPECT_FALSE(fs::exists(app / "toconfigure" / "b.bin"));
}
