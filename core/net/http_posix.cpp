#include "core/net/http.h"
#include "core/text/ascii.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

namespace net {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// What the callbacks share with the transfer loop.
struct Transfer {
    const Request* request = nullptr;
    Response response;
    bool tooLarge = false;
    curl_off_t uploaded = 0;
    SteadyClock::time_point lastActivity = SteadyClock::now();
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = SteadyClock::now();
    std::string_view line(data, n);
    if (line.substr(0, 5) == "HTTP/") {
        // A new status line: an interim answer (100 Continue) or a redirect
        // ends; only the final response's headers are kept.
        t->response.headers.clear();
        t->response.reason.clear();
        t->response.status = 0;
        const std::string_view statusLine = trim(line);
        const size_t space = statusLine.find(' ');
        if (space != std::string_view::npos) {
            std::string_view rest = statusLine.substr(space + 1);
            const size_t space2 = rest.find(' ');
            const std::string_view code = rest.substr(0, space2);
            long status = 0;
            for (char c : code) {
                if (c < '0' || c > '9' || status > 999)
                    break;
                status = status * 10 + (c - '0');
            }
            t->response.status = status;
            if (space2 != std::string_view::npos)
                t->response.reason = std::string(trim(rest.substr(space2 + 1)));
        }
        return n;
    }
    const std::string_view content = trim(line);
    if (content.empty())
        return n;
    if ((line.front() == ' ' || line.front() == '\t') && !t->response.headers.empty()) {
        // An obsolete folded continuation of the previous header.
        t->response.headers.back().second += ' ';
        t->response.headers.back().second += content;
        return n;
    }
    const size_t colon = content.find(':');
    if (colon == std::string_view::npos)
        return n;
    t->response.headers.emplace_back(std::string(content.substr(0, colon)),
                                     std::string(trim(content.substr(colon + 1))));
    return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->lastActivity = SteadyClock::now();
    if (t->response.body.size() + n > t->request->maxBodyBytes) {
        t->tooLarge = true;
        return 0; // makes libcurl stop with a write error
    }
    t->response.body.append(data, n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow) {
    auto* t = static_cast<Transfer*>(user);
    if (ulnow != t->uploaded) {
        t->uploaded = ulnow;
        t->lastActivity = SteadyClock::now();
    }
    return 0;
}

bool hasHeader(const Headers& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return text::equalsIgnoringCase(h.first, name); });
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos || s.find('\0') != s.npos;
}

// The header list libcurl sends after its own Host line: the caller's headers
// in their order and spelling. libcurl's own Accept, Expect and Content-Type
// are withdrawn unless the caller sets them.
curl_slist* buildHeaderList(const Request& request) {
    curl_slist* list = nullptr;
    auto add = [&list](const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (!next) {
            curl_slist_free_all(list);
            throw HttpError("内存不足，无法准备请求。");
        }
        list = next;
    };
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || hasLineBreak(name) || hasLineBreak(value) ||
            name.find(':') != std::string::npos)
            throw HttpError("请求头 \"" + name + "\" 无效，未发送请求：" + request.url);
        // "Name;" is libcurl's spelling of a header with an empty value.
        add(value.empty() ? name + ";" : name + ": " + value);
    }
    for (const char* own : {"Accept", "Expect", "Content-Type"})
        if (!hasHeader(request.headers, own))
            add(std::string(own) + ":");
    return list;
}

std::string describe(CURLcode code, const char* detail) {
    std::string text = curl_easy_strerror(code);
    if (detail && *detail) {
        std::string d = detail;
        while (!d.empty() && (d.back() == '\n' || d.back() == '\r'))
            d.pop_back();
        text += "（" + d + "）";
    }
    return text;
}

} // namespace

Response send(const Request& request) {
    auto cancelled = [&request] {
        return request.cancellation && request.cancellation->cancelled();
    };
    if (cancelled())
        throw Cancelled(request.url);
    initialiseCurlOnce();

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        throw HttpError("无法创建网络请求：" + request.url);
    if (request.method.empty() || hasLineBreak(request.method) ||
        request.method.find(' ') != std::string::npos)
        throw HttpError("请求方法 \"" + request.method + "\" 无效：" + request.url);

    Transfer transfer;
    transfer.request = &request;
    std::unique_ptr<curl_slist, SlistDeleter> headerList(buildHeaderList(request));
    char errorText[CURL_ERROR_SIZE] = {};

    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    // Only web addresses: a configured or received address never reaches a
    // local file or another protocol.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // A secure request stays secure: its redirects may only go to https.
    const bool secure = text::startsWithIgnoringCase(request.url, "https:");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.trustedCertificates.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, request.trustedCertificates.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBodyBytes));

    if (request.method == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (request.body) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body->data());
        if (request.method != "POST")
            curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (request.method != "GET") {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    // Name resolution and connection (with the TLS handshake) are one phase
    // for libcurl: it gets both allowances together.
    const Timeouts& to = request.timeouts;
    const long connectMs = std::max(0, to.resolveMs) + std::max(0, to.connectMs);
    if (connectMs > 0)
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    if (to.totalMs > 0)
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(to.totalMs));

    curl_multi_add_handle(multi.get(), c);
    struct Detach {
        CURLM* m;
        CURL* e;
        ~Detach() { curl_multi_remove_handle(m, e); }
    } detach{multi.get(), c};

    // A cancellation wakes the loop below out of its wait.
    const Cancellation::Watch watch(request.cancellation,
                                    [m = multi.get()] { curl_multi_wakeup(m); });

    // Sending and receiving are limited by how long the line stays silent,
    // the way the platform's request objects measure them: the send limit
    // while the request body is going out, the receive limit from then on.
    const curl_off_t bodySize = request.body ? static_cast<curl_off_t>(request.body->size()) : 0;
    bool connected = false;
    std::string timedOut;
    int running = 1;
    while (running) {
        CURLMcode mc = curl_multi_perform(multi.get(), &running);
        if (mc != CURLM_OK)
            throw HttpError("网络请求失败：" + request.url + "：" + curl_multi_strerror(mc));
        if (!running)
            break;
        if (cancelled())
            throw Cancelled(request.url);

        const auto now = SteadyClock::now();
        if (!connected) {
            curl_off_t pretransfer = 0;
            curl_easy_getinfo(c, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
            if (pretransfer > 0) {
                connected = true;
                transfer.lastActivity = now;
            }
        }
        if (connected) {
            const bool sending = transfer.uploaded < bodySize;
            const int limit = sending ? to.sendMs : to.receiveMs;
            const auto silent =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - transfer.lastActivity);
            if (limit > 0 && silent.count() >= limit) {
                timedOut = sending ? "发送请求" : "等待应答";
                break;
            }
        }
        mc = curl_multi_poll(multi.get(), nullptr, 0, 20, nullptr);
        if (mc != CURLM_OK)
            throw HttpError("网络请求失败：" + request.url + "：" + curl_multi_strerror(mc));
    }

    if (!timedOut.empty())
        throw HttpError("访问 " + request.url + " 超时：" + timedOut + "超过了规定时间。" +
                        "请检查网络连接后再试。");

    CURLcode result = CURLE_OK;
    int pending = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &pending))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == c)
            result = msg->data.result;

    if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
        throw HttpError("来自 " + request.url + " 的应答超过 " +
                        std::to_string(request.maxBodyBytes) + " 字节，已停止接收。");
    if (result == CURLE_PARTIAL_FILE) {
        // The connection closed before the announced body was complete: the
        // response is returned as it stands, marked incomplete.
        transfer.response.complete = false;
        return std::move(transfer.response);
    }
    if (result == CURLE_UNSUPPORTED_PROTOCOL && secure)
        throw insecureRedirect(request.url);
    if (result == CURLE_OPERATION_TIMEDOUT)
        throw HttpError("访问 " + request.url + " 超时：" + describe(result, errorText) +
                        "。请检查网络连接后再试。");
    if (result != CURLE_OK)
        throw HttpError("无法访问 " + request.url + "：" + describe(result, errorText) +
                        "。请检查网络连接和地址后再试。");

    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (status != 0)
        transfer.response.status = status;
    transfer.response.complete = true;
    return std::move(transfer.response);
}

} // namespace net
