#pragma once

// Servers on 127.0.0.1 for the HTTP tests: a cpp-httplib server with
// handlers, a raw server that answers with fixed bytes and keeps what it was
// sent, and a port that accepts connections but never answers.

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace testing_support {

// Opens a listening TCP socket on 127.0.0.1 with a port of the system's
// choosing.
inline int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("cannot create a socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A cpp-httplib server; register handlers on `server` before `start`.
class LocalHttpServer {
public:
    httplib::Server server;

    LocalHttpServer() = default;
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;
    ~LocalHttpServer() {
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }

    void start() {
        port_ = server.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            throw std::runtime_error("cannot bind the test server to 127.0.0.1");
        // The socket is listening already; connections wait for the loop.
        thread_ = std::thread([this] { server.listen_after_bind(); });
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    int port_ = 0;
    std::thread thread_;
};

// Accepts connections on a listening socket and never reads or answers:
// the kernel completes the connection, the request goes into its buffer, and
// the client waits for an answer that never comes.
class SilentServer {
public:
    SilentServer() : fd_(listenOnLoopback(port_)) {}
    ~SilentServer() { ::close(fd_); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    int port_ = 0;
    int fd_;
};

// Answers each connection with `reply` (raw bytes, status line and all) once
// the request's header block has arrived, then closes it. Keeps the last
// request's bytes.
class RawServer {
public:
    explicit RawServer(std::string reply) : reply_(std::move(reply)), fd_(listenOnLoopback(port_)) {
        thread_ = std::thread([this] { serve(); });
    }
    ~RawServer() {
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    std::string lastRequest() const {
        std::lock_guard lock(mutex_);
        return request_;
    }

private:
    void serve() {
        while (!stopping_) {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0)
                return;
            std::string received;
            char buffer[4096];
            while (received.find("\r\n\r\n") == std::string::npos && received.size() < 65536) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                received.append(buffer, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                request_ = received;
            }
            ::send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL);
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
    }

    std::string reply_;
    int port_ = 0;
    int fd_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::string request_;
    std::thread thread_;
};

} // namespace testing_support
