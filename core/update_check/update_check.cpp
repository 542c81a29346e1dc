#include "core/update_check/update_check.h"

#include "core/config/version_files.h"
#include "core/net/geturl.h"
#include "core/text/encoding.h"

#include <exception>

namespace update_check {

std::optional<std::string> fetchVersionPage(const std::string& url) {
    return net::textOf(net::Geturl(url, "GET", 0, 1000));
}

std::string gxqkNewerCaption(std::string_view offered) {
    return "最新版本（ " + std::string(offered) + "）点击更新";
}

bool VersionInformation::isNewer() const {
    return currentVersion && offeredVersion &&
           config::IsNewerVersion(*currentVersion, *offeredVersion);
}

VersionInformation ReadVersionInformation(const std::filesystem::path& appFolder,
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

UpdateCheckResult CheckForUpdate(const std::filesystem::path& appFolder, const PageFetcher& fetch) {
    UpdateCheckResult result;
    static_cast<VersionInformation&>(result) = ReadVersionInformation(appFolder, fetch);
    result.newer = result.isNewer();
    if (result.newer) {
        result.gjgxCaption = std::string(gjgxNewerCaption);
        result.gxqkCaption = gxqkNewerCaption(*result.offeredVersion);
        result.gxqkEnabled = true;
        result.timer1Enabled = true;
    } else {
        result.gxqkCaption = std::string(gxqkNoNewerCaption);
        result.gxqkEnabled = false;
        result.timer1Enabled = false;
    }
    return result;
}

std::string titleAfterTick(std::string_view caption) {
    if (text::utf8ToUtf16(caption).size() < titleLimit)
        return std::string(caption) + std::string(titleNotice);
    return std::string(fixedTitle);
}

} // namespace update_check
