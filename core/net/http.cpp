#include "core/net/http.h"
#include "core/text/ascii.h"

#include <string_view>
#include <utility>

// What the libcurl client (http_posix.cpp) and the WinHTTP client
// (http_win.cpp) share.

namespace net {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

} // namespace

void Cancellation::cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (action_) {
        std::function<void()>* action = action_;
        action_ = nullptr;
        (*action)();
    }
}

Cancellation::Watch::Watch(const Cancellation* cancellation, std::function<void()> action)
    : cancellation_(cancellation), action_(std::move(action)) {
    if (!cancellation_)
        return;
    std::lock_guard lock(cancellation_->mutex_);
    if (cancellation_->cancelled_)
        action_();
    else
        cancellation_->action_ = &action_;
}

Cancellation::Watch::~Watch() {
    if (!cancellation_)
        return;
    std::lock_guard lock(cancellation_->mutex_);
    if (cancellation_->action_ == &action_)
        cancellation_->action_ = nullptr;
}

Cancelled::Cancelled(const std::string& url) : HttpError("访问 " + url + " 的请求已取消。") {}

HttpError insecureRedirect(const std::string& url) {
    return HttpError("拒绝跟随 " + url + " 的重定向：它要从加密的 https 转到不加密的 http。" +
                     "请检查地址是否正确。");
}

std::string Response::header(const std::string& name) const {
    for (const auto& [n, v] : headers)
        if (text::equalsIgnoringCase(n, name))
            return v;
    return {};
}

std::string Response::charset() const {
    const std::string type = header("Content-Type");
    size_t pos = 0;
    while ((pos = type.find(';', pos)) != std::string::npos) {
        ++pos;
        const size_t end = type.find(';', pos);
        std::string_view param = trim(std::string_view(type).substr(
            pos, end == std::string::npos ? std::string::npos : end - pos));
        const size_t eq = param.find('=');
        if (eq == std::string_view::npos)
            continue;
        if (!text::equalsIgnoringCase(trim(param.substr(0, eq)), "charset"))
            continue;
        std::string_view value = trim(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return {};
}

} // namespace net
