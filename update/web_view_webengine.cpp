// The web view window `Form3` of a build with Qt WebEngine.

#include "update/web_view.h"
#include "update/web_view_window.h"

#include "desktop/twips.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineView>

#ifdef __linux__
#include <unistd.h>
#endif

namespace updater {

namespace {

// The question Qt WebEngine asks through javaScriptConfirm before a page
// with an unload handler is left.
QString leavePageQuestion() {
    return QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
}

Form3* theForm3 = nullptr;

// Chromium, which runs the pages, ends the whole program when it is started
// by root with its sandbox on; Qt WebEngine turns the sandbox off for the
// variable QTWEBENGINE_DISABLE_SANDBOX or the switch --no-sandbox (in
// QTWEBENGINE_CHROMIUM_FLAGS or on the command line).
bool webEngineCanStart() {
#ifdef __linux__
    if (::getuid() != 0 && ::geteuid() != 0)
        return true;
    if (qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return true;
    const QStringList switches = QString::fromLocal8Bit(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"))
                                     .split(' ', Qt::SkipEmptyParts) +
                                 QCoreApplication::arguments();
    return switches.contains("--no-sandbox");
#else
    return true;
#endif
}

} // namespace

QWebEnginePage* WebViewPage::createWindow(WebWindowType) {
    return newWindowHost ? newWindowHost() : nullptr;
}

void WebViewPage::javaScriptAlert(const QUrl& origin, const QString& message) {
    if (!silent)
        QWebEnginePage::javaScriptAlert(origin, message);
}

bool WebViewPage::javaScriptConfirm(const QUrl& origin, const QString& message) {
    if (!silent)
        return QWebEnginePage::javaScriptConfirm(origin, message);
    return message == leavePageQuestion();
}

bool WebViewPage::javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value,
                                   QString* result) {
    return silent ? false : QWebEnginePage::javaScriptPrompt(origin, message, value, result);
}

Form3::Form3() : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QString::fromUtf8("手动下载"));
    setFixedSize(desktop::twips(16440), desktop::twips(10440));

    WebBrowser1 = new QWebEngineView(this);
    WebBrowser1->setGeometry(desktop::twipsRect(120, 120, 16215, 10215));
    page1_ = new WebViewPage(WebBrowser1);
    WebBrowser1->setPage(page1_);

    // Below the bottom edge of the client area: never seen, so its page is
    // always silent (a dialog of a page nobody sees would only puzzle), and
    // a new window it asks for does not open.
    WebBrowser2 = new QWebEngineView(this);
    WebBrowser2->setGeometry(desktop::twipsRect(15240, 11040, 735, 255));
    page2_ = new WebViewPage(WebBrowser2);
    page2_->silent = true;
    WebBrowser2->setPage(page2_);

    page1_->newWindowHost = [this] { return WebBrowser1_NewWindow2(); };

    // A file the site offers is saved where the browser saves downloads.
    QObject::connect(page1_->profile(), &QWebEngineProfile::downloadRequested, this,
                     [](QWebEngineDownloadRequest* request) { request->accept(); });
}

Form3& Form3::instance() {
    if (!theForm3) {
        theForm3 = new Form3();
        // The pages must be gone before Qt WebEngine shuts down with the
        // application object: the window goes when the event loop ends.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, theForm3,
                         [] {
                             delete theForm3;
                             theForm3 = nullptr;
                         });
    }
    return *theForm3;
}

void Form3::Navigate(const std::string& url) {
    WebBrowser1->load(sharePageAddress(url));
}

bool Form3::Silent() const {
    return page1_->silent;
}

void Form3::setSilent(bool silent) {
    page1_->silent = silent;
}

QWebEnginePage* Form3::WebBrowser1_NewWindow2() {
    setSilent(true);
    showInFront();
    return WebBrowser2->page();
}

void Form3::showInFront() {
    show();
    raise();
    activateWindow();
}

void Form3::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

bool hasWebView() {
    return true;
}

void showManualDownload(const std::string& sharePageUrl, platform::DesktopServices& desktop) {
    // Run by root, the system's browser stands in for a web view that would
    // end the program.
    if (!webEngineCanStart()) {
        openInSystemBrowser(sharePageUrl, desktop);
        return;
    }
    if (sharePageAddress(sharePageUrl).isEmpty()) {
        desktop.messageBox(unusableAddressMessage(sharePageUrl), "系统提示",
                           platform::mb::Ok | platform::mb::IconInformation);
        return;
    }
    Form3& form = Form3::instance();
    form.Navigate(sharePageUrl);
    form.setSilent(true);
    form.showInFront();
}

} // namespace updater
