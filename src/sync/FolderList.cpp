#include "FolderList.h"

#include <algorithm>
#include <utility>

qsizetype FolderList::indexOf(const QString &path) const
{
    if (m_indexByPathStale) {
        m_indexByPath.clear();
        m_indexByPath.reserve(m_entries.size());
        for (qsizetype i = m_entries.size() - 1; i >= 0; --i) // the first of equal paths wins
            m_indexByPath.insert(m_entries.at(i).path, i);
        m_indexByPathStale = false;
    }
    return m_indexByPath.value(path, -1);
}

QList<qsizetype> FolderList::placesOf(const QString &relativePath) const
{
    if (m_placesByRelativeStale) {
        m_placesByRelative.clear();
        m_placesByRelative.reserve(m_entries.size());
        for (qsizetype i = 0; i < m_entries.size(); ++i)
            m_placesByRelative.insert(m_entries.at(i).relativePath, i);
        m_placesByRelativeStale = false;
    }
    return m_placesByRelative.values(relativePath);
}

bool FolderList::isHeldByOther(const QString &path, const QString &galleryId) const
{
    qsizetype holders = m_statusCounts.holders(galleryId);
    const qsizetype self = indexOf(path);
    if (self >= 0 && m_entries.at(self).status.is(SyncStatus::Case::synced)
        && m_entries.at(self).status.galleryId() == galleryId)
        --holders;
    if (holders > 0)
        return true;
    const QStringList runs = m_runHolds.value(galleryId);
    return std::any_of(runs.cbegin(), runs.cend(), [&path](const QString &run) { return run != path; });
}

void FolderList::holdGallery(const QString &path, const QString &galleryId)
{
    m_runHolds[galleryId].append(path);
}

void FolderList::releaseGallery(const QString &path, const QString &galleryId)
{
    const auto found = m_runHolds.find(galleryId);
    if (found == m_runHolds.end())
        return;
    found->removeOne(path);
    if (found->isEmpty())
        m_runHolds.erase(found);
}

bool FolderList::edit(qsizetype index, SyncFolder entry)
{
    Q_ASSERT(index >= 0 && index < m_entries.size() && m_entries.at(index).path == entry.path);
    // Records from the state file or an upload keep names of their own until they meet the scan's cache.
    if (entry.needsSharedNames())
        entry.shareNames();
    if (m_entries.at(index) == entry)
        return false;
    m_statusCounts.replace(m_entries.at(index), entry);
    if (m_entries.at(index).relativePath != entry.relativePath)
        m_placesByRelativeStale = true;
    const SyncFolder before = std::exchange(m_entries[index], std::move(entry));
    notePlaceToSave(index);
    m_listener.entryEdited(index, before);
    dropPlaceholderOf(m_entries.at(index));
    return true;
}

void FolderList::append(SyncFolder entry)
{
    if (entry.needsSharedNames())
        entry.shareNames();
    const qsizetype index = m_entries.size();
    if (!m_indexByPathStale && !m_indexByPath.contains(entry.path))
        m_indexByPath.insert(entry.path, index);
    if (!m_placesByRelativeStale)
        m_placesByRelative.insert(entry.relativePath, index);
    m_statusCounts.add(entry);
    m_entries.append(std::move(entry));
    m_placesToSave.reset();
    m_listener.entryAppended(index);
    dropPlaceholderOf(m_entries.at(index));
}

bool FolderList::replace(QList<SyncFolder> entries)
{
    // Each name is stored once from here on; a list that needs none of it is not copied.
    const auto needsSharing = [](const SyncFolder &entry) { return entry.needsSharedNames(); };
    if (std::any_of(entries.cbegin(), entries.cend(), needsSharing)) {
        for (SyncFolder &entry : entries) {
            if (entry.needsSharedNames())
                entry.shareNames();
        }
    }
    if (m_entries == entries)
        return false;
    FolderStatusCounts counts(entries);
    // A placeholder stands for a gallery no folder is linked to: a folder linked to it again takes its place.
    const auto linkedPlaceholder = [&counts](const SyncFolder &entry) {
        const std::optional<QString> galleryId = entry.removedGalleryId();
        return galleryId && entry.path == SyncFolder::placeholderPath(*galleryId) && counts.holders(*galleryId) > 0;
    };
    if (std::any_of(entries.cbegin(), entries.cend(), linkedPlaceholder)) {
        entries.removeIf(linkedPlaceholder);
        counts = FolderStatusCounts(entries);
        if (m_entries == entries)
            return false;
    }
    const QList<SyncFolder> before = std::exchange(m_entries, std::move(entries));
    m_placesToSave.reset();
    m_indexByPathStale = true;
    m_placesByRelativeStale = true;
    m_statusCounts = std::move(counts);
    m_listener.listReplaced(before);
    return true;
}

void FolderList::dropPlaceholderOf(const SyncFolder &entry)
{
    if (!entry.status.is(SyncStatus::Case::synced))
        return;
    const QString path = SyncFolder::placeholderPath(entry.status.galleryId());
    if (indexOf(path) < 0)
        return;
    QList<SyncFolder> kept = m_entries;
    kept.removeIf([&path](const SyncFolder &listed) { return listed.path == path; });
    replace(std::move(kept));
}

std::optional<QList<qsizetype>> FolderList::takePlacesToSave()
{
    return std::exchange(m_placesToSave, QList<qsizetype>());
}

void FolderList::notePlaceToSave(qsizetype index)
{
    if (!m_placesToSave)
        return;
    // A run's progress edits one entry many times between two saves.
    if (!m_placesToSave->isEmpty() && m_placesToSave->last() == index)
        return;
    if (m_placesToSave->size() >= maxPlacesToSave)
        m_placesToSave.reset(); // comparing every entry costs less by now
    else
        m_placesToSave->append(index);
}
