#pragma once

// The web view window `Form3` ("手动下载") of a build with Qt WebEngine.
// `WebBrowser1` shows the share page; every new window a page asks for
// loads in the hidden `WebBrowser2`, so no other window ever opens.

#include <QWebEnginePage>
#include <QWidget>

#include <functional>
#include <string>

class QWebEngineView;

namespace updater {

// A page of the web view. While silent, the page's own dialogs stay unseen:
// an alert passes, a question and a prompt are answered with "cancel", and
// the question before leaving the page is answered "leave", so that a new
// navigation is never held up. A new window the page asks for goes to the
// page `newWindowHost` returns; without a host it does not open.
class WebViewPage : public QWebEnginePage {
public:
    explicit WebViewPage(QObject* parent) : QWebEnginePage(parent) {}

    bool silent = false;
    std::function<QWebEnginePage*()> newWindowHost;

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value,
                          QString* result) override;
};

class Form3 : public QWidget {
public:
    // The program's single `Form3`, made on first use and deleted when the
    // program's event loop ends.
    static Form3& instance();

    // `Navigate` of `WebBrowser1`: loads the share page's address, the blanks
    // the field keeps around it dropped; an address that is no web page's
    // (see sharePageAddress) loads nothing.
    void Navigate(const std::string& url);
    // `Silent` of `WebBrowser1`: true keeps the page's dialogs unseen.
    bool Silent() const;
    void setSilent(bool silent);

    // `WebBrowser1_NewWindow2`: `WebBrowser1` turns silent, the new window
    // loads in `WebBrowser2`, and this window is shown.
    QWebEnginePage* WebBrowser1_NewWindow2();

    // Shows the window, in front of the others.
    void showInFront();

    QWebEngineView* WebBrowser1; // the share page
    QWebEngineView* WebBrowser2; // new windows; below the client area, never seen

protected:
    void showEvent(QShowEvent* event) override;

private:
    Form3();

    WebViewPage* page1_;
    WebViewPage* page2_;
    bool centred_ = false;
};

} // namespace updater
