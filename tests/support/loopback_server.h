#pragma once

// A server on 127.0.0.1 for the HTTP tests that run on Linux and on Windows
// alike (BSD sockets there, Winsock here): it reads each request (header
// block and announced body), keeps its bytes, and answers with raw bytes in
// timed pieces, so that tests can see exactly what went out and can make a
// server that is slow, silent or cut short. One connection at a time, each
// closed after its answer; a server being destroyed cuts its pauses short.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct Piece {
    std::chrono::milliseconds delay{0};
    std::string bytes;
};
using Answer = std::vector<Piece>;

// The bytes of an answer with a status line, headers and a body announced
// with Content-Length.
inline std::string reply(const std::string& statusLine, const std::string& headers,
                         const std::string& body) {
    return "HTTP/1.1 " + statusLine + "\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

// The method and the target (path and query) of a raw request.
inline std::string methodOf(const std::string& request) {
    return request.substr(0, request.find(' '));
}
inline std::string targetOf(const std::string& request) {
    const std::size_t start = request.find(' ');
    if (start == std::string::npos)
        return {};
    return request.substr(start + 1, request.find(' ', start + 1) - start - 1);
}

#ifdef _WIN32
using Socket = SOCKET;
using SocketLength = int;
inline constexpr Socket kNoSocket = INVALID_SOCKET;
inline void closeSocket(Socket s) {
    ::shutdown(s, SD_BOTH);
    ::closesocket(s);
}
// Winsock is started for as long as a server lives.
struct SocketLibrary {
    SocketLibrary() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("Winsock cannot be started");
    }
    ~SocketLibrary() { WSACleanup(); }
};
inline constexpr int kSendFlags = 0;
#else
using Socket = int;
using SocketLength = socklen_t;
inline constexpr Socket kNoSocket = -1;
inline void closeSocket(Socket s) {
    ::shutdown(s, SHUT_RDWR);
    ::close(s);
}
struct SocketLibrary {};
// A client gone away must not end the test with SIGPIPE.
inline constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

class LoopbackServer {
public:
    using Handler = std::function<Answer(const std::string& request)>;

    explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        SocketLength length = sizeof address;
        if (listener_ == kNoSocket ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~LoopbackServer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        closeSocket(listener_);
        thread_.join();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    std::vector<std::string> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // For each finished connection, how many pieces of its answer went out
    // before the client went away (or all of them).
    std::vector<std::size_t> delivered() const {
        std::lock_guard lock(mutex_);
        return delivered_;
    }

private:
    static std::size_t contentLength(const std::string& head) {
        std::string lower = head;
        for (char& c : lower)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        const std::size_t at = lower.find("\r\ncontent-length:");
        if (at == std::string::npos)
            return 0;
        return static_cast<std::size_t>(std::strtoul(head.c_str() + at + 17, nullptr, 10));
    }

    // Waits for `delay` unless the server is stopping; false when stopping.
    bool pause(std::chrono::milliseconds delay) {
        std::unique_lock lock(mutex_);
        return !wake_.wait_for(lock, delay, [this] { return stopping_; });
    }

    void serve() {
        for (;;) {
            const Socket client = ::accept(listener_, nullptr, nullptr);
            if (client == kNoSocket)
                return;
            std::string received;
            char buffer[4096];
            std::size_t headEnd = std::string::npos;
            while (received.size() < 1 << 20) {
                if (headEnd == std::string::npos)
                    headEnd = received.find("\r\n\r\n");
                if (headEnd != std::string::npos &&
                    received.size() >= headEnd + 4 + contentLength(received.substr(0, headEnd)))
                    break;
                const int n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                received.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(received);
            }
            std::size_t sent = 0;
            for (const Piece& piece : handler_(received)) {
                if (!pause(piece.delay))
                    break;
                if (::send(client, piece.bytes.data(), static_cast<int>(piece.bytes.size()),
                           kSendFlags) < 0)
                    break;
                ++sent;
            }
            closeSocket(client);
            std::lock_guard lock(mutex_);
            delivered_.push_back(sent);
        }
    }

    SocketLibrary library_;
    Handler handler_;
    Socket listener_ = kNoSocket;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::string> requests_;
    std::vector<std::size_t> delivered_;
    std::thread thread_;
};

} // namespace testing_support
