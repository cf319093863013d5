// The update of a synced folder: delete, replace and upload phases.

#include "SyncManager.h"

QCoro::Task<void> SyncManager::updateFolder(SyncFolder folder)
{
    Q_UNUSED(folder);
    co_return;
}
