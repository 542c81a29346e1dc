#include "update/splash_window.h"

#include "core/config/version_files.h"
#include "progressbutton/prog_button.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <limits>

namespace updater {

namespace {

const char* const kLoadingFiles = "载入系统文件...";
const char* const kLoadingSettings = "加载程序配置...";
const char* const kCheckingVersion = "检测版本信息...";
const char* const kLoaded = "  载入成功！";

} // namespace

Form1::Form1(std::filesystem::path appFolder, platform::DesktopServices& desktop,
             PageFetcher fetchPage, QWidget* parent)
    : QWidget(parent), appFolder_(std::move(appFolder)), desktop_(desktop),
      fetchPage_(std::move(fetchPage)) {
    setWindowTitle(QString::fromUtf8("自动更新"));
    setFixedSize(345, 58);

    Label1 = new QLabel(QString::fromUtf8(kLoadingFiles), this);
    Label1->setGeometry(12, 6, 321, 20);

    ProgButton1 = new ProgButton(this);
    ProgButton1->setGeometry(12, 32, 321, 17);
    ProgButton1->setStyle(0);
    ProgButton1->setColor(3);
    ProgButton1->setCaption(QString());

    // The versions are kept in fields that are not shown.
    Text1 = new QLineEdit(this);
    Text1->setVisible(false);
    Text2 = new QLineEdit(this);
    Text2->setVisible(false);

    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

void Form1::Form_Load() {
    // 1-3. The installed version (the last line of dqbb.ini), the version
    //    page's address (配置.ini) and the version the page offers. A page
    //    that cannot be fetched, or that carries no version, offers nothing.
    versions_ = update_check::readVersionInformation(appFolder_, fetchPage_);
    Text1->setText(QString::fromStdString(versions_.currentVersion.value_or(std::string())));
    Text2->setText(QString::fromStdString(versions_.offeredVersion.value_or(std::string())));
    versionsKnown_ = versions_.currentVersion.has_value() && versions_.offeredVersion.has_value();

    // 4. Blue background that is the window's transparent colour: only the
    //    label and the bar are seen.
    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    QPalette keyed = palette();
    keyed.setColor(QPalette::Window, QColor::fromRgb(KeyColour));
    setPalette(keyed);
    setAutoFillBackground(false);

    // 5. The animation from Min, every 10 ms.
    ProgButton1->setValue(ProgButton1->Min());
    Timer1->setInterval(10);
    Timer1->start();
    ProgButton1->setValue(ProgButton1->Min());
}

void Form1::Timer1_Timer() {
    const qint32 before = ProgButton1->Value();
    if (before < std::numeric_limits<qint32>::max())
        ProgButton1->setValue(before + 1);
    const qint32 v = ProgButton1->Value();

    // The highest threshold reached sets the text.
    if (v >= 10)
        Label1->setText(QString::fromUtf8(kLoadingFiles));
    if (v >= 30)
        Label1->setText(QString::fromUtf8(kLoadingSettings));
    if (v >= 60)
        Label1->setText(QString::fromUtf8(kCheckingVersion));
    if (v < 90)
        return;

    if (versionsKnown_ &&
        config::IsNewerVersion(Text1->text().toStdString(), Text2->text().toStdString())) {
        // The hand-over may take long (the update window resolves the link
        // before it shows): no tick may come in between.
        Timer1->stop();
        if (handOver_)
            handOver_();
        close();
        return;
    }
    Label1->setText(QString::fromUtf8(kLoaded));
    if (v >= 100) {
        Timer1->stop();
        desktop_.exitProgram(0);
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    Timer1->stop();
    QWidget::closeEvent(event);
}

} // namespace updater
