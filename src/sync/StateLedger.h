#pragma once

// What the engine keeps on disk, and the one writer that puts it there. Three files in the support folder:
//   "sync-state.json"  the snapshot (SyncStateStore.h): rewritten whole, but only now and then;
//   "sync-state.log"   every change since the snapshot, one line per batch, appended and synced at once. Each line
//                      carries its own CRC: a cut last line is the trace of a kill (its batch was never reported on
//                      disk); a bad line followed by good ones is damage;
//   "upload-runs.json" the replacements under way once more, rewritten whenever they change: no single damaged
//                      file loses an image whose old version was deleted.
// A line holds absolute values per key (folder P's records := ..., link P removed, run P ended, ...), so any prefix
// of the log replayed in order over a snapshot taken at or after part of it gives the state as of that prefix.
//
// save() hands over shared copies of the engine's lists and returns a ticket; the writer diffs them against what it
// logged last and appends the difference. Saves that arrive while a line is being written go into the next one.
// whenOnDisk(ticket) says when everything saved up to the ticket is on disk: the engine awaits it before any
// request that acts on what the service told it.
//
// Once the log has grown past half the snapshot (and at least the floor), and at a flush, the writer writes a new
// snapshot, then replaces the log with one header line (the runs and replacements); a kill between the two leaves
// the new snapshot and the old log, whose replay gives the same state.

#include "SyncStateStore.h"
#include "UploadJournal.h"

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QLatin1StringView>
#include <QList>
#include <QMap>
#include <QPromise>
#include <QSet>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

using PendingFolderUploads = QHash<QString, UploadRecords>;

// What a save writes, as shared copies of the engine's containers taken at the save.
struct StateSources {
    QString watchFolder;
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    QSet<QString> dismissedGalleryIds;
    QList<SyncFolder> folders;
    PendingFolderUploads pendingUploads;
    QHash<QString, QString> galleryLinks;
    UploadJournalEntries entries; // the runs in flight and the replacements under way

    SyncState build() const;
};

// The state by key, as the log changes it and a replay rebuilds it.
struct LedgerState {
    std::optional<QString> watchFolder;
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    QSet<QString> dismissedGalleryIds;
    QHash<QString, UploadRecords> records;
    QHash<QString, QString> links;
    UploadJournalEntries entries;

    static LedgerState of(const SyncState &state);
    SyncState toSyncState() const; // records by path order; runs and replacements left out
    bool operator==(const LedgerState &) const = default;
};

namespace ledgerlog {
// The line that turns `from` into `to`; empty when they are equal.
QByteArray batch(const LedgerState &from, const LedgerState &to, quint64 seq);
// The line a new log starts with: the runs and replacements, replacing whatever came before.
QByteArray header(const LedgerState &state, quint64 seq);
// "<crc32 as 8 hex digits> <json>\n"
QByteArray frame(const QByteArray &json);

struct Replay {
    enum class End { clean, cut, damaged };
    LedgerState state;
    End end = End::clean;
    qint64 goodBytes = 0; // the length of the lines replayed
    int lines = 0;
    QString reason;       // of a cut or damage
};
// Applies the log's lines over the state in order; stops at the first line that is cut or fails its check.
Replay replay(const QByteArray &log, LedgerState state);
} // namespace ledgerlog

class StateLedger
{
public:
    using Ticket = quint64;
    static constexpr QLatin1StringView stateFileName{"sync-state.json"};
    static constexpr QLatin1StringView logFileName{"sync-state.log"};
    static constexpr qint64 defaultCompactionFloor = 1 << 20;
    static constexpr std::chrono::milliseconds firstRetry{1000};
    static constexpr std::chrono::milliseconds maxRetry{60000};

    // Where the writer is.
    enum class Phase { idle, appending, compacting, waitingToRetry, stopped };

    explicit StateLedger(const QString &supportDirectory, qint64 compactionFloor = defaultCompactionFloor);
    ~StateLedger(); // appends what is held, once; logs what it could not write

    StateLedger(const StateLedger &) = delete;
    StateLedger &operator=(const StateLedger &) = delete;

    const QString &stateFilePath() const { return m_snapshot.filePath(); }
    const QString &logFilePath() const { return m_logPath; }
    const QString &journalFilePath() const { return m_journalPath; }

    struct Loaded {
        std::optional<SyncState> state; // nothing when neither the snapshot nor the log was there
        UploadJournalEntries entries;
        bool runsLost = false; // what was under way is unknown: every synced folder asks its gallery first
    };
    // Once, before the first save. Damaged files are moved aside as ".damaged-<time>" and logged. Never throws.
    Loaded load();

    Ticket save(StateSources sources);
    Ticket latestTicket() const;
    bool isOnDisk(Ticket ticket) const;
    // True once everything saved up to the ticket is on disk; false when the attempt that carried it failed (the
    // writer keeps trying by itself, 1 s doubling to 60 s).
    QFuture<bool> whenOnDisk(Ticket ticket);
    // Tries a failed write again now (the disk is back).
    void retryNow();

    // Writes what is held and, when the log holds anything, a new snapshot; blocks until done or failed. For the
    // end of the process and for tests. Nothing when everything saved is on disk.
    std::optional<SyncStateStore::Unwritten> flush();

    Phase phase() const;
    struct Figures {
        qint64 logBytes = 0;      // appended to the log
        qint64 snapshotBytes = 0; // written as snapshots and log headers
        qint64 journalBytes = 0;  // written to "upload-runs.json"
        qint64 appends = 0;
        qint64 compactions = 0;
        qint64 failures = 0;
    };
    Figures figures() const;
    // Test seam: runs on the writer's thread between the new snapshot and the new log.
    void setCompactionHook(std::function<void()> hook);

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        StateSources sources;
        Ticket ticket = 0;
    };

    void run();
    bool write(const LedgerState &next, Ticket ticket, bool compactNow, QString *error); // on the writer's thread
    bool append(const QByteArray &line, QString *error);
    // A new log holding only the header; with the snapshot first when the log's lines are not in the one on disk.
    bool compact(const LedgerState &state, Ticket ticket, bool withSnapshot, QString *error);
    bool writeJournal(const UploadJournalEntries &entries, QString *error);
    void settle(Ticket ticket, bool ok); // under m_mutex
    bool isIdle() const;                 // under m_mutex

    const QString m_logPath;
    const QString m_journalPath;
    const qint64 m_compactionFloor;
    SyncStateStore m_snapshot; // the writer's (load() before it starts)

    // The writer's own.
    LedgerState m_logged;          // what the snapshot and the log hold together
    UploadJournalEntries m_journaled; // the replacements "upload-runs.json" holds
    int m_logFd = -1;
    qint64 m_logSize = 0;
    bool m_logNeedsRewrite = false; // damaged or unopenable: the next write compacts
    bool m_logDirty = false;        // the log holds lines beyond its header
    bool m_snapshotDue = false;     // none on disk, or one of an older shape: a flush writes it
    std::function<void()> m_compactionHook;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_settled;
    std::optional<Pending> m_pending;
    Ticket m_saves = 0;
    Ticket m_onDisk = 0;
    Ticket m_failedUpTo = 0;
    Phase m_phase = Phase::idle;
    bool m_flushAsked = false;
    bool m_retryAsked = false;
    bool m_stopping = false;
    int m_failuresInRow = 0;
    Clock::time_point m_lastFailure;
    QString m_lastError;
    std::optional<QDateTime> m_writtenAt; // of the state on disk, when this ledger wrote it
    Figures m_figures;
    QList<std::pair<Ticket, std::shared_ptr<QPromise<bool>>>> m_waiting;
    std::thread m_writer; // last: started by load()
};
