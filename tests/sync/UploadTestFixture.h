#pragma once

// What the engine's upload and action tests share: a stand-in service with one account, a client pointed at it,
// a manager over a temporary support folder and an export folder with real bytes.

#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "service/VarnostimaAPI.h"
#include "sync/SyncManager.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

namespace uploadtest {

using namespace std::chrono_literals;

template<typename T>
T finish(QCoro::Task<T> task)
{
    return testsupport::awaitTask(std::move(task));
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

    QStringList serverNames(const QString &galleryId) const
    {
        QStringList names;
        const auto gallery = service.gallery(galleryId); // keep the copy alive while walking it
        for (const auto &image : gallery->images)
            names.append(image.fileName);
        names.sort();
        return names;
    }
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
