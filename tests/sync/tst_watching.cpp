// Watching and automatic sync: the refresh merge, and the engine on its own against the stand-in service with a
// real export folder that changes while it runs.

#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::StandInService;
using testsupport::TempTree;

namespace {

const QByteArray token = "tok-1";
const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");
const SyncDelays fastDelays{50ms, 150ms, 100ms};
const SyncDelays noAutoSync{50ms, 1h, 100ms};

const SyncFolder *folderAt(const QList<SyncFolder> &folders, const QString &path)
{
    for (const SyncFolder &f : folders) {
        if (f.path == path)
            return &f;
    }
    return nullptr;
}

int countPath(const QList<SyncFolder> &folders, const QString &path)
{
    return int(std::count_if(folders.cbegin(), folders.cend(), [&](const SyncFolder &f) { return f.path == path; }));
}

QStringList activeNames(const StandInService &service, const QString &galleryId)
{
    QStringList names;
    const auto gallery = service.gallery(galleryId); // keep the copy alive while walking it
    for (const auto &image : gallery->images)
        names.append(image.fileName);
    names.sort();
    return names;
}

std::optional<QString> galleryTitled(const StandInService &service, const QString &title)
{
    for (const auto &gallery : service.galleries()) {
        if (gallery.title == title)
            return gallery.id;
    }
    return std::nullopt;
}

bool mentions(const QList<testsupport::RecordedRequest> &requests, const QByteArray &text)
{
    return std::any_of(requests.cbegin(), requests.cend(),
                       [&](const testsupport::RecordedRequest &r) { return r.body.contains(text); });
}

struct Engine {
    explicit Engine(StandInService &service, const QString &supportDir, SyncDelays delays = fastDelays)
        : manager(supportDir, delays)
    {
        api.setCredentials(service.baseUrl(), QString::fromLatin1(token));
        api.setTimeouts({2000ms, 2000ms, 5000ms});
        manager.setAPI(api);
    }
    VarnostimaAPI api;
    SyncManager manager;
};

} // namespace

class TestWatching : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mergeAppendsUpdatesAndZeroes()
    {
        TempTree support;
        TempTree tree;
        tree.addFile("Same/a.jpg", 1);
        tree.addFile("Grown/a.jpg", 1);
        tree.addFile("Grown/b.jpg", 1);
        tree.addFile("New/a.jpg", 1);
        tree.addFile("Twice/a.jpg", 1);
        const QList<SyncFolder> scanned = SyncManager::scanFolderTree(tree.root(), {});
        QCOMPARE(scanned.size(), 4);

        SyncManager manager(support.root(), noAutoSync);
        SyncFolder same = *folderAt(scanned, tree.path("Same"));
        same.status = SyncStatus::synced("g1", "s1", 1);
        SyncFolder grown = *folderAt(scanned, tree.path("Grown"));
        grown.imageCount = 1;
        grown.cachedLocalFileNames = QSet<QString>{"a.jpg"};
        SyncFolder vanished;
        vanished.path = tree.path("Vanished");
        vanished.imageCount = 4;
        vanished.status = SyncStatus::failed("x");
        SyncFolder placeholder;
        placeholder.path = "__removed__/g9";
        placeholder.imageCount = 3;
        placeholder.status = SyncStatus::removedLocally("g9", "s9");
        // Added by someone else (a reconcile that ended) after this refresh took its snapshot.
        const SyncFolder twice = *folderAt(scanned, tree.path("Twice"));
        manager.setFolders({same, grown, vanished, placeholder, twice});
        const QSet<QString> knownAtStart{same.path, grown.path, vanished.path, placeholder.path};

        testsupport::LogCapture log;
        manager.mergeRefreshedFolders(scanned, knownAtStart);
        const QList<SyncFolder> merged = manager.folders();
        QCOMPARE(merged.size(), 6);
        QCOMPARE(merged.last().path, tree.path("New"));
        QCOMPARE(merged.last().status.kind(), SyncStatus::Case::notSynced);
        QCOMPARE(countPath(merged, tree.path("Twice")), 1);
        QVERIFY(log.contains(syncCategory, "Discovered 1 new folders"));
        QCOMPARE(*folderAt(merged, same.path), same);
        QCOMPARE(folderAt(merged, grown.path)->imageCount, 2);
        QCOMPARE(folderAt(merged, vanished.path)->imageCount, 0);
        QCOMPARE(folderAt(merged, vanished.path)->status, vanished.status);
        QCOMPARE(folderAt(merged, vanished.path)->cachedLocalFileNames, QSet<QString>());
        QCOMPARE(*folderAt(merged, placeholder.path), placeholder);

        // The same scan again changes nothing.
        QSignalSpy changed(&manager, &SyncManager::foldersChanged);
        QSet<QString> all;
        for (const SyncFolder &f : merged)
            all.insert(f.path);
        manager.mergeRefreshedFolders(scanned, all);
        QCOMPARE(changed.count(), 0);
    }

    // The end-to-end road: nothing but the start of the engine; the disk changes and the service follows.
    void changesReachTheServiceByThemselves()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Start/a.jpg", 10);
        Engine engine(service, support.root());
        engine.manager.setWatchFolder(tree.root());
        QTRY_VERIFY_WITH_TIMEOUT(galleryTitled(service, "Start").has_value(), 10000);
        QTRY_VERIFY(engine.manager.isWatching());

        tree.addFile("2024/Bryllup/1.jpg", 11);
        tree.addFile("2024/Bryllup/2.jpg", 12);
        QTRY_VERIFY_WITH_TIMEOUT(galleryTitled(service, "Bryllup").has_value(), 10000);
        const QString bryllup = *galleryTitled(service, "Bryllup");
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, bryllup), (QStringList{"1.jpg", "2.jpg"}), 10000);

        tree.addFile("2024/Bryllup/3.jpg", 13);
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, bryllup), (QStringList{"1.jpg", "2.jpg", "3.jpg"}), 10000);
        QTRY_VERIFY(!engine.manager.isAutoSyncing());
    }

    void requestsDuringAPassGiveOneMorePass()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("A/1.jpg", 1);
        Engine engine(service, support.root());
        QSignalSpy autoSyncing(&engine.manager, &SyncManager::isAutoSyncingChanged);
        testsupport::LogCapture log;
        // Requests arrive the moment the first pass starts.
        bool requested = false;
        connect(&engine.manager, &SyncManager::isAutoSyncingChanged, this, [&] {
            if (!engine.manager.isAutoSyncing() || requested)
                return;
            requested = true;
            for (int i = 0; i < 3; ++i)
                engine.manager.scheduleAutoSync();
            QVERIFY(engine.manager.needsResyncAfterAutoSync());
        });
        engine.manager.setWatchFolder(tree.root());
        QTRY_COMPARE_WITH_TIMEOUT(autoSyncing.count(), 4, 10000); // on, off, on, off: exactly one more pass
        QTRY_VERIFY(!engine.manager.isAutoSyncing());
        QVERIFY(!engine.manager.needsResyncAfterAutoSync());
        QCOMPARE(log.count(syncCategory, "Auto-syncing new folder: A"), 1);
        QCOMPARE(service.galleries().size(), 1);
    }

    void renameShowsAsMovedAndUploadsNothing()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Shoot/a.jpg", 10);
        tree.addFile("Shoot/b.jpg", 11);
        Engine engine(service, support.root());
        engine.manager.setWatchFolder(tree.root());
        QTRY_VERIFY_WITH_TIMEOUT(galleryTitled(service, "Shoot").has_value(), 10000);
        const QString shoot = *galleryTitled(service, "Shoot");
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, shoot).size(), 2, 10000);
        QTRY_VERIFY(engine.manager.isWatching());
        QTRY_COMPARE(engine.manager.folders().first().status.kind(), SyncStatus::Case::synced);
        QTRY_VERIFY(!engine.manager.isAutoSyncing());
        service.clearRequests();

        QVERIFY(QDir().mkpath(tree.path("Arkiv")));
        QVERIFY(QDir().rename(tree.path("Shoot"), tree.path("Arkiv/Shoot")));
        QTRY_VERIFY_WITH_TIMEOUT(folderAt(engine.manager.folders(), tree.path("Arkiv/Shoot")), 10000);
        QTRY_VERIFY(!engine.manager.isReconciling());
        const SyncFolder moved = *folderAt(engine.manager.folders(), tree.path("Arkiv/Shoot"));
        QCOMPARE(moved.movedFrom, std::optional<QString>("Shoot"));
        QCOMPARE(moved.status.galleryId(), shoot);
        QVERIFY(!folderAt(engine.manager.folders(), tree.path("Shoot")));
        // Give automatic sync the chance it must not take.
        QTest::qWait(int((fastDelays.autoSync * 3).count()));
        QTRY_VERIFY(!engine.manager.isAutoSyncing());
        QCOMPARE(service.galleries().size(), 1);
        QVERIFY(service.requests("POST", "/api/upload/presigned").isEmpty());
        QVERIFY(service.requests("POST", "/api/gallery").isEmpty());
    }

    void deletedOnTheWebStaysDeletedAcrossRestarts()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Shoot/a.jpg", 10);
        tree.addFile("Shoot/b.jpg", 11);
        QString shoot;
        {
            Engine engine(service, support.root());
            engine.manager.setWatchFolder(tree.root());
            QTRY_VERIFY_WITH_TIMEOUT(galleryTitled(service, "Shoot").has_value(), 10000);
            shoot = *galleryTitled(service, "Shoot");
            QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, shoot).size(), 2, 10000);
            QTRY_VERIFY(!engine.manager.isAutoSyncing());
        }
        QVERIFY(service.deleteImageOnWeb(shoot, "b.jpg"));

        for (bool keepStateFile : {true, false}) {
            if (!keepStateFile)
                QVERIFY(QFile::remove(support.path("sync-state.json"))); // a fresh install: names only
            service.clearRequests();
            Engine engine(service, support.root());
            engine.manager.setWatchFolder(tree.root());
            QTRY_VERIFY_WITH_TIMEOUT(engine.manager.hasCompletedInitialReconcile(), 10000);
            QTRY_VERIFY(!engine.manager.isReconciling());
            QCOMPARE(engine.manager.folders().first().newFileCount(), 0);
            QTest::qWait(int((fastDelays.autoSync * 3).count()));
            QTRY_VERIFY(!engine.manager.isAutoSyncing());
            QCOMPARE(activeNames(service, shoot), QStringList{"a.jpg"});
            QVERIFY(!mentions(service.requests("POST", "/api/upload/presigned"), "b.jpg"));
            QVERIFY(!mentions(service.requests(), "b.jpg"));
        }
    }
};

QTEST_GUILESS_MAIN(TestWatching)
#include "tst_watching.moc"
