#pragma once

// Finds out at start which office suites can be driven, reports it in the
// main window's status label and disables the document modes whose suite is
// missing.

#include "core/automation/automation.h"

#include <string>

namespace detection {

// The four document-mode options of the main window, by their number.
enum class ModeOption { Option1 = 1, Option2 = 2, Option3 = 3, Option4 = 4 };

// What the detection reads and writes in the main window.
class DetectionView {
public:
    virtual ~DetectionView() = default;
    // The caption of the status label `Label2`.
    virtual std::string statusCaption() const = 0;
    virtual void setStatusCaption(const std::string& caption) = 0;
    // Enables or disables one of the mode options.
    virtual void setModeOptionEnabled(ModeOption option, bool enabled) = 0;
    // Sets the window's journal line (the text of the next journal entry).
    virtual void setJournalLine(const std::string& line) = 0;
    // `rz`: appends the journal line to the day's journal file.
    virtual void rz() = 0;
};

// `Officebb`: probes Microsoft Office through Excel; line "1、".
void Officebb(const automation::Registry& registry, DetectionView& view);
// `WPSV8bb`: probes the older WPS spreadsheet server; line "2、".
void WPSV8bb(const automation::Registry& registry, DetectionView& view);
// `WPSV9bb`: probes the newer WPS spreadsheet server; line "3、".
void WPSV9bb(const automation::Registry& registry, DetectionView& view);

// The three probes in the order the start-up runs them.
void detectSuites(const automation::Registry& registry, DetectionView& view);

// The version texts, by the version number a server reports.
std::string officeVersionText(double version);
std::string wpsV8VersionText(double version);
std::string wpsV9VersionText(double version);

} // namespace detection
