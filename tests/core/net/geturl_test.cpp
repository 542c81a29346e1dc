#include "core/net/geturl.h"
#include "core/text/encoding.h"
#include "support/local_servers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iterator>

using net::Geturl;
using net::GeturlResult;
using testing_support::LocalHttpServer;
using testing_support::RawServer;
using testing_support::SilentServer;

namespace {

const std::string page = "<html><body><p>版 1.5.9 地 http://127.0.0.1/f 址结</p></body></html>";

std::string toGbk(const std::string& utf8) {
    text::setAnsiCodeSet("GBK");
    std::string bytes = text::utf8ToAnsi(utf8);
    text::setAnsiCodeSet("");
    return bytes;
}

class GeturlTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Encoded here, before the server's thread runs.
        const std::string gbk = toGbk("版 1.5.9 更 修正镕字说结");
        const std::string gb2312 = toGbk("版 1.6.0 镕");
        const std::string xml = toGbk("<?xml version=\"1.0\" encoding=\"GBK\"?><v>版 1.5.9</v>");
        auto& s = server.server;
        s.Get("/page", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(page, "text/html");
        });
        s.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
            res.status = 200;
            res.set_content("", "text/plain");
        });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<html>not here 版 9.9.9</html>", "text/html");
        });
        s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("error", "text/plain");
        });
        s.Get("/gbk", [gbk](const httplib::Request&, httplib::Response& res) {
            res.set_content(gbk, "text/html; charset=GBK");
        });
        s.Get("/gb2312", [gb2312](const httplib::Request&, httplib::Response& res) {
            // Declared as GB2312 but using a character only GBK has, as
            // Chinese pages often do.
            res.set_content(gb2312, "text/html; charset=\"gb2312\"");
        });
        s.Get("/xml", [xml](const httplib::Request&, httplib::Response& res) {
            res.set_content(xml, "application/xml");
        });
        s.Get("/moved",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/page"); });
        server.start();
    }

    LocalHttpServer server;
};

} // namespace

TEST_F(GeturlTest, TextOfAPageWithoutCharsetIsUtf8) {
    const GeturlResult r = Geturl(server.url("/page"), "GET", 0, 1000);
    ASSERT_TRUE(r);
    ASSERT_TRUE(std::holds_alternative<std::string>(*r));
    EXPECT_EQ(std::get<std::string>(*r), page);
}

TEST_F(GeturlTest, EmptyBodyIsEmptyTextButOtherStatusIsNoResult) {
    const GeturlResult empty = Geturl(server.url("/empty"), "GET", 0, 1000);
    ASSERT_TRUE(empty);
    EXPECT_EQ(std::get<std::string>(*empty), "");

    // A body on a 404 or 500 answer is not returned, and nothing is raised.
    EXPECT_FALSE(Geturl(server.url("/missing"), "GET", 0, 1000));
    EXPECT_FALSE(Geturl(server.url("/broken"), "GET", 0, 1000));
    EXPECT_FALSE(Geturl(server.url("/no-such-path"), "GET", 1, 1000));
}

TEST_F(GeturlTest, DeclaredCharsetDecodesChinesePages) {
    const auto gbk = net::textOf(Geturl(server.url("/gbk"), "GET", 0, 1000));
    ASSERT_TRUE(gbk);
    EXPECT_EQ(*gbk, "版 1.5.9 更 修正镕字说结");

    const auto gb2312 = net::textOf(Geturl(server.url("/gb2312"), "GET", 0, 1000));
    ASSERT_TRUE(gb2312);
    EXPECT_EQ(*gb2312, "版 1.6.0 镕");
}

TEST_F(GeturlTest, ResponseForms) {
    const std::string raw = toGbk("版 1.5.9 更 修正镕字说结");

    const GeturlResult bytes = Geturl(server.url("/gbk"), "GET", 1, 1000);
    ASSERT_TRUE(bytes);
    const auto& b = std::get<net::ResponseBytes>(*bytes);
    EXPECT_EQ(std::string(b.begin(), b.end()), raw);

    const GeturlResult xml = Geturl(server.url("/xml"), "GET", 2, 1000);
    ASSERT_TRUE(xml);
    EXPECT_EQ(std::get<net::XmlDocument>(*xml).text,
              "<?xml version=\"1.0\" encoding=\"GBK\"?><v>版 1.5.9</v>");

    // Kind 3 and every other kind give a stream of the body's bytes.
    for (int kind : {3, 5, -1}) {
        const GeturlResult stream = Geturl(server.url("/gbk"), "GET", kind, 1000);
        ASSERT_TRUE(stream) << kind;
        auto& in = *std::get<net::ResponseStream>(*stream);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), raw) << kind;
    }
}

TEST_F(GeturlTest, FollowsRedirects) {
    EXPECT_EQ(net::textOf(Geturl(server.url("/moved"), "GET", 0, 1000)), page);
}

TEST(GeturlFailure, TransportFailuresAreRaisedNamingTheAddress) {
    // A port nobody listens on: take one from the system, then close it.
    int port = 0;
    ::close(testing_support::listenOnLoopback(port));
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/v";
    try {
        Geturl(url, "GET", 0, 1000);
        FAIL() << "a refused connection must raise";
    } catch (const net::HttpError& e) {
        EXPECT_NE(std::string(e.what()).find(url), std::string::npos) << e.what();
    }
    EXPECT_THROW(Geturl("not a url", "GET", 0, 1000), net::HttpError);
    // Only web addresses are fetched.
    EXPECT_THROW(Geturl("file:///etc/hostname", "GET", 0, 1000), net::HttpError);
}

TEST(GeturlFailure, ServerThatNeverAnswersTimesOutOnTheReceiveLimit) {
    SilentServer silent;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Geturl(silent.url("/v"), "GET", 0, 1000), net::HttpError);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    // The receive limit is 3 x the base time-out; the call returns once it
    // has passed (with a wide margin for a loaded machine).
    EXPECT_GE(elapsed.count(), 2900);
    EXPECT_LT(elapsed.count(), 10000);
}

TEST(GeturlFailure, BodyCutShortIsNoResult) {
    RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n"
                     "only part of it");
    EXPECT_FALSE(Geturl(server.url("/v"), "GET", 0, 1000));
}

TEST(GeturlRequest, TimeoutsFollowTheBase) {
    const net::Request r = net::geturlRequest("https://example.com/", "GET", 1000);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.timeouts.resolveMs, 1000);
    EXPECT_EQ(r.timeouts.connectMs, 1000);
    EXPECT_EQ(r.timeouts.sendMs, 1000);
    EXPECT_EQ(r.timeouts.receiveMs, 3000);
    EXPECT_GE(r.timeouts.totalMs, 6000);
    EXPECT_TRUE(r.headers.empty());
    EXPECT_FALSE(r.body);
    // A huge base does not overflow into a negative limit.
    const net::Request big = net::geturlRequest("https://example.com/", "GET", 2000000000);
    EXPECT_GT(big.timeouts.receiveMs, 0);
}

TEST(ResponseText, ByteOrderMarkWinsOverTheDeclaredCharset) {
    net::Response r;
    r.headers = {{"Content-Type", "text/html; charset=GBK"}};
    r.body = "\xEF\xBB\xBF版 1.5.9";
    EXPECT_EQ(net::responseText(r), "版 1.5.9");
    r.body = std::string("\xFF\xFE\x48\x72\x20\x00", 6); // UTF-16LE 版 and a space
    EXPECT_EQ(net::responseText(r), "版 ");
}

TEST(ResponseText, UndecodableBytesStayValidText) {
    net::Response r;
    r.body = "a\xFF\xFE\xFD";
    EXPECT_EQ(text::utf16ToUtf8(text::utf8ToUtf16(net::responseText(r))), net::responseText(r));
    r.headers = {{"content-type", "text/html; charset=no-such-charset"}};
    r.body = "ab\xC3";
    const std::string t = net::responseText(r);
    EXPECT_EQ(text::utf16ToUtf8(text::utf8ToUtf16(t)), t);
    EXPECT_EQ(t.substr(0, 2), "ab");
}
