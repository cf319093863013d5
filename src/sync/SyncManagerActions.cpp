// The decisions the engine leaves to the user, on one folder entry the overview window shows: ignore and take
// back, move a moved folder's gallery or accept the move, delete or forget the gallery of a removed folder.
//
// The windows pass their own copy of the entry. The preconditions read that copy; every change goes to the live
// entry, found again by path, because the list may have changed while a request was on the way.

#include "SyncManager.h"

#include "FolderEntryEdit.h"
#include "SyncErrors.h"
#include "SyncLogging.h"
#include "service/VarnostimaAPI.h"

#include <QPointer>

#include <algorithm>

namespace {

bool samePath(const SyncFolder &entry, const QString &path)
{
    return entry.path == path;
}

} // namespace

void SyncManager::removeActionEntries(const QString &path, const QString &galleryId)
{
    QSet<QString> known = m_knownGalleryIds;
    known.remove(galleryId);
    setKnownGalleryIds(known);

    QList<SyncFolder> remaining = m_folders;
    remaining.removeIf([&path](const SyncFolder &entry) { return samePath(entry, path); });
    setFolders(remaining);
}

bool SyncManager::keepsLinkedGallery(const SyncFolder &placeholder, const QString &galleryId, const char *action)
{
    // Held by a synced folder or a run, or kept by a folder whose run failed: such a folder has lost nothing, and
    // its images may be only in that gallery.
    bool linked = m_folders.isHeldByOther(placeholder.path, galleryId);
    for (auto it = m_galleryLinks.cbegin(); !linked && it != m_galleryLinks.cend(); ++it)
        linked = it.value() == galleryId && it.key() != placeholder.path;
    if (!linked)
        return false;
    const SyncManagerError error = SyncManagerError::linked();
    qCInfo(lcSync, "Not %s gallery %s: %s", action, qUtf8Printable(placeholder.displayName),
           qUtf8Printable(error.logDescription()));
    // The placeholder, while listed, says why it stays.
    editFolderEntry(*this, placeholder.path, [&](SyncFolder &entry) {
        if (entry.removedGalleryId() == galleryId)
            entry.status = SyncStatus::failed(error.localizedDescription());
    });
    return true;
}

void SyncManager::ignoreFolder(SyncFolder folder)
{
    const bool found = editFolderEntry(*this, folder.path, [](SyncFolder &entry) {
        entry.status = SyncStatus::ignored();
        entry.uploadedFiles.reset();
    });
    if (!found)
        return;

    QSet<QString> ignored = m_ignoredPaths;
    ignored.insert(folder.path);
    setIgnoredPaths(ignored);
    saveState();
}

void SyncManager::unignoreFolder(SyncFolder folder)
{
    if (!setFolderStatus(*this, folder.path, SyncStatus::notSynced()))
        return;

    QSet<QString> ignored = m_ignoredPaths;
    ignored.remove(folder.path);
    setIgnoredPaths(ignored);
    saveState();
    // No file event will come for a folder that did not change on disk: without a pass it would wait.
    scheduleAutoSync();
}

void SyncManager::clearMovedFrom(SyncFolder folder)
{
    // The move held back the folder's update; whatever changed meanwhile goes now.
    if (editFolderEntry(*this, folder.path, [](SyncFolder &entry) { entry.movedFrom.reset(); }))
        scheduleAutoSync();
}

QCoro::Task<void> SyncManager::moveGalleryOnServer(SyncFolder folder)
{
    if (folderIndex(folder.path) < 0)
        co_return;
    if (!folder.status.is(SyncStatus::Case::synced) || !folder.movedFrom)
        co_return;
    // A second press while the first move runs would create the server folders twice.
    const QString moveKey = folder.path;
    if (m_movesUnderWay.contains(moveKey))
        co_return;
    m_movesUnderWay.insert(moveKey);

    const QString galleryId = folder.status.galleryId();
    QPointer<SyncManager> self(this);
    std::optional<FailureTexts> failure;
    try {
        // Named, not a braced temporary inside co_await: g++ 12 destroys such temporaries twice.
        UpdateGalleryRequest request;
        request.folderId = co_await ensureRemoteFolder(folder);
        if (!self)
            co_return;
        co_await api().updateGallery(galleryId, std::move(request));
    } catch (...) {
        failure = currentFailureTexts();
    }
    if (!self)
        co_return;
    m_movesUnderWay.remove(moveKey);

    if (!failure) {
        clearMovedFrom(folder);
        qCInfo(lcSync, "Moved %s to folder on server", qUtf8Printable(folder.displayName));
        co_return;
    }
    qCCritical(lcSync, "Failed to move %s: %s", qUtf8Printable(folder.displayName), qUtf8Printable(failure->logged));
    setFolderStatus(*this, folder.path, SyncStatus::failed(QStringLiteral("Flytting feilet: ") + failure->shown));
}

QCoro::Task<void> SyncManager::deleteGalleryOnServer(SyncFolder folder)
{
    // A placeholder whose deletion failed is still offered: the user may try again.
    const std::optional<QString> removedId = folder.removedGalleryId();
    if (!removedId)
        co_return;
    const QString galleryId = *removedId;
    // A deletion cannot be undone: a window's stale copy (the folder came back, or the entry was already dealt
    // with) must not delete a gallery the live list no longer offers for deletion, nor one a folder uses.
    if (keepsLinkedGallery(folder, galleryId, "deleting"))
        co_return;
    const bool offered = std::any_of(m_folders.cbegin(), m_folders.cend(), [&](const SyncFolder &entry) {
        return samePath(entry, folder.path) && entry.removedGalleryId() == galleryId;
    });
    if (!offered)
        co_return;

    QPointer<SyncManager> self(this);
    // While the request is on its way, a folder of the gallery's title found again makes a gallery of its own.
    GalleryHold hold(*this, folder.path);
    hold.take(galleryId);
    std::optional<FailureTexts> failure;
    try {
        co_await api().deleteGallery(galleryId);
    } catch (...) {
        failure = currentFailureTexts();
    }
    if (!self)
        co_return;

    if (!failure) {
        m_deletedGalleryIds.insert(galleryId);
        noteGalleryDeleted(galleryId);
        removeActionEntries(folder.path, galleryId);
        saveState();
        qCInfo(lcSync, "Deleted gallery %s from server", qUtf8Printable(folder.displayName));
        co_return;
    }
    qCCritical(lcSync, "Failed to delete %s from server: %s", qUtf8Printable(folder.displayName),
               qUtf8Printable(failure->logged));
    setFolderStatus(*this, folder.path, SyncStatus::failed(QStringLiteral("Sletting feilet: ") + failure->shown));
}

void SyncManager::forgetFolder(SyncFolder folder)
{
    const std::optional<QString> galleryId = folder.removedGalleryId();
    if (!galleryId || keepsLinkedGallery(folder, *galleryId, "forgetting"))
        return;
    // A gallery in a server folder would otherwise come back as removed at the next reconcile.
    m_dismissedGalleryIds.insert(*galleryId);
    removeActionEntries(folder.path, *galleryId);
    saveState();
}
