#pragma once

// A stand-in for the main window: the inputs the operations read (fixed
// values) and the log box and journal they report to.

#include "core/engines/fixed_inputs.h"

#include <functional>
#include <string>
#include <vector>

namespace engines_testing {

class FakeWindow : public engines::FixedInputs, public engines::Reporter {
public:
    FakeWindow() {
        folder = "/docs";
        find = "旧";
        replacement = "新";
        headerContent = "页眉";
        footerContent = "页脚";
    }

    // Outputs.
    std::string text3;                    // the log box
    std::vector<std::string> journal;     // the entries `rz` wrote
    std::vector<std::string> reportOrder; // "log" and "rz" as they happened
    // Called after each `rz`, with the number of entries so far.
    std::function<void(int)> afterEntry;
    mutable int fileCountReads = 0;
    int failures = 0; // failure lines reported

    int fileCount() const override {
        ++fileCountReads;
        return FixedInputs::fileCount();
    }

    void appendLogLine(const std::string& line) override {
        reportOrder.push_back("log");
        text3 += line + "\r\n";
    }
    void failureNoted() override { ++failures; }
    void rz(const std::string& journalLine) override {
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
