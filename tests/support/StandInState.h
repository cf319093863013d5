#pragma once

// The stand-in service's library and its JSON API, without HTTP and without locking: the HTTP front holds one
// instance under its mutex and hands it each request that no script took.

#include "StandInTypes.h"

#include <QHash>
#include <QMap>

#include <chrono>

namespace testsupport::standin {

struct ApiRequest {
    QByteArray method;
    QByteArray rawPath;
    QByteArray rawQuery;
    std::optional<QByteArray> authorization;
    QByteArray body;
};

struct ApiReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;
};

// What arrived at a presigned slot.
struct StoredObject {
    qint64 size = 0;
    QByteArray sha256;
    QByteArray contentType;
};

class StandInState {
public:
    void setBaseUrl(const QString &baseUrl) { m_baseUrl = baseUrl; }

    ApiReply handleApi(const ApiRequest &request);
    // `arrival` is when the PUT's headers arrived; a slot must be valid then, as a store checks it.
    ApiReply handleStorePut(const QByteArray &rawPath, const QByteArray &rawQuery, bool hasAuthorization,
                            const QDateTime &arrival, const StoredObject &object);

    void addAccount(const QByteArray &token, StandInAccount account);

    QString seedFolder(const QString &name, const std::optional<QString> &parentId, std::optional<qint64> sortOrder);
    QString seedGallery(const QString &title, const std::optional<QString> &folderId);
    QString seedImage(const QString &galleryId, const QString &fileName, qint64 size, const QByteArray &sha256);
    bool deleteImageOnWeb(const QString &galleryId, const QString &fileName);

    int galleryPageSize = 50;
    QByteArray deviceLoginToken; // handed out by the device-login page
    bool syncStateReversed = false;
    bool idsDescending = false; // a later id sorts before an earlier one
    bool apiDeleteMarksDeleted = false;
    bool renameGallery(const QString &galleryId, const QString &title);
    bool deleteGalleryOnWeb(const QString &galleryId) { return deleteGallery(galleryId, {}).status == 200; }
    std::chrono::milliseconds slotLifetime = std::chrono::minutes(15);
    int withheldSlots = 0;
    std::optional<QString> slotUrlOverride;
    int slotUrlOverrideIndex = -1;
    void expireSlots();

    // The library (folders, galleries with their images, the id counters) as JSON, to carry it over a restart;
    // accounts, slots and behaviour settings are not part of it.
    QByteArray saveLibrary() const;
    // Replaces the library with a saved one; false, and nothing changed, when the bytes are not one.
    bool loadLibrary(const QByteArray &saved);

    QList<StandInGallery> galleries() const;
    std::optional<StandInGallery> gallery(const QString &id) const;
    QList<StandInFolder> folders() const { return m_folders; }

private:
    struct Gallery {
        StandInGallery value;
        std::optional<QString> address;
    };
    struct Slot {
        QString id;
        QString key;
        QString galleryId;
        QString fileName;
        QString signature;
        QDateTime expiresAt;
        std::optional<StoredObject> object;
        int run = 0;          // the presigned request that handed it out, counted per gallery
        bool settled = false; // confirmed or dropped
    };

    ApiReply route(const ApiRequest &request, const QStringList &segments);
    ApiReply page(const ApiRequest &request, const QStringList &segments) const;
    ApiReply listGalleries(const QByteArray &rawQuery) const;
    ApiReply galleryImages(const QString &galleryId) const;
    ApiReply deleteImages(const QString &galleryId, const QByteArray &body);
    ApiReply createGallery(const QByteArray &body);
    ApiReply updateGallery(const QString &galleryId, const QByteArray &body);
    ApiReply deleteGallery(const QString &galleryId, const QByteArray &body);
    ApiReply listFolders() const;
    ApiReply createFolder(const QByteArray &body);
    ApiReply syncState() const;
    ApiReply presign(const QByteArray &body);
    ApiReply confirm(const QString &galleryId, const QByteArray &body);

    Gallery *findGallery(const QString &id);
    const Gallery *findGallery(const QString &id) const;
    bool hasFolder(const QString &id) const;
    QString uniqueSlug(const QString &title) const;
    QString nextId(const char *prefix);
    static QString now();

    QString m_baseUrl;
    QHash<QByteArray, StandInAccount> m_accounts;
    QList<Gallery> m_galleries;
    QList<StandInFolder> m_folders;
    QList<Slot> m_slots;
    QHash<QString, int> m_latestRun; // by gallery id: the run its latest presigned request opened
    QMap<QByteArray, int> m_counters;
};

} // namespace testsupport::standin
