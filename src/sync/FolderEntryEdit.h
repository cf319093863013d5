#pragma once

// Writes to one entry of the manager's folder list. The list may have changed during any await, so every write
// looks the entry up again by path and is skipped when it is gone.

#include "SyncManager.h"

inline std::optional<SyncFolder> liveFolderEntry(const SyncManager &manager, const QString &path)
{
    const qsizetype index = manager.folderIndex(path);
    if (index < 0)
        return std::nullopt;
    return manager.folders().at(index);
}

// Applies edit to the live entry through the observed setter; false when the entry is gone.
template<typename Edit>
bool editFolderEntry(SyncManager &manager, const QString &path, Edit edit)
{
    const qsizetype index = manager.folderIndex(path);
    if (index < 0)
        return false;
    SyncFolder entry = manager.folders().at(index);
    edit(entry);
    manager.setFolderEntry(index, std::move(entry));
    return true;
}

inline bool setFolderStatus(SyncManager &manager, const QString &path, const SyncStatus &status)
{
    return editFolderEntry(manager, path, [&status](SyncFolder &f) { f.status = status; });
}

// A sync or update owns its entry while the entry reads syncing. Once someone else changed the status (the user
// ignored the folder, a reconcile replaced the list), the run's later writes are skipped: the user's decision wins.
template<typename Edit>
bool editRunningEntry(SyncManager &manager, const QString &path, Edit edit)
{
    const qsizetype index = manager.folderIndex(path);
    if (index < 0 || !manager.folders().at(index).status.is(SyncStatus::Case::syncing))
        return false;
    SyncFolder entry = manager.folders().at(index);
    edit(entry);
    manager.setFolderEntry(index, std::move(entry));
    return true;
}

inline bool setRunningStatus(SyncManager &manager, const QString &path, const SyncStatus &status)
{
    return editRunningEntry(manager, path, [&status](SyncFolder &f) { f.status = status; });
}
