#include "FolderCounters.h"

#include "FolderStatusPresentation.h"

bool isMovableFolder(const SyncFolder &folder)
{
    return folder.movedFrom && folder.status.is(SyncStatus::Case::synced);
}

bool PendingChangesCache::operator()(const SyncFolder &folder)
{
    const auto it = m_entries.constFind(folder.path);
    if (it != m_entries.cend() && it->folder == folder)
        return it->pending;
    const bool pending = hasPendingChanges(folder);
    m_entries.insert(folder.path, {folder, pending});
    return pending;
}

void PendingChangesCache::forgetBeyond(qsizetype liveFolders)
{
    // Entries of folders that went away are dropped all at once now and then, not tracked one by one.
    if (m_entries.size() > 2 * liveFolders + 64)
        m_entries.clear();
}

namespace {

template <typename Pending>
FolderStatistics countStatistics(const QList<SyncFolder> &folders, Pending &&hasPending)
{
    FolderStatistics s;
    for (const SyncFolder &folder : folders) {
        if (isMovableFolder(folder)) {
            ++s.movedCount;
            continue;
        }
        switch (folder.status.kind()) {
        case SyncStatus::Case::notSynced:
        case SyncStatus::Case::failed:
            ++s.syncingCount;
            break;
        case SyncStatus::Case::synced:
            if (hasPending(folder))
                ++s.updatingCount;
            break;
        case SyncStatus::Case::removedLocally:
            ++s.removedCount;
            break;
        case SyncStatus::Case::syncing:
        case SyncStatus::Case::ignored:
            break;
        }
    }
    return s;
}

template <typename Pending>
StatusBarCounts countStatusBar(const QList<SyncFolder> &folders, Pending &&hasPending)
{
    StatusBarCounts c;
    c.folderCount = folders.size();
    for (const SyncFolder &folder : folders) {
        c.imageCount += folder.imageCount;
        if (folder.movedFrom)
            ++c.movedCount;
        switch (folder.status.kind()) {
        case SyncStatus::Case::notSynced:
        case SyncStatus::Case::failed:
        case SyncStatus::Case::removedLocally:
            ++c.newCount;
            break;
        case SyncStatus::Case::synced:
            if (!folder.movedFrom)
                ++(hasPending(folder) ? c.changedCount : c.syncedCount);
            break;
        case SyncStatus::Case::syncing:
        case SyncStatus::Case::ignored:
            break;
        }
    }
    return c;
}

} // namespace

FolderStatistics folderStatistics(const QList<SyncFolder> &folders)
{
    return countStatistics(folders, hasPendingChanges);
}

FolderStatistics folderStatistics(const QList<SyncFolder> &folders, PendingChangesCache &pending)
{
    pending.forgetBeyond(folders.size());
    return countStatistics(folders, pending);
}

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders)
{
    return countStatusBar(folders, hasPendingChanges);
}

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders, PendingChangesCache &pending)
{
    pending.forgetBeyond(folders.size());
    return countStatusBar(folders, pending);
}
