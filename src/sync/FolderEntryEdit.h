#pragma once

// Writes to one entry of the manager's folder list. The list may have changed during any await, so every write
// looks the entry up again by path and is skipped when it is gone.

#include "SyncManager.h"

// Paths compare exactly: two names that differ only in Unicode normalisation are two folders on disk.
inline qsizetype folderEntryIndex(const QList<SyncFolder> &folders, const QString &path)
{
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (folders.at(i).path == path)
            return i;
    }
    return -1;
}

inline std::optional<SyncFolder> liveFolderEntry(const SyncManager &manager, const QString &path)
{
    const qsizetype index = folderEntryIndex(manager.folders(), path);
    if (index < 0)
        return std::nullopt;
    return manager.folders().at(index);
}

// Applies edit to the live entry through the observed setter; false when the entry is gone.
template<typename Edit>
bool editFolderEntry(SyncManager &manager, const QString &path, Edit edit)
{
    const qsizetype index = folderEntryIndex(manager.folders(), path);
    if (index < 0)
        return false;
    QList<SyncFolder> folders = manager.folders();
    edit(folders[index]);
    manager.setFolders(folders);
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
    const qsizetype index = folderEntryIndex(manager.folders(), path);
    if (index < 0 || !manager.folders().at(index).status.is(SyncStatus::Case::syncing))
        return false;
    QList<SyncFolder> folders = manager.folders();
    edit(folders[index]);
    manager.setFolders(folders);
    return true;
}

inline bool setRunningStatus(SyncManager &manager, const QString &path, const SyncStatus &status)
{
    return editRunningEntry(manager, path, [&status](SyncFolder &f) { f.status = status; });
}
