#pragma once

// What the upload, first-sync and update tests share: a stand-in service with one account, a client pointed at it,
// a manager over a temporary support folder, an export folder with real bytes, and a plain event loop to run a
// task in (QTest::qWaitFor sleeps between rounds and throttles streamed bodies).

#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "service/VarnostimaAPI.h"
#include "sync/SyncManager.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>

namespace uploadtest {

using namespace std::chrono_literals;

struct LoopState {
    bool done = false;
    QEventLoop loop;
};

template<typename T>
QCoro::Task<T> quitWhenDone(QCoro::Task<T> inner, LoopState *state)
{
    struct Quit {
        LoopState *s;
        ~Quit()
        {
            s->done = true;
            s->loop.quit();
        }
    } quit{state};
    co_return co_await std::move(inner);
}

template<typename T>
T finish(QCoro::Task<T> task)
{
    LoopState state;
    auto watched = quitWhenDone(std::move(task), &state);
    if (!state.done) {
        QTimer::singleShot(20000, &state.loop, &QEventLoop::quit);
        state.loop.exec();
    }
    return testsupport::awaitTask(std::move(watched), 0);
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
    SyncManager manager{support.root()};

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
