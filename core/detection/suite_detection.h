#pragma once

// Finds out at start which office suites can be driven, reports it in the
// main window's status label and disables the document modes whose suite is
// missing.

#include "core/automation/automation.h"

#include <string>
#include <vector>

namespace detection {

// The four document modes, each a file kind and the suite that edits it.
enum class DocumentMode { WordDoc, ExcelXls, WpsDoc, WpsXls };

// The lines of the detection's status text, top to bottom; the text is them
// joined by CR LF. An empty first line: the text begins with a line break
// (the first line written was appended to an empty text).
using StatusLines = std::vector<std::string>;

// What the detection changes besides the status text: which document modes
// can be chosen, and the journal.
class DetectionView {
public:
    virtual ~DetectionView() = default;
    // Lets the user choose `mode`, or not.
    virtual void setModeEnabled(DocumentMode mode, bool enabled) = 0;
    // Appends `entry`, dated, to the day's journal.
    virtual void writeJournal(const std::string& entry) = 0;
};

// Probes Microsoft Office through Excel; line "1、", the word.doc and
// excel.xls modes. When the Excel class is served by LibreOffice, the line
// names LibreOffice and its version instead of claiming an Office version.
void probeMicrosoftOffice(const automation::Registry& registry, DetectionView& view,
                          StatusLines& status);
// Probes the older WPS spreadsheet server; line "2、", the WPS modes.
void probeWpsV8(const automation::Registry& registry, DetectionView& view, StatusLines& status);
// Probes the newer WPS spreadsheet server; line "3、", the WPS modes.
void probeWpsV9(const automation::Registry& registry, DetectionView& view, StatusLines& status);

// One of the three probes above.
using SuiteProbe = void (*)(const automation::Registry&, DetectionView&, StatusLines&);

// The three probes in the order the start-up runs them, on a label that
// holds `status` (empty at start); returns the label's lines.
[[nodiscard]] StatusLines detectSuites(const automation::Registry& registry, DetectionView& view,
                                       StatusLines status = {});

// The version texts, by the version number a server reports.
std::string officeVersionText(double version);
std::string wpsV8VersionText(double version);
std::string wpsV9VersionText(double version);

} // namespace detection
