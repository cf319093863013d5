#include "AtomicFile.h"

#include <QSaveFile>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace {

bool failWith(QSaveFile &file, const QString &path, const QString &reason, QString *error)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, reason);
    file.cancelWriting(); // the temporary file goes with the QSaveFile; the old one is left as it was
    return false;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError)
        return failWith(file, path, file.errorString(), error);
    if (::fsync(file.handle()) != 0)
        return failWith(file, path, qt_error_string(errno), error);
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return failWith(file, path, file.errorString(), error);
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
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
}

bool RetriedFileWrites::write(const QString &path, const QByteArray &bytes)
{
    QString error;
    if (writeFileAtomically(path, bytes, &error)) {
        m_pending.remove(path);
        return true;
    }
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
        if (writeFileAtomically(it.key(), it->bytes, &error))
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
