#pragma once

// What the three batch operations read from the main window and how they
// report back to it. The window implements these interfaces over its live
// controls; every getter reads the control's current value, so an operation
// sees what the control holds at the moment it asks.

#include <string>

namespace engines {

class Prescan;

// The selected one of the four mode options, or none.
enum class Mode {
    None,
    WordDoc,  // `Option1`: Word documents through Microsoft Word
    ExcelXls, // `Option2`: Excel workbooks through Microsoft Excel
    WpsDoc,   // `Option3`: Word documents through WPS
    WpsXls,   // `Option4`: Excel workbooks through WPS
};

// The inputs of the Word and Excel replace runs.
class RunInputs {
public:
    virtual ~RunInputs() = default;
    // The selected mode option.
    virtual Mode mode() const = 0;
    // The path shown by the folder list `Dir1`.
    virtual std::string folderPath() const = 0;
    // The number of names in the file list `File1`.
    virtual int fileCount() const = 0;
    // The name at `index` (from 0) of the file list `File1`, without folder.
    virtual std::string fileName(int index) const = 0;
    // The text of `Text1`: what to find.
    virtual std::string findText() const = 0;
    // The text of `Text2`: the replacement.
    virtual std::string replacementText() const = 0;
    // Search only: report where the text stands, change and save nothing.
    // The window never asks for it; scripted runs may.
    virtual bool dryRun() const { return false; }
    // Asked before a document is opened; none: every document is opened.
    virtual const Prescan* prescan() const { return nullptr; }
};

// The header and footer controls of the frame "Word 页眉 页脚 页码".
class HeaderFooterInputs {
public:
    virtual ~HeaderFooterInputs() = default;
    // `Option5` "页眉内容" selected: write the header.
    virtual bool headerSelected() const = 0;
    // `Option6` "页脚内容" selected: write the footer.
    virtual bool footerSelected() const = 0;
    // `Text4`: the header text.
    virtual std::string headerText() const = 0;
    // `Text5`: the footer text.
    virtual std::string footerText() const = 0;
    // `Combo1`: placement of the header text ("居中", "居左", "居右").
    virtual std::string headerPlacement() const = 0;
    // `Combo2`: placement of the footer text.
    virtual std::string footerPlacement() const = 0;
    // `Check3` "插入页码" ticked: add a page number to the footer.
    virtual bool pageNumberTicked() const = 0;
    // `Combo3`: placement of the page number ("居中1", "居中2", "居左", "居右").
    virtual std::string pageNumberPlacement() const = 0;
    // `Text6`: the font name.
    virtual std::string fontName() const = 0;
    // `Text7`: the font size, as typed.
    virtual std::string fontSize() const = 0;
    // `Check1` "加粗" ticked: bold.
    virtual bool boldTicked() const = 0;
};

// Where an operation reports each result: the log box `Text3` and the journal.
class Reporter {
public:
    virtual ~Reporter() = default;
    // Appends `line` followed by CR LF to the log box `Text3`.
    virtual void appendLogLine(const std::string& line) = 0;
    // `rz`, the window's journal writer: appends `journalLine`, dated, to
    // the day's journal file.
    virtual void rz(const std::string& journalLine) = 0;

    // One result: the log-box line, then its journal entry.
    void report(const std::string& logLine, const std::string& journalLine) {
        appendLogLine(logLine);
        rz(journalLine);
    }
    void report(const std::string& line) { report(line, line); }
    // A result saying that a document, or the whole run, failed.
    void reportFailure(const std::string& line) {
        failureNoted();
        report(line);
    }

protected:
    // Called before each failure line; the window has no use for it.
    virtual void failureNoted() {}
};

} // namespace engines
