#pragma once

// The share-link resolution on a thread of its own, so that the update
// window keeps repainting, moving and answering while the file-sharing site
// takes its time (each of its four requests may take up to a minute). The
// outcome comes back on the window's thread as a signal.

#include "core/net/http.h"

#include <QObject>

#include <memory>
#include <string>
#include <thread>

namespace updater {

class LinkResolver : public QObject {
    Q_OBJECT

public:
    explicit LinkResolver(QObject* parent = nullptr);
    // Stops the resolution under way.
    ~LinkResolver() override;

    // Starts resolving `sharePageUrl` on the site `base` and returns at once;
    // a resolution still under way is stopped first.
    void start(const std::string& sharePageUrl, const std::string& base);

    // Ends the resolution under way: its request is cancelled and its thread
    // has ended when this returns; no signal comes from it any more.
    void stop();

    // True from `start` until its signal has come or `stop` was called.
    bool running() const { return thread_.joinable(); }

signals:
    // The location the file is downloaded from (possibly empty: the site
    // gave none).
    void resolved(const std::string& location);
    // A request of the resolution failed; `reason` says which and why.
    void failed(const std::string& reason);

private:
    // Delivers the outcome of resolution `generation` on the window's thread.
    void deliver(unsigned generation, bool ok, const std::string& text);

    std::unique_ptr<net::Cancellation> cancellation_;
    std::thread thread_;
    // Each start begins a generation; outcomes of an earlier one are dropped.
    unsigned generation_ = 0;
};

} // namespace updater
