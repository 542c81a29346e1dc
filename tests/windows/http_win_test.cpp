// The WinHTTP client against a server on 127.0.0.1.

#include "support/loopback_server.h"

#include "core/net/http.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::LoopbackServer;
using testing_support::reply;

namespace {

Answer answer(const std::string& bytes) {
    return {{0ms, bytes}};
}

// The header lines of a raw request, without the request line.
std::vector<std::string> headerLines(const std::string& request) {
    std::vector<std::string> lines;
    std::size_t pos = request.find("\r\n");
    while (pos != std::string::npos) {
        const std::size_t next = request.find("\r\n", pos + 2);
        if (next == std::string::npos || next == pos + 2)
            break;
        lines.push_back(request.substr(pos + 2, next - pos - 2));
        pos = next;
    }
    return lines;
}

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

std::string bodyOf(const std::string& request) {
    const std::size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
}

// A port on which nothing listens.
std::string closedPortUrl() {
    std::string url;
    {
        LoopbackServer server([](const std::string&) { return Answer{}; });
        url = server.url("/");
    }
    return url;
}

} // namespace

TEST(WinHttpSend, HeadersGoOutInOrderAndTheAnswerIsReadAsSent) {
    LoopbackServer server([](const std::string&) {
        return answer("HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=GBK\r\nX-two: b\r\n"
                      "Content-Length: 2\r\nConnection: close\r\n\r\nok");
    });
    net::Request request;
    request.url = server.url("/share?x=1&y=%E6%8A%A5");
    request.headers = {{"X-requested-With", "XMLHttpRequest"},
                       {"accept-language", "zh-CN"},
                       {"Referer", "https://share.example.org/s/abc"},
                       {"X-Empty", ""}};
    const net::Response response = net::send(request);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.reason, "OK");
    EXPECT_TRUE(response.complete);
    EXPECT_EQ(response.body, "ok");
    ASSERT_GE(response.headers.size(), 2u);
    EXPECT_EQ(response.headers[0],
              (net::Headers::value_type{"Content-Type", "text/plain; charset=GBK"}));
    EXPECT_EQ(response.headers[1], (net::Headers::value_type{"X-two", "b"}));
    EXPECT_EQ(response.header("x-TWO"), "b");
    EXPECT_EQ(response.charset(), "GBK");

    ASSERT_EQ(server.requests().size(), 1u);
    const std::string sent = server.requests()[0];
    EXPECT_EQ(sent.rfind("GET /share?x=1&y=%E6%8A%A5 HTTP/1.1\r\n", 0), 0u) << sent;
    const auto lines = headerLines(sent);
    // Ours in our order and spelling; WinHTTP adds only what HTTP needs.
    const std::size_t a = indexOf(lines, "X-requested-With: XMLHttpRequest");
    const std::size_t b = indexOf(lines, "accept-language: zh-CN");
    const std::size_t c = indexOf(lines, "Referer: https://share.example.org/s/abc");
    ASSERT_LT(c, lines.size()) << sent;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    const auto empty = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("X-Empty:", 0) == 0;
    });
    ASSERT_NE(empty, lines.end()) << sent;
    EXPECT_EQ(empty->find_first_not_of(' ', 8), std::string::npos);
    for (const auto& line : lines)
        EXPECT_NE(line.rfind("User-Agent", 0), 0u) << line;
}

TEST(WinHttpSend, MethodAndBody) {
    LoopbackServer server([](const std::string&) { return answer(reply("200 OK", "", "done")); });
    net::Request post;
    post.method = "POST";
    post.url = server.url("/echo");
    post.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"}};
    post.body = "action=load&sign=abc";
    EXPECT_EQ(net::send(post).body, "done");

    net::Request put = post;
    put.method = "PUT";
    put.headers.clear();
    put.body = "";
    EXPECT_EQ(net::send(put).status, 200);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("POST /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(bodyOf(requests[0]), "action=load&sign=abc");
    const auto lines = headerLines(requests[0]);
    EXPECT_LT(indexOf(lines, "Content-Type: application/x-www-form-urlencoded; charset=UTF-8"),
              lines.size());
    EXPECT_EQ(requests[1].rfind("PUT /echo HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(bodyOf(requests[1]), "");
}

TEST(WinHttpSend, RedirectsCanBeKeptUnfollowed) {
    LoopbackServer server([](const std::string& request) {
        if (request.rfind("GET /from ", 0) == 0)
            return answer(reply("302 Found", "Location: /to\r\n", ""));
        return answer(reply("200 OK", "", "there"));
    });
    net::Request request;
    request.url = server.url("/from");
    request.followRedirects = false;
    const net::Response kept = net::send(request);
    EXPECT_EQ(kept.status, 302);
    EXPECT_EQ(kept.reason, "Found");
    EXPECT_EQ(kept.header("Location"), "/to");
    EXPECT_EQ(server.requests().size(), 1u);

    request.followRedirects = true;
    const net::Response followed = net::send(request);
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, "there");
    // Only the final answer's headers are kept.
    EXPECT_EQ(followed.header("Location"), "");
}

TEST(WinHttpSend, ErrorStatusIsAnAnswerNotAFailure) {
    LoopbackServer server(
        [](const std::string&) { return answer(reply("404 Not Found", "", "missing")); });
    net::Request request;
    request.url = server.url("/version.html");
    const net::Response response = net::send(request);
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.reason, "Not Found");
    EXPECT_EQ(response.body, "missing");
    EXPECT_TRUE(response.complete);
}

TEST(WinHttpSend, BodyOverTheBoundIsAnError) {
    const std::string big(64 * 1024, 'x');
    LoopbackServer server([&](const std::string& request) {
        if (request.rfind("GET /big ", 0) == 0)
            return answer(reply("200 OK", "", big));
        // No length announced: the bound must hold while the body streams in.
        std::string chunked =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
        for (int i = 0; i < 8; ++i)
            chunked += "2000\r\n" + std::string(8 * 1024, 'y') + "\r\n";
        chunked += "0\r\n\r\n";
        return answer(chunked);
    });
    for (const char* path : {"/big", "/chunked"}) {
        net::Request request;
        request.url = server.url(path);
        request.maxBodyBytes = 1000;
        EXPECT_THROW(net::send(request), net::HttpError) << path;
        request.maxBodyBytes = 64 * 1024;
        const net::Response whole = net::send(request);
        EXPECT_EQ(whole.body.size(), 64u * 1024) << path;
        EXPECT_TRUE(whole.complete) << path;
    }
}

TEST(WinHttpSend, ConnectionClosedBeforeTheAnnouncedBodyEndsIsIncomplete) {
    LoopbackServer server([](const std::string&) {
        return answer("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\nabcd");
    });
    net::Request request;
    request.url = server.url("/cut");
    const net::Response response = net::send(request);
    EXPECT_EQ(response.status, 200);
    EXPECT_FALSE(response.complete);
    EXPECT_EQ(response.body, std::string("abcd").substr(0, response.body.size()));
}

TEST(WinHttpSend, SilentServerRunsIntoTheReceiveTimeout) {
    LoopbackServer server([](const std::string&) {
        return Answer{{20s, reply("200 OK", "", "late")}};
    });
    net::Request request;
    request.url = server.url("/slow");
    request.timeouts = {1000, 1000, 1000, 300, 0};
    try {
        net::send(request);
        FAIL() << "no time-out";
    } catch (const net::HttpError& e) {
        EXPECT_NE(std::string(e.what()).find("超时"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(request.url), std::string::npos) << e.what();
    }
}

TEST(WinHttpSend, DrippingServerRunsIntoTheTotalTimeout) {
    // Every piece comes well within the receive time-out; the whole answer
    // takes far longer than the total.
    LoopbackServer server([](const std::string&) {
        Answer pieces{{0ms, "HTTP/1.1 200 OK\r\nContent-Length: 40\r\nConnection: close\r\n\r\n"}};
        for (int i = 0; i < 40; ++i)
            pieces.push_back({250ms, "x"});
        return pieces;
    });
    net::Request request;
    request.url = server.url("/drip");
    request.timeouts = {1000, 1000, 1000, 2000, 1500};
    EXPECT_THROW(net::send(request), net::HttpError);
    // The client gave up while the answer was still coming: the server's
    // next pieces found the connection closed.
    const auto waitForServer = [&] {
        for (int i = 0; i < 200 && server.delivered().empty(); ++i)
            std::this_thread::sleep_for(50ms);
        return server.delivered();
    };
    const auto delivered = waitForServer();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_LT(delivered[0], 41u);
}

TEST(WinHttpSend, UnusableRequestsAreRefusedBeforeSending) {
    LoopbackServer server([](const std::string&) { return answer(reply("200 OK", "", "ok")); });
    net::Request request;
    request.url = server.url("/");
    request.headers = {{"X-Bad", "a\r\nInjected: yes"}};
    EXPECT_THROW(net::send(request), net::HttpError);
    request.headers = {{"Bad:Name", "x"}};
    EXPECT_THROW(net::send(request), net::HttpError);
    request.headers.clear();
    request.method = "GET /other";
    EXPECT_THROW(net::send(request), net::HttpError);
    request.method = "GET";
    for (const char* url : {"ftp://127.0.0.1/x", "file:///C:/windows/win.ini", "not a url", ""}) {
        request.url = url;
        EXPECT_THROW(net::send(request), net::HttpError) << url;
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(WinHttpSend, RefusedConnectionNamesTheAddress) {
    net::Request request;
    request.url = closedPortUrl();
    request.timeouts = {1000, 1000, 1000, 1000, 0};
    try {
        net::send(request);
        FAIL() << "no error";
    } catch (const net::HttpError& e) {
        EXPECT_NE(std::string(e.what()).find(request.url), std::string::npos) << e.what();
    }
}
