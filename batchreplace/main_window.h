#pragma once

// The main window: the mode choice, the folder and file lists, the inputs of
// the three batch operations, the log box, the detection status and the menus.

#include "batchreplace/folder_lists.h"
#include "batchreplace/run_worker.h"
#include "core/automation/automation.h"
#include "core/detection/suite_detection.h"
#include "core/engines/run.h"
#include "core/journal.h"
#include "core/platform/desktop.h"
#include "core/platform/processes.h"
#include "core/support_files/support_files.h"

#include <QMainWindow>

#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QCloseEvent;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    // `registry` serves the office suites' classes; `processes` lets the
    // open-document guard end a suite's processes.
    Form1(std::filesystem::path appFolder, platform::DesktopServices& desktop,
          automation::Registry& registry = automation::defaultRegistry(),
          platform::Processes& processes = platform::systemProcesses(), QWidget* parent = nullptr);

    // The start-up sequence; runs once before the window is shown.
    void Form_Load();

    // Where `wjsf` takes the support files from: the payloads linked into the
    // program. Without a source no support file is written.
    void setPayloads(support_files::PayloadSource source) { payloads_ = std::move(source); }
    // `wjsf`: writes the support files that are missing beside the program;
    // a file that cannot be written is named in a message and the start goes on.
    void wjsf();
    // The version page's address read by the update check.
    const std::string& versionPageUrl() const { return versionPageUrl_; }

    const std::filesystem::path& appFolder() const { return appFolder_; }
    platform::DesktopServices& desktop() const { return desktop_; }
    automation::Registry& registry() const { return registry_; }
    // Major, minor and revision of the program joined by "." (1.5.8).
    static std::string versionText();

    // The texts of the boxes as the operations read them: multi-line boxes
    // give their line breaks as CR LF.
    std::string text1() const;
    std::string text2() const;
    // The log box's whole text.
    std::string logText() const;
    // Appends the line and CR LF to the log box.
    void appendLog(const std::string& line);

    // `rz`, the journal writer of the window: appends `journalLine` with date
    // and time to the day's journal; an entry that cannot be written is
    // skipped and the caller goes on.
    void rz(const std::string& journalLine);

    // True while a batch run goes on (on its own thread): the run's inputs
    // are disabled and no second run starts; the window moves, repaints and
    // its log box scrolls and copies.
    bool running() const { return worker_->running(); }
    // Asks the run under way to stop after its current document.
    void stopRun();

    // Controls, named as the layout names them.
    QTabWidget* SSTab1;                  // the tabs; the first holds everything
    QGroupBox* Frame1;                   // lists and log box
    QGroupBox* Frame2;                   // "所在文件夹": Drive1 and Dir1
    QGroupBox* Frame3;                   // "选择文档格式": the four modes
    QGroupBox* Frame4;                   // "要替换的文档": File1
    QGroupBox* Frame5;                   // "Word 页眉 页脚 页码"
    QGroupBox* Frame6;                   // "文档 表格替换"
    QLabel* Label1;                      // "微软"
    QLabel* Label2;                      // suite detection status, three lines
    QLabel* Label3;                      // "金山wps"
    QLabel* Label5;                      // empty status area beside Label2
    std::array<QLabel*, 3> Label4;       // "字体", "字号", "加粗"
    QRadioButton* Option1;               // mode word.doc
    QRadioButton* Option2;               // mode excel.xls
    QRadioButton* Option3;               // mode wps.doc
    QRadioButton* Option4;               // mode wps.xls
    QRadioButton* Option5;               // write the header
    QRadioButton* Option6;               // write the footer
    DriveList* Drive1;                   // volumes
    DirList* Dir1;                       // the folder of a run
    FileList* File1;                     // the documents of a run
    QPlainTextEdit* Text1;               // text to find
    QPlainTextEdit* Text2;               // replacement
    QPlainTextEdit* Text3;               // log box, one line per result
    QLabel* Label6;                      // during a run: current document, time spent and left
    QProgressBar* ProgressBar1;          // during a run: documents done of the total
    QPushButton* Command4;               // during a run: "停止"
    QLineEdit* Text4;                    // header text
    QLineEdit* Text5;                    // footer text
    QLineEdit* Text6;                    // font name
    QLineEdit* Text7;                    // font size
    QComboBox* Combo1;                   // header placement
    QComboBox* Combo2;                   // footer placement, paired with Combo3
    QComboBox* Combo3;                   // page-number placement
    QCheckBox* Check1;                   // bold
    QCheckBox* Check2;                   // "包括子文件夹": the file list goes into subfolders
    QCheckBox* Check3;                   // "插入页码": page number in the footer
    QPushButton* Command1;               // Word batch replace
    QPushButton* Command2;               // Excel batch replace
    QPushButton* Command3;               // header and footer writer
    QTimer* Timer1;                      // title notice of a newer version
    QAction* gy;                         // menu "关于": the About box
    QMenu* gjgx;                         // menu "工具更新"
    QAction* gxqk;                       // "更新情况": starts the updater
    QAction* das;                        // menu "微信好友": the contact window
    QMenu* tableMenu;                    // menu "替换表"
    QAction* importTable;                // "导入替换表…": replace with the pairs of a file
    QAction* clearTable;                 // "清除替换表": back to the two text boxes
    QMenu* jobsMenu;                     // menu "同时处理": documents processed side by side
    std::array<QAction*, 4> jobsActions; // 1, 2, 3 or 4 documents at a time

    // The number of documents a run processes side by side (each with its own
    // office), 1 unless chosen in the menu.
    std::size_t jobs() const;
    // The replacement table in use, if one is loaded.
    const std::optional<std::vector<engines::ReplacePair>>& replaceTable() const { return table_; }

public slots:
    // Mode handlers: word.doc, excel.xls, wps.doc, wps.xls.
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    // Footer placement and page-number placement follow each other by list position.
    void Combo2_Click(int position);
    void Combo3_Click(int position);
    // The About box.
    void gy_Click();
    // Starts the updater and closes the window.
    void gxqk_Click();
    // Shows the contact window.
    void das_Click();
    // The user picked another drive.
    void Drive1_Change();
    // The folder list's path changed.
    void Dir1_Change();
    // Title notice of a newer version: the caption grows or starts over.
    void Timer1_Timer();
    // Word batch replace.
    void Command1_Click();
    // Excel batch replace.
    void Command2_Click();
    // Header and footer writer.
    void Command3_Click();
    // Stops the run under way.
    void Command4_Click();
    // The file list goes into subfolders, or no longer does.
    void Check2_Click();
    // Loads a replacement table chosen by the user; its errors are shown.
    void importTable_Click();
    // Returns to the two text boxes.
    void clearTable_Click();

signals:
    // A batch run has ended and its last line is in the log box.
    void runFinished();

private:
    void buildControls();
    void buildMenus();
    // Sets the file pattern, caption and prompts of a mode and enables the lists.
    void chooseMode(const char* pattern, QPushButton* button, const char* caption);
    // The office-suite detections: each probes its suite, writes its line
    // into `Label2` and enables or disables the suite's mode options.
    void Officebb(); // Microsoft Office
    void WPSV8bb();  // WPS up to version 8
    void WPSV9bb();  // WPS from version 9
    void detectSuite(detection::SuiteProbe probe);
    // The open-document guards for Word documents and Excel workbooks.
    void Wordjc();
    void Exceljc();
    // Clears the four mode options without running their handlers.
    void clearModeOptions();
    // Opens a folder of the folder list, or says why it cannot.
    void openFolder(const QString& folder);
    // Creates a working folder when missing; says so when it cannot.
    void ensureFolder(const char* name);
    void writeVersionFile();
    // Asks the version page for a newer release and shows the answer in the
    // update menu; starts the title notice when there is one.
    void CheckForUpdate();
    void showError(const std::string& text);
    // The inputs of a run of `operation`, copied from the controls.
    engines::RunRequest runRequest(engines::Operation operation) const;
    // Starts one batch operation on the worker thread; a run asked for while
    // one goes on is not started.
    void runBatch(engines::Operation operation);
    // Disables the run's inputs and shows the progress, or the reverse.
    void showRunning(bool on);
    void updateProgress();
    void runEnded();
    // Enables the buttons of the chosen mode when the file list holds files.
    void updateRunButtons();
    // Shows the table (or the typed texts) in the two text boxes.
    void showTable();

protected:
    // Closing during a run asks whether to stop it; the window closes when
    // the run has stopped.
    void closeEvent(QCloseEvent* event) override;

private:
    std::filesystem::path appFolder_;
    platform::DesktopServices& desktop_;
    automation::Registry& registry_;
    platform::Processes& processes_;
    journal::Journal journal_;
    QString currentDrive_;
    support_files::PayloadSource payloads_;
    std::string versionPageUrl_;
    // The lines of `Label2`.
    detection::StatusLines detectionStatus_;
    RunWorker* worker_;
    // The progress of the run under way.
    QTimer* progressTimer_;
    std::chrono::steady_clock::time_point runStarted_;
    std::size_t runTotal_ = 0;
    std::size_t runDone_ = 0;
    std::string runCurrent_;
    // The replacement table's pairs while one is loaded, and what the two
    // text boxes held before.
    std::optional<std::vector<engines::ReplacePair>> table_;
    std::string tableName_;
    QString typedFind_;
    QString typedReplacement_;
    // The user chose to stop the run and close the window.
    bool closeAfterRun_ = false;
};
