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
#include <QtConcurrent/QtConcurrentRun>

using unicodenames::canonical;

namespace {

const QString removedPathPrefix = QStringLiteral("__removed__/");

QList<SyncFolder> scanWithMoves(const QString &exportFolder, const QSet<QString> &ignoredPaths,
                                const QList<SyncFolder> &previous)
{
    QList<SyncFolder> scanned = FolderScanner::scanFolderTree(exportFolder, ignoredPaths);
    FolderScanner::detectMovedFolders(scanned, previous);
    return scanned;
}

QList<SyncFolder> scanTree(const QString &exportFolder, const QSet<QString> &ignoredPaths)
{
    return FolderScanner::scanFolderTree(exportFolder, ignoredPaths);
}

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

// B's names in B's order, each taking the size and time of A's first record of that name: the service decides
// which files count as uploaded, the stored records keep what was measured at upload.
QList<UploadedFileMeta> mergeRecords(const QList<UploadedFileMeta> &stored, const QList<UploadedFileMeta> &names)
{
    QHash<QString, const UploadedFileMeta *> byName;
    for (const UploadedFileMeta &record : stored) {
        const QString key = canonical(record.fileName);
        if (!byName.contains(key))
            byName.insert(key, &record);
    }
    QList<UploadedFileMeta> result = names;
    for (UploadedFileMeta &record : result) {
        if (const UploadedFileMeta *found = byName.value(canonical(record.fileName)))
            record = *found;
    }
    return result;
}

SyncFolder removedPlaceholder(const SyncStateGallery &gallery)
{
    SyncFolder folder;
    folder.path = removedPathPrefix + gallery.id;
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

bool isNoContactError(const TransportError &error)
{
    if (error.isTimeout())
        return true;
    switch (error.code()) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // nothing cancels this request but its time-out
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return true;
    default:
        return false;
    }
}

} // namespace

QString SyncManager::reconcileErrorMessage(const std::exception *error)
{
    const auto *transport = dynamic_cast<const TransportError *>(error);
    if (transport && isNoContactError(*transport))
        return noContactText();
    return QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt");
}

QString SyncManager::noContactText()
{
    return QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
}

QString SyncManager::noExportFolderAccessText()
{
    return QStringLiteral("Får ikke tilgang til eksportmappen");
}

QCoro::Task<QList<SyncFolder>> SyncManager::scanForFullReconcile()
{
    // Copies taken here, on the UI thread: the worker sees the state as it was when the scan started.
    co_return co_await QtConcurrent::run(scanWithMoves, m_watchFolder, m_ignoredPaths, m_folders);
}

QCoro::Task<QList<SyncFolder>> SyncManager::scanForRefresh()
{
    co_return co_await QtConcurrent::run(scanTree, m_watchFolder, m_ignoredPaths);
}

QCoro::Task<void> SyncManager::fullScanAndReconcile()
{
    if (m_watchFolder.isEmpty() || m_isReconciling)
        co_return;
    if (!isReadableFolder(m_watchFolder)) {
        // An unmounted disk looks like a folder without galleries: acting on it would mark every gallery removed
        // and lose the records. Show the problem instead of checking forever.
        qCCritical(lcSync, "Cannot access watch folder — keeping existing state");
        setReconcileError(noExportFolderAccessText());
        setHasCompletedInitialReconcile(true);
        co_return;
    }

    qCInfo(lcSync, "Full scan+reconcile starting");
    setIsReconciling(true);
    setReconcileError(std::nullopt);
    m_reconcileAgain = false;

    QPointer<SyncManager> self(this);
    try {
        co_await scanAndReconcile(m_watchFolderGeneration);
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Full scan+reconcile failed: %s", error.what());
    } catch (...) {
        qCCritical(lcSync, "Full scan+reconcile failed");
    }
    if (!self)
        co_return;
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
    QList<SyncFolder> scanned = co_await scanForFullReconcile();
    if (!self)
        co_return;
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
    if (state) {
        reconcileWithServer(std::move(scanned), *state);
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
        galleriesByTitle[canonical(gallery.title)].append(&gallery);
        galleryById.insert(gallery.id, &gallery);
    }

    QSet<QString> usedGalleryIds;
    qint64 matchedCount = 0;
    for (SyncFolder &folder : scannedFolders) {
        if (folder.status.is(SyncStatus::Case::ignored) || galleriesByTitle.isEmpty())
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
            for (const SyncStateGallery *candidate : std::as_const(candidates)) {
                if (candidate->folderId == parentId) {
                    match = candidate;
                    break;
                }
            }
        }
        // A repeated id takes the names of its last entry.
        const SyncStateGallery *names = galleryById.value(match->id);
        folder.status = SyncStatus::synced(match->id, match->slug, match->imageCount);
        // Names deleted on the web count as uploaded, so an image still on disk is never sent again.
        folder.uploadedFiles = recordsForNames(names->fileNames + names->deletedFileNames);
        ++matchedCount;
        usedGalleryIds.insert(match->id);
    }

    QSet<QString> known = m_knownGalleryIds;
    for (const SyncStateGallery &gallery : state.galleries) {
        if (gallery.folderId)
            known.insert(gallery.id);
    }
    known.unite(usedGalleryIds);
    QList<SyncFolder> result = std::move(scannedFolders);
    qint64 placeholderCount = 0;
    for (const SyncStateGallery &gallery : state.galleries) {
        if (known.contains(gallery.id) && !usedGalleryIds.contains(gallery.id)) {
            result.append(removedPlaceholder(gallery));
            ++placeholderCount;
        }
    }
    setKnownGalleryIds(known);
    qCInfo(lcSync, "Reconcile done: matched %lld of %lld folders, %lld removed locally", matchedCount,
           qint64(result.size()), placeholderCount);

    // The list of this moment, with whatever first syncs and actions changed while the run waited.
    QHash<QString, const SyncFolder *> keptWork;
    QHash<QString, const SyncFolder *> previousByPath;
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        const QString key = canonical(folder.path);
        previousByPath.insert(key, &folder);
        if (folder.status.is(SyncStatus::Case::syncing) || folder.status.is(SyncStatus::Case::failed))
            keptWork.insert(key, &folder);
        else
            keptWork.remove(key);
    }
    QHash<QString, const QList<UploadedFileMeta> *> pending;
    for (auto it = m_pendingFolderUploads.cbegin(); it != m_pendingFolderUploads.cend(); ++it)
        pending.insert(canonical(it.key()), &it.value());

    for (SyncFolder &folder : result) {
        const QString key = canonical(folder.path);
        if (const SyncFolder *kept = keptWork.value(key)) {
            folder.status = kept->status;
            folder.uploadedFiles = kept->uploadedFiles;
        } else if (folder.uploadedFiles) {
            const SyncFolder *previous = previousByPath.value(key);
            if (previous && previous->uploadedFiles)
                folder.uploadedFiles = mergeRecords(*previous->uploadedFiles, *folder.uploadedFiles);
            else if (const QList<UploadedFileMeta> *stored = pending.value(key))
                folder.uploadedFiles = mergeRecords(*stored, *folder.uploadedFiles);
        }
    }

    setFolders(result);
    setPendingFolderUploads({});
    saveState();
    setHasCompletedInitialReconcile(true);
    setIsReconciling(false);
    startWatching();

    const bool hasWork = std::any_of(m_folders.cbegin(), m_folders.cend(), [](const SyncFolder &folder) {
        if (folder.status.is(SyncStatus::Case::notSynced))
            return true;
        return folder.status.is(SyncStatus::Case::synced) && !folder.movedFrom
               && (folder.newFileCount() > 0 || folder.removedFileCount() > 0 || folder.hasModifiedFiles()
                   || folder.needsMetadataBaseline());
    });
    if (hasWork)
        scheduleAutoSync();
}

// The service could not be asked: keep the local picture with what the previous list knew, link nothing.
void SyncManager::reconcileFailed(const std::exception *error, QList<SyncFolder> scanned)
{
    setReconcileError(reconcileErrorMessage(error));

    QHash<QString, const SyncFolder *> previousByPath;
    for (const SyncFolder &folder : std::as_const(m_folders))
        previousByPath.insert(canonical(folder.path), &folder);
    QHash<QString, const QList<UploadedFileMeta> *> pending;
    for (auto it = m_pendingFolderUploads.cbegin(); it != m_pendingFolderUploads.cend(); ++it)
        pending.insert(canonical(it.key()), &it.value());

    for (SyncFolder &folder : scanned) {
        const QString key = canonical(folder.path);
        if (const SyncFolder *previous = previousByPath.value(key)) {
            folder.status = previous->status;
            folder.uploadedFiles = previous->uploadedFiles;
            folder.movedFrom = previous->movedFrom;
        } else if (const QList<UploadedFileMeta> *stored = pending.value(key)) {
            folder.uploadedFiles = *stored;
        }
    }
    setFolders(scanned);
    setHasCompletedInitialReconcile(true);
    setIsReconciling(false);
    startWatching();
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
