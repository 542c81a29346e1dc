#include "core/config/version_files.h"
#include "core/update_check/update_check.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::writeFile;
using update_check::readVersionInformation;

namespace {

// An application folder as the start-up leaves it before the check: the
// version file written, the configuration file in place.
struct App {
    TempFolder folder;
    explicit App(const std::string& current = "1.5.8",
                 const std::string& url = "https://www.example.com/post/1_2") {
        fs::create_directory(folder / "toconfigure");
        writeFile(config::currentVersionFile(folder.path()), current + "\r\n");
        writeFile(config::configurationFile(folder.path()), url + std::string(2, '\0'));
    }
    fs::path path() const { return folder.path(); }
};

// A fetcher that serves `page` and records the address asked for.
update_check::PageFetcher serving(std::optional<std::string> page, std::string* asked = nullptr) {
    return [page, asked](const std::string& url) {
        if (asked)
            *asked = url;
        return page;
    };
}

} // namespace

TEST(VersionInformation, ANewerVersionIsFound) {
    App app;
    std::string asked;
    const auto r = readVersionInformation(app.path(), serving("<p>版 1.5.9 地 x址结</p>", &asked));
    // The address is the configuration line's text before its zero bytes.
    EXPECT_EQ(asked, "https://www.example.com/post/1_2");
    EXPECT_EQ(r.versionPageUrl, "https://www.example.com/post/1_2");
    EXPECT_EQ(r.currentVersion, "1.5.8");
    EXPECT_EQ(r.offeredVersion, "1.5.9");
    EXPECT_TRUE(r.isNewer());
}

TEST(VersionInformation, SameOrOlderVersionIsNotNewer) {
    for (const char* offered : {"1.5.8", "1.5.7", "1.5.1"}) {
        App app;
        const auto r =
            readVersionInformation(app.path(), serving(std::string("版 ") + offered + " "));
        EXPECT_EQ(r.offeredVersion, offered);
        EXPECT_FALSE(r.isNewer());
    }
}

TEST(VersionInformation, NoAnswerCountsAsNoNewerVersion) {
    App app;
    // An answer other than 200.
    EXPECT_FALSE(readVersionInformation(app.path(), serving(std::nullopt)).isNewer());
    // A page without a version marker.
    EXPECT_FALSE(readVersionInformation(app.path(), serving("<html>维护中</html>")).isNewer());
    // A failed request, of any kind.
    EXPECT_FALSE(
        readVersionInformation(app.path(), [](const std::string&) -> std::optional<std::string> {
            throw std::runtime_error("no network");
        }).isNewer());
    EXPECT_FALSE(
        readVersionInformation(app.path(), [](const std::string&) -> std::optional<std::string> {
            throw 42;
        }).isNewer());
}

TEST(VersionInformation, MissingFilesCountAsNoVersionInformation) {
    {
        App app;
        fs::remove(config::currentVersionFile(app.path()));
        const auto r = readVersionInformation(app.path(), serving("版 1.5.9"));
        EXPECT_FALSE(r.currentVersion);
        EXPECT_FALSE(r.isNewer());
    }
    {
        App app;
        fs::remove(config::configurationFile(app.path()));
        bool fetched = false;
        const auto r = readVersionInformation(app.path(), [&](const std::string&) {
            fetched = true;
            return std::optional<std::string>("版 1.5.9");
        });
        EXPECT_FALSE(fetched);
        EXPECT_EQ(r.versionPageUrl, "");
        EXPECT_FALSE(r.isNewer());
    }
}
