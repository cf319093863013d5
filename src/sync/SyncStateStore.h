#pragma once

// "sync-state.json": what the engine keeps across restarts, and the writer that saves it off the UI thread.

#include "SyncFolder.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <mutex>
#include <optional>
#include <utility>

using FolderUploadList = QList<std::pair<QString, QList<UploadedFileMeta>>>;

struct SyncState {
    static constexpr qint64 currentVersion = 2;

    std::optional<QString> watchFolder;      // a path, not a URL
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    std::optional<FolderUploadList> folderUploads; // folder path to its upload records, in writing order
    qint64 version = currentVersion;        // a file without it is version 1; nothing depends on it

    bool operator==(const SyncState &) const = default;
};

// One compact JSON object with the keys "watchFolder", "ignoredPaths", "knownGalleryIds", "folderUploads" and
// "version" in that order; absent optionals are left out. The sets are written sorted so that equal states give
// equal bytes. Throws EncodingError for a time stamp that is not a finite number.
QByteArray encodeSyncState(const SyncState &state);

// Every key is optional (missing or null: empty sets, no export folder, no records, version 1); a value of the
// wrong type anywhere fails the whole file. Throws SyncDecodingError.
SyncState decodeSyncState(const QByteArray &json);

// Loads the state file and writes it on a background thread. Saves coalesce: the newest snapshot wins, the ones
// in between may never reach the disk, and each write replaces the whole file atomically. Destruction waits for
// the last snapshot to be written.
class SyncStateStore
{
public:
    explicit SyncStateStore(QString filePath);
    ~SyncStateStore();

    SyncStateStore(const SyncStateStore &) = delete;
    SyncStateStore &operator=(const SyncStateStore &) = delete;

    const QString &filePath() const { return m_filePath; }

    // The stored state; nothing when there is no file. A file that cannot be read or understood is logged
    // ("Failed to load state: %@") and moved aside under a ".damaged-<time>" name, and the copy that every save
    // leaves beside it (".last-good") is loaded instead. Never throws.
    std::optional<SyncState> load() const;

    // Queues the snapshot for writing and returns at once. Failures are logged ("Failed to save state: %@").
    void save(SyncState snapshot);

    // Blocks until every queued snapshot is on disk: for the end of the process and for tests.
    void flush();

private:
    void drain();

    const QString m_filePath;
    const QString m_lastGoodPath;
    std::mutex m_mutex;
    std::optional<SyncState> m_pending;
    bool m_drainScheduled = false;
    QThreadPool m_writer;
};
