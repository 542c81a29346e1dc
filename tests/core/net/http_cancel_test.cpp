// Ending a request from another thread, with the platform's client (libcurl
// on Linux, WinHTTP on Windows).

#include "core/net/http.h"
#include "support/loopback_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::LoopbackServer;
using testing_support::reply;

TEST(HttpCancel, ACancellationEndsTheRequestWhereverItWaits) {
    struct Case {
        const char* name;
        Answer answer;
    };
    const Case cases[] = {
        {"no answer yet", {{30s, reply("200 OK", "", "late")}}},
        {"the body stalls",
         {{0ms, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nabc"},
          {30s, "the rest"}}},
    };
    for (const Case& c : cases) {
        LoopbackServer server([&](const std::string&) { return c.answer; });
        net::Cancellation cancellation;
        net::Request request;
        request.url = server.url("/slow");
        request.cancellation = &cancellation;
        std::atomic<bool> cancelled{false};
        std::thread sending([&] {
            try {
                (void)net::send(request);
            } catch (const net::Cancelled& e) {
                cancelled = std::string(e.what()).find(request.url) != std::string::npos;
            } catch (const std::exception&) {
            }
        });
        for (int i = 0; i < 500 && server.requests().empty(); ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(200ms); // well inside the wait
        const auto start = std::chrono::steady_clock::now();
        cancellation.cancel();
        sending.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << c.name;
        EXPECT_TRUE(cancelled) << c.name;
        EXPECT_EQ(server.requests().size(), 1u) << c.name;
    }
}

TEST(HttpCancel, ARequestCancelledBeforehandDoesNotGoOut) {
    LoopbackServer server([](const std::string&) {
        return Answer{{0ms, reply("200 OK", "", "")}};
    });
    net::Cancellation cancellation;
    cancellation.cancel();
    net::Request request;
    request.url = server.url("/");
    request.cancellation = &cancellation;
    EXPECT_THROW(net::send(request), net::Cancelled);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(server.requests().empty());
}
