#pragma once

// How one folder's state is told to the user: one decision, one text, one colour and one symbol, shared by every
// view that shows a folder's status (rows, inspector header, counters), so that they always agree.

#include "sync/SyncFolder.h"

#include <QColor>
#include <QString>

#include <functional>

class QPalette;

// A folder whose last scan found no images. The engine deletes nothing from the gallery of such a folder, so
// its gallery keeps every image and nothing waits to be done for it.
bool holdsNoImages(const SyncFolder &folder);

// Any of the four changes waiting in a folder's uploaded gallery: new images, removed images, modified images, a
// missing metadata baseline (tested in this order); none for a folder that holds no images. Meaningful for a synced
// folder; callers pair it with the status.
bool hasPendingChanges(const SyncFolder &folder);

// The one decision every status view makes, in its order: a moved folder is moved whatever its status; then the
// status; a synced folder splits into emptied, clean and pending. Counters take an emptied one for synced.
enum class FolderDisplayState {
    Moved,
    Syncing,
    Synced,
    Emptied,
    PendingChanges,
    Failed,
    RemovedLocally,
    Ignored,
    NotSynced
};
FolderDisplayState folderDisplayState(const SyncFolder &folder);
// The status alone, a move not considered (the tree's counts classify by status).
FolderDisplayState statusDisplayState(const SyncFolder &folder);
// The same, asking hasPending (asked only for a synced folder) in place of hasPendingChanges: lets a caller reuse
// answers it keeps.
FolderDisplayState statusDisplayState(const SyncFolder &folder,
                                      const std::function<bool(const SyncFolder &)> &hasPending);

// Named colours of the status texts; resolved against a palette when drawn (light and dark differ).
enum class StatusTone { Purple, Orange, Green, Red, Secondary, Blue };
QColor statusToneColor(StatusTone tone, const QPalette &palette);

// A progress fraction as the whole percentage shown: truncated, clamped to 0..100, not-a-number as 0.
int progressPercent(double fraction);

struct FolderStatusPresentation {
    FolderDisplayState state = FolderDisplayState::NotSynced;
    QString text;
    StatusTone tone = StatusTone::Blue;
    QString symbol; // empty while uploading: a spinner stands in

    static FolderStatusPresentation of(const SyncFolder &folder);
    // With the folder's statusDisplayState already known (it is the costly part).
    static FolderStatusPresentation of(const SyncFolder &folder, FolderDisplayState statusState);

    bool showsSpinner() const { return symbol.isEmpty(); }
    QColor color(const QPalette &palette) const { return statusToneColor(tone, palette); }

    bool operator==(const FolderStatusPresentation &) const = default;
};
