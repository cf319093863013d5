// The full scan and reconcile: scans the export folder, links every local folder to its gallery on the service,
// makes placeholders for galleries whose folder is gone, and carries over what the previous list knew.

#include "SyncManager.h"

#include "SyncLogging.h"
#include "UnicodeNames.h"
#include "service/Errors.h"
#include "service/VarnostimaAPI.h"

#include <QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

using unicodenames::canonical;

namespace {

SyncManager::TreeScan scanWithMoves(const QString &exportFolder, const QSet<QString> &ignoredPaths,
                                    const QList<SyncFolder> &previous)
{
    SyncManager::TreeScan scan;
    scan.folders = FolderScanner::scanFolderTree(exportFolder, ignoredPaths, &scan.unreadable);
    FolderScanner::detectMovedFolders(scan.folders, previous);
    return scan;
}

SyncManager::TreeScan scanTree(const QString &exportFolder, const QSet<QString> &ignoredPaths,
                               const RefreshScope &scope)
{
    SyncManager::TreeScan scan;
    scan.folders = FolderScanner::scanScope(exportFolder, scope, ignoredPaths, &scan.unreadable);
    return scan;
}

// Ids ordered so that a choice among equals never depends on the order the service listed them in.
bool idLess(const QString &a, const QString &b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

QSet<QString> canonicalNames(const QList<UploadedFileMeta> &records)
{
    QSet<QString> names;
    for (const UploadedFileMeta &record : records)
        names.insert(canonical(record.fileName));
    return names;
}

// What this app knew before a reconcile, by path: the live list's folders, and the state file's records
// still waiting for their folder. Points into both; they must outlive it unchanged.
struct KnownFolders {
    KnownFolders(const QList<SyncFolder> &folders, const PendingFolderUploads &pendingUploads)
    {
        for (const SyncFolder &folder : folders) {
            previousByPath.insert(folder.path, &folder);
            if (folder.status.is(SyncStatus::Case::synced))
                previousByPlace.insert(folder.relativePath, &folder);
        }
        for (auto it = pendingUploads.cbegin(); it != pendingUploads.cend(); ++it)
            pending.insert(it.key(), &it.value());
    }

    // The folder's entry before this run: at its path, or for a folder just found moved, at the place it left
    // while the folder is linked to the gallery it had there (or not linked yet). A move keeps the sizes and times
    // recorded for its images: without them it would wait for a baseline the user never asked for.
    const SyncFolder *previousOf(const SyncFolder &folder) const
    {
        if (const SyncFolder *previous = previousByPath.value(folder.path))
            return previous;
        const SyncFolder *left = folder.movedFrom ? previousByPlace.value(*folder.movedFrom) : nullptr;
        if (!left || (folder.status.is(SyncStatus::Case::synced)
                      && folder.status.galleryId() != left->status.galleryId()))
            return nullptr;
        return left;
    }

    QHash<QString, const SyncFolder *> previousByPath;
    QHash<QString, const SyncFolder *> previousByPlace; // synced folders by relative path
    QHash<QString, const UploadRecords *> pending;
};

bool isReadableFolder(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isDir() && info.isReadable();
}

// Records for the names, in the order given, one per name under canonical equivalence.
QList<UploadedFileMeta> recordsForNames(const QStringList &names)
{
    QList<UploadedFileMeta> result;
    QSet<QString> seen;
    for (const QString &name : names) {
        if (seen.contains(canonical(name)))
            continue;
        seen.insert(canonical(name));
        result.append(UploadedFileMeta{name, 0, std::nullopt});
    }
    return result;
}

// B's names, each taking the size and time of A's first record of that name: the service decides which files
// count as uploaded, the stored records keep what was measured at upload, and their order.
QList<UploadedFileMeta> mergeRecords(const QList<UploadedFileMeta> &stored, const QList<UploadedFileMeta> &names)
{
    QHash<QString, qsizetype> placeOf; // canonical name -> its first stored record
    placeOf.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const QString key = canonical(stored.at(i).fileName);
        if (!placeOf.contains(key))
            placeOf.insert(key, i);
    }
    // In the stored order, the names only the service lists after them: a start that changed nothing changes no
    // record, and writes none.
    QList<std::pair<qsizetype, const UploadedFileMeta *>> placed;
    placed.reserve(names.size());
    for (const UploadedFileMeta &record : names) {
        const auto found = placeOf.constFind(canonical(record.fileName));
        placed.append(found != placeOf.cend() ? std::pair(*found, &stored.at(*found))
                                              : std::pair(stored.size(), &record));
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<UploadedFileMeta> result;
    result.reserve(placed.size());
    for (const auto &[place, record] : std::as_const(placed))
        result.append(*record);
    return result == stored ? stored : result;
}

SyncFolder removedPlaceholder(const SyncStateGallery &gallery)
{
    SyncFolder folder;
    folder.path = SyncFolder::placeholderPath(gallery.id);
    folder.name = gallery.title;
    folder.displayName = gallery.title;
    folder.relativePath = gallery.title;
    folder.imageCount = gallery.imageCount;
    folder.status = SyncStatus::removedLocally(gallery.id, gallery.slug);
    return folder;
}

// The server folder that stands for a local folder's parent path, or nothing.
std::optional<QString> resolveParentFolderId(const QStringList &parentComponents,
                                             const QList<SyncStateFolder> &serverFolders)
{
    if (parentComponents.isEmpty())
        return std::nullopt;
    std::optional<QString> parent;
    for (const QString &component : parentComponents) {
        const QString name = canonical(unicodenames::displayName(component));
        const SyncStateFolder *match = nullptr;
        for (const SyncStateFolder &folder : serverFolders) {
            if (folder.parentId == parent && canonical(folder.name) == name) {
                match = &folder;
                break;
            }
        }
        if (!match)
            return std::nullopt;
        parent = match->id;
    }
    return parent;
}

// A folder automatic sync would act on: a new one, or a synced one without a pending move whose images changed.
bool hasAutoSyncWork(const QList<SyncFolder> &folders)
{
    return std::any_of(folders.cbegin(), folders.cend(), [](const SyncFolder &folder) {
        if (folder.status.is(SyncStatus::Case::notSynced))
            return true;
        return folder.status.is(SyncStatus::Case::synced) && !folder.movedFrom
               && (folder.newFileCount() > 0 || folder.removedFileCount() > 0 || folder.hasModifiedFiles()
                   || folder.needsMetadataBaseline());
    });
}

} // namespace

bool SyncManager::isBelowAny(const QString &path, const QStringList &directories)
{
    for (const QString &dir : directories) {
        if (path == dir || path.startsWith(dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/')))
            return true;
    }
    return false;
}

QString SyncManager::reconcileErrorMessage(const std::exception *error)
{
    if (error && isNoContact(*error))
        return noContactText();
    return usertext::tryAgainLater();
}

QString SyncManager::noContactText()
{
    return usertext::noContact();
}

QString SyncManager::noExportFolderAccessText()
{
    return QStringLiteral("Får ikke tilgang til eksportmappen");
}

QCoro::Task<SyncManager::TreeScan> SyncManager::scanForFullReconcile()
{
    // Copies taken here, on the UI thread: the worker sees the state as it was when the scan started.
    co_return co_await QtConcurrent::run(scanWithMoves, m_watchFolder, m_ignoredPaths, m_folders.entries());
}

QCoro::Task<SyncManager::TreeScan> SyncManager::scanForRefresh(RefreshScope scope)
{
    co_return co_await QtConcurrent::run(scanTree, m_watchFolder, m_ignoredPaths, std::move(scope));
}

QCoro::Task<void> SyncManager::fullScanAndReconcile()
{
    const bool retrying = std::exchange(m_retryingReconcile, false);
    if (m_watchFolder.isEmpty() || m_isReconciling)
        co_return;
    m_reconcileRetryTimer.stop(); // this run decides whether another is needed
    if (!isReadableFolder(m_watchFolder)) {
        // An unmounted disk looks like a folder without galleries: acting on it would mark every gallery removed
        // and lose the records. Show the problem instead of checking forever.
        qCCritical(lcSync, "Cannot access watch folder — keeping existing state");
        setReconcileError(noExportFolderAccessText());
        setHasCompletedInitialReconcile(true);
        scheduleReconcileRetry(nullptr);
        co_return;
    }

    qCInfo(lcSync, "Full scan+reconcile starting");
    setIsReconciling(true);
    // A retry that nobody asked for leaves the error as it is until it knows better: the banner would otherwise
    // vanish for as long as an unanswered request waits.
    if (!retrying)
        setReconcileError(std::nullopt);
    m_reconcileAgain = false;
    m_changedDuringReconcile = false;
    m_changesDuringReconcile = RefreshScope();

    QPointer<SyncManager> self(this);
    bool failed = false;
    try {
        co_await scanAndReconcile(m_watchFolderGeneration);
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Full scan+reconcile failed: %s", error.what());
        failed = true;
    } catch (...) {
        qCCritical(lcSync, "Full scan+reconcile failed");
        failed = true;
    }
    if (!self)
        co_return;
    if (failed)
        scheduleReconcileRetry(nullptr);
    setIsReconciling(false);
    if (m_reconcileAgain) {
        m_reconcileAgain = false;
        runFullScanAndReconcile();
    }
}

void SyncManager::requestFullScanAndReconcile()
{
    if (m_isReconciling)
        m_reconcileAgain = true; // the running one may have scanned before the change
    else
        runFullScanAndReconcile();
}

QCoro::Task<void> SyncManager::scanAndReconcile(quint64 generation)
{
    QPointer<SyncManager> self(this);
    const auto trimming = qScopeGuard([self] {
        if (self)
            self->trimHeapSoon(heapTrimWork); // the whole tree and the service's lists
    });
    // The watches go in before the tree is read: whatever changes after the scan read a folder, an event reports,
    // so the scan is the only walk of the tree a start makes.
    co_await watchesInPlace();
    if (!self)
        co_return;
    TreeScan scan = co_await scanForFullReconcile();
    if (!self)
        co_return;
    QList<SyncFolder> scanned = std::move(scan.folders);
    if (generation != m_watchFolderGeneration) {
        // The new folder's own start found this run busy.
        qCInfo(lcSync, "The watch folder changed during the scan — discarding its result");
        m_reconcileAgain = true;
        co_return;
    }
    qCInfo(lcSync, "Scan done — %lld folders found", qint64(scanned.size()));

    std::optional<SyncStateResponse> state;
    std::exception_ptr failure;
    try {
        state = co_await m_api->getSyncState();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (generation != m_watchFolderGeneration) {
        qCInfo(lcSync, "The watch folder changed during the reconcile — discarding its result");
        m_reconcileAgain = true;
        co_return;
    }
    m_unreadableFolders = scan.unreadable;
    if (state) {
        reconcileSucceeded();
        reconcileWithServer(std::move(scanned), *state);
        // Whether there is work walks every folder's images: a worker answers on a copy of the list. A change
        // made meanwhile asks for its own pass.
        QFuture<bool> checking = QtConcurrent::run(hasAutoSyncWork, m_folders.entries());
        const bool hasWork = co_await std::move(checking);
        if (self && generation == m_watchFolderGeneration) {
            if (hasWork) {
                m_wholePassDue = true; // the pass after a reconcile goes over every folder
                scheduleAutoSync();
            } else {
                m_ledger->writeWholeSoon(); // the reconcile was the pass over every folder
            }
        }
        co_return;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Reconcile failed: %s", error.what());
        reconcileFailed(&error, std::move(scanned));
    } catch (...) {
        qCCritical(lcSync, "Reconcile failed: unknown error");
        reconcileFailed(nullptr, std::move(scanned));
    }
}

void SyncManager::reconcileWithServer(QList<SyncFolder> scannedFolders, const SyncStateResponse &state)
{
    qCInfo(lcSync, "Reconcile: fetched %lld galleries + %lld folders from server", qint64(state.galleries.size()),
           qint64(state.folders.size()));

    QHash<QString, QList<const SyncStateGallery *>> galleriesByTitle;
    QHash<QString, const SyncStateGallery *> galleryById;
    for (const SyncStateGallery &gallery : state.galleries) {
        if (m_deletedGalleryIds.contains(gallery.id))
            continue; // deleted by this app while the answer was on its way
        galleriesByTitle[canonical(gallery.title)].append(&gallery);
        galleryById.insert(gallery.id, &gallery);
    }

    const KnownFolders before(m_folders, m_pendingFolderUploads);
    const auto &pending = before.pending;
    // What this app recorded for a folder: the live list's records, else those waiting from the state file.
    const auto recordedNames = [&](const SyncFolder &folder) {
        const SyncFolder *previous = before.previousOf(folder);
        if (previous && previous->uploadedFiles)
            return canonicalNames(*previous->uploadedFiles);
        const UploadRecords *stored = pending.value(folder.path);
        return stored ? canonicalNames(*stored) : QSet<QString>();
    };

    // Folders that could not be read stay as they were, with their galleries. After a start only their records
    // are known: no gallery of their title is linked elsewhere or offered for deletion.
    QSet<QString> usedGalleryIds;
    QList<SyncFolder> kept;
    keepUnreadable(kept, m_unreadableFolders, &usedGalleryIds);
    for (auto it = m_pendingFolderUploads.cbegin(); it != m_pendingFolderUploads.cend(); ++it) {
        if (!isBelowAny(it.key(), m_unreadableFolders))
            continue;
        const QString title = unicodenames::displayName(it.key().section(QLatin1Char('/'), -1));
        for (const SyncStateGallery *gallery : galleriesByTitle.value(canonical(title)))
            usedGalleryIds.insert(gallery->id);
    }

    qint64 matchedCount = 0;
    const auto link = [&](SyncFolder &folder, const SyncStateGallery &match) {
        // A repeated id takes the names of its last entry.
        const SyncStateGallery *names = galleryById.value(match.id);
        folder.status = SyncStatus::synced(match.id, match.slug, match.imageCount);
        // Records only for names this app saw in the folder: on disk now, or recorded before. A name known only
        // from the service is never deleted by an update, and one deleted on the web and gone from the disk
        // stays out of the pending removals. A name deleted on the web that is still on disk keeps its record,
        // so it is never sent again.
        QSet<QString> seen = recordedNames(folder);
        if (folder.cachedLocalFileMeta) {
            for (qsizetype i = 0; i < folder.cachedLocalFileMeta->size(); ++i)
                seen.insert(canonical(folder.cachedLocalFileMeta->nameAt(i).toString()));
        }
        // A name listed as deleted because this app deleted its old version to replace it is not the user's
        // deletion: left unrecorded, the image is new, and the replacement is finished.
        const QSet<QString> replaced = replacedNames(folder.path, match.id);
        QStringList recorded;
        for (const QString &name : names->fileNames) {
            if (seen.contains(canonical(name)))
                recorded.append(name);
        }
        for (const QString &name : names->deletedFileNames) {
            if (seen.contains(canonical(name)) && !replaced.contains(canonical(name)))
                recorded.append(name);
        }
        folder.uploadedFiles = recordsForNames(recorded);
        ++matchedCount;
        usedGalleryIds.insert(match.id);
    };

    // A folder linked to a gallery keeps it while the service lists that id, whatever its title now and however
    // many galleries share it: a rename on the web, or a look-alike, must not move a folder to another gallery.
    for (SyncFolder &folder : scannedFolders) {
        if (folder.status.is(SyncStatus::Case::ignored))
            continue;
        const SyncFolder *previous = before.previousByPath.value(folder.path);
        std::optional<QString> linkedId;
        if (previous && previous->status.is(SyncStatus::Case::synced))
            linkedId = previous->status.galleryId();
        else if (const auto retry = m_retries.constFind(folder.path); retry != m_retries.cend() && retry->linked)
            linkedId = retry->linked->galleryId();
        else if (const QString stored = storedGalleryId(folder.path); !stored.isEmpty())
            linkedId = stored; // the link as saved before a restart
        else if (const std::optional<UploadInFlight> run = uploadInFlight(folder.path))
            linkedId = run->galleryId; // a first sync killed before it could record its gallery
        const SyncStateGallery *gallery = linkedId ? galleryById.value(*linkedId) : nullptr;
        if (gallery && !usedGalleryIds.contains(gallery->id))
            link(folder, *gallery);
    }

    // The others by title. Among several candidates: the one holding most of the names recorded for the folder,
    // then the one in the server folder of the folder's parent path, then the lowest id.
    for (SyncFolder &folder : scannedFolders) {
        if (folder.status.is(SyncStatus::Case::ignored) || folder.uploadedFiles)
            continue;
        const auto titled = galleriesByTitle.constFind(canonical(folder.displayName));
        if (titled == galleriesByTitle.cend())
            continue;
        QList<const SyncStateGallery *> candidates;
        for (const SyncStateGallery *gallery : *titled) {
            if (!usedGalleryIds.contains(gallery->id))
                candidates.append(gallery);
        }
        if (candidates.isEmpty())
            continue;
        const SyncStateGallery *match = candidates.first();
        if (candidates.size() > 1) {
            const std::optional<QString> parentId = resolveParentFolderId(folder.parentComponents, state.folders);
            const QSet<QString> recorded = recordedNames(folder);
            const auto rank = [&](const SyncStateGallery *gallery) {
                qint64 overlap = 0;
                for (const QString &name : galleryById.value(gallery->id)->fileNames)
                    overlap += recorded.contains(canonical(name)) ? 1 : 0;
                return std::pair(overlap, gallery->folderId == parentId ? 1 : 0);
            };
            for (const SyncStateGallery *candidate : std::as_const(candidates)) {
                const auto a = rank(candidate);
                const auto b = rank(match);
                if (a > b || (a == b && idLess(candidate->id, match->id)))
                    match = candidate;
            }
        }
        link(folder, *match);
    }

    // A moved folder that found no gallery has none to move: it is a new folder.
    for (SyncFolder &folder : scannedFolders) {
        if (folder.movedFrom && folder.status.is(SyncStatus::Case::notSynced)) {
            qCInfo(lcSync, "No gallery left for moved folder %s — treating it as new",
                   qUtf8Printable(folder.relativePath));
            folder.movedFrom.reset();
        }
    }

    // A dismissed gallery that a folder claims again is an ordinary gallery from now on; the dismissal of one the
    // service no longer lists has nothing left to hide.
    QSet<QString> claimed;
    for (const SyncFolder &folder : std::as_const(scannedFolders)) {
        if (folder.status.is(SyncStatus::Case::synced))
            claimed.insert(folder.status.galleryId());
    }
    QSet<QString> dismissed;
    for (const SyncStateGallery &gallery : state.galleries) {
        if (m_dismissedGalleryIds.contains(gallery.id) && !claimed.contains(gallery.id))
            dismissed.insert(gallery.id);
    }
    m_dismissedGalleryIds = dismissed;
    QSet<QString> known = m_knownGalleryIds - dismissed;
    // A gallery a folder of this list was linked to is this app's own, also when its folder went before any
    // reconcile saw the link (a top-level gallery would otherwise vanish without a trace).
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        if (folder.status.is(SyncStatus::Case::synced) && !dismissed.contains(folder.status.galleryId()))
            known.insert(folder.status.galleryId());
    }
    for (const SyncStateGallery &gallery : state.galleries) {
        if (gallery.folderId && !m_deletedGalleryIds.contains(gallery.id) && !dismissed.contains(gallery.id))
            known.insert(gallery.id);
    }
    known.unite(usedGalleryIds);
    QList<SyncFolder> result = std::move(scannedFolders);
    result.append(kept);
    qint64 placeholderCount = 0;
    for (const SyncStateGallery &gallery : state.galleries) {
        if (known.contains(gallery.id) && !usedGalleryIds.contains(gallery.id)
            && !m_deletedGalleryIds.contains(gallery.id)) {
            result.append(removedPlaceholder(gallery));
            ++placeholderCount;
        }
    }
    setKnownGalleryIds(known);
    qCInfo(lcSync, "Reconcile done: matched %lld of %lld folders, %lld removed locally", matchedCount,
           qint64(result.size()), placeholderCount);

    // The list of this moment, with whatever first syncs and actions changed while the run waited.
    QHash<QString, const SyncFolder *> keptWork;
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        const QString &key = folder.path;
        if (folder.status.is(SyncStatus::Case::syncing) || folder.status.is(SyncStatus::Case::failed))
            keptWork.insert(key, &folder);
        else
            keptWork.remove(key);
    }

    for (SyncFolder &folder : result) {
        const QString &key = folder.path;
        if (const SyncFolder *kept = keptWork.value(key)) {
            folder.status = kept->status;
            folder.uploadedFiles = kept->uploadedFiles;
        } else if (folder.uploadedFiles) {
            const SyncFolder *previous = before.previousOf(folder);
            if (previous && previous->uploadedFiles)
                folder.uploadedFiles = mergeRecords(*previous->uploadedFiles, *folder.uploadedFiles);
            else if (const UploadRecords *stored = pending.value(key))
                folder.uploadedFiles = mergeRecords(*stored, *folder.uploadedFiles);
        }
    }

    // Records built from the listing that leave local images new may only mean that the listing predates a
    // confirmation: the gallery is asked before they are uploaded. Runs in flight of folders gone are dropped.
    QSet<QString> listed;
    QSet<QString> synced;
    for (const SyncFolder &folder : std::as_const(result)) {
        listed.insert(folder.path);
        if (folder.status.is(SyncStatus::Case::synced))
            synced.insert(folder.path);
        if (!keptWork.contains(folder.path) && folder.status.is(SyncStatus::Case::synced) && folder.uploadedFiles
            && folder.newFileCount() > 0)
            m_runBook.checkGallery(folder.path);
    }
    // A run under way keeps its replacements: this answer may predate its deletion.
    const QList<QString> busyPaths = keptWork.keys();
    m_runBook.afterReconcile(listed, QSet<QString>(busyPaths.cbegin(), busyPaths.cend()), synced,
                             [&galleryById](const QString &id) -> const QStringList * {
                                 const SyncStateGallery *gallery = galleryById.value(id);
                                 return gallery ? &gallery->fileNames : nullptr;
                             });

    // Records of folders that could not be read wait for a later run.
    PendingFolderUploads unread;
    for (auto it = m_pendingFolderUploads.cbegin(); it != m_pendingFolderUploads.cend(); ++it) {
        if (isBelowAny(it.key(), m_unreadableFolders))
            unread.insert(it.key(), it.value());
    }
    setFolders(result);
    setPendingFolderUploads(unread);
    saveState();
    setHasCompletedInitialReconcile(true);
    setIsReconciling(false);
    finishReconcile();
}

// The service could not be asked: keep the local picture with what the previous list knew, link nothing.
void SyncManager::reconcileFailed(const std::exception *error, QList<SyncFolder> scanned)
{
    setReconcileError(reconcileErrorMessage(error));
    scheduleReconcileRetry(error);

    const KnownFolders before(m_folders, m_pendingFolderUploads);
    const auto &previousByPath = before.previousByPath;
    const auto &pending = before.pending;

    for (SyncFolder &folder : scanned) {
        const QString &key = folder.path;
        if (const SyncFolder *previous = previousByPath.value(key)) {
            folder.status = previous->status;
            folder.uploadedFiles = previous->uploadedFiles;
            folder.movedFrom = previous->movedFrom;
        } else if (const UploadRecords *stored = pending.value(key)) {
            folder.uploadedFiles = *stored;
        }
    }
    keepUnreadable(scanned, m_unreadableFolders, nullptr);
    setFolders(scanned);
    setHasCompletedInitialReconcile(true);
    setIsReconciling(false);
    finishReconcile();
}

void SyncManager::finishReconcile()
{
    startWatching();
    if (!m_changedDuringReconcile)
        return;
    // The reconcile's scan may be older than a change seen while it ran: look again, and sync what differs.
    m_changedDuringReconcile = false;
    qCInfo(lcSync, "Changes arrived during the reconcile — refreshing");
    // What the events named went into the list the reconcile replaced: read it again. A change no event named
    // (a pass that had to stand back) reads everything.
    const RefreshScope named = std::exchange(m_changesDuringReconcile, RefreshScope());
    m_refreshScope.add(named.isEmpty() ? RefreshScope::everything() : named);
    m_fsDebounceTimer.start();
    scheduleAutoSync();
}

void SyncManager::keepUnreadable(QList<SyncFolder> &result, const QStringList &unreadable,
                                 QSet<QString> *claimedGalleryIds) const
{
    if (unreadable.isEmpty())
        return;
    QSet<QString> listed;
    for (const SyncFolder &folder : std::as_const(result))
        listed.insert(folder.path);
    for (const SyncFolder &folder : m_folders) {
        if (folder.status.is(SyncStatus::Case::removedLocally) || !isBelowAny(folder.path, unreadable)
            || listed.contains(folder.path))
            continue;
        qCWarning(lcSync, "Cannot read %s — keeping its entry and records as they were",
                  qUtf8Printable(folder.relativePath));
        result.append(folder);
        listed.insert(folder.path);
        if (claimedGalleryIds && folder.status.is(SyncStatus::Case::synced))
            claimedGalleryIds->insert(folder.status.galleryId());
    }
    for (auto it = m_pendingFolderUploads.cbegin(); it != m_pendingFolderUploads.cend(); ++it) {
        if (isBelowAny(it.key(), unreadable))
            qCWarning(lcSync, "Cannot read %s — keeping its records for a later scan", qUtf8Printable(it.key()));
    }
}

QCoro::Task<void> SyncManager::runFullScanAndReconcile()
{
    QPointer<SyncManager> self(this);
    try {
        co_await fullScanAndReconcile();
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Full scan failed: %s", error.what());
        if (self)
            setIsReconciling(false);
    } catch (...) {
        qCCritical(lcSync, "Full scan failed");
        if (self)
            setIsReconciling(false);
    }
}
