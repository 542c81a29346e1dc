// The manual download of a build without the embedded web view: the share
// page opens in the system's browser.

#include "update/web_view.h"

namespace updater {

bool hasWebView() {
    return false;
}

void showManualDownload(const std::string& sharePageUrl, platform::DesktopServices& desktop) {
    openInSystemBrowser(sharePageUrl, desktop);
}

} // namespace updater
