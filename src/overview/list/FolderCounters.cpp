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

template <typename Pending>
FolderStatistics countStatistics(const QList<SyncFolder> &folders, Pending &&hasPending)
{
    FolderStatistics s;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const SyncFolder &folder = folders.at(i);
        // Nothing runs for a failed move or deletion: each counts where its row and actions are.
        if (folder.movedFrom) {
            ++s.movedCount;
            continue;
        }
        switch (folder.status.kind()) {
        case SyncStatus::Case::notSynced:
            ++s.syncingCount;
            break;
        case SyncStatus::Case::failed:
            ++(folder.removedGalleryId() ? s.removedCount : s.syncingCount);
            break;
        case SyncStatus::Case::synced:
            if (hasPending(i, folder))
                ++s.updatingCount;
            break;
        case SyncStatus::Case::removedLocally:
            ++s.removedCount;
            break;
        case SyncStatus::Case::syncing:
        case SyncStatus::Case::ignored:
            break;
        }
    }
    return s;
}

template <typename Pending>
StatusBarCounts countStatusBar(const QList<SyncFolder> &folders, Pending &&hasPending)
{
    StatusBarCounts c;
    c.folderCount = folders.size();
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const SyncFolder &folder = folders.at(i);
        c.imageCount += folder.imageCount;
        if (folder.movedFrom)
            ++c.movedCount;
        switch (folder.status.kind()) {
        case SyncStatus::Case::notSynced:
        case SyncStatus::Case::failed:
        case SyncStatus::Case::removedLocally:
            ++c.newCount;
            break;
        case SyncStatus::Case::synced:
            if (!folder.movedFrom)
                ++(hasPending(i, folder) ? c.changedCount : c.syncedCount);
            break;
        case SyncStatus::Case::syncing:
        case SyncStatus::Case::ignored:
            break;
        }
    }
    return c;
}

} // namespace

FolderStatistics folderStatistics(const QList<SyncFolder> &folders)
{
    return countStatistics(folders, [](qsizetype, const SyncFolder &folder) { return hasPendingChanges(folder); });
}

FolderStatistics folderStatistics(const QList<SyncFolder> &folders, PendingChangesCache &pending)
{
    const QList<bool> &answers = pending.answers(folders);
    return countStatistics(folders, [&answers](qsizetype i, const SyncFolder &) { return answers.at(i); });
}

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders)
{
    return countStatusBar(folders, [](qsizetype, const SyncFolder &folder) { return hasPendingChanges(folder); });
}

StatusBarCounts statusBarCounts(const QList<SyncFolder> &folders, PendingChangesCache &pending)
{
    const QList<bool> &answers = pending.answers(folders);
    return countStatusBar(folders, [&answers](qsizetype i, const SyncFolder &) { return answers.at(i); });
}
