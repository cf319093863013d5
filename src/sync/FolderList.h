#pragma once

// The engine's folder list and what is kept beside it: the places by path and by relative path, the counts by
// status, the galleries held, and the places the next save must compare. It changes only through its three
// mutators (edit one entry, append one, replace them all), each of which keeps all of that and then tells its
// listener, so no change of the list can forget a part. A placeholder of a removed folder's gallery leaves the list
// as soon as an entry is linked to that gallery again.

#include "FolderStatusCounts.h"
#include "SyncFolder.h"

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QString>

#include <optional>

class FolderList
{
public:
    // Told after each change, with the list already as it is now.
    class Listener
    {
    public:
        virtual void entryEdited(qsizetype index, const SyncFolder &before) = 0;
        virtual void entryAppended(qsizetype index) = 0;
        virtual void listReplaced(const QList<SyncFolder> &before) = 0;

    protected:
        ~Listener() = default;
    };

    explicit FolderList(Listener &listener) : m_listener(listener) {}
    FolderList(const FolderList &) = delete;
    FolderList &operator=(const FolderList &) = delete;

    // ---- reading
    const QList<SyncFolder> &entries() const { return m_entries; }
    operator const QList<SyncFolder> &() const { return m_entries; }
    qsizetype size() const { return m_entries.size(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    const SyncFolder &at(qsizetype index) const { return m_entries.at(index); }
    QList<SyncFolder>::const_iterator begin() const { return m_entries.cbegin(); }
    QList<SyncFolder>::const_iterator end() const { return m_entries.cend(); }
    QList<SyncFolder>::const_iterator cbegin() const { return m_entries.cbegin(); }
    QList<SyncFolder>::const_iterator cend() const { return m_entries.cend(); }
    // The place of the entry with this path (the first, should two share it); -1 when none. Paths compare exactly.
    qsizetype indexOf(const QString &path) const;
    // The places of the entries with this relative path, in no particular order.
    QList<qsizetype> placesOf(const QString &relativePath) const;
    const FolderStatusCounts &statusCounts() const { return m_statusCounts; }
    // ---- galleries held: by a synced entry, and by a run from the moment it makes or adopts its gallery until it
    // ends, whatever its entry shows meanwhile (a first sync of a big folder uploads for minutes)
    void holdGallery(const QString &path, const QString &galleryId);
    void releaseGallery(const QString &path, const QString &galleryId); // one hold of that path
    // Whether the gallery is held by a folder other than the one at path.
    bool isHeldByOther(const QString &path, const QString &galleryId) const;

    // ---- the three mutators
    // Replaces the entry at index (same path); false, and nothing told, when it equals the entry there.
    bool edit(qsizetype index, SyncFolder entry);
    void append(SyncFolder entry);
    // False, and nothing told, when the list equals the one there.
    bool replace(QList<SyncFolder> entries);

    // The places changed since the last call, for the save to compare only those; nothing: every entry.
    std::optional<QList<qsizetype>> takePlacesToSave();

private:
    void notePlaceToSave(qsizetype index);
    // Replaces the list without the placeholder of the gallery the entry is linked to, when there is one.
    void dropPlaceholderOf(const SyncFolder &entry);

    Listener &m_listener;
    QList<SyncFolder> m_entries;
    FolderStatusCounts m_statusCounts;
    QHash<QString, QStringList> m_runHolds; // gallery id -> the paths of the runs holding it, once per run
    std::optional<QList<qsizetype>> m_placesToSave; // nothing: unknown (the list was replaced or grew)
    static constexpr qsizetype maxPlacesToSave = 256;
    // Built when first asked after a change that moved places; kept an entry at a time otherwise.
    mutable QHash<QString, qsizetype> m_indexByPath;
    mutable bool m_indexByPathStale = true;
    mutable QMultiHash<QString, qsizetype> m_placesByRelative;
    mutable bool m_placesByRelativeStale = true;
};
