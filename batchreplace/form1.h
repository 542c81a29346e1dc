#pragma once

// The main window: the mode choice, the folder and file lists, the inputs of
// the three batch operations, the log box, the detection status and the menus.

#include "batchreplace/folder_lists.h"
#include "core/automation/automation.h"
#include "core/journal.h"
#include "core/platform/desktop.h"
#include "core/platform/processes.h"
#include "core/support_files/support_files.h"

#include <QMainWindow>

#include <array>
#include <filesystem>
#include <string>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
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

    // The pending journal entry, set by callers right before `rz`.
    std::string journalLine;
    // `rz`: appends the journal line with date and time to the day's journal.
    void rz();

    // Controls, named as the layout names them.
    QTabWidget* SSTab1;
    QGroupBox* Frame1;
    QGroupBox* Frame2;
    QGroupBox* Frame3;
    QGroupBox* Frame4;
    QGroupBox* Frame5;
    QGroupBox* Frame6;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label5;
    std::array<QLabel*, 3> Label4;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QRadioButton* Option3;
    QRadioButton* Option4;
    QRadioButton* Option5;
    QRadioButton* Option6;
    DriveList* Drive1;
    DirList* Dir1;
    FileList* File1;
    QPlainTextEdit* Text1;
    QPlainTextEdit* Text2;
    QPlainTextEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QLineEdit* Text7;
    QComboBox* Combo1;
    QComboBox* Combo2;
    QComboBox* Combo3;
    QCheckBox* Check1;
    QCheckBox* Check3;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QTimer* Timer1;
    QAction* gy;
    QMenu* gjgx;
    QAction* gxqk;
    QAction* das;

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

private:
    void buildControls();
    void buildMenus();
    // Sets the file pattern, caption and prompts of a mode and enables the lists.
    void chooseMode(const char* pattern, QPushButton* button, const char* caption);
    // Runs the three office-suite detections.
    void detectSuites();
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

    std::filesystem::path appFolder_;
    platform::DesktopServices& desktop_;
    automation::Registry& registry_;
    platform::Processes& processes_;
    journal::Journal journal_;
    QString currentDrive_;
    support_files::PayloadSource payloads_;
    std::string versionPageUrl_;
};
