// The first sync of a folder: the server folders of its parent path, the gallery (adopted when one of the same
// title is free, created otherwise), the upload and its record.

#include "FolderEntryEdit.h"
#include "GalleryCatalog.h"
#include "SyncErrors.h"
#include "SyncLogging.h"
#include "SyncManager.h"
#include "UnicodeNames.h"

#include "service/VarnostimaAPI.h"

#include <QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>

namespace {

// True when the folder adopted an existing gallery: the caller brings it up to date.
QCoro::Task<bool> runFirstSync(QPointer<SyncManager> manager, SyncFolder folder, bool fromPassList,
                               SyncManager::GalleryHold &hold)
{
    const std::optional<SyncFolder> snapshot = liveFolderEntry(*manager, folder.path);
    if (!snapshot)
        co_return false;
    // The caller's copy may be stale (a window's): the live entry decides. A folder already linked must never get
    // a second gallery, and one syncing already has a run of its own.
    if (folder.status.is(SyncStatus::Case::synced) || snapshot->status.is(SyncStatus::Case::synced)) {
        qCInfo(lcSync, "Skipping already synced folder: %s", qUtf8Printable(folder.name));
        co_return false;
    }
    if (!snapshot->status.is(SyncStatus::Case::notSynced) && !snapshot->status.is(SyncStatus::Case::failed))
        co_return false;
    setFolderStatus(*manager, folder.path, SyncStatus::syncing(0));

    // Size and time as they were before the upload: a file rewritten meanwhile shows as modified at the next update.
    QFuture<FolderScanner::LocalImages> reading = QtConcurrent::run(&FolderScanner::readLocalImages, folder.path);
    const FolderScanner::LocalImages local = co_await reading;
    if (!manager)
        co_return false;
    // An image still being written waits for a pass after it settles; the rest go now.
    QStringList images;
    for (const QString &image : local.images) {
        if (!manager->isSettling(local.metadata.value(QFileInfo(image).fileName())))
            images.append(image);
    }
    const bool deferred = images.size() < local.images.size();
    if (images.isEmpty()) {
        setRunningStatus(*manager, folder.path, SyncStatus::notSynced());
        if (deferred)
            manager->scheduleAutoSync();
        co_return false;
    }

    std::optional<Gallery> existing;
    try {
        // A folder linked before keeps its gallery while the reconcile that would link it again cannot reach the
        // service: by title, a sibling of the same title could take it.
        existing = co_await manager->linkedGallery(folder.path, fromPassList);
        if (manager && (!existing || manager->galleryHeldByOtherFolder(folder.path, existing->id)))
            existing = co_await manager->existingGallery(folder.displayName, folder.path, fromPassList);
    } catch (...) {
        // Going on without knowing would make a second gallery of the same title: fail, and let a retry ask again.
        const FailureTexts failure = currentFailureTexts();
        if (!manager)
            co_return false;
        setRunningStatus(*manager, folder.path, SyncStatus::failed(failure.shown));
        qCCritical(lcSync, "Could not check for existing gallery: %s", qUtf8Printable(failure.logged));
        co_return false;
    }
    if (!manager)
        co_return false;
    if (existing && !manager->galleryHeldByOtherFolder(folder.path, existing->id)) {
        hold.take(existing->id);
        if (setRunningStatus(*manager, folder.path,
                             SyncStatus::synced(existing->id, existing->slug, existing->imageCount)))
            qCInfo(lcSync, "Found existing gallery for %s, skipping upload", qUtf8Printable(folder.displayName));
        co_return true;
    }

    std::optional<QString> folderId;
    try {
        folderId = co_await manager->ensureRemoteFolder(folder);
    } catch (...) {
        const QString description = logDescriptionOfCurrentException();
        if (!manager)
            co_return false;
        setRunningStatus(*manager, folder.path, SyncStatus::failed(QStringLiteral("Kunne ikke opprette mappe")));
        qCCritical(lcSync, "Failed to create folders for %s: %s", qUtf8Printable(folder.name),
                   qUtf8Printable(description));
        co_return false;
    }
    if (!manager)
        co_return false;

    Gallery gallery;
    try {
        const CreateGalleryRequest request{folder.displayName, std::nullopt, folderId};
        const CreateGalleryResponse created = co_await manager->api().createGallery(request);
        gallery = created.gallery;
        if (manager) {
            hold.take(gallery.id); // before anything else runs: another folder of the title must not adopt it
            manager->noteGalleryCreated(gallery);
        }
    } catch (...) {
        const QString description = logDescriptionOfCurrentException();
        if (!manager)
            co_return false;
        setRunningStatus(*manager, folder.path, SyncStatus::failed(QStringLiteral("Kunne ikke opprette galleri")));
        qCCritical(lcSync, "Failed to create gallery for %s: %s", qUtf8Printable(folder.name),
                   qUtf8Printable(description));
        co_return false;
    }
    if (!manager)
        co_return false;

    UploadBatchResult result;
    try {
        result = co_await manager->uploadFiles(images, gallery.id, folder);
    } catch (...) {
        const FailureTexts failure = currentFailureTexts();
        if (!manager)
            co_return false;
        setRunningStatus(*manager, folder.path, SyncStatus::failed(failure.shown));
        qCCritical(lcSync, "Sync failed for %s: %s", qUtf8Printable(folder.name), qUtf8Printable(failure.logged));
        co_return false;
    }
    if (!manager)
        co_return false;
    manager->noteGalleryImages(gallery.id, result.uploadedCount);

    const QList<UploadedFileMeta> records = SyncManager::uploadedMetaList(result.succeededFileNames, local.metadata);
    bool refreshedMeanwhile = false;
    const bool listed = editRunningEntry(*manager, folder.path, [&](SyncFolder &entry) {
        entry.status = SyncStatus::synced(gallery.id, gallery.slug, result.uploadedCount);
        entry.uploadedFiles = records;
        // A refresh that merged during the upload saw the disk later than this run did: its caches stay.
        refreshedMeanwhile = entry.cachedLocalFileMeta != snapshot->cachedLocalFileMeta;
        if (!refreshedMeanwhile)
            entry.cachedLocalFileMeta = local.metadata;
    });
    if (listed)
        manager->saveRecords(folder.path);
    qCInfo(lcSync, "Synced %s: %lld images to folder path %s", qUtf8Printable(folder.name),
           qint64(result.uploadedCount), qUtf8Printable(folder.relativePath));
    if (listed && (refreshedMeanwhile || deferred))
        manager->scheduleAutoSync();
    if (result.uploadedCount >= 1 && manager->onUploadCompleted())
        manager->onUploadCompleted()(UploadKind::created, gallery.id, gallery.slug, folder.displayName,
                                     result.uploadedCount, folder.path);
    co_return false;
}

} // namespace

QCoro::Task<void> SyncManager::syncFolder(SyncFolder folder, RunOrigin origin)
{
    const QString name = folder.name;
    const QString path = folder.path;
    if (origin == RunOrigin::user)
        m_retries.remove(path);
    QPointer<SyncManager> self(this);
    GalleryHold hold(*this, path); // held through the update that follows an adoption too
    bool adopted = false;
    try {
        adopted = co_await runFirstSync(self, std::move(folder), origin == RunOrigin::automatic, hold);
    } catch (...) {
        qCCritical(lcSync, "Sync failed for %s: %s", qUtf8Printable(name),
                   qUtf8Printable(logDescriptionOfCurrentException()));
    }
    if (!self)
        co_return;
    // An adopted gallery may lack images the folder holds (a first sync that failed after making it, say): the
    // update brings it up to date in the same pass, and notes the run's end itself.
    if (adopted) {
        if (const std::optional<SyncFolder> live = liveFolderEntry(*this, path);
            live && live->status.is(SyncStatus::Case::synced)) {
            co_await updateFolder(*live, origin);
            co_return;
        }
    }
    noteRunEnded(path, std::nullopt);
}

QCoro::Task<void> SyncManager::walkGalleryList(std::function<bool(const Gallery &)> visit)
{
    QPointer<VarnostimaAPI> api(&this->api());
    const int pageLimit = m_galleryPageLimit;
    std::optional<QString> cursor;
    QSet<QString> seenCursors;
    for (int pages = 1;; ++pages) {
        const GalleryListResponse page = co_await api->listGalleries(cursor);
        for (const Gallery &gallery : page.galleries) {
            if (visit(gallery))
                co_return;
        }
        if (!page.hasMore || !page.nextCursor || !api)
            co_return;
        // A service that keeps saying "more" must not hold the pass forever.
        if (seenCursors.contains(*page.nextCursor)) {
            qCCritical(lcSync, "The gallery list repeated a cursor after %d pages; stopping", pages);
            throw APIError::invalidResponse();
        }
        if (pages >= pageLimit) {
            qCCritical(lcSync, "The gallery list went on past %d pages; stopping", pageLimit);
            throw APIError::invalidResponse();
        }
        seenCursors.insert(*page.nextCursor);
        cursor = page.nextCursor;
    }
}

QCoro::Task<std::optional<Gallery>> SyncManager::findExistingGallery(QString title)
{
    std::optional<Gallery> found;
    co_await walkGalleryList([&](const Gallery &gallery) {
        if (!unicodenames::canonicallyEqual(gallery.title, title))
            return false;
        found = gallery;
        return true;
    });
    co_return found;
}

QCoro::Task<std::optional<Gallery>> SyncManager::linkedGallery(QString folderPath, bool fromPassList)
{
    QString id = storedGalleryId(folderPath);
    if (const std::optional<UploadInFlight> run = uploadInFlight(folderPath); id.isEmpty() && run)
        id = run->galleryId;
    std::optional<Gallery> found;
    if (id.isEmpty())
        co_return found;
    // A pass that first-syncs many linked folders (after the state could not be read, say) reads the list once.
    const std::shared_ptr<GalleryCatalog> catalog = fromPassList ? m_passGalleries : nullptr;
    if (catalog && !catalog->isReading()) {
        if (!catalog->isLoaded())
            co_await readPassGalleries(catalog);
        co_return catalog->findId(id);
    }
    co_await walkGalleryList([&](const Gallery &gallery) {
        if (gallery.id != id)
            return false;
        found = gallery;
        return true;
    });
    co_return found;
}

QCoro::Task<QList<Gallery>> SyncManager::readGalleryList()
{
    QList<Gallery> galleries;
    co_await walkGalleryList([&](const Gallery &gallery) {
        galleries.append(gallery);
        return false;
    });
    co_return galleries;
}

QCoro::Task<std::optional<Gallery>> SyncManager::existingGallery(QString title, QString folderPath,
                                                                 bool fromPassList)
{
    const std::shared_ptr<GalleryCatalog> catalog = fromPassList ? m_passGalleries : nullptr;
    // Another run is reading the pass's list just now (a window's run, say): this one asks on its own.
    if (!catalog || catalog->isReading())
        co_return co_await findExistingGallery(std::move(title));
    if (!catalog->isLoaded()) {
        co_await readPassGalleries(catalog);
        co_return catalog->find(title);
    }
    std::optional<Gallery> found = catalog->find(title);
    // The copy lacks what was made or renamed on the web since it was read: before that could make a second gallery
    // of the title, an old copy is read again. Reads grow with the pass's length, not with its folders.
    const bool makesGallery = !found || galleryHeldByOtherFolder(folderPath, found->id);
    if (makesGallery && catalog->isOlderThan(m_delays.galleryListMaxAge, GalleryCatalog::Clock::now())) {
        co_await readPassGalleries(catalog);
        found = catalog->find(title);
    }
    co_return found;
}

bool SyncManager::galleryHeldByOtherFolder(const QString &path, const QString &galleryId) const
{
    return m_folders.isHeldByOther(path, galleryId);
}

QCoro::Task<void> SyncManager::readPassGalleries(std::shared_ptr<GalleryCatalog> catalog)
{
    // A copy that cannot be read again must not stand in for the list: the folder fails rather than risk a second
    // gallery, and a later one asks again.
    if (!catalog->mayRead())
        std::rethrow_exception(catalog->lastFailure());
    catalog->setReading(true);
    const GalleryCatalog::Clock::time_point started = GalleryCatalog::Clock::now();
    QList<Gallery> galleries;
    try {
        galleries = co_await readGalleryList();
    } catch (...) {
        catalog->setReading(false);
        catalog->noteFailure(std::current_exception());
        throw;
    }
    catalog->setReading(false);
    catalog->load(galleries, started);
    qCInfo(lcSync, "Read the gallery list for this pass: %lld galleries", qint64(galleries.size()));
}

SyncManager::GalleryHold::~GalleryHold()
{
    if (m_manager && !m_galleryId.isEmpty())
        m_manager->m_folders.releaseGallery(m_path, m_galleryId);
}

void SyncManager::GalleryHold::take(const QString &galleryId)
{
    if (!m_manager || galleryId == m_galleryId)
        return;
    if (!m_galleryId.isEmpty())
        m_manager->m_folders.releaseGallery(m_path, m_galleryId);
    m_galleryId = galleryId;
    m_manager->m_folders.holdGallery(m_path, m_galleryId);
}

void SyncManager::noteGalleryCreated(const Gallery &gallery)
{
    if (m_passGalleries)
        m_passGalleries->add(gallery);
}

void SyncManager::noteGalleryImages(const QString &galleryId, qint64 uploaded)
{
    if (m_passGalleries)
        m_passGalleries->addImages(galleryId, uploaded);
}

void SyncManager::noteGalleryDeleted(const QString &galleryId)
{
    if (m_passGalleries)
        m_passGalleries->remove(galleryId);
}

QCoro::Task<std::optional<QString>> SyncManager::ensureRemoteFolder(SyncFolder folder)
{
    if (folder.parentComponents.isEmpty())
        co_return std::nullopt;
    QPointer<VarnostimaAPI> api(&this->api());
    const FolderListResponse listed = co_await api->listFolders();
    const QList<RemoteFolder> &existing = listed.folders;

    std::optional<QString> parentId;
    for (const QString &component : std::as_const(folder.parentComponents)) {
        const QString name = folderNameForServer(component);
        const auto found = std::find_if(existing.cbegin(), existing.cend(), [&](const RemoteFolder &remote) {
            return remote.parentId == parentId && unicodenames::canonicallyEqual(remote.name, name);
        });
        if (found != existing.cend()) {
            parentId = found->id;
            continue;
        }
        if (!api)
            throw std::runtime_error("the service client went away");
        const CreateFolderRequest request{name, parentId};
        const CreateFolderResponse created = co_await api->createFolder(request);
        qCInfo(lcSync, "Created remote folder: %s", qUtf8Printable(name));
        parentId = created.folder.id;
    }
    co_return parentId;
}

QString SyncManager::folderNameForServer(const QString &component)
{
    return unicodenames::displayName(component);
}
