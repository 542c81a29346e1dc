#include "update/update_window.h"

#include "batchreplace_urls.h"
#include "core/config/version_files.h"
#include "core/text/paths.h"
#include "core/updater/download.h"
#include "desktop/twips.h"
#include "progressbutton/prog_button.h"
#include "update/inet_transfer.h"
#include "update/link_resolver.h"
#include "update/web_view.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <exception>
#include <limits>

namespace fs = std::filesystem;
using desktop::twipsRect;

namespace updater {

namespace {

const char* const kAutomatic = "自动更新";
const char* const kFinished = "更新完成";
const char* const kLinkError = "链接错误,请手动下载复制到该文件夹下覆盖即可！";
const char* const kSystemNotice = "系统提示";

QString q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// Leading and trailing blanks removed.
std::string trimBlanks(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string Form2::defaultShareBase() {
    return build_urls::shareBase;
}

Form2::Form2(fs::path appFolder, platform::DesktopServices& desktop,
             update_check::VersionInformation versions, PageFetcher fetchPage,
             std::string shareBase, ManualDownload manualDownload, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint),
      appFolder_(std::move(appFolder)), desktop_(desktop), versions_(std::move(versions)),
      fetchPage_(std::move(fetchPage)), shareBase_(std::move(shareBase)),
      manualDownload_(std::move(manualDownload)) {
    if (!manualDownload_)
        manualDownload_ = [this](const std::string& url) { showManualDownload(url, desktop_); };

    setWindowTitle(QString::fromUtf8("程序更新"));
    setFixedSize(desktop::twips(5085), desktop::twips(3300));

    QPalette green;
    green.setColor(QPalette::WindowText, QColor(0, 0xC0, 0));

    Label6 = new QLabel(QString::fromUtf8("当前版本："), this);
    Label6->setGeometry(twipsRect(120, 240, 960, 285));
    Text1 = new QLineEdit(this);
    Text1->setGeometry(twipsRect(1080, 240, 735, 285));
    Label1 = new QLabel("-", this);
    Label1->setGeometry(twipsRect(1920, 240, 3045, 285));
    Label1->setPalette(green);

    Label7 = new QLabel(QString::fromUtf8("最新版本："), this);
    Label7->setGeometry(twipsRect(120, 600, 960, 285));
    Text2 = new QLineEdit(this);
    Text2->setGeometry(twipsRect(1080, 600, 735, 285));
    Label3 = new QLabel("-", this);
    Label3->setGeometry(twipsRect(1920, 600, 3045, 285));
    Label3->setPalette(green);

    ProgButton1 = new ProgButton(this);
    ProgButton1->setGeometry(twipsRect(120, 960, 4815, 255));
    ProgButton1->setStyle(0);
    ProgButton1->setColor(3);
    ProgButton1->setCaption(QString());

    Label2[0] = new QLabel(QString::fromUtf8("更新方式："), this);
    Label2[0]->setGeometry(twipsRect(120, 1320, 960, 285));
    Text4 = new QLineEdit(this);
    Text4->setGeometry(twipsRect(1080, 1320, 3855, 285));
    Text3 = new QLineEdit(this);
    Text3->setGeometry(twipsRect(1200, 1320, 3735, 285));
    Text3->setVisible(false);

    Label2[1] = new QLabel(QString::fromUtf8("更新内容："), this);
    Label2[1]->setGeometry(twipsRect(120, 1800, 960, 285));
    Text5 = new QPlainTextEdit(this);
    Text5->setGeometry(twipsRect(1080, 1800, 3855, 855));
    Text5->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Command2 = new QPushButton(QString::fromUtf8("手动更新"), this);
    Command2->setGeometry(twipsRect(1200, 2760, 1095, 375));
    Command2->setVisible(false);
    Check1 = new QCheckBox(QString::fromUtf8("是否打开程序"), this);
    Check1->setGeometry(twipsRect(2280, 2880, 1455, 255));
    Check1->setVisible(false);
    Command1 = new QPushButton(QString::fromUtf8(kAutomatic), this);
    Command1->setGeometry(twipsRect(3720, 2760, 1215, 375));
    Command1->setVisible(false);

    Inet1 = new InetTransfer(this);
    resolver_ = new LinkResolver(this);
    // One chunk of the download per turn of the event loop.
    chunkTimer_ = new QTimer(this);
    chunkTimer_->setSingleShot(true);
    chunkTimer_->setInterval(0);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Inet1, &InetTransfer::StateChanged, this, &Form2::Inet1_StateChanged);
    connect(resolver_, &LinkResolver::resolved, this, &Form2::executeTransfer);
    connect(resolver_, &LinkResolver::failed, this, [this] { linkError(); });
    connect(chunkTimer_, &QTimer::timeout, this, &Form2::nextChunk);
}

Form2::~Form2() {
    stopWork();
}

bool Form2::working() const {
    return resolver_->running() || Inet1->StillExecuting() || chunkLoop_ != nullptr;
}

void Form2::stopWork() {
    resolver_->stop();
    Inet1->Cancel();
    chunkTimer_->stop();
    // The partial file and a download folder made for it go with them.
    chunkLoop_.reset();
    downloadFile_.reset();
}

void Form2::closeEvent(QCloseEvent* event) {
    stopWork();
    QWidget::closeEvent(event);
}

void Form2::Form_Load() {
    // 1. The installed version, as the splash read it.
    Text1->setText(q(versions_.currentVersion.value_or(std::string())));

    // 2. The version page once more. A failed fetch is an empty page.
    std::string page;
    if (fetchPage_) {
        try {
            page = fetchPage_(versions_.versionPageUrl).value_or(std::string());
        } catch (const std::exception&) {
            page.clear();
        }
    }

    // 3-4. Kept in updata.ini and read back with its lines joined.
    const fs::path info = config::updateInformationFile(appFolder_);
    std::string error;
    std::string all;
    if (config::WriteLine(info, page, error)) {
        all = config::ReadJoinedLines(info).value_or(std::string());
    } else {
        // An older copy must not stand in for this page: its lines are
        // joined here as the file would have given them
        // (a line ends at CR or CR LF; a lone LF belongs to its line).
        for (std::size_t i = 0; i < page.size(); ++i) {
            if (page[i] != '\r')
                all += page[i];
            else if (i + 1 < page.size() && page[i + 1] == '\n')
                ++i;
        }
    }

    // 5. The latest version; none, or zero, ends the load here.
    const auto version = config::CutVersion(all);
    if (!version || isZeroVersion(*version) || trimBlanks(*version).empty())
        return;
    Text2->setText(q(*version));

    // 6. The three fields in order; a missing one ends the load here.
    const struct {
        const char* start;
        const char* end;
        std::function<void(const QString&)> show;
    } fields[] = {
        {"地 ", "址结", [this](const QString& v) { Text3->setText(v); }},
        {"方 ", "式结", [this](const QString& v) { Text4->setText(v); }},
        {"更 ", "说结", [this](const QString& v) { Text5->setPlainText(v); }},
    };
    for (const auto& field : fields) {
        const auto value = config::CutField(all, field.start, field.end);
        if (!value)
            return;
        field.show(q(*value));
    }

    // 7-8. The share page's address, and the automatic update starts.
    sharePageUrl_ = trimBlanks(Text3->text().toStdString());
    Command1_Click();
}

void Form2::Command1_Click() {
    if (Command1->text() == QString::fromUtf8(kFinished)) {
        if (Check1->isChecked()) {
            std::string error;
            const fs::path program = appFolder_ / text::pathFromUtf8(downloadFileName_);
            if (!desktop_.startProgram(program, platform::show::MinimizedFocus, error))
                desktop_.messageBox(error, kSystemNotice,
                                    platform::mb::Ok | platform::mb::IconWarning);
        }
        desktop_.exitProgram(0);
        return;
    }

    restarts_ = 0;
    try {
        Label3->setText(QString());
        ProgButton1->setMax(100);
        ProgButton1->setValue(0);
        // The resolution goes on while the window works; the transfer
        // starts when it is done (executeTransfer).
        resolver_->start(sharePageUrl_, shareBase_);
    } catch (const std::exception&) {
        linkError();
    }
}

void Form2::executeTransfer(const std::string& location) {
    try {
        // An empty or unusable location is refused here, as a link error.
        Inet1->Execute(location, "GET");
    } catch (const std::exception&) {
        linkError();
    }
}

void Form2::linkError() {
    offerManualDownload(kLinkError);
}

void Form2::offerManualDownload(const std::string& message) {
    desktop_.messageBox(message, kSystemNotice, platform::mb::Ok | platform::mb::IconInformation);
    Command1->setVisible(false);
    Command2->setVisible(true);
}

void Form2::Command2_Click() {
    manualDownload_(Text3->text().toStdString());
}

void Form2::Inet1_StateChanged(short state) {
    auto status = [this](const char* text) { Label1->setText(QString::fromUtf8(text)); };
    switch (state) {
    case ic::HostResolvingHost:
        status("正在查找主机...");
        break;
    case ic::HostResolved:
        status("已经找到主机");
        break;
    case ic::Connecting:
        status("正在联系主机");
        break;
    case ic::Connected:
        status("已经连接到主机");
        break;
    case ic::Requesting:
        status("正在发送请求...");
        break;
    case ic::RequestSent:
        status("成功发送请求");
        break;
    case ic::ReceivingResponse:
        status("正在接收回应...");
        break;
    case ic::ResponseReceived:
        // The size check, once per transfer: no usable size restarts it.
        if (contentLength_ == 0) {
            const std::string header = Inet1->GetHeader("Content-Length");
            if (!header.empty())
                contentLength_ = contentLengthOf(header);
            if (contentLength_ == 0) {
                Label1->clear();
                start();
            }
        }
        break;
    case ic::Disconnecting:
        status("正在断开连接...");
        break;
    case ic::Disconnected:
        status("已经断开连接");
        break;
    case ic::Error:
        desktop_.messageBox(std::to_string(Inet1->ResponseCode()) + ":" + Inet1->ResponseInfo(), "",
                            platform::mb::Ok);
        break;
    case ic::ResponseCompleted:
        download();
        break;
    default:
        break;
    }
}

void Form2::start() {
    if (restarts_ >= kMaxRestarts) {
        // The same answer again and again: give up rather than loop.
        Inet1->Cancel();
        offerManualDownload("“" + sharePageUrl_ + "”的回应没有给出文件大小，已重试 " +
                            std::to_string(kMaxRestarts) +
                            " 次。请手动下载复制到该文件夹下覆盖即可！");
        return;
    }
    ++restarts_;
    contentLength_ = 0;
    ProgButton1->setValue(0);
    Label1->setText(QString());
    Inet1->RequestTimeout = 4;
    try {
        Inet1->Execute(trimBlanks(sharePageUrl_), "GET");
    } catch (const std::exception&) {
        linkError();
        return;
    }
    Label1->setText(QString::fromUtf8("请等待..."));
}

void Form2::download() {
    // 1. The file name from the network: only a plain name is used, so that
    //    nothing is written outside download/ and the application folder.
    const std::string name = DownloadFileName(Inet1->GetHeader("Content-Disposition"));
    if (!isPlainFileName(name)) {
        linkError();
        return;
    }
    downloadFileName_ = name;

    // 2-3. download/ and the file, written under a partial name until whole.
    downloadFile_ =
        std::make_unique<WholeFileWriter>(appFolder_ / "download" / text::pathFromUtf8(name));
    std::string error;
    if (!downloadFile_->open(error)) {
        downloadFile_.reset();
        offerManualDownload(error + "。请手动下载复制到该文件夹下覆盖即可！");
        return;
    }

    // 4-6. The size and the bar's maximum; the chunks follow turn by turn,
    //    the window handling its events in between.
    downloadSize_ = downloadSizeOf(Inet1->GetHeader("Content-length"));
    ProgButton1->setMax(roundToInt32(downloadSize_));
    chunkLoop_ = std::make_unique<ChunkLoop>(
        [this](int chunkSize) { return Inet1->GetChunk(chunkSize); }, *downloadFile_,
        contentLengthOf(Inet1->GetHeader("Content-length")), Inet1->url());
    chunkTimer_->start();
}

void Form2::nextChunk() {
    if (!chunkLoop_)
        return;
    // 7. One chunk, then its progress, and the window's turn.
    if (chunkLoop_->step()) {
        Label3->setText(q(progressText(chunkLoop_->received(), downloadSize_)));
        ProgButton1->setValue(roundToInt32(static_cast<double>(chunkLoop_->received())));
        chunkTimer_->start();
        return;
    }
    const ChunkLoopResult loop = chunkLoop_->result();
    chunkLoop_.reset();
    const std::unique_ptr<WholeFileWriter> file = std::move(downloadFile_);
    switch (loop.outcome) {
    case ChunkLoopResult::Outcome::WriteFailed:
        offerManualDownload(loop.error + "。请手动下载复制到该文件夹下覆盖即可！");
        return;
    case ChunkLoopResult::Outcome::Short:
        // A transfer error, as the control reports its own: the old file
        // stays, the partial one goes.
        desktop_.messageBox(loop.error + "。请稍后再试，或手动下载。", "", platform::mb::Ok);
        return;
    case ChunkLoopResult::Outcome::Complete:
        break;
    }
    // 8. The final line.
    Label3->setText(q(finishedText(loop.received, downloadSize_)));

    // 10, 12. The whole file takes its place in download/, then replaces
    //    the installed one; success is announced only when both are done.
    std::string error;
    const fs::path installed = appFolder_ / text::pathFromUtf8(downloadFileName_);
    if (!file->commit(error) || !replaceWithCopy(file->target(), installed, error)) {
        offerManualDownload(error + "。请手动复制到该文件夹下覆盖即可！");
        return;
    }

    // 9, 11. Done.
    Label1->setText(QString::fromUtf8("升级成功"));
    Check1->setVisible(true);
    Command1->setText(QString::fromUtf8(kFinished));
    Command1->setVisible(true);
}

void Form2::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

} // namespace updater
