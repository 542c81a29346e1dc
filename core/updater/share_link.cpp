#include "core/updater/share_link.h"

#include "core/text/encoding.h"

#include <algorithm>
#include <optional>
#include <regex>
#include <string_view>

namespace updater {

namespace {

// The longest fixed text a pattern has after its value.
constexpr std::size_t kLongestTail = 4;

struct Match {
    std::size_t position = 0;
    std::string text;
};

// The first match of `pattern` at or after `from`, for a pattern every match
// of which begins with the literal `lead`. Each place where `lead` stands is
// tried in turn, and the pattern sees at most the lead, kMaxMatchedValue
// characters and its tail from there; this keeps the engine's recursion
// bounded on pages of any size.
std::optional<Match> boundedSearch(const std::string& text, std::string_view lead,
                                   const std::regex& pattern, std::size_t from = 0) {
    for (std::size_t at = text.find(lead, from); at != std::string::npos;
         at = text.find(lead, at + 1)) {
        const std::size_t span =
            std::min(text.size() - at, lead.size() + kMaxMatchedValue + kLongestTail);
        std::match_results<std::string::const_iterator> m;
        const auto first = text.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::regex_search(first, first + static_cast<std::ptrdiff_t>(span), m, pattern,
                              std::regex_constants::match_continuous))
            return Match{at, m.str(0)};
    }
    return std::nullopt;
}

// Deletes every occurrence of `what` from `s`.
std::string removeAll(std::string s, std::string_view what) {
    for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at))
        s.erase(at, what.size());
    return s;
}

// The body as text, decoded by the charset the answer declares.
std::string responseText(const net::Response& response) {
    return text::decodeToUtf8(response.body, response.charset());
}

// The time-outs of the platform's request object when none are set:
// connecting 60 s, sending and receiving 30 s each; name resolution unbounded
// there, left to the library here. The whole request is bounded as well.
net::Timeouts requestObjectDefaults() {
    net::Timeouts t;
    t.connectMs = 60'000;
    t.sendMs = 30'000;
    t.receiveMs = 30'000;
    t.totalMs = kRequestTotalMs;
    return t;
}

net::Request baseRequest(std::string method, std::string url) {
    net::Request r;
    r.method = std::move(method);
    r.url = std::move(url);
    r.timeouts = requestObjectDefaults();
    return r;
}

// The request as sent, carrying the cancellation that may end it.
net::Response sendWith(net::Request request, const net::Cancellation* cancellation) {
    request.cancellation = cancellation;
    return net::send(request);
}

const std::regex& framePattern() {
    static const std::regex re(R"re(src="/fn\?(\w{30,})")re");
    return re;
}

} // namespace

net::Request sharePageRequest(const std::string& sharePageUrl, const std::string& base) {
    net::Request r = baseRequest("GET", sharePageUrl);
    r.headers = {{"user-agent", kBrowserIdentityA}, {"origin", base}};
    r.body = "";
    return r;
}

net::Request framePageRequest(const std::string& frameUrl) {
    net::Request r = baseRequest("GET", frameUrl);
    r.headers = {{"user-agent", kBrowserIdentityA},
                 {"referer", frameUrl},
                 {"Content-Type", "application/x-www-form-urlencoded"}};
    r.body = "";
    return r;
}

net::Request downProcessRequest(const std::string& sign, const std::string& base) {
    net::Request r = baseRequest("POST", base + "/ajaxm.php");
    r.headers = {{"user-agent", kBrowserIdentityA},
                 {"referer", base + "/fn?" + sign},
                 {"content-type", "application/x-www-form-urlencoded"}};
    // The sign goes in as it is, without further encoding.
    r.body = "action=downprocess&sign=" + sign + "&ves=1";
    return r;
}

net::Request redirectRequest(const std::string& fileUrl) {
    net::Request r = baseRequest("GET", removeAll(fileUrl, "\\"));
    r.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                 {"User-Agent", kBrowserIdentityB},
                 {"Accept-Language", "zh-CN,zh;q=0.9,en;q=0.8"}};
    r.body.reset();
    // The redirect is what we are after, so it must not be followed.
    r.followRedirects = false;
    return r;
}

std::string FindFramePath(const std::string& sharePage) {
    const auto m = boundedSearch(sharePage, "src=\"/fn?", framePattern());
    if (!m)
        return {};
    // src="/fn?…" without the src, the equals sign and the quotes.
    std::string path = m->text.substr(std::string_view("src=\"").size());
    path.pop_back();
    return path;
}

std::string FetchFramePath(const std::string& sharePageUrl, const std::string& base,
                           const net::Cancellation* cancellation) {
    const net::Response response = sendWith(sharePageRequest(sharePageUrl, base), cancellation);
    return FindFramePath(responseText(response));
}

std::string FindSign(const std::string& framePage) {
    const std::size_t marker = framePage.find(",'sign':posturl");
    // Only a marker after the page's first character counts.
    if (marker != std::string::npos && marker > 0) {
        static const std::regex posturl(R"re(var posturl = '(\w{30,})';)re");
        const auto m = boundedSearch(framePage, "var posturl = '", posturl);
        if (!m)
            return {};
        return removeAll(removeAll(m->text, "var posturl = '"), "';");
    }
    static const std::regex sign(R"re('sign':'(\w{30,})')re");
    const auto m = boundedSearch(framePage, "'sign':'", sign);
    if (!m)
        return {};
    return removeAll(removeAll(m->text, "'sign':'"), "'");
}

std::string GetSign(const std::string& framePath, const std::string& base,
                    const net::Cancellation* cancellation) {
    const net::Response response = sendWith(framePageRequest(base + framePath), cancellation);
    return FindSign(responseText(response));
}

std::string PostDownProcess(const std::string& sign, const std::string& base,
                            const net::Cancellation* cancellation) {
    return responseText(sendWith(downProcessRequest(sign, base), cancellation));
}

std::string BuildFileUrl(const std::string& reply) noexcept {
    try {
        static const std::regex domainPattern(R"re(dom":"([^"]+)")re");
        std::string domain;
        for (auto m = boundedSearch(reply, "dom\":\"", domainPattern); m;
             m = boundedSearch(reply, "dom\":\"", domainPattern, m->position + m->text.size()))
            domain = removeAll(removeAll(removeAll(m->text, "dom\":\""), "\""), "\\");

        static constexpr std::string_view tokenField = "\"url\":\"";
        const std::size_t field = reply.find(tokenField);
        if (field == std::string::npos)
            return {};
        const std::size_t start = field + tokenField.size();
        // Up to the next token field, then up to the first quote.
        std::string token = reply.substr(start, reply.find(tokenField, start) - start);
        token = token.substr(0, token.find('"'));
        return domain + "/file/" + removeAll(token, "\\");
    } catch (...) {
        return {};
    }
}

std::string GetRedirectLocation(const std::string& fileUrl,
                                const net::Cancellation* cancellation) noexcept {
    try {
        const net::Response response = sendWith(redirectRequest(fileUrl), cancellation);
        if (response.status == 301 || response.status == 302)
            return response.header("Location");
        return {};
    } catch (...) {
        return {};
    }
}

std::string resolveShareLink(const std::string& sharePageUrl, const std::string& base,
                             const net::Cancellation* cancellation) {
    const std::string framePath = FetchFramePath(sharePageUrl, base, cancellation);
    const std::string sign = GetSign(framePath, base, cancellation);
    const std::string reply = PostDownProcess(sign, base, cancellation);
    const std::string location = GetRedirectLocation(BuildFileUrl(reply), cancellation);
    // The last step swallows its failures, a cancellation among them.
    if (cancellation && cancellation->cancelled())
        throw net::Cancelled(sharePageUrl);
    return location;
}

} // namespace updater
