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
#include <QTest>

#include <algorithm>
#include <csignal>

#include <sys/resource.h>

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
    SyncManager manager;

    explicit Fixture(SyncDelays delays = {.autoSync = 1h, .settle = 0ms}) : manager(support.root(), delays)
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

// Passes run only when a test runs them; nothing written by a test counts as still being written.
// While alive, no file of this process may grow past `bytes`: the failure a full disk gives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = m_limit;
        tight.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &tight);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_limit);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_limit{};
    void (*m_previousHandler)(int) = SIG_DFL;
};

inline const SyncDelays manualPasses{.refresh = 50ms, .autoSync = 1h, .streamLatency = 100ms, .settle = 0ms};
inline const SyncDelays ownPasses{.refresh = 50ms, .autoSync = 50ms, .streamLatency = 100ms, .settle = 0ms};
inline constexpr QByteArrayView engineToken = "tok-1";

// An engine as the app runs it, over a support folder that outlives restarts, watching a temporary export folder,
// with the passes run by the test or by the engine's own timers.
// The gallery's images as "name=size", sorted, one entry per image.
inline QStringList imageSizes(const testsupport::StandInService &service, const QString &galleryId)
{
    QStringList list;
    if (const auto gallery = service.gallery(galleryId)) {
        for (const auto &image : gallery->images)
            list.append(QStringLiteral("%1=%2").arg(image.fileName).arg(image.fileSize));
    }
    list.sort();
    return list;
}

struct Engine {
    testsupport::StandInService service;
    testsupport::TempTree support;
    testsupport::TempTree tree;
    VarnostimaAPI api;
    std::unique_ptr<SyncManager> manager;

    explicit Engine(SyncDelays delays = manualPasses)
    {
        service.addAccount(engineToken.toByteArray());
        api.setCredentials(service.baseUrl(), QString::fromLatin1(engineToken));
        api.setTimeouts({2s, 2s, 5s});
        restart(delays);
    }

    // A new manager over the same support folder, as after a start of the app; it picks up the export folder.
    void restart(SyncDelays delays = manualPasses)
    {
        if (manager)
            manager->flushState();
        manager.reset();
        manager = std::make_unique<SyncManager>(support.root(), delays);
        manager->setAPI(api);
    }

    void watch()
    {
        manager->setWatchFolder(tree.root());
        QTRY_VERIFY(manager->hasCompletedInitialReconcile() && !manager->isReconciling());
    }
    void reconcile() { testsupport::awaitTask(manager->fullScanAndReconcile()); }
    void pass() { testsupport::awaitTask(manager->runAutoSync()); }
    // What a refresh after file-system events would merge.
    void refresh()
    {
        QSet<QString> known;
        for (const SyncFolder &folder : manager->folders())
            known.insert(folder.path);
        manager->mergeRefreshedFolders(SyncManager::scanFolderTree(tree.root(), {}), known);
    }

    SyncFolder entry(const QString &relative) const
    {
        for (const SyncFolder &folder : manager->folders()) {
            if (folder.path == tree.path(relative))
                return folder;
        }
        return {};
    }
    bool hasEntry(const QString &path) const
    {
        return std::any_of(manager->folders().cbegin(), manager->folders().cend(),
                           [&](const SyncFolder &f) { return f.path == path; });
    }
    QStringList names(const QString &galleryId) const { return uploadtest::galleryImageNames(service, galleryId); }
    QStringList galleryIds(const QString &title) const
    {
        QStringList ids;
        for (const auto &gallery : service.galleries()) {
            if (gallery.title == title)
                ids.append(gallery.id);
        }
        return ids;
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
