#pragma once

// A stand-in for the main window: the inputs a run takes (fields, with the
// window's start values) and the log box and journal it reports to.

#include "core/engines/run.h"

#include <string>
#include <vector>

namespace engines_testing {

class FakeWindow : public engines::RunReporter {
public:
    // Inputs.
    engines::Mode modeValue = engines::Mode::None;
    std::string folder = "/docs";
    std::vector<std::string> files;
    std::string find = "旧";
    std::string replacement = "新";
    // When not empty, used instead of `find` and `replacement`.
    std::vector<engines::ReplacePair> pairs;
    bool searchOnly = false;
    engines::EngineChoice engine = engines::EngineChoice::Auto;
    std::size_t jobs = 1;
    const engines::Prescan* prescanner = nullptr;
    const engines::BuiltinEngine* builtin = nullptr;
    engines::ChangeKeeper* backups = nullptr;
    bool header = false;
    bool footer = false;
    std::string headerContent = "页眉";
    std::string footerContent = "页脚";
    std::string headerAlign = "居中";
    std::string footerAlign = "居左";
    bool pageNumber = false;
    std::string pageNumberAlign = "居中1";
    std::string font = "宋体";
    std::string size = "10";
    bool bold = false;

    // Outputs.
    std::string text3;                    // the log box
    std::vector<std::string> journal;     // the journal's entries
    std::vector<std::string> reportOrder; // "start", "line" and "done" as they came
    std::vector<engines::DocumentOutcome> outcomes;
    int failures = 0; // failure lines reported

    engines::RunRequest request(engines::Operation operation) const {
        engines::RunRequest r;
        r.operation = operation;
        r.mode = modeValue;
        r.folder = folder;
        r.documents = files;
        r.pairs = pairs.empty() ? std::vector<engines::ReplacePair>{{find, replacement}} : pairs;
        r.dryRun = searchOnly;
        r.engine = engine;
        r.jobs = jobs;
        r.headerFooter = {header,      footer,      headerContent, footerContent,
                          headerAlign, footerAlign, pageNumber,    pageNumberAlign,
                          font,        size,        bold};
        return r;
    }

    engines::RunSummary run(engines::Operation operation, const automation::Registry& registry,
                            const engines::RunControl* control = nullptr) {
        return engines::run(request(operation), {registry, prescanner, builtin, backups}, *this,
                            control);
    }

    void documentStarted(std::size_t, const std::string&) override {
        reportOrder.push_back("start");
    }
    void result(const engines::ResultLine& line) override {
        reportOrder.push_back("line");
        text3 += line.log + "\r\n";
        journal.push_back(line.journal);
        failures += line.failure ? 1 : 0;
    }
    void documentFinished(std::size_t, const engines::DocumentOutcome& outcome) override {
        reportOrder.push_back("done");
        outcomes.push_back(outcome);
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
