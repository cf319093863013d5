#include "MenuBarStatus.h"

#include "sync/SyncManager.h"

MenuBarStatus MenuBarStatus::of(const std::optional<QString> &reconcileError, qsizetype syncingFolders,
                                bool hasCompletedInitialReconcile, bool hasWatchFolder)
{
    if (reconcileError)
        return {Rule::ReconcileError, *reconcileError};
    if (syncingFolders > 0) {
        const QString noun = syncingFolders == 1 ? QStringLiteral("mappe synkes") : QStringLiteral("mapper synkes");
        return {Rule::Syncing, QString::number(syncingFolders) + QLatin1Char(' ') + noun + QStringLiteral("…")};
    }
    if (!hasCompletedInitialReconcile && hasWatchFolder)
        return {Rule::CheckingServer, QStringLiteral("Sjekker server…")};
    if (hasWatchFolder)
        return {Rule::Watching, QStringLiteral("Klart — overvåker mappe")};
    return {Rule::ChooseFolder, QStringLiteral("Velg mappe i innstillinger")};
}

MenuBarStatus MenuBarStatus::of(const SyncManager &syncManager)
{
    const auto syncing = std::count_if(syncManager.folders().cbegin(), syncManager.folders().cend(),
                                       [](const SyncFolder &folder) {
                                           return folder.status.is(SyncStatus::Case::syncing);
                                       });
    return of(syncManager.reconcileError(), syncing, syncManager.hasCompletedInitialReconcile(),
              syncManager.hasWatchFolder());
}
