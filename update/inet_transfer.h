#pragma once

// `Inet1`'s stand-in: the Internet Transfer control's asynchronous download.
//
// Why QtNetwork and not the project's HTTP client (core/net): the download
// runs while the window keeps working. Its states arrive as events on the
// window's thread, the body is spooled as it comes so that files larger
// than any in-memory answer can be fetched, and the window takes it chunk by
// chunk with its progress. core/net is a synchronous client that returns a
// whole, bounded answer. The rules are kept the same as core/net's: TLS
// certificates and host names are verified (Qt's default, never turned
// off), a redirect from https to http is refused (NoLessSafeRedirectPolicy),
// at most 10 redirects, and the proxy is the system's (the http_proxy,
// https_proxy and no_proxy variables on Linux, as libcurl reads them).
// `Execute` returns at once; the transfer reports its progress through
// `StateChanged` on the thread that owns the object (the window's), with the
// control's state numbers and in their order. The body is spooled to a
// temporary file as it arrives and read back with `GetChunk`, so it is never
// held whole in memory.

#include <QObject>
#include <QPointer>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryFile;

namespace updater {

// The control's state numbers.
namespace ic {
inline constexpr short HostResolvingHost = 1;
inline constexpr short HostResolved = 2;
inline constexpr short Connecting = 3;
inline constexpr short Connected = 4;
inline constexpr short Requesting = 5;
inline constexpr short RequestSent = 6;
inline constexpr short ReceivingResponse = 7;
inline constexpr short ResponseReceived = 8;
inline constexpr short Disconnecting = 9;
inline constexpr short Disconnected = 10;
inline constexpr short Error = 11;
inline constexpr short ResponseCompleted = 12;
} // namespace ic

// What `Execute` raises for an address or operation it cannot start.
class TransferError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class InetTransfer : public QObject {
    Q_OBJECT

public:
    explicit InetTransfer(QObject* parent = nullptr);
    ~InetTransfer() override;

    // Starts `operation` on `url` and returns at once. Only "GET" on an http
    // or https address with a host is accepted; anything else raises
    // TransferError. A transfer still under way is abandoned: none of its
    // states arrive after this call.
    void Execute(const std::string& url, const std::string& operation);

    // The value of the response header `name` (compared without regard to
    // case), the header's bytes read through the ANSI code page; empty when
    // the response has no such header or has not arrived.
    std::string GetHeader(const std::string& name) const;

    // The next at most `size` bytes of the body; empty when the body is
    // exhausted. Reads what has been spooled so far.
    std::string GetChunk(int size);

    // After state 11: a number for the failure (the HTTP status for an error
    // answer) and a sentence about it naming the address. 0 and empty
    // otherwise.
    long ResponseCode() const { return responseCode_; }
    std::string ResponseInfo() const { return responseInfo_; }

    // The address of the transfer last started.
    const std::string& url() const { return url_; }

    // True from `Execute` until the transfer has completed, failed or been
    // cancelled.
    bool StillExecuting() const { return executing_; }

    // `RequestTimeout`: seconds a transfer may go without receiving anything
    // before it fails with state 11; 0 means 60.
    int RequestTimeout = 60;

    // The largest body that is spooled; a larger one fails with state 11.
    qint64 maxBodyBytes = qint64(1) << 30;

    // Abandons the transfer under way: no further states arrive, and what it
    // spooled is dropped.
    void Cancel();

signals:
    void StateChanged(short state);

private:
    void abandon();
    void advanceTo(short state);
    void post(short state);
    void onMetaData();
    void takeResponse(QNetworkReply& reply, bool atEnd);
    void onReadyRead();
    void onFinished();
    void fail(long code, const std::string& info);

    QNetworkAccessManager* manager_;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> spool_;
    qint64 spooled_ = 0;
    qint64 readPosition_ = 0;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::string url_;
    long responseCode_ = 0;
    std::string responseInfo_;
    short lastState_ = 0;
    bool executing_ = false;
    bool headersTaken_ = false;
    int errorStatus_ = 0;
    // Each Execute starts a new generation; states of an older one are
    // dropped.
    unsigned generation_ = 0;
};

} // namespace updater
