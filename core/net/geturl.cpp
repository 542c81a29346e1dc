#include "core/net/geturl.h"
#include "core/text/ascii.h"

#include "core/text/encoding.h"

#include <algorithm>
#include <climits>
#include <sstream>

namespace net {

namespace {

// How long a fetch may take altogether, as a multiple of the base time-out:
// enough for a slow line to bring a web page, yet a server that drips its
// answer cannot hold the program for ever.
constexpr long long wholeFetchFactor = 30;

int clampMs(long long ms) {
    if (ms <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

std::string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        units += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    }
    if (bytes.size() % 2)
        units += u'\uFFFD';
    return text::utf16ToUtf8(units);
}

// Decodes `bytes` in the named character set. A byte-order mark wins over
// the name. Chinese pages often name GB2312 while using GBK's larger set, so
// both are read as GBK, as browsers do. The result is always valid UTF-8.
std::string decodeBody(std::string_view bytes, std::string_view charset) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return text::decodeToUtf8(bytes.substr(3), "UTF-8");
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return decodeUtf16(bytes.substr(2), false);
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return decodeUtf16(bytes.substr(2), true);
    std::string name = text::asciiUpper(charset);
    if (name == "GB2312" || name == "X-GBK" || name == "GBK" || name == "CP936")
        name = "GBK";
    if (name == "UTF-16LE")
        return decodeUtf16(bytes, false);
    if (name == "UTF-16BE" || name == "UTF-16")
        return decodeUtf16(bytes, true);
    // Undecodable bytes, or a character set the system does not know, must
    // not leave invalid UTF-8 behind.
    return text::utf16ToUtf8(text::utf8ToUtf16(text::decodeToUtf8(bytes, name)));
}

// The encoding named by an XML declaration at the start of `bytes`.
std::string xmlDeclaredEncoding(std::string_view bytes) {
    if (bytes.substr(0, 5) != "<?xml")
        return {};
    const std::size_t end = bytes.find("?>");
    const std::string_view decl = bytes.substr(0, end);
    const std::size_t key = decl.find("encoding");
    if (key == std::string_view::npos)
        return {};
    std::size_t i = decl.find_first_of("\"'", key);
    if (i == std::string_view::npos)
        return {};
    const char quote = decl[i];
    const std::size_t close = decl.find(quote, i + 1);
    if (close == std::string_view::npos)
        return {};
    return std::string(decl.substr(i + 1, close - i - 1));
}

} // namespace

Request geturlRequest(const std::string& url, const std::string& method, int timeoutMs) {
    Request request;
    request.method = method;
    request.url = url;
    const long long base = timeoutMs;
    request.timeouts.resolveMs = clampMs(base);
    request.timeouts.connectMs = clampMs(base);
    request.timeouts.sendMs = clampMs(base);
    request.timeouts.receiveMs = clampMs(3 * base);
    request.timeouts.totalMs = clampMs(wholeFetchFactor * base);
    return request;
}

std::string responseText(const Response& response) {
    return decodeBody(response.body, response.charset());
}

GeturlResult geturlResult(const Response& response, int responseKind) {
    if (response.status != 200 || !response.complete)
        return std::nullopt;
    switch (responseKind) {
    case 0:
        return GeturlValue(responseText(response));
    case 1:
        return GeturlValue(ResponseBytes(response.body.begin(), response.body.end()));
    case 2: {
        std::string charset = xmlDeclaredEncoding(response.body);
        if (charset.empty())
            charset = response.charset();
        return GeturlValue(XmlDocument{decodeBody(response.body, charset)});
    }
    default:
        return GeturlValue(ResponseStream(
            std::make_shared<std::istringstream>(response.body, std::ios::in | std::ios::binary)));
    }
}

GeturlResult Geturl(const std::string& url, const std::string& method, int responseKind,
                    int timeoutMs) {
    return geturlResult(send(geturlRequest(url, method, timeoutMs)), responseKind);
}

std::optional<std::string> textOf(const GeturlResult& result) {
    if (!result)
        return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&*result))
        return *text;
    return std::nullopt;
}

} // namespace net
