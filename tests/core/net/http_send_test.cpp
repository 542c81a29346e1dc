#include "core/net/http.h"
#include "support/local_servers.h"

#include <gtest/gtest.h>

using testing_support::LocalHttpServer;
using testing_support::RawServer;

namespace {

const std::string okReply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Two: b\r\n"
                            "Content-Length: 2\r\nConnection: close\r\n\r\nok";

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

} // namespace

TEST(HttpSend, HeadersGoOutInOrderAndAsSpelled) {
    RawServer server(okReply);
    net::Request request;
    request.url = server.url("/share?x=1");
    request.headers = {{"X-requested-With", "XMLHttpRequest"},
                       {"accept-language", "zh-CN"},
                       {"Referer", "https://share.example.org/s/abc"},
                       {"X-Empty", ""}};
    const net::Response response = net::send(request);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.reason, "OK");
    EXPECT_TRUE(response.complete);
    EXPECT_EQ(response.body, "ok");
    // The answer's headers in their order and spelling, looked up by any case.
    ASSERT_GE(response.headers.size(), 2u);
    EXPECT_EQ(response.headers[0].first, "Content-Type");
    EXPECT_EQ(response.headers[1], (net::Headers::value_type{"X-Two", "b"}));
    EXPECT_EQ(response.header("x-two"), "b");
    EXPECT_EQ(response.header("absent"), "");

    const std::string sent = server.lastRequest();
    EXPECT_EQ(sent.rfind("GET /share?x=1 HTTP/1.1\r\n", 0), 0u) << sent;
    const auto lines = headerLines(sent);
    // libcurl's own Host line comes first; nothing of its own besides it.
    ASSERT_EQ(lines.size(), 5u) << sent;
    EXPECT_EQ(lines[0].rfind("Host: ", 0), 0u);
    EXPECT_EQ(lines[1], "X-requested-With: XMLHttpRequest");
    EXPECT_EQ(lines[2], "accept-language: zh-CN");
    EXPECT_EQ(lines[3], "Referer: https://share.example.org/s/abc");
    EXPECT_EQ(lines[4], "X-Empty:");
}

TEST(HttpSend, MethodAndBody) {
    LocalHttpServer server;
    server.server.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.method + ":" + req.body + ":" + req.get_header_value("Content-Type"),
                        "text/plain");
    });
    server.server.Put("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.method + ":" + req.body, "text/plain");
    });
    server.start();

    net::Request post;
    post.method = "POST";
    post.url = server.url("/echo");
    post.headers = {{"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"}};
    post.body = "action=load&sign=abc";
    EXPECT_EQ(net::send(post).body,
              "POST:action=load&sign=abc:application/x-www-form-urlencoded; charset=UTF-8");

    net::Request put = post;
    put.method = "PUT";
    put.headers.clear();
    put.body = "";
    EXPECT_EQ(net::send(put).body, "PUT:");
}

TEST(HttpSend, RedirectsCanBeKeptUnfollowed) {
    LocalHttpServer server;
    server.server.Get(
        "/from", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/to"); });
    server.server.Get("/to", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("there", "text/plain");
    });
    server.start();

    net::Request request;
    request.url = server.url("/from");
    request.followRedirects = false;
    const net::Response kept = net::send(request);
    EXPECT_EQ(kept.status, 302);
    EXPECT_EQ(kept.header("Location"), "/to");

    request.followRedirects = true;
    const net::Response followed = net::send(request);
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, "there");
    // Only the final answer's headers are kept.
    EXPECT_EQ(followed.header("Location"), "");
}

TEST(HttpSend, BodyOverTheBoundIsAnError) {
    LocalHttpServer server;
    server.server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(64 * 1024, 'x'), "text/plain");
    });
    server.server.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
        // No length announced: the bound must hold while the body streams in.
        res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
            const std::string chunk(8 * 1024, 'y');
            for (int i = 0; i < 8; ++i)
                sink.write(chunk.data(), chunk.size());
            sink.done();
            return true;
        });
    });
    server.start();

    for (const char* path : {"/big", "/chunked"}) {
        net::Request request;
        request.url = server.url(path);
        request.maxBodyBytes = 1000;
        EXPECT_THROW(net::send(request), net::HttpError) << path;
        request.maxBodyBytes = 64 * 1024;
        EXPECT_EQ(net::send(request).body.size(), 64u * 1024) << path;
    }
}

TEST(HttpSend, MalformedRequestsAreRefusedBeforeSending) {
    RawServer server(okReply);
    net::Request request;
    request.url = server.url("/");
    request.headers = {{"X-Bad", "a\r\nInjected: yes"}};
    EXPECT_THROW(net::send(request), net::HttpError);
    request.headers = {{"Bad:Name", "x"}};
    EXPECT_THROW(net::send(request), net::HttpError);
    request.headers.clear();
    request.method = "GET /other";
    EXPECT_THROW(net::send(request), net::HttpError);
    EXPECT_EQ(server.lastRequest(), "");
}

TEST(ResponseCharset, ParameterOfContentType) {
    net::Response r;
    EXPECT_EQ(r.charset(), "");
    r.headers = {{"content-type", "text/html; charset=GBK"}};
    EXPECT_EQ(r.charset(), "GBK");
    r.headers = {{"Content-Type", "text/html;Charset=\"utf-8\"; q=1"}};
    EXPECT_EQ(r.charset(), "utf-8");
    r.headers = {{"Content-Type", "text/html; boundary=x"}};
    EXPECT_EQ(r.charset(), "");
}
