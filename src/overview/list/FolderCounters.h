#pragma once

// The overview's two summaries of the whole folder list, as pure functions: the quick-actions bar's counters (each
// folder in at most one) and the status bar's counters (which overlap on purpose).

#include "sync/SyncFolder.h"

#include <QHash>
#include <QList>

#include <memory>

struct FolderStatistics {
    qint64 syncingCount = 0;  // not synced or failed, which the engine syncs: "%lld synkroniseres…"
    qint64 updatingCount = 0; // synced with pending changes: "%lld oppdateres…"
    qint64 movedCount = 0;    // moved, whatever the status: "%lld flyttet — Flytt"
    qint64 removedCount = 0;  // removed locally, also when deleting its gallery failed: "%lld fjernet lokalt"

    bool isEmpty() const { return !syncingCount && !updatingCount && !movedCount && !removedCount; }
    // Counts the folder in (sign 1) or out again (sign -1); pending is asked only where asksPending says.
    void count(const SyncFolder &folder, bool pending, int sign = 1);
    bool operator==(const FolderStatistics &) const = default;
};

// Both summaries tell pending changes apart only for a synced folder that did not move.
bool asksPending(const SyncFolder &folder);

// A move is carried out only for a synced folder. A moved folder of another status (a move that failed) still
// counts as moved, where its row shows it, but the bar's button leaves it alone.
bool isMovableFolder(const SyncFolder &folder);

// Each folder's pending-changes answer, kept while the folder's value stays the same: the windows count the whole
// list again on every change of any folder (progress included), and the answer walks the folder's file records.
// The overview window shares one between its list and both bars, so each folder's records are walked once.
class PendingChangesCache
{
public:
    bool operator()(const SyncFolder &folder);
    void forgetBeyond(qsizetype liveFolders);
    // The answer of every synced folder of a list, by position (false for the others). A folder equal to the one
    // at its place in the last list asked reuses that answer without a lookup, so the same list asked again (both
    // bars count the one list) costs a comparison of each entry.
    const QList<bool> &answers(const QList<SyncFolder> &folders);

private:
    struct Entry {
        SyncFolder folder;
        bool pending = false;
    };
    QHash<QString, Entry> m_entries;
    QList<SyncFolder> m_list; // the last list asked, as a copy of its own
    QList<bool> m_answers;
};

FolderStatistics folderStatistics(const QList<SyncFolder> &folders);
FolderStatistics folderStatistics(const QList<SyncFolder> &folders, PendingChangesCache &pending);

struct StatusBarCounts {
    qint64 folderCount = 0;
    qint64 imageCount = 0;
    qint64 syncedCount = 0;  // synced, nothing pending, not moved: "%lld syncet"
    qint64 newCount = 0;     // not synced, failed or removed locally, moved or not: "%lld nye"
    qint64 movedCount = 0;   // moved, any status: "%lld flyttet"
    qint64 changedCount = 0; // synced with pending changes, not moved: "%lld endret"

    // Counts the folder in (sign 1) or out again (sign -1); pending is asked only for a synced folder.
    void count(const SyncFolder &folder, bool pending, int sign = 1);
    bool operator==(const StatusBarCounts &) const = default;
};

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders);
StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders, PendingChangesCache &pending);

// Counts over the list kept as it changes an entry at a time: an edit costs the entry, not the list. Each entry's
// pending answer is kept at its place, so that the entry can be counted out again as it was counted in.
template <typename Counts>
class FolderTally
{
public:
    void reset(const QList<SyncFolder> &folders, PendingChangesCache &pending)
    {
        const QList<bool> &answers = pending.answers(folders);
        m_counts = {};
        m_pendingAt = QList<bool>(folders.size(), false);
        for (qsizetype i = 0; i < folders.size(); ++i) {
            m_pendingAt[i] = asksPending(folders.at(i)) && answers.at(i);
            count(folders.at(i), m_pendingAt.at(i), 1);
        }
    }
    void replace(qsizetype index, const SyncFolder &before, const SyncFolder &after, PendingChangesCache &pending)
    {
        count(before, m_pendingAt.at(index), -1);
        m_pendingAt[index] = asksPending(after) && pending(after);
        count(after, m_pendingAt.at(index), 1);
    }
    void append(const SyncFolder &folder, PendingChangesCache &pending)
    {
        m_pendingAt.append(asksPending(folder) && pending(folder));
        count(folder, m_pendingAt.constLast(), 1);
    }

    const Counts &counts() const { return m_counts; }
    qsizetype size() const { return m_pendingAt.size(); }
    // Entries counted in or out so far: what the edits cost.
    qint64 entriesCounted() const { return m_entriesCounted; }

private:
    void count(const SyncFolder &folder, bool pending, int sign)
    {
        m_counts.count(folder, pending, sign);
        ++m_entriesCounted;
    }

    Counts m_counts;
    qint64 m_entriesCounted = 0;
    QList<bool> m_pendingAt; // by place in the list: the answer the entry was counted with
};

using StatisticsTally = FolderTally<FolderStatistics>;
using StatusBarTally = FolderTally<StatusBarCounts>;
