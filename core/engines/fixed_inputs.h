#pragma once

// The inputs of the batch operations given once, as values, rather than read
// from live controls: the command line, the benchmark and the tests' stand-in
// for the window use them. The defaults are the window's start values.

#include "core/engines/run_inputs.h"

#include <cstddef>
#include <string>
#include <vector>

namespace engines {

class FixedInputs : public RunInputs, public HeaderFooterInputs {
public:
    Mode modeValue = Mode::None;
    std::string folder;                    // `Dir1`
    std::vector<std::string> files;        // `File1`, in the order listed
    std::string find;                      // `Text1`
    std::string replacement;               // `Text2`
    bool searchOnly = false;               // report only, change nothing
    const Prescan* prescanner = nullptr;   // none: every document is opened
    bool header = false;                   // `Option5`
    bool footer = false;                   // `Option6`
    std::string headerContent;             // `Text4`
    std::string footerContent;             // `Text5`
    std::string headerAlign = "居中";      // `Combo1`
    std::string footerAlign = "居左";      // `Combo2`
    bool pageNumber = false;               // `Check3`
    std::string pageNumberAlign = "居中1"; // `Combo3`
    std::string font = "宋体";             // `Text6`
    std::string size = "10";               // `Text7`
    bool bold = false;                     // `Check1`

    Mode mode() const override { return modeValue; }
    std::string folderPath() const override { return folder; }
    int fileCount() const override { return static_cast<int>(files.size()); }
    std::string fileName(int index) const override {
        return files.at(static_cast<std::size_t>(index));
    }
    std::string findText() const override { return find; }
    std::string replacementText() const override { return replacement; }
    bool dryRun() const override { return searchOnly; }
    const Prescan* prescan() const override { return prescanner; }

    bool headerSelected() const override { return header; }
    bool footerSelected() const override { return footer; }
    std::string headerText() const override { return headerContent; }
    std::string footerText() const override { return footerContent; }
    std::string headerPlacement() const override { return headerAlign; }
    std::string footerPlacement() const override { return footerAlign; }
    bool pageNumberTicked() const override { return pageNumber; }
    std::string pageNumberPlacement() const override { return pageNumberAlign; }
    std::string fontName() const override { return font; }
    std::string fontSize() const override { return size; }
    bool boldTicked() const override { return bold; }
};

} // namespace engines
