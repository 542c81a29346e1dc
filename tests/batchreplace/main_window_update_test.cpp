// The main window's start: support files, the update check against a local
// version page, the update menu's captions and the title notice.

#include "batchreplace/main_window.h"
#include "core/config/version_files.h"
#include "core/platform/app_folder.h"
#include "support/fake_desktop.h"
#include "support/fake_suites.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <map>
#include <memory>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::FakeDesktop;
using testing_support::LoopbackServer;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

class Form1UpdateTest : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackServer> server;
    std::unique_ptr<TempFolder> app;
    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<automation::Registry> registry;
    detection_fakes::FakeProcesses processes;
    std::unique_ptr<Form1> form;
    std::map<int, std::string> payloads;

    // Points the configuration file at `path` of the local version page, as
    // a user's edited (or the shipped) file would.
    void configure(const std::string& path) {
        fs::create_directory(*app / "toconfigure");
        writeFile(config::configurationFile(app->path()), server->url(path) + std::string(2, '\0'));
    }

    void start() {
        form = std::make_unique<Form1>(app->path(), *desktop, *registry, processes);
        form->setPayloads([this](int id) -> std::optional<std::string_view> {
            auto it = payloads.find(id);
            if (it == payloads.end())
                return std::nullopt;
            return std::string_view(it->second);
        });
        form->Form_Load();
    }

    static int units(const QString& s) { return static_cast<int>(s.size()); }

    void expectNoNewerVersion() {
        QCOMPARE(form->gjgx->title(), QString("工具更新"));
        QCOMPARE(form->gxqk->text(), QString("没有最新版本"));
        QVERIFY(!form->gxqk->isEnabled());
        QVERIFY(!form->Timer1->isActive());
    }

private slots:
    void init() {
        server = std::make_unique<LoopbackServer>([](const std::string& request) {
            const std::map<std::string, std::string> pages{
                {"/post/newer", "<p>版 1.5.9 地 http://127.0.0.1/x址结</p>"},
                {"/post/same", "<p>版 1.5.8 </p>"},
                {"/post/older", "<p>版 1.5.7 </p>"},
                {"/post/ampersand", "<p>版 9&1.0</p>"},
            };
            const auto page = pages.find(testing_support::targetOf(request));
            return Answer{{0ms, page == pages.end()
                                    ? testing_support::reply("404 Not Found", "", "")
                                    : testing_support::reply(
                                          "200 OK", "Content-Type: text/html; charset=utf-8\r\n",
                                          page->second)}};
        });
        app = std::make_unique<TempFolder>();
        desktop = std::make_unique<FakeDesktop>();
        registry = std::make_unique<automation::Registry>();
        payloads.clear();
        QDir::setCurrent(QString::fromStdString(app->path().string()));
    }

    void cleanup() {
        form.reset();
        QDir::setCurrent(QDir::rootPath());
        app.reset();
        server.reset();
    }

    void newerVersionIsAnnouncedInTheMenuAndTitle() {
        configure("/post/newer");
        start();
        QCOMPARE(readFile(config::currentVersionFile(app->path())), std::string("1.5.8\r\n"));
        QCOMPARE(form->gjgx->title(), QString("工具更新了"));
        QCOMPARE(form->gxqk->text(), QString("最新版本（ 1.5.9）点击更新"));
        QVERIFY(form->gxqk->isEnabled());
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->Timer1->interval(), 1000);
        QCOMPARE(form->versionPageUrl(), server->url("/post/newer"));
        QVERIFY(desktop->boxes.empty());

        // The start-up title has 8 code units; each tick adds 9 until 60 is
        // reached, then the fixed 20-unit title follows.
        QCOMPARE(form->windowTitle(), QString("晴木V1.5.8"));
        QList<int> lengths;
        for (int tick = 0; tick < 8; ++tick) {
            form->Timer1_Timer();
            lengths << units(form->windowTitle());
        }
        QCOMPARE(lengths, QList<int>({17, 26, 35, 44, 53, 62, 20, 29}));
        QCOMPARE(form->windowTitle().left(20), QString("批量替换Word--excel文档内容 "));

        // The timer itself drives the notice, once a second.
        const QString before = form->windowTitle();
        QTRY_VERIFY_WITH_TIMEOUT(form->windowTitle() != before, 3000);
        QCOMPARE(form->windowTitle(), before + "    有更新了 ");
    }

    // Each tick of the notice: below 60 UTF-16 code units the caption grows
    // by the 9-unit notice; from 60 on it starts over from the 20-unit title.
    void theNoticeStartsOverAtSixtyUnits() {
        configure("/post/newer");
        start();
        const QString notice = "    有更新了 ";
        const QString fixed = "批量替换Word--excel文档内容 ";
        const QString fiftyNine = QString(57, 'a') + "晴木";
        const struct {
            QString before;
            QString after;
        } ticks[] = {
            {"", notice},
            {fiftyNine, fiftyNine + notice},
            {QString(58, 'a') + "晴木", fixed},
            // A character outside the basic plane counts as two units.
            {QString(58, 'a') + "😀", fixed},
            {fixed, fixed + notice},
        };
        for (const auto& tick : ticks) {
            form->setWindowTitle(tick.before);
            form->Timer1_Timer();
            QCOMPARE(form->windowTitle(), tick.after);
        }
    }

    void sameOrOlderVersionDisablesTheEntry() {
        for (const char* path : {"/post/same", "/post/older"}) {
            configure(path);
            start();
            expectNoNewerVersion();
            QTest::qWait(1200);
            QCOMPARE(form->windowTitle(), QString("晴木V1.5.8"));
            QVERIFY(desktop->boxes.empty());
        }
    }

    void unreachableOrMissingPageCountsAsNoNewerVersion() {
        configure("/post/no-such-page");
        start();
        expectNoNewerVersion();

        std::string closed;
        {
            LoopbackServer gone([](const std::string&) { return Answer{}; });
            closed = gone.url("/post/x");
        }
        writeFile(config::configurationFile(app->path()), closed);
        start();
        expectNoNewerVersion();
        QVERIFY(desktop->boxes.empty());
    }

    void captionShowsTheOfferedVersionAsWritten() {
        configure("/post/ampersand");
        start();
        // Shown as "最新版本（ 9&1.0）点击更新": the ampersand is no shortcut mark.
        QCOMPARE(form->gxqk->text(), QString("最新版本（ 9&&1.0）点击更新"));
        QVERIFY(form->gxqk->isEnabled());
    }

    void firstStartWritesTheSupportFilesBeforeTheCheck() {
        for (int id = 102; id <= 107; ++id)
            payloads[id] = "payload " + std::to_string(id);
        // The shipped configuration file names the local version page.
        payloads[101] = server->url("/post/newer") + std::string(2, '\0');
        start();
        QCOMPARE(readFile(config::configurationFile(app->path())), payloads[101]);
        QCOMPARE(readFile(*app / platform::updaterFileName()), payloads[102]);
        QCOMPARE(readFile(*app / "toconfigure" / "SkinH.she"), payloads[107]);
        QCOMPARE(form->gxqk->text(), QString("最新版本（ 1.5.9）点击更新"));

        // A second start keeps the user's configuration.
        writeFile(config::configurationFile(app->path()), server->url("/post/same"));
        start();
        expectNoNewerVersion();
    }

    void unwritableSupportFileIsNamedAndTheStartGoesOn() {
        for (int id = 101; id <= 107; ++id)
            payloads[id] = "payload " + std::to_string(id);
        // A file where the toconfigure folder belongs.
        writeFile(*app / "toconfigure", "not a folder");
        start();
        bool named = false;
        const std::u8string config = config::configurationFile(app->path()).u8string();
        for (const auto& box : desktop->boxes)
            named = named ||
                    box.text.find(std::string(config.begin(), config.end())) != std::string::npos;
        QVERIFY(named);
        // The updater went beside the program, and the window is usable.
        QCOMPARE(readFile(*app / platform::updaterFileName()), payloads[102]);
        expectNoNewerVersion();
        QCOMPARE(form->windowTitle(), QString("晴木V1.5.8"));
    }
};

QTEST_MAIN(Form1UpdateTest)
#include "main_window_update_test.moc"
