// Shows the main window and the update window and saves screenshots of them,
// the way a user meets them on a machine without an office suite (on Windows
// through COM; on Linux under a virtual display with a CJK font):
//   1. the main window at start (main-window.png),
//   2. in word.doc mode on a folder of documents, after a Word replace that
//      cannot start Word (main-window-word.png),
//   3. a Word replace under way through a slow stand-in for Word: the
//      progress bar and the stop button (main-window-running.png),
//   4. the update window offering a newer version (update-window.png).
// It runs from the deployed folder, with the program's own payloads, so the
// support files, toconfigure/ and the journal are written beside it.
// Exits 1, saying why, when the replace did not report that Word cannot be
// started or a screenshot could not be saved.
//
//   window_screenshots <output folder>

#include "batchreplace/main_window.h"
#ifdef _WIN32
#include "core/automation/com_win.h"
#endif
#include "core/platform/app_folder.h"
#include "core/text/paths.h"
#include "payloads/payloads.h"
#include "support/fake_desktop.h"
#include "update/splash_window.h"
#include "update/update_window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <thread>

namespace {

// Lets the window paint and the platform settle.
void settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

// The window with its frame, as the screen shows it.
bool shoot(QWidget& window, const QString& file) {
    window.move(40, 40);
    window.show();
    window.raise();
    window.activateWindow();
    settle(1500);
    const QRect frame = window.frameGeometry();
    QPixmap shot = QApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                             frame.height());
    // Some displays (Wine's on Xvfb) hand back a blank screen: the window
    // then paints itself, without its frame.
    const QImage image = shot.toImage();
    bool blank = true;
    for (int y = 0; blank && y < image.height(); y += 7)
        for (int x = 0; blank && x < image.width(); x += 7)
            blank = image.pixel(x, y) == image.pixel(0, 0);
    if (shot.isNull() || blank)
        shot = window.grab();
    const bool saved = shot.save(file, "PNG");
    std::printf("%s %s (%dx%d)\n", saved ? "saved" : "could not save", qPrintable(file),
                shot.width(), shot.height());
    return saved;
}

void writeDocument(const std::filesystem::path& file) {
    std::ofstream(file, std::ios::binary) << "x";
}

// A stand-in for Word that takes its time over each document and finds the
// text in every one. Each job gets its own instance.
class SlowWord : public automation::Dispatch {
public:
    automation::Value invoke(automation::CallKind, std::string_view member,
                             const automation::Args&) override {
        if (member == "Open")
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
        if (member == "Documents" || member == "Open" || member == "Content" || member == "Find" ||
            member == "ActiveDocument")
            return automation::Value(automation::Object(std::make_shared<SlowWord>()));
        if (member == "Execute")
            return automation::Value(true);
        return automation::Value();
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("batchreplace");
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_screenshots <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    bool ok = true;

    // Message boxes are printed, not shown: nobody is there to close them.
    testing_support::FakeDesktop desktop;
    automation::Registry registry;
#ifdef _WIN32
    automation::com::useSystemClasses(registry);
#endif
    const std::filesystem::path folder = platform::executableFolder();

    Form1 form1(folder, desktop, registry);
    form1.setPayloads(payloads::find);
    form1.Form_Load();
    ok &= shoot(form1, out + "/main-window.png");

    // A folder of documents, opened in word.doc mode, then the Word replace.
    const std::filesystem::path documents = folder / u8"示例文档";
    std::filesystem::create_directories(documents);
    for (const char8_t* name : {u8"年度报告.doc", u8"会议纪要.doc", u8"通知 2024.doc"})
        writeDocument(documents / name);
    form1.Option1->setChecked(true);
    QString error;
    if (!form1.Dir1->setPath(QString::fromStdU16String(documents.u16string()), error)) {
        std::printf("cannot open %s: %s\n",
                    qPrintable(QString::fromStdU16String(documents.u16string())),
                    qPrintable(error));
        ok = false;
    }
    form1.Text1->setPlainText("旧公司名称");
    form1.Text2->setPlainText("新公司名称");
    form1.Command1->click();
    // The run goes on the worker thread.
    while (form1.running())
        settle(100);
    const QString log = QString::fromStdString(form1.logText());
    std::printf("log: %s\n", log.toUtf8().constData());
    if (!log.startsWith("无法启动 Microsoft Word（word.Application）")) {
        std::printf("the Word replace did not report that Word cannot be started\n");
        ok = false;
    }
    ok &= shoot(form1, out + "/main-window-word.png");

    // A longer folder through the slow stand-in: the progress under the log,
    // which shows this run's lines only.
    form1.Text3->clear();
    registry.registerClass("word.Application",
                           [] { return automation::Object(std::make_shared<SlowWord>()); });
    const std::filesystem::path contracts = folder / text::pathFromUtf8("合同");
    std::filesystem::create_directories(contracts);
    for (int i = 1; i <= 12; ++i)
        writeDocument(contracts / text::pathFromUtf8("合同 2024-" +
                                                     std::to_string(100 + i).substr(1) + ".doc"));
    if (!form1.Dir1->setPath(QString::fromStdU16String(contracts.u16string()), error)) {
        std::printf("cannot open the contracts: %s\n", qPrintable(error));
        ok = false;
    }
    form1.Command1->click();
    while (form1.running() && form1.ProgressBar1->value() < 4)
        settle(100);
    if (!form1.running() || !form1.Command4->isVisible()) {
        std::printf("the run did not show its progress\n");
        ok = false;
    }
    ok &= shoot(form1, out + "/main-window-running.png");
    form1.Command4->click();
    while (form1.running())
        settle(100);
    std::printf("log: %s\n", form1.logText().c_str());
    form1.hide();

    // The update window on a version page that offers 1.5.9; the share link
    // leads nowhere, so the window stays on the offer.
    update_check::VersionInformation versions;
    versions.currentVersion = "1.5.8";
    versions.versionPageUrl = "http://127.0.0.1:9/version.html";
    const std::string page =
        "<html><body><p>最新版 1.5.9 发布</p><p>地 http://127.0.0.1:9/share/x址结</p>"
        "<p>方 自动下载覆盖式结</p><p>更 修正文档替换中的若干问题\r\n增加页眉页脚的字体设置说结</p>"
        "</body></html>";
    updater::Form2 form2(
        folder, desktop, versions,
        [page](const std::string&) { return std::optional<std::string>(page); },
        "http://127.0.0.1:9", [](const std::string&) {});
    form2.Form_Load();
    ok &= shoot(form2, out + "/update-window.png");

    for (const auto& box : desktop.boxes)
        std::printf("message box: %s\n", box.text.c_str());
    return ok ? 0 : 1;
}
