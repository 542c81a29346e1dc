#include "core/config/version_files.h"
#include "core/text/encoding.h"
#include "core/update_check/update_check.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::writeFile;
using update_check::CheckForUpdate;
using update_check::titleAfterTick;

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

void expectNoNewerVersion(const update_check::UpdateCheckResult& r) {
    EXPECT_FALSE(r.newer);
    EXPECT_FALSE(r.gjgxCaption);
    EXPECT_EQ(r.gxqkCaption, "没有最新版本");
    EXPECT_FALSE(r.gxqkEnabled);
    EXPECT_FALSE(r.timer1Enabled);
}

std::size_t units(const std::string& s) {
    return text::utf8ToUtf16(s).size();
}

} // namespace

TEST(CheckForUpdate, NewerVersionIsAnnounced) {
    App app;
    std::string asked;
    const auto r = CheckForUpdate(app.path(), serving("<p>版 1.5.9 地 x址结</p>", &asked));
    // The address is the configuration line's text before its zero bytes.
    EXPECT_EQ(asked, "https://www.example.com/post/1_2");
    EXPECT_EQ(r.versionPageUrl, "https://www.example.com/post/1_2");
    EXPECT_EQ(r.currentVersion, "1.5.8");
    EXPECT_EQ(r.offeredVersion, "1.5.9");
    EXPECT_TRUE(r.newer);
    EXPECT_EQ(r.gjgxCaption, "工具更新了");
    EXPECT_EQ(r.gxqkCaption, "最新版本（ 1.5.9）点击更新");
    EXPECT_TRUE(r.gxqkEnabled);
    EXPECT_TRUE(r.timer1Enabled);
}

TEST(CheckForUpdate, SameOrOlderVersionIsNotNewer) {
    for (const char* offered : {"1.5.8", "1.5.7", "1.5.1"}) {
        App app;
        const auto r = CheckForUpdate(app.path(), serving(std::string("版 ") + offered + " "));
        EXPECT_EQ(r.offeredVersion, offered);
        expectNoNewerVersion(r);
    }
}

TEST(CheckForUpdate, NoAnswerCountsAsNoNewerVersion) {
    App app;
    // An answer other than 200.
    expectNoNewerVersion(CheckForUpdate(app.path(), serving(std::nullopt)));
    // A page without a version marker.
    expectNoNewerVersion(CheckForUpdate(app.path(), serving("<html>维护中</html>")));
    // A failed request, of any kind.
    expectNoNewerVersion(
        CheckForUpdate(app.path(), [](const std::string&) -> std::optional<std::string> {
            throw std::runtime_error("no network");
        }));
    expectNoNewerVersion(CheckForUpdate(
        app.path(), [](const std::string&) -> std::optional<std::string> { throw 42; }));
}

TEST(CheckForUpdate, MissingFilesCountAsNoVersionInformation) {
    {
        App app;
        fs::remove(config::currentVersionFile(app.path()));
        const auto r = CheckForUpdate(app.path(), serving("版 1.5.9"));
        EXPECT_FALSE(r.currentVersion);
        expectNoNewerVersion(r);
    }
    {
        App app;
        fs::remove(config::configurationFile(app.path()));
        bool fetched = false;
        const auto r = CheckForUpdate(app.path(), [&](const std::string&) {
            fetched = true;
            return std::optional<std::string>("版 1.5.9");
        });
        EXPECT_FALSE(fetched);
        EXPECT_EQ(r.versionPageUrl, "");
        expectNoNewerVersion(r);
    }
}

TEST(TitleNotice, GrowsByNineUnitsThenStartsOver) {
    // A start-up title of 28 code units; Chinese characters count one each.
    std::string title = "晴木V1.5.8" + std::string(20, '-');
    ASSERT_EQ(units(title), 28u);
    std::vector<std::size_t> lengths;
    for (int tick = 0; tick < 11; ++tick) {
        title = titleAfterTick(title);
        lengths.push_back(units(title));
    }
    EXPECT_EQ(lengths, (std::vector<std::size_t>{37, 46, 55, 64, 20, 29, 38, 47, 56, 65, 20}));
    EXPECT_EQ(title, "批量替换Word--excel文档内容 ");
    EXPECT_EQ(titleAfterTick(title), "批量替换Word--excel文档内容     有更新了 ");
}

TEST(TitleNotice, SixtyUnitsIsTheLimit) {
    const std::string fiftyNine = std::string(57, 'a') + "晴木";
    ASSERT_EQ(units(fiftyNine), 59u);
    EXPECT_EQ(units(titleAfterTick(fiftyNine)), 68u);
    EXPECT_EQ(titleAfterTick(fiftyNine), fiftyNine + "    有更新了 ");

    const std::string sixty = std::string(58, 'a') + "晴木";
    EXPECT_EQ(titleAfterTick(sixty), "批量替换Word--excel文档内容 ");
    // A character outside the basic plane counts as two units.
    const std::string sixtyWithPair = std::string(58, 'a') + "😀";
    EXPECT_EQ(titleAfterTick(sixtyWithPair), "批量替换Word--excel文档内容 ");
    EXPECT_EQ(units(titleAfterTick("")), 9u);
}
