#pragma once

// How a save reaches the ledger's writer at a cost that follows what changed, and without the writer holding the
// engine's containers (an edit of a list that a pending save still shares would copy all of it).
//
// The saving side hands over only what differs from what it handed last: a folder whose records are the very
// records handed before did not change, and a set that is the very set handed before did not either. The writer
// folds each handover into the changes it has not logged yet. Both sides keep copies of what they compare with:
// shared data that a copy holds is neither changed in place nor freed, so the same data means the same values.

#include "LedgerLog.h"

#include <vector>

// A folder as the state file sees it.
struct ListedFolder {
    QString path;
    std::optional<UploadRecords> records;
};

// What one save hands the writer: the values that changed since the save before it.
struct StateHandover {
    QString watchFolder;
    UploadJournalEntries entries;
    std::optional<QSet<QString>> ignoredPaths;
    std::optional<QSet<QString>> knownGalleryIds;
    std::optional<QSet<QString>> dismissedGalleryIds;
    std::optional<PendingFolderUploads> pendingUploads;
    std::optional<QHash<QString, QString>> galleryLinks;
    std::optional<QList<ListedFolder>> folders; // the whole list, when a folder came, went or moved
    QList<ListedFolder> edits;                  // folders whose records changed; each path is listed once

    // Takes in the handover of a later save, so that one write carries both.
    void merge(StateHandover later);
};

// The saving side; one thread saves.
class HandoverMaker
{
public:
    StateHandover make(const StateSources &sources);

private:
    bool m_first = true;
    std::vector<ListedFolder> m_folders; // what was handed, in list order
    bool m_uniquePaths = true;           // otherwise every save hands the whole list
    QSet<QString> m_ignoredPaths;
    QSet<QString> m_knownGalleryIds;
    QSet<QString> m_dismissedGalleryIds;
    PendingFolderUploads m_pendingUploads;
    QHash<QString, QString> m_galleryLinks;
};

// The writer's side: turns handovers into changes over the state the log holds, so that the state the sources
// describe is always `logged` with `unlogged` applied. A handed value equal to the logged one replaces it, so that
// the two share their data; absorb() then returns true.
class HandoverIntake
{
public:
    bool absorb(StateHandover handover, LedgerState &logged, ledgerlog::Changes &unlogged);

private:
    QSet<QString> m_listed; // the paths of the folder list
    PendingFolderUploads m_pendingUploads;
    QHash<QString, QString> m_galleryLinks;
};
