// The web view window `Form3` of a build with Qt WebEngine.

#include "update/web_view.h"

#include "desktop/twips.h"

#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>

#include <functional>

namespace updater {

namespace {

// `WebBrowser1`'s page: keeps its script dialogs to itself while silent and
// hands every new window to the host it is given.
class BrowserPage : public QWebEnginePage {
public:
    explicit BrowserPage(QObject* parent) : QWebEnginePage(parent) {}

    bool silent = false;
    std::function<QWebEnginePage*()> newWindowHost;

protected:
    QWebEnginePage* createWindow(WebWindowType) override {
        return newWindowHost ? newWindowHost() : nullptr;
    }
    void javaScriptAlert(const QUrl& origin, const QString& message) override {
        if (!silent)
            QWebEnginePage::javaScriptAlert(origin, message);
    }
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override {
        return silent ? false : QWebEnginePage::javaScriptConfirm(origin, message);
    }
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value,
                          QString* result) override {
        return silent ? false : QWebEnginePage::javaScriptPrompt(origin, message, value, result);
    }
};

class Form3 : public QWidget {
public:
    Form3() : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
        setWindowTitle(QString::fromUtf8("手动下载"));
        setFixedSize(desktop::twips(16440), desktop::twips(10440));

        WebBrowser1 = new QWebEngineView(this);
        WebBrowser1->setGeometry(desktop::twipsRect(120, 120, 16215, 10215));
        page_ = new BrowserPage(WebBrowser1);
        WebBrowser1->setPage(page_);

        // Below the bottom edge of the client area: never seen.
        WebBrowser2 = new QWebEngineView(this);
        WebBrowser2->setGeometry(desktop::twipsRect(15240, 11040, 735, 255));

        page_->newWindowHost = [this] { return WebBrowser1_NewWindow2(); };

        // A file the site offers is saved where the browser saves downloads.
        QObject::connect(page_->profile(), &QWebEngineProfile::downloadRequested, this,
                         [](QWebEngineDownloadRequest* request) { request->accept(); });
    }

    // `Navigate`: loads an address.
    void Navigate(const std::string& url) {
        WebBrowser1->load(QUrl::fromUserInput(QString::fromStdString(url).trimmed()));
    }
    // `Silent`: no dialogs of the page's own.
    void setSilent(bool silent) { page_->silent = silent; }

    // `WebBrowser1_NewWindow2`: the new window loads in the hidden
    // `WebBrowser2`, and this window is shown.
    QWebEnginePage* WebBrowser1_NewWindow2() {
        setSilent(true);
        show();
        return WebBrowser2->page();
    }

    QWebEngineView* WebBrowser1;
    QWebEngineView* WebBrowser2;

private:
    BrowserPage* page_;
};

// The program's single `Form3`, made on first use and kept until the end.
Form3& form3() {
    static Form3* const instance = new Form3();
    return *instance;
}

} // namespace

bool hasWebView() {
    return true;
}

void showManualDownload(const std::string& sharePageUrl, platform::DesktopServices&) {
    Form3& form = form3();
    form.Navigate(sharePageUrl);
    form.setSilent(true);
    form.show();
    form.raise();
    form.activateWindow();
}

} // namespace updater
