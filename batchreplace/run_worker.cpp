#include "batchreplace/run_worker.h"

#include <exception>

namespace {

// Posts each report to the worker object on the window's thread. Posting is
// safe while the worker lives: its destructor joins the thread first, and
// events posted to an object that is gone are dropped.
class PostingReporter : public engines::RunReporter {
public:
    explicit PostingReporter(RunWorker& worker) : worker_(worker) {}
    void documentStarted(std::size_t index, const std::string& document) override {
        QMetaObject::invokeMethod(
            &worker_, [w = &worker_, index, document] { emit w->documentStarted(index, document); },
            Qt::QueuedConnection);
    }
    void result(const engines::ResultLine& line) override {
        QMetaObject::invokeMethod(
            &worker_, [w = &worker_, line] { emit w->result(line); }, Qt::QueuedConnection);
    }
    void documentFinished(std::size_t index, const engines::DocumentOutcome& outcome) override {
        QMetaObject::invokeMethod(
            &worker_, [w = &worker_, index, outcome] { emit w->documentFinished(index, outcome); },
            Qt::QueuedConnection);
    }

private:
    RunWorker& worker_;
};

} // namespace

RunWorker::RunWorker(QObject* parent) : QObject(parent) {}

RunWorker::~RunWorker() {
    if (control_)
        control_->requestStop();
    if (thread_.joinable())
        thread_.join();
}

bool RunWorker::start(Task task) {
    if (running())
        return false;
    control_ = std::make_unique<engines::RunControl>();
    thread_ = std::thread([this, task = std::move(task), control = control_.get()] {
        PostingReporter reporter(*this);
        engines::RunSummary summary;
        try {
            summary = task(reporter, *control);
        } catch (const std::exception& e) {
            engines::ResultLine line;
            line.log = line.journal =
                std::string("批量处理意外中断：") + e.what() + "。请关闭办公软件后重新运行。";
            line.failure = true;
            reporter.result(line);
        } catch (...) {
            engines::ResultLine line;
            line.log = line.journal = "批量处理意外中断。请关闭办公软件后重新运行。";
            line.failure = true;
            reporter.result(line);
        }
        QMetaObject::invokeMethod(
            this, [this, summary] { deliverFinished(summary); }, Qt::QueuedConnection);
    });
    return true;
}

void RunWorker::requestStop() {
    if (control_)
        control_->requestStop();
}

void RunWorker::deliverFinished(const engines::RunSummary& summary) {
    // The thread has posted this as its last act.
    if (thread_.joinable())
        thread_.join();
    emit finished(summary);
}
