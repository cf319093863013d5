#include "FolderStatusPresentation.h"

#include "ui/Theme.h"

#include <algorithm>
#include <vector>
#include <cmath>

namespace {

// The usual case answered without building name sets: the records name exactly the files on disk. Anything else
// (a missing name, duplicates, names that differ only in Unicode form) goes to the full counts.
bool namesMatchExactly(const SyncFolder &folder)
{
    if (!folder.uploadedFiles || !folder.cachedLocalFileMeta)
        return false;
    const LocalFiles &local = *folder.cachedLocalFileMeta;
    const UploadRecords &records = *folder.uploadedFiles;
    if (local.size() != records.size())
        return false;
    std::vector<bool> named(size_t(local.size()), false);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const qsizetype at = SyncFolderFiles::cacheIndex(records, i, local);
        if (at < 0 || named[size_t(at)])
            return false;
        named[size_t(at)] = true;
    }
    return true;
}

} // namespace

bool holdsNoImages(const SyncFolder &folder)
{
    return folder.imageCount == 0 && (!folder.cachedLocalFileMeta || folder.cachedLocalFileMeta->isEmpty());
}

bool hasPendingChanges(const SyncFolder &folder)
{
    if (holdsNoImages(folder))
        return false;
    if (!namesMatchExactly(folder) && (folder.newFileCount() >= 1 || folder.removedFileCount() >= 1))
        return true;
    return folder.hasModifiedFiles() || folder.needsMetadataBaseline();
}

FolderDisplayState folderDisplayState(const SyncFolder &folder)
{
    return folder.movedFrom ? FolderDisplayState::Moved : statusDisplayState(folder);
}

FolderDisplayState statusDisplayState(const SyncFolder &folder)
{
    return statusDisplayState(folder, hasPendingChanges);
}

FolderDisplayState statusDisplayState(const SyncFolder &folder,
                                      const std::function<bool(const SyncFolder &)> &hasPending)
{
    switch (folder.status.kind()) {
    case SyncStatus::Case::syncing:
        return FolderDisplayState::Syncing;
    case SyncStatus::Case::synced:
        if (holdsNoImages(folder))
            return FolderDisplayState::Emptied;
        return hasPending(folder) ? FolderDisplayState::PendingChanges : FolderDisplayState::Synced;
    case SyncStatus::Case::failed:
        return FolderDisplayState::Failed;
    case SyncStatus::Case::removedLocally:
        return FolderDisplayState::RemovedLocally;
    case SyncStatus::Case::ignored:
        return FolderDisplayState::Ignored;
    case SyncStatus::Case::notSynced:
        break;
    }
    return FolderDisplayState::NotSynced;
}

QColor statusToneColor(StatusTone tone, const QPalette &palette)
{
    using Theme::SystemColor;
    switch (tone) {
    case StatusTone::Purple:
        return Theme::systemColor(SystemColor::Purple, palette);
    case StatusTone::Orange:
        return Theme::systemColor(SystemColor::Orange, palette);
    case StatusTone::Green:
        return Theme::systemColor(SystemColor::Green, palette);
    case StatusTone::Red:
        return Theme::systemColor(SystemColor::Red, palette);
    case StatusTone::Secondary:
        return Theme::foreground(palette, Theme::Foreground::Secondary);
    case StatusTone::Blue:
        break;
    }
    return Theme::systemColor(SystemColor::Blue, palette);
}

int progressPercent(double fraction)
{
    // Casting NaN or an out-of-range double to int is undefined; the engine's fractions are n/total, so a hair of
    // slack keeps 0.57 (56.999... in binary) at 57 without rounding 0.999 up.
    if (!std::isfinite(fraction) || fraction <= 0)
        return 0;
    if (fraction >= 1)
        return 100;
    return static_cast<int>(std::trunc(fraction * 100 + 1e-9));
}

FolderStatusPresentation FolderStatusPresentation::of(const SyncFolder &folder)
{
    return of(folder, statusDisplayState(folder));
}

FolderStatusPresentation FolderStatusPresentation::of(const SyncFolder &folder, FolderDisplayState statusState)
{
    const FolderDisplayState state = folder.movedFrom ? FolderDisplayState::Moved : statusState;
    const QChar minus(0x2212);
    switch (state) {
    case FolderDisplayState::Moved:
        return {state, QStringLiteral("Flyttet"), StatusTone::Purple, QStringLiteral("arrow.triangle.branch")};
    case FolderDisplayState::Syncing:
        return {state, QStringLiteral("Laster opp %1%").arg(progressPercent(folder.status.progress())),
                StatusTone::Orange, QString()};
    case FolderDisplayState::Synced:
        return {state, QStringLiteral("Synkronisert"), StatusTone::Green, QStringLiteral("checkmark.circle.fill")};
    case FolderDisplayState::Emptied:
        return {state, QStringLiteral("Tom mappe"), StatusTone::Secondary, QStringLiteral("tray")};
    case FolderDisplayState::PendingChanges: {
        const qint64 added = folder.newFileCount();
        const qint64 removed = folder.removedFileCount();
        QString text;
        if (added >= 1 && removed >= 1)
            text = QStringLiteral("+%1 / %2%3").arg(added).arg(minus).arg(removed);
        else if (removed >= 1)
            text = QStringLiteral("%1%2 fjernet").arg(minus).arg(removed);
        else if (added >= 1)
            text = QStringLiteral("+%1 nye").arg(added);
        else
            text = QStringLiteral("Endret"); // modified images or a missing metadata baseline only
        return {state, text, StatusTone::Orange, QStringLiteral("exclamationmark.triangle.fill")};
    }
    case FolderDisplayState::Failed: {
        const QString message = folder.status.failureMessage();
        return {state, message.isEmpty() ? QStringLiteral("Feilet") : message, StatusTone::Red,
                QStringLiteral("exclamationmark.circle.fill")};
    }
    case FolderDisplayState::RemovedLocally:
        return {state, QStringLiteral("Fjernet lokalt"), StatusTone::Red, QStringLiteral("trash.circle.fill")};
    case FolderDisplayState::Ignored:
        return {state, QStringLiteral("Ignorert"), StatusTone::Secondary, QStringLiteral("eye.slash.circle.fill")};
    case FolderDisplayState::NotSynced:
        break;
    }
    return {FolderDisplayState::NotSynced, QStringLiteral("Ikke synkronisert"), StatusTone::Blue,
            QStringLiteral("arrow.up.circle.fill")};
}
