#pragma once

// The check for a newer release at the end of batchreplace's start, and the
// title notice that announces one.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace update_check {

// Captions the check and the notice use.
inline constexpr std::string_view gjgxNewerCaption = "工具更新了";
inline constexpr std::string_view gxqkNoNewerCaption = "没有最新版本";
inline constexpr std::string_view titleNotice = "    有更新了 ";
inline constexpr std::string_view fixedTitle = "批量替换Word--excel文档内容 ";
// The title length from which the notice starts over with the fixed title.
inline constexpr std::size_t titleLimit = 60;

// Fetches the version page's text; nothing for an answer other than 200.
// May raise an error for a failed request.
using PageFetcher = std::function<std::optional<std::string>(const std::string& url)>;

// The fetch both programs make: Geturl(url, "GET", 0, 1000) as text.
std::optional<std::string> fetchVersionPage(const std::string& url);

// What both programs start from: the installed version, the version page's
// address and the version the page offers.
struct VersionInformation {
    // From dqbb.ini; nothing when the file is missing or unreadable.
    std::optional<std::string> currentVersion;
    // The version page's address from 配置.ini (the last line's text before
    // its first NUL); empty when it has none.
    std::string versionPageUrl;
    // Cut from the page; nothing when the page could not be had or carries
    // no version.
    std::optional<std::string> offeredVersion;

    // True when both versions are known and the offered one is newer.
    bool isNewer() const;
};

// Reads dqbb.ini and 配置.ini, fetches the page when there is an address and
// cuts the offered version. A missing file, a failed fetch, an answer other
// than 200 or a page without a version leave the parts unknown; never raises.
[[nodiscard]] VersionInformation
ReadVersionInformation(const std::filesystem::path& appFolder,
                       const PageFetcher& fetch = fetchVersionPage);

// What the check found, and what the main window shows for it.
struct UpdateCheckResult : VersionInformation {
    bool newer = false;

    // The caption `gjgx` gets; nothing: it keeps its own.
    std::optional<std::string> gjgxCaption;
    std::string gxqkCaption;
    bool gxqkEnabled = false;
    // Whether `Timer1` (the title notice) is switched on.
    bool timer1Enabled = false;
};

// The caption of `gxqk` when `offered` is newer.
std::string gxqkNewerCaption(std::string_view offered);

// `CheckForUpdate`: the version information and what the window shows for
// it. Anything unknown counts as no newer version; the check never raises.
[[nodiscard]] UpdateCheckResult CheckForUpdate(const std::filesystem::path& appFolder,
                                               const PageFetcher& fetch = fetchVersionPage);

// One tick of `Timer1`: the window caption after the tick. A caption shorter
// than 60 UTF-16 code units gets the notice appended; a longer one is
// replaced by the fixed 20-unit title.
std::string titleAfterTick(std::string_view caption);

} // namespace update_check
