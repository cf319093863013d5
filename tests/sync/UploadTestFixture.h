#pragma once

// What the engine's tests share: a stand-in service with one account, a client pointed at it, a manager over a
// temporary support folder and an export folder with real bytes; and ways to look at the folder list and the
// service's galleries.

#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "service/VarnostimaAPI.h"
#include "sync/SyncManager.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>

namespace uploadtest {

using namespace std::chrono_literals;

template<typename T>
T finish(QCoro::Task<T> task)
{
    return testsupport::awaitTask(std::move(task));
}

// The entry for the folder at path, or null.
inline const SyncFolder *folderAt(const QList<SyncFolder> &folders, const QString &path)
{
    const auto found =
        std::find_if(folders.cbegin(), folders.cend(), [&](const SyncFolder &f) { return f.path == path; });
    return found == folders.cend() ? nullptr : &*found;
}

inline const SyncFolder *folderAt(const SyncManager &manager, const QString &path)
{
    return folderAt(manager.folders(), path);
}

// The gallery's image names, sorted; empty while there is no such gallery.
inline QStringList galleryImageNames(const testsupport::StandInService &service, const QString &galleryId)
{
    QStringList names;
    if (const auto gallery = service.gallery(galleryId)) { // keep the copy alive while walking it
        for (const auto &image : gallery->images)
            names.append(image.fileName);
    }
    names.sort();
    return names;
}

inline QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

inline QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

struct Fixture {
    static constexpr QByteArrayView token = "upload-token";
    testsupport::StandInService service;
    VarnostimaAPI api;
    testsupport::TempTree support;
    testsupport::TempTree exportTree;
    // Images are written just before each run: none of them counts as still being written.
    SyncManager manager{support.root(), SyncDelays{.autoSync = 1h, .settle = 0ms}};

    Fixture()
    {
        service.addAccount(token.toByteArray());
        api.setTimeouts({2s, 2s, 5s});
        api.setCredentials(service.baseUrl(), QString::fromLatin1(token));
        manager.setAPI(api);
    }

    QByteArray writeImage(const QString &relative, qsizetype size = 5000)
    {
        const QByteArray bytes = randomBytes(size);
        exportTree.addFile(relative);
        QFile file(exportTree.path(relative));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return bytes;
    }

    // Scans the export folder into the manager's list and returns the entry of the folder at relative path.
    SyncFolder scan(const QString &relative)
    {
        manager.setFolders(SyncManager::scanFolderTree(exportTree.root(), {}));
        return entry(relative);
    }

    SyncFolder entry(const QString &relative) const
    {
        for (const SyncFolder &f : manager.folders()) {
            if (f.relativePath == relative)
                return f;
        }
        return {};
    }

    QStringList serverNames(const QString &galleryId) const { return galleryImageNames(service, galleryId); }
};

inline QStringList recordNames(const SyncFolder &folder)
{
    QStringList names;
    for (const UploadedFileMeta &r : folder.uploadedFiles.value_or(QList<UploadedFileMeta>()))
        names.append(r.fileName);
    names.sort();
    return names;
}

} // namespace uploadtest
