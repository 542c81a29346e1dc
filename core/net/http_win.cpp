// The HTTP client on Windows: WinHTTP, one session per request, each step
// waited for by the calling thread.

#include "core/net/http.h"

#include "core/text/ascii.h"
#include "core/text/encoding.h"

#include <windows.h>

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string_view>

namespace net {

namespace {

using SteadyClock = std::chrono::steady_clock;

// WinHTTP's own defaults, used where the caller leaves a phase at 0.
constexpr int defaultResolveMs = 0; // no limit
constexpr int defaultConnectMs = 60000;
constexpr int defaultSendMs = 30000;
constexpr int defaultReceiveMs = 30000;

// The largest piece read at a time.
constexpr DWORD readPiece = 64 * 1024;

std::wstring toWide(std::string_view utf8) {
    const std::u16string u = text::utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string fromWide(const wchar_t* wide, std::size_t length) {
    return text::utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length));
}

struct Handle {
    HINTERNET h = nullptr;
    Handle() = default;
    explicit Handle(HINTERNET handle) : h(handle) {}
    ~Handle() {
        if (h)
            WinHttpCloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// The client runs WinHTTP asynchronously and waits for each step itself, so
// that a cancellation can end the wait at once: a thread blocked inside a
// synchronous WinHTTP call cannot be woken. What WinHTTP's callbacks share
// with the waiting thread lives until the request handle's last callback
// (HANDLE_CLOSING), which may come after `send` has returned: a step that
// was under way can still complete into the buffers kept here.
struct Exchange {
    // Set by each completed step; the cancellation sets `cancelled`.
    HANDLE completed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE cancelled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The waiting thread and WinHTTP each hold one.
    std::atomic<int> holders{2};
    // The error of the step completed last (0: it went through) and its
    // count: the bytes available or read.
    DWORD error = 0;
    DWORD count = 0;
    // What WinHTTP reads from or writes into while a step is under way.
    std::wstring headers;
    std::string body;
    std::string piece = std::string(readPiece, '\0');

    ~Exchange() {
        if (completed)
            CloseHandle(completed);
        if (cancelled)
            CloseHandle(cancelled);
    }
    void release() {
        if (--holders == 0)
            delete this;
    }
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* exchange = reinterpret_cast<Exchange*>(context);
    if (!exchange)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        exchange->error = 0;
        SetEvent(exchange->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        exchange->error = 0;
        exchange->count = *static_cast<DWORD*>(info);
        SetEvent(exchange->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        exchange->error = 0;
        exchange->count = length;
        SetEvent(exchange->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        exchange->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
        SetEvent(exchange->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        exchange->release();
        break;
    default:
        break;
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos || s.find('\0') != s.npos;
}

// The system's text for a WinHTTP or Windows error code.
std::string describe(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                 FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleW(L"winhttp.dll"), code, 0,
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n && buffer)
        text = std::string(trim(fromWide(buffer, n)));
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        text = "Windows 错误 " + std::to_string(code);
    return text;
}

[[noreturn]] void timedOut(const Request& request, const std::string& phase) {
    throw HttpError("访问 " + request.url + " 超时：" + phase + "超过了规定时间。" +
                    "请检查网络连接后再试。");
}

// WinHTTP reports an expired time-out as its own error; Wine passes on the
// socket's.
bool isTimeout(DWORD code) {
    return code == ERROR_WINHTTP_TIMEOUT || code == WSAETIMEDOUT || code == ERROR_TIMEOUT;
}

bool isCancelled(const Request& request) {
    return request.cancellation && request.cancellation->cancelled();
}

[[noreturn]] void failed(const Request& request, DWORD code, const std::string& phase) {
    if (isTimeout(code))
        timedOut(request, phase);
    throw HttpError("无法访问 " + request.url + "：" + describe(code) +
                    "。请检查网络连接和地址后再试。");
}

// Sets the four time-outs on the request, none longer than what is left of
// the whole exchange.
class Clock {
public:
    Clock(const Request& request, HINTERNET handle)
        : request_(request), handle_(handle), start_(SteadyClock::now()) {}

    void apply(const std::string& phase) {
        const Timeouts& t = request_.timeouts;
        int resolve = t.resolveMs > 0 ? t.resolveMs : defaultResolveMs;
        int connect = t.connectMs > 0 ? t.connectMs : defaultConnectMs;
        int send = t.sendMs > 0 ? t.sendMs : defaultSendMs;
        int receive = t.receiveMs > 0 ? t.receiveMs : defaultReceiveMs;
        if (t.totalMs > 0) {
            const auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start_)
                    .count();
            const int left = static_cast<int>(std::max<long long>(0, t.totalMs - spent));
            if (left == 0)
                timedOut(request_, phase);
            resolve = resolve == 0 ? left : std::min(resolve, left);
            connect = std::min(connect, left);
            send = std::min(send, left);
            receive = std::min(receive, left);
        }
        if (!WinHttpSetTimeouts(handle_, resolve, connect, send, receive))
            failed(request_, GetLastError(), phase);
        // Waiting for the answer's headers has a limit of its own (90 s by
        // default); the receive limit covers it too.
        DWORD responseWait = static_cast<DWORD>(receive);
        WinHttpSetOption(handle_, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseWait,
                         sizeof responseWait);
    }

private:
    const Request& request_;
    HINTERNET handle_;
    SteadyClock::time_point start_;
};

// Waits for the step just started: its error (0 when it went through).
// Raises Cancelled when the cancellation comes first.
DWORD await(const Request& request, Exchange& exchange) {
    HANDLE events[] = {exchange.completed, exchange.cancelled};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0)
        throw Cancelled(request.url);
    return exchange.error;
}

// A string-valued header query; empty when absent.
std::wstring queryText(HINTERNET request, DWORD what) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

// The header block after the status line, in order and as spelled.
Headers parseHeaders(const std::string& block) {
    Headers headers;
    std::size_t pos = block.find("\r\n");
    while (pos != std::string::npos && pos + 2 < block.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = block.find("\r\n", start);
        const std::string_view line(block.data() + start,
                                    (end == std::string::npos ? block.size() : end) - start);
        pos = end;
        if (trim(line).empty())
            continue;
        if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
            // An obsolete folded continuation of the previous header.
            headers.back().second += ' ';
            headers.back().second += trim(line);
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        headers.emplace_back(std::string(trim(line.substr(0, colon))),
                             std::string(trim(line.substr(colon + 1))));
    }
    return headers;
}

// The announced body length, or -1 when none (or no number) is announced.
long long announcedLength(const Response& response) {
    const std::string value = response.header("Content-Length");
    if (value.empty() || value.size() > 18 ||
        value.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoll(value);
}

} // namespace

Response send(const Request& request) {
    if (isCancelled(request))
        throw Cancelled(request.url);
    if (request.method.empty() || hasLineBreak(request.method) ||
        request.method.find_first_of(" \t") != std::string::npos)
        throw HttpError("请求方法 \"" + request.method + "\" 无效：" + request.url);
    std::wstring headerBlock;
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || hasLineBreak(name) || hasLineBreak(value) ||
            name.find(':') != std::string::npos)
            throw HttpError("请求头 \"" + name + "\" 无效，未发送请求：" + request.url);
        headerBlock += toWide(value.empty() ? name + ":" : name + ": " + value);
        headerBlock += L"\r\n";
    }

    // Only web addresses: a configured or received address never reaches a
    // local file or another protocol.
    std::wstring url = toWide(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (hasLineBreak(request.url) ||
        !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        throw HttpError("地址无效，无法访问：" + request.url);
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        throw HttpError("只能访问 http 或 https 地址：" + request.url);
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo)
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty() || path.front() != L'/')
        path.insert(path.begin(), L'/');
    if (host.empty())
        throw HttpError("地址无效，无法访问：" + request.url);
    if (!request.trustedCertificates.empty())
        throw HttpError("此版本只信任系统的证书，未访问：" + request.url);

    // No user agent of our own, as with libcurl: the caller's headers are
    // the only ones besides what HTTP itself needs.
    Handle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session.h)
        failed(request, GetLastError(), "准备请求");
    Handle connection(WinHttpConnect(session.h, host.c_str(), parts.nPort, 0));
    if (!connection.h)
        failed(request, GetLastError(), "准备请求");
    const std::wstring method = toWide(request.method);
    Handle handle(
        WinHttpOpenRequest(connection.h, method.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                           parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!handle.h)
        failed(request, GetLastError(), "准备请求");

    // The request handle's callbacks get the exchange; until they are set up
    // this thread holds WinHTTP's share as well.
    auto* exchange = new Exchange;
    struct Holder {
        Exchange* exchange;
        bool shared = false;
        ~Holder() {
            if (!shared)
                exchange->release();
            exchange->release();
        }
    } holder{exchange};
    auto context = reinterpret_cast<DWORD_PTR>(exchange);
    if (!exchange->completed || !exchange->cancelled ||
        !WinHttpSetOption(handle.h, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) ||
        WinHttpSetStatusCallback(handle.h, onStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS |
                                     WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK)
        failed(request, GetLastError(), "准备请求");
    holder.shared = true;
    // A cancellation ends the wait for the step under way.
    const Cancellation::Watch watch(request.cancellation,
                                    [exchange] { SetEvent(exchange->cancelled); });

    // A secure request stays secure: a redirect from https to http is not
    // followed, and refused below.
    DWORD policy = request.followRedirects ? WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP
                                           : WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(handle.h, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    DWORD maxRedirects = 10;
    WinHttpSetOption(handle.h, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &maxRedirects,
                     sizeof maxRedirects);

    Clock clock(request, handle.h);
    clock.apply("发送请求");
    if (request.body && request.body->size() > 0xFFFFFFFFu)
        throw HttpError("请求内容过大，未发送：" + request.url);
    exchange->headers = headerBlock;
    exchange->body = request.body.value_or(std::string());
    const DWORD bodySize = static_cast<DWORD>(exchange->body.size());
    if (!WinHttpSendRequest(handle.h,
                            exchange->headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS
                                                      : exchange->headers.c_str(),
                            static_cast<DWORD>(exchange->headers.size()),
                            bodySize ? exchange->body.data() : WINHTTP_NO_REQUEST_DATA, bodySize,
                            bodySize, context))
        failed(request, GetLastError(), "连接和发送请求");
    if (const DWORD error = await(request, *exchange))
        failed(request, error, "连接和发送请求");
    clock.apply("等待应答");
    if (!WinHttpReceiveResponse(handle.h, nullptr))
        failed(request, GetLastError(), "等待应答");
    if (const DWORD error = await(request, *exchange))
        failed(request, error, "等待应答");

    Response response;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(handle.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        failed(request, GetLastError(), "读取应答");
    response.status = static_cast<long>(status);
    const std::wstring reason = queryText(handle.h, WINHTTP_QUERY_STATUS_TEXT);
    response.reason = std::string(trim(fromWide(reason.data(), reason.size())));
    const std::wstring raw = queryText(handle.h, WINHTTP_QUERY_RAW_HEADERS_CRLF);
    response.headers = parseHeaders(fromWide(raw.data(), raw.size()));
    if (request.followRedirects && response.status >= 300 && response.status < 400 &&
        text::startsWithIgnoringCase(response.header("Location"), "http:"))
        throw insecureRedirect(request.url);

    const long long announced = announcedLength(response);
    auto tooLarge = [&] {
        throw HttpError("来自 " + request.url + " 的应答超过 " +
                        std::to_string(request.maxBodyBytes) + " 字节，已停止接收。");
    };
    if (announced > 0 && static_cast<unsigned long long>(announced) > request.maxBodyBytes)
        tooLarge();

    // Each wait is for what the server has sent so far, so that no single
    // step outlasts the receive limit or what is left of the total.
    while (request.method != "HEAD") {
        clock.apply("接收应答");
        DWORD error = WinHttpQueryDataAvailable(handle.h, nullptr) ? await(request, *exchange)
                                                                   : GetLastError();
        DWORD got = 0;
        if (!error && exchange->count > 0) {
            error = WinHttpReadData(handle.h, exchange->piece.data(),
                                    std::min(exchange->count, readPiece), nullptr)
                        ? await(request, *exchange)
                        : GetLastError();
            got = exchange->count;
        }
        if (error) {
            if (error == ERROR_WINHTTP_CONNECTION_ERROR ||
                error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
                // The connection closed in the middle of the body: the
                // response is returned as it stands, marked incomplete.
                response.complete = false;
                return response;
            }
            failed(request, error, "接收应答");
        }
        if (got == 0)
            break;
        if (response.body.size() + got > request.maxBodyBytes)
            tooLarge();
        response.body.append(exchange->piece.data(), got);
    }
    response.complete = announced < 0 || request.method == "HEAD" ||
                        response.body.size() >= static_cast<unsigned long long>(announced);
    return response;
}

} // namespace net
