#pragma once

#include "SyncFolder.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>

// How many entries of a folder list are in each status, and how many synced ones hold each gallery. Kept as the
// list changes, an entry at a time, so neither a view that shows the counts nor a first sync asking whether a
// gallery is taken walks the list.
class FolderStatusCounts
{
public:
    FolderStatusCounts() = default;
    explicit FolderStatusCounts(const QList<SyncFolder> &folders);

    qsizetype count(SyncStatus::Case status) const { return m_counts.at(size_t(status)); }

    // Synced entries linked to the gallery.
    qsizetype holders(const QString &galleryId) const { return m_holders.value(galleryId); }

    void add(const SyncFolder &folder);
    void remove(const SyncFolder &folder);
    void replace(const SyncFolder &before, const SyncFolder &after)
    {
        remove(before);
        add(after);
    }

    bool operator==(const FolderStatusCounts &) const = default;

private:
    qsizetype &slot(const SyncFolder &folder) { return m_counts.at(size_t(folder.status.kind())); }

    std::array<qsizetype, size_t(SyncStatus::Case::removedLocally) + 1> m_counts{};
    QHash<QString, qsizetype> m_holders;
};
