// The manual download's web view `Form3`, against pages served on 127.0.0.1:
// the update window's "手动更新" opens the share page in it, new windows
// load in the hidden `WebBrowser2`, and a silent page shows no dialog.

#include <QTest>

#ifdef WEB_VIEW_WEBENGINE

#include "support/fake_desktop.h"
#include "support/local_servers.h"
#include "support/temp_folder.h"
#include "update/update_window.h"
#include "update/web_view.h"
#include "update/web_view_window.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using testing_support::FakeDesktop;
using testing_support::TempFolder;

namespace {

// The argument that makes this program the child of one test.
const char* const kRootChild = "--by-root-child";

// Every wait is bounded; a page from 127.0.0.1 loads in well under a second.
constexpr int kWait = 10000;

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// A page that counts the clicks it sees in its title: "clicks 1", ...
const std::string kCountsClicks =
    "<script>var clicks = 0; document.addEventListener('mousedown', function() {"
    " document.title = 'clicks ' + (++clicks); });</script>";

std::string page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head><body style=\"margin:0\">" + body + "</body></html>";
}

// Watches for windows besides the expected ones: remembers each and closes
// it, so that a dialog waiting for an answer cannot hold a test up.
class WindowWatch : public QObject {
public:
    WindowWatch() {
        connect(&timer_, &QTimer::timeout, this, [this] { check(); });
        timer_.start(20);
    }
    void allow(QWidget* w) { allowed_.insert(w); }
    void clear() { seen.clear(); }
    QString seenText() const {
        return "windows seen: " + QStringList(seen.begin(), seen.end()).join(", ");
    }

    std::vector<QString> seen;

private:
    void check() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || allowed_.count(w))
                continue;
            seen.push_back(QString::fromUtf8(w->metaObject()->className()) + " " +
                           w->windowTitle());
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
            else
                w->close();
        }
    }

    QTimer timer_;
    std::set<QWidget*> allowed_;
};

// Runs the event loop until `condition` holds, for `kWait` at most.
template <typename Condition> bool waitFor(Condition condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.hasExpired(kWait))
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Waits until `actual` equals `expected`, then compares them. Unlike
// QTRY_COMPARE it waits no longer after a failure.
#define WAIT_COMPARE(actual, expected)                                                             \
    do {                                                                                           \
        waitFor([&] { return (actual) == (expected); });                                           \
        QCOMPARE(actual, expected);                                                                \
    } while (false)
#define WAIT_VERIFY(condition)                                                                     \
    QVERIFY2(waitFor([&] { return (condition); }), "waited in vain for " #condition)

// `open`, leaving the test function when it failed.
#define OPEN(path, title)                                                                          \
    do {                                                                                           \
        open(path, title);                                                                         \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

} // namespace

class WebViewTest : public QObject {
    Q_OBJECT

    testing_support::LocalHttpServer server;
    std::mutex mutex;
    std::vector<std::string> requests;
    std::unique_ptr<WindowWatch> watch;

    // Serves `html` at `path`; "{base}" in it becomes the server's address.
    void serve(const std::string& path, const std::string& html) {
        server.server.Get(path, [this, path, html](const httplib::Request&, httplib::Response& r) {
            {
                std::lock_guard lock(mutex);
                requests.push_back(path);
            }
            std::string body = html;
            if (const auto at = body.find("{base}"); at != std::string::npos)
                body.replace(at, 6, server.url(""));
            r.set_content(body, "text/html; charset=utf-8");
        });
    }
    int hitsOf(const std::string& path) {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count(requests.begin(), requests.end(), path));
    }

    static updater::Form3& form() { return updater::Form3::instance(); }

    // Loads `path` into `WebBrowser1` as the manual download does and waits
    // until the page's script has set `title`.
    void open(const std::string& path, const QString& title) {
        FakeDesktop desktop;
        updater::showManualDownload(server.url(path), desktop);
        QVERIFY(desktop.boxes.empty());
        WAIT_COMPARE(form().WebBrowser1->title(), title);
    }

    // The top-level windows that are visible.
    static std::vector<QWidget*> visibleWindows() {
        std::vector<QWidget*> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                windows.push_back(w);
        return windows;
    }

    // The clicks a clickable page has seen, from its title.
    static int clicksOf(QWebEngineView* view) {
        const QString title = view->title();
        return title.startsWith("clicks ") ? title.mid(7).toInt() : 0;
    }

    // Clicks into `view` at `at` as the user does, again until the page has
    // seen the click: a page just shown may not take input at once.
    static bool click(QWebEngineView* view, QPoint at) {
        QWidget* target = view->focusProxy() ? view->focusProxy() : view;
        const int before = clicksOf(view);
        QElapsedTimer timer;
        timer.start();
        while (!timer.hasExpired(kWait)) {
            QTest::mouseClick(target, Qt::LeftButton, {}, at);
            for (int i = 0; i < 100 && clicksOf(view) == before; ++i)
                QTest::qWait(10);
            if (clicksOf(view) > before)
                return true;
        }
        return false;
    }

private slots:
    void initTestCase() {
        // Connections are closed after each answer, so the server stops at
        // once at the end.
        server.server.set_keep_alive_max_count(1);
        // Pages the site plays. The share page's download link opens a new
        // window and covers the page's top left corner, where it is clicked.
        serve("/version", page("v", "<p>最新版 1.5.9 发布</p><p>地 {base}/share/none"
                                    "址结</p><p>方 手动下载式结</p><p>更 修正说结</p>"));
        serve("/share/none", page("分享页", "<p>文件取消分享了</p>"));
        serve("/share/link",
              page("share link", kCountsClicks +
                                     "<a id=\"d\" href=\"/new/link\" target=\"_blank\" "
                                     "style=\"display:block;position:absolute;left:0;top:0;"
                                     "width:400px;height:200px\">下载</a>"));
        serve("/share/script", page("opening", "<script>window.open('/new/script');"
                                               "document.title = 'opened';</script>"));
        serve("/share/alerting-window", page("opening", "<script>window.open('/new/alerting');"
                                                        "document.title = 'opened';</script>"));
        serve("/new/link", page("new link", "<p>文件</p>"));
        serve("/new/script", page("new script", "<p>文件</p>"));
        serve("/new/alerting",
              page("alerting", "<script>alert('新窗口'); document.title = 'alerted ' + "
                               "confirm('?');</script>"));
        // A script error, then every kind of script dialog; the title tells
        // how the page's script went on.
        serve("/dialogs", page("dialogs", "<script>noSuchFunction();</script>"
                                          "<script>alert('提示'); var c = confirm('确定？');"
                                          "var p = prompt('输入', '值');"
                                          "document.title = 'done ' + c + ' ' + p;</script>"));
        // A page that asks before it is left.
        serve("/leave", page("leave", kCountsClicks +
                                          "<script>window.onbeforeunload = function(e) {"
                                          "e.preventDefault(); e.returnValue = 'stay'; };</script>"
                                          "<p style=\"height:300px\">留下</p>"));
        serve("/other", page("other", "<p>别的页</p>"));
        server.start();
        watch = std::make_unique<WindowWatch>();
    }

    void cleanupTestCase() { watch.reset(); }

    void init() { watch->clear(); }

    // "手动更新" after a link error: `WebBrowser1` goes to the share page of
    // `Text3`, blank in front and all, silently, and the window shows,
    // centred on the screen.
    void manualUpdateOpensTheSharePageInTheWebView() {
        QVERIFY(updater::hasWebView());
        TempFolder app;
        FakeDesktop desktop;
        update_check::VersionInformation versions;
        versions.currentVersion = "1.5.8";
        versions.versionPageUrl = server.url("/version");
        updater::Form2 form2(app.path(), desktop, versions, update_check::fetchVersionPage,
                             server.url(""));
        watch->allow(&form2);
        form2.Form_Load();
        QTRY_COMPARE(desktop.boxes.size(), std::size_t(1)); // the link error
        QVERIFY(form2.Command2->isVisibleTo(&form2));
        QCOMPARE(form2.Text3->text(), q(" " + server.url("/share/none")));

        updater::Form3& form3 = form();
        watch->allow(&form3);
        form3.setSilent(false);
        QVERIFY(!form3.isVisible());
        const int hitsBefore = hitsOf("/share/none");
        QTest::mouseClick(form2.Command2, Qt::LeftButton);

        QVERIFY(form3.isVisible());
        QVERIFY(form3.Silent());
        QCOMPARE(form3.windowTitle(), QString::fromUtf8("手动下载"));
        WAIT_COMPARE(form3.WebBrowser1->title(), QString::fromUtf8("分享页"));
        QCOMPARE(form3.WebBrowser1->url(), QUrl(q(server.url("/share/none"))));
        QCOMPARE(hitsOf("/share/none"), hitsBefore + 1);
        QCOMPARE(desktop.boxes.size(), std::size_t(1));

        // The client area and the two browsers' places, from twips.
        QCOMPARE(form3.size(), QSize(1096, 696));
        QCOMPARE(form3.WebBrowser1->geometry(), QRect(8, 8, 1081, 681));
        QVERIFY(!QRect(QPoint(0, 0), form3.size()).intersects(form3.WebBrowser2->geometry()));
        // Centred on the screen, give or take the window's frame.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QPoint off = form3.geometry().center() - screen->availableGeometry().center();
            QVERIFY2(off.manhattanLength() <= 12, "Form3 is not centred on the screen");
        }
        QVERIFY2(watch->seen.empty(), qPrintable(watch->seenText()));
    }

    // Every click shows the one window again, closed or not, and navigates
    // it again.
    void showingAgainShowsTheSameWindow() {
        updater::Form3& form3 = form();
        watch->allow(&form3);
        OPEN("/other", "other");
        form3.close();
        QVERIFY(!form3.isVisible());

        OPEN("/share/none", QString::fromUtf8("分享页"));
        QCOMPARE(&updater::Form3::instance(), &form3);
        QVERIFY(form3.isVisible());
        const int before = hitsOf("/share/none");
        OPEN("/other", "other");
        OPEN("/share/none", QString::fromUtf8("分享页"));
        QCOMPARE(hitsOf("/share/none"), before + 1);

        const auto windows = visibleWindows();
        QCOMPARE(std::count_if(
                     windows.begin(), windows.end(),
                     [](QWidget* w) { return w->windowTitle() == QString::fromUtf8("手动下载"); }),
                 std::ptrdiff_t(1));
        QVERIFY2(watch->seen.empty(), qPrintable(watch->seenText()));
    }

    // A link that opens a new window: the new page loads in the hidden
    // `WebBrowser2`, the share page stays, and no window besides `Form3`
    // appears. The same holds for a window opened by the page's script,
    // which shows `Form3` when it was closed, and again and again.
    void newWindowsLoadInTheHiddenBrowser() {
        updater::Form3& form3 = form();
        watch->allow(&form3);
        OPEN("/share/link", "share link");
        const auto before = visibleWindows();

        form3.setSilent(false);
        QVERIFY(click(form3.WebBrowser1, QPoint(100, 100)));
        WAIT_COMPARE(form3.WebBrowser2->title(), QString("new link"));
        QCOMPARE(form3.WebBrowser2->url(), QUrl(q(server.url("/new/link"))));
        QCOMPARE(form3.WebBrowser1->url(), QUrl(q(server.url("/share/link"))));
        QCOMPARE(hitsOf("/new/link"), 1);
        QVERIFY(form3.Silent());
        QVERIFY(form3.isVisible());
        WAIT_COMPARE(QApplication::activeWindow(), &form3);

        form3.close();
        form3.setSilent(false);
        form3.Navigate(server.url("/share/script"));
        WAIT_COMPARE(form3.WebBrowser2->title(), QString("new script"));
        QVERIFY(form3.isVisible());
        QVERIFY(form3.Silent());
        QCOMPARE(form3.WebBrowser2->url(), QUrl(q(server.url("/new/script"))));
        QCOMPARE(form3.WebBrowser1->url(), QUrl(q(server.url("/share/script"))));

        // Once more: the hidden browser takes the next new window too.
        OPEN("/share/link", "share link");
        QVERIFY(click(form3.WebBrowser1, QPoint(100, 100)));
        WAIT_COMPARE(hitsOf("/new/link"), 2);
        WAIT_COMPARE(form3.WebBrowser2->url(), QUrl(q(server.url("/new/link"))));

        QCOMPARE(visibleWindows(), before);
        QVERIFY2(watch->seen.empty(), qPrintable(watch->seenText()));
        QCOMPARE(form3.WebBrowser2->geometry(), QRect(1016, 736, 49, 17));
    }

    // While silent, a script error, an alert, a question and a prompt show
    // nothing: the script goes on, with "cancel" for the answers. Not
    // silent, the same page asks (the watch answers "cancel").
    void aSilentPageShowsNoDialogs() {
        updater::Form3& form3 = form();
        watch->allow(&form3);
        OPEN("/dialogs", "done false null");
        QVERIFY(form3.Silent());
        QVERIFY2(watch->seen.empty(), qPrintable(watch->seenText()));

        form3.setSilent(false);
        form3.WebBrowser1->load(QUrl(q(server.url("/other"))));
        WAIT_COMPARE(form3.WebBrowser1->title(), QString("other"));
        form3.WebBrowser1->load(QUrl(q(server.url("/dialogs"))));
        WAIT_COMPARE(form3.WebBrowser1->title(), QString("done false null"));
        QCOMPARE(watch->seen.size(), std::size_t(3));
    }

    // The page of a new window is never seen, so it shows no dialogs either.
    void theHiddenBrowserShowsNoDialogs() {
        updater::Form3& form3 = form();
        watch->allow(&form3);
        OPEN("/share/alerting-window", "opened");
        WAIT_COMPARE(form3.WebBrowser2->title(), QString("alerted false"));
        QVERIFY2(watch->seen.empty(), qPrintable(watch->seenText()));
    }

    // An address from the version page that is no web page's is never
    // opened; a message names it.
    void anAddressThatIsNoWebPageIsRefused_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("local file") << "file:///etc/passwd";
        QTest::newRow("script") << "javascript:alert(1)";
        QTest::newRow("blank") << "   ";
        QTest::newRow("empty") << "";
        QTest::newRow("no host") << "http://";
    }
    void anAddressThatIsNoWebPageIsRefused() {
        QFETCH(QString, address);
        updater::Form3& form3 = form();
        watch->allow(&form3);
        form3.close();
        const QUrl before = form3.WebBrowser1->url();

        FakeDesktop desktop;
        updater::showManualDownload(address.toStdString(), desktop);
        QCOMPARE(desktop.boxes.size(), std::size_t(1));
        QVERIFY(desktop.boxes[0].text.find("“" + address.toStdString() + "”") != std::string::npos);
        QCOMPARE(q(desktop.boxes[0].title), QString::fromUtf8("系统提示"));
        QVERIFY(!form3.isVisible());
        QTest::qWait(100);
        QCOMPARE(form3.WebBrowser1->url(), before);
    }

    // A page that asks before it is left does not keep the next "手动更新"
    // from navigating: silent, the question is answered "leave".
    void aPageThatAsksBeforeLeavingIsLeft() {
        updater::Form3& form3 = form();
        watch->allow(&form3);

        // Not silent, the question shows (the watch answers "stay"): this
        // shows the page does ask.
        OPEN("/leave", "leave");
        form3.setSilent(false);
        QVERIFY(click(form3.WebBrowser1, QPoint(50, 50)));
        form3.WebBrowser1->load(QUrl(q(server.url("/other"))));
        WAIT_VERIFY(!watch->seen.empty());
        QTest::qWait(200);
        QCOMPARE(form3.WebBrowser1->url(), QUrl(q(server.url("/leave"))));
        watch->clear();

        QVERIFY(click(form3.WebBrowser1, QPoint(50, 50)));
        OPEN("/other", "other");
        QVERIFY2(watch->seen.empty(), qPrintable(watch->seenText()));
    }

    // Chromium ends the whole program when root starts it with its sandbox
    // on: run by root without the switch that turns it off, the system's
    // browser opens the share page instead (seen in a child process).
    void runByRootTheSystemBrowserStandsIn() {
        if (::geteuid() != 0)
            QSKIP("only root is refused Chromium's sandbox; this test runs as another user");
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QTWEBENGINE_DISABLE_SANDBOX");
        environment.remove("QTWEBENGINE_CHROMIUM_FLAGS");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {kRootChild});
        if (!child.waitForFinished(kWait)) {
            child.kill();
            child.waitForFinished(1000);
            QFAIL("the child process did not end");
        }
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0,
                 qPrintable(output + child.readAllStandardError().right(400)));
    }

    // The window and its pages go when the program's event loop ends, before
    // Qt WebEngine shuts down with the application object. Runs last.
    void theWindowGoesWhenTheProgramEnds() {
        QPointer<updater::Form3> form3 = &form();
        OPEN("/share/link", "share link");
        QVERIFY(click(form3->WebBrowser1, QPoint(100, 100)));
        WAIT_COMPARE(form3->WebBrowser2->title(), QString("new link"));

        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(form3.isNull());
    }
};

// Stands in for the system's browser: keeps the addresses it is given.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    std::vector<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// The child of `runByRootTheSystemBrowserStandsIn`: opens the manual
// download, lets the event loop run a while, and tells whether the
// system's browser took the address. Chromium, if started, would end the
// process with status 1 first.
int runByRootChild(int argc, char** argv) {
    QApplication app(argc, argv);
    UrlRecorder browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    FakeDesktop desktop;
    updater::showManualDownload(" http://127.0.0.1:9/share/abc", desktop);
    QTest::qWait(1000);
    const bool ok = browser.opened == std::vector<QUrl>{QUrl("http://127.0.0.1:9/share/abc")} &&
                    desktop.boxes.empty();
    std::printf("opened %d address(es), %d message(s)\n", int(browser.opened.size()),
                int(desktop.boxes.size()));
    return ok ? 0 : 3;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kRootChild) == 0)
        return runByRootChild(argc, argv);
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    WebViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#else

// This build opens the system's browser instead (tested by
// system_browser_test).
class WebViewTest : public QObject {
    Q_OBJECT

private slots:
    void webView() {
        QSKIP("this build has no web view: Qt WebEngine (qt6-webengine-dev) was not found "
              "when it was configured");
    }
};

QTEST_MAIN(WebViewTest)

#endif

#include "web_view_test.moc"
