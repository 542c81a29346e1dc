// The transfer that stands in for the Internet Transfer control, against
// local servers.

#include "support/loopback_server.h"
#include "update/inet_transfer.h"

#include "core/net/http.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::LoopbackServer;
using testing_support::reply;
using updater::InetTransfer;
using updater::TransferError;
namespace ic = updater::ic;

namespace {

std::string bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

QList<short> statesOf(const QSignalSpy& spy) {
    QList<short> states;
    for (const auto& call : spy)
        states << call.at(0).value<short>();
    return states;
}

const QList<short> allStates = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12};

// An address on which nothing listens.
std::string closedPortUrl(const std::string& path) {
    LoopbackServer gone([](const std::string&) { return Answer{}; });
    return gone.url(path);
}

} // namespace

class InetTransferTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { body3000 = bytes(3000); }

    void init() {
        server = std::make_unique<LoopbackServer>([this](const std::string& request) -> Answer {
            const std::string target = testing_support::targetOf(request);
            if (target == "/file")
                return {{0ms, reply("200 OK",
                                    "Content-Disposition: attachment; filename= %E6%9B%B4.exe\r\n",
                                    body3000)}};
            if (target == "/moved")
                return {
                    {0ms, reply("302 Found", "Location: " + server->url("/file") + "\r\n", "")}};
            if (target == "/slow") {
                // 4096 bytes in pieces of 16, one every 50 ms.
                Answer slow{{0ms, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                  "Connection: close\r\n\r\n"}};
                for (int i = 0; i < 256; ++i)
                    slow.push_back({50ms, "10\r\nxxxxxxxxxxxxxxxx\r\n"});
                slow.push_back({0ms, "0\r\n\r\n"});
                return slow;
            }
            return {{0ms, reply("404 Not Found", "Content-Type: text/html\r\n",
                                "<html>no such file</html>")}};
        });
    }

    void cleanup() { server.reset(); }

#ifndef _WIN32
    // The transfer goes through the system's proxy, as the project's HTTP
    // client does: both send the same absolute request to the proxy named by
    // http_proxy. (On Windows both take the system's proxy settings; there
    // is no variable to set.)
    void theSystemProxyIsUsedLikeTheHttpClientUsesIt() {
        LoopbackServer proxy([](const std::string&) {
            return Answer{{0ms, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc"}};
        });
        const QByteArray saved = qgetenv("http_proxy");
        const QByteArray savedNo = qgetenv("no_proxy");
        const QByteArray savedNoUpper = qgetenv("NO_PROXY");
        qputenv("http_proxy", QByteArray::fromStdString(proxy.url("")));
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
        auto restore = qScopeGuard([&] {
            saved.isNull() ? qunsetenv("http_proxy") : qputenv("http_proxy", saved);
            if (!savedNo.isNull())
                qputenv("no_proxy", savedNo);
            if (!savedNoUpper.isNull())
                qputenv("NO_PROXY", savedNoUpper);
        });

        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute("http://example.invalid/file", "GET");
        QTRY_VERIFY(!spy.isEmpty() && (statesOf(spy).last() == ic::ResponseCompleted ||
                                       statesOf(spy).last() == ic::Error));
        QCOMPARE(statesOf(spy).last(), ic::ResponseCompleted);
        QCOMPARE(inet.GetChunk(1024), std::string("abc"));
        const std::string viaTransfer = proxy.requests().back();
        QVERIFY2(viaTransfer.rfind("GET http://example.invalid/file HTTP/1.1\r\n", 0) == 0,
                 viaTransfer.c_str());

        net::Request request;
        request.url = "http://example.invalid/page";
        request.timeouts = {1000, 1000, 1000, 3000, 10000};
        const net::Response response = net::send(request);
        QCOMPARE(response.body, std::string("abc"));
        const std::string viaClient = proxy.requests().back();
        QVERIFY2(viaClient.rfind("GET http://example.invalid/page HTTP/1.1\r\n", 0) == 0,
                 viaClient.c_str());
    }

#endif

    void statesArriveInOrderAfterExecuteReturns() {
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(server->url("/file"), "GET");
        QCOMPARE(spy.count(), 0);
        QVERIFY(inet.StillExecuting());
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::ResponseCompleted);
        QCOMPARE(statesOf(spy), allStates);
        QVERIFY(!inet.StillExecuting());
        QCOMPARE(inet.ResponseCode(), 0L);
    }

    void headersAndChunksOfTheSpooledBody() {
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(server->url("/file"), "GET");
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::ResponseCompleted);
        QCOMPARE(inet.GetHeader("Content-Length"), std::string("3000"));
        QCOMPARE(inet.GetHeader("content-length"), std::string("3000"));
        QCOMPARE(inet.GetHeader("Content-Disposition"),
                 std::string("attachment; filename= %E6%9B%B4.exe"));
        QCOMPARE(inet.GetHeader("X-Absent"), std::string());
        std::string got;
        QList<std::size_t> sizes;
        for (std::string chunk = inet.GetChunk(1024); !chunk.empty(); chunk = inet.GetChunk(1024)) {
            sizes << chunk.size();
            got += chunk;
        }
        QCOMPARE(sizes, (QList<std::size_t>{1024, 1024, 952}));
        QVERIFY(got == body3000);
        QVERIFY(inet.GetChunk(1024).empty());
    }

    void redirectsAreFollowed() {
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(server->url("/moved"), "GET");
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::ResponseCompleted);
        QCOMPARE(statesOf(spy), allStates);
        QCOMPARE(inet.GetHeader("Content-Length"), std::string("3000"));
        QCOMPARE(inet.GetChunk(4096).size(), std::size_t(3000));
    }

    void anErrorAnswerIsStateElevenWithItsStatus() {
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(server->url("/missing"), "GET");
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::Error);
        const QList<short> states = statesOf(spy);
        QVERIFY(!states.contains(ic::ResponseReceived));
        QVERIFY(!states.contains(ic::ResponseCompleted));
        QCOMPARE(states.count(ic::Error), 1);
        QCOMPARE(inet.ResponseCode(), 404L);
        QVERIFY(inet.ResponseInfo().find(server->url("/missing")) != std::string::npos);
    }

    void aRefusedConnectionNamesTheAddress() {
        const std::string url = closedPortUrl("/x");
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(url, "GET");
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::Error);
        QCOMPARE(inet.ResponseCode(), 12029L);
        QVERIFY(!statesOf(spy).contains(ic::ResponseReceived));
        QVERIFY(inet.ResponseInfo().find(url) != std::string::npos);
        QVERIFY(!inet.StillExecuting());
    }

    void addressesThatCannotBeRequestedAreRefusedAtOnce() {
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        for (const char* url : {"", "not an address", "ftp://127.0.0.1/x", "http://", "/file/?abc"})
            QVERIFY_THROWS_EXCEPTION(TransferError, inet.Execute(url, "GET"));
        QVERIFY_THROWS_EXCEPTION(TransferError, inet.Execute(server->url("/file"), "POST"));
        QTest::qWait(50);
        QCOMPARE(spy.count(), 0);
        QVERIFY(!inet.StillExecuting());
    }

    void aNewExecuteAbandonsTheOneUnderWay() {
        InetTransfer inet;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(server->url("/slow"), "GET");
        QTRY_VERIFY(statesOf(spy).contains(ic::ResponseReceived));
        spy.clear();
        inet.Execute(server->url("/file"), "GET");
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::ResponseCompleted);
        // Nothing of the slow transfer arrives afterwards.
        QTest::qWait(400);
        QCOMPARE(statesOf(spy), allStates);
        QCOMPARE(inet.GetChunk(4096).size(), std::size_t(3000));
    }

    void aSilentServerTimesOut() {
        LoopbackServer silent([](const std::string&) { return Answer{{60s, ""}}; });
        InetTransfer inet;
        inet.RequestTimeout = 1;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(silent.url("/x"), "GET");
        QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty() && statesOf(spy).last() == ic::Error, 10000);
        QCOMPARE(inet.ResponseCode(), 12002L);
        QCOMPARE(statesOf(spy).count(ic::Error), 1);
        QVERIFY(!statesOf(spy).contains(ic::ResponseReceived));
        QVERIFY(inet.ResponseInfo().find(silent.url("/x")) != std::string::npos);
    }

    void aBodyOverTheLimitFails() {
        InetTransfer inet;
        inet.maxBodyBytes = 1000;
        QSignalSpy spy(&inet, &InetTransfer::StateChanged);
        inet.Execute(server->url("/file"), "GET");
        QTRY_VERIFY(!spy.isEmpty() && statesOf(spy).last() == ic::Error);
        QVERIFY(!statesOf(spy).contains(ic::ResponseCompleted));
        QVERIFY(inet.ResponseInfo().find("1000") != std::string::npos);
    }

private:
    std::unique_ptr<LoopbackServer> server;
    std::string body3000;
};

QTEST_MAIN(InetTransferTest)
#include "inet_transfer_test.moc"
