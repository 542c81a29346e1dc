#include "batchreplace/main_window.h"
#include "core/text/paths.h"

#include "batchreplace/contact_window.h"
#include "batchreplace/decoration.h"
#include "batchreplace_version.h"
#include "core/config/version_files.h"
#include "core/detection/document_guard.h"
#include "core/detection/suite_detection.h"
#include "core/documents/folder_listing.h"
#include "core/engines/builtin_engines.h"
#include "core/engines/pairs_file.h"
#include "core/engines/prescan.h"
#include "core/platform/app_folder.h"
#include "core/text/encoding.h"
#include "core/update_check/update_check.h"
#include "desktop/twips.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <system_error>

using desktop::twipsRect;

namespace {

// Client area of the window, in twips.
constexpr int kClientWidth = 9810;
constexpr int kClientHeight = 7440;
// Height of the tab strip: controls on a tab are placed relative to the tab
// control, the page starts below its strip.
constexpr int kTabStripTwips = 300;

const QColor kLightPink(255, 192, 192);
const QColor kLightOrange(255, 224, 192);
const QColor kLightGreen(192, 255, 192);
const QColor kRed(255, 0, 0);
const QColor kPurple(192, 0, 192);

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A menu caption shown as written: '&' would otherwise mark a shortcut key.
QString menuText(const std::string& s) {
    return q(s).replace('&', "&&");
}

void setBackground(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

// Multi-line boxes hold their line breaks as CR LF, as the operations expect.
std::string boxText(const QPlainTextEdit* box) {
    QString t = box->toPlainText();
    t.replace("\n", "\r\n");
    return t.toStdString();
}

template <typename W> W* place(W* w, int left, int top, int width, int height) {
    w->setGeometry(twipsRect(left, top, width, height));
    return w;
}

} // namespace

Form1::Form1(std::filesystem::path appFolder, platform::DesktopServices& desktop,
             automation::Registry& registry, platform::Processes& processes, QWidget* parent)
    : QMainWindow(parent), appFolder_(std::move(appFolder)), desktop_(desktop), registry_(registry),
      processes_(processes), journal_(appFolder_) {
    buildControls();
    buildMenus();
}

std::string Form1::versionText() {
    return std::to_string(build_version::major) + "." + std::to_string(build_version::minor) + "." +
           std::to_string(build_version::revision);
}

void Form1::buildControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(desktop::twips(kClientWidth), desktop::twips(kClientHeight));
    setCentralWidget(client);

    SSTab1 = place(new QTabWidget(client), 20, 120, 9735, 6135);
    auto* tab0 = new QWidget;
    SSTab1->addTab(tab0, "文档替换添加");
    SSTab1->addTab(new QWidget, "功能添加中1");
    SSTab1->addTab(new QWidget, "功能添加中2");
    SSTab1->setCurrentIndex(0);
    // Positions on the tab are given relative to the tab control.
    auto onTab = [](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(twipsRect(left - 30, top - kTabStripTwips, width, height));
    };

    // Mode choice.
    Frame3 = new QGroupBox("选择文档格式", tab0);
    onTab(Frame3, 120, 360, 9495, 615);
    Label1 = place(new QLabel("微软", Frame3), 360, 280, 375, 255);
    setTextColour(Label1, kRed);
    Option1 = place(new QRadioButton("word.doc", Frame3), 960, 280, 1095, 180);
    Option2 = place(new QRadioButton("excel.xls", Frame3), 2160, 240, 1215, 255);
    Label3 = place(new QLabel("金山wps", Frame3), 6240, 285, 735, 255);
    setTextColour(Label3, kPurple);
    Option3 = place(new QRadioButton("wps.doc", Frame3), 6960, 240, 1095, 300);
    Option4 = place(new QRadioButton("wps.xls", Frame3), 8040, 240, 1095, 300);
    // Radio buttons are at least as tall as their indicator.
    for (QRadioButton* o : {Option1, Option2, Option3, Option4})
        o->setMinimumHeight(18);

    // Lists and the log.
    Frame1 = new QGroupBox(tab0);
    onTab(Frame1, 120, 1080, 5295, 4935);
    setBackground(Frame1, kLightGreen);
    Frame2 = place(new QGroupBox("所在文件夹", Frame1), 120, 240, 2565, 2985);
    Drive1 = place(new DriveList(Frame2), 120, 360, 2340, 300);
    Dir1 = place(new DirList(Frame2), 120, 750, 2340, 2190);
    Frame4 = place(new QGroupBox("要替换的文档", Frame1), 2760, 240, 2400, 2985);
    File1 = place(new FileList(Frame4), 120, 240, 2175, 2325);
    File1->setExcludedFolders(documents::programFolders(appFolder_));
    Check2 = place(new QCheckBox("包括子文件夹", Frame4), 120, 2610, 2175, 300);
    Check2->setMinimumHeight(18);
    Text3 = place(new QPlainTextEdit(Frame1), 120, 3240, 5055, 1575);
    Text3->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text3->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text3->setReadOnly(true);
    // The progress of a run, under the log box; shown only while one goes.
    Label6 = place(new QLabel(Frame1), 120, 4305, 3840, 240);
    ProgressBar1 = place(new QProgressBar(Frame1), 120, 4560, 3840, 270);
    Command4 = place(new QPushButton("停止", Frame1), 4035, 4305, 1140, 525);
    for (QWidget* w : std::initializer_list<QWidget*>{Label6, ProgressBar1, Command4})
        w->hide();

    // The replace operations.
    Frame6 = new QGroupBox("文档 表格替换", tab0);
    onTab(Frame6, 5520, 3840, 4095, 2175);
    setBackground(Frame6, kLightPink);
    new ShapeOutline(Frame6, twipsRect(40, 240, 3975, 1095));
    Text1 = place(new QPlainTextEdit(Frame6), 100, 360, 3855, 360);
    Text1->setPlainText("输入原内容\n");
    Text2 = place(new QPlainTextEdit(Frame6), 100, 840, 3840, 375);
    Text2->setPlainText("输入新替换内容\n");
    for (QPlainTextEdit* box : {Text1, Text2}) {
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // Tab moves to the next control, as in a Windows text box: a typed
        // tab would become part of the text to find.
        box->setTabChangesFocus(true);
    }
    Command1 = place(new QPushButton("doc文档替换", Frame6), 240, 1440, 1335, 495);
    Command2 = place(new QPushButton("xls表格替换", Frame6), 2580, 1440, 1335, 495);

    // Header and footer settings.
    Frame5 = new QGroupBox("Word 页眉 页脚 页码", tab0);
    onTab(Frame5, 5520, 1080, 4095, 2655);
    setBackground(Frame5, kLightOrange);
    new ShapeOutline(Frame5, twipsRect(50, 210, 3990, 1780));
    new ShapeOutline(Frame5, twipsRect(1260, 1335, 1695, 615));
    Option5 = place(new QRadioButton("页眉内容", Frame5), 120, 360, 1025, 180);
    Option6 = place(new QRadioButton("页脚内容", Frame5), 120, 840, 1025, 255);
    Check3 = place(new QCheckBox("插入页码", Frame5), 120, 1320, 1025, 250);
    for (QWidget* w : std::initializer_list<QWidget*>{Option5, Option6, Check3}) {
        w->setMinimumHeight(18);
        setBackground(w, kLightOrange);
    }
    Text4 = place(new QLineEdit(Frame5), 1320, 360, 1575, 375);
    Text5 = place(new QLineEdit(Frame5), 1320, 885, 1575, 375);
    Combo1 = place(new QComboBox(Frame5), 3120, 360, 855, 300);
    Combo2 = place(new QComboBox(Frame5), 3120, 840, 855, 300);
    Combo3 = place(new QComboBox(Frame5), 3120, 1320, 855, 300);
    // Combo boxes react to choices from their list only (`activated`); typed
    // text chooses nothing.
    auto fillCombo = [](QComboBox* box, const QStringList& items, const QString& text) {
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->addItems(items);
        box->setCurrentIndex(-1);
        box->setEditText(text);
        box->setMinimumHeight(20);
    };
    fillCombo(Combo1, {"居左", "居右", "居中"}, "居中");
    fillCombo(Combo2, {"居右", "居左", "居右", "居中"}, "居左");
    fillCombo(Combo3, {"居中1", "居中2", "居左", "居右"}, "居中1");
    Label4[0] = place(new QLabel("字体", Frame5), 1515, 1365, 375, 255);
    Label4[1] = place(new QLabel("字号", Frame5), 2100, 1365, 375, 255);
    Label4[2] = place(new QLabel("加粗", Frame5), 2550, 1365, 375, 255);
    Text6 = place(new QLineEdit("宋体", Frame5), 1395, 1605, 615, 270);
    Text7 = place(new QLineEdit("10", Frame5), 2070, 1605, 375, 270);
    Check1 = place(new QCheckBox(Frame5), 2580, 1605, 210, 300);
    setBackground(Check1, kLightOrange);
    Command3 = place(new WrappingButton("批量插入页眉页脚页码", Frame5), 240, 2040, 1215, 495);

    // Below the tab control.
    Label2 = place(new QLabel(client), 120, 6360, 5295, 975);
    Label5 = place(new QLabel(client), 5520, 6360, 4215, 975);
    for (QLabel* l : {Label2, Label5}) {
        setBackground(l, kLightGreen);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setWordWrap(true);
    }

    worker_ = new RunWorker(this);
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(1000);
    connect(progressTimer_, &QTimer::timeout, this, &Form1::updateProgress);
    connect(worker_, &RunWorker::documentStarted, this,
            [this](std::size_t, const std::string& document) {
                runCurrent_ = document;
                updateProgress();
            });
    connect(worker_, &RunWorker::result, this, [this](const engines::ResultLine& line) {
        appendLog(line.log);
        rz(line.journal);
    });
    connect(worker_, &RunWorker::documentFinished, this,
            [this](std::size_t, const engines::DocumentOutcome&) {
                ++runDone_;
                updateProgress();
            });
    connect(worker_, &RunWorker::finished, this, &Form1::runEnded);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);

    for (QPushButton* b : {Command1, Command2, Command3})
        b->setEnabled(false);

    // The lists start on the current folder of the process.
    const QString start = QDir::currentPath();
    QString error;
    if (!Dir1->setPath(start, error))
        Dir1->setPath(QDir::rootPath(), error);
    Drive1->selectVolumeOf(Dir1->path());
    currentDrive_ = Drive1->drive();
    File1->setPattern(documents::kWordDocumentsPattern.data());
    File1->setPath(Dir1->path());

    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option1_Click();
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option2_Click();
    });
    connect(Option3, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option3_Click();
    });
    connect(Option4, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Option4_Click();
    });
    connect(Combo2, &QComboBox::activated, this, &Form1::Combo2_Click);
    connect(Combo3, &QComboBox::activated, this, &Form1::Combo3_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Check2, &QCheckBox::clicked, this, &Form1::Check2_Click);
    connect(Drive1, &DriveList::changed, this, &Form1::Drive1_Change);
    connect(Dir1, &DirList::openRequested, this, &Form1::openFolder);
    connect(Dir1, &DirList::changed, this, &Form1::Dir1_Change);
}

void Form1::buildMenus() {
    gy = menuBar()->addAction("关于");
    gjgx = menuBar()->addMenu("工具更新");
    gxqk = gjgx->addAction("更新情况");
    das = menuBar()->addAction("微信好友");
    connect(gy, &QAction::triggered, this, &Form1::gy_Click);
    connect(gxqk, &QAction::triggered, this, &Form1::gxqk_Click);
    connect(das, &QAction::triggered, this, &Form1::das_Click);

    tableMenu = menuBar()->addMenu("替换表");
    importTable = tableMenu->addAction("导入替换表…");
    clearTable = tableMenu->addAction("清除替换表");
    clearTable->setEnabled(false);
    connect(importTable, &QAction::triggered, this, &Form1::importTable_Click);
    connect(clearTable, &QAction::triggered, this, &Form1::clearTable_Click);

    jobsMenu = menuBar()->addMenu("同时处理");
    auto* jobsGroup = new QActionGroup(this);
    for (std::size_t i = 0; i < jobsActions.size(); ++i) {
        QAction* action = jobsMenu->addAction(QString("%1 个文档").arg(i + 1));
        action->setCheckable(true);
        action->setData(int(i + 1));
        jobsGroup->addAction(action);
        jobsActions[i] = action;
    }
    jobsActions[0]->setChecked(true);
    // A fixed border: the user cannot resize the window.
    setFixedSize(sizeHint());
}

// ---------------------------------------------------------------- start-up

void Form1::Form_Load() {
    ensureFolder("Journal");
    ensureFolder("toconfigure");
    wjsf();
    writeVersionFile();
    setWindowTitle(q("晴木V" + versionText()));
    Officebb();
    WPSV8bb();
    WPSV9bb();
    Timer1->stop();
    clearModeOptions();
    Dir1->setEnabled(false);
    Drive1->setEnabled(false);
    CheckForUpdate();
}

void Form1::wjsf() {
    const std::vector<std::string> messages =
        support_files::writeMissingSupportFiles(appFolder_, payloads_);
    if (messages.empty())
        return;
    std::string text;
    for (const std::string& m : messages)
        text += (text.empty() ? "" : "\r\n") + m;
    showError(text);
}

void Form1::ensureFolder(const char* name) {
    const std::filesystem::path folder = appFolder_ / name;
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec))
        return;
    std::filesystem::create_directory(folder, ec);
    if (ec)
        showError("无法创建文件夹“" + text::pathToUtf8(folder) + "”：" + ec.message() +
                  "。请检查程序所在文件夹是否可写。");
}

void Form1::writeVersionFile() {
    std::string error;
    if (!config::WriteVersionFile(appFolder_, versionText(), error))
        showError(error + "。请检查该文件夹是否可写。");
}

void Form1::CheckForUpdate() {
    const update_check::VersionInformation found = update_check::readVersionInformation(appFolder_);
    versionPageUrl_ = found.versionPageUrl;
    if (found.isNewer()) {
        gjgx->setTitle("工具更新了");
        gxqk->setText(menuText("最新版本（ " + *found.offeredVersion + "）点击更新"));
        gxqk->setEnabled(true);
        Timer1->start();
    } else {
        // Anything unknown counts as no newer version.
        gxqk->setText("没有最新版本");
        gxqk->setEnabled(false);
    }
}

void Form1::Timer1_Timer() {
    // The caption grows by the notice until it reaches 60 UTF-16 code units,
    // then starts over from the fixed title.
    const QString caption = windowTitle();
    setWindowTitle(caption.size() < 60 ? caption + "    有更新了 "
                                       : QString("批量替换Word--excel文档内容 "));
}

void Form1::showError(const std::string& text) {
    desktop_.messageBox(text, "系统提示", platform::mb::Ok | platform::mb::IconWarning);
}

namespace {

// The mode options and the journal as the detection sees them.
class DetectionAdapter : public detection::DetectionView {
public:
    explicit DetectionAdapter(Form1& form) : form_(form) {}
    void setModeEnabled(detection::DocumentMode mode, bool enabled) override {
        using detection::DocumentMode;
        QRadioButton* option = mode == DocumentMode::WordDoc    ? form_.Option1
                               : mode == DocumentMode::ExcelXls ? form_.Option2
                               : mode == DocumentMode::WpsDoc   ? form_.Option3
                                                                : form_.Option4;
        option->setEnabled(enabled);
    }
    void writeJournal(const std::string& entry) override { form_.rz(entry); }

private:
    Form1& form_;
};

} // namespace

void Form1::detectSuite(detection::SuiteProbe probe) {
    DetectionAdapter view(*this);
    probe(registry_, view, detectionStatus_);
    // The caption is the lines joined by CR LF; a Qt label breaks at LF.
    QStringList lines;
    for (const std::string& line : detectionStatus_)
        lines << q(line);
    Label2->setText(lines.join('\n'));
}

void Form1::Officebb() {
    detectSuite(&detection::probeMicrosoftOffice);
}

void Form1::WPSV8bb() {
    detectSuite(&detection::probeWpsV8);
}

void Form1::WPSV9bb() {
    detectSuite(&detection::probeWpsV9);
}

void Form1::Wordjc() {
    detection::guardOpenWordDocuments({registry_, desktop_, processes_});
}

void Form1::Exceljc() {
    detection::guardOpenExcelWorkbooks({registry_, desktop_, processes_});
}

void Form1::clearModeOptions() {
    for (QRadioButton* o : {Option1, Option2, Option3, Option4}) {
        const QSignalBlocker block(o);
        o->setAutoExclusive(false);
        o->setChecked(false);
        o->setAutoExclusive(true);
    }
}

// ---------------------------------------------------------------- modes

void Form1::chooseMode(const char* pattern, QPushButton* button, const char* caption) {
    File1->setPattern(pattern);
    button->setText(caption);
    // A loaded table stays in the boxes; the prompts come back with the boxes.
    typedFind_ = "请输入要替换原内容";
    typedReplacement_ = "请输入新替换内容";
    if (!table_)
        showTable();
    Dir1->setEnabled(true);
    Drive1->setEnabled(true);
}

void Form1::Option1_Click() {
    Wordjc();
    chooseMode(documents::kWordDocumentsPattern.data(), Command1, "文档内容替换");
}

void Form1::Option2_Click() {
    Exceljc();
    chooseMode(documents::kWorkbooksPattern.data(), Command2, "表格内容替换");
}

void Form1::Option3_Click() {
    Wordjc();
    chooseMode(documents::kWordDocumentsPattern.data(), Command1, "文档内容替换");
}

void Form1::Option4_Click() {
    Exceljc();
    chooseMode(documents::kWorkbooksPattern.data(), Command2, "表格内容替换");
}

// ---------------------------------------------------------------- lists

void Form1::Drive1_Change() {
    const QString drive = Drive1->drive();
    // Picking the drive already chosen leaves the folder where it is.
    if (drive == currentDrive_)
        return;
    QString error;
    if (!Dir1->setPath(drive, error)) {
        showError(error.toStdString());
        Drive1->selectDrive(currentDrive_);
        return;
    }
    currentDrive_ = drive;
}

void Form1::openFolder(const QString& folder) {
    QString error;
    if (!Dir1->setPath(folder, error))
        showError(error.toStdString());
}

void Form1::Dir1_Change() {
    // A folder on another volume (a mount point) shows that volume.
    Drive1->selectVolumeOf(Dir1->path());
    currentDrive_ = Drive1->drive();
    File1->setPath(Dir1->path());
    updateRunButtons();
}

void Form1::updateRunButtons() {
    const bool hasFiles = File1->fileCount() > 0;
    if (Option1->isChecked() || Option3->isChecked()) {
        Command1->setEnabled(hasFiles);
        Command3->setEnabled(hasFiles);
    }
    if (Option2->isChecked() || Option4->isChecked())
        Command2->setEnabled(hasFiles);
}

// ---------------------------------------------------------------- batch runs

engines::RunRequest Form1::runRequest(engines::Operation operation) const {
    engines::RunRequest request;
    request.operation = operation;
    if (Option1->isChecked())
        request.mode = engines::Mode::WordDoc;
    else if (Option2->isChecked())
        request.mode = engines::Mode::ExcelXls;
    else if (Option3->isChecked())
        request.mode = engines::Mode::WpsDoc;
    else if (Option4->isChecked())
        request.mode = engines::Mode::WpsXls;
    request.folder = Dir1->path().toStdString();
    for (int i = 0; i < File1->fileCount(); ++i)
        request.documents.push_back(File1->fileName(i));
    if (table_)
        request.pairs = *table_;
    else
        request.pairs = {{text1(), text2()}};
    request.jobs = jobs();
    engines::HeaderFooterSettings& settings = request.headerFooter;
    settings.header = Option5->isChecked();
    settings.footer = Option6->isChecked();
    settings.headerText = Text4->text().toStdString();
    settings.footerText = Text5->text().toStdString();
    settings.headerPlacement = Combo1->currentText().toStdString();
    settings.footerPlacement = Combo2->currentText().toStdString();
    settings.pageNumber = Check3->isChecked();
    settings.pageNumberPlacement = Combo3->currentText().toStdString();
    settings.fontName = Text6->text().toStdString();
    settings.fontSize = Text7->text().toStdString();
    settings.bold = Check1->isChecked();
    return request;
}

namespace {

// Minutes and seconds (hours too when there are any).
std::string clockText(std::chrono::seconds time) {
    const long long total = time.count();
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", total / 60, total % 60);
    return text;
}

} // namespace

void Form1::runBatch(engines::Operation operation) {
    if (running())
        return;
    const engines::RunRequest request = runRequest(operation);
    engines::RunServices services{registry_};
    if (operation != engines::Operation::HeaderFooter) {
        services.prescan = &engines::filePrescan();
        services.builtin = &engines::builtinEngines();
    }
    runTotal_ = request.documents.size();
    runDone_ = 0;
    runCurrent_.clear();
    runStarted_ = std::chrono::steady_clock::now();
    worker_->start(
        [request, services](engines::RunReporter& reporter, const engines::RunControl& control) {
            return engines::run(request, services, reporter, &control);
        });
    showRunning(true);
}

void Form1::showRunning(bool on) {
    // The run's inputs; the log box stays usable.
    for (QWidget* w : std::initializer_list<QWidget*>{Frame2, Frame3, Frame4, Frame5, Frame6})
        w->setEnabled(!on);
    for (QMenu* menu : {gjgx, tableMenu, jobsMenu})
        menu->setEnabled(!on);
    // The progress takes the lower part of the log box.
    Text3->setGeometry(twipsRect(120, 3240, 5055, on ? 1050 : 1575));
    for (QWidget* w : std::initializer_list<QWidget*>{Label6, ProgressBar1, Command4})
        w->setVisible(on);
    Command4->setEnabled(on);
    Command4->setText("停止");
    if (on) {
        ProgressBar1->setRange(0, int(runTotal_));
        updateProgress();
        progressTimer_->start();
    } else {
        progressTimer_->stop();
    }
}

void Form1::updateProgress() {
    // The bar: documents done of the total, the time spent and left (from
    // the pace so far).
    ProgressBar1->setValue(int(runDone_));
    const auto spent = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - runStarted_);
    std::string times = "已用 " + clockText(spent);
    if (runDone_ > 0 && runDone_ < runTotal_)
        times += "，剩余约 " + clockText(std::chrono::seconds(
                                   spent.count() * static_cast<long long>(runTotal_ - runDone_) /
                                   static_cast<long long>(runDone_)));
    else if (runDone_ == 0)
        times += "，剩余时间估算中";
    ProgressBar1->setFormat("%v/%m　" + q(times));
    // Above it: the document under way, shortened in the middle to fit.
    const QString current = q(runCurrent_);
    Label6->setText(
        Label6->fontMetrics().elidedText("正在处理：" + current, Qt::ElideMiddle, Label6->width()));
    Label6->setToolTip(current);
}

void Form1::runEnded() {
    showRunning(false);
    emit runFinished();
    if (closeAfterRun_)
        close();
}

void Form1::stopRun() {
    if (!running())
        return;
    worker_->requestStop();
    Command4->setEnabled(false);
    Command4->setText("正在停止…");
}

void Form1::Command4_Click() {
    stopRun();
}

void Form1::Command1_Click() {
    runBatch(engines::Operation::WordReplace);
}

void Form1::Command2_Click() {
    runBatch(engines::Operation::ExcelReplace);
}

void Form1::Command3_Click() {
    runBatch(engines::Operation::HeaderFooter);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (running()) {
        // The window closes once the run has finished its current document.
        event->ignore();
        if (closeAfterRun_)
            return;
        if (desktop_.messageBox("正在批量处理文档。要停止处理并关闭窗口吗？\r\n"
                                "正在处理的文档会先处理完，其余文档不再处理。",
                                "系统提示",
                                platform::mb::YesNo | platform::mb::IconQuestion |
                                    platform::mb::DefaultButton2) != platform::answer::Yes)
            return;
        closeAfterRun_ = true;
        stopRun();
        return;
    }
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------- run settings

std::size_t Form1::jobs() const {
    for (QAction* action : jobsActions)
        if (action->isChecked())
            return std::size_t(action->data().toInt());
    return 1;
}

void Form1::Check2_Click() {
    File1->setSubfolders(Check2->isChecked());
    updateRunButtons();
    // Subfolders that could not be read are named; the others are listed.
    const std::vector<std::string>& warnings = File1->warnings();
    if (!warnings.empty()) {
        std::string text;
        for (const std::string& w : warnings)
            text += (text.empty() ? "" : "\r\n") + w;
        showError(text);
    }
}

void Form1::importTable_Click() {
    const std::filesystem::path file =
        desktop_.chooseFileToOpen("导入替换表", "替换表 (*.txt *.tsv);;所有文件 (*)");
    if (file.empty())
        return;
    std::vector<engines::ReplacePair> pairs;
    std::string error;
    if (!engines::readPairsFile(file, pairs, error)) {
        showError(error);
        return;
    }
    if (!table_) {
        typedFind_ = Text1->toPlainText();
        typedReplacement_ = Text2->toPlainText();
    }
    table_ = std::move(pairs);
    tableName_ = text::pathToUtf8(file.filename());
    showTable();
}

void Form1::clearTable_Click() {
    if (!table_)
        return;
    table_.reset();
    tableName_.clear();
    showTable();
}

void Form1::showTable() {
    for (QPlainTextEdit* box : {Text1, Text2})
        box->setReadOnly(table_.has_value());
    if (table_) {
        Text1->setPlainText(q("替换表：" + tableName_));
        Text2->setPlainText(q("共 " + std::to_string(table_->size()) + " 组替换内容"));
    } else {
        Text1->setPlainText(typedFind_);
        Text2->setPlainText(typedReplacement_);
    }
    clearTable->setEnabled(table_.has_value());
}

// ---------------------------------------------------------------- combo pairing

void Form1::Combo2_Click(int position) {
    if (position >= 0 && position < Combo3->count())
        Combo3->setEditText(Combo3->itemText(position));
}

void Form1::Combo3_Click(int position) {
    if (position >= 0 && position < Combo2->count())
        Combo2->setEditText(Combo2->itemText(position));
}

// ---------------------------------------------------------------- menus

void Form1::gy_Click() {
    desktop_.messageBox("软件制作：batchreplace 开发组\r\n"
                        "联系方式：batchreplace@example.org\r\n"
                        "建议意见：软件使用请提供宝贵意见，不定期更新，谢谢！",
                        "信息提示", platform::mb::Ok | platform::mb::IconInformation);
}

void Form1::gxqk_Click() {
    const std::filesystem::path updater = appFolder_ / platform::updaterFileName();
    std::string error;
    if (!desktop_.startProgram(updater, platform::show::Normal, error)) {
        showError(error);
        return;
    }
    close();
}

void Form1::das_Click() {
    Form3 form3(this);
    form3.exec();
}

// ---------------------------------------------------------------- texts and journal

std::string Form1::text1() const {
    return boxText(Text1);
}

std::string Form1::text2() const {
    return boxText(Text2);
}

std::string Form1::logText() const {
    return boxText(Text3);
}

void Form1::appendLog(const std::string& line) {
    // The box shows line breaks; its text reads back with CR LF. The line
    // goes to the end without touching the user's selection; the box follows
    // the new lines unless the user has scrolled up to read.
    QScrollBar* bar = Text3->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor end(Text3->document());
    end.movePosition(QTextCursor::End);
    end.insertText(q(line) + "\n");
    if (following)
        bar->setValue(bar->maximum());
}

void Form1::rz(const std::string& journalLine) {
    (void)journal_.rz(journalLine);
}
