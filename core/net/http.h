#pragma once

// A synchronous HTTP client: one request, one response. libcurl on Linux,
// WinHTTP on Windows. Response bodies are bounded; transport failures raise
// `net::HttpError`.

#include <cstddef>
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

// The error for a redirect from https to http.
HttpError insecureRedirect(const std::string& url);

// Sends one request and waits for the whole response. Only http and https
// addresses are fetched; TLS certificates and host names are verified. A
// redirect from https to http is refused (an error), so that an answer meant
// to be protected is never fetched in the clear.
// Raises HttpError (a sentence naming the address) when the request cannot
// be made, a time-out expires, the transport fails or the body exceeds
// `maxBodyBytes`. A connection that closes before the announced body is
// complete gives a response with `complete` false.
Response send(const Request& request);

} // namespace net
