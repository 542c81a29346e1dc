#pragma once

// What both programs find out about a newer release: the installed version,
// the version page's address and the version the page offers. The windows
// show it in their own way (the main window's update menu and title notice,
// the updater's splash).

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace update_check {

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
// than 200 or a page without a version leave the parts unknown, which counts
// as no newer version; never raises.
[[nodiscard]] VersionInformation
readVersionInformation(const std::filesystem::path& appFolder,
                       const PageFetcher& fetch = fetchVersionPage);

} // namespace update_check
