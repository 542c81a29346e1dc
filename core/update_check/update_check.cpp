#include "core/update_check/update_check.h"

#include "core/config/version_files.h"
#include "core/net/geturl.h"

#include <exception>

namespace update_check {

std::optional<std::string> fetchVersionPage(const std::string& url) {
    return net::textOf(net::Geturl(url, "GET", 0, 1000));
}

bool VersionInformation::isNewer() const {
    return currentVersion && offeredVersion &&
           config::IsNewerVersion(*currentVersion, *offeredVersion);
}

VersionInformation readVersionInformation(const std::filesystem::path& appFolder,
                                          const PageFetcher& fetch) {
    VersionInformation info;
    info.currentVersion = config::ReadLastLine(config::currentVersionFile(appFolder));
    if (auto line = config::ReadLastLine(config::configurationFile(appFolder)))
        info.versionPageUrl = config::textBeforeNul(*line);

    if (!info.versionPageUrl.empty() && fetch) {
        std::optional<std::string> page;
        try {
            page = fetch(info.versionPageUrl);
        } catch (...) {
            // No answer from the version page: nothing is offered.
            page.reset();
        }
        if (page)
            info.offeredVersion = config::CutVersion(*page);
    }
    return info;
}

} // namespace update_check
