// Watching the export folder and automatic sync: a change on disk leads, after the stream's latency and a short
// debounce, to a rescan merged into the folder list, and after a further wait to one pass of automatic sync.

#include "SyncManager.h"

#include "FolderEntryEdit.h"
#include "GalleryCatalog.h"
#include "SyncLogging.h"
#include "UnicodeNames.h"
#include "platform/FileEventStream.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using unicodenames::canonical;

namespace {

bool hasChangedImages(const SyncFolder &folder)
{
    // A folder whose scan found no images has nothing to send, and nothing is deleted from its gallery: updating
    // it on every pass would only say so again.
    if (folder.imageCount == 0 && folder.cachedLocalFileMeta && folder.cachedLocalFileMeta->isEmpty())
        return false;
    return folder.newFileCount() > 0 || folder.removedFileCount() > 0 || folder.hasModifiedFiles()
           || folder.needsMetadataBaseline();
}

// A folder the full scan found moved keeps its gallery elsewhere: a first sync would upload every image again
// beside it. Moving the gallery waits for the user.
bool isAutoSyncCandidate(const SyncFolder &folder)
{
    return folder.status.is(SyncStatus::Case::notSynced) && !folder.movedFrom;
}

// A synced folder without a pending move: automatic sync updates it when its images changed.
bool isUpdateable(const SyncFolder &folder)
{
    return folder.status.is(SyncStatus::Case::synced) && !folder.movedFrom;
}

QList<bool> pendingChangeAnswers(const QList<SyncFolder> &folders)
{
    QList<bool> answers;
    answers.reserve(folders.size());
    for (const SyncFolder &folder : folders)
        answers.append(hasChangedImages(folder));
    return answers;
}

// A folder with a gallery, or with a run under way that may give it one.
bool isLinked(const SyncFolder &folder)
{
    return folder.status.is(SyncStatus::Case::synced) || folder.status.is(SyncStatus::Case::syncing);
}

bool sameCaches(const SyncFolder &a, const SyncFolder &b)
{
    return a.imageCount == b.imageCount && a.cachedLocalFileMeta == b.cachedLocalFileMeta
           && a.skippedEntries == b.skippedEntries;
}

} // namespace

bool SyncManager::isAutoUpdateCandidate(const SyncFolder &folder)
{
    if (!isUpdateable(folder))
        return false;
    const auto known = m_pendingChangeAnswers.constFind(folder.path);
    if (known != m_pendingChangeAnswers.cend())
        return *known;
    const bool changed = hasChangedImages(folder);
    m_pendingChangeAnswers.insert(folder.path, changed);
    if (!changed)
        m_passWork.remove(folder.path);
    return changed;
}

void SyncManager::notePassWork(const SyncFolder &entry)
{
    if (isAutoSyncCandidate(entry) || (isUpdateable(entry) && m_pendingChangeAnswers.value(entry.path, true)))
        m_passWork.insert(entry.path);
    else
        m_passWork.remove(entry.path);
}

void SyncManager::rebuildPassWork()
{
    // Only added to: an entry that shares its path with an earlier one must not take the earlier one's work away.
    m_passWork.clear();
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        if (isAutoSyncCandidate(folder) || (isUpdateable(folder) && m_pendingChangeAnswers.value(folder.path, true)))
            m_passWork.insert(folder.path);
    }
}

QList<qsizetype> SyncManager::passWorkPlaces()
{
    QList<qsizetype> places;
    places.reserve(m_passWork.size());
    for (auto it = m_passWork.begin(); it != m_passWork.end();) {
        const qsizetype place = folderIndex(*it);
        const SyncFolder *entry = place < 0 ? nullptr : &m_folders.at(place);
        if (entry && (isAutoSyncCandidate(*entry) || isUpdateable(*entry))) {
            places.append(place);
            ++it;
        } else {
            it = m_passWork.erase(it);
        }
    }
    std::sort(places.begin(), places.end());
    return places;
}

void SyncManager::wireWatching()
{
    connect(&m_fsDebounceTimer, &QTimer::timeout, this, &SyncManager::refreshFolders);
    connect(&m_autoSyncTimer, &QTimer::timeout, this, [this] { runAutoSyncTask(); });
    // Long enough for the writer to have written (or let go of) the state the work saved.
    m_heapTrimTimer.setSingleShot(true);
    m_heapTrimTimer.setInterval(2000);
    connect(&m_heapTrimTimer, &QTimer::timeout, this, [this] {
        m_workSinceHeapTrim = 0;
#ifdef __GLIBC__
        QThreadPool::globalInstance()->start([] { malloc_trim(0); });
#endif
    });
}

void SyncManager::trimHeapSoon(qint64 work)
{
    m_workSinceHeapTrim += work;
    if (m_workSinceHeapTrim >= heapTrimWork || m_heapTrimTimer.isActive())
        m_heapTrimTimer.start(); // a later piece of work restarts the wait
}

namespace {

// What reading the folders cost: an entry each, and a stat of each image.
qint64 readingWork(const QList<SyncFolder> &folders)
{
    qint64 work = 0;
    for (const SyncFolder &folder : folders)
        work += 1 + folder.imageCount;
    return work;
}

} // namespace

// True once the stream's watches are in place, so changes from now on are seen.
bool SyncManager::isWatching() const
{
    return m_fsStream && m_watchesReady && m_fsStream->watchCount() > 0;
}

void SyncManager::startWatching()
{
    // A stream already on this folder keeps running: stopping it would drop the batch it is gathering and the
    // refresh waiting to run, and with them changes made while the reconcile ran.
    if (m_fsStream && m_fsStream->isRunning() && !m_watchFolder.isEmpty()
        && m_fsStream->rootPath() == QDir::cleanPath(QFileInfo(m_watchFolder).absoluteFilePath()))
        return;
    stopWatching();
    if (m_watchFolder.isEmpty())
        return;
    auto stream = std::make_unique<FileEventStream>();
    stream->setLatency(m_delays.streamLatency);
    connect(stream.get(), &FileEventStream::changed, this, &SyncManager::fsEventCallback);
    connect(stream.get(), &FileEventStream::ready, this, &SyncManager::watchesReady);
    if (m_beforeWatchWalk)
        stream->setBeforeWalkHook(m_beforeWatchWalk);
    if (!stream->start(m_watchFolder))
        return;
    m_fsStream = std::move(stream);
    m_refreshScope = RefreshScope(); // events of an earlier stream name nothing here; the ready stream reads all
    qCInfo(lcSync, "File watcher started for %s", qUtf8Printable(QFileInfo(m_watchFolder).fileName()));
}

void SyncManager::stopWatching()
{
    if (m_fsStream) {
        m_fsStream->stop();
        m_fsStream.reset();
    }
    m_watchesReady = false;
    m_fsDebounceTimer.stop();
    if (std::exchange(m_scanFollowsWatches, false))
        Q_EMIT watchSetupEnded(); // the waiting scan goes on, and finds out whether its folder is still the one
}

QCoro::Task<void> SyncManager::watchesInPlace()
{
    startWatching();
    if (!m_fsStream || m_watchesReady)
        co_return;
    m_scanFollowsWatches = true;
    co_await qCoro(this, &SyncManager::watchSetupEnded);
}

void SyncManager::watchesReady()
{
    m_watchesReady = true;
    if (std::exchange(m_scanFollowsWatches, false)) {
        // The full scan reads the tree from now on: what changes after it read a folder, an event reports.
        qCDebug(lcSync, "File watcher ready — the full scan reads the export folder");
        Q_EMIT watchSetupEnded();
        return;
    }
    // Nothing saw the tree before this moment: one refresh of everything picks up what changed; from now on the
    // events do.
    qCDebug(lcSync, "File watcher ready — refreshing the whole export folder");
    m_refreshScope = RefreshScope::everything();
    m_fsDebounceTimer.start();
}

// Every batch leads to a rescan: of what it names, or of everything when it cannot say (an overflow, a lost
// watch, the root gone).
void SyncManager::fsEventCallback(const FileChanges &changes)
{
    qCDebug(lcSync, "FSEvent received — scheduling refresh");
    m_refreshScope.add(changes);
    if (m_isReconciling) {
        m_changedDuringReconcile = true;
        m_changesDuringReconcile.add(changes);
    }
    m_fsDebounceTimer.start(); // restarts a pending wait
}

void SyncManager::refreshFolders()
{
    refreshNow();
}

QCoro::Task<void> SyncManager::refreshNow()
{
    if (m_watchFolder.isEmpty())
        co_return;
    RefreshScope scope = std::exchange(m_refreshScope, RefreshScope());
    QStringList unreadable;
    for (const QString &path : std::as_const(m_unreadableFolders)) {
        if (const auto relative = relativeToWatchFolder(path))
            unreadable.append(*relative);
        else
            scope = RefreshScope::everything();
    }
    scope.widenTo(unreadable);
    co_await runRefresh(m_pathChanges.size(), m_watchFolderGeneration, std::move(scope));
}

const SyncFolder *SyncManager::liveFolder(const QString &path) const
{
    const qsizetype index = folderIndex(path);
    return index < 0 ? nullptr : &m_folders.at(index);
}

std::optional<QString> SyncManager::relativeToWatchFolder(const QString &path) const
{
    const QString root = m_watchFolder.endsWith(QLatin1Char('/')) ? m_watchFolder : m_watchFolder + QLatin1Char('/');
    if (!path.startsWith(root))
        return std::nullopt;
    return path.mid(root.size());
}

void SyncManager::notePathChanges(const QList<SyncFolder> &before, const QList<SyncFolder> &after)
{
    if (m_refreshesRunning == 0)
        return;
    const auto paths = [](const QList<SyncFolder> &folders) {
        QSet<QString> set;
        set.reserve(folders.size());
        for (const SyncFolder &folder : folders)
            set.insert(folder.path);
        return set;
    };
    const QSet<QString> beforePaths = paths(before);
    const QSet<QString> afterPaths = paths(after);
    for (const QString &path : beforePaths) {
        if (!afterPaths.contains(path))
            m_pathChanges.append({path, true});
    }
    for (const QString &path : afterPaths) {
        if (!beforePaths.contains(path))
            m_pathChanges.append({path, false});
    }
}

QSet<QString> SyncManager::pathsLeftSince(qsizetype from) const
{
    // A path's first change after `from` says whether it was listed then.
    QHash<QString, bool> listedAtStart;
    for (qsizetype i = from; i < m_pathChanges.size(); ++i)
        listedAtStart.insert(m_pathChanges.at(i).path, m_pathChanges.at(i).left); // keeps the first
    QSet<QString> left;
    for (auto it = listedAtStart.cbegin(); it != listedAtStart.cend(); ++it) {
        if (it.value() && folderIndex(it.key()) < 0)
            left.insert(it.key());
    }
    return left;
}

std::optional<QList<SyncFolder>> SyncManager::coveredEntries(const RefreshScope &scope,
                                                             const QList<SyncFolder> &scanned,
                                                             const QSet<QString> &knownPaths) const
{
    if (scope.isEverything() || !scope.trees().isEmpty())
        return std::nullopt;
    for (const SyncFolder &folder : scanned) {
        if (folderIndex(folder.path) < 0 && !knownPaths.contains(folder.path))
            return std::nullopt; // a new folder may be a moved one: that takes the whole list
    }
    QList<qsizetype> places;
    for (const QString &relative : scope.folders())
        places.append(m_folders.placesOf(relative));
    std::sort(places.begin(), places.end());
    QList<SyncFolder> entries;
    entries.reserve(places.size());
    for (const qsizetype place : std::as_const(places))
        entries.append(m_folders.at(place));
    return entries;
}

QCoro::Task<void> SyncManager::runRefresh(qsizetype changesFrom, quint64 generation, RefreshScope scope)
{
    QPointer<SyncManager> self(this);
    ++m_refreshesRunning;
    const auto trimming = qScopeGuard([self] {
        if (!self)
            return;
        if (--self->m_refreshesRunning == 0)
            self->m_pathChanges.clear();
        self->trimHeapSoon(0);
    });
    try {
        QCoro::Task<TreeScan> scanning = scanForRefresh(scope);
        TreeScan scan = co_await std::move(scanning);
        if (!self || generation != m_watchFolderGeneration)
            co_return; // a scan of a folder that is no longer the export folder
        trimHeapSoon(readingWork(scan.folders));
        if (scope.isEverything()) {
            m_unreadableFolders = scan.unreadable;
        } else {
            // Folders outside the scope were not read again: what was unreadable there still is.
            QStringList unreadable;
            for (const QString &path : std::as_const(m_unreadableFolders)) {
                const auto relative = relativeToWatchFolder(path);
                if (relative && !scope.coversTree(*relative))
                    unreadable.append(path);
            }
            m_unreadableFolders = unreadable + scan.unreadable;
        }
        // The comparison runs off the UI thread, on copies; the UI thread applies what differs. A change of a few
        // folders' images compares those entries alone.
        QSet<QString> knownPaths = pathsLeftSince(changesFrom);
        std::optional<QList<SyncFolder>> covered = coveredEntries(scope, scan.folders, knownPaths);
        if (covered) {
            for (const SyncFolder &folder : std::as_const(scan.folders))
                knownPaths.insert(folder.path);
        }
        RefreshChanges changes;
        if (covered && readingWork(*covered) + readingWork(scan.folders) <= inlineCheckWork) {
            // A few folders' entries: comparing them costs less than a trip to the pool and back.
            changes = refreshChanges(*covered, scan.folders, knownPaths, scope, m_unreadableFolders);
        } else {
            QFuture<RefreshChanges> comparing =
                QtConcurrent::run(refreshChanges, covered ? std::move(*covered) : m_folders.entries(),
                                  std::move(scan.folders), std::move(knownPaths), scope, m_unreadableFolders);
            changes = co_await std::move(comparing);
            if (!self || generation != m_watchFolderGeneration)
                co_return;
        }
        applyRefreshChanges(changes);
        co_return;
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Refresh failed: %s", error.what());
    } catch (...) {
        qCCritical(lcSync, "Refresh failed");
    }
    // A later event names only its own folders: what this refresh was to read waits for the next one.
    if (self && generation == m_watchFolderGeneration)
        m_refreshScope.add(scope);
}

void SyncManager::mergeRefreshedFolders(const QList<SyncFolder> &scanned, const QSet<QString> &knownPaths,
                                        const RefreshScope &scope)
{
    applyRefreshChanges(refreshChanges(m_folders, scanned, knownPaths, scope, m_unreadableFolders));
}

// Works on a copy of the list, so it may run on any thread; only the entries that differ from the scan are named.
SyncManager::RefreshChanges SyncManager::refreshChanges(const QList<SyncFolder> &folders,
                                                        const QList<SyncFolder> &scanned,
                                                        const QSet<QString> &knownPaths, const RefreshScope &scope,
                                                        const QStringList &unreadable)
{
    // An entry the scope does not cover is as the disk has it: a full scan would find it exactly when it holds
    // images and is readable.
    const auto covered = [&scope](const SyncFolder &entry) { return scope.coversFolder(entry.relativePath); };
    QSet<QString> known = knownPaths;
    for (const SyncFolder &folder : folders)
        known.insert(folder.path);

    QHash<QString, const SyncFolder *> scannedByPath;
    for (const SyncFolder &folder : scanned)
        scannedByPath.insert(folder.path, &folder);
    // Synced folders the disk no longer has: a new folder of the same name may be one of them, moved.
    QSet<QString> vanishedSyncedNames;
    for (const SyncFolder &folder : folders) {
        if (!folder.status.is(SyncStatus::Case::synced))
            continue;
        const bool found = covered(folder) ? scannedByPath.contains(folder.path)
                                           : folder.imageCount > 0 && !isBelowAny(folder.path, unreadable);
        if (!found)
            vanishedSyncedNames.insert(canonical(folder.displayName));
    }

    RefreshChanges changes;
    for (const SyncFolder &folder : scanned) {
        if (known.contains(folder.path))
            continue;
        known.insert(folder.path);
        if (vanishedSyncedNames.contains(canonical(folder.displayName))) {
            // A first sync would make a second gallery and upload every image again; the full scan marks the
            // move and leaves it to the user.
            changes.possibleMove = true;
            continue;
        }
        changes.newFolders.append(folder);
    }

    for (const SyncFolder &entry : folders) {
        if (entry.status.is(SyncStatus::Case::removedLocally) || !covered(entry))
            continue;
        const SyncFolder *found = scannedByPath.value(entry.path);
        if (!found && isBelowAny(entry.path, unreadable))
            continue; // unknown, not empty
        if (!found) {
            if (entry.imageCount != 0)
                changes.updates.append({entry.path, 0, LocalFiles(), {}});
            // An emptied folder and a vanished one both leave the scan; only the vanished one has no directory.
            if (isLinked(entry) && !QFileInfo(entry.path).isDir())
                changes.linkedFolderGone = true;
        } else if (!sameCaches(entry, *found)) {
            changes.updates.append({entry.path, found->imageCount, found->cachedLocalFileMeta, found->skippedEntries});
        }
    }
    return changes;
}

void SyncManager::applyRefreshChanges(const RefreshChanges &changes)
{
    // Against the list as it is now: an overlapping refresh or a reconcile may have added a path meanwhile.
    qint64 appended = 0;
    for (const SyncFolder &folder : changes.newFolders) {
        if (folderIndex(folder.path) >= 0)
            continue;
        m_folders.append(folder);
        ++appended;
    }
    if (appended > 0)
        qCInfo(lcSync, "Discovered %lld new folders", appended);

    qint64 updated = 0;
    for (const RefreshChanges::CacheUpdate &update : changes.updates) {
        const qsizetype index = folderIndex(update.path);
        if (index < 0 || m_folders.at(index).status.is(SyncStatus::Case::removedLocally))
            continue;
        const SyncFolder &live = m_folders.at(index);
        if (live.imageCount == update.imageCount && live.cachedLocalFileMeta == update.files
            && live.skippedEntries == update.skipped)
            continue;
        SyncFolder entry = live;
        entry.imageCount = update.imageCount;
        entry.cachedLocalFileMeta = update.files;
        entry.skippedEntries = update.skipped;
        m_folders.edit(index, std::move(entry)); // the records move onto the new cache's names
        ++updated;
    }

    if (appended > 0 || updated > 0) {
        // The running reconcile publishes an older scan over this: it refreshes again when it ends.
        if (m_isReconciling)
            m_changedDuringReconcile = true;
        Q_EMIT foldersChanged();
        scheduleAutoSync();
    }
    if (changes.possibleMove) {
        qCInfo(lcSync, "A new folder may be a moved synced folder — running a full scan and reconcile");
        requestFullScanAndReconcile();
    } else if (changes.linkedFolderGone && QFileInfo(m_watchFolder).isDir()) {
        // Only a full scan takes an entry out of the list: it turns the gallery into a removed folder, or marks the
        // folder moved. With the export folder itself gone it would only keep the state as it is.
        qCInfo(lcSync, "A synced folder is gone from the disk — running a full scan and reconcile");
        requestFullScanAndReconcile();
    }
}

void SyncManager::scheduleAutoSync()
{
    if (m_isAutoSyncing) {
        setNeedsResyncAfterAutoSync(true);
        return;
    }
    m_autoSyncTimer.start(); // a request during the wait restarts it
}

QCoro::Task<void> SyncManager::runAutoSyncTask()
{
    QPointer<SyncManager> self(this);
    setIsAutoSyncing(true);
    const bool whole = std::exchange(m_wholePassDue, false);
    try {
        co_await runAutoSync();
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Automatic sync failed: %s", error.what());
    } catch (...) {
        qCCritical(lcSync, "Automatic sync failed");
    }
    if (!self)
        co_return;
    // The state file is rewritten after a pass over every folder, never for a pass over a few.
    if (whole)
        m_ledger->writeWholeSoon();
    trimHeapSoon(std::exchange(m_passReadingWork, 0));
    setIsAutoSyncing(false);
    if (m_needsResyncAfterAutoSync) {
        setNeedsResyncAfterAutoSync(false);
        scheduleAutoSync();
    }
}

// Comparing a folder's images with its records costs in proportion to its images: each answer is kept until the
// entry changes, and the folders without one (every folder after a reconcile) are checked off the UI thread on
// copies. Each candidate is checked again against the live entry before its update.
QCoro::Task<void> SyncManager::answerPendingChanges()
{
    QPointer<SyncManager> self(this);
    QList<SyncFolder> unchecked;
    for (const qsizetype place : passWorkPlaces()) {
        const SyncFolder &folder = m_folders.at(place);
        if (isUpdateable(folder) && !m_pendingChangeAnswers.contains(folder.path))
            unchecked.append(folder);
    }
    if (unchecked.isEmpty())
        co_return;
    const qint64 work = readingWork(unchecked);
    m_passReadingWork += work;
    QList<bool> answers;
    if (work <= inlineCheckWork) {
        // A few folders (one changed image's): checking them costs less than a trip to the pool and back.
        answers = pendingChangeAnswers(unchecked);
    } else {
        QFuture<QList<bool>> checking = QtConcurrent::run(pendingChangeAnswers, unchecked);
        answers = co_await std::move(checking);
        if (!self)
            co_return;
    }
    for (qsizetype i = 0; i < unchecked.size(); ++i) {
        const qsizetype index = folderIndex(unchecked.at(i).path);
        if (index >= 0 && m_folders.at(index) == unchecked.at(i)) { // not changed while it was checked
            m_pendingChangeAnswers.insert(unchecked.at(i).path, answers.at(i));
            if (!answers.at(i))
                m_passWork.remove(unchecked.at(i).path);
        }
    }
}

QCoro::Task<void> SyncManager::runAutoSync()
{
    if (m_isReconciling) {
        m_changedDuringReconcile = true; // the pass follows the reconcile
        co_return;
    }
    QPointer<SyncManager> self(this);
    // The first syncs of this pass, its retries among them, share one reading of the gallery list.
    const bool ownsGalleryList = !m_passGalleries;
    if (ownsGalleryList)
        m_passGalleries = std::make_shared<GalleryCatalog>();
    const auto dropGalleryList = qScopeGuard([self, list = m_passGalleries, ownsGalleryList] {
        if (ownsGalleryList && self && self->m_passGalleries == list)
            self->m_passGalleries.reset();
    });

    // Only the entries noted as possible work are looked at: the others are synced and match their records, or
    // are no business of a pass.
    QList<SyncFolder> newFolders;
    for (const qsizetype place : passWorkPlaces()) {
        if (isAutoSyncCandidate(m_folders.at(place)))
            newFolders.append(m_folders.at(place));
    }
    for (const SyncFolder &folder : std::as_const(newFolders)) {
        // The user may have started, ignored or removed it while an earlier folder synced.
        const SyncFolder *live = liveFolder(folder.path);
        if (!live || !isAutoSyncCandidate(*live))
            continue;
        qCInfo(lcSync, "Auto-syncing new folder: %s", qUtf8Printable(folder.displayName));
        m_passReadingWork += 1 + live->imageCount;
        co_await syncFolder(*live, RunOrigin::automatic);
        if (!self)
            co_return;
    }

    co_await answerPendingChanges();
    if (!self)
        co_return;
    QList<SyncFolder> changedFolders;
    for (const qsizetype place : passWorkPlaces()) {
        if (isAutoUpdateCandidate(m_folders.at(place)))
            changedFolders.append(m_folders.at(place));
    }
    for (const SyncFolder &folder : std::as_const(changedFolders)) {
        const SyncFolder *live = liveFolder(folder.path);
        if (!live || !isAutoUpdateCandidate(*live))
            continue;
        qCInfo(lcSync, "Auto-updating changed folder: %s", qUtf8Printable(folder.displayName));
        m_passReadingWork += 1 + live->imageCount;
        co_await updateFolder(*live, RunOrigin::automatic);
        if (!self)
            co_return;
    }

    // Failed folders whose wait is over.
    const QList<SyncFolder> due = dueRetries();
    for (const SyncFolder &folder : due) {
        const SyncFolder *live = liveFolder(folder.path);
        if (!live || !live->status.is(SyncStatus::Case::failed) || live->movedFrom)
            continue;
        const auto retry = m_retries.constFind(folder.path);
        if (retry == m_retries.cend())
            continue;
        qCInfo(lcSync, "Retrying failed folder: %s", qUtf8Printable(folder.displayName));
        m_passReadingWork += 1 + live->imageCount;
        if (retry->linked) {
            const SyncStatus linked = *retry->linked;
            setFolderStatus(*this, folder.path, linked);
            co_await updateFolder(*liveFolder(folder.path), RunOrigin::automatic);
        } else {
            co_await syncFolder(*live, RunOrigin::automatic);
        }
        if (!self)
            co_return;
    }

    // The folders this pass ran are answered now, so that the next pass, for one changed image, looks at its own
    // folder alone.
    co_await answerPendingChanges();
}
