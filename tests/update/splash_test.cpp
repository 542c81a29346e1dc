#include "core/config/version_files.h"
#include "progressbutton/prog_button.h"
#include "support/fake_desktop.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"
#include "update/splash_window.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <stdexcept>
#include <vector>

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::FakeDesktop;
using testing_support::LoopbackServer;
using testing_support::TempFolder;
using testing_support::writeFile;

namespace {

const QString kLoadingFiles = QString::fromUtf8("载入系统文件...");
const QString kLoadingSettings = QString::fromUtf8("加载程序配置...");
const QString kCheckingVersion = QString::fromUtf8("检测版本信息...");
const QString kLoaded = QString::fromUtf8("  载入成功！");
const std::string kPageUrl = "https://versions.example.org/post/1a2b_3c4d";

// An application folder with the two shared files (absent when nullptr).
void prepare(const TempFolder& app, const char* dqbb, const std::string* config) {
    std::filesystem::create_directories(app / "toconfigure");
    if (dqbb)
        writeFile(config::currentVersionFile(app.path()), dqbb);
    if (config)
        writeFile(config::configurationFile(app.path()), *config);
}

std::string pageOffering(const std::string& version) {
    return "<html><body><p>最新版 " + version + " 发布</p></body></html>";
}

// A version page fetcher that answers from a script and records the calls.
struct ScriptedPage {
    std::optional<std::string> page;
    bool fails = false;
    std::vector<std::string> calls = {};

    updater::PageFetcher fetcher() {
        return [this](const std::string& url) -> std::optional<std::string> {
            calls.push_back(url);
            if (fails)
                throw std::runtime_error("connection refused: " + url);
            return page;
        };
    }
};

// A version page on 127.0.0.1 offering `version` at /post/1a2b_3c4d.
LoopbackServer::Handler pageServer(const std::string& version) {
    return [version](const std::string&) {
        return Answer{
            {0ms, testing_support::reply("200 OK", "Content-Type: text/html; charset=utf-8\r\n",
                                         pageOffering(version))}};
    };
}

void tick(updater::Form1& form, int times) {
    for (int i = 0; i < times; ++i)
        form.Timer1_Timer();
}

} // namespace

class SplashTest : public QObject {
    Q_OBJECT

private slots:
    void loadReadsFilesFetchesAndStartsTheAnimation() {
        TempFolder app;
        const std::string config = kPageUrl + "\r\n";
        prepare(app, "1.5.8\r\n", &config);
        ScriptedPage page{pageOffering("1.5.9")};
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, page.fetcher());
        form.Form_Load();

        QCOMPARE(page.calls, std::vector<std::string>{kPageUrl});
        QCOMPARE(form.versionInformation().currentVersion, std::optional<std::string>("1.5.8"));
        QCOMPARE(form.versionInformation().versionPageUrl, kPageUrl);
        QCOMPARE(form.Text1->text(), QStringLiteral("1.5.8"));
        QCOMPARE(form.Text2->text(), QStringLiteral("1.5.9"));
        QCOMPARE(form.windowTitle(), QString::fromUtf8("自动更新"));
        QCOMPARE(form.Label1->text(), kLoadingFiles);
        QVERIFY(form.Timer1->isActive());
        QCOMPARE(form.Timer1->interval(), 10);
        QCOMPARE(form.ProgButton1->Value(), 0);
        QCOMPARE(form.ProgButton1->Style(), 0);
        QCOMPARE(form.ProgButton1->Color(), 3);
        QVERIFY(form.ProgButton1->Caption().isEmpty());
        // Blue is the transparent colour: the window draws no background.
        QVERIFY(form.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(form.palette().color(QPalette::Window), QColor(0, 0, 255));
    }

    void newerVersionRunsThroughTheTextsAndHandsOverAtNinety() {
        TempFolder app;
        const std::string config = kPageUrl + "\r\n";
        prepare(app, "1.5.8\r\n", &config);
        ScriptedPage page{pageOffering("1.5.9")};
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, page.fetcher());
        int handOvers = 0;
        bool tickingAtHandOver = true;
        // The hand-over may take long: no tick may come while it runs.
        form.setHandOver([&] {
            ++handOvers;
            tickingAtHandOver = form.Timer1->isActive();
        });
        form.Form_Load();
        form.show();

        // Tick by tick: the bar follows, the text of the highest threshold.
        const std::vector<std::pair<int, QString>> expected{
            {1, kLoadingFiles},     {9, kLoadingFiles},     {10, kLoadingFiles},
            {29, kLoadingFiles},    {30, kLoadingSettings}, {59, kLoadingSettings},
            {60, kCheckingVersion}, {89, kCheckingVersion}};
        int done = 0;
        for (const auto& [at, text] : expected) {
            tick(form, at - done);
            done = at;
            QCOMPARE(form.ProgButton1->Value(), at);
            QCOMPARE(form.Label1->text(), text);
        }
        QCOMPARE(handOvers, 0);
        QVERIFY(form.isVisible());

        tick(form, 1);
        QCOMPARE(handOvers, 1);
        QVERIFY(!tickingAtHandOver);
        QVERIFY(!form.isVisible());
        QVERIFY(!form.Timer1->isActive());
        QVERIFY(!desktop.exitCode.has_value());
        QCOMPARE(form.Label1->text(), kCheckingVersion);
    }

    void sameVersionSaysLoadedAtNinetyAndEndsAtHundred() {
        TempFolder app;
        const std::string config = kPageUrl + "\r\n";
        prepare(app, "1.5.8\r\n", &config);
        ScriptedPage page{pageOffering("1.5.8")};
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, page.fetcher());
        int handOvers = 0;
        form.setHandOver([&] { ++handOvers; });
        form.Form_Load();
        QVERIFY(form.versionsKnown());

        tick(form, 89);
        QCOMPARE(form.Label1->text(), kCheckingVersion);
        tick(form, 1);
        QCOMPARE(form.Label1->text(), kLoaded);
        tick(form, 9);
        QCOMPARE(form.ProgButton1->Value(), 99);
        QVERIFY(!desktop.exitCode.has_value());
        QVERIFY(form.Timer1->isActive());

        tick(form, 1);
        QCOMPARE(desktop.exitCode, std::optional<int>(0));
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(handOvers, 0);
        QCOMPARE(form.Label1->text(), kLoaded);
    }

    void twoLineVersionFileUsesTheSecondLine() {
        TempFolder app;
        const std::string config = kPageUrl + "\r\n";
        prepare(app, "1.5.7\r\n1.5.8\r\n", &config);
        // Against the first line 1.5.8 would be newer; against the second it is not.
        ScriptedPage page{pageOffering("1.5.8")};
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, page.fetcher());
        form.Form_Load();
        QCOMPARE(form.versionInformation().currentVersion, std::optional<std::string>("1.5.8"));
        QCOMPARE(form.Text1->text(), QStringLiteral("1.5.8"));
        tick(form, 100);
        QCOMPARE(desktop.exitCode, std::optional<int>(0));
    }

    void shippedConfigurationEndsItsAddressWithZeroBytes() {
        TempFolder app;
        const std::string config = kPageUrl + std::string("\0\0", 2);
        prepare(app, "1.5.8\r\n", &config);
        ScriptedPage page{pageOffering("1.5.8")};
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, page.fetcher());
        form.Form_Load();
        QCOMPARE(page.calls, std::vector<std::string>{kPageUrl});
        QCOMPARE(form.versionInformation().versionPageUrl, kPageUrl);
    }

    void withoutVersionInformationNothingNewerIsOffered_data() {
        QTest::addColumn<bool>("withDqbb");
        QTest::addColumn<bool>("withConfig");
        QTest::addColumn<bool>("fetchFails");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("fetches");

        const QString newer = QString::fromStdString(pageOffering("9.9.9"));
        QTest::newRow("dqbb.ini missing") << false << true << false << true << newer << 1;
        QTest::newRow("配置.ini missing") << true << false << false << true << newer << 0;
        QTest::newRow("fetch fails") << true << true << true << true << newer << 1;
        QTest::newRow("answer not 200") << true << true << false << false << newer << 1;
        QTest::newRow("no version marker")
            << true << true << false << true << QStringLiteral("<html>版本 9.9.9</html>") << 1;
    }

    void withoutVersionInformationNothingNewerIsOffered() {
        QFETCH(bool, withDqbb);
        QFETCH(bool, withConfig);
        QFETCH(bool, fetchFails);
        QFETCH(bool, answers);
        QFETCH(QString, page);
        QFETCH(int, fetches);

        TempFolder app;
        const std::string config = kPageUrl + "\r\n";
        prepare(app, withDqbb ? "1.5.8\r\n" : nullptr, withConfig ? &config : nullptr);
        ScriptedPage scripted;
        if (answers)
            scripted.page = page.toStdString();
        scripted.fails = fetchFails;
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, scripted.fetcher());
        int handOvers = 0;
        form.setHandOver([&] { ++handOvers; });
        form.Form_Load();

        QCOMPARE(int(scripted.calls.size()), fetches);
        QVERIFY(!form.versionsKnown());
        QVERIFY(form.Timer1->isActive());
        tick(form, 90);
        QCOMPARE(form.Label1->text(), kLoaded);
        QCOMPARE(handOvers, 0);
        tick(form, 10);
        QCOMPARE(desktop.exitCode, std::optional<int>(0));
    }

    void emptyVersionFileCountsAsTheOldestVersion() {
        // An empty dqbb.ini is a version, the empty one: every offer is newer.
        TempFolder app;
        const std::string config = kPageUrl + "\r\n";
        prepare(app, "", &config);
        ScriptedPage page{pageOffering("0.0.1")};
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop, page.fetcher());
        int handOvers = 0;
        form.setHandOver([&] { ++handOvers; });
        form.Form_Load();
        tick(form, 90);
        QCOMPARE(handOvers, 1);
        QVERIFY(!desktop.exitCode.has_value());
    }

    void realFetchReadsTheLocalVersionPage() {
        LoopbackServer server(pageServer("1.5.9"));

        TempFolder app;
        const std::string config = server.url("/post/1a2b_3c4d") + "\r\n";
        prepare(app, "1.5.8\r\n", &config);
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop);
        form.Form_Load();
        QCOMPARE(server.requests().size(), std::size_t(1));
        QVERIFY(form.versionsKnown());
        QCOMPARE(form.Text2->text(), QStringLiteral("1.5.9"));
    }

    void realFetchThatFailsOffersNothing() {
        // A port nothing listens on: the request fails at once.
        std::string config;
        {
            LoopbackServer gone([](const std::string&) { return Answer{}; });
            config = gone.url("/post/1") + "\r\n";
        }

        TempFolder app;
        prepare(app, "1.5.8\r\n", &config);
        FakeDesktop desktop;
        updater::Form1 form(app.path(), desktop);
        form.Form_Load();
        QVERIFY(!form.versionsKnown());
        QVERIFY(form.Text2->text().isEmpty());
        tick(form, 100);
        QCOMPARE(desktop.exitCode, std::optional<int>(0));
    }

    void programEndsByItselfWhenNothingNewerIsOffered() {
        LoopbackServer server(pageServer("1.5.8"));

        TempFolder app;
        const std::string config = server.url("/post/1a2b_3c4d") + "\r\n";
        prepare(app, "1.5.8\r\n", &config);
        const std::filesystem::path built = UPDATE_PROGRAM;
        const auto program = app / built.filename();
        std::filesystem::copy_file(built, program);

        QProcess update;
        update.setProgram(QString::fromStdString(program.string()));
        update.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef _WIN32
        // The copy finds the Qt libraries and plugins deployed beside the
        // built program, and shows its windows where the test does.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString builtFolder =
            QDir::toNativeSeparators(QString::fromStdString(built.parent_path().string()));
        environment.insert("PATH", builtFolder + ";" + environment.value("PATH"));
        environment.insert("QT_PLUGIN_PATH", builtFolder);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        update.setProcessEnvironment(environment);
#endif
        update.start();
        QVERIFY(update.waitForStarted(10000));
        // About a second of animation; a slow machine gets much longer.
        QVERIFY2(update.waitForFinished(30000), "the updater did not end by itself");
        QCOMPARE(update.exitStatus(), QProcess::NormalExit);
        QCOMPARE(update.exitCode(), 0);
        QCOMPARE(server.requests().size(), std::size_t(1));
    }
};

QTEST_MAIN(SplashTest)
#include "splash_test.moc"
