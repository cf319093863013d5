#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>

#include <optional>
#include <stdexcept>

// Whether a completed upload created its gallery (first sync of a folder) or added to an existing one.
enum class UploadKind { created, updated };

// One completed gallery upload as the menu-bar window lists it.
struct RecentUpload {
    QString galleryId;
    QString gallerySlug;
    QString title;
    qint64 imageCount = 0;
    QDateTime completedAt;
    QString folderPath;
    std::optional<QUrl> baseURL;

    // Uploads to the same gallery through the same service address share one identity.
    QString id() const;

    friend bool operator==(const RecentUpload &a, const RecentUpload &b);
    friend bool operator!=(const RecentUpload &a, const RecentUpload &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(RecentUpload)

// The history file's contents could not be understood; what() says where and why.
class RecentUploadDecodingError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The history file's form: a compact JSON array, keys in field order, "completedAt" as seconds since
// 2001-01-01 00:00:00 UTC, "baseURL" left out when absent.
QByteArray encodeRecentUploads(const QList<RecentUpload> &uploads);

// Reads what encodeRecentUploads writes. Unknown keys are ignored; a missing or null "baseURL" gives no base URL;
// a record with any other key missing, null or mistyped is skipped and described in `skipped`, the others are
// kept. Throws RecentUploadDecodingError when the file is not a JSON array.
QList<RecentUpload> decodeRecentUploads(const QByteArray &json, QStringList *skipped = nullptr);
