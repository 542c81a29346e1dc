#include "core/net/http.h"
#include "support/local_servers.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

using testing_support::TempFolder;

namespace {

// A key and a self-signed certificate for 127.0.0.1 in `folder`; nothing
// when the openssl command is missing.
struct Certificate {
    std::string key;
    std::string cert;
};

std::optional<Certificate> makeCertificate(const TempFolder& folder) {
    if (std::system("command -v openssl >/dev/null 2>&1") != 0)
        return std::nullopt;
    Certificate c{(folder / "key.pem").string(), (folder / "cert.pem").string()};
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                             " -addext subjectAltName=IP:127.0.0.1 -keyout '" +
                             c.key + "' -out '" + c.cert + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
        return std::nullopt;
    return c;
}

// An HTTPS server on 127.0.0.1 with that certificate, listening until it
// goes.
class TlsServer {
public:
    explicit TlsServer(const Certificate& c) : server(c.cert.c_str(), c.key.c_str()) {}
    void start() {
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
    }
    ~TlsServer() {
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }
    httplib::SSLServer server;

private:
    int port_ = 0;
    std::thread thread_;
};

} // namespace

// An HTTPS server on 127.0.0.1 whose certificate nobody vouches for: the
// client must refuse it.
TEST(HttpTls, UntrustedCertificateIsRefused) {
    TempFolder folder;
    const auto certificate = makeCertificate(folder);
    if (!certificate)
        GTEST_SKIP() << "the openssl command is needed to make a test certificate";

    TlsServer tls(*certificate);
    ASSERT_TRUE(tls.server.is_valid());
    tls.server.Get("/v", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("版 9.9.9", "text/plain");
    });
    tls.start();

    net::Request request;
    request.url = tls.url("/v");
    request.timeouts = {1000, 1000, 1000, 3000, 10000};
    try {
        net::send(request);
        ADD_FAILURE() << "an untrusted certificate was accepted";
    } catch (const net::HttpError& e) {
        EXPECT_NE(std::string(e.what()).find(request.url), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("certificate"), std::string::npos) << e.what();
    }
}

// Redirects: a secure request never continues in the clear; every other
// redirect is followed.
TEST(HttpTls, RedirectFromHttpsToHttpIsRefused) {
    TempFolder folder;
    const auto certificate = makeCertificate(folder);
    if (!certificate)
        GTEST_SKIP() << "the openssl command is needed to make a test certificate";

    testing_support::LocalHttpServer plain;
    std::atomic<int> plainHits = 0;
    plain.server.Get("/v", [&](const httplib::Request&, httplib::Response& res) {
        ++plainHits;
        res.set_content("版 9.9.9 in the clear", "text/plain");
    });
    plain.server.Get("/to-https", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect(req.get_param_value("to"));
    });
    plain.start();

    TlsServer tls(*certificate);
    ASSERT_TRUE(tls.server.is_valid());
    tls.server.Get("/v", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("版 9.9.9", "text/plain");
    });
    tls.server.Get("/to-http", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plain.url("/v"));
    });
    tls.server.Get("/to-https", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(tls.url("/v"));
    });
    tls.start();

    struct Case {
        std::string url;
        bool refused;
    };
    const Case cases[] = {
        {tls.url("/to-http"), true},
        {tls.url("/to-https"), false},
        {plain.url("/to-https?to=") + plain.url("/v"), false},
        {plain.url("/to-https?to=") + tls.url("/v"), false},
    };
    for (const Case& c : cases) {
        net::Request request;
        request.url = c.url;
        request.trustedCertificates = certificate->cert;
        request.timeouts = {1000, 1000, 1000, 3000, 10000};
        const int hitsBefore = plainHits;
        try {
            const net::Response response = net::send(request);
            EXPECT_FALSE(c.refused) << c.url << " answered " << response.status;
            EXPECT_EQ(response.status, 200) << c.url;
            EXPECT_EQ(response.body.rfind("版 9.9.9", 0), 0u) << c.url;
        } catch (const net::HttpError& e) {
            EXPECT_TRUE(c.refused) << c.url << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("https"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.url), std::string::npos) << e.what();
            EXPECT_EQ(plainHits, hitsBefore) << "the clear address was fetched";
        }
    }
}
