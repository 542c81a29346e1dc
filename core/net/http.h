#pragma once

// A synchronous HTTP client: one request, one response. libcurl on Linux,
// WinHTTP on Windows. Response bodies are bounded; transport failures raise
// `net::HttpError`.

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace net {

// Per-phase time-outs in milliseconds; 0 leaves the library's default (no
// limit). Resolve and connect bound the way to an open connection (libcurl
// gets their sum for that one phase); send and receive bound how long the
// line may stay silent while the request goes out and while the answer comes
// in. `totalMs` bounds the whole exchange, so that a server dripping bytes
// cannot hold the caller forever.
struct Timeouts {
    int resolveMs = 0;
    int connectMs = 0;
    int sendMs = 0;
    int receiveMs = 0;
    int totalMs = 0;
};

using Headers = std::vector<std::pair<std::string, std::string>>;

// Lets another thread end the requests that carry it: once `cancel` has been
// called, a request under way ends promptly with `Cancelled`, and a request
// started later does not go out at all. Thread-safe; it must outlive the
// requests that carry it.
class Cancellation {
public:
    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel();
    bool cancelled() const { return cancelled_.load(); }

    // For the clients: while a Watch lives, `cancel` runs its action once, on
    // the cancelling thread; a Watch made after `cancel` runs it at once.
    // Destroying a Watch waits for an action under way, so that what the
    // action touches may be released right after. A null cancellation
    // watches nothing.
    class Watch {
    public:
        Watch(const Cancellation* cancellation, std::function<void()> action);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        const Cancellation* cancellation_;
        std::function<void()> action_;
    };

private:
    mutable std::mutex mutex_;
    std::atomic<bool> cancelled_{false};
    // The action of the Watch that lives now.
    mutable std::function<void()>* action_ = nullptr;
};

struct Request {
    std::string method = "GET";
    std::string url;
    // Sent in this order, with exactly these name spellings.
    Headers headers;
    // Absent: no body at all; present (even empty): sent as the body.
    std::optional<std::string> body;
    bool followRedirects = true;
    Timeouts timeouts;
    // A body larger than this is an error rather than unbounded memory.
    std::size_t maxBodyBytes = 8u << 20;
    // A PEM file of the certificate authorities to trust instead of the
    // system's; empty: the system's. For servers of one's own (tests); the
    // WinHTTP client trusts the system's store only and refuses the request.
    std::string trustedCertificates;
    // Ends the request from another thread; none: it runs to its end.
    const Cancellation* cancellation = nullptr;
};

struct Response {
    long status = 0;
    // The status line's reason text ("OK", "Not Found").
    std::string reason;
    // In the order received; names as the server spelled them.
    Headers headers;
    std::string body;
    // True when the whole body arrived (the request object's ready state 4).
    bool complete = false;

    // The first header of that name, compared case-insensitively; empty
    // when absent.
    std::string header(const std::string& name) const;
    // The charset parameter of Content-Type, or empty.
    std::string charset() const;
};

class HttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a request raises when its cancellation ended it.
class Cancelled : public HttpError {
public:
    explicit Cancelled(const std::string& url);
};

// The error for a redirect from https to http.
HttpError insecureRedirect(const std::string& url);

// Sends one request and waits for the whole response. Only http and https
// addresses are fetched; TLS certificates and host names are verified. A
// redirect from https to http is refused (an error), so that an answer meant
// to be protected is never fetched in the clear.
// Raises HttpError (a sentence naming the address) when the request cannot
// be made, a time-out expires, the transport fails or the body exceeds
// `maxBodyBytes`; Cancelled when its cancellation ends it. A connection that closes before the
// announced body is complete gives a response with `complete` false.
Response send(const Request& request);

} // namespace net
