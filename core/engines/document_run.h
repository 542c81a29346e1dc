#pragma once

// The turn of one document inside a run, as the three operations see it:
// what it is, where its lines go, the suite started for it on demand, and
// the steps every operation takes in the same order: the prescan, our own
// engine, the office suite, and the backup before a change.

#include "core/engines/builtin_engine.h"
#include "core/engines/run.h"
#include "core/engines/suite.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace engines {

// Receives the result lines of a job.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void line(const ResultLine& line) = 0;
};

// The office suite of one job: started when the first document needs it,
// quit when the job ends. When it cannot be started, the jobs of the run
// stop trying (shared flag) and every document that needs it fails.
class SuiteSession {
public:
    SuiteSession(const automation::Registry& registry, SuiteClass suite,
                 std::shared_ptr<std::atomic<bool>> cannotStart);
    // The application object, started at the first call. Nothing when it
    // cannot be started; the failure is reported by the call that tried.
    automation::Object application(LineSink& sink);
    // Quits the suite if it was started; a failure is one line.
    void quit(LineSink& sink);
    const SuiteClass& suite() const { return suite_; }

private:
    const automation::Registry& registry_;
    SuiteClass suite_;
    std::shared_ptr<std::atomic<bool>> cannotStart_;
    automation::Object application_;
};

class DocumentRun {
public:
    DocumentRun(const RunRequest& request, const RunServices& services, std::size_t index,
                SuiteSession& suite, LineSink& sink);

    const RunRequest& request;
    const RunServices& services;
    const std::size_t index;
    // The document as listed (relative to the folder) and its full path.
    const std::string& name;
    const std::string path;
    DocumentOutcome outcome;
    // Set by an operation whose run must not go on after this document.
    bool stopRun = false;

    // The find texts of the run, in order.
    std::vector<std::string> findTexts() const;

    void report(const std::string& log, const std::string& journal);
    void report(const std::string& line) { report(line, line); }
    // A failure line; marks the document as failed.
    void reportFailure(const std::string& line);

    // The application object of the suite; Nothing (and a failure line for
    // this document) when the suite cannot be started.
    automation::Object application();

    // Keeps the original before the document is changed. False, with the
    // reason in `error`, when the copy could not be made: the document must
    // then be left as it is. True without a copy when the run keeps none.
    [[nodiscard]] bool keepOriginal(std::string& error);
    // After the change was stored: records it.
    void changed();
    // After a kept document could not be stored after all.
    void changeFailed();
    // After the office saved a kept document whose text it did not change:
    // the file was rewritten, its original is kept, the document counts as
    // unchanged.
    void resaved();

    // The journal's note of the pairs that replaced something, when the run
    // has more than one: "（替换：甲→乙、丙→丁）"; empty otherwise.
    std::string pairsNote(const std::vector<std::size_t>& replaced) const;
    // The journal entry of a result line: the line, a note when our own
    // engine replaced, and the pairs that replaced.
    std::string journalOf(const std::string& log, bool replaced,
                          const std::vector<std::size_t>& pairs) const;

private:
    SuiteSession& suite_;
    LineSink& sink_;
    bool kept_ = false;
};

// Our own engine's turn for a replace run. `ToSuite`: the document goes to
// the office suite. `Handled`: a failure was reported, or the engine did the
// whole job (stored when anything changed) and `result` holds what it found,
// for the operation's lines.
enum class BuiltinStep { Handled, ToSuite };
struct BuiltinAttempt {
    BuiltinStep step;
    BuiltinResult result;
};
BuiltinAttempt tryBuiltinEngine(DocumentRun& document);

// The per-document work of the three operations.
void replaceInWordDocument(DocumentRun& document);
void replaceInWorkbook(DocumentRun& document);
void writeHeaderOrFooter(DocumentRun& document);

} // namespace engines
