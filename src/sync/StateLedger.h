#pragma once

// What the engine keeps on disk, and the one writer that puts it there. Three files in the support folder:
//   "sync-state.json"  the snapshot (SyncStateStore.h): rewritten whole, but only now and then;
//   "sync-state.log"   every change since the snapshot, one line per batch, appended and synced at once. Each line
//                      carries its own CRC: a last line without its newline is the trace of a kill (its batch was
//                      never reported on disk); a whole line that fails its check is damage;
//   "upload-runs.json" the replacements under way and the ignored folders once more, rewritten whenever they
//                      change: no single damaged file loses an image whose old version was deleted, or publishes
//                      a folder the user keeps off the service.
// The snapshot and the log that continues it carry one generation number.
// A line holds absolute values per key (folder P's records := ..., link P removed, run P ended, ...), so any prefix
// of the log replayed in order over a snapshot taken at or after part of it gives the state as of that prefix.
//
// save() hands over what changed since the save before it (StateHandover.h) and returns a ticket; the writer
// appends the changes as one line. Saves that arrive while a line is being written go into the next one.
// whenOnDisk(ticket) says when everything saved up to the ticket is on disk: the engine awaits it before any
// request that acts on what the service told it. A save nobody awaits waits up to gatherWindow for more to
// join its line: a pass recording folder after folder would otherwise sync a page of the log per folder. What a
// kill takes from that window was not acted on, and the next pass finds it again.
//
// Once the log has grown past half the snapshot (and at least the floor), at the end of a pass over every folder
// (writeWholeSoon) and at a flush, the writer writes a new snapshot, then replaces the log with one header line
// (the runs and replacements); a kill between the two leaves the new snapshot and a log of an older generation,
// which is not replayed over it: only the runs it notes are kept.

#include "StateHandover.h"

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

class StateLedger
{
public:
    using Ticket = quint64;
    static constexpr QLatin1StringView stateFileName{"sync-state.json"};
    static constexpr QLatin1StringView logFileName{"sync-state.log"};
    static constexpr qint64 defaultCompactionFloor = 1 << 20;
    static constexpr std::chrono::milliseconds gatherWindow{250};
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
    // Once, before the first save. A damaged file is kept as ".damaged-<time>" and logged. Never throws.
    Loaded load();

    // From one thread at a time: it keeps what it handed last, to hand over only what changed.
    Ticket save(const StateSources &sources);
    Ticket latestTicket() const;
    bool isOnDisk(Ticket ticket) const;
    // True once everything saved up to the ticket is on disk; false when the attempt that carried it failed (the
    // writer keeps trying by itself, 1 s doubling to 60 s).
    QFuture<bool> whenOnDisk(Ticket ticket);
    // Tries a failed write again now (the disk is back).
    void retryNow();
    // Writes the state whole soon, when the log holds lines beyond its header: a pass over every folder has ended.
    void writeWholeSoon();

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
        StateHandover handover;
        Ticket ticket = 0;
        Clock::time_point since; // of the first save it holds
    };

    void run();
    bool write(Ticket ticket, bool compactNow, QString *error); // on the writer's thread
    LedgerState target() const;                                 // m_logged with m_unlogged applied
    bool append(const QByteArray &json, QString *error); // as one framed line
    // A new log holding only the header; with the snapshot first when the log's lines are not in the one on disk.
    bool compact(const LedgerState &state, Ticket ticket, bool withSnapshot, QString *error);
    bool writeJournal(const UploadJournalEntries &entries, const QSet<QString> &ignoredPaths, QString *error);
    bool logIsAtItsPath() const; // the open log is still the file at its name
    void settle(Ticket ticket, bool ok); // under m_mutex
    bool isIdle() const;                 // under m_mutex

    const QString m_logPath;
    const QString m_journalPath;
    const qint64 m_compactionFloor;
    SyncStateStore m_snapshot; // the writer's (load() before it starts)

    HandoverMaker m_maker; // the saving thread's

    // The writer's own.
    HandoverIntake m_intake;
    LedgerState m_logged;          // what the snapshot and the log hold together
    ledgerlog::Changes m_unlogged; // what the saves changed beyond it
    UploadJournalEntries m_journaled; // the replacements "upload-runs.json" holds
    QSet<QString> m_journaledIgnored; // and the ignored folders
    qint64 m_generation = 0;          // of the snapshot and log on disk (or the newest of them)
    int m_logFd = -1;
    qint64 m_logSize = 0;
    bool m_logNeedsRewrite = false; // damaged or unopenable: the next write compacts
    bool m_logDirty = false;        // the log holds lines beyond its header
    bool m_snapshotDue = false;     // none on disk, or one of an older shape: a flush writes it
    bool m_holdsLoaded = false;     // the snapshot's records as read at start, until the engine's replace them
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
    bool m_wholeAsked = false;
    bool m_stopping = false;
    int m_failuresInRow = 0;
    Clock::time_point m_lastFailure;
    QString m_lastError;
    std::optional<QDateTime> m_writtenAt; // of the state on disk, when this ledger wrote it
    Figures m_figures;
    QList<std::pair<Ticket, std::shared_ptr<QPromise<bool>>>> m_waiting;
    std::thread m_writer; // last: started by load()
};
