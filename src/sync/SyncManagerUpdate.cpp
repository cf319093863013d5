// The update of a synced folder: the delete phase (images gone from disk), the modification phase (delete the old
// version, upload the new) and the upload phase (new images), then the record of every local image.
//
// Two rules carry it: an image deleted on the web is never uploaded again, and nothing is deleted from a gallery
// while its local folder lists no images.

#include "FolderEntryEdit.h"
#include "IsolatedName.h"
#include "SyncErrors.h"
#include "SyncLogging.h"
#include "SyncManager.h"
#include "UnicodeNames.h"

#include "service/Errors.h"
#include "service/VarnostimaAPI.h"

#include <QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>

using unicodenames::canonical;

namespace {

// The working values of one run; it lives in the frame of the run's coroutine.
struct UpdateRun {
    QPointer<SyncManager> manager;
    QPointer<VarnostimaAPI> api;
    SyncFolder folder; // the caller's copy
    QString galleryId;
    QString gallerySlug;
    QList<GalleryImage> serverImages;
    std::optional<QHash<QString, QString>> idMap; // canonical file name to image id
    QList<UploadedFileMeta> baseline;
    QSet<QString> webDeleted; // canonical names the service reports deleted, as far as this run has asked
    bool askedGallery = false; // the service's images were fetched by this run
};

QSet<QString> canonicalSet(const QSet<QString> &names)
{
    QSet<QString> result;
    for (const QString &name : names)
        result.insert(canonical(name));
    return result;
}

void dropRecordsNamed(QList<UploadedFileMeta> &records, const QSet<QString> &canonicalNames)
{
    records.removeIf([&](const UploadedFileMeta &r) { return canonicalNames.contains(canonical(r.fileName)); });
}

QHash<QString, QString> idMapOf(const QList<GalleryImage> &images)
{
    QHash<QString, QString> map;
    for (const GalleryImage &image : images) {
        const QString key = canonical(image.fileName);
        if (!map.contains(key)) // the first image of a name counts
            map.insert(key, image.id);
    }
    return map;
}

// The names the service lists as deleted that the user deleted on the web: not those whose old version this app
// deleted to replace it, while the new version is still to arrive.
QSet<QString> deletedByUser(const UpdateRun &run, const std::optional<QStringList> &listed)
{
    const QSet<QString> replaced = run.manager->replacedNames(run.folder.path, run.galleryId);
    QSet<QString> names;
    for (const QString &name : listed.value_or(QStringList())) {
        if (!replaced.contains(canonical(name)))
            names.insert(name);
    }
    return names;
}

QCoro::Task<QHash<QString, QString>> fetchServerImageIds(UpdateRun *run)
{
    // Returned as a copy of its own: the run keeps its map for the next lookup.
    if (run->idMap) {
        QHash<QString, QString> kept = *run->idMap;
        co_return kept;
    }
    if (run->serverImages.isEmpty()) {
        const GalleryImagesResponse answer = co_await run->api->getGalleryImages(run->galleryId);
        run->askedGallery = true;
        run->serverImages = answer.images;
        if (!run->manager)
            throw std::runtime_error("the sync engine went away during an update");
        run->webDeleted.unite(canonicalSet(deletedByUser(*run, answer.deletedFileNames)));
    }
    run->idMap = idMapOf(run->serverImages);
    QHash<QString, QString> built = *run->idMap;
    co_return built;
}

// Edits the live entry's records, starting from the run's baseline when the entry has none.
template<typename Edit>
bool editRecords(UpdateRun &run, Edit edit)
{
    return editRunningEntry(*run.manager, run.folder.path, [&](SyncFolder &entry) {
        QList<UploadedFileMeta> records = entry.uploadedFiles.value_or(run.baseline);
        edit(records);
        entry.uploadedFiles = records;
    });
}

bool fail(UpdateRun &run, const QString &message)
{
    return setRunningStatus(*run.manager, run.folder.path, SyncStatus::failed(message));
}

// Why a request of the run failed.
struct RunFailure {
    FailureTexts texts;
    bool galleryNotFound = false; // a 404 for the run's gallery: it was deleted on the web
};

// Inside a catch block only.
RunFailure currentRunFailure()
{
    RunFailure failure{currentFailureTexts()};
    try {
        throw;
    } catch (const APIError &error) {
        // Every request of the run names its gallery: the image list, a deletion, the upload URLs, the confirmation.
        failure.galleryNotFound = error.errorCase() == APIError::Case::serverError && error.statusCode() == 404;
    } catch (...) {
    }
    return failure;
}

// False when the entry was not set failed: it is no longer the run's, or it was unlinked from a gallery gone from
// the service.
bool fail(UpdateRun &run, const RunFailure &failure)
{
    if (failure.galleryNotFound && run.manager->galleryNotFound(run.folder.path, run.galleryId))
        return false;
    return fail(run, failure.texts.shown);
}

void failedToFetch(UpdateRun &run, const RunFailure &failure)
{
    fail(run, failure);
    qCCritical(lcSync, "Failed to fetch server images for %s: %s", qUtf8Printable(run.folder.name),
               qUtf8Printable(failure.texts.logged));
}

QCoro::Task<void> runUpdate(QPointer<SyncManager> manager, SyncFolder folder)
{
    const std::optional<SyncFolder> live = liveFolderEntry(*manager, folder.path);
    if (!live || !live->status.is(SyncStatus::Case::synced))
        co_return;
    const SyncFolder snapshot = *live;
    const QFileInfo folderInfo(snapshot.path);
    if (!folderInfo.exists() || !folderInfo.isDir()) {
        qCCritical(lcSync, "Skipping update for %s — local folder is missing", qUtf8Printable(folder.displayName));
        // A refresh never removes an entry, so only a full scan turns it into a removed folder: without one the
        // folder would wait for an update that can never run, shown as pending for as long as the app runs.
        qCInfo(lcSync, "A synced folder is gone — running a full scan and reconcile");
        manager->requestFullScanAndReconcile();
        co_return;
    }

    UpdateRun run;
    run.manager = manager;
    run.api = &manager->api();
    run.folder = folder;
    run.galleryId = snapshot.status.galleryId();
    run.gallerySlug = snapshot.status.gallerySlug();

    // Marked before the listing, so a second update of this folder returns at the status check.
    setFolderStatus(*manager, folder.path, SyncStatus::syncing(0));
    QFuture<FolderScanner::LocalImages> reading = QtConcurrent::run(&FolderScanner::readLocalImages, snapshot.path);
    const FolderScanner::LocalImages local = co_await reading;
    if (!manager)
        co_return;
    QSet<QString> localNames;
    QSet<QString> settling; // canonical names of images still being written: they wait for a later pass
    for (const QString &image : local.images) {
        const QString name = QFileInfo(image).fileName();
        localNames.insert(name);
        if (manager->isSettling(local.metadata.value(name)))
            settling.insert(canonical(name));
    }
    const auto isSettlingImage = [&settling](const QString &image) {
        return settling.contains(canonical(QFileInfo(image).fileName()));
    };

    // Baseline: the stored records while they carry metadata, else the service's images.
    QSet<QString> webDeleted;
    if (snapshot.uploadedFiles && !snapshot.needsMetadataBaseline()) {
        run.baseline = *snapshot.uploadedFiles;
    } else {
        GalleryImagesResponse answer;
        try {
            answer = co_await run.api->getGalleryImages(run.galleryId);
        } catch (...) {
            const RunFailure failure = currentRunFailure();
            if (!manager)
                co_return;
            failedToFetch(run, failure);
            co_return;
        }
        if (!manager)
            co_return;
        run.askedGallery = true;
        run.serverImages = answer.images;
        const QStringList deleted = answer.deletedFileNames.value_or(QStringList());
        webDeleted = deletedByUser(run, answer.deletedFileNames);
        QHash<QString, qint64> sizes; // by canonical name
        if (answer.imagesWithSize) {
            for (const GalleryImageWithSize &image : std::as_const(*answer.imagesWithSize)) {
                const QString key = canonical(image.fileName);
                if (!sizes.contains(key))
                    sizes.insert(key, image.fileSize);
            }
        } else if (!answer.images.isEmpty()) {
            qCCritical(lcSync,
                       "Server returned no imagesWithSize for %s — modification detection will rebuild baseline "
                       "from disk only",
                       qUtf8Printable(folder.name));
        }
        for (const GalleryImage &image : std::as_const(answer.images))
            run.baseline.append({image.fileName, sizes.value(canonical(image.fileName), 0), std::nullopt});
        qCInfo(lcSync, "Fetched %lld active + %lld deleted filenames from server for %s",
               qint64(answer.images.size()), qint64(deleted.size()), qUtf8Printable(folder.name));
    }
    QList<UploadedFileMeta> known = run.baseline;
    known.append(legacyUploadedFiles(webDeleted));

    FolderScanner::FileChanges changes = SyncManager::detectModifiedFiles(local.images, local.metadata, known);
    if (localNames.isEmpty() && !changes.removedNames.isEmpty()) {
        qCCritical(lcSync, "Skipping deletions for %s — local folder is empty", qUtf8Printable(folder.displayName));
        changes.removedNames.clear();
    }
    run.webDeleted = canonicalSet(webDeleted);
    changes.removedNames.removeIf([&](const QString &name) { return run.webDeleted.contains(canonical(name)); });
    // Only what this app saw in the folder (it uploaded it or matched it to a local file) is deleted: an image
    // known only from the service (added on the web, or by another machine) stays.
    QSet<QString> recorded;
    for (const UploadedFileMeta &record : snapshot.uploadedFiles.value_or(QList<UploadedFileMeta>()))
        recorded.insert(canonical(record.fileName));
    changes.removedNames.removeIf([&](const QString &name) { return !recorded.contains(canonical(name)); });
    changes.newImages.removeIf(isSettlingImage);
    changes.modifiedImages.removeIf(isSettlingImage);
    const bool deferred = !settling.isEmpty();

    // Records that may lack a confirmed run (its answer was lost, or the listing they were built from predates it):
    // what the gallery holds now is not sent again.
    QSet<QString> heldByGallery; // canonical names
    QStringList inGallery;
    if (!changes.newImages.isEmpty() && manager->needsGalleryCheck(folder.path)) {
        try {
            if (!run.askedGallery) {
                run.serverImages.clear();
                run.idMap.reset();
            }
            const QHash<QString, QString> ids = co_await fetchServerImageIds(&run);
            if (!manager)
                co_return;
            changes.newImages.removeIf([&](const QString &image) {
                const QString name = QFileInfo(image).fileName();
                const QString key = canonical(name);
                if (!ids.contains(key) && !run.webDeleted.contains(key))
                    return false;
                if (ids.contains(key))
                    inGallery.append(name);
                heldByGallery.insert(key);
                return true;
            });
            manager->finishReplacements(folder.path, run.galleryId, inGallery);
        } catch (...) {
            const RunFailure failure = currentRunFailure();
            if (!manager)
                co_return;
            failedToFetch(run, failure);
            co_return;
        }
        // The run the check answered ends in the save that records what the gallery holds: a kill between two
        // saves leaves the one or the other.
        const QSet<QString> found = canonicalSet(QSet<QString>(inGallery.cbegin(), inGallery.cend()));
        const bool recorded = inGallery.isEmpty() || editRecords(run, [&](QList<UploadedFileMeta> &records) {
            dropRecordsNamed(records, found);
            records.append(SyncManager::uploadedMetaList(inGallery, local.metadata));
        });
        if (recorded)
            manager->galleryChecked(folder.path);
        if (!inGallery.isEmpty() && recorded)
            manager->saveState();
        if (!heldByGallery.isEmpty())
            qCInfo(lcSync, "%lld images of %s are in the gallery already — not sending them again",
                   qint64(heldByGallery.size()), qUtf8Printable(folder.name));
    } else if (run.askedGallery) {
        manager->galleryChecked(folder.path);
    }

    if (changes.newImages.isEmpty() && changes.modifiedImages.isEmpty() && changes.removedNames.isEmpty()) {
        // An empty listing would record an empty baseline and make every image new once it can be read again; an
        // image still being written would be recorded as uploaded.
        const bool unrecorded = !snapshot.uploadedFiles || snapshot.needsMetadataBaseline() || !heldByGallery.isEmpty();
        if (unrecorded && !local.images.isEmpty() && !deferred) {
            QStringList names;
            for (const QString &image : local.images)
                names.append(QFileInfo(image).fileName());
            const bool listed = editRunningEntry(*manager, folder.path, [&](SyncFolder &entry) {
                entry.uploadedFiles = SyncManager::uploadedMetaList(names, local.metadata);
                entry.cachedLocalFileMeta = local.metadata;
            });
            if (listed) {
                manager->saveState();
                qCInfo(lcSync, "Established metadata baseline for %s (%lld files)", qUtf8Printable(folder.name),
                       qint64(local.images.size()));
            }
        }
        // An empty folder deleted nothing: the gallery holds what it held, and the count says so.
        qint64 uploaded = folder.imageCount;
        if (local.images.isEmpty())
            uploaded = run.askedGallery ? run.serverImages.size()
                       : snapshot.uploadedFiles ? snapshot.uploadedFiles->size()
                                                : snapshot.status.uploadedCount();
        if (setRunningStatus(*manager, folder.path, SyncStatus::synced(run.galleryId, run.gallerySlug, uploaded))
            && deferred)
            manager->scheduleAutoSync();
        co_return;
    }

    // Delete phase.
    if (!changes.removedNames.isEmpty()) {
        try {
            const QHash<QString, QString> ids = co_await fetchServerImageIds(&run);
            QStringList imageIds;
            for (const QString &name : std::as_const(changes.removedNames)) {
                // A name deleted on the web keeps its record; an active image of the same name is not this one.
                if (run.webDeleted.contains(canonical(name)))
                    continue;
                const auto id = ids.constFind(canonical(name));
                if (id != ids.cend())
                    imageIds.append(*id);
            }
            if (!imageIds.isEmpty()) {
                const DeleteImagesResponse deleted = co_await run.api->deleteImages(run.galleryId, imageIds);
                qCInfo(lcSync, "Deleted %lld images from %s", qint64(deleted.deletedCount),
                       qUtf8Printable(folder.name));
            }
        } catch (...) {
            const RunFailure failure = currentRunFailure();
            if (!manager)
                co_return;
            fail(run, failure);
            qCCritical(lcSync, "Delete phase failed for %s: %s", qUtf8Printable(folder.name),
                       qUtf8Printable(failure.texts.logged));
            co_return;
        }
        if (!manager)
            co_return;
        const QSet<QString> removed = canonicalSet(changes.removedNames);
        editRecords(run, [&](QList<UploadedFileMeta> &records) { dropRecordsNamed(records, removed); });
    }

    QSet<QString> leftOut; // canonical names of images that were gone when their upload described them
    qint64 uploadedOrReplaced = 0; // what the shell is told of this run
    // Modification phase: delete the old version, then upload the new one.
    for (const QString &image : std::as_const(changes.modifiedImages)) {
        const QString name = QFileInfo(image).fileName();
        const QSet<QString> named{canonical(name)};
        bool oldVersionGone = false;
        bool deletedOnWeb = false;
        UploadBatchResult result;
        try {
            const QHash<QString, QString> ids = co_await fetchServerImageIds(&run);
            const auto id = ids.constFind(canonical(name));
            // Re-exporting an image the user deleted on the web does not bring it back; an active image of the
            // same name is replaced all the same.
            if (id == ids.cend() && run.webDeleted.contains(canonical(name))) {
                deletedOnWeb = true;
            } else if (id != ids.cend()) {
                // Noted first: should the new version never arrive, the service listing the name as deleted is not
                // taken for the user's deletion, and a later run finishes the replacement.
                co_await manager->noteReplacement(folder.path, run.galleryId, name);
                if (!manager)
                    co_return;
                const QStringList oldId(*id);
                const DeleteImagesResponse deleted = co_await run.api->deleteImages(run.galleryId, oldId);
                qCInfo(lcSync, "Replaced %s in %s (deleted %lld old version)", qUtf8Printable(name),
                       qUtf8Printable(folder.name), qint64(deleted.deletedCount));
            } else {
                qCCritical(lcSync,
                           "Could not resolve old imageId for modified file %s — uploading without delete; web UI "
                           "may briefly show duplicates",
                           qUtf8Printable(name));
            }
            if (!deletedOnWeb) {
                oldVersionGone = true;
                if (!manager)
                    co_return;
                const QStringList one(image);
                result = co_await manager->uploadFiles(one, run.galleryId, folder);
                run.idMap.reset();
            }
        } catch (...) {
            const RunFailure failure = currentRunFailure();
            if (!manager)
                co_return;
            // While the old version is still on the service, its record stays so the replacement is retried.
            if (oldVersionGone)
                editRecords(run, [&](QList<UploadedFileMeta> &records) { dropRecordsNamed(records, named); });
            if (fail(run, failure))
                manager->saveState();
            qCCritical(lcSync, "Modification phase failed for %s/%s: %s", qUtf8Printable(folder.name),
                       qUtf8Printable(name), qUtf8Printable(failure.texts.logged));
            co_return;
        }
        if (!manager)
            co_return;
        const auto meta = local.metadata.constFind(name);
        const UploadedFileMeta record{name, meta != local.metadata.cend() ? meta->size : 0,
                                      meta != local.metadata.cend() ? meta->mtime : std::nullopt};
        if (deletedOnWeb) {
            // The record takes the local file's size and time so the file stops counting as modified.
            qCInfo(lcSync, "Not replacing %s in %s — it was deleted on the web", qUtf8Printable(name),
                   qUtf8Printable(folder.name));
            editRecords(run, [&](QList<UploadedFileMeta> &records) {
                dropRecordsNamed(records, named);
                records.append(record);
            });
            continue;
        }
        if (!result.leftOutFileNames.isEmpty()) {
            // Gone from the disk since the listing, and its old version from the service: nothing to record.
            editRecords(run, [&](QList<UploadedFileMeta> &records) { dropRecordsNamed(records, named); });
            leftOut.unite(
                canonicalSet(QSet<QString>(result.leftOutFileNames.cbegin(), result.leftOutFileNames.cend())));
            continue;
        }
        if (result.uploadedCount != 1) {
            editRecords(run, [&](QList<UploadedFileMeta> &records) { dropRecordsNamed(records, named); });
            if (fail(run, QStringLiteral("Opplasting feilet for ") + unicodenames::isolated(name)
                               + QStringLiteral(" — prøv igjen")))
                manager->saveState();
            qCCritical(lcSync, "Modification phase failed for %s/%s — upload returned %lld/1 successes",
                       qUtf8Printable(folder.name), qUtf8Printable(name), qint64(result.uploadedCount));
            co_return;
        }
        editRecords(run, [&](QList<UploadedFileMeta> &records) {
            dropRecordsNamed(records, named);
            records.append(record);
        });
        ++uploadedOrReplaced;
    }

    // Upload phase.
    if (!changes.newImages.isEmpty()) {
        UploadBatchResult result;
        try {
            result = co_await manager->uploadFiles(changes.newImages, run.galleryId, folder);
        } catch (...) {
            const RunFailure failure = currentRunFailure();
            if (!manager)
                co_return;
            fail(run, failure);
            qCCritical(lcSync, "Upload phase failed for %s: %s", qUtf8Printable(folder.name),
                       qUtf8Printable(failure.texts.logged));
            co_return;
        }
        if (!manager)
            co_return;
        qCInfo(lcSync, "Uploaded %lld new images to %s", qint64(result.uploadedCount), qUtf8Printable(folder.name));
        leftOut.unite(canonicalSet(QSet<QString>(result.leftOutFileNames.cbegin(), result.leftOutFileNames.cend())));
        uploadedOrReplaced += result.uploadedCount;
        if (result.failedCount > 0) {
            const QSet<QString> succeeded(result.succeededFileNames.cbegin(), result.succeededFileNames.cend());
            const bool listed = editRecords(run, [&](QList<UploadedFileMeta> &records) {
                dropRecordsNamed(records, canonicalSet(succeeded));
                records.append(SyncManager::uploadedMetaList(result.succeededFileNames, local.metadata));
            });
            if (listed && fail(run, QStringLiteral("Opplasting feilet for %1 bilde(r)").arg(result.failedCount)))
                manager->saveRecords(folder.path);
            if (uploadedOrReplaced >= 1 && manager->onUploadCompleted())
                manager->onUploadCompleted()(UploadKind::updated, run.galleryId, run.gallerySlug, folder.displayName,
                                             uploadedOrReplaced, folder.path);
            co_return;
        }
    }

    // Completion: every local image is recorded, touched by this run or not; one still being written keeps the
    // record it had. Images that vanished before their upload are not recorded: the next scan sees whatever
    // stands there now.
    QStringList names;
    qint64 count = 0;
    for (const QString &image : local.images) {
        const QString name = QFileInfo(image).fileName();
        if (leftOut.contains(canonical(name)))
            continue;
        ++count;
        if (!isSettlingImage(image))
            names.append(name);
    }
    bool refreshedMeanwhile = false;
    const bool listed = editRunningEntry(*manager, folder.path, [&](SyncFolder &entry) {
        QList<UploadedFileMeta> records = SyncManager::uploadedMetaList(names, local.metadata);
        for (const UploadedFileMeta &old : entry.uploadedFiles.value_or(run.baseline)) {
            if (settling.contains(canonical(old.fileName)))
                records.append(old);
        }
        entry.status = SyncStatus::synced(run.galleryId, run.gallerySlug, count);
        entry.uploadedFiles = records;
        // A refresh that merged during the run saw the disk later than this run did: its caches stay, and the
        // difference leads to another pass.
        refreshedMeanwhile = entry.imageCount != snapshot.imageCount
                             || entry.cachedLocalFileMeta != snapshot.cachedLocalFileMeta;
        if (!refreshedMeanwhile) {
            entry.cachedLocalFileMeta = local.metadata;
            entry.imageCount = count;
        }
    });
    if (listed)
        manager->saveRecords(folder.path);
    if (listed && (refreshedMeanwhile || deferred))
        manager->scheduleAutoSync();
    // A run that uploaded and replaced nothing (it only deleted images, say) reports nothing.
    if (uploadedOrReplaced >= 1 && manager->onUploadCompleted())
        manager->onUploadCompleted()(UploadKind::updated, run.galleryId, run.gallerySlug, folder.displayName,
                                     uploadedOrReplaced, folder.path);
}

} // namespace

QCoro::Task<void> SyncManager::updateFolder(SyncFolder folder, RunOrigin origin)
{
    const QString name = folder.name;
    const QString path = folder.path;
    const std::optional<SyncFolder> live = liveFolderEntry(*this, path);
    const std::optional<SyncStatus> linked =
        live && live->status.is(SyncStatus::Case::synced) ? std::optional<SyncStatus>(live->status) : std::nullopt;
    if (origin == RunOrigin::user && linked)
        m_retries.remove(path);
    QPointer<SyncManager> self(this);
    // Its entry reads syncing while it runs: the gallery stays held all the same.
    GalleryHold hold(*this, path);
    if (linked)
        hold.take(linked->galleryId());
    try {
        co_await runUpdate(self, std::move(folder));
    } catch (...) {
        qCCritical(lcSync, "Update failed for %s: %s", qUtf8Printable(name),
                   qUtf8Printable(logDescriptionOfCurrentException()));
    }
    if (self && linked)
        noteRunEnded(path, linked);
}
