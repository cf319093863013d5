#pragma once

// The sync engine's value records and the rules computed from them. Plain data and pure functions: no file
// access, no network, no threads.

#include "FolderFiles.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

namespace json {
class ObjectReader;
class ObjectWriter;
} // namespace json

// Time stamps in the engine's records and files: seconds since 2001-01-01 00:00:00 UTC, as a double so that the
// nanoseconds of a file's modification time survive a round trip through the state file.
namespace referencedate {
constexpr qint64 unixOffsetSeconds = 978307200;
double fromUnix(qint64 seconds, qint64 nanoseconds);
double fromDateTime(const QDateTime &time);
QDateTime toDateTime(double secondsSinceReference);
} // namespace referencedate

// A state or record that cannot be read back: missing or null required key, wrong type, broken status object.
class SyncDecodingError : public std::runtime_error
{
public:
    explicit SyncDecodingError(const QString &description);
    QString description() const { return QString::fromUtf8(what()); }
};

// Whether a local file differs from its upload record: a recorded size of at least 1 that differs, or, when both
// times are known, times more than 1.0 s apart. A record with size 0 and no time never counts as modified.
bool isModified(const UploadedFileMeta &recorded, const LocalFileMeta &local);

// One entry per name with size 0 and no time: the form of records that only knew names.
QList<UploadedFileMeta> legacyUploadedFiles(const QSet<QString> &names);

// jpg, jpeg, png and webp, compared in lower case.
bool isImageExtension(QStringView extension);
bool isImageFileName(QStringView fileName);
// "image/jpeg", "image/png" or "image/webp"; nothing for any other extension.
std::optional<QString> mimeTypeForExtension(QStringView extension);

// What a scan found in a folder but could not take: images and subfolders it cannot name or reach.
struct SkippedEntries {
    qint64 invalidNames = 0; // a name that is not valid UTF-8
    qint64 tooLongPaths = 0; // a path longer than the system allows

    qint64 total() const { return invalidNames + tooLongPaths; }
    bool operator==(const SkippedEntries &) const = default;
};

// The state of one folder.
class SyncStatus
{
public:
    enum class Case { notSynced, syncing, synced, failed, ignored, removedLocally };

    SyncStatus() = default;
    static SyncStatus notSynced() { return SyncStatus(); }
    static SyncStatus syncing(double progress);
    static SyncStatus synced(QString galleryId, QString gallerySlug, qint64 uploadedCount);
    static SyncStatus failed(QString message);
    static SyncStatus ignored();
    static SyncStatus removedLocally(QString galleryId, QString gallerySlug);

    Case kind() const { return m_case; }
    bool is(Case c) const { return m_case == c; }
    double progress() const { return m_progress; }           // syncing
    QString galleryId() const { return m_galleryId; }        // synced, removedLocally
    QString gallerySlug() const { return m_gallerySlug; }    // synced, removedLocally
    qint64 uploadedCount() const { return m_uploadedCount; } // synced
    QString failureMessage() const { return m_message; }     // failed

    // One key, the case, holding an object with the case's values.
    static SyncStatus fromJson(const json::ObjectReader &in);
    void toJson(json::ObjectWriter &out) const;

    bool operator==(const SyncStatus &) const = default;

private:
    Case m_case = Case::notSynced;
    double m_progress = 0;
    QString m_galleryId;
    QString m_gallerySlug;
    qint64 m_uploadedCount = 0;
    QString m_message;
};

// One folder of the export folder, which is one gallery on the service. Its identity is its path.
struct SyncFolder {
    QString path; // for a placeholder of a gallery removed locally: "__removed__/" and the gallery id
    QString name;
    QString displayName;
    QString relativePath;
    QStringList parentComponents;
    qint64 imageCount = 0;
    SyncStatus status;
    std::optional<UploadRecords> uploadedFiles; // absent: no record, not the same as empty
    std::optional<QString> movedFrom;
    // The disk at the last scan (its images' names, sizes and times); never written to JSON.
    std::optional<LocalFiles> cachedLocalFileMeta;
    SkippedEntries skippedEntries;

    const QString &id() const { return path; }
    // The gallery of a placeholder for a folder removed locally, also once a failed deletion has turned its status
    // into `failed`; nothing for a real folder.
    std::optional<QString> removedGalleryId() const;
    // The path of the placeholder for the gallery.
    static QString placeholderPath(const QString &galleryId);

    // Reads the legacy "uploadedFileNames" when "uploadedFiles" is absent; never writes it.
    static SyncFolder fromJson(const json::ObjectReader &in);
    void toJson(json::ObjectWriter &out) const;

    // The names of the images at the last scan; absent without a scan.
    std::optional<QSet<QString>> cachedLocalFileNames() const;
    // Whether the records still keep names of their own rather than the cache's; shareNames() stores them once.
    bool needsSharedNames() const { return SyncFolderFiles::needsSharing(uploadedFiles, cachedLocalFileMeta); }
    void shareNames() { SyncFolderFiles::shareNames(uploadedFiles, cachedLocalFileMeta); }

    std::optional<QSet<QString>> uploadedFileNameSet() const;
    QStringList newFileNames() const;
    qint64 newFileCount() const;
    QStringList removedFileNames() const;
    qint64 removedFileCount() const;
    bool hasModifiedFiles() const;
    // The recorded names whose local file differs from its record (isModified), sorted like newFileNames.
    QStringList modifiedFileNames() const;
    bool needsMetadataBaseline() const;
    // The records that know only a name (no size, no time): the next update checks these against the gallery.
    qint64 metadataBaselineCount() const;

    // Member by member. An entry compared with a copy of itself (the windows keep copies of the list) costs little:
    // Qt's strings are equal at once when they share their characters.
    bool operator==(const SyncFolder &) const = default;
};

Q_DECLARE_METATYPE(SyncStatus)
Q_DECLARE_METATYPE(SyncFolder)

// JSON forms. Writers put keys in field order and leave absent optionals out; readers accept any key order,
// ignore unknown keys and fail naming the place of the fault (json::DecodingError from fromJson,
// SyncDecodingError from decodeSyncFolder).
QByteArray encodeSyncFolder(const SyncFolder &folder);
SyncFolder decodeSyncFolder(const QByteArray &json);
