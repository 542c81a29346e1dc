// What both kinds of manual download share: the check of the share page's
// address and the system's browser.

#include "update/web_view.h"

#include <QDesktopServices>
#include <QString>

namespace updater {

QUrl sharePageAddress(const std::string& sharePageUrl) {
    const QString text = QString::fromStdString(sharePageUrl).trimmed();
    if (text.isEmpty())
        return {};
    const QUrl url = QUrl::fromUserInput(text);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty())
        return {};
    return url;
}

std::string unusableAddressMessage(const std::string& sharePageUrl) {
    return "分享页地址“" + sharePageUrl +
           "”不是网页地址，无法打开。请手动下载新版本，复制到该文件夹下覆盖即可！";
}

void openInSystemBrowser(const std::string& sharePageUrl, platform::DesktopServices& desktop) {
    const QUrl url = sharePageAddress(sharePageUrl);
    if (url.isEmpty()) {
        desktop.messageBox(unusableAddressMessage(sharePageUrl), "系统提示",
                           platform::mb::Ok | platform::mb::IconInformation);
        return;
    }
    if (QDesktopServices::openUrl(url))
        return;
    desktop.messageBox("无法打开浏览器。请用浏览器打开“" + url.toString().toStdString() +
                           "”手动下载，复制到该文件夹下覆盖即可！",
                       "系统提示", platform::mb::Ok | platform::mb::IconInformation);
}

} // namespace updater
