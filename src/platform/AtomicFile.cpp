#include "AtomicFile.h"

#include "DiskRecovery.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a write of path replaces: a link is followed to the file it names, so the link stays a link.
QString finalTarget(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

// Writes all of bytes to fd and puts them on the disk; errno tells why when it fails.
bool writeAndSync(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return ::fsync(fd) == 0;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    // The old file is never opened: only its folder must be writable, whatever the file's own mode (the owner may
    // have made it read-only, or an older write left it so).
    const QByteArray target = QFile::encodeName(finalTarget(path));
    QByteArray temporary = target + QByteArrayLiteral(".XXXXXX");
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, qt_error_string(errno));
        return false;
    }
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAndSync(fd, bytes);
    int failure = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && ::rename(temporary.constData(), target.constData()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData()); // the old file stays exactly as it was
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, qt_error_string(failure));
    }
    return ok;
}

RetriedFileWrites::RetriedFileWrites(FailureReport report, QObject *parent,
                                     std::chrono::milliseconds firstRetryDelay)
    : QObject(parent)
    , m_report(std::move(report))
    , m_firstRetry(firstRetryDelay)
    , m_nextDelay(firstRetryDelay)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &RetriedFileWrites::retry);
    connect(&DiskRecovery::instance(), &DiskRecovery::diskIsBack, this, &RetriedFileWrites::retryNow);
}

bool RetriedFileWrites::write(const QString &path, const QByteArray &bytes)
{
    QString error;
    if (writeFileAtomically(path, bytes, &error)) {
        m_pending.remove(path);
        noteOutcome(true);
        return true;
    }
    noteOutcome(false);
    if (m_report)
        m_report(path, error);
    m_pending.insert(path, {bytes});
    scheduleRetry();
    return false;
}

void RetriedFileWrites::forget(const QString &path)
{
    m_pending.remove(path);
    if (m_pending.isEmpty()) {
        m_timer.stop();
        m_nextDelay = m_firstRetry;
    }
}

std::optional<QByteArray> RetriedFileWrites::pendingBytes(const QString &path) const
{
    const auto found = m_pending.constFind(path);
    return found == m_pending.cend() ? std::nullopt : std::optional(found->bytes);
}

QStringList RetriedFileWrites::retryNow()
{
    if (!m_pending.isEmpty()) {
        m_timer.stop();
        retry();
    }
    return m_pending.keys();
}

void RetriedFileWrites::noteOutcome(bool written)
{
    if (written && m_lastFailed)
        DiskRecovery::noteWriteSucceededAfterFailure();
    m_lastFailed = !written;
}

void RetriedFileWrites::scheduleRetry()
{
    if (!m_timer.isActive())
        m_timer.start(m_nextDelay);
}

void RetriedFileWrites::retry()
{
    const QHash<QString, Pending> pending = std::exchange(m_pending, {});
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        QString error;
        const bool written = writeFileAtomically(it.key(), it->bytes, &error);
        noteOutcome(written);
        if (written)
            continue;
        if (m_report)
            m_report(it.key(), error);
        // A write made meanwhile by a report callback wins over the one being retried.
        if (!m_pending.contains(it.key()))
            m_pending.insert(it.key(), *it);
    }
    if (m_pending.isEmpty()) {
        m_nextDelay = m_firstRetry;
        return;
    }
    m_nextDelay = std::min(m_nextDelay * 2, longestRetry);
    scheduleRetry();
}
