#pragma once

// A stand-in for the main window: the inputs the operations read and the
// log box and journal they report to.

#include "core/engines/run_inputs.h"

#include <functional>
#include <string>
#include <vector>

namespace engines_testing {

class FakeWindow : public engines::RunInputs,
                   public engines::HeaderFooterInputs,
                   public engines::Reporter {
public:
    // Inputs (the controls' current values).
    engines::Mode modeValue = engines::Mode::None;
    std::string folder = "/docs";
    std::vector<std::string> files;
    std::string text1 = "旧";
    std::string text2 = "新";
    bool option5 = false;
    bool option6 = false;
    std::string text4 = "页眉";
    std::string text5 = "页脚";
    std::string combo1 = "居中";
    std::string combo2 = "居左";
    bool check3 = false;
    std::string combo3 = "居中1";
    std::string text6 = "宋体";
    std::string text7 = "10";
    bool check1 = false;
    bool dryRunValue = false;
    const engines::Prescan* prescanValue = nullptr; // none: every document is opened

    // Outputs.
    std::string text3;                    // the log box
    std::string journalLine;              // the pending journal line
    std::vector<std::string> journal;     // the entries `rz` wrote
    std::vector<std::string> reportOrder; // "log", "line", "rz" as they happened
    // Called after each `rz`, with the number of entries so far.
    std::function<void(int)> afterEntry;
    mutable int fileCountReads = 0;
    int failures = 0; // failure lines reported

    engines::Mode mode() const override { return modeValue; }
    std::string folderPath() const override { return folder; }
    int fileCount() const override {
        ++fileCountReads;
        return static_cast<int>(files.size());
    }
    std::string fileName(int index) const override {
        return files.at(static_cast<std::size_t>(index));
    }
    std::string findText() const override { return text1; }
    std::string replacementText() const override { return text2; }
    bool dryRun() const override { return dryRunValue; }
    const engines::Prescan* prescan() const override { return prescanValue; }

    bool headerSelected() const override { return option5; }
    bool footerSelected() const override { return option6; }
    std::string headerText() const override { return text4; }
    std::string footerText() const override { return text5; }
    std::string headerPlacement() const override { return combo1; }
    std::string footerPlacement() const override { return combo2; }
    bool pageNumberTicked() const override { return check3; }
    std::string pageNumberPlacement() const override { return combo3; }
    std::string fontName() const override { return text6; }
    std::string fontSize() const override { return text7; }
    bool boldTicked() const override { return check1; }

    void appendLogLine(const std::string& line) override {
        reportOrder.push_back("log");
        text3 += line + "\r\n";
    }
    void setJournalLine(const std::string& line) override {
        reportOrder.push_back("line");
        journalLine = line;
    }
    void failureNoted() override { ++failures; }
    void rz() override {
        reportOrder.push_back("rz");
        journal.push_back(journalLine);
        if (afterEntry)
            afterEntry(static_cast<int>(journal.size()));
    }
};

// The log box text of these lines, each ended by CR LF.
inline std::string logOf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines)
        out += l + "\r\n";
    return out;
}

} // namespace engines_testing
