#pragma once

// Finds out at start which office suites can be driven, reports it in the
// main window's status label and disables the document modes whose suite is
// missing.

#include "core/automation/automation.h"

#include <string>
#include <vector>

namespace detection {

// The four document-mode options of the main window, by their number.
enum class ModeOption { Option1 = 1, Option2 = 2, Option3 = 3, Option4 = 4 };

// The lines of the status label `Label2`, top to bottom; the caption is
// them joined by CR LF. An empty first line: the caption begins with a line
// break (the first line written was appended to an empty caption).
using StatusLines = std::vector<std::string>;

// What the detection changes in the main window besides the status label.
class DetectionView {
public:
    virtual ~DetectionView() = default;
    // Enables or disables one of the mode options.
    virtual void setModeOptionEnabled(ModeOption option, bool enabled) = 0;
    // `rz`, the window's journal writer: appends `journalLine`, dated, to the
    // day's journal file.
    virtual void rz(const std::string& journalLine) = 0;
};

// `Officebb`: probes Microsoft Office through Excel; line "1、". When the
// Excel class is served by LibreOffice, the line names LibreOffice and its
// version instead of claiming an Office version.
void Officebb(const automation::Registry& registry, DetectionView& view, StatusLines& status);
// `WPSV8bb`: probes the older WPS spreadsheet server; line "2、".
void WPSV8bb(const automation::Registry& registry, DetectionView& view, StatusLines& status);
// `WPSV9bb`: probes the newer WPS spreadsheet server; line "3、".
void WPSV9bb(const automation::Registry& registry, DetectionView& view, StatusLines& status);

// The three probes in the order the start-up runs them, on a label that
// holds `status` (empty at start); returns the label's lines.
[[nodiscard]] StatusLines detectSuites(const automation::Registry& registry, DetectionView& view,
                                       StatusLines status = {});

// The version texts, by the version number a server reports.
std::string officeVersionText(double version);
std::string wpsV8VersionText(double version);
std::string wpsV9VersionText(double version);

} // namespace detection
