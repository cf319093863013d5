#include "CurlPut.h"

#include "CurlMulti.h"

#include <QHostAddress>
#include <QIODevice>
#include <QUrl>

#include <cerrno>

namespace {

// curl reads the body in pieces of this size, each straight from the file into its own buffer; fewer, larger
// pieces cost fewer wake-ups.
constexpr long kPieceSize = 512 * 1024;

const QString kCanceled = QStringLiteral("Operation canceled");

// What the store acknowledges comes without a word from curl: it is looked at this often, so that it counts at
// most a quarter of the idle limit late and a stalled put ends within a limit and a quarter.
qint64 lookInterval(qint64 idleLimit)
{
    return qMax<qint64>(idleLimit / 4, 1);
}

// Enough to see past the interim heads a store may send unasked.
constexpr qsizetype kPeekSize = 4096;

// Whether these unread bytes hold more than whole interim heads ("100 Continue").
bool finalAnswerBegun(QByteArrayView waiting)
{
    while (waiting.size() > 9 && waiting.startsWith("HTTP/1.") && waiting.at(9) == '1') {
        const qsizetype end = waiting.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        waiting = waiting.sliced(end + 4);
    }
    return !waiting.isEmpty();
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

// "Host: name[:port]", the port only when the URL names one, as Qt's client sent it (a signature may cover it).
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

// A connection lost under the transfer, as Qt's client named it: callers tell "offline" from "failed" by the code.
bool closedByPeer(long osErrno)
{
    return osErrno == 0 || osErrno == ECONNRESET || osErrno == EPIPE;
}

struct TransportFailure {
    QNetworkReply::NetworkError error;
    QString text;
};

TransportFailure transportFailure(CURLcode result, long osErrno, const QString &host, const QString &curlText)
{
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return {QNetworkReply::HostNotFoundError, QStringLiteral("Host %1 not found").arg(host)};
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {QNetworkReply::ProxyNotFoundError, curlText};
    case CURLE_COULDNT_CONNECT:
        if (osErrno == ECONNREFUSED)
            return {QNetworkReply::ConnectionRefusedError, QStringLiteral("Connection refused")};
        if (osErrno == ETIMEDOUT)
            return {QNetworkReply::TimeoutError, QStringLiteral("Socket operation timed out")};
        return {QNetworkReply::UnknownNetworkError, curlText}; // no route, network down, and the rest
    case CURLE_OPERATION_TIMEDOUT:
        return {QNetworkReply::TimeoutError, QStringLiteral("Socket operation timed out")};
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE: // closed inside the answer's body
        return {QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed")};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        if (closedByPeer(osErrno))
            return {QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed")};
        return {QNetworkReply::UnknownNetworkError, curlText};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return {QNetworkReply::SslHandshakeFailedError, QStringLiteral("SSL handshake failed: %1").arg(curlText)};
    case CURLE_UNSUPPORTED_PROTOCOL: // an answer without a status line ("HTTP/0.9")
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return {QNetworkReply::ProtocolFailure, QStringLiteral("The server's answer is not HTTP.")};
    default:
        return {QNetworkReply::UnknownNetworkError, curlText};
    }
}

} // namespace

CurlPut::CurlPut(const QNetworkRequest &request, std::unique_ptr<QIODevice> body, qint64 answerLimit, Done done,
                 CurlMulti *multi)
    : QObject(multi)
    , m_multi(multi)
    , m_request(request)
    , m_body(std::move(body))
    , m_answerLimit(answerLimit)
    , m_done(std::move(done))
    , m_easy(curl_easy_init())
    , m_clock(this)
{
    m_clock.setSingleShot(true);
    m_clock.setTimerType(Qt::PreciseTimer);
    connect(&m_clock, &QTimer::timeout, this, &CurlPut::watchTime);

    const QUrl url = request.url();
    m_headers = curl_slist_append(m_headers, ("Host: " + hostHeader(url)).constData());
    for (const QByteArray &name : request.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower != "host" && lower != "content-length" && lower != "connection" && lower != "transfer-encoding")
            m_headers = curl_slist_append(m_headers, (name + ": " + request.rawHeader(name)).constData());
    }
    // curl's own defaults off: no waiting for "100 Continue", no Accept the old client never sent.
    m_headers = curl_slist_append(m_headers, "Expect:");
    m_headers = curl_slist_append(m_headers, "Accept:");

    CURL *e = m_easy;
    curl_easy_setopt(e, CURLOPT_PRIVATE, this);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_curlError);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // The target byte for byte as the store signed it: no dot segments removed, nothing re-encoded.
    curl_easy_setopt(e, CURLOPT_URL, url.toEncoded(QUrl::RemoveFragment).constData());
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROXY, ""); // none, whatever the environment says, as for the app's Qt client
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_body->size()));
    curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kPieceSize);
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
    // The system's CA bundle (curl's default), or the one OpenSSL's variable names instead, and beside a bundle no
    // CA folder, not even the one curl was built with: with a folder set, curl parses the whole bundle again for
    // every connection; without, the multi handle keeps one parsed store. The system's folder holds the bundle's
    // CAs. A folder alone is looked up certificate by certificate, which costs little.
    const QByteArray file = qgetenv("SSL_CERT_FILE");
    char *builtInFile = nullptr;
    curl_easy_getinfo(e, CURLINFO_CAINFO, &builtInFile);
    if (!file.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAINFO, file.constData());
    if (!file.isEmpty() || builtInFile)
        curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    else if (const QByteArray folder = qgetenv("SSL_CERT_DIR"); !folder.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAPATH, folder.constData());
    // A new connection to a store seen before resumes its TLS session instead of a full handshake.
    curl_easy_setopt(e, CURLOPT_SHARE, multi->share());
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &CurlPut::onRead);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &CurlPut::onSeek);
    curl_easy_setopt(e, CURLOPT_SEEKDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlPut::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlPut::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlPut::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &CurlPut::onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    // curl may close a socket after the transfer that opened it has gone: the multi handle hears of it.
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &CurlMulti::closeSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, multi);
}

CurlPut::~CurlPut()
{
    leaveMulti();
    curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
    if (m_done) // cut off before its answer: the caller hears of it
        m_done({std::nullopt, QNetworkReply::OperationCanceledError, kCanceled, {}, false});
}

void CurlPut::start()
{
    m_elapsed.start();
    begin();
    if (m_done && m_request.transferTimeout() > 0)
        m_clock.start(lookInterval(m_request.transferTimeout()));
}

void CurlPut::begin()
{
    m_receivedAny = false;
    m_status.reset();
    m_reason.clear();
    m_headComplete = false;
    m_curlError[0] = '\0';
    m_bodyStart.clear();
    m_cutShort = false;
    m_bodyHandedOver = false;
    m_bytesBeforeLastPiece = false;
    m_earlySuccess = false;
    m_answerSince = -1;
    m_lastSent = 0;
    m_unacknowledged = 0;
    if (!m_body->reset()) {
        fail(QNetworkReply::ContentReSendError, m_body->errorString());
        return;
    }
    m_multi->add(m_easy);
    m_inMulti = true;
}

void CurlPut::leaveMulti()
{
    if (std::exchange(m_inMulti, false))
        m_multi->remove(m_easy);
}

size_t CurlPut::onRead(char *buffer, size_t size, size_t count, void *self)
{
    auto *put = static_cast<CurlPut *>(self);
    const qint64 read = put->m_body->read(buffer, qint64(size * count));
    if (read < 0) { // the file shrank or cannot be read: what would follow is not the file
        put->m_bodyError = put->m_body->errorString();
        return CURL_READFUNC_ABORT;
    }
    if (!put->m_bodyHandedOver && put->m_body->pos() >= put->m_body->size()) {
        put->m_bodyHandedOver = true;
        // An answer waiting now came before the last piece left: it answers no whole body. Over TLS the end of
        // the handshake may still wait unread, so only the answer's head can tell there.
        put->m_bytesBeforeLastPiece = put->m_request.url().scheme() != QLatin1String("https")
            && finalAnswerBegun(put->m_multi->unreadBytes(put, kPeekSize));
    }
    return size_t(read);
}

int CurlPut::onSeek(void *self, curl_off_t offset, int origin)
{
    auto *put = static_cast<CurlPut *>(self);
    if (origin != SEEK_SET)
        return CURL_SEEKFUNC_CANTSEEK;
    if (!put->m_body->seek(qint64(offset)))
        return CURL_SEEKFUNC_FAIL;
    put->m_bodyHandedOver = false;
    return CURL_SEEKFUNC_OK;
}

curl_socket_t CurlPut::onOpenSocket(void *self, curlsocktype, curl_sockaddr *address)
{
    auto *put = static_cast<CurlPut *>(self);
    return CurlMulti::openSocket(put->m_multi, put, address);
}

int CurlPut::onProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
{
    // Time counts from the last byte that left, not from when it was noticed.
    auto *put = static_cast<CurlPut *>(self);
    if (sent != put->m_lastSent) {
        put->m_lastSent = sent;
        put->m_lastActivity = put->m_elapsed.elapsed();
    }
    put->noteAcknowledged();
    return 0;
}

void CurlPut::noteAcknowledged()
{
    // The send queue shrinking is the store taking bytes: on a slow link the last MiB of a body drains from the
    // kernel long after curl handed it over, and curl hears nothing of it.
    const qint64 unacknowledged = m_multi->unacknowledgedBytes(this);
    if (unacknowledged < m_unacknowledged)
        m_lastActivity = m_elapsed.elapsed();
    m_unacknowledged = unacknowledged;
}

qint64 CurlPut::bodySent() const
{
    curl_off_t sent = 0;
    curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &sent);
    return qint64(sent);
}

size_t CurlPut::onHeader(char *buffer, size_t size, size_t count, void *self)
{
    auto *put = static_cast<CurlPut *>(self);
    return put->headerLine(QByteArrayView(buffer, qsizetype(size * count))) ? size * count : 0;
}

bool CurlPut::headerLine(QByteArrayView line)
{
    const qint64 now = m_elapsed.elapsed();
    m_lastActivity = now;
    m_receivedAny = true;
    // An interim head while the body still goes out (a "100 Continue") does not start the answer's time.
    if (m_answerSince < 0 && m_bodyHandedOver)
        m_answerSince = now;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        // Each head stands alone: nothing of an interim answer carries into the final one.
        const QList<QByteArray> parts = line.toByteArray().split(' ');
        bool ok = false;
        const int status = parts.size() > 1 ? parts.at(1).toInt(&ok) : 0;
        m_status = ok ? std::optional<int>(status) : std::nullopt;
        const qsizetype reasonAt = line.indexOf(' ', line.indexOf(' ') + 1);
        m_reason = reasonAt > 0 ? line.sliced(reasonAt + 1).toByteArray() : QByteArray();
        m_headComplete = false;
        m_bodyStart.clear();
        if (m_status && *m_status >= 200) {
            if (m_answerSince < 0)
                m_answerSince = now;
            // A success that came before the store had the whole body answers something else: a proxy's or a
            // store's that took part of it, or the stale answer of an earlier request. A body of a few MiB is in
            // the kernel right after the head, so what the store acknowledged tells: a store that read the whole
            // body before answering acknowledged every byte with its answer at the latest. One whose kernel took
            // every byte and acknowledged it, but whose program answered before reading, is out of any client's
            // sight.
            const bool early = m_bytesBeforeLastPiece || bodySent() != m_body->size()
                || m_multi->unacknowledgedBytes(this) > 0;
            if (early && *m_status <= 299) {
                m_earlySuccess = true;
                return false;
            }
        }
        return true;
    }
    if (line.isEmpty() && m_status && *m_status >= 200)
        m_headComplete = true; // an interim answer's head is passed over whole
    return true;
}

size_t CurlPut::onBody(char *buffer, size_t size, size_t count, void *self)
{
    auto *put = static_cast<CurlPut *>(self);
    put->m_lastActivity = put->m_elapsed.elapsed();
    const qsizetype length = qsizetype(size * count);
    const qsizetype room = qsizetype(put->m_answerLimit) - put->m_bodyStart.size();
    if (length <= room) {
        put->m_bodyStart.append(buffer, length);
        return size * count;
    }
    // Past the part that is kept: the answer ends here.
    put->m_bodyStart.append(buffer, qMax<qsizetype>(room, 0));
    put->m_cutShort = true;
    return 0;
}

void CurlPut::watchTime()
{
    noteAcknowledged();
    const qint64 limit = m_request.transferTimeout();
    const qint64 now = m_elapsed.elapsed();
    qint64 left = m_lastActivity + limit - now;
    if (m_answerSince >= 0)
        left = qMin(left, m_answerSince + limit - now);
    if (left > 0) {
        m_clock.start(int(qMin(left, lookInterval(limit))));
        return;
    }
    fail(QNetworkReply::OperationCanceledError, kCanceled);
}

void CurlPut::finished(CURLcode result)
{
    // curl ends a transfer whose server answered and closed while the body was still going out as a success.
    if (result == CURLE_OK && m_status && *m_status >= 200 && *m_status <= 299 && bodySent() != m_body->size())
        m_earlySuccess = true;
    if (m_earlySuccess) {
        closedUnanswered();
        return;
    }
    if (result == CURLE_OK) {
        long code = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
        const int status = m_headComplete && m_status ? *m_status : int(code);
        UploadAnswer answer{status, QNetworkReply::NoError, {}, m_bodyStart, false};
        if (status >= 400) {
            answer.error = statusError(status);
            answer.errorString = QStringLiteral("Error transferring %1 - server replied: %2")
                                     .arg(m_request.url().toString(), QString::fromLatin1(m_reason));
        }
        finish(std::move(answer));
        return;
    }
    if (result == CURLE_WRITE_ERROR && m_cutShort) {
        finish({m_headComplete ? m_status : std::nullopt, QNetworkReply::OperationCanceledError, kCanceled,
                m_bodyStart, true});
        return;
    }
    if (result == CURLE_ABORTED_BY_CALLBACK && !m_bodyError.isNull()) {
        fail(QNetworkReply::UnknownNetworkError, m_bodyError);
        return;
    }
    long osErrno = 0;
    curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osErrno);
    const bool closed = result == CURLE_GOT_NOTHING
        || ((result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR) && closedByPeer(osErrno));
    if (closed && !m_receivedAny) {
        closedUnanswered();
        return;
    }
    const QString curlText = QString::fromLocal8Bit(m_curlError[0] ? m_curlError : curl_easy_strerror(result));
    const TransportFailure failure = transportFailure(result, osErrno, m_request.url().host(), curlText);
    fail(failure.error, failure.text);
}

void CurlPut::closedUnanswered()
{
    // Once more, from the start, on a connection of its own (a store restarting, a connection dropped on its way).
    if (!std::exchange(m_sentAgain, true)) {
        leaveMulti();
        begin();
        return;
    }
    finish({std::nullopt, QNetworkReply::RemoteHostClosedError, QStringLiteral("Connection closed"), {}, false});
}

void CurlPut::fail(QNetworkReply::NetworkError error, const QString &text)
{
    finish({m_headComplete ? m_status : std::nullopt, error, text, m_bodyStart, false});
}

void CurlPut::finish(UploadAnswer answer)
{
    m_clock.stop();
    leaveMulti();
    if (m_done)
        std::exchange(m_done, nullptr)(std::move(answer));
    deleteLater();
}
