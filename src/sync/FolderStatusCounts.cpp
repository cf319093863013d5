#include "FolderStatusCounts.h"

FolderStatusCounts::FolderStatusCounts(const QList<SyncFolder> &folders)
{
    for (const SyncFolder &folder : folders)
        add(folder);
}
