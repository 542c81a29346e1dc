// The manual download of a build without the embedded web view: the share
// page opens in the system's browser.

#include "update/web_view.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace updater {

bool hasWebView() {
    return false;
}

void showManualDownload(const std::string& sharePageUrl, platform::DesktopServices& desktop) {
    const QUrl url = QUrl::fromUserInput(QString::fromStdString(sharePageUrl).trimmed());
    if (url.isValid() && !url.isEmpty() && QDesktopServices::openUrl(url))
        return;
    desktop.messageBox("无法打开浏览器。请用浏览器打开“" + sharePageUrl +
                           "”手动下载，复制到该文件夹下覆盖即可！",
                       "系统提示", platform::mb::Ok | platform::mb::IconInformation);
}

} // namespace updater
