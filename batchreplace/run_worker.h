#pragma once

// A batch run on a thread of its own, so that the window keeps repainting,
// moving and answering while the office works through a folder. What the run
// reports comes back on the window's thread as signals, in the order the run
// reported it.

#include "core/engines/run.h"

#include <QObject>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class RunWorker : public QObject {
    Q_OBJECT

public:
    // The work of a run: reports through `reporter`, looks at `control`
    // between documents.
    using Task = std::function<engines::RunSummary(engines::RunReporter& reporter,
                                                   const engines::RunControl& control)>;

    explicit RunWorker(QObject* parent = nullptr);
    // Stops the run under way and waits for its current document.
    ~RunWorker() override;

    // Starts `task` on a new thread and returns at once. False when a run
    // is still under way.
    bool start(Task task);
    // Asks the run to stop after its current document; returns at once.
    void requestStop();
    bool stopRequested() const { return control_ && control_->stopRequested(); }

    // True from `start` until `finished` has been emitted.
    bool running() const { return thread_.joinable(); }

signals:
    void documentStarted(std::size_t index, const std::string& document);
    void result(const engines::ResultLine& line);
    void documentFinished(std::size_t index, const engines::DocumentOutcome& outcome);
    // The run has ended; its thread is gone. Comes after every other signal
    // of the run.
    void finished(const engines::RunSummary& summary);

private:
    void deliverFinished(const engines::RunSummary& summary);

    std::thread thread_;
    // One per run; the thread reads it until it ends.
    std::unique_ptr<engines::RunControl> control_;
};
