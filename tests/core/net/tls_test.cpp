#include "core/net/http.h"
#include "support/local_servers.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

using testing_support::TempFolder;

// An HTTPS server on 127.0.0.1 whose certificate nobody vouches for: the
// client must refuse it.
TEST(HttpTls, UntrustedCertificateIsRefused) {
    if (std::system("command -v openssl >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the openssl command is needed to make a test certificate";
    TempFolder folder;
    const std::string key = (folder / "key.pem").string();
    const std::string cert = (folder / "cert.pem").string();
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                             " -addext subjectAltName=IP:127.0.0.1 -keyout '" +
                             key + "' -out '" + cert + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";

    httplib::SSLServer server(cert.c_str(), key.c_str());
    ASSERT_TRUE(server.is_valid());
    server.Get("/v", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("版 9.9.9", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });

    net::Request request;
    request.url = "https://127.0.0.1:" + std::to_string(port) + "/v";
    request.timeouts = {1000, 1000, 1000, 3000, 10000};
    try {
        net::send(request);
        ADD_FAILURE() << "an untrusted certificate was accepted";
    } catch (const net::HttpError& e) {
        EXPECT_NE(std::string(e.what()).find(request.url), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("certificate"), std::string::npos) << e.what();
    }
    server.stop();
    thread.join();
}
