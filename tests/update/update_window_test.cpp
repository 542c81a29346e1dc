// The update window against a local version page, file-sharing site and
// download host.

#include "core/config/version_files.h"
#include "progressbutton/prog_button.h"
#include "support/fake_desktop.h"
#include "support/local_servers.h"
#include "support/temp_folder.h"
#include "update/inet_transfer.h"
#include "update/update_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <map>
#include <mutex>

using testing_support::FakeDesktop;
using testing_support::LocalHttpServer;
using testing_support::readFile;
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

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

class UpdateWindowTest : public QObject {
    Q_OBJECT

private:
    // The fake site: the version page, the share pages, the frame, the
    // download process, the redirect and the download host.
    LocalHttpServer server;
    std::mutex mutex;
    std::map<std::string, int> hits;
    std::string versionPage;
    std::string disposition;
    std::string location;
    const std::string body3000 = patterned(3000);

    void hit(const std::string& path) {
        std::lock_guard lock(mutex);
        ++hits[path];
    }
    int hitsOf(const std::string& path) {
        std::lock_guard lock(mutex);
        return hits[path];
    }

    std::string pageWith(const std::string& fields) {
        return "<html><body><p>最新版 1.5.9 发布</p>" + fields + "</body></html>";
    }
    std::string allFields(const std::string& share) {
        return pageWith("<p>地 " + server.url(share) + "址结</p><p>方 自动下载覆盖式结</p>" +
                        "<p>更 修正若干问题\r\n增加说明说结</p>");
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
        versions.versionPageUrl = server.url("/version");
        run->form = std::make_unique<updater::Form2>(
            run->app.path(), run->desktop, versions, update_check::fetchVersionPage, server.url(""),
            [r = run.get()](const std::string& url) { r->manual.push_back(url); });
        return run;
    }

    static bool finished(const updater::Form2& form) {
        return form.Command1->isVisibleTo(const_cast<updater::Form2*>(&form)) &&
               form.Command1->text() == QString::fromUtf8("更新完成");
    }

private slots:
    void initTestCase() {
        auto& s = server.server;
        s.Get("/version", [this](const httplib::Request&, httplib::Response& res) {
            hit("/version");
            res.set_content(versionPage, "text/html; charset=utf-8");
        });
        s.Get("/share/ok", [this](const httplib::Request&, httplib::Response& res) {
            hit("/share/ok");
            res.set_content("<iframe src=\"/fn?" + kFrame + "\"></iframe>", "text/html");
        });
        s.Get("/share/none", [this](const httplib::Request&, httplib::Response& res) {
            hit("/share/none");
            res.set_content("<html>文件取消分享了</html>", "text/html");
        });
        // A share page without a size, for the restarts.
        s.Get("/share/chunked", [this](const httplib::Request&, httplib::Response& res) {
            hit("/share/chunked");
            res.set_chunked_content_provider(
                "text/html", [](size_t offset, httplib::DataSink& sink) {
                    if (offset == 0) {
                        const std::string page = "<iframe src=\"/fn?" + kFrame + "\"></iframe>";
                        sink.write(page.data(), page.size());
                    } else {
                        sink.done();
                    }
                    return true;
                });
        });
        s.Get("/fn", [this](const httplib::Request&, httplib::Response& res) {
            hit("/fn");
            res.set_content("var posturl = '" + kSign +
                                "';\n{'action':'downprocess','sign':posturl}",
                            "text/html");
        });
        s.Post("/ajaxm.php", [this](const httplib::Request& req, httplib::Response& res) {
            hit("/ajaxm.php");
            // Like the real site, a wrong sign gets no file.
            if (req.body == "action=downprocess&sign=" + kSign + "&ves=1")
                res.set_content(R"({"zt":1,"dom":")" + server.url("") + R"(","url":"?f"})",
                                "text/html");
            else
                res.set_content(R"({"zt":0,"inf":"sign error"})", "text/html");
        });
        s.Get("/file/", [this](const httplib::Request&, httplib::Response& res) {
            hit("/file/");
            res.status = 302;
            res.set_header("Location", location);
        });
        s.Get("/dl/file", [this](const httplib::Request&, httplib::Response& res) {
            hit("/dl/file");
            if (!disposition.empty())
                res.set_header("Content-Disposition", disposition);
            res.set_content(body3000, "application/octet-stream");
        });
        s.Get("/dl/missing", [this](const httplib::Request&, httplib::Response& res) {
            hit("/dl/missing");
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        s.Get("/dl/chunked", [this](const httplib::Request&, httplib::Response& res) {
            hit("/dl/chunked");
            res.set_header("Content-Disposition", disposition);
            res.set_chunked_content_provider("application/octet-stream",
                                             [](size_t offset, httplib::DataSink& sink) {
                                                 if (offset == 0)
                                                     sink.write("abc", 3);
                                                 else
                                                     sink.done();
                                                 return true;
                                             });
        });
        server.start();
    }

    void init() {
        std::lock_guard lock(mutex);
        hits.clear();
        versionPage = allFields("/share/ok");
        disposition = "attachment; filename= %E6%9B%B4%E6%96%B0.exe";
        location = server.url("/dl/file");
    }

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
        QCOMPARE(form.Text3->text(), text(" " + server.url("/share/ok")));
        QCOMPARE(form.Text4->text(), QString::fromUtf8(" 自动下载覆盖"));
        // The line break inside the notes is lost.
        QCOMPARE(form.Text5->toPlainText(), QString::fromUtf8(" 修正若干问题增加说明"));
        QCOMPARE(form.sharePageUrl(), server.url("/share/ok"));
        QCOMPARE(readFile(config::updateInformationFile(run->app.path())), versionPage + "\r\n");
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
        versionPage = pageWith("<p>地 " + server.url("/share/ok") + "址结</p><p>方 自动" +
                               "</p><p>更 说明说结</p>");
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QCOMPARE(form.Text2->text(), QString("1.5.9"));
        QCOMPARE(form.Text3->text(), text(" " + server.url("/share/ok")));
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
              "<p>版 0.0.0</p><p>地 " + server.url("/share/ok") + "址结</p>"}) {
            versionPage = page;
            auto run = makeRun();
            run->form->Form_Load();
            QCOMPARE(run->form->Text2->text(), QString());
            QCOMPARE(run->form->Text3->text(), QString());
            QVERIFY(run->desktop.boxes.empty());
        }
        QCOMPARE(hitsOf("/share/ok"), 0);
    }

    void aShareWithoutFrameIsALinkErrorAndOffersTheManualDownload() {
        versionPage = allFields("/share/none");
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QCOMPARE(run->desktop.boxes.size(), std::size_t(1));
        QCOMPARE(text(run->desktop.boxes[0].text), kLinkError);
        QCOMPARE(text(run->desktop.boxes[0].title), QString::fromUtf8("系统提示"));
        QCOMPARE(run->desktop.boxes[0].flags, 64);
        QVERIFY(!form.Command1->isVisibleTo(&form));
        QVERIFY(form.Command2->isVisibleTo(&form));
        QCOMPARE(form.Command2->text(), QString::fromUtf8("手动更新"));

        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(run->manual, std::vector<std::string>{" " + server.url("/share/none")});
    }

    void anUnreachableShareIsALinkError() {
        int port = 0;
        ::close(testing_support::listenOnLoopback(port));
        versionPage = pageWith("<p>地 http://127.0.0.1:" + std::to_string(port) +
                               "/s址结</p><p>方 m式结</p><p>更 n说结</p>");
        auto run = makeRun();
        run->form->Form_Load();
        QCOMPARE(run->desktop.boxes.size(), std::size_t(1));
        QCOMPARE(text(run->desktop.boxes[0].text), kLinkError);
        QVERIFY(run->form->Command2->isVisibleTo(run->form.get()));
    }

    void unsafeFileNamesAreRefusedAndNothingIsWritten() {
        for (const char* name : {"..%2F..%2Fevil.exe", "%2Ftmp%2Fevil.exe", "..%5Cevil.exe",
                                 "C%3Aevil.exe", "", "..", "a%0Ab.exe", "%C0%AE%C0%AE%C0%AFevil"}) {
            // An empty name: no header at all.
            disposition = *name ? std::string("attachment; filename= ") + name : std::string();
            auto run = makeRun();
            TempFolder& app = run->app;
            run->form->Form_Load();
            QTRY_VERIFY2(!run->desktop.boxes.empty(), name);
            QCOMPARE(text(run->desktop.boxes[0].text), kLinkError);
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
        versionPage = allFields("/share/chunked");
        location = server.url("/dl/chunked");
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        const std::string message = run->desktop.boxes[0].text;
        QVERIFY(message.find(server.url("/share/chunked")) != std::string::npos);
        QCOMPARE(form.restarts(), updater::Form2::kMaxRestarts);
        // The resolution once, then one request per restart.
        QCOMPARE(hitsOf("/share/chunked"), 1 + updater::Form2::kMaxRestarts);
        QVERIFY(form.Command2->isVisibleTo(&form));
        QTest::qWait(200);
        QCOMPARE(run->desktop.boxes.size(), std::size_t(1));
        QVERIFY(!form.Inet1->StillExecuting());
    }

    void aTransferErrorShowsCodeAndInfoAndChangesNothing() {
        location = server.url("/dl/missing");
        auto run = makeRun();
        auto& form = *run->form;
        form.Form_Load();
        QTRY_VERIFY(!run->desktop.boxes.empty());
        const auto& box = run->desktop.boxes[0];
        QVERIFY(box.text.rfind("404:", 0) == 0);
        QVERIFY(box.text.find(server.url("/dl/missing")) != std::string::npos);
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
        testing_support::RawServer shortHost(
            "HTTP/1.1 200 OK\r\nContent-Length: 3000\r\n"
            "Content-Disposition: attachment; filename= %E6%9B%B4%E6%96%B0.exe\r\n\r\n" +
            body3000.substr(0, 1000));
        location = shortHost.url("/dl/short");
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
};

QTEST_MAIN(UpdateWindowTest)
#include "update_window_test.moc"
