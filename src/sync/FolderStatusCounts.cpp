#include "FolderStatusCounts.h"

FolderStatusCounts::FolderStatusCounts(const QList<SyncFolder> &folders)
{
    for (const SyncFolder &folder : folders)
        add(folder);
}

void FolderStatusCounts::add(const SyncFolder &folder)
{
    ++slot(folder);
    if (folder.status.is(SyncStatus::Case::synced))
        ++m_holders[folder.status.galleryId()];
}

void FolderStatusCounts::remove(const SyncFolder &folder)
{
    --slot(folder);
    if (!folder.status.is(SyncStatus::Case::synced))
        return;
    const auto found = m_holders.find(folder.status.galleryId());
    if (found != m_holders.end() && --*found <= 0)
        m_holders.erase(found);
}
