#pragma once

// The manual download. A build with Qt WebEngine has the web view window
// `Form3` ("手动下载", update/web_view_window.h): `WebBrowser1` shows the
// share page and every new window it opens loads in the hidden
// `WebBrowser2`, so the user can use the site's own download button. A build
// without it opens the share page in the system's browser.

#include "core/platform/desktop.h"

#include <QUrl>

#include <string>

namespace updater {

// True when this build has the embedded web view.
bool hasWebView();

// `Command2`'s manual download: the program's single `Form3` navigates to
// `sharePageUrl`, is made silent and shown; without the web view the system's
// browser opens the address. An address that is not a web page's, or a
// browser that cannot be opened, gives a message that names the address.
void showManualDownload(const std::string& sharePageUrl, platform::DesktopServices& desktop);

// Opens the share page in the system's browser.
void openInSystemBrowser(const std::string& sharePageUrl, platform::DesktopServices& desktop);

// The share page's address as a web address: blanks around it dropped, a
// missing scheme taken as http. Empty unless it is an http or https address
// with a host: the address comes from the version page, and anything else
// (a local file, a program, a script) is never opened.
QUrl sharePageAddress(const std::string& sharePageUrl);

// The message for an address that cannot be opened.
std::string unusableAddressMessage(const std::string& sharePageUrl);

} // namespace updater
