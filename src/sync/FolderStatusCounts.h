#pragma once

#include "SyncFolder.h"

#include <QList>

#include <array>

// How many entries of a folder list are in each status. Kept as the list changes, an entry at a time, so a view that
// shows the counts does not walk the list on every edit.
class FolderStatusCounts
{
public:
    FolderStatusCounts() = default;
    explicit FolderStatusCounts(const QList<SyncFolder> &folders);

    qsizetype count(SyncStatus::Case status) const { return m_counts.at(size_t(status)); }

    void add(const SyncFolder &folder) { ++slot(folder); }
    void remove(const SyncFolder &folder) { --slot(folder); }
    void replace(const SyncFolder &before, const SyncFolder &after)
    {
        remove(before);
        add(after);
    }

    bool operator==(const FolderStatusCounts &) const = default;

private:
    qsizetype &slot(const SyncFolder &folder) { return m_counts.at(size_t(folder.status.kind())); }

    std::array<qsizetype, size_t(SyncStatus::Case::removedLocally) + 1> m_counts{};
};
