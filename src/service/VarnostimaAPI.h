#pragma once

#include "CommonRecords.h"
#include "Errors.h"
#include "FolderRecords.h"
#include "GalleryRecords.h"
#include "Json.h"
#include "SyncStateRecords.h"
#include "UploadRecords.h"

#include <QCoroTask>
#include <QNetworkRequest>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class SecurityScope;
class UploadTransport;

struct NetworkTimeouts {
    std::chrono::milliseconds idle{30000};      // the session's default idle time-out
    std::chrono::milliseconds request{60000};   // each request's own idle time-out, which overrides the session's
    std::chrono::milliseconds resource{300000}; // the longest one transfer may take in all
};

// The most of an answer the client takes in: a JSON answer whole, of an upload's answer only the start.
struct AnswerLimits {
    qint64 json = qint64(128) << 20; // a sync state of thousands of galleries fits many times over
    qint64 uploadAnswerPrefix = 64 * 1024;
};

// The client of the service's JSON API. Lives on the UI thread; its network I/O is asynchronous. Every call reads
// the base URL and token when it is made, so a request keeps the pair it was built with.
//
// Operations throw: APIError for an answer the client does not accept, TransportError when no complete answer came,
// DecodingError for a body that does not read as its record, EncodingError for a body that cannot be written.
class VarnostimaAPI : public QObject
{
    Q_OBJECT

public:
    // The process-wide instance the application uses, created on first use on the UI thread.
    static VarnostimaAPI &shared();
    static QUrl defaultBaseURL();

    // An instance of its own (tests): default base URL, no token, default time-outs.
    explicit VarnostimaAPI(QObject *parent = nullptr);
    ~VarnostimaAPI() override;

    QUrl baseURL() const { return m_baseURL; }
    std::optional<QString> authToken() const { return m_authToken; }
    // Sets both at once, so no request is built with one new and one old. Returns the new credentials generation.
    quint64 setCredentials(const QUrl &baseURL, const std::optional<QString> &authToken);
    void clearAuthToken();
    // Increases with every change of base URL or token; lets a caller tell whether someone else changed them.
    quint64 credentialsGeneration() const { return m_generation; }

    NetworkTimeouts timeouts() const { return m_timeouts; }
    void setTimeouts(const NetworkTimeouts &timeouts);
    AnswerLimits answerLimits() const { return m_limits; }
    void setAnswerLimits(const AnswerLimits &limits) { m_limits = limits; }
    // The scope that grants access to files being uploaded; the system's by default.
    void setSecurityScope(SecurityScope &scope) { m_scope = &scope; }

    // The base URL with the path appended (a path that holds "?" or "%" keeps them as path characters).
    QUrl endpointURL(const QString &path) const;
    // "/api/gallery/<id><suffix>", the id as exactly one path segment. Throws invalidURL for an id that cannot be
    // one ("", "." and "..").
    QUrl galleryURL(const QString &galleryId, const QString &suffix = {}) const;

    template<typename Response>
    QCoro::Task<Response> getJSON(QUrl url)
    {
        const QByteArray data = co_await fetch(std::move(url), QByteArrayLiteral("GET"), std::nullopt);
        co_return json::decode<Response>(data);
    }

    template<typename Response, typename Body>
    QCoro::Task<Response> sendJSON(QUrl url, QByteArray method, Body body)
    {
        QByteArray encoded = json::encode(body); // an encoding failure leaves before anything is sent
        const QByteArray data = co_await fetch(std::move(url), std::move(method), std::move(encoded));
        co_return json::decode<Response>(data);
    }

    // Accepts 200 to 299; otherwise logs "HTTP %ld from %s" and throws the APIError of the status.
    // An answer without an HTTP status (nullopt) is invalidResponse.
    void validateResponse(std::optional<int> statusCode, const QUrl &responseURL) const;

    // Whether the service accepts the current token; false only for a 401, every other failure is thrown.
    QCoro::Task<bool> validateToken();

    QCoro::Task<GalleryListResponse> listGalleries(std::optional<QString> cursor);
    QCoro::Task<GalleryImagesResponse> getGalleryImages(QString galleryId);
    QCoro::Task<DeleteImagesResponse> deleteImages(QString galleryId, QStringList imageIds);
    QCoro::Task<CreateGalleryResponse> createGallery(CreateGalleryRequest request);
    QCoro::Task<SuccessResponse> updateGallery(QString galleryId, UpdateGalleryRequest request);
    QCoro::Task<SuccessResponse> deleteGallery(QString galleryId);
    QCoro::Task<FolderListResponse> listFolders();
    QCoro::Task<CreateFolderResponse> createFolder(CreateFolderRequest request);

    QCoro::Task<SyncStateResponse> getSyncState();

    QCoro::Task<PresignedResponse> requestPresignedURLs(QString galleryId, QList<PresignedRequest::FileInfo> files);
    // Puts the file's bytes, streamed from disk, to a presigned URL. Sends no credentials of the service. The path
    // must still be a regular file (not a link) and, when given, hold the size the service was told.
    QCoro::Task<void> uploadToPresignedURL(QString url, QString filePath, QString contentType,
                                           std::optional<qint64> declaredSize = std::nullopt);
    QCoro::Task<SuccessResponse> confirmUpload(QString galleryId, ConfirmRequest request);

    // The gallery list URL with its optional "cursor" item (exposed for the wire-form tests).
    QUrl galleryListURL(const std::optional<QString> &cursor) const;

private:
    // Sends one service request with the current token and returns the accepted answer's body.
    QCoro::Task<QByteArray> fetch(QUrl url, QByteArray method, std::optional<QByteArray> body);
    QNetworkRequest serviceRequest(const QUrl &url) const;
    void armResourceTimer(QNetworkReply *reply) const;
    QNetworkReply *sendOnce(QNetworkRequest request, const QByteArray &method, QByteArray body);
    void capAnswer(QNetworkReply *reply) const;

    QNetworkAccessManager *m_network;
    QNetworkAccessManager *m_singleUseNetwork; // requests that change something: never resent, never on a reused connection
    std::unique_ptr<UploadTransport> m_uploads; // presigned uploads, on a thread of their own; made on first use
    QUrl m_baseURL;
    std::optional<QString> m_authToken;
    quint64 m_generation = 0;
    NetworkTimeouts m_timeouts;
    AnswerLimits m_limits;
    SecurityScope *m_scope;
};
