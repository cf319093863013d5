#include "HttpPut.h"

#include "IdleConnections.h"

#include <QHostAddress>
#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>

namespace {

// A piece read from the file and handed to the socket at once; a new piece follows while fewer bytes than this
// wait in the socket, so at most about two pieces per upload are in memory.
constexpr qint64 kPieceSize = 256 * 1024;

// What Qt's client answers for a socket error, so that callers tell "offline" from "failed" as before.
QNetworkReply::NetworkError networkError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::UnknownProxyError;
    default:
        return QNetworkReply::UnknownNetworkError; // no route, network down, and the rest
    }
}

QString networkErrorText(QNetworkReply::NetworkError error, const QString &host, const QString &socketText)
{
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Host %1 not found").arg(host);
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Connection refused");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Connection closed");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("Socket operation timed out");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("SSL handshake failed: %1").arg(socketText);
    default:
        return socketText;
    }
}

// The error Qt's client sets beside an error status; the status itself is what callers judge.
QNetworkReply::NetworkError statusError(int status)
{
    switch (status) {
    case 400:
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status > 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}

quint16 portOf(const QUrl &url)
{
    return quint16(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
}

// Which kept connections may carry a request to `url`.
QString originOf(const QUrl &url)
{
    return url.scheme() + QLatin1String("://") + url.host() + QLatin1Char(':') + QString::number(portOf(url));
}

// "Host: name[:port]", the port only when the URL names one, as Qt's client sends it (a signature may cover it).
QByteArray hostHeader(const QUrl &url)
{
    const QString host = url.host();
    QByteArray value = QHostAddress(host).protocol() == QAbstractSocket::IPv6Protocol
        ? '[' + host.toLatin1() + ']'
        : url.host(QUrl::FullyEncoded).toLatin1();
    if (url.port() != -1)
        value += ':' + QByteArray::number(url.port());
    return value;
}

// The request target exactly as Qt's client writes it: a presigned signature covers the path and query as given.
QByteArray requestTarget(QUrl url)
{
    QUrl::FormattingOptions format(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment
                                   | QUrl::FullyEncoded);
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    return url.toEncoded(format);
}

} // namespace

HttpPut::HttpPut(const QNetworkRequest &request, std::unique_ptr<QIODevice> body, qint64 answerLimit, Done done,
                 IdleConnections *idle, QObject *parent)
    : QObject(parent)
    , m_request(request)
    , m_body(std::move(body))
    , m_answerLimit(answerLimit)
    , m_done(std::move(done))
    , m_idleConnections(idle)
    , m_origin(originOf(request.url()))
    , m_secure(request.url().scheme() == QLatin1String("https"))
    , m_answer(answerLimit)
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(request.transferTimeout());
    connect(&m_idle, &QTimer::timeout, this,
            [this] { fail(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled")); });
}

HttpPut::~HttpPut()
{
    dropSocket();
    if (m_done) // cut off before its answer: the caller hears of it
        m_done({std::nullopt, QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"), {}, false});
}

void HttpPut::start()
{
    if (m_idle.interval() > 0)
        m_idle.start();
    connectToServer();
}

void HttpPut::connectToServer()
{
    ++m_attempts;
    m_connected = false;
    m_bodySent = 0;
    m_answer = HttpAnswerReader(m_answerLimit);
    m_answerAfterBody = false;
    // A kept connection first; one the server closed meanwhile without an answer costs the one resend.
    if (QTcpSocket *kept = m_attempts == 1 && m_idleConnections ? m_idleConnections->take(m_origin) : nullptr) {
        kept->setParent(this);
        attach(kept);
        sendHead();
        return;
    }
    const QUrl url = m_request.url();
    // The application's proxy applies, as for Qt's client (QNetworkProxy::DefaultProxy).
    QSslSocket *secure = m_secure ? new QSslSocket(this) : nullptr;
    attach(secure ? secure : new QTcpSocket(this));
    if (secure) {
        connect(secure, &QSslSocket::encrypted, this, &HttpPut::sendHead);
        secure->connectToHostEncrypted(url.host(), portOf(url)); // verifies the peer, sends SNI
    } else {
        connect(m_socket, &QAbstractSocket::connected, this, &HttpPut::sendHead);
        m_socket->connectToHost(url.host(), portOf(url));
    }
}

void HttpPut::attach(QTcpSocket *socket)
{
    m_socket = socket;
    connect(socket, &QAbstractSocket::errorOccurred, this, &HttpPut::onSocketError);
    connect(socket, &QAbstractSocket::disconnected, this,
            [this] { onSocketError(QAbstractSocket::RemoteHostClosedError); });
    connect(socket, &QIODevice::readyRead, this, &HttpPut::takeAnswerBytes);
    connect(socket, &QIODevice::bytesWritten, this, &HttpPut::movedBytes);
    if (m_secure)
        connect(static_cast<QSslSocket *>(socket), &QSslSocket::encryptedBytesWritten, this, &HttpPut::movedBytes);
}

void HttpPut::sendHead()
{
    m_connected = true;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); // the last piece goes out without waiting
    QByteArray head = "PUT " + requestTarget(m_request.url()) + " HTTP/1.1\r\nHost: " + hostHeader(m_request.url())
        + "\r\n";
    for (const QByteArray &name : m_request.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower != "host" && lower != "content-length" && lower != "connection" && lower != "transfer-encoding")
            head += name + ": " + m_request.rawHeader(name) + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(m_body->size()) + "\r\n\r\n";
    m_socket->write(head);
    if (!m_body->reset()) {
        fail(QNetworkReply::ContentReSendError, m_body->errorString());
        return;
    }
    sendBody();
}

void HttpPut::sendBody()
{
    const qint64 size = m_body->size();
    // An answer that came first ends the sending: the store has refused the body.
    while (m_connected && !m_answer.started() && m_bodySent < size && bytesWaiting() < kPieceSize) {
        QByteArray piece(qMin(kPieceSize, size - m_bodySent), Qt::Uninitialized);
        const qint64 read = m_body->read(piece.data(), piece.size());
        if (read <= 0) { // the file shrank or cannot be read: what would follow is not the file
            fail(QNetworkReply::UnknownNetworkError, m_body->errorString());
            return;
        }
        piece.truncate(read);
        m_socket->write(piece); // the socket keeps the piece itself, no copy
        m_bodySent += read;
    }
}

qint64 HttpPut::bytesWaiting() const
{
    const auto *secure = m_secure ? static_cast<const QSslSocket *>(m_socket) : nullptr;
    return m_socket->bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0);
}

void HttpPut::movedBytes()
{
    if (m_idle.interval() > 0)
        m_idle.start();
    sendBody();
}

void HttpPut::takeAnswerBytes()
{
    if (m_idle.interval() > 0)
        m_idle.start();
    if (!m_answer.receivedAny())
        m_answerAfterBody = m_bodySent == m_body->size() && bytesWaiting() == 0;
    m_answer.read(m_socket->readAll());
    answerWhenRead();
}

void HttpPut::answerWhenRead()
{
    if (m_answer.failed()) {
        fail(QNetworkReply::ProtocolFailure, QStringLiteral("The server's answer is not HTTP."));
    } else if (m_answer.complete()) {
        UploadAnswer answer{m_answer.status(), QNetworkReply::NoError, {}, m_answer.bodyStart(), m_answer.cutShort()};
        if (answer.cutShort) {
            answer.error = QNetworkReply::OperationCanceledError;
            answer.errorString = QStringLiteral("Operation canceled");
        } else if (*answer.status >= 400) {
            answer.error = statusError(*answer.status);
            answer.errorString = QStringLiteral("Error transferring %1 - server replied: %2")
                                     .arg(m_request.url().toString(), QString::fromLatin1(m_answer.reasonPhrase()));
        }
        // A server that answered before it had the whole body, or refused it, may still read the rest as a request.
        const bool keep = m_idleConnections && m_answerAfterBody && m_answer.leavesConnectionOpen()
            && *answer.status >= 200 && *answer.status <= 299 && m_socket->state() == QAbstractSocket::ConnectedState
            && m_socket->bytesAvailable() == 0;
        finish(std::move(answer), keep);
    }
}

void HttpPut::onSocketError(QAbstractSocket::SocketError error)
{
    if (!m_socket)
        return;
    // Bytes that came with the close belong to the answer; a body that runs to the close ends there.
    m_answer.read(m_socket->readAll());
    if (error == QAbstractSocket::RemoteHostClosedError)
        m_answer.closeReceived();
    if (m_answer.failed() || m_answer.complete()) {
        answerWhenRead();
        return;
    }
    // Closed before any answer (a kept connection the server dropped, a restart): once more, from the start.
    if (error == QAbstractSocket::RemoteHostClosedError && m_connected && !m_answer.receivedAny() && m_attempts < 2) {
        dropSocket();
        connectToServer();
        return;
    }
    const QNetworkReply::NetworkError code = networkError(error);
    fail(code, networkErrorText(code, m_request.url().host(), m_socket->errorString()));
}

void HttpPut::fail(QNetworkReply::NetworkError error, const QString &text)
{
    finish({m_answer.status(), error, text, m_answer.bodyStart(), false});
}

void HttpPut::finish(UploadAnswer answer, bool keepConnection)
{
    m_idle.stop();
    if (keepConnection) {
        m_socket->disconnect(this);
        m_idleConnections->keep(m_origin, std::exchange(m_socket, nullptr));
    }
    dropSocket();
    if (m_done)
        std::exchange(m_done, nullptr)(std::move(answer));
    deleteLater();
}

void HttpPut::dropSocket()
{
    if (!m_socket)
        return;
    discardConnection(std::exchange(m_socket, nullptr));
}
