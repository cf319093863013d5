// The runs of the first sync and the update as the engine starts them, and their retries: a folder whose run
// failed is tried again by automatic sync after a wait that doubles with every failure in a row, so a passing
// network fault does not leave it unsynced until the next start. A full scan and reconcile that failed is tried
// again after the same waits. A folder that failed because the disk was full is retried as soon as the disk takes
// writes again.

#include "SyncManager.h"

#include "FolderEntryEdit.h"
#include "SyncErrors.h"
#include "SyncLogging.h"
#include "service/Errors.h"

#include <QDateTime>
#include <QPointer>

#include <algorithm>

QCoro::Task<void> SyncManager::syncFolder(SyncFolder folder)
{
    co_await syncFolder(std::move(folder), RunOrigin::user);
}

QCoro::Task<void> SyncManager::updateFolder(SyncFolder folder)
{
    co_await updateFolder(std::move(folder), RunOrigin::user);
}

std::chrono::milliseconds SyncManager::retryDelay(int failures) const
{
    std::chrono::milliseconds delay = m_delays.firstRetry;
    for (int i = 1; i < failures && delay < m_delays.maxRetry; ++i)
        delay *= 2;
    return std::min(delay, m_delays.maxRetry);
}

bool SyncManager::isSettling(const LocalFileMeta &meta) const
{
    if (!meta.mtime || m_delays.settle.count() <= 0)
        return false;
    const double now = m_delays.clock ? m_delays.clock()
                                      : referencedate::fromDateTime(QDateTime::currentDateTimeUtc());
    const double settle = double(m_delays.settle.count()) / 1000.0;
    return std::abs(now - *meta.mtime) < settle;
}

void SyncManager::noteRunEnded(const QString &path, const std::optional<SyncStatus> &linked)
{
    const QString &key = path;
    const std::optional<SyncFolder> live = liveFolderEntry(*this, path);
    if (!live || !live->status.is(SyncStatus::Case::failed)) {
        m_retries.remove(key);
        armRetryTimer();
        return;
    }
    RetryState &retry = m_retries[key];
    ++retry.failures;
    if (linked)
        retry.linked = linked;
    const std::chrono::milliseconds delay = retryDelay(retry.failures);
    retry.due = std::chrono::steady_clock::now() + delay;
    qCInfo(lcSync, "Will retry %s in %lld s", qUtf8Printable(live->displayName),
           qint64(std::chrono::duration_cast<std::chrono::seconds>(delay).count()));
    armRetryTimer();
}

void SyncManager::armRetryTimer()
{
    if (m_retries.isEmpty()) {
        m_retryTimer.stop();
        return;
    }
    auto earliest = std::chrono::steady_clock::time_point::max();
    for (const RetryState &retry : std::as_const(m_retries))
        earliest = std::min(earliest, retry.due);
    using std::chrono::milliseconds;
    const auto wait = std::chrono::duration_cast<milliseconds>(earliest - std::chrono::steady_clock::now());
    m_retryTimer.start(std::max(wait, milliseconds(0)));
}

QList<SyncFolder> SyncManager::dueRetries()
{
    // In list order; only the folders that wait for a retry are looked at.
    const auto now = std::chrono::steady_clock::now();
    QList<qsizetype> places;
    for (auto retry = m_retries.cbegin(); retry != m_retries.cend(); ++retry) {
        const qsizetype place = folderIndex(retry.key());
        if (place < 0 || retry->due > now)
            continue;
        const SyncFolder &folder = m_folders.at(place);
        if (folder.status.is(SyncStatus::Case::failed) && !folder.movedFrom)
            places.append(place);
    }
    std::sort(places.begin(), places.end());
    QList<SyncFolder> due;
    due.reserve(places.size());
    for (const qsizetype place : std::as_const(places))
        due.append(m_folders.at(place));
    return due;
}

void SyncManager::retryFoldersFailedForTheDisk()
{
    const QString unsaved = SyncManagerError::unsaved().localizedDescription();
    const auto now = std::chrono::steady_clock::now();
    bool brought = false;
    for (auto it = m_retries.begin(); it != m_retries.end(); ++it) {
        const SyncFolder *live = liveFolder(it.key());
        if (!live || !live->status.is(SyncStatus::Case::failed) || live->status.failureMessage() != unsaved
            || it->due <= now)
            continue;
        it->due = now;
        brought = true;
    }
    if (!brought)
        return;
    qCInfo(lcSync, "Retrying the folders that failed for the disk");
    armRetryTimer();
}

bool SyncManager::galleryNotFound(const QString &path, const QString &galleryId)
{
    const std::pair<QString, QString> key(path, galleryId);
    if (m_galleriesNotFound.contains(key))
        return false;
    const bool unlinked = editRunningEntry(*this, path, [](SyncFolder &entry) {
        entry.status = SyncStatus::notSynced();
        entry.uploadedFiles.reset();
    });
    if (!unlinked)
        return false;
    m_galleriesNotFound.insert(key);
    m_retries.remove(path); // a retry would restore the link to the gallery that is gone
    armRetryTimer();
    qCInfo(lcSync, "The gallery of %s is gone from the service — running a full scan and reconcile",
           qUtf8Printable(liveFolder(path)->displayName));
    saveState();
    requestFullScanAndReconcile();
    return true;
}

bool SyncManager::retryBookmarkNow()
{
    return m_bookmarkWrites.retryNow().isEmpty();
}

void SyncManager::scheduleReconcileRetry(const std::exception *error)
{
    // A refused sign-in stays refused; signing in again runs a full scan of its own.
    const auto *api = dynamic_cast<const APIError *>(error);
    if (api && api->errorCase() == APIError::Case::unauthorized) {
        m_reconcileRetryTimer.stop();
        return;
    }
    const std::chrono::milliseconds delay = retryDelay(++m_reconcileFailures);
    qCInfo(lcSync, "Will retry the full scan and reconcile in %lld s",
           qint64(std::chrono::duration_cast<std::chrono::seconds>(delay).count()));
    m_reconcileRetryTimer.start(delay);
}

void SyncManager::reconcileSucceeded()
{
    m_reconcileFailures = 0;
    m_reconcileRetryTimer.stop();
    setReconcileError(std::nullopt); // a retry kept it shown while it ran
    retryUnreachedFoldersNow();
}

void SyncManager::retryUnreachedFoldersNow()
{
    // The service answered: a folder that failed only because it could not be reached would otherwise go on
    // saying so until its own wait is over, up to an hour.
    const auto now = std::chrono::steady_clock::now();
    bool any = false;
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        if (!folder.status.is(SyncStatus::Case::failed) || folder.status.failureMessage() != noContactText())
            continue;
        const auto retry = m_retries.find(folder.path);
        if (retry == m_retries.end() || retry->due <= now)
            continue;
        retry->due = now;
        any = true;
    }
    if (any)
        armRetryTimer();
}

void SyncManager::retryReconcile()
{
    if (m_isReconciling || m_watchFolder.isEmpty())
        return; // a run under way arms the next retry itself when it fails
    qCInfo(lcSync, "Retrying the full scan and reconcile");
    m_retryingReconcile = true;
    runFullScanAndReconcile();
}
