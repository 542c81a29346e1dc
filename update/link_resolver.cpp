#include "update/link_resolver.h"

#include "core/updater/share_link.h"

#include <exception>

namespace updater {

LinkResolver::LinkResolver(QObject* parent) : QObject(parent) {}

LinkResolver::~LinkResolver() {
    stop();
}

void LinkResolver::start(const std::string& sharePageUrl, const std::string& base) {
    stop();
    cancellation_ = std::make_unique<net::Cancellation>();
    const unsigned generation = ++generation_;
    thread_ =
        std::thread([this, sharePageUrl, base, generation, cancellation = cancellation_.get()] {
            bool ok = false;
            std::string text;
            try {
                text = resolveShareLink(sharePageUrl, base, cancellation);
                ok = true;
            } catch (const net::Cancelled&) {
                return; // stopped: nobody waits for an outcome
            } catch (const std::exception& e) {
                text = e.what();
            } catch (...) {
                text = "解析“" + sharePageUrl + "”时出现未知错误";
            }
            // Posting to this object from here is safe: `stop` joins this thread
            // before the object can go.
            QMetaObject::invokeMethod(
                this, [this, generation, ok, text] { deliver(generation, ok, text); },
                Qt::QueuedConnection);
        });
}

void LinkResolver::stop() {
    if (cancellation_)
        cancellation_->cancel();
    if (thread_.joinable())
        thread_.join();
    cancellation_.reset();
    ++generation_;
}

void LinkResolver::deliver(unsigned generation, bool ok, const std::string& text) {
    if (generation != generation_)
        return;
    // The thread has posted its outcome as its last act.
    if (thread_.joinable())
        thread_.join();
    cancellation_.reset();
    if (ok)
        emit resolved(text);
    else
        emit failed(text);
}

} // namespace updater
