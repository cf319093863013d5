#include "VarnostimaAPI.h"

#include "ServiceLogging.h"
#include "SingleSendBody.h"
#include "UploadSource.h"
#include "UploadTransport.h"
#include "WebLinks.h"
#include "platform/SecurityScopedAccess.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

namespace {

const char *const kResourceTimedOut = "varnostimaResourceTimedOut";
const char *const kAnswerTooLarge = "varnostimaAnswerTooLarge";

// Replies are only ever released with deleteLater: the code after co_await runs inside their finished() signal.
struct DeleteLater {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, DeleteLater>;

bool isWebURL(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.isRelative() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool containsHeaderBreakers(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

std::optional<int> httpStatus(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

// The error of a request that got no complete answer. The idle time-out ends as OperationCanceledError, the same as
// abort(); the client aborts only for its own resource time-out and for an answer too large, which is checked
// first, so a cancel here is always a time-out.
TransportError transportError(QNetworkReply::NetworkError error, const QString &text, bool resourceTimedOut = false)
{
    if (resourceTimedOut || error == QNetworkReply::OperationCanceledError)
        return TransportError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."), true);
    return TransportError(error, text);
}

TransportError transportError(const QNetworkReply &reply)
{
    return transportError(reply.error(), reply.errorString(), reply.property(kResourceTimedOut).toBool());
}

// Object stores say it in their own words: "ExpiredToken" on some, S3-compatible ones answer AccessDenied with
// "Request has expired".
bool bodySaysExpired(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    return !decoder.hasError()
        && (text.contains(QLatin1String("ExpiredToken")) || text.contains(QLatin1String("Request has expired")));
}

} // namespace

VarnostimaAPI &VarnostimaAPI::shared()
{
    static VarnostimaAPI *const instance = new VarnostimaAPI(); // lives as long as the process
    return *instance;
}

QUrl VarnostimaAPI::defaultBaseURL()
{
    return QUrl(QStringLiteral("https://app.varnostima.no"));
}

VarnostimaAPI::VarnostimaAPI(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_singleUseNetwork(new QNetworkAccessManager(this))
    , m_baseURL(defaultBaseURL())
    , m_scope(&systemSecurityScope())
{
    setTimeouts(m_timeouts);
}

VarnostimaAPI::~VarnostimaAPI() = default;

quint64 VarnostimaAPI::setCredentials(const QUrl &baseURL, const std::optional<QString> &authToken)
{
    m_baseURL = baseURL;
    m_authToken = authToken;
    return ++m_generation;
}

void VarnostimaAPI::clearAuthToken()
{
    m_authToken.reset();
    ++m_generation;
}

void VarnostimaAPI::setTimeouts(const NetworkTimeouts &timeouts)
{
    m_timeouts = timeouts;
    m_network->setTransferTimeout(static_cast<int>(timeouts.idle.count()));
    m_singleUseNetwork->setTransferTimeout(static_cast<int>(timeouts.idle.count()));
}

QUrl VarnostimaAPI::endpointURL(const QString &path) const
{
    QUrl url = m_baseURL;
    QString basePath = url.path(QUrl::FullyDecoded);
    while (basePath.endsWith(QLatin1Char('/')))
        basePath.chop(1);
    url.setPath(basePath + path, QUrl::DecodedMode);
    return url;
}

QUrl VarnostimaAPI::galleryURL(const QString &galleryId, const QString &suffix) const
{
    const std::optional<QByteArray> segment = pathSegment(galleryId);
    if (!segment) {
        qCCritical(lcAPI, "Refusing a request for the gallery id \"%s\"", qUtf8Printable(galleryId));
        throw APIError::invalidURL();
    }
    QByteArray path = m_baseURL.path(QUrl::FullyEncoded).toUtf8();
    while (path.endsWith('/'))
        path.chop(1);
    path += "/api/gallery/" + *segment + QUrl::toPercentEncoding(suffix, "/");
    const QUrl origin = m_baseURL.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemovePath);
    return QUrl::fromEncoded(origin.toEncoded() + path, QUrl::StrictMode);
}

QNetworkRequest VarnostimaAPI::serviceRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(m_timeouts.request.count()));
    // The bearer token must never reach another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (m_authToken)
        request.setRawHeader("Authorization", "Bearer " + m_authToken->toUtf8());
    return request;
}

void VarnostimaAPI::armResourceTimer(QNetworkReply *reply) const
{
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    timer->setInterval(m_timeouts.resource);
    connect(timer, &QTimer::timeout, reply, [reply] {
        reply->setProperty(kResourceTimedOut, true);
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);
    timer->start();
}

void VarnostimaAPI::capAnswer(QNetworkReply *reply) const
{
    // Ends the transfer as soon as the answer is known to be too large: by its declared size, or by what arrived
    // (decompressed).
    const qint64 limit = m_limits.json;
    const auto stop = [reply] {
        reply->setProperty(kAnswerTooLarge, true);
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, limit, stop] {
        bool known = false;
        const qint64 declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && declared > limit)
            stop();
    });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, limit, stop] {
        if (reply->bytesAvailable() > limit)
            stop();
    });
}

void VarnostimaAPI::validateResponse(std::optional<int> statusCode, const QUrl &responseURL) const
{
    if (!statusCode)
        throw APIError::invalidResponse();
    const int status = *statusCode;
    if (status >= 200 && status <= 299)
        return;
    const QString where = responseURL.isEmpty() ? QStringLiteral("unknown") : responseURL.toString(QUrl::FullyEncoded);
    qCCritical(lcAPI, "HTTP %d from %s", status, qUtf8Printable(where));
    switch (status) {
    case 401:
        throw APIError::unauthorized();
    case 403:
        throw APIError::forbidden();
    case 413:
        throw APIError::quotaExceeded();
    default:
        throw APIError::serverError(status);
    }
}

QCoro::Task<QByteArray> VarnostimaAPI::fetch(QUrl url, QByteArray method, std::optional<QByteArray> body)
{
    if (!isWebURL(url)) {
        qCCritical(lcAPI, "Refusing to send a request to %s", qUtf8Printable(url.toString(QUrl::RemoveUserInfo)));
        throw APIError::invalidURL();
    }
    if (m_authToken && containsHeaderBreakers(*m_authToken)) {
        // Such a token would inject header lines; the service could never have issued it.
        qCCritical(lcAPI, "Refusing to send a token that holds a line break or NUL");
        throw APIError::unauthorized();
    }

    QNetworkRequest request = serviceRequest(url);
    QNetworkReply *raw = nullptr;
    if (body) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        raw = sendOnce(request, method, std::move(*body));
    } else {
        raw = m_network->get(request);
    }
    ReplyPtr reply(raw);
    armResourceTimer(raw);
    capAnswer(raw);

    co_await raw;

    const std::optional<int> status = httpStatus(*reply);
    if (reply->property(kResourceTimedOut).toBool())
        throw transportError(*reply);
    if (reply->error() == QNetworkReply::ContentReSendError) {
        qCWarning(lcAPI, "The connection closed before the answer to %s %s; not sending it again", method.constData(),
                  qUtf8Printable(url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)));
        throw TransportError(QNetworkReply::RemoteHostClosedError,
                             QStringLiteral("The connection closed before the answer arrived."));
    }
    if (!status || (*status >= 200 && *status <= 299)) {
        if (reply->property(kAnswerTooLarge).toBool()) {
            qCCritical(lcAPI, "Answer from %s is larger than %lld bytes", qUtf8Printable(url.toString(QUrl::FullyEncoded)),
                       static_cast<long long>(m_limits.json));
            throw APIError::invalidResponse();
        }
        // Without a status, or with an accepted one that broke off, the answer never arrived whole.
        if (reply->error() != QNetworkReply::NoError)
            throw transportError(*reply);
    }
    validateResponse(status, reply->url());
    co_return reply->readAll();
}

// Requests that change something go one to a fresh connection, with a body that cannot be sent twice: Qt would
// otherwise resend one whose answer was lost, and on a reused connection a server's idle close would fail it.
QNetworkReply *VarnostimaAPI::sendOnce(QNetworkRequest request, const QByteArray &method, QByteArray body)
{
    request.setRawHeader("Connection", "close");
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    auto *device = new SingleSendBody(std::move(body));
    QNetworkReply *reply = m_singleUseNetwork->sendCustomRequest(request, method, device);
    device->setParent(reply);
    return reply;
}

QCoro::Task<bool> VarnostimaAPI::validateToken()
{
    try {
        co_await getJSON<MeResponse>(endpointURL(QStringLiteral("/api/auth/me")));
    } catch (const APIError &error) {
        if (error.errorCase() == APIError::Case::unauthorized)
            co_return false;
        throw;
    }
    co_return true;
}

QUrl VarnostimaAPI::galleryListURL(const std::optional<QString> &cursor) const
{
    QUrl url = endpointURL(QStringLiteral("/api/gallery/list"));
    if (cursor)
        url.setQuery(QStringLiteral("cursor=") + QString::fromLatin1(QUrl::toPercentEncoding(*cursor)),
                     QUrl::StrictMode);
    return url;
}

namespace {

// A decoded page or what decoding threw, carried back from a pool thread as it is.
struct DecodedPage {
    std::optional<GalleryListResponse> page;
    std::exception_ptr error;
};

DecodedPage decodePage(const QByteArray &data)
{
    try {
        return {json::decode<GalleryListResponse>(data), nullptr};
    } catch (...) {
        return {std::nullopt, std::current_exception()};
    }
}

} // namespace

QCoro::Task<GalleryListResponse> VarnostimaAPI::listGalleries(std::optional<QString> cursor)
{
    const QUrl url = galleryListURL(cursor);
    if (!url.isValid())
        throw APIError::invalidURL();
    QByteArray data = co_await fetch(url, QByteArrayLiteral("GET"), std::nullopt);
    // A first sync reads every page of a large library, and each is let go once read: decoded on a pool thread,
    // it costs the UI thread nothing and leaves nothing behind there. (The sync state is decoded where it arrives:
    // its texts live on in the folder list, and would pin the heap of a pool thread.)
    QFuture<DecodedPage> decoding = QtConcurrent::run(decodePage, std::move(data));
    DecodedPage decoded = co_await std::move(decoding);
    if (decoded.error)
        std::rethrow_exception(decoded.error);
    co_return std::move(*decoded.page);
}

// Coroutines, so that a refused id fails through the task like every other failure.
QCoro::Task<GalleryImagesResponse> VarnostimaAPI::getGalleryImages(QString galleryId)
{
    const QUrl url = galleryURL(galleryId, QStringLiteral("/images"));
    auto task = getJSON<GalleryImagesResponse>(url);
    co_return co_await std::move(task);
}

QCoro::Task<DeleteImagesResponse> VarnostimaAPI::deleteImages(QString galleryId, QStringList imageIds)
{
    const QUrl url = galleryURL(galleryId, QStringLiteral("/images"));
    DeleteImagesRequest body{std::move(imageIds)};
    auto task = sendJSON<DeleteImagesResponse>(url, QByteArrayLiteral("DELETE"), std::move(body));
    co_return co_await std::move(task);
}

QCoro::Task<CreateGalleryResponse> VarnostimaAPI::createGallery(CreateGalleryRequest request)
{
    return sendJSON<CreateGalleryResponse>(endpointURL(QStringLiteral("/api/gallery")), QByteArrayLiteral("POST"),
                                           std::move(request));
}

QCoro::Task<SuccessResponse> VarnostimaAPI::updateGallery(QString galleryId, UpdateGalleryRequest request)
{
    const QUrl url = galleryURL(galleryId);
    auto task = sendJSON<SuccessResponse>(url, QByteArrayLiteral("PATCH"), std::move(request));
    co_return co_await std::move(task);
}

QCoro::Task<SuccessResponse> VarnostimaAPI::deleteGallery(QString galleryId)
{
    const QUrl url = galleryURL(galleryId);
    auto task = sendJSON<SuccessResponse>(url, QByteArrayLiteral("DELETE"), EmptyBody{});
    co_return co_await std::move(task);
}

QCoro::Task<FolderListResponse> VarnostimaAPI::listFolders()
{
    return getJSON<FolderListResponse>(endpointURL(QStringLiteral("/api/folder")));
}

QCoro::Task<CreateFolderResponse> VarnostimaAPI::createFolder(CreateFolderRequest request)
{
    return sendJSON<CreateFolderResponse>(endpointURL(QStringLiteral("/api/folder")), QByteArrayLiteral("POST"),
                                          std::move(request));
}

QCoro::Task<SyncStateResponse> VarnostimaAPI::getSyncState()
{
    return getJSON<SyncStateResponse>(endpointURL(QStringLiteral("/api/sync/state")));
}

QCoro::Task<PresignedResponse> VarnostimaAPI::requestPresignedURLs(QString galleryId,
                                                                   QList<PresignedRequest::FileInfo> files)
{
    return sendJSON<PresignedResponse>(endpointURL(QStringLiteral("/api/upload/presigned")),
                                       QByteArrayLiteral("POST"),
                                       PresignedRequest{std::move(galleryId), std::move(files)});
}

QCoro::Task<SuccessResponse> VarnostimaAPI::confirmUpload(QString galleryId, ConfirmRequest request)
{
    const QUrl url = galleryURL(galleryId, QStringLiteral("/confirm"));
    auto task = sendJSON<SuccessResponse>(url, QByteArrayLiteral("POST"), std::move(request));
    co_return co_await std::move(task);
}

QCoro::Task<void> VarnostimaAPI::uploadToPresignedURL(QString url, QString filePath, QString contentType,
                                                      std::optional<qint64> declaredSize)
{
    // Only an absolute web URL: Qt would otherwise happily "put" to a file: URL and overwrite a local file.
    const QUrl target(url, QUrl::StrictMode);
    if (!isWebURL(target))
        throw APIError::invalidURL();

    QNetworkRequest request(target);
    request.setTransferTimeout(static_cast<int>(m_timeouts.request.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Content-Type", contentType.toUtf8());

    const SecurityScopedAccess access(*m_scope, filePath);

    UploadSource source(filePath, declaredSize);
    request.setHeader(QNetworkRequest::ContentLengthHeader, source.size());
    // No total limit: a large file on a slow line takes as long as it takes while data flows; the idle limit holds.
    // Of the answer only its start is kept: it tells an expired link from other refusals.
    if (!m_uploads)
        m_uploads = std::make_unique<UploadTransport>();
    const QFuture<UploadAnswer> transfer = m_uploads->put(request, source.body(), m_limits.uploadAnswerPrefix);
    const UploadAnswer answer = co_await transfer;

    const std::optional<int> status = answer.status;
    if (status && *status >= 200 && *status <= 299) {
        source.checkUnchangedAfterSending();
        if (answer.error != QNetworkReply::NoError && !answer.cutShort)
            throw transportError(answer.error, answer.errorString);
        co_return;
    }
    if (!status && answer.error != QNetworkReply::NoError) {
        // A file that changed or could not be read ends the transfer as the network would: say which it was.
        source.checkUnchangedAfterSending();
        throw transportError(answer.error, answer.errorString);
    }
    if (bodySaysExpired(answer.bodyStart))
        throw APIError::expiredPresignedURL();
    throw APIError::uploadFailed(status.value_or(-1));
}
