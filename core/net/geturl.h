#pragma once

// `Geturl`: one synchronous fetch of a web resource, shared by both programs.

#include "core/net/http.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace net {

// The response of kind 2: the document's text in UTF-8, decoded as XML says
// (byte-order mark, then the encoding declaration, then the charset the
// server declared, then UTF-8). It is not checked for well-formedness.
struct XmlDocument {
    std::string text;
};

using ResponseBytes = std::vector<std::uint8_t>;
// A readable stream over the body's bytes (response kind 3 and any other).
using ResponseStream = std::shared_ptr<std::istream>;

// Text (kind 0), bytes (1), XML document (2), stream (any other kind).
using GeturlValue = std::variant<std::string, ResponseBytes, XmlDocument, ResponseStream>;
// Empty unless the request completed with status 200.
using GeturlResult = std::optional<GeturlValue>;

// `Geturl`: fetches `url` with `method` and returns the body in the form
// chosen by `responseKind`. Name resolution, connection and sending each get
// `timeoutMs`, receiving 3 x `timeoutMs`. Any status but 200, or a body cut
// short, gives the empty result. Raises HttpError when the request fails.
GeturlResult Geturl(const std::string& url, const std::string& method, int responseKind,
                    int timeoutMs);

// The request Geturl sends.
Request geturlRequest(const std::string& url, const std::string& method, int timeoutMs);
// What Geturl returns for `response`.
GeturlResult geturlResult(const Response& response, int responseKind);

// The body as text: a byte-order mark wins, then the charset the response
// declares; UTF-8 when it declares none.
std::string responseText(const Response& response);

// The text of a result of kind 0; nothing for the empty result or another
// form.
std::optional<std::string> textOf(const GeturlResult& result);

} // namespace net
