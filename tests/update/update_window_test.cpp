// The update window against a local version page, file-sharing site and
// download host.

#include "core/config/version_files.h"
#include "core/text/encoding.h"
#include "progressbutton/prog_button.h"
#include "support/fake_desktop.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"
#include "update/inet_transfer.h"
#include "update/update_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <mutex>
#include <sstream>

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::FakeDesktop;
using testing_support::folderContents;
using testing_support::LoopbackServer;
using testing_support::readFile;
using testing_support::reply;
using testing_support::TempFolder;
using testing_support::writeFile;
namespace fs = std::filesystem;

namespace {

const std::string kFrame = "Abcdefghij0123456789_abcdefghij_frame";
const std::string kSign = "S123456789012345678901234567890123456789";
const QString kLinkError = QString::fromUtf8("链接错误,请手动下载复制到该文件夹下覆盖即可！");

std::string patterned(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 13 + 7) & 0xFF);
    return s;
}

fs::path u8(const char* utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8)));
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

Answer answerWith(const std::string& bytes) {
    return {{0ms, bytes}};
}

// An answer without a size: its body in one chunk of chunked transfer coding.
std::string chunkedReply(const std::string& headers, const std::string& body) {
    std::ostringstream size;
    size << std::hex << body.size();
    return "HTTP/1.1 200 OK\r\n" + headers +
           "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + size.str() + "\r\n" + body +
           "\r\n0\r\n\r\n";
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class UpdateWindowTest : public QObject {
    Q_OBJECT

private:
    // The fake site: the version page, the share pages, the frame, the
    // download process, the redirect and the download host. A new one for
    // each test.
    std::unique_ptr<LoopbackServer> server;
    std::mutex mutex;
    std::string versionPage;
    std::string disposition;
    std::string location;
    const std::string body3000 = patterned(3000);
    const std::string bigBody = patterned(4 << 20);

    Answer site(const std::string& request) {
        std::lock_guard lock(mutex);
        const std::string target = testing_support::targetOf(request);
        const std::string html = "Content-Type: text/html\r\n";
        const std::string file =
            "Content-Type: application/octet-stream\r\n" +
            (disposition.empty() ? std::string() : "Content-Disposition: " + disposition + "\r\n");
        if (target == "/version")
            return answerWith(
                reply("200 OK", "Content-Type: text/html; charset=utf-8\r\n", versionPage));
        if (target == "/share/ok")
            return answerWith(
                reply("200 OK", html, "<iframe src=\"/fn?" + kFrame + "\"></iframe>"));
        if (target == "/share/none")
            return answerWith(reply("200 OK", html, "<html>文件取消分享了</html>"));
        // A share page without a size, for the restarts.
        if (target == "/share/chunked")
            return answerWith(chunkedReply(html, "<iframe src=\"/fn?" + kFrame + "\"></iframe>"));
        if (target.rfind("/fn?", 0) == 0)
            return answerWith(
                reply("200 OK", html,
                      "var posturl = '" + kSign + "';\n{'action':'downprocess','sign':posturl}"));
        if (target == "/ajaxm.php") {
            // Like the real site, a wrong sign gets no file.
            const bool signed_ = request.substr(request.find("\r\n\r\n") + 4) ==
                                 "action=downprocess&sign=" + kSign + "&ves=1";
            return answerWith(
                reply("200 OK", html,
                      signed_ ? R"({"zt":1,"dom":")" + server->url("") + R"(","url":"?f"})"
                              : R"({"zt":0,"inf":"sign error"})"));
        }
        if (target.rfind("/file/", 0) == 0)
            return answerWith(reply("302 Found", "Location: " + location + "\r\n", ""));
        if (target == "/dl/file")
            return answerWith(reply("200 OK", file, body3000));
        if (target == "/dl/big")
            return answerWith(reply("200 OK", file, bigBody));
        if (target == "/dl/chunked")
            return answerWith(chunkedReply(file, "abc"));
        return answerWith(reply("404 Not Found", "Content-Type: text/plain\r\n", "not here"));
    }

    int hitsOf(const std::string& path) const {
        int hits = 0;
        for (const std::string& request : server->requests())
            hits += testing_support::targetOf(request).rfind(path, 0) == 0;
        return hits;
    }

    std::string pageWith(const std::string& fields) {
        return "<html><body><p>最新版 1.5.9 发布</p>" + fields + "</body></html>";
    }
    std::string allFields(const std::string& share) {
        return pageWith("<p>地 " + share + "址结</p><p>方 自动下载覆盖式结</p>" +
                        "<p>更 修正若干问题\r\n增加说明说结</p>");
    }
    void setVersionPage(const std::string& page) {
        std::lock_guard lock(mutex);
        versionPage = page;
    }
    void setLocation(const std::string& url) {
        std::lock_guard lock(mutex);
        location = url;
    }
    void setDisposition(const std::string& header) {
        std::lock_guard lock(mutex);
        disposition = header;
    }

    struct Run {
        TempFolder app;
        FakeDesktop desktop;
        std::vector<std::string> manual;
        std::unique_ptr<updater::Form2> form;
    };

    std::unique_ptr<Run> makeRun() {
        auto run = std::make_unique<Run>();
        update_check::VersionInformation versions;
        versions.currentVersion = "1.5.8";
        versions.versionPageUrl = server->url("/version");
        run->form = std::make_unique<updater::Form2>(
            run->app.path(), run->desktop, versions, update_check::fetchVersionPage,
            server->url(""), [r = run.get()](const std::string& url) { r->manual.push_back(url); });
        return run;
    }

    static bool finished(const updater::Form2& form) {
        return form.Command1->isVisibleTo(const_cast<updater::Form2*>(&form)) &&
               form.Command1->text() == QString::fromUtf8("更新完成");
    }

private slots:
    // The files of a Chinese system, whatever this one's code page.
    void initTestCase() { text::setAnsiCodeSet("CP936"); }
    void cleanupTestCase() { text::setAnsiCodeSet(""); }

    void init() {
        server = std::make_unique<LoopbackServer>(
            [this](const std::string& request) { return site(request); });
        setVersionPage(allFields(server->url("/share/ok")));
        setDisposition("attachment; filename= %E6%9B%B4%E6%96%B0.exe");
        setLocation(server->url("/dl/file"));
    }

    void cleanup() { server.reset(); }

    void loadShowsTheFieldsAndDownloadsWithProgress() {
        auto run = makeRun();
        auto& form = *run->form;

        // Progress lines as the window shows them between chunks.
        QStringList shown;
        QTimer sampler;
        sampler.setInterval(0);
        connect(&sampler, &QTimer::timeout, [&] {
            const QString t = form.Label3->text();
            if (shown.isEmpty() || shown.last() != t)
                shown << t;
        });
        sampler.start();

        form.Form_Load();
        QCOMPARE(form.Text1->text(), QString("1.5.8"));
        QCOMPARE(form.Text2->text(), QString("1.5.9"));
        QCOMPARE(form.Text3->text(), qs(" " + server->url("/share/ok")));
        QCOMPARE(form.Text4->text(), QString::fromUtf8(" 自动下载覆盖"));
        // The line break inside the notes is lost.
        QCOMPARE(form.Text5->toPlainText(), QString::fromUtf8(" 修正若干问题增加说明"));
        QCOMPARE(form.sharePageUrl(), server->url("/share/ok"));
        QCOMPARE(readFile(config::updateInformationFile(run->app.path())),
                 text::utf8ToAnsi(allFields(server->url("/share/ok"))) + "\r\n");
        QVERIFY(run->desktop.boxes.empty());
        QVERIFY(!form.Command1->isVisibleTo(&form));

        QTRY_VERIFY(finished(form));
        sampler.stop();
        QCOMPARE(hitsOf("/dl/file"), 1);
        QCOMPARE(form.downloadFileName(), std::string("更新.exe"));
        QCOMPARE(form.Label1->text(), QString::fromUtf8("升级成功"));
        QCOMPARE(form.Label3->text(), QString::fromUtf8("完成 2kb / 2kb（100%）"));
        QVERIFY(shown.contains(QString::fromUtf8("已经下载 2kb / 2kb（68.27%）")));
        QVERIFY(shown.contains(QString::fromUtf8("已经下载 2kb / 2kb（100.00%）")));
        QCOMPARE(form.ProgButton1->Max(), 3000);
        QCOMPARE(form.ProgButton1->Value(), 3000);
        QVERIFY(form.Check1->isVisibleTo(&form));
        QVERIFY(!form.Check1->isChecked());
        QVERIFY(!form.Command2->isVisibleTo(&form));
        QCOMPARE(form.contentLength(), 3000);

        const fs::path downloaded = run->app / "download" / u8("更新.exe");
        const fs::path installed = run->app / u8("更新.exe");
        QVERIFY(readFile(downloaded) == body3000);
        QVERIFY(readFile(installed) == body3000);
        // Nothing but the file itself is left in download/.
        QCOMPARE(
            std::distance(fs::directory_iterator(run->app / "download"), fs::directory_iterator()),
            1);
        QVERIFY(run->desktop.boxes.empty());
    }

    void finishingWithoutTheTickEndsWithoutStarting() {
        auto run = makeRun();
        run->form->Form_Load();
        QTRY_VERIFY(finished(*run->form));
        QTest::mouseClick(run->form->Command1, Qt::LeftButton);
        QVERIFY(run->desktop.starts.empty());
        QCOMPARE(run->desktop.exitCode, std::optional<int>(0));
    }

    void finishingWithTheTickStartsTheNewProgramMinimized() {
        auto run = makeRun();
        run->form->Form_Load();
        QTRY_VERIFY(finished(*run->form));
        run->form->Check1->setChecked(true);
        run->form->Command1_Click();
        QCOMPARE(run->desktop.starts.size(), std::size_t(1));
        QCOMPARE(run->desktop.starts[0].program, run->app / u8("更新.exe"));
        QCOMPARE(run->desktop.starts[0].showStyle, 2);
        QCOMPARE(run->desktop.exitCode, std::optional<int>(0));
    }

    void anUnwritableCopyOfThePageStillGivesThisPage() {
        auto run = makeRun();
        writeFile(run->app / "toconfigure", "a file where the folder should be");
        run->form->Form_Load();
        QCOMPARE(run->form->Text2->text(), QString("1.5.9"));
        QCOMPARE(run->form->Text5->toPlainText(), QString::fromUtf8(" 修正若干问题增加说明"));
        QTRY_VERIFY(finished(*run->form));
    }

    void aPageWithoutTheMethodEndFillsOnlyTheAddress() {
        setVersionPage(pageWith("<p>地 " + server->url("/share/ok") + "址结</p><p>方 自动" +
                                "</p><p>更 说明说结</p>"));
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QCOMPARE(form.Text2->text(), QString("1.5.9"));
        QCOMPARE(form.Text3->text(), qs(" " + server->url("/share/ok")));
        QCOMPARE(form.Text4->text(), QString());
        QCOMPARE(form.Text5->toPlainText(), QString());
        QTest::qWait(100);
        QCOMPARE(hitsOf("/share/ok"), 0);
        QVERIFY(!form.Command1->isVisibleTo(&form));
        QVERIFY(!form.Command2->isVisibleTo(&form));
        QVERIFY(run->desktop.boxes.empty());
    }

    void aPageWithoutVersionOrWithZeroStopsBeforeTheFields() {
        for (const std::string& page :
             {std::string("<html>nothing here</html>"),
              "<p>版 0.0.0</p><p>地 " + server->url("/share/ok") + "址结</p>"}) {
            setVersionPage(page);
            auto run = makeRun();
            run->form->Form_Load();
            QCOMPARE(run->form->Text2->text(), QString());
            QCOMPARE(run->form->Text3->text(), QString());
            QVERIFY(run->desktop.boxes.empty());
        }
        QCOMPARE(hitsOf("/share/ok"), 0);
    }

    void aShareWithoutFrameIsALinkErrorAndOffersTheManualDownload() {
        setVersionPage(allFields(server->url("/share/none")));
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QTRY_COMPARE(run->desktop.boxes.size(), std::size_t(1));
        QCOMPARE(qs(run->desktop.boxes[0].text), kLinkError);
        QCOMPARE(qs(run->desktop.boxes[0].title), QString::fromUtf8("系统提示"));
        QCOMPARE(run->desktop.boxes[0].flags, 64);
        QVERIFY(!form.Command1->isVisibleTo(&form));
        QVERIFY(form.Command2->isVisibleTo(&form));
        QCOMPARE(form.Command2->text(), QString::fromUtf8("手动更新"));

        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(run->manual, std::vector<std::string>{" " + server->url("/share/none")});
    }

    void anUnreachableShareIsALinkError() {
        std::string closed;
        {
            LoopbackServer gone([](const std::string&) { return Answer{}; });
            closed = gone.url("/s");
        }
        setVersionPage(pageWith("<p>地 " + closed + "址结</p><p>方 m式结</p><p>更 n说结</p>"));
        auto run = makeRun();
        run->form->Form_Load();
        QTRY_COMPARE(run->desktop.boxes.size(), std::size_t(1));
        QCOMPARE(qs(run->desktop.boxes[0].text), kLinkError);
        QVERIFY(run->form->Command2->isVisibleTo(run->form.get()));
    }

    void unsafeFileNamesAreRefusedAndNothingIsWritten() {
        for (const char* name : {"..%2F..%2Fevil.exe", "%2Ftmp%2Fevil.exe", "..%5Cevil.exe",
                                 "C%3Aevil.exe", "", "..", "a%0Ab.exe", "%C0%AE%C0%AE%C0%AFevil"}) {
            // An empty name: no header at all.
            setDisposition(*name ? std::string("attachment; filename= ") + name : std::string());
            auto run = makeRun();
            TempFolder& app = run->app;
            run->form->Form_Load();
            QTRY_VERIFY2(!run->desktop.boxes.empty(), name);
            QCOMPARE(qs(run->desktop.boxes[0].text), kLinkError);
            QVERIFY(run->form->Command2->isVisibleTo(run->form.get()));
            QVERIFY(!finished(*run->form));
            // Only toconfigure/ is in the application folder; nothing beside it.
            for (const auto& entry : fs::directory_iterator(app.path()))
                QCOMPARE(entry.path().filename(), fs::path("toconfigure"));
            QVERIFY(!fs::exists(app.path().parent_path() / "evil.exe"));
            QVERIFY(!fs::exists("/tmp/evil.exe"));
        }
    }

    void aResponseWithoutSizeRestartsAFewTimesThenGivesUp() {
        setVersionPage(allFields(server->url("/share/chunked")));
        setLocation(server->url("/dl/chunked"));
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        const std::string message = run->desktop.boxes[0].text;
        QVERIFY(message.find(server->url("/share/chunked")) != std::string::npos);
        QCOMPARE(form.restarts(), updater::Form2::kMaxRestarts);
        // The resolution once, then one request per restart.
        QCOMPARE(hitsOf("/share/chunked"), 1 + updater::Form2::kMaxRestarts);
        QVERIFY(form.Command2->isVisibleTo(&form));
        QTest::qWait(200);
        QCOMPARE(run->desktop.boxes.size(), std::size_t(1));
        QVERIFY(!form.Inet1->StillExecuting());
    }

    void aTransferErrorShowsCodeAndInfoAndChangesNothing() {
        setLocation(server->url("/dl/missing"));
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        const auto& box = run->desktop.boxes[0];
        QVERIFY(box.text.rfind("404:", 0) == 0);
        QVERIFY(box.text.find(server->url("/dl/missing")) != std::string::npos);
        QCOMPARE(box.title, std::string());
        QCOMPARE(box.flags, 0);
        QVERIFY(!form.Command1->isVisibleTo(&form));
        QVERIFY(!form.Command2->isVisibleTo(&form));
    }

    void aDownloadFolderThatCannotBeMadeIsNamed() {
        auto run = makeRun();
        writeFile(run->app / "download", "a file where the folder should be");
        run->form->Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        QVERIFY(run->desktop.boxes[0].text.find("download") != std::string::npos);
        QVERIFY(run->form->Command2->isVisibleTo(run->form.get()));
        QVERIFY(!finished(*run->form));
        QVERIFY(!fs::exists(run->app / u8("更新.exe")));
    }

    // The status line of each transfer state, and "请等待..." after a
    // restart; states 8, 11 and 12 show none of their own.
    void transferStatesShowTheirTexts() {
        auto run = makeRun();
        auto& form = *run->form;
        const std::vector<std::pair<short, const char*>> texts{
            {1, "正在查找主机..."}, {2, "已经找到主机"},    {3, "正在联系主机"},
            {4, "已经连接到主机"},  {5, "正在发送请求..."}, {6, "成功发送请求"},
            {7, "正在接收回应..."}, {9, "正在断开连接..."}, {10, "已经断开连接"},
        };
        for (const auto& [state, expected] : texts) {
            form.Label1->setText("-");
            form.Inet1_StateChanged(state);
            QCOMPARE(form.Label1->text(), QString::fromUtf8(expected));
        }
        form.Label1->setText("-");
        form.Inet1_StateChanged(13); // not a state of the control
        QCOMPARE(form.Label1->text(), QString("-"));
        QVERIFY(run->desktop.boxes.empty());

        // A restart asks for the share page and says so.
        form.Form_Load();
        form.Inet1->Cancel();
        form.start();
        QCOMPARE(form.Label1->text(), QString::fromUtf8("请等待..."));
        form.Inet1->Cancel();
    }

    // A body that ends short of its announced size is a transfer error: the
    // old file stays, nothing is announced as done.
    void aShortDownloadIsATransferErrorAndReplacesNothing() {
        LoopbackServer shortHost([this](const std::string&) {
            return answerWith(
                "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n"
                "Content-Disposition: attachment; filename= %E6%9B%B4%E6%96%B0.exe\r\n\r\n" +
                body3000.substr(0, 1000));
        });
        setLocation(shortHost.url("/dl/short"));
        auto run = makeRun();
        writeFile(run->app / u8("更新.exe"), "old program");
        run->form->Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        const auto& box = run->desktop.boxes[0];
        QVERIFY2(box.text.find(shortHost.url("/dl/short")) != std::string::npos, box.text.c_str());
        QCOMPARE(box.flags, 0);
        QVERIFY(!finished(*run->form));
        QVERIFY(run->form->Label1->text() != QString::fromUtf8("升级成功"));
        QCOMPARE(readFile(run->app / u8("更新.exe")), std::string("old program"));
        QVERIFY(!fs::exists(run->app / "download" / u8("更新.exe")));
    }

    void aFailedCopyIsNotReportedAsSuccess() {
        auto run = makeRun();
        fs::create_directories(run->app / u8("更新.exe") / "in use");
        run->form->Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        QVERIFY(run->desktop.boxes[0].text.find("更新.exe") != std::string::npos);
        QVERIFY(!finished(*run->form));
        QVERIFY(run->form->Label1->text() != QString::fromUtf8("升级成功"));
        QVERIFY(fs::is_directory(run->app / u8("更新.exe") / "in use"));
        QVERIFY(readFile(run->app / "download" / u8("更新.exe")) == body3000);
    }

    // While the site takes its time, and while the file comes in and is
    // written, the window keeps working: a timer fires, it repaints, it
    // moves. Closing it ends the work at once, leaves the application folder
    // as it was, and nothing follows.
    void theWindowWorksMeanwhileAndClosingEndsTheWork() {
        const std::string fileHead = "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n"
                                     "Content-Disposition: attachment; filename= a.exe\r\n"
                                     "Connection: close\r\n\r\n";
        struct Case {
            const char* name;
            const char* share;    // on the slow server, or else on the site
            const char* location; // the same
            std::function<bool(const updater::Form2&)> underWay;
        };
        const Case cases[] = {
            {"resolving the link", "/share/slow", nullptr,
             [](const updater::Form2& f) { return f.Label1->text() == "-"; }},
            {"receiving the file", nullptr, "/dl/slow",
             [](const updater::Form2& f) { return f.contentLength() == 3000; }},
            {"writing the file", nullptr, nullptr,
             [](const updater::Form2& f) {
                 return f.Label3->text().startsWith(QString::fromUtf8("已经下载"));
             }},
        };
        for (const Case& c : cases) {
            // Holds what it is asked for until it goes, with the test case.
            LoopbackServer slow([&](const std::string&) {
                return Answer{{0ms, fileHead + body3000.substr(0, 1024)}, {60s, ""}};
            });
            LoopbackServer slowShare([](const std::string&) { return Answer{{60s, ""}}; });
            setVersionPage(allFields(c.share ? slowShare.url(c.share) : server->url("/share/ok")));
            setLocation(c.location ? slow.url(c.location) : server->url("/dl/big"));
            auto run = makeRun();
            auto& form = *run->form;
            writeFile(run->app / u8("更新.exe"), "old program");
            form.Form_Load();
            const auto before = folderContents(run->app.path());
            form.show();
            QTRY_VERIFY2(form.working() && c.underWay(form) &&
                             (!c.share || !slowShare.requests().empty()),
                         c.name);

            bool fired = false;
            QTimer::singleShot(1, [&] { fired = true; });
            PaintCounter counter;
            form.installEventFilter(&counter);
            form.update();
            const QPoint moved = form.pos() + QPoint(40, 30);
            form.move(moved);
            QTRY_VERIFY2(fired && counter.paints > 0 && form.pos() == moved, c.name);
            QVERIFY2(form.working(), c.name);

            QElapsedTimer clock;
            clock.start();
            QVERIFY(form.close());
            QVERIFY2(!form.working(), c.name);
            QVERIFY2(clock.elapsed() < 1000, c.name);
            QTest::qWait(200);
            QVERIFY2(folderContents(run->app.path()) == before, c.name);
            QVERIFY2(run->desktop.boxes.empty(), c.name);
            QVERIFY2(!finished(form), c.name);
        }
    }
};

QTEST_MAIN(UpdateWindowTest)
#include "update_window_test.moc"
