#pragma once

// "sync-state.json": what the engine keeps across restarts, and the writer that saves it off the UI thread.

#include "SyncFolder.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>
#include <utility>

using FolderUploadList = QList<std::pair<QString, UploadRecords>>;

// An upload run whose confirmation may have reached the service (its gallery and file names). The journal
// (UploadJournal.h) keeps them now; state files of older versions may still hold some, and are still read.
struct UploadInFlight {
    QString galleryId;
    QStringList fileNames;

    bool operator==(const UploadInFlight &) const = default;
};

struct SyncState {
    static constexpr qint64 currentVersion = 2;

    std::optional<QString> watchFolder;      // a path, not a URL
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    QSet<QString> dismissedGalleryIds;      // removed galleries the user dismissed; written only when not empty
    std::optional<FolderUploadList> folderUploads; // folder path to its upload records, in writing order
    QMap<QString, QString> folderGalleryIds;        // folder path to the id of the gallery it is linked to
    QMap<QString, UploadInFlight> uploadsInFlight;  // folder path to its run in flight; older files only
    qint64 version = currentVersion;        // a file without it is version 1; nothing depends on it
    // Of the snapshot, shared with the log that continues it (StateLedger.h); none: a file written before the
    // number was kept. Older readers pass the key over.
    std::optional<qint64> generation;

    bool operator==(const SyncState &) const = default;
};

// One compact JSON object with the keys "watchFolder", "ignoredPaths", "knownGalleryIds", "dismissedGalleryIds",
// "folderUploads", "folderGalleryIds", "uploadsInFlight", "version" and "generation" in that order; absent optionals, empty maps
// and an empty set of dismissed ids are left out. The sets are written sorted so that equal states give
// equal bytes. Throws EncodingError for a time stamp that is not a finite number.
QByteArray encodeSyncState(const SyncState &state);

// Every key is optional (missing or null: empty sets, no export folder, no records, version 1); a value of the
// wrong type anywhere fails the whole file. Throws SyncDecodingError.
SyncState decodeSyncState(const QByteArray &json);
// The same through a whole JSON document, for any valid JSON; decodeSyncState takes this road only for files
// outside the plain shape this program writes.
SyncState decodeSyncStateDocument(const QByteArray &json);

// The snapshot half of the state: loads "sync-state.json" and replaces it whole, on the caller's thread (the
// ledger's writer, StateLedger.h, decides when).
//
// Each state is written once: the file a write replaces becomes the last-good copy by a hard link, provided it is
// a file this store wrote or loaded (a file changed behind its back is never taken for good). A snapshot equal to
// the one last written (its generation aside), while the file on disk is still that write, writes nothing.
class SyncStateStore
{
public:
    explicit SyncStateStore(QString filePath);

    SyncStateStore(const SyncStateStore &) = delete;
    SyncStateStore &operator=(const SyncStateStore &) = delete;

    const QString &filePath() const { return m_filePath; }

    // The stored state; nothing when there is no file. A file that cannot be read or understood is logged
    // ("Failed to load state: %@") and copied aside under a ".damaged-<time>" name (it stays until a write replaces
    // it, so a start killed before then leaves the damage to the next), and the copy that saves keep
    // beside it (".last-good", the file as it was before the latest write) is loaded instead. When that cannot be
    // read either, the state holds only the ignored paths read leniently from both, or is nothing. Never throws.
    std::optional<SyncState> load();
    // The last load found the file damaged: what it gave is older than the file was, or nothing.
    bool loadedDamaged() const { return m_loadedDamaged; }

    enum class WriteOutcome { written, unchanged, failed };
    // Replaces the file with the snapshot, on the disk when it returns; a failure is logged ("Failed to save
    // state: %@") and leaves the file as it was.
    WriteOutcome write(const SyncState &snapshot, QString *error);
    // Keeps the snapshot in place of an equal one it holds from the last write or load, so that it holds no data of
    // its own. Nothing when they differ.
    void adoptEqual(const SyncState &snapshot);
    qint64 lastWrittenBytes() const { return m_lastWrittenBytes; }
    // Of the snapshot the last load gave or the last write left on disk.
    std::optional<qint64> generation() const { return m_generation; }

    // What a flush could not put on disk.
    struct Unwritten {
        QString error;                   // the last failure
        qint64 saves = 0;                // saves since the state now on disk
        std::optional<QDateTime> fileOf; // when the state now on disk was written; none: before this start
        QString describe() const;        // for a log line
    };

    // What identifies one version of a file on disk.
    struct FileStamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        bool operator==(const FileStamp &) const = default;
    };

private:
    void keepAsLastGood();

    const QString m_filePath;
    const QString m_lastGoodPath;
    const QString m_tempPath;         // the next file, until it is moved into place
    const QString m_lastGoodTempPath; // the next copy, until it is moved into place
    bool m_loadedDamaged = false;
    std::optional<FileStamp> m_vouched;     // the state file as this store last wrote or loaded it
    std::optional<SyncState> m_lastWritten; // what the last write (or the load) held
    qint64 m_lastWrittenBytes = 0;
    std::optional<qint64> m_generation;
};

// The file helpers the state's files share.
namespace statefiles {
// Writes the bytes to a new file of its own (mode 0600), on the disk before it returns; a leftover is replaced.
bool writeNewFile(const QString &path, const QByteArray &bytes, QString *error);
bool renameOver(const QString &from, const QString &to, QString *error);
// Makes the renames done in the folder durable.
bool syncFolderOf(const QString &path, QString *error);
// Moves an unreadable file (or whatever stands at its name) aside under a ".damaged-<time>" name; what names
// the file in the log lines.
void keepAside(const QString &path, const char *what);
// Copies a damaged file under such a name and leaves it in place, for the next write to replace.
void keepCopy(const QString &path, const char *what);
QString systemText(int error);
} // namespace statefiles
