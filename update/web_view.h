#pragma once

// The manual download. A build with Qt WebEngine has the web view window
// `Form3` ("手动下载"): `WebBrowser1` shows the share page and every new
// window it opens loads in the hidden `WebBrowser2`, so the user can use the
// site's own download button. A build without it opens the share page in the
// system's browser.

#include "core/platform/desktop.h"

#include <string>

namespace updater {

// True when this build has the embedded web view.
bool hasWebView();

// `Command2`'s manual download: the program's single `Form3` navigates to
// `sharePageUrl`, is made silent and shown; without the web view the system's
// browser opens the address. When no browser can be opened, a message names
// the address to open by hand.
void showManualDownload(const std::string& sharePageUrl, platform::DesktopServices& desktop);

} // namespace updater
