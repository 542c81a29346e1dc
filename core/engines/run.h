#pragma once

// One batch run, whatever starts it: the window (on a worker thread), the
// command line, parallel jobs, the benchmarks. The inputs the user gave are
// copied into one value (`RunRequest`); the services the run uses travel
// apart (`RunServices`); the run reports through one protocol
// (`RunReporter`): a document starts, its result lines, it is finished.

#include "core/automation/automation.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace engines {

class BuiltinEngine;
class ChangeKeeper;
class Prescan;

// The document kind and office suite chosen in the window (its four mode
// options), or none.
enum class Mode {
    None,
    WordDoc,  // Word documents through Microsoft Word
    ExcelXls, // Excel workbooks through Microsoft Excel
    WpsDoc,   // Word documents through WPS
    WpsXls,   // Excel workbooks through WPS
};

enum class Operation {
    WordReplace,  // a text in every Word document
    ExcelReplace, // a text in every worksheet of every workbook
    HeaderFooter, // a header or footer into every Word document
};

// One replacement: every occurrence of `find` becomes `replacement`.
struct ReplacePair {
    std::string find;
    std::string replacement;
    bool operator==(const ReplacePair&) const = default;
};

// What the header and footer writer types, and how.
struct HeaderFooterSettings {
    bool header = false;                       // write the header
    bool footer = false;                       // write the footer
    std::string headerText;                    //
    std::string footerText;                    //
    std::string headerPlacement = "居中";      // "居中", "居左", "居右"
    std::string footerPlacement = "居左";      // the same three
    bool pageNumber = false;                   // "第" page "页" in the footer
    std::string pageNumberPlacement = "居中1"; // "居中1", "居中2", "居左", "居右"
    std::string fontName = "宋体";             //
    std::string fontSize = "10";               // as typed; the suite converts it
    bool bold = false;                         //
};

// Which engine changes a document.
enum class EngineChoice {
    Auto,    // our own engine where it can do the whole job, the suite for the rest
    Builtin, // our own engine only; what it cannot do fails, the suite never starts
    Suite,   // the office suite for every document
};

// The inputs of one run, taken once when it starts.
struct RunRequest {
    Operation operation = Operation::WordReplace;
    Mode mode = Mode::None;
    // The chosen folder.
    std::string folder;
    // The documents, as the file list shows them: relative to `folder`
    // (subfolders joined by "/"), in list order.
    std::vector<std::string> documents;
    // The replacements, applied one after the other, each over the result
    // of those before (replace runs).
    std::vector<ReplacePair> pairs;
    HeaderFooterSettings headerFooter;
    // Report where the texts stand; change and save nothing.
    bool dryRun = false;
    EngineChoice engine = EngineChoice::Auto;
    // Documents processed side by side, each job with its own suite.
    std::size_t jobs = 1;
};

// What a run uses besides its inputs.
struct RunServices {
    const automation::Registry& registry;
    // Asked before a document is opened; none: every document is opened.
    const Prescan* prescan = nullptr;
    // Our own engine; none: the suite does every document.
    const BuiltinEngine* builtin = nullptr;
    // Keeps the originals of changed documents; none: no backups.
    ChangeKeeper* backups = nullptr;
};

// Which part of the run answered for a document.
enum class EngineUsed {
    None,    // not processed (a failure before any engine took it)
    Prescan, // ruled out from the file itself, neither opened nor changed
    Builtin, // our own engine
    Suite,   // the office suite
};

// One result line: the log box's text and the journal's entry.
struct ResultLine {
    std::string log;
    std::string journal;
    bool failure = false;
    // The index of the document the line belongs to; none for the lines that
    // come after the last document.
    std::optional<std::size_t> document;
};

// What became of one document.
struct DocumentOutcome {
    EngineUsed engine = EngineUsed::None;
    // The file on disk was changed.
    bool changed = false;
    bool failed = false;
    // The indexes (in `RunRequest::pairs`) of the pairs that replaced
    // something.
    std::vector<std::size_t> pairsReplaced;
    // Where the original was kept; empty when no copy was made.
    std::filesystem::path backup;
    std::chrono::milliseconds elapsed{0};
};

// Where a run reports. Calls never overlap. For each document, in list
// order: `documentStarted`, its result lines, `documentFinished`. Lines that
// belong to no document (the office could not be quit, the run was stopped)
// come after the last document. With parallel jobs `documentStarted` comes
// when the document really starts, so another document's lines may follow
// it; results and `documentFinished` still come in list order.
class RunReporter {
public:
    virtual ~RunReporter() = default;
    virtual void documentStarted(std::size_t index, const std::string& document) = 0;
    virtual void result(const ResultLine& line) = 0;
    virtual void documentFinished(std::size_t index, const DocumentOutcome& outcome) = 0;
};

// Lets a front end stop a run from another thread. The run finishes the
// document it is in and starts no other.
class RunControl {
public:
    void requestStop() { stop_.store(true); }
    bool stopRequested() const { return stop_.load(); }

private:
    std::atomic<bool> stop_{false};
};

struct RunSummary {
    std::size_t documents = 0; // listed
    std::size_t finished = 0;  // processed, failed or not
    std::size_t failed = 0;    // documents that failed
    std::size_t changed = 0;   // documents whose file was changed
    bool stopped = false;      // stopped before every document was processed
};

// The line written when a run is stopped with `remaining` documents left.
std::string stoppedLine(std::size_t remaining);

// Runs `request`. A mode that does not belong to the operation's document
// kind (the Word replace in a workbook mode) does nothing and reports
// nothing. The office suite is started only when the first document that
// needs it comes, once per job, and quit at the end.
RunSummary run(const RunRequest& request, const RunServices& services, RunReporter& reporter,
               const RunControl* control = nullptr);

} // namespace engines
