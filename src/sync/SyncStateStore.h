#pragma once

// "sync-state.json": what the engine keeps across restarts, and the writer that saves it off the UI thread.

#include "SyncFolder.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
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

    bool operator==(const SyncState &) const = default;
};

// One compact JSON object with the keys "watchFolder", "ignoredPaths", "knownGalleryIds", "dismissedGalleryIds",
// "folderUploads", "folderGalleryIds", "uploadsInFlight" and "version" in that order; absent optionals, empty maps
// and an empty set of dismissed ids are left out. The sets are written sorted so that equal states give
// equal bytes. Throws EncodingError for a time stamp that is not a finite number.
QByteArray encodeSyncState(const SyncState &state);

// Every key is optional (missing or null: empty sets, no export folder, no records, version 1); a value of the
// wrong type anywhere fails the whole file. Throws SyncDecodingError.
SyncState decodeSyncState(const QByteArray &json);
// The same through a whole JSON document, for any valid JSON; decodeSyncState takes this road only for files
// outside the plain shape this program writes.
SyncState decodeSyncStateDocument(const QByteArray &json);

// Loads the state file and writes it on a background thread. Saves coalesce: the newest save wins, the ones in
// between are never built or written, and each write replaces the whole file atomically. A snapshot handed over
// as a builder is built on the writer's thread only when its write is due, so a burst of saves costs one build.
//
// When a write is due: a save after a quiet spell is written at once. Otherwise a write starts no sooner than an
// interval after the previous one ended: minInterval, stretched by one minInterval for every bytesPerInterval of
// the file written last. During a pass (beginPass to endPass), a save that carries nothing but what the service
// can give back at the next reconcile (folder records) waits longer: at least as long as the pass had run when
// the file was last written, so a pass writes its file about log2(length / interval) times, however slow the
// service; the end of the pass writes the held state at once. A failed write is tried again, minInterval after
// the failure and twice as long after each further one (at most maxRetryInterval), until one succeeds.
//
// Each state is written once: the file a write replaces becomes the last-good copy by a hard link, provided it is
// a file this store wrote or loaded (a file changed behind its back is never taken for good). A snapshot equal to
// the one last written, while the file on disk is still that write, writes nothing.
class SyncStateStore
{
public:
    static constexpr std::chrono::milliseconds defaultMinInterval{1000};
    static constexpr qint64 bytesPerInterval = 5'000'000;
    static constexpr std::chrono::milliseconds maxRetryInterval{60000};

    // What a save carries beyond the previous one.
    enum class Contents {
        decisions,   // something only this file keeps (the user's choices, known galleries, runs in flight)
        recordsOnly, // folder records and links, which a reconcile rebuilds from the service and the disk
    };

    // How long the writer holds saves after writing a file of that size.
    static std::chrono::milliseconds intervalAfter(qint64 bytesWritten, std::chrono::milliseconds minInterval);
    // The same for records during a pass that had run for passAge when that file was written.
    static std::chrono::milliseconds holdInPass(qint64 bytesWritten, std::chrono::milliseconds minInterval,
                                                std::chrono::milliseconds passAge);
    // How long the writer waits before it tries again after `failures` failed writes in a row.
    static std::chrono::milliseconds retryAfter(int failures, std::chrono::milliseconds minInterval);

    explicit SyncStateStore(QString filePath, std::chrono::milliseconds minInterval = defaultMinInterval);
    ~SyncStateStore(); // writes what is held, once; logs what it could not write

    SyncStateStore(const SyncStateStore &) = delete;
    SyncStateStore &operator=(const SyncStateStore &) = delete;

    const QString &filePath() const { return m_filePath; }

    // The stored state; nothing when there is no file. A file that cannot be read or understood is logged
    // ("Failed to load state: %@") and moved aside under a ".damaged-<time>" name, and the copy that saves keep
    // beside it (".last-good", the file as it was before the latest write) is loaded instead. When that cannot be
    // read either, the state holds only the ignored paths read leniently from both, or is nothing. Never throws.
    std::optional<SyncState> load();

    // Queues the snapshot for writing and returns at once. Failures are logged ("Failed to save state: %@").
    void save(SyncState snapshot);
    // The same for a snapshot that build makes on the writer's thread when its write is due: build reads only
    // what it holds (shared copies of the lists, taken at the call), so the caller's thread pays nothing in
    // proportion to them. A newer save replaces one not yet built.
    using SnapshotBuilder = std::function<SyncState()>;
    void save(SnapshotBuilder build, Contents contents = Contents::decisions);
    // Takes back a builder that waits for its write, so that the lists it shares are the caller's alone again;
    // true when there was one: the caller then owes a save. What it carried is still written promptly if it held
    // decisions.
    bool withdraw();

    // A run of many saves, such as one pass of automatic sync over the library.
    void beginPass();
    void endPass();

    // What a flush could not put on disk.
    struct Unwritten {
        QString error;                   // the last failure
        qint64 saves = 0;                // saves since the state now on disk
        std::optional<QDateTime> fileOf; // when this store wrote the file now on disk; none: before this start
        QString describe() const;        // for a log line
    };
    // Writes the queued snapshot now, without waiting for the interval, and blocks until it is on disk or the
    // attempt failed: for the end of the process and for tests. Nothing when everything saved is on disk.
    std::optional<Unwritten> flush();

    // Files written so far (failed attempts and unchanged snapshots not counted), snapshots built, failed writes.
    qint64 writeCount() const;
    qint64 buildCount() const;
    qint64 failedWriteCount() const;

    // What identifies one version of a file on disk.
    struct FileStamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        bool operator==(const FileStamp &) const = default;
    };

private:
    enum class WriteOutcome { written, unchanged, failed };
    using Clock = std::chrono::steady_clock;

    void run();
    bool isIdle() const; // nothing to build or write, nothing being built or written; under m_mutex
    std::optional<Clock::time_point> writeDue() const; // nothing: now; under m_mutex
    Unwritten unwritten() const;                       // under m_mutex
    WriteOutcome write(const SyncState &snapshot, QString *error);
    void keepAsLastGood();

    const QString m_filePath;
    const QString m_lastGoodPath;
    const QString m_tempPath;         // the next file, until it is moved into place
    const QString m_lastGoodTempPath; // the next copy, until it is moved into place
    const std::chrono::milliseconds m_minInterval;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;    // the writer: a snapshot, a flush, a pass's end or the end
    std::condition_variable m_written; // flush(): the writer went idle or failed
    std::optional<SnapshotBuilder> m_building; // the newest save, still to build
    bool m_preparing = false;                  // the writer is building one
    quint64 m_saves = 0;                       // save() calls so far: a snapshot built late does not win
    std::optional<SyncState> m_pending;        // built (or handed over whole), to write
    quint64 m_pendingSaves = 0;                // the saves m_pending holds
    bool m_decisionsHeld = false;              // something held carries decisions: written without a pass's wait
    std::optional<Clock::time_point> m_passStart;
    quint64 m_writeNowTicket = 0;  // asks for a write now (flush, a pass's end), counted
    quint64 m_attemptedTicket = 0; // the last ticket an attempt to write covered
    quint64 m_failedTicket = 0;    // the last ticket an attempt that failed covered
    bool m_writing = false;
    bool m_stopping = false;
    qint64 m_writeCount = 0;
    qint64 m_buildCount = 0;
    qint64 m_failedWrites = 0;
    int m_failuresInRow = 0;
    QString m_lastError;
    std::optional<Clock::time_point> m_lastWriteEnd;   // of the last file written
    std::optional<Clock::time_point> m_lastFailureEnd; // of the last failed attempt
    quint64 m_savesOnDisk = 0;                         // the saves the file on disk holds
    std::optional<QDateTime> m_fileWrittenAt;          // wall time of the file on disk, when this store wrote it
    std::optional<FileStamp> m_vouched;    // the state file as this store last wrote or loaded it
    std::optional<SyncState> m_lastWritten; // the writer's own: what its last write held
    qint64 m_lastWrittenBytes = 0;          // that file's size; under m_mutex
    std::thread m_writer; // last: started once every field above exists
};
