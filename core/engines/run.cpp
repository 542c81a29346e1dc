#include "core/engines/run.h"

#include "core/engines/document_run.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace engines {

namespace {

using Clock = std::chrono::steady_clock;

// The per-document work of an operation.
using DocumentWork = void (*)(DocumentRun&);

DocumentWork workOf(Operation operation) {
    switch (operation) {
    case Operation::WordReplace:
        return replaceInWordDocument;
    case Operation::ExcelReplace:
        return replaceInWorkbook;
    case Operation::HeaderFooter:
        return writeHeaderOrFooter;
    }
    return nullptr;
}

// Where the jobs of a run report: documents are numbered, lines belong to the
// document being processed (or to none, after a job's last document).
class JobReporter {
public:
    virtual ~JobReporter() = default;
    virtual void started(std::size_t index, const std::string& document) = 0;
    virtual void line(std::optional<std::size_t> index, const ResultLine& line) = 0;
    virtual void finished(std::size_t index, const DocumentOutcome& outcome) = 0;
};

// One job: takes documents one at a time, with its own suite.
class Job : public LineSink {
public:
    Job(const RunRequest& request, const RunServices& services, const SuiteClass& suite,
        std::shared_ptr<std::atomic<bool>> cannotStart, JobReporter& reporter)
        : request_(request), services_(services),
          suite_(services.registry, suite, std::move(cannotStart)), reporter_(reporter),
          work_(workOf(request.operation)) {}

    // Processes document `index`; false when the run must not go on.
    bool process(std::size_t index) {
        reporter_.started(index, request_.documents[index]);
        current_ = index;
        const auto start = Clock::now();
        DocumentRun document(request_, services_, index, suite_, *this);
        try {
            work_(document);
        } catch (const std::exception& e) {
            // What the operation did not expect (memory ran out, say) ends
            // this document, never the program.
            document.reportFailure(failureLine(document.name, describeError(e)));
        }
        document.outcome.elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        current_.reset();
        reporter_.finished(index, document.outcome);
        return !document.stopRun;
    }

    // After the job's last document.
    void finish() { suite_.quit(*this); }

    void line(const ResultLine& line) override {
        ResultLine numbered = line;
        numbered.document = current_;
        reporter_.line(current_, numbered);
    }

private:
    const RunRequest& request_;
    const RunServices& services_;
    SuiteSession suite_;
    JobReporter& reporter_;
    DocumentWork work_;
    std::optional<std::size_t> current_;
};

// Counts what the documents came to, for the summary.
struct Tally {
    std::size_t finished = 0, failed = 0, changed = 0;
    void add(const DocumentOutcome& outcome) {
        ++finished;
        failed += outcome.failed ? 1 : 0;
        changed += outcome.changed ? 1 : 0;
    }
};

// One job: its calls go straight through.
class DirectReporter : public JobReporter {
public:
    explicit DirectReporter(RunReporter& reporter) : reporter_(reporter) {}
    void started(std::size_t index, const std::string& document) override {
        reporter_.documentStarted(index, document);
    }
    void line(std::optional<std::size_t>, const ResultLine& line) override {
        reporter_.result(line);
    }
    void finished(std::size_t index, const DocumentOutcome& outcome) override {
        tally.add(outcome);
        reporter_.documentFinished(index, outcome);
    }
    Tally tally;

private:
    RunReporter& reporter_;
};

// Jobs side by side: starts go through as they happen; lines and finishes are
// held back until every document before theirs is finished, so they come in
// list order. Lines of no document come after the last one.
class OrderedReporter : public JobReporter {
public:
    OrderedReporter(RunReporter& reporter, std::size_t documents)
        : reporter_(reporter), held_(documents), outcomes_(documents) {}

    void started(std::size_t index, const std::string& document) override {
        std::lock_guard lock(mutex_);
        reporter_.documentStarted(index, document);
    }
    void line(std::optional<std::size_t> index, const ResultLine& line) override {
        std::lock_guard lock(mutex_);
        if (!index)
            afterLast_.push_back(line);
        else if (*index == next_)
            reporter_.result(line);
        else
            held_[*index].push_back(line);
    }
    void finished(std::size_t index, const DocumentOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        tally.add(outcome);
        outcomes_[index] = outcome;
        while (next_ < outcomes_.size() && outcomes_[next_]) {
            reporter_.documentFinished(next_, *outcomes_[next_]);
            outcomes_[next_].reset();
            ++next_;
            if (next_ < held_.size()) {
                for (const ResultLine& held : held_[next_])
                    reporter_.result(held);
                held_[next_].clear();
            }
        }
    }
    // After every job ended: documents never started leave gaps; what came
    // after them is written in order, then the lines of no document.
    void flush() {
        std::lock_guard lock(mutex_);
        for (; next_ < outcomes_.size(); ++next_) {
            for (const ResultLine& held : held_[next_])
                reporter_.result(held);
            if (outcomes_[next_])
                reporter_.documentFinished(next_, *outcomes_[next_]);
        }
        for (const ResultLine& line : afterLast_)
            reporter_.result(line);
    }
    Tally tally;

private:
    RunReporter& reporter_;
    std::mutex mutex_;
    std::vector<std::vector<ResultLine>> held_;
    std::vector<std::optional<DocumentOutcome>> outcomes_;
    std::vector<ResultLine> afterLast_;
    std::size_t next_ = 0;
};

} // namespace

std::string stoppedLine(std::size_t remaining) {
    return "已停止，剩余 " + std::to_string(remaining) + " 个文档未处理";
}

RunSummary run(const RunRequest& request, const RunServices& services, RunReporter& reporter,
               const RunControl* control) {
    RunSummary summary;
    const auto suite = suiteFor(request.operation, request.mode);
    if (!suite)
        return summary;
    const std::size_t count = request.documents.size();
    summary.documents = count;
    const auto cannotStart = std::make_shared<std::atomic<bool>>(false);
    const auto stopRequested = [&] { return control && control->stopRequested(); };

    // The next document to take, and whether the run goes on.
    std::atomic<std::size_t> next{0};
    std::atomic<bool> goOn{true};
    const auto work = [&](Job& job) {
        for (;;) {
            if (!goOn.load() || stopRequested())
                break;
            const std::size_t index = next.fetch_add(1);
            if (index >= count)
                break;
            if (!job.process(index))
                goOn.store(false);
        }
        job.finish();
    };

    Tally tally;
    const std::size_t jobs =
        std::clamp<std::size_t>(request.jobs, 1, std::max<std::size_t>(1, count));
    if (jobs == 1) {
        DirectReporter direct(reporter);
        Job job(request, services, *suite, cannotStart, direct);
        work(job);
        tally = direct.tally;
    } else {
        OrderedReporter ordered(reporter, count);
        std::vector<std::unique_ptr<Job>> all;
        for (std::size_t k = 0; k < jobs; ++k)
            all.push_back(std::make_unique<Job>(request, services, *suite, cannotStart, ordered));
        std::vector<std::thread> threads;
        for (auto& job : all)
            threads.emplace_back([&work, &job] { work(*job); });
        for (auto& thread : threads)
            thread.join();
        ordered.flush();
        tally = ordered.tally;
    }

    summary.finished = tally.finished;
    summary.failed = tally.failed;
    summary.changed = tally.changed;
    if (stopRequested() && summary.finished < count) {
        summary.stopped = true;
        const std::string line = stoppedLine(count - summary.finished);
        reporter.result({line, line, false, std::nullopt});
    }
    return summary;
}

} // namespace engines
