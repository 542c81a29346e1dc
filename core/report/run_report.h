#pragma once

// The report of a run that scripts can read: one JSON object with the run's
// inputs and, per document, its path, its lines, whether it changed, which
// engine did it, how long it took and where its original was kept. Written
// whole after every document (a killed run leaves a valid report up to its
// last document) and once more at the end. Its format is described by the
// JSON Schema `report.schema.json` and kept stable: fields may be added,
// never renamed or removed, within one `formatVersion`.

#include "core/engines/run.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace report {

inline constexpr int kFormatVersion = 1;

// What the report says of the run beyond its request.
struct ReportInputs {
    std::string program;              // "batchreplace-cli 1.5.8"
    bool recursive = false;           // subfolders listed too
    std::vector<std::string> formats; // the file formats listed ("doc", "docx", ...)
    bool prescan = true;
    bool backups = true;
};

class RunReport : public engines::RunReporter {
public:
    // Every call is passed on to `forward` when given. `clock` gives the
    // current time; the default reads the system clock.
    RunReport(engines::RunReporter* forward, engines::RunRequest request, ReportInputs inputs,
              std::function<std::time_t()> clock = {});

    // Writes the report to `file` now, after every document and at the end,
    // replacing it whole each time. False when the first write failed
    // (`writeError` says why); the report is then not written again.
    [[nodiscard]] bool writeTo(std::filesystem::path file);
    // The first failure to write the report, as a sentence; empty when none.
    const std::string& writeError() const { return writeError_; }

    // The run is over.
    void finish(const engines::RunSummary& summary);

    // The report as it stands.
    std::string json() const;

    void documentStarted(std::size_t index, const std::string& document) override;
    void result(const engines::ResultLine& line) override;
    void documentFinished(std::size_t index, const engines::DocumentOutcome& outcome) override;

private:
    struct Document {
        std::size_t index;
        std::vector<std::string> lines;
        engines::DocumentOutcome outcome;
    };
    void write();

    engines::RunReporter* forward_;
    engines::RunRequest request_;
    ReportInputs inputs_;
    std::function<std::time_t()> clock_;
    std::time_t started_;
    std::optional<std::time_t> finished_;
    std::optional<engines::RunSummary> summary_;
    // Lines of documents not yet finished, by index.
    std::vector<std::vector<std::string>> pending_;
    std::vector<Document> documents_;
    std::vector<std::string> runLines_;
    std::optional<std::filesystem::path> file_;
    std::string writeError_;
};

} // namespace report
