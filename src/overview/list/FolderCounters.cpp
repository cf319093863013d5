#include "FolderCounters.h"

#include "FolderStatusPresentation.h"

bool isMovableFolder(const SyncFolder &folder)
{
    return folder.movedFrom && folder.status.is(SyncStatus::Case::synced);
}

bool PendingChangesCache::operator()(const SyncFolder &folder)
{
    const auto it = m_entries.constFind(folder.path);
    if (it != m_entries.cend() && it->folder == folder)
        return it->pending;
    const bool pending = hasPendingChanges(folder);
    m_entries.insert(folder.path, {folder, pending});
    return pending;
}

void PendingChangesCache::forgetBeyond(qsizetype liveFolders)
{
    // Entries of folders that went away are dropped all at once now and then, not tracked one by one.
    if (m_entries.size() > 2 * liveFolders + 64)
        m_entries.clear();
}

const QList<bool> &PendingChangesCache::answers(const QList<SyncFolder> &folders)
{
    // The last list is a copy of its own: sharing the engine's would make the engine copy every entry at its
    // next change of one. A folder equal to the one at its place in that copy keeps its answer.
    if (folders.size() != m_list.size()) {
        QList<SyncFolder> list;
        list.reserve(folders.size());
        QList<bool> answers(folders.size(), false);
        for (qsizetype i = 0; i < folders.size(); ++i) {
            const SyncFolder &folder = folders.at(i);
            list.append(folder);
            if (folder.status.is(SyncStatus::Case::synced))
                answers[i] = i < m_list.size() && m_list.at(i) == folder ? m_answers.at(i) : (*this)(folder);
        }
        m_list = std::move(list);
        m_answers = std::move(answers);
    } else {
        for (qsizetype i = 0; i < folders.size(); ++i) {
            const SyncFolder &folder = folders.at(i);
            if (m_list.at(i) == folder)
                continue;
            m_list[i] = folder;
            m_answers[i] = folder.status.is(SyncStatus::Case::synced) && (*this)(folder);
        }
    }
    forgetBeyond(folders.size());
    return m_answers;
}

namespace {

template <typename Counts, typename Pending>
Counts countAll(const QList<SyncFolder> &folders, Pending &&hasPending)
{
    Counts counts;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const SyncFolder &folder = folders.at(i);
        counts.count(folder, asksPending(folder) && hasPending(i, folder));
    }
    return counts;
}

} // namespace

bool asksPending(const SyncFolder &folder)
{
    return folder.status.is(SyncStatus::Case::synced) && !folder.movedFrom;
}

void FolderStatistics::count(const SyncFolder &folder, bool pending, int sign)
{
    // Nothing runs for a failed move or deletion: each counts where its row and actions are.
    if (folder.movedFrom) {
        movedCount += sign;
        return;
    }
    switch (folder.status.kind()) {
    case SyncStatus::Case::notSynced:
        syncingCount += sign;
        break;
    case SyncStatus::Case::failed:
        (folder.removedGalleryId() ? removedCount : syncingCount) += sign;
        break;
    case SyncStatus::Case::synced:
        if (pending)
            updatingCount += sign;
        break;
    case SyncStatus::Case::removedLocally:
        removedCount += sign;
        break;
    case SyncStatus::Case::syncing:
    case SyncStatus::Case::ignored:
        break;
    }
}

void StatusBarCounts::count(const SyncFolder &folder, bool pending, int sign)
{
    folderCount += sign;
    imageCount += sign * folder.imageCount;
    if (folder.movedFrom)
        movedCount += sign;
    switch (folder.status.kind()) {
    case SyncStatus::Case::notSynced:
    case SyncStatus::Case::failed:
    case SyncStatus::Case::removedLocally:
        newCount += sign;
        break;
    case SyncStatus::Case::synced:
        if (!folder.movedFrom)
            (pending ? changedCount : syncedCount) += sign;
        break;
    case SyncStatus::Case::syncing:
    case SyncStatus::Case::ignored:
        break;
    }
}

FolderStatistics folderStatistics(const QList<SyncFolder> &folders)
{
    return countAll<FolderStatistics>(folders,
                                      [](qsizetype, const SyncFolder &folder) { return hasPendingChanges(folder); });
}

FolderStatistics folderStatistics(const QList<SyncFolder> &folders, PendingChangesCache &pending)
{
    const QList<bool> &answers = pending.answers(folders);
    return countAll<FolderStatistics>(folders, [&answers](qsizetype i, const SyncFolder &) { return answers.at(i); });
}

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders)
{
    return countAll<StatusBarCounts>(folders,
                                     [](qsizetype, const SyncFolder &folder) { return hasPendingChanges(folder); });
}

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders, PendingChangesCache &pending)
{
    const QList<bool> &answers = pending.answers(folders);
    return countAll<StatusBarCounts>(folders, [&answers](qsizetype i, const SyncFolder &) { return answers.at(i); });
}
