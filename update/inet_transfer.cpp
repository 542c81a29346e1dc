#include "update/inet_transfer.h"

#include "core/text/encoding.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

#include <algorithm>

namespace updater {

namespace {

// The control's own numbers for the failures it reports.
constexpr long kTimeout = 12002;
constexpr long kInternal = 12004;
constexpr long kNameNotResolved = 12007;
constexpr long kCannotConnect = 12029;
constexpr long kConnectionAborted = 12030;
constexpr long kRedirectFailed = 12156;
constexpr long kSecureChannel = 12157;

// How much the network layer may buffer before we take it.
constexpr qint64 kReadBuffer = 256 * 1024;
// The largest chunk handed out at once.
constexpr int kMaxChunk = 1 << 20;

bool equalsIgnoringCase(const std::string& a, const QByteArray& b) {
    return a.size() == static_cast<std::size_t>(b.size()) &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

InetTransfer::InetTransfer(QObject* parent)
    : QObject(parent), manager_(new QNetworkAccessManager(this)) {
    // The system's proxy, as the project's HTTP client uses it.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

InetTransfer::~InetTransfer() {
    abandon();
}

void InetTransfer::Execute(const std::string& url, const std::string& operation) {
    if (operation != "GET")
        throw TransferError("下载只支持 GET，不支持“" + operation + "”");
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (url.empty() || !address.isValid() || (scheme != "http" && scheme != "https") ||
        address.host().isEmpty())
        throw TransferError("无法下载“" + url + "”：这不是一个 http 或 https 地址");

    abandon();
    ++generation_;
    headers_.clear();
    responseCode_ = 0;
    responseInfo_.clear();
    lastState_ = 0;
    headersTaken_ = false;
    errorStatus_ = 0;
    spooled_ = 0;
    readPosition_ = 0;
    url_ = url;
    spool_ = std::make_unique<QTemporaryFile>();
    if (!spool_->open())
        throw TransferError("无法为“" + url + "”的下载创建临时文件：" +
                            spool_->errorString().toStdString());

    QNetworkRequest request(address);
    // The body must arrive as the server sends it, so that its length is the
    // announced one.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(10);
    request.setTransferTimeout((RequestTimeout > 0 ? RequestTimeout : 60) * 1000);

    QNetworkReply* reply = manager_->get(request);
    reply->setReadBufferSize(kReadBuffer);
    reply_ = reply;
    executing_ = true;
    connect(reply, &QNetworkReply::socketStartedConnecting, this,
            [this] { advanceTo(ic::Connecting); });
    connect(reply, &QNetworkReply::requestSent, this, [this] { advanceTo(ic::RequestSent); });
    connect(reply, &QNetworkReply::metaDataChanged, this, &InetTransfer::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &InetTransfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &InetTransfer::onFinished);
    advanceTo(ic::HostResolvingHost);
}

std::string InetTransfer::GetHeader(const std::string& name) const {
    for (const auto& [key, value] : headers_)
        if (equalsIgnoringCase(name, QByteArray::fromStdString(key)))
            return text::ansiToUtf8(value);
    return {};
}

std::string InetTransfer::GetChunk(int size) {
    if (!spool_ || size <= 0)
        return {};
    size = std::min(size, kMaxChunk);
    std::string chunk(static_cast<std::size_t>(size), '\0');
    if (!spool_->seek(readPosition_))
        return {};
    const qint64 n = spool_->read(chunk.data(), size);
    if (n <= 0)
        return {};
    chunk.resize(static_cast<std::size_t>(n));
    readPosition_ += n;
    return chunk;
}

void InetTransfer::Cancel() {
    abandon();
    ++generation_;
    executing_ = false;
    // What was spooled goes too.
    spool_.reset();
    spooled_ = readPosition_ = 0;
}

void InetTransfer::abandon() {
    if (QNetworkReply* reply = reply_) {
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void InetTransfer::post(short state) {
    const unsigned generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, state] {
            if (generation == generation_)
                emit StateChanged(state);
        },
        Qt::QueuedConnection);
}

void InetTransfer::advanceTo(short state) {
    for (short s = static_cast<short>(lastState_ + 1); s <= state; ++s)
        if (s != ic::Error)
            post(s);
    lastState_ = std::max(lastState_, state);
}

void InetTransfer::onMetaData() {
    if (QNetworkReply* reply = reply_)
        takeResponse(*reply, false);
}

void InetTransfer::takeResponse(QNetworkReply& reply, bool atEnd) {
    if (headersTaken_ || !reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A redirect that is going to be followed is not the response. The
    // network layer reports the final response's headers with its first
    // data, or at the end.
    if (!atEnd && status >= 300 && status < 400 && reply.hasRawHeader("Location"))
        return;
    headersTaken_ = true;
    for (const auto& [key, value] : reply.rawHeaderPairs())
        headers_.emplace_back(key.toStdString(), value.toStdString());
    if (status >= 400) {
        // An error answer: its page is not the file.
        errorStatus_ = status;
        advanceTo(ic::ReceivingResponse);
        return;
    }
    advanceTo(ic::ResponseReceived);
}

void InetTransfer::onReadyRead() {
    QNetworkReply* reply = reply_;
    if (!reply || !spool_)
        return;
    takeResponse(*reply, false);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = reply->read(buffer, sizeof buffer);
        if (n <= 0)
            return;
        if (errorStatus_ != 0)
            continue; // the error page is read and dropped
        if (spooled_ + n > maxBodyBytes) {
            fail(kInternal,
                 "下载“" + url_ + "”失败：文件大于 " + std::to_string(maxBodyBytes) + " 字节");
            return;
        }
        if (!spool_->seek(spooled_) || spool_->write(buffer, n) != n) {
            fail(kInternal, "下载“" + url_ + "”失败：无法写入临时文件 " +
                                spool_->fileName().toStdString() + "（" +
                                spool_->errorString().toStdString() + "）");
            return;
        }
        spooled_ += n;
    }
}

void InetTransfer::onFinished() {
    QNetworkReply* reply = reply_;
    if (!reply)
        return;
    if (reply->error() == QNetworkReply::NoError) {
        takeResponse(*reply, true);
        onReadyRead();
        if (!reply_)
            return; // failed while spooling the rest
    }
    reply_ = nullptr;
    reply->disconnect(this);
    reply->deleteLater();
    if (errorStatus_ != 0) {
        const std::string reason =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString();
        fail(errorStatus_, "“" + url_ + "”回应 " + std::to_string(errorStatus_) + " " + reason);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        long code = kInternal;
        std::string info;
        switch (reply->error()) {
        case QNetworkReply::HostNotFoundError:
            code = kNameNotResolved;
            info = "找不到“" + url_ + "”的主机";
            break;
        case QNetworkReply::ConnectionRefusedError:
            code = kCannotConnect;
            info = "无法连接到“" + url_ + "”";
            break;
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError:
            code = kTimeout;
            info = "等待“" + url_ + "”的回应超时";
            break;
        case QNetworkReply::RemoteHostClosedError:
            code = kConnectionAborted;
            info = "“" + url_ + "”的连接被中断";
            break;
        case QNetworkReply::SslHandshakeFailedError:
            code = kSecureChannel;
            info = "无法与“" + url_ + "”建立安全连接";
            break;
        case QNetworkReply::InsecureRedirectError:
        case QNetworkReply::TooManyRedirectsError:
            code = kRedirectFailed;
            info = "“" + url_ + "”的重定向无法跟随";
            break;
        default:
            info = "下载“" + url_ + "”失败";
            break;
        }
        fail(code, info + "：" + reply->errorString().toStdString());
        return;
    }
    spool_->flush();
    executing_ = false;
    advanceTo(ic::Disconnected);
    advanceTo(ic::ResponseCompleted);
}

void InetTransfer::fail(long code, const std::string& info) {
    responseCode_ = code;
    responseInfo_ = info;
    executing_ = false;
    abandon();
    post(ic::Error);
}

} // namespace updater
