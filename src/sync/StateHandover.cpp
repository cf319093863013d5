#include "StateHandover.h"

#include <utility>

// ---- the handover

void StateHandover::merge(StateHandover later)
{
    watchFolder = std::move(later.watchFolder);
    entries = std::move(later.entries);
    const auto take = [](auto &mine, auto &theirs) {
        if (theirs)
            mine = std::move(theirs);
    };
    take(ignoredPaths, later.ignoredPaths);
    take(knownGalleryIds, later.knownGalleryIds);
    take(dismissedGalleryIds, later.dismissedGalleryIds);
    take(pendingUploads, later.pendingUploads);
    take(galleryLinks, later.galleryLinks);
    if (later.folders) {
        folders = std::move(later.folders);
        edits = std::move(later.edits);
    } else {
        edits.append(std::move(later.edits)); // in order: a later edit of the same folder wins
    }
}

// ---- the saving side

namespace {

bool sameRecords(const std::optional<UploadRecords> &a, const std::optional<UploadRecords> &b)
{
    return a.has_value() == b.has_value() && (!a || a->isSharedWith(*b));
}

// Hands the value over when it differs from what was handed last.
template<typename T>
void handOver(T &handed, const T &now, std::optional<T> &slot, bool always)
{
    // Equal containers are first compared by their shared data, which costs nothing.
    if (!always && handed == now) {
        handed = now; // shares it from now on, should it only have been equal
        return;
    }
    handed = now;
    slot = now;
}

} // namespace

StateHandover HandoverMaker::make(const StateSources &sources)
{
    StateHandover handover;
    handover.watchFolder = sources.watchFolder;
    handover.entries = sources.entries;
    const bool first = std::exchange(m_first, false);
    handOver(m_ignoredPaths, sources.ignoredPaths, handover.ignoredPaths, first);
    handOver(m_knownGalleryIds, sources.knownGalleryIds, handover.knownGalleryIds, first);
    handOver(m_dismissedGalleryIds, sources.dismissedGalleryIds, handover.dismissedGalleryIds, first);
    handOver(m_pendingUploads, sources.pendingUploads, handover.pendingUploads, first);
    handOver(m_galleryLinks, sources.galleryLinks, handover.galleryLinks, first);

    // The list in step with what was handed: only the folders whose records are other data go over.
    const QList<SyncFolder> &folders = sources.folders;
    bool sameShape = !first && m_uniquePaths && qsizetype(m_folders.size()) == folders.size();
    const auto compare = [&](qsizetype i) {
        const SyncFolder &folder = folders.at(i);
        ListedFolder &handed = m_folders[size_t(i)];
        if (!folder.path.isSharedWith(handed.path)) {
            if (folder.path != handed.path)
                return false;
            handed.path = folder.path;
        }
        if (!sameRecords(folder.uploadedFiles, handed.records)) {
            handed.records = folder.uploadedFiles;
            handover.edits.append({folder.path, folder.uploadedFiles});
        }
        return true;
    };
    if (sameShape && sources.changedPlaces) {
        for (const qsizetype i : *sources.changedPlaces)
            sameShape = sameShape && i >= 0 && i < folders.size() && compare(i);
    } else {
        for (qsizetype i = 0; sameShape && i < folders.size(); ++i)
            sameShape = compare(i);
    }
    if (sameShape)
        return handover;

    handover.edits.clear();
    m_folders.clear();
    m_folders.reserve(size_t(folders.size()));
    QList<ListedFolder> whole;
    whole.reserve(folders.size());
    QSet<QString> paths;
    paths.reserve(folders.size());
    for (const SyncFolder &folder : folders) {
        m_folders.push_back({folder.path, folder.uploadedFiles});
        whole.append({folder.path, folder.uploadedFiles});
        paths.insert(folder.path);
    }
    // A path listed twice: which of its folders gives the records depends on the whole list.
    m_uniquePaths = paths.size() == folders.size();
    handover.folders = std::move(whole);
    return handover;
}

// ---- the writer's side

namespace {

// Notes the new value of a key, or that it has the value the log holds. An equal value takes the logged one's
// place: the engine's data is then held once, and the copy read from disk at start is let go. True when it did.
template<typename T>
bool note(QHash<QString, std::optional<T>> &unlogged, QHash<QString, T> &logged, const QString &key,
          std::optional<T> value)
{
    const auto found = logged.constFind(key);
    const bool asLogged = value ? found != logged.cend() && *found == *value : found == logged.cend();
    if (!asLogged) {
        unlogged.insert(key, std::move(value));
        return false;
    }
    unlogged.remove(key);
    if (!value || found->isSharedWith(*value))
        return false;
    logged[key] = std::move(*value);
    return true;
}

template<typename T>
void note(std::optional<T> &unlogged, const T &logged, T value)
{
    if (value == logged)
        unlogged.reset();
    else
        unlogged = std::move(value);
}

// Makes the state's map at these keys exactly `wanted`: every other key it holds, logged or not, goes.
template<typename T>
bool noteWhole(QHash<QString, std::optional<T>> &unlogged, QHash<QString, T> &logged, const QHash<QString, T> &wanted)
{
    bool shared = false;
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        shared = note(unlogged, logged, it.key(), std::optional<T>(it.value())) || shared;
    for (auto it = logged.cbegin(); it != logged.cend(); ++it) {
        if (!wanted.contains(it.key()))
            note(unlogged, logged, it.key(), std::optional<T>());
    }
    const QList<QString> noted = unlogged.keys();
    for (const QString &key : noted) {
        if (!wanted.contains(key))
            note(unlogged, logged, key, std::optional<T>());
    }
    return shared;
}

} // namespace

bool HandoverIntake::absorb(StateHandover handover, LedgerState &logged, ledgerlog::Changes &unlogged)
{
    bool shared = false;
    std::optional<QString> watchFolder;
    if (!handover.watchFolder.isEmpty())
        watchFolder = std::move(handover.watchFolder);
    if (watchFolder == logged.watchFolder)
        unlogged.watchFolder.reset();
    else
        unlogged.watchFolder = std::move(watchFolder);
    if (handover.ignoredPaths)
        note(unlogged.ignoredPaths, logged.ignoredPaths, std::move(*handover.ignoredPaths));
    if (handover.knownGalleryIds)
        note(unlogged.knownGalleryIds, logged.knownGalleryIds, std::move(*handover.knownGalleryIds));
    if (handover.dismissedGalleryIds)
        note(unlogged.dismissedGalleryIds, logged.dismissedGalleryIds, std::move(*handover.dismissedGalleryIds));
    note(unlogged.entries, logged.entries, std::move(handover.entries));

    // Records: a listed folder's own (a later folder of the same path wins), else those waiting for the path.
    bool relink = false;
    if (handover.galleryLinks) {
        m_galleryLinks = std::move(*handover.galleryLinks);
        relink = true;
    }
    if (handover.folders) {
        if (handover.pendingUploads)
            m_pendingUploads = std::move(*handover.pendingUploads);
        const QList<ListedFolder> &folders = *handover.folders;
        QSet<QString> listed;
        listed.reserve(folders.size());
        QHash<QString, UploadRecords> records;
        records.reserve(folders.size());
        for (const ListedFolder &folder : folders) {
            listed.insert(folder.path);
            if (folder.records)
                records.insert(folder.path, *folder.records);
        }
        for (auto it = m_pendingUploads.cbegin(); it != m_pendingUploads.cend(); ++it) {
            if (!listed.contains(it.key()))
                records.insert(it.key(), it.value());
        }
        handover.folders.reset(); // lets go of the records the list no longer holds
        shared = noteWhole(unlogged.records, logged.records, records);
        m_listed = std::move(listed);
        relink = true;
    } else if (handover.pendingUploads) {
        const PendingFolderUploads &now = *handover.pendingUploads;
        const auto waiting = [&](const PendingFolderUploads &from) {
            for (auto it = from.cbegin(); it != from.cend(); ++it) {
                if (m_listed.contains(it.key()))
                    continue;
                const auto found = now.constFind(it.key());
                shared = note(unlogged.records, logged.records, it.key(),
                              found == now.cend() ? std::optional<UploadRecords>() : std::optional(*found))
                         || shared;
            }
        };
        waiting(m_pendingUploads);
        waiting(now);
        m_pendingUploads = now;
        relink = true;
    }
    for (const ListedFolder &edit : std::as_const(handover.edits))
        shared = note(unlogged.records, logged.records, edit.path, edit.records) || shared;

    // Links: of the folders listed, and of those whose records wait.
    if (relink) {
        QHash<QString, QString> links;
        for (auto it = m_galleryLinks.cbegin(); it != m_galleryLinks.cend(); ++it) {
            if (m_listed.contains(it.key()) || m_pendingUploads.contains(it.key()))
                links.insert(it.key(), it.value());
        }
        shared = noteWhole(unlogged.links, logged.links, links) || shared;
    }
    return shared;
}
