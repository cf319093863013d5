#pragma once

// Folders in every state the overview shows, built the way the engine leaves them.

#include "sync/SyncFolder.h"
#include "sync/UnicodeNames.h"

#include <QFileInfo>
#include <QStringList>

namespace zoo {

inline SyncFolder folder(const QString &relativePath, SyncStatus status = SyncStatus::notSynced(),
                         qint64 imageCount = 3)
{
    SyncFolder f;
    f.relativePath = relativePath;
    f.path = QStringLiteral("/eksport/") + relativePath;
    f.parentComponents = relativePath.split(u'/');
    f.name = f.parentComponents.takeLast();
    f.displayName = unicodenames::displayName(f.name);
    f.imageCount = imageCount;
    f.status = std::move(status);
    return f;
}

inline SyncStatus synced(qint64 uploaded = 3)
{
    return SyncStatus::synced(QStringLiteral("g1"), QStringLiteral("slug"), uploaded);
}

// A synced folder whose records and disk differ: `added` names only on disk, `removed` only in the records.
inline SyncFolder changed(const QString &relativePath, int added, int removed, int kept = 2)
{
    SyncFolder f = folder(relativePath, synced(kept + removed), kept + added);
    QList<UploadedFileMeta> records;
    QSet<QString> local;
    for (int i = 0; i < kept; ++i) {
        records.append({QStringLiteral("k%1.jpg").arg(i), 100, 10.0});
        local.insert(QStringLiteral("k%1.jpg").arg(i));
    }
    for (int i = 0; i < removed; ++i)
        records.append({QStringLiteral("r%1.jpg").arg(i), 100, 10.0});
    for (int i = 0; i < added; ++i)
        local.insert(QStringLiteral("n%1.jpg").arg(i));
    f.uploadedFiles = records;
    LocalFileMetaMap meta;
    for (const QString &name : std::as_const(local))
        meta.insert(name, {100, 10.0}); // as recorded: only the names differ
    f.cachedLocalFileMeta = meta;
    return f;
}

inline SyncFolder modified(const QString &relativePath)
{
    SyncFolder f = changed(relativePath, 0, 0);
    LocalFileMetaMap meta;
    meta.insert(QStringLiteral("k0.jpg"), {200, 10.0});
    meta.insert(QStringLiteral("k1.jpg"), {100, 10.0});
    f.cachedLocalFileMeta = meta;
    return f;
}

inline SyncFolder needingBaseline(const QString &relativePath)
{
    SyncFolder f = changed(relativePath, 0, 0);
    f.uploadedFiles->replace(0, {QStringLiteral("k0.jpg"), 0, std::nullopt});
    return f;
}

inline SyncFolder moved(SyncFolder f, const QString &from = QStringLiteral("Gammel/sted"))
{
    f.movedFrom = from;
    return f;
}

// A folder at an absolute path as the inspector gets it; synced ones hold a.jpg and b.jpg in records and on disk.
inline SyncFolder at(const QString &path, SyncStatus status)
{
    SyncFolder f;
    f.path = path;
    f.name = f.displayName = f.relativePath = QFileInfo(path).fileName();
    f.imageCount = 2;
    f.status = std::move(status);
    if (f.status.is(SyncStatus::Case::synced)) {
        f.uploadedFiles = QList<UploadedFileMeta>{{QStringLiteral("a.jpg"), 10, 1.0}, {QStringLiteral("b.jpg"), 20, 2.0}};
        f.cachedLocalFileMeta = LocalFileMetaMap{{QStringLiteral("a.jpg"), {10, 1.0}}, {QStringLiteral("b.jpg"), {20, 2.0}}};
    }
    return f;
}

inline SyncFolder placeholder(const QString &galleryId, const QString &title)
{
    SyncFolder f;
    f.path = QStringLiteral("__removed__/") + galleryId;
    f.name = title;
    f.displayName = title;
    f.relativePath = title;
    f.status = SyncStatus::removedLocally(galleryId, QStringLiteral("slug-") + galleryId);
    return f;
}

// A placeholder whose "Slett fra server" failed.
inline SyncFolder failedDeletion(const QString &galleryId, const QString &title)
{
    SyncFolder f = placeholder(galleryId, title);
    f.status = SyncStatus::failed(QStringLiteral("Sletting feilet: x"));
    return f;
}

} // namespace zoo
