#pragma once

// The update window `Form2`. On loading it fetches the version page again,
// keeps it in toconfigure/updata.ini, shows the versions, the update method
// and the release notes, and starts the automatic update by itself: it
// resolves the share link of the new release to a file address, downloads
// the file in chunks of 1024 bytes into download/, and copies it over the
// file of the same name in the application folder. When the link cannot be
// resolved it offers the manual download instead.
//
// The resolution runs on a thread of its own and the download as events of
// the window's thread, so the window keeps repainting, moving and answering
// meanwhile. Closing it ends the work under way and leaves the application
// folder as it was.

#include "core/platform/desktop.h"
#include "update/splash_window.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class ProgButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace updater {

class ChunkLoop;
class InetTransfer;
class LinkResolver;
class WholeFileWriter;

// Opens the share page for a download by hand (the web view, or the
// system's browser).
using ManualDownload = std::function<void(const std::string& sharePageUrl)>;

class Form2 : public QWidget {
    Q_OBJECT

public:
    // `versions`: the installed version and the version page's address, as
    // the splash read them. `shareBase`: the file-sharing site's base
    // address, without a trailing slash. `manualDownload`: what "手动更新"
    // opens; by default the web view.
    Form2(std::filesystem::path appFolder, platform::DesktopServices& desktop,
          update_check::VersionInformation versions,
          PageFetcher fetchPage = update_check::fetchVersionPage,
          std::string shareBase = defaultShareBase(), ManualDownload manualDownload = {},
          QWidget* parent = nullptr);
    ~Form2() override;

    // The file-sharing site this build resolves share links on.
    static std::string defaultShareBase();

    // How often a response without a usable size restarts the transfer
    // before the window gives up and offers the manual download.
    static constexpr int kMaxRestarts = 3;

    // Load: versions, updata.ini, the three fields, then `Command1_Click`.
    // Runs before the window is shown and returns once the resolution has
    // started; a page that lacks the version or a field stops it with all
    // buttons hidden.
    void Form_Load();
    // Finishes (caption "更新完成") or starts the automatic update: the
    // resolution of the share link, after which the transfer starts.
    void Command1_Click();
    // Opens the share page for a download by hand.
    void Command2_Click();
    // The transfer's states: status texts, the size check, the download.
    void Inet1_StateChanged(short state);
    // Requests the share page again after a response without a usable size.
    void start();

    // The name of the downloaded file, decoded; set when the response is
    // complete.
    const std::string& downloadFileName() const { return downloadFileName_; }
    const std::string& sharePageUrl() const { return sharePageUrl_; }
    std::int32_t contentLength() const { return contentLength_; }
    int restarts() const { return restarts_; }
    // True while the resolution, the transfer or the writing of the file
    // goes on.
    bool working() const;

    // Controls, named as the layout names them.
    QLabel* Label6;
    QLineEdit* Text1; // current version
    QLabel* Label1;   // transfer status line
    QLabel* Label7;
    QLineEdit* Text2; // latest version
    QLabel* Label3;   // download progress text
    ProgButton* ProgButton1;
    std::array<QLabel*, 2> Label2;
    QLineEdit* Text4;      // update method
    QLineEdit* Text3;      // share-page address (hidden)
    QPlainTextEdit* Text5; // release notes
    QPushButton* Command2; // "手动更新"
    QCheckBox* Check1;     // "是否打开程序"
    QPushButton* Command1; // "自动更新", later "更新完成"
    InetTransfer* Inet1;

protected:
    void showEvent(QShowEvent* event) override;
    // Closing ends the work under way.
    void closeEvent(QCloseEvent* event) override;

private:
    // The resolution is done: the transfer starts from `location`.
    void executeTransfer(const std::string& location);
    void linkError();
    void offerManualDownload(const std::string& message);
    // State 12: the file is written chunk by chunk (`nextChunk`), then put in
    // place.
    void download();
    void nextChunk();
    // Ends the resolution, the transfer and the writing of the file; what
    // was written is removed.
    void stopWork();

    std::filesystem::path appFolder_;
    platform::DesktopServices& desktop_;
    update_check::VersionInformation versions_;
    PageFetcher fetchPage_;
    std::string shareBase_;
    ManualDownload manualDownload_;
    std::string sharePageUrl_;
    std::string downloadFileName_;
    std::int32_t contentLength_ = 0;
    int restarts_ = 0;
    bool centred_ = false;
    LinkResolver* resolver_;
    QTimer* chunkTimer_;
    std::unique_ptr<WholeFileWriter> downloadFile_;
    std::unique_ptr<ChunkLoop> chunkLoop_;
    float downloadSize_ = 0;
};

} // namespace updater
