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

UpdateCheckResult CheckForUpdate(const std::filesystem::path& appFolder, const PageFetcher& fetch) {
    UpdateCheckResult result;
    result.currentVersion = config::ReadLastLine(config::currentVersionFile(appFolder));
    if (auto line = config::ReadLastLine(config::configurationFile(appFolder)))
        result.versionPageUrl = config::textBeforeNul(*line);

    if (result.currentVersion && !result.versionPageUrl.empty() && fetch) {
        std::optional<std::string> page;
        try {
            page = fetch(result.versionPageUrl);
        } catch (...) {
            // No answer from the version page: nothing is offered. The check
            // stays silent and the menu stays usable.
            page.reset();
        }
        if (page)
            result.offeredVersion = config::CutVersion(*page);
    }

    result.newer = result.currentVersion && result.offeredVersion &&
                   config::IsNewerVersion(*result.currentVersion, *result.offeredVersion);
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
