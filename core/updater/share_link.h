#pragma once

// Share-link resolution: turns the share page of a release on the
// file-sharing site into the address the file itself is downloaded from, by
// doing what a browser does there. Every request is a fresh synchronous
// request, so nothing carries over from one to the next.
//
//   1. GET  share page               -> frame path  (FetchFramePath)
//   2. GET  base + frame path        -> sign        (GetSign)
//   3. POST base + "/ajaxm.php"      -> reply       (PostDownProcess)
//      reply                         -> file URL    (BuildFileUrl)
//   4. GET  file URL, no redirects   -> location    (GetRedirectLocation)
//
// `base` is the site's base address without a trailing slash. Each step
// takes an optional cancellation, through which another thread can end it
// (net::Cancelled); without one it runs to its end.

#include "core/net/http.h"

#include <string>

namespace updater {

// The browser identities sent as user agents.
inline constexpr const char* kBrowserIdentityA =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/79.0.3945.79 Safari/537.36 Edg/79.0.309.51";
inline constexpr const char* kBrowserIdentityB =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/78.0.3904.108 Safari/537.36";

// The longest value a pattern takes in (a frame path's word characters, a
// sign, a domain). Longer runs are not taken as a match: the values are a few
// dozen characters, and the regular-expression engine needs stack in
// proportion to the run it scans.
inline constexpr std::size_t kMaxMatchedValue = 1024;

// The most one request of the resolution may take altogether: a server that
// drips its answer cannot hold the updater, and the whole resolution (four
// requests) ends within four times this.
inline constexpr int kRequestTotalMs = 60'000;

// The requests, exactly as they are sent.
net::Request sharePageRequest(const std::string& sharePageUrl, const std::string& base);
net::Request framePageRequest(const std::string& frameUrl);
net::Request downProcessRequest(const std::string& sign, const std::string& base);
net::Request redirectRequest(const std::string& fileUrl);

// The frame path on a share page: "/fn?" followed by the word characters of
// the first src="/fn?..." with at least 30 of them; empty when there is none.
std::string FindFramePath(const std::string& sharePage);

// Request 1 and the frame path of its answer. Raises net::HttpError when the
// page cannot be fetched; the status is not looked at.
std::string FetchFramePath(const std::string& sharePageUrl, const std::string& base,
                           const net::Cancellation* cancellation = nullptr);

// The sign on a frame page; empty when the page has none.
std::string FindSign(const std::string& framePage);

// `GetSign`: request 2 and the sign on the frame page. Raises net::HttpError
// when the page cannot be fetched.
std::string GetSign(const std::string& framePath, const std::string& base,
                    const net::Cancellation* cancellation = nullptr);

// `PostDownProcess`: request 3; the reply text unchanged, whatever the
// status. Raises net::HttpError when the request fails.
std::string PostDownProcess(const std::string& sign, const std::string& base,
                            const net::Cancellation* cancellation = nullptr);

// `BuildFileUrl`: domain + "/file/" + token from the reply; the last domain
// field wins. Empty when the reply has no token field. Never raises.
std::string BuildFileUrl(const std::string& reply) noexcept;

// `GetRedirectLocation`: request 4; the "Location" header of a 301 or 302
// answer, empty for any other answer or failure (a cancelled one too). Never
// raises.
std::string GetRedirectLocation(const std::string& fileUrl,
                                const net::Cancellation* cancellation = nullptr) noexcept;

// The whole resolution of `sharePageUrl`, the steps above in their order: the
// location to download from, empty when the site gave none. Raises
// net::HttpError when request 1, 2 or 3 fails, net::Cancelled as soon as
// `cancellation` is cancelled, whichever request is under way. Keeps no
// state, so it may run on any thread.
std::string resolveShareLink(const std::string& sharePageUrl, const std::string& base,
                             const net::Cancellation* cancellation = nullptr);

} // namespace updater
