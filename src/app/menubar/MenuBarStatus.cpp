#include "MenuBarStatus.h"

#include "sync/SyncManager.h"

MenuBarStatus MenuBarStatus::of(const std::optional<QString> &reconcileError, qsizetype syncingFolders,
                                qsizetype failedFolders, bool hasCompletedInitialReconcile, bool hasWatchFolder)
{
    if (reconcileError)
        return {Rule::ReconcileError, *reconcileError};
    if (syncingFolders > 0) {
        const QString noun = syncingFolders == 1 ? QStringLiteral("mappe synkes") : QStringLiteral("mapper synkes");
        return {Rule::Syncing, QString::number(syncingFolders) + QLatin1Char(' ') + noun + QStringLiteral("…")};
    }
    if (failedFolders > 0) {
        const QString noun = failedFolders == 1 ? QStringLiteral("mappe feilet") : QStringLiteral("mapper feilet");
        return {Rule::FolderFailed, QString::number(failedFolders) + QLatin1Char(' ') + noun
                                        + QStringLiteral(" — se oversikten")};
    }
    if (!hasCompletedInitialReconcile && hasWatchFolder)
        return {Rule::CheckingServer, QStringLiteral("Sjekker server…")};
    if (hasWatchFolder)
        return {Rule::Watching, QStringLiteral("Klart — overvåker mappe")};
    return {Rule::ChooseFolder, QStringLiteral("Velg mappe i innstillinger")};
}

MenuBarStatus MenuBarStatus::of(const SyncManager &syncManager)
{
    const FolderStatusCounts &counts = syncManager.statusCounts();
    return of(syncManager.reconcileError(), counts.count(SyncStatus::Case::syncing),
              counts.count(SyncStatus::Case::failed), syncManager.hasCompletedInitialReconcile(),
              syncManager.hasWatchFolder());
}
