// The share-link resolution against a fake file-sharing site on 127.0.0.1.

#include "core/updater/share_link.h"
#include "support/local_servers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace updater;
using testing_support::LocalHttpServer;
using testing_support::RawServer;

namespace {

const std::string frame = "Abcdefghij0123456789_abcdefghij_frame";
const std::string sign40 = "S123456789012345678901234567890123456789";

struct Seen {
    std::string method;
    std::string target;
    httplib::Headers headers;
    std::string body;
};

// The header `name` exactly as spelled on the wire; empty when no header of
// that spelling came.
std::string spelled(const httplib::Headers& headers, const std::string& name) {
    for (const auto& [key, value] : headers)
        if (key == name)
            return value;
    return {};
}

class ShareSite : public ::testing::Test {
protected:
    void SetUp() override {
        auto& s = server.server;
        s.Get("/share/ok", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.set_content("<html><iframe class=\"ifr2\" name=\"1\" src=\"/fn?" + frame +
                                "\" frameborder=\"0\"></iframe></html>",
                            "text/html");
        });
        s.Get("/share/gone", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.status = 404;
            res.set_content("<html>gone, but src=\"/fn?" + frame + "\"</html>", "text/html");
        });
        s.Get("/fn", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.set_content(framePage, "text/html");
        });
        s.Post("/ajaxm.php", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.set_content(reply, "text/html");
        });
        s.Get("/file/", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.status = fileStatus;
            res.set_header("Location", server.url("/download/update.exe"));
            res.set_content("moved", "text/plain");
        });
        s.Get("/download/update.exe", [this](const httplib::Request& req, httplib::Response& res) {
            record(req);
            res.set_content("MZ", "application/octet-stream");
        });
        server.start();
        base = server.url("");
        reply = R"({"zt":1,"dom":")" + escapedSlashes(base) + R"(","url":"?tok\/en","inf":0})";
    }

    static std::string escapedSlashes(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c == '/')
                out += '\\';
            out += c;
        }
        return out;
    }

    // Keeps the request; the one for `stalledPath` gets no answer until the
    // test releases it.
    void record(const httplib::Request& req) {
        std::unique_lock lock(mutex);
        seen.push_back({req.method, req.target, req.headers, req.body});
        if (req.path == stalledPath) {
            stalled.notify_all();
            stalled.wait_for(lock, std::chrono::seconds(20), [this] { return released; });
        }
    }

    void release() {
        std::lock_guard lock(mutex);
        released = true;
        stalled.notify_all();
    }

    std::vector<Seen> requests() {
        std::lock_guard lock(mutex);
        return seen;
    }

    LocalHttpServer server;
    std::string base;
    std::string framePage = "<script>var posturl = '" + sign40 +
                            "';\n$.ajax({data:{'action':'downprocess','sign':posturl}});</script>";
    std::string reply;
    int fileStatus = 302;
    std::mutex mutex;
    std::vector<Seen> seen;
    std::string stalledPath;
    bool released = false;
    std::condition_variable stalled;
};

} // namespace

TEST_F(ShareSite, TheWholeExchangeRequestByRequest) {
    const std::string framePath = FetchFramePath(server.url("/share/ok"), base);
    EXPECT_EQ(framePath, "/fn?" + frame);
    const std::string sign = GetSign(framePath, base);
    EXPECT_EQ(sign, sign40);
    const std::string got = PostDownProcess(sign, base);
    EXPECT_EQ(got, reply);
    const std::string fileUrl = BuildFileUrl(got);
    EXPECT_EQ(fileUrl, base + "/file/?tok/en");
    EXPECT_EQ(GetRedirectLocation(fileUrl), server.url("/download/update.exe"));

    const auto r = requests();
    // The redirect of request 4 is not followed.
    ASSERT_EQ(r.size(), 4u);

    EXPECT_EQ(r[0].method, "GET");
    EXPECT_EQ(r[0].target, "/share/ok");
    EXPECT_EQ(spelled(r[0].headers, "user-agent"), kBrowserIdentityA);
    EXPECT_EQ(spelled(r[0].headers, "origin"), base);

    EXPECT_EQ(r[1].method, "GET");
    EXPECT_EQ(r[1].target, "/fn?" + frame);
    EXPECT_EQ(spelled(r[1].headers, "user-agent"), kBrowserIdentityA);
    EXPECT_EQ(spelled(r[1].headers, "referer"), base + "/fn?" + frame);
    EXPECT_EQ(spelled(r[1].headers, "Content-Type"), "application/x-www-form-urlencoded");

    EXPECT_EQ(r[2].method, "POST");
    EXPECT_EQ(r[2].target, "/ajaxm.php");
    EXPECT_EQ(spelled(r[2].headers, "referer"), base + "/fn?" + sign40);
    EXPECT_EQ(spelled(r[2].headers, "content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r[2].body, "action=downprocess&sign=" + sign40 + "&ves=1");

    EXPECT_EQ(r[3].method, "GET");
    EXPECT_EQ(r[3].target, "/file/?tok/en");
    EXPECT_EQ(spelled(r[3].headers, "User-Agent"), kBrowserIdentityB);
    EXPECT_EQ(spelled(r[3].headers, "Accept-Language"), "zh-CN,zh;q=0.9,en;q=0.8");
    EXPECT_EQ(spelled(r[3].headers, "Content-Type"), "application/x-www-form-urlencoded");
}

// The resolution takes its steps in order, and whichever request the site
// holds, a cancellation from another thread ends it at once; nothing after
// that request goes out.
TEST_F(ShareSite, ACancellationEndsTheResolutionWhereverItWaits) {
    for (const std::string path : {"/share/ok", "/fn", "/ajaxm.php", "/file/"}) {
        {
            std::lock_guard lock(mutex);
            seen.clear();
            stalledPath = path;
            released = false;
        }
        net::Cancellation cancellation;
        bool cancelled = false;
        std::thread resolution([&] {
            try {
                (void)resolveShareLink(server.url("/share/ok"), base, &cancellation);
            } catch (const net::Cancelled&) {
                cancelled = true;
            }
        });
        std::size_t asked = 0;
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(stalled.wait_for(lock, std::chrono::seconds(10), [&] {
                return !seen.empty() && seen.back().target.rfind(path, 0) == 0;
            })) << path;
            asked = seen.size();
        }
        const auto start = std::chrono::steady_clock::now();
        cancellation.cancel();
        resolution.join();
        const auto took = std::chrono::steady_clock::now() - start;
        release();
        EXPECT_TRUE(cancelled) << path;
        EXPECT_LT(took, std::chrono::seconds(1)) << path;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(requests().size(), asked) << path;
    }
}

TEST_F(ShareSite, OnlyMovedAndFoundGiveALocation) {
    const std::string fileUrl = base + "/file/?tok";
    fileStatus = 301;
    EXPECT_EQ(GetRedirectLocation(fileUrl), server.url("/download/update.exe"));
    fileStatus = 200;
    EXPECT_EQ(GetRedirectLocation(fileUrl), "");
    fileStatus = 307;
    EXPECT_EQ(GetRedirectLocation(fileUrl), "");
    fileStatus = 404;
    EXPECT_EQ(GetRedirectLocation(fileUrl), "");
}

TEST_F(ShareSite, ASignOfTwentyNineCharactersIsNotFoundAndTheEmptySignIsPosted) {
    framePage = "data:{'action':'downprocess','sign':'" + sign40.substr(0, 29) + "','ves':1}";
    const std::string sign = GetSign("/fn?" + frame, base);
    EXPECT_EQ(sign, "");
    PostDownProcess(sign, base);
    const auto r = requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].body, "action=downprocess&sign=&ves=1");
    EXPECT_EQ(spelled(r[1].headers, "referer"), base + "/fn?");
}

TEST_F(ShareSite, AReplyWithoutTokenEndsInAnEmptyLocation) {
    reply = R"({"zt":0,"inf":"sign error"})";
    const std::string fileUrl = BuildFileUrl(PostDownProcess(sign40, base));
    EXPECT_EQ(fileUrl, "");
    EXPECT_EQ(GetRedirectLocation(fileUrl), "");
}

TEST_F(ShareSite, AnErrorPageIsSearchedLikeAnyOther) {
    EXPECT_EQ(FetchFramePath(server.url("/share/gone"), base), "/fn?" + frame);
}

TEST(ShareSiteDown, FailedRequestsRaiseUntilTheFileAddressThenGiveNothing) {
    int port = 0;
    ::close(testing_support::listenOnLoopback(port));
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_THROW(FetchFramePath(base + "/share/ok", base), net::HttpError);
    EXPECT_THROW(GetSign("/fn?" + frame, base), net::HttpError);
    EXPECT_THROW(PostDownProcess(sign40, base), net::HttpError);
    EXPECT_EQ(GetRedirectLocation(base + "/file/?tok"), "");
}

TEST(ShareSiteWire, RequestFourSendsItsHeadersInOrder) {
    RawServer raw("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/x\r\nContent-Length: "
                  "0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(GetRedirectLocation(raw.url("/file/?tok")), "http://127.0.0.1:9/x");
    const std::string wire = raw.lastRequest();
    const auto contentType = wire.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n");
    const auto agent = wire.find(std::string("\r\nUser-Agent: ") + kBrowserIdentityB + "\r\n");
    const auto language = wire.find("\r\nAccept-Language: zh-CN,zh;q=0.9,en;q=0.8\r\n");
    ASSERT_NE(contentType, std::string::npos) << wire;
    ASSERT_NE(agent, std::string::npos) << wire;
    ASSERT_NE(language, std::string::npos) << wire;
    EXPECT_LT(contentType, agent);
    EXPECT_LT(agent, language);
}

TEST(ShareSiteWire, RequestThreeSendsItsHeadersInOrderWithTheirSpelling) {
    RawServer raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    const std::string base = raw.url("");
    EXPECT_EQ(PostDownProcess(sign40, base), "ok");
    const std::string wire = raw.lastRequest();
    const auto agent = wire.find(std::string("\r\nuser-agent: ") + kBrowserIdentityA + "\r\n");
    const auto referer = wire.find("\r\nreferer: " + base + "/fn?" + sign40 + "\r\n");
    const auto type = wire.find("\r\ncontent-type: application/x-www-form-urlencoded\r\n");
    ASSERT_NE(agent, std::string::npos) << wire;
    ASSERT_NE(referer, std::string::npos) << wire;
    ASSERT_NE(type, std::string::npos) << wire;
    EXPECT_LT(agent, referer);
    EXPECT_LT(referer, type);
    EXPECT_EQ(wire.rfind("POST /ajaxm.php HTTP/1.1\r\n", 0), 0u) << wire;
}
