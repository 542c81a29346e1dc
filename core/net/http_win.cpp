// The HTTP client on Windows: WinHTTP, synchronous, one session per request.

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

// The request handle. A cancellation may close it from another thread, which
// ends the call waiting on it; it is closed once, by whichever comes first.
class RequestHandle {
public:
    explicit RequestHandle(HINTERNET handle) : h(handle) {}
    ~RequestHandle() { close(); }
    RequestHandle(const RequestHandle&) = delete;
    RequestHandle& operator=(const RequestHandle&) = delete;

    void close() {
        if (h && !closed_.exchange(true))
            WinHttpCloseHandle(h);
    }

    HINTERNET const h;

private:
    std::atomic<bool> closed_{false};
};

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
    // A call fails once a cancellation has closed its handle.
    if (isCancelled(request))
        throw Cancelled(request.url);
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
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.h)
        failed(request, GetLastError(), "准备请求");
    Handle connection(WinHttpConnect(session.h, host.c_str(), parts.nPort, 0));
    if (!connection.h)
        failed(request, GetLastError(), "准备请求");
    const std::wstring method = toWide(request.method);
    RequestHandle handle(
        WinHttpOpenRequest(connection.h, method.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                           parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!handle.h)
        failed(request, GetLastError(), "准备请求");
    // A cancellation ends the call waiting on the request.
    const Cancellation::Watch watch(request.cancellation, [&handle] { handle.close(); });

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
    const std::string* body = request.body ? &*request.body : nullptr;
    const DWORD bodySize = body ? static_cast<DWORD>(body->size()) : 0;
    if (body && body->size() > 0xFFFFFFFFu)
        throw HttpError("请求内容过大，未发送：" + request.url);
    if (!WinHttpSendRequest(
            handle.h, headerBlock.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerBlock.c_str(),
            static_cast<DWORD>(headerBlock.size()),
            body && bodySize ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA, bodySize,
            bodySize, 0))
        failed(request, GetLastError(), "连接和发送请求");
    clock.apply("等待应答");
    if (!WinHttpReceiveResponse(handle.h, nullptr))
        failed(request, GetLastError(), "等待应答");

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
    // call outlasts the receive limit or what is left of the total.
    std::string piece(readPiece, '\0');
    while (request.method != "HEAD") {
        if (isCancelled(request))
            throw Cancelled(request.url);
        clock.apply("接收应答");
        DWORD available = 0;
        DWORD got = 0;
        BOOL ok = WinHttpQueryDataAvailable(handle.h, &available);
        if (ok && available > 0)
            ok = WinHttpReadData(handle.h, piece.data(), std::min(available, readPiece), &got);
        if (!ok) {
            const DWORD code = GetLastError();
            if (code == ERROR_WINHTTP_CONNECTION_ERROR ||
                code == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) {
                // The connection closed in the middle of the body: the
                // response is returned as it stands, marked incomplete.
                response.complete = false;
                return response;
            }
            failed(request, code, "接收应答");
        }
        if (got == 0)
            break;
        if (response.body.size() + got > request.maxBodyBytes)
            tooLarge();
        response.body.append(piece.data(), got);
    }
    response.complete = announced < 0 || request.method == "HEAD" ||
                        response.body.size() >= static_cast<unsigned long long>(announced);
    return response;
}

} // namespace net
