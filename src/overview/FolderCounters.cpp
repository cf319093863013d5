#include "FolderCounters.h"

#include "FolderStatusPresentation.h"

bool isMovableFolder(const SyncFolder &folder)
{
    return folder.movedFrom && folder.status.is(SyncStatus::Case::synced);
}

FolderStatistics folderStatistics(const QList<SyncFolder> &folders)
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
            if (hasPendingChanges(folder))
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

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders)
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
                ++(hasPendingChanges(folder) ? c.changedCount : c.syncedCount);
            break;
        case SyncStatus::Case::syncing:
        case SyncStatus::Case::ignored:
            break;
        }
    }
    return c;
}
