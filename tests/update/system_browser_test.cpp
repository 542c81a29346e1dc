// The manual download of a build without the web view: the share page opens
// in the system's browser, seen here through URL handlers in place of a
// browser.

#include "support/fake_desktop.h"
#include "update/web_view.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QTest>
#include <QUrl>

#include <string>
#include <vector>

using testing_support::FakeDesktop;

// Stands in for the browser: keeps every address it is asked to open.
class Browser : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

class SystemBrowserTest : public QObject {
    Q_OBJECT

    Browser browser;
    const std::vector<const char*> schemes{"http", "https", "file", "javascript", "ftp"};

    void handleAll() {
        for (const char* s : schemes)
            QDesktopServices::setUrlHandler(s, &browser, "open");
    }
    void handleNone() {
        for (const char* s : schemes)
            QDesktopServices::unsetUrlHandler(s);
    }

private slots:
    void init() {
        browser.opened.clear();
        handleAll();
    }
    void cleanup() { handleNone(); }

    // The address of `Text3`, blank in front, opens as a web address; a
    // missing scheme is http.
    void theSharePageOpensInTheBrowser_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QUrl>("opened");
        QTest::newRow("blank in front")
            << " https://share.example.org/i/abc" << QUrl("https://share.example.org/i/abc");
        QTest::newRow("blanks around")
            << "  http://127.0.0.1:8080/s?x=1 " << QUrl("http://127.0.0.1:8080/s?x=1");
        QTest::newRow("no scheme")
            << " share.example.org/i/abc" << QUrl("http://share.example.org/i/abc");
    }
    void theSharePageOpensInTheBrowser() {
        QFETCH(QString, address);
        QFETCH(QUrl, opened);
        FakeDesktop desktop;
        updater::showManualDownload(address.toStdString(), desktop);
        QCOMPARE(browser.opened, std::vector<QUrl>{opened});
        QVERIFY(desktop.boxes.empty());
    }

    // The address comes from the version page: one that is no web page's
    // is not handed to the system (which could open a local file or start
    // a program); a message names it.
    void anAddressThatIsNoWebPageIsNotOpened_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("local file") << " file:///etc/passwd";
        QTest::newRow("program") << "file:///C:/update/download/setup.exe";
        QTest::newRow("script") << "javascript:alert(1)";
        QTest::newRow("other scheme") << "ftp://share.example.org/f";
        QTest::newRow("blank") << " ";
        QTest::newRow("empty") << "";
        QTest::newRow("no host") << "https://";
    }
    void anAddressThatIsNoWebPageIsNotOpened() {
        QFETCH(QString, address);
        FakeDesktop desktop;
        updater::showManualDownload(address.toStdString(), desktop);
        QVERIFY(browser.opened.empty());
        QCOMPARE(desktop.boxes.size(), std::size_t(1));
        QVERIFY(desktop.boxes[0].text.find("“" + address.toStdString() + "”") != std::string::npos);
        QCOMPARE(QString::fromStdString(desktop.boxes[0].title), QString::fromUtf8("系统提示"));
        QCOMPARE(desktop.boxes[0].flags, platform::mb::Ok | platform::mb::IconInformation);
    }

    // No browser to open: the message names the address to open by hand.
    void withoutABrowserAMessageNamesTheAddress() {
        if (QGuiApplication::platformName() != "offscreen")
            QSKIP("only the offscreen platform is sure to have no browser to start");
        handleNone();
        FakeDesktop desktop;
        updater::showManualDownload(" http://127.0.0.1:9/share/abc", desktop);
        QCOMPARE(desktop.boxes.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(desktop.boxes[0].text),
                 QString::fromUtf8("无法打开浏览器。请用浏览器打开“http://127.0.0.1:9/share/"
                                   "abc”手动下载，复制到该文件夹下覆盖即可！"));
        QCOMPARE(QString::fromStdString(desktop.boxes[0].title), QString::fromUtf8("系统提示"));
    }
};

QTEST_MAIN(SystemBrowserTest)
#include "system_browser_test.moc"
