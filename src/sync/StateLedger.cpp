#include "StateLedger.h"

#include "SyncErrors.h"
#include "SyncLogging.h"
#include "platform/DiskRecovery.h"
#include "service/Json.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace statefiles;

// ---- the ledger

namespace {

enum class Read { absent, read, unreadable };

Read readFile(const QString &path, QByteArray *bytes, QString *reason)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return Read::absent;
        *reason = systemText(errno);
        return Read::unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = S_ISDIR(st.st_mode) ? QStringLiteral("a folder stands in its place")
                                      : QStringLiteral("it is not a regular file");
        return Read::unreadable;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return Read::unreadable;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return Read::unreadable;
    }
    return Read::read;
}

// Adds the names the other place noted for the same gallery.
void uniteReplacements(QMap<QString, UploadInFlight> &into, const QMap<QString, UploadInFlight> &other)
{
    for (auto it = other.cbegin(); it != other.cend(); ++it) {
        const auto found = into.find(it.key());
        if (found == into.end()) {
            into.insert(it.key(), it.value());
            continue;
        }
        if (found->galleryId != it->galleryId)
            continue;
        for (const QString &name : it->fileNames) {
            if (!found->fileNames.contains(name))
                found->fileNames.append(name);
        }
    }
}

std::chrono::milliseconds retryAfter(int failures)
{
    std::chrono::milliseconds wait = StateLedger::firstRetry;
    for (int i = 1; i < failures && wait < StateLedger::maxRetry; ++i)
        wait *= 2;
    return std::min(wait, StateLedger::maxRetry);
}

} // namespace

StateLedger::StateLedger(const QString &supportDirectory, qint64 compactionFloor)
    : m_logPath(supportDirectory + QLatin1Char('/') + logFileName)
    , m_journalPath(supportDirectory + QLatin1Char('/') + UploadJournal::fileName)
    , m_compactionFloor(compactionFloor)
    , m_snapshot(supportDirectory + QLatin1Char('/') + stateFileName)
{
}

StateLedger::~StateLedger()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    if (m_logFd >= 0)
        ::close(m_logFd);
}

StateLedger::Loaded StateLedger::load()
{
    Loaded loaded;
    const std::optional<SyncState> snapshot = m_snapshot.load();
    // An older copy or nothing stands in for the snapshot: records uploaded since may be missing.
    loaded.runsLost = m_snapshot.loadedDamaged();
    LedgerState state = snapshot ? LedgerState::of(*snapshot) : LedgerState();
    // The snapshot that stood for a damaged file is written at once; one of an older version at the next flush.
    m_logNeedsRewrite = loaded.runsLost;
    m_snapshotDue = !snapshot || !snapshot->uploadsInFlight.isEmpty() || snapshot->version != SyncState::currentVersion;
    m_holdsLoaded = snapshot.has_value();
    // An older version may have left them readable by others, or not even writable by their owner.
    for (const QString &path : {stateFilePath(), m_logPath, m_journalPath}) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(path);
        if (::lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) != 0600)
            ::chmod(native.constData(), 0600);
    }
    const std::optional<qint64> snapshotGeneration = snapshot ? snapshot->generation : std::nullopt;
    m_generation = snapshotGeneration.value_or(0);
    const auto damaged = [&](const QString &reason) {
        qCCritical(lcSync, "Failed to load state log: %s", qUtf8Printable(reason));
        loaded.runsLost = true;
        m_logNeedsRewrite = true;
    };

    QByteArray bytes;
    QString reason;
    const Read log = readFile(m_logPath, &bytes, &reason);
    // A log of an earlier generation than the snapshot (a kill between a whole write's snapshot and its log)
    // holds nothing newer than the snapshot but the runs under way then.
    const std::optional<qint64> logGeneration = log == Read::read ? ledgerlog::generationOf(bytes) : std::nullopt;
    const bool olderLog = log == Read::read && snapshotGeneration && !m_snapshot.loadedDamaged()
                          && (!logGeneration || *logGeneration < *snapshotGeneration);
    m_generation = std::max(m_generation, logGeneration.value_or(0));
    if (!snapshot && !m_snapshot.loadedDamaged() && logGeneration.value_or(0) > 0) {
        // The log continues a snapshot that is gone.
        qCCritical(lcSync, "Failed to load state: the file is missing");
        loaded.runsLost = true;
        m_logNeedsRewrite = true;
    }
    if (log == Read::absent && snapshotGeneration) {
        // This version writes a log beside every snapshot it numbers.
        damaged(QStringLiteral("the file is missing"));
    } else if (log == Read::unreadable) {
        damaged(reason);
        keepAside(m_logPath, "state log");
    } else if (olderLog) {
        qCWarning(lcSync, "The state log is older than the state file: keeping only the runs it notes");
        ledgerlog::Replay replay = ledgerlog::replay(bytes, LedgerState());
        state.entries = std::move(replay.state.entries);
        m_logNeedsRewrite = true;
        if (replay.end == ledgerlog::Replay::End::damaged) {
            keepCopy(m_logPath, "state log");
            damaged(replay.reason);
        }
    } else if (log == Read::read) {
        ledgerlog::Replay replay = ledgerlog::replay(bytes, std::move(state));
        state = std::move(replay.state);
        m_logSize = replay.goodBytes;
        m_logDirty = replay.lines > 1;
        if (replay.end == ledgerlog::Replay::End::damaged) {
            keepCopy(m_logPath, "state log");
            damaged(replay.reason);
        } else if (replay.end == ledgerlog::Replay::End::cut) {
            // The trace of a kill: that batch was never reported on disk, so nothing acted on it.
            qCInfo(lcSync, "The state log ends in a batch that was not finished (%s)", qUtf8Printable(replay.reason));
            if (::truncate(QFile::encodeName(m_logPath).constData(), replay.goodBytes) != 0)
                m_logNeedsRewrite = true;
        }
    }

    UploadJournalEntries journal;
    QSet<QString> journalIgnored;
    const Read journalRead = readFile(m_journalPath, &bytes, &reason);
    if (journalRead == Read::read) {
        try {
            journal = decodeUploadJournal(bytes, &journalIgnored);
        } catch (const SyncDecodingError &error) {
            reason = bytes.isEmpty() ? QStringLiteral("the file is empty") : QString::fromUtf8(error.what());
            qCCritical(lcSync, "Failed to load upload runs: %s", qUtf8Printable(reason));
            keepAside(m_journalPath, "upload runs");
            // Without a log (a file of an older version) the runs were only there.
            loaded.runsLost = loaded.runsLost || log == Read::absent;
        }
    } else if (journalRead == Read::unreadable) {
        qCCritical(lcSync, "Failed to load upload runs: %s", qUtf8Printable(reason));
        keepAside(m_journalPath, "upload runs");
        loaded.runsLost = loaded.runsLost || log == Read::absent;
    }
    if (log == Read::absent) {
        for (auto it = journal.runs.cbegin(); it != journal.runs.cend(); ++it)
            state.entries.runs.insert(it.key(), it.value());
    }
    uniteReplacements(state.entries.replacements, journal.replacements);
    m_journaled.replacements = journal.replacements;
    // The second place of the ignored folders: one damaged file must not publish a folder the user keeps off.
    state.ignoredPaths.unite(journalIgnored);
    m_journaledIgnored = journalIgnored;
    // The mark stays on disk until a reconcile succeeds: a damaged file is written whole at the first write,
    // with it.
    state.entries.runsLost = state.entries.runsLost || loaded.runsLost;
    loaded.runsLost = state.entries.runsLost;

    if (log == Read::read && !m_logNeedsRewrite) {
        m_logFd = ::open(QFile::encodeName(m_logPath).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_logFd < 0)
            m_logNeedsRewrite = true; // replaced by the first write
    }
    if (snapshot || log == Read::read)
        loaded.state = state.toSyncState();
    loaded.entries = state.entries;
    m_logged = std::move(state);
    m_writer = std::thread([this] { run(); });
    return loaded;
}

StateLedger::Ticket StateLedger::save(const StateSources &sources)
{
    StateHandover handover = m_maker.make(sources);
    Ticket ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        ticket = ++m_saves;
        if (m_pending) {
            m_pending->handover.merge(std::move(handover));
            m_pending->ticket = ticket;
        } else {
            m_pending = Pending{std::move(handover), ticket, Clock::now()};
        }
    }
    m_wake.notify_all();
    return ticket;
}

StateLedger::Ticket StateLedger::latestTicket() const
{
    std::lock_guard lock(m_mutex);
    return m_saves;
}

bool StateLedger::isOnDisk(Ticket ticket) const
{
    std::lock_guard lock(m_mutex);
    return ticket <= m_onDisk;
}

QFuture<bool> StateLedger::whenOnDisk(Ticket ticket)
{
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    QFuture<bool> future = promise->future();
    std::lock_guard lock(m_mutex);
    // While the disk refuses, the answer is no at once; the writer still tries again by itself.
    if (ticket <= m_onDisk || ticket <= m_failedUpTo || m_failuresInRow > 0) {
        promise->addResult(ticket <= m_onDisk);
        promise->finish();
    } else {
        m_waiting.append({ticket, promise});
        m_wake.notify_all(); // a save gathering more is written now
    }
    return future;
}

void StateLedger::retryNow()
{
    {
        std::lock_guard lock(m_mutex);
        m_retryAsked = true;
    }
    m_wake.notify_all();
}

void StateLedger::writeWholeSoon()
{
    {
        std::lock_guard lock(m_mutex);
        m_wholeAsked = true;
    }
    m_wake.notify_all();
}

StateLedger::Phase StateLedger::phase() const
{
    std::lock_guard lock(m_mutex);
    return m_phase;
}

StateLedger::Figures StateLedger::figures() const
{
    std::lock_guard lock(m_mutex);
    return m_figures;
}

void StateLedger::setCompactionHook(std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_compactionHook = std::move(hook);
}

std::optional<SyncStateStore::Unwritten> StateLedger::flush()
{
    std::unique_lock lock(m_mutex);
    if (!m_writer.joinable())
        return std::nullopt;
    const Ticket ticket = m_saves;
    m_flushAsked = true;
    m_wake.notify_all();
    m_settled.wait(lock, [this] { return !m_flushAsked; });
    if (ticket <= m_onDisk && m_failuresInRow == 0)
        return std::nullopt;
    return SyncStateStore::Unwritten{m_lastError, qint64(m_saves - m_onDisk), m_writtenAt};
}

void StateLedger::settle(Ticket ticket, bool ok)
{
    if (ok)
        m_onDisk = std::max(m_onDisk, ticket);
    else
        m_failedUpTo = std::max(m_failedUpTo, ticket);
    for (qsizetype i = 0; i < m_waiting.size();) {
        if (m_waiting.at(i).first > ticket) {
            ++i;
            continue;
        }
        const std::shared_ptr<QPromise<bool>> promise = m_waiting.takeAt(i).second;
        promise->addResult(ok);
        promise->finish();
    }
}

void StateLedger::run()
{
    bool failed = false; // the last write failed: it is tried again
    Ticket failedTicket = 0;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock,
                    [&] { return m_stopping || m_flushAsked || m_retryAsked || m_wholeAsked || m_pending || failed; });
        if (m_failuresInRow > 0 && !m_stopping && !m_flushAsked && !m_retryAsked) {
            const Clock::time_point due = m_lastFailure + retryAfter(m_failuresInRow);
            if (Clock::now() < due) {
                m_phase = Phase::waitingToRetry;
                m_wake.wait_until(lock, due);
                continue;
            }
        }
        // Nobody waits for the saves held: more may join them before the disk is touched.
        const auto urgent = [&] {
            return m_stopping || m_flushAsked || m_retryAsked || m_wholeAsked || failed || !m_waiting.isEmpty();
        };
        if (m_pending && !urgent()) {
            m_phase = Phase::idle;
            m_wake.wait_until(lock, m_pending->since + gatherWindow, urgent);
        }
        m_retryAsked = false;
        const bool stopping = m_stopping;
        const bool flushing = m_flushAsked || stopping; // the end writes the state whole, as a flush does
        const bool whole = flushing || std::exchange(m_wholeAsked, false);
        std::optional<Pending> job = std::move(m_pending);
        m_pending.reset();
        if (!job && !failed && !whole) {
            if (m_stopping)
                break;
            m_phase = Phase::idle;
            continue;
        }
        const Ticket ticket = job ? job->ticket : failed ? failedTicket : m_onDisk;
        m_phase = Phase::appending;
        lock.unlock();

        QString error;
        bool ok = true;
        try {
            if (job) {
                const bool shared = m_intake.absorb(std::move(job->handover), m_logged, m_unlogged);
                job.reset(); // lets go of what it shares, before the disk is touched
                // The engine's records took the place of those read at start; the store lets go of its copy of
                // them too, once: while the log adds nothing, the snapshot is the state logged.
                if (shared && m_holdsLoaded && !m_logDirty && !m_snapshotDue) {
                    m_holdsLoaded = false;
                    m_snapshot.adoptEqual(m_logged.toSyncState());
                }
            }
            ok = write(ticket, whole, &error);
        } catch (const std::exception &e) {
            ok = false;
            error = QString::fromLocal8Bit(e.what());
        }
        failed = false;

        lock.lock();
        if (ok) {
            if (m_failuresInRow > 0) {
                qCInfo(lcSync, "State written after %d failed attempts", m_failuresInRow);
                DiskRecovery::noteWriteSucceededAfterFailure();
            }
            m_failuresInRow = 0;
            m_writtenAt = QDateTime::currentDateTime();
        } else {
            qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(error));
            ++m_failuresInRow;
            ++m_figures.failures;
            m_lastFailure = Clock::now();
            m_lastError = error;
            failed = true;
            failedTicket = ticket;
        }
        settle(ticket, ok);
        if (flushing)
            m_flushAsked = false;
        m_phase = Phase::idle;
        m_settled.notify_all();
        if (stopping && !m_pending) {
            if (!ok) {
                const SyncStateStore::Unwritten unwritten{error, qint64(m_saves - m_onDisk), m_writtenAt};
                qCCritical(lcSync, "State not written at exit: %s", qUtf8Printable(unwritten.describe()));
            }
            break;
        }
    }
    m_phase = Phase::stopped;
    for (const auto &[ticket, promise] : std::as_const(m_waiting)) {
        promise->addResult(false);
        promise->finish();
    }
    m_waiting.clear();
    m_settled.notify_all();
}

LedgerState StateLedger::target() const
{
    LedgerState state = m_logged;
    m_unlogged.applyTo(state);
    return state;
}

bool StateLedger::write(Ticket ticket, bool compactNow, QString *error)
{
    // The second place for the replacements, before the line that lets a deletion go out.
    const UploadJournalEntries &entries = m_unlogged.entries ? *m_unlogged.entries : m_logged.entries;
    const QSet<QString> &ignored = m_unlogged.ignoredPaths ? *m_unlogged.ignoredPaths : m_logged.ignoredPaths;
    if ((entries.replacements != m_journaled.replacements || ignored != m_journaledIgnored)
        && !writeJournal(entries, ignored, error))
        return false;
    const auto writeAll = [&] {
        if (!compact(target(), ticket, true, error))
            return false;
        m_unlogged = {};
        return true;
    };
    if (m_logNeedsRewrite)
        return writeAll();
    // Lines appended to a file that no longer stands at the log's name would reach no start.
    if (m_logFd >= 0 && !m_unlogged.isEmpty() && !logIsAtItsPath()) {
        qCWarning(lcSync, "The state log was replaced from outside: writing the state whole");
        return writeAll();
    }
    // No log yet (a first start, or the files of an older version): a header over the snapshot on disk starts one.
    if (m_logFd < 0 && !compact(m_logged, ticket, false, error))
        return false;
    if (!m_unlogged.isEmpty()) {
        const QByteArray body = ledgerlog::batch(m_logged, m_unlogged, ticket);
        if (!body.isEmpty() && !append(body, error)) {
            qCWarning(lcSync, "Could not append to the state log (%s): writing the state whole",
                      qUtf8Printable(*error));
            return writeAll();
        }
        m_unlogged.applyTo(m_logged);
        m_unlogged = {};
    }
    const qint64 share = std::max(m_compactionFloor, m_snapshot.lastWrittenBytes() / 2);
    if (m_logSize > share || (compactNow && (m_logDirty || m_snapshotDue))) {
        QString compactionError;
        if (!compact(m_logged, ticket, true, &compactionError))
            qCCritical(lcSync, "Failed to write the state whole: %s", qUtf8Printable(compactionError));
    }
    return true;
}

bool StateLedger::logIsAtItsPath() const
{
    struct stat open {};
    struct stat named {};
    return ::fstat(m_logFd, &open) == 0 && ::stat(QFile::encodeName(m_logPath).constData(), &named) == 0
           && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool StateLedger::append(const QByteArray &json, QString *error)
{
    // The line in its parts: a framed copy of a batch of every folder's records would double the writer's peak.
    const QByteArray head = ledgerlog::frameHead(json);
    const std::array<QByteArrayView, 3> parts{QByteArrayView(head), QByteArrayView(json), QByteArrayView("\n")};
    bool ok = true;
    int failure = 0;
    qint64 lineSize = 0;
    for (const QByteArrayView part : parts) {
        for (qsizetype done = 0; ok && done < part.size();) {
            const ssize_t n = ::write(m_logFd, part.data() + done, size_t(part.size() - done));
            if (n < 0 && errno != EINTR) {
                ok = false;
                failure = errno;
            }
            done += std::max<ssize_t>(n, 0);
        }
        lineSize += part.size();
    }
    if (ok && ::fdatasync(m_logFd) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        *error = systemText(failure);
        // A part of a line followed by later lines would read as damage.
        if (::ftruncate(m_logFd, m_logSize) != 0)
            m_logNeedsRewrite = true;
        return false;
    }
    m_logSize += lineSize;
    m_logDirty = true;
    std::lock_guard lock(m_mutex);
    m_figures.logBytes += lineSize;
    ++m_figures.appends;
    return true;
}

bool StateLedger::compact(const LedgerState &state, Ticket ticket, bool withSnapshot, QString *error)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(m_mutex);
        m_phase = Phase::compacting;
        hook = m_compactionHook;
    }
    // A new snapshot starts a new generation; the log names the one it continues.
    qint64 generation = m_generation;
    if (withSnapshot) {
        SyncState snapshot = state.toSyncState();
        snapshot.generation = m_generation + 1;
        const SyncStateStore::WriteOutcome outcome = m_snapshot.write(snapshot, error);
        if (outcome == SyncStateStore::WriteOutcome::failed)
            return false;
        m_snapshotDue = false;
        if (outcome == SyncStateStore::WriteOutcome::written) {
            std::lock_guard lock(m_mutex);
            m_figures.snapshotBytes += m_snapshot.lastWrittenBytes();
        }
        generation = m_snapshot.generation().value_or(m_generation + 1);
        m_generation = std::max(m_generation, generation);
    }
    if (withSnapshot && hook)
        hook();
    const QByteArray line = ledgerlog::frame(ledgerlog::header(state, ticket, generation));
    const QString temp = m_logPath + QStringLiteral(".tmp");
    if (!writeNewFile(temp, line, error))
        return false;
    if (!renameOver(temp, m_logPath, error)) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    if (!syncFolderOf(m_logPath, error))
        qCWarning(lcSync, "Could not sync the support folder: %s", qUtf8Printable(*error));
    if (m_logFd >= 0)
        ::close(m_logFd);
    m_logFd = ::open(QFile::encodeName(m_logPath).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    m_logSize = line.size();
    m_logDirty = false;
    m_logNeedsRewrite = m_logFd < 0;
    m_logged = state;
    std::lock_guard lock(m_mutex);
    m_figures.snapshotBytes += line.size();
    ++m_figures.compactions;
    return true;
}

bool StateLedger::writeJournal(const UploadJournalEntries &entries, const QSet<QString> &ignoredPaths,
                               QString *error)
{
    // Replaced by a rename, also where the file stands unwritable or something else stands in its place.
    UploadJournalEntries kept;
    kept.replacements = entries.replacements;
    const QByteArray bytes = encodeUploadJournal(kept, ignoredPaths);
    const QString temp = m_journalPath + QStringLiteral(".tmp");
    if (!writeNewFile(temp, bytes, error))
        return false;
    if (!renameOver(temp, m_journalPath, error)) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    m_journaled = kept;
    m_journaledIgnored = ignoredPaths;
    std::lock_guard lock(m_mutex);
    m_figures.journalBytes += bytes.size();
    return true;
}
