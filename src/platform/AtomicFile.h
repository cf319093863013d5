#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

// Replaces the file at path with bytes, readable and writable by its owner only: written to a temporary file beside
// it, synced to disk and renamed over the old one (a link is followed to its file). Every step is checked (Qt 6.4's
// QSaveFile renames even when its buffered data never reached a full disk), and when any fails the temporary file
// goes and the old file stays exactly as it was. The old file's own mode does not matter, only its folder's: a
// read-only file is replaced, as the state file is. Safe on any thread.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// Small files whose content still matters after a failed write (a full disk): a write that fails is kept and tried
// again after a back-off until it succeeds, unless a newer write or a removal of the same file comes first. Once
// the disk is back (DiskRecovery) the writes waiting are tried at once; a write that succeeds after a failure
// says so there. Lives on the thread that calls it; writes there, at once.
class RetriedFileWrites : public QObject
{
    Q_OBJECT

public:
    // Told of every failed attempt, the first and each retry, for the owner's log.
    using FailureReport = std::function<void(const QString &path, const QString &error)>;

    static constexpr std::chrono::milliseconds firstRetry{5000};
    static constexpr std::chrono::milliseconds longestRetry{300000};

    explicit RetriedFileWrites(FailureReport report, QObject *parent = nullptr,
                               std::chrono::milliseconds firstRetryDelay = firstRetry);

    // Writes now; false when it failed and waits for a retry.
    bool write(const QString &path, const QByteArray &bytes);
    // Drops a write still waiting for its retry (the file is being removed or is no longer wanted).
    void forget(const QString &path);

    // Tries every write waiting for its retry now, without waiting for its back-off; returns the paths still not
    // written (at the end of the process, for the log).
    QStringList retryNow();

    bool hasPending() const { return !m_pending.isEmpty(); }
    // What a write still waiting for its retry holds: the file's content as its owner means it.
    std::optional<QByteArray> pendingBytes(const QString &path) const;

private:
    void retry();
    void scheduleRetry();
    void noteOutcome(bool written);

    struct Pending {
        QByteArray bytes;
    };

    FailureReport m_report;
    const std::chrono::milliseconds m_firstRetry;
    std::chrono::milliseconds m_nextDelay;
    QHash<QString, Pending> m_pending;
    QTimer m_timer;
    bool m_lastFailed = false; // the last attempt, of any file, failed
};
