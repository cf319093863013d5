// Watching and automatic sync: the refresh merge, and the engine on its own against the stand-in service with a
// real export folder that changes while it runs.

#include "UploadTestFixture.h"

#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;
using uploadtest::folderAt;

namespace {

const QByteArray token = "tok-1";
const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");
const SyncDelays fastDelays{.refresh = 50ms, .autoSync = 150ms, .streamLatency = 100ms, .settle = 0ms};
// Passes run only when a test runs them.
const SyncDelays noAutoSync{.refresh = 50ms, .autoSync = 1h, .streamLatency = 100ms, .settle = 0ms};

std::optional<QString> galleryTitled(const StandInService &service, const QString &title)
{
    for (const auto &gallery : service.galleries()) {
        if (gallery.title == title)
            return gallery.id;
    }
    return std::nullopt;
}

// The active image names of the gallery titled so, sorted; empty while there is none.
QStringList activeNames(const StandInService &service, const QString &title)
{
    const std::optional<QString> id = galleryTitled(service, title);
    return id ? uploadtest::galleryImageNames(service, *id) : QStringList();
}

struct Engine {
    Engine(StandInService &service, const QString &supportDir, SyncDelays delays = fastDelays)
        : manager(supportDir, delays)
    {
        api.setCredentials(service.baseUrl(), QString::fromLatin1(token));
        api.setTimeouts({2000ms, 2000ms, 5000ms});
        manager.setAPI(api);
    }
    VarnostimaAPI api;
    SyncManager manager;
};

// Writes an image from any thread, folders included.
void writeImage(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray(size, 'x'));
}

} // namespace

class TestWatching : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mergeAppendsUpdatesAndZeroes()
    {
        TempTree support;
        TempTree tree;
        for (const char *file : {"Same/a.jpg", "Grown/a.jpg", "Grown/b.jpg", "New/a.jpg", "Twice/a.jpg"})
            tree.addFile(file, 1);
        const QList<SyncFolder> scanned = SyncManager::scanFolderTree(tree.root(), {});
        SyncManager manager(support.root(), noAutoSync);
        SyncFolder same = *folderAt(scanned, tree.path("Same"));
        same.status = SyncStatus::synced("g1", "s1", 1);
        SyncFolder grown = *folderAt(scanned, tree.path("Grown"));
        grown.imageCount = 1;
        grown.cachedLocalFileMeta = LocalFiles::fromNames({"a.jpg"});
        const auto entry = [](const QString &path, qint64 images, const SyncStatus &status) {
            SyncFolder folder;
            folder.path = path;
            folder.imageCount = images;
            folder.status = status;
            return folder;
        };
        const SyncFolder vanished = entry(tree.path("Vanished"), 4, SyncStatus::failed("x"));
        const SyncFolder placeholder = entry("__removed__/g9", 3, SyncStatus::removedLocally("g9", "s9"));
        // "Twice" came from someone else (a reconcile that ended) after this refresh took its snapshot.
        manager.setFolders({same, grown, vanished, placeholder, *folderAt(scanned, tree.path("Twice"))});

        testsupport::LogCapture log;
        manager.mergeRefreshedFolders(scanned, {same.path, grown.path, vanished.path, placeholder.path});
        const QList<SyncFolder> merged = manager.folders();
        QCOMPARE(merged.size(), 6);
        QCOMPARE(merged.last().path, tree.path("New"));
        QCOMPARE(merged.last().status.kind(), SyncStatus::Case::notSynced);
        QVERIFY(log.contains(syncCategory, "Discovered 1 new folders"));
        QCOMPARE(*folderAt(merged, same.path), same);
        QCOMPARE(folderAt(merged, grown.path)->imageCount, 2);
        QCOMPARE(folderAt(merged, vanished.path)->imageCount, 0);
        QCOMPARE(folderAt(merged, vanished.path)->status, vanished.status);
        QCOMPARE(folderAt(merged, vanished.path)->cachedLocalFileNames(), QSet<QString>());
        QCOMPARE(*folderAt(merged, placeholder.path), placeholder);

        // The same scan again, with every path known to it or not: nothing changes, nothing is appended twice.
        QSignalSpy changed(&manager, &SyncManager::foldersChanged);
        manager.mergeRefreshedFolders(scanned, {});
        QCOMPARE(changed.count(), 0);
    }

    // The slower one: the real waits (2.0 s stream, 0.5 s refresh, 3.0 s automatic sync). A burst of writes makes
    // one rescan and one pass that uploads all of it in one batch. Outcomes and order only, never durations.
    void realWaitsCoalesceABurst()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Start/a.jpg", 10);
        SyncDelays delays;
        delays.settle = 0ms;
        Engine engine(service, support.root(), delays);
        testsupport::LogCapture log;
        engine.manager.setWatchFolder(tree.root());
        QTRY_VERIFY_WITH_TIMEOUT(galleryTitled(service, "Start").has_value(), 20000);
        QTRY_VERIFY(engine.manager.isWatching() && !engine.manager.isAutoSyncing());
        const qsizetype presigns = service.requests("POST", "/api/upload/presigned").size();

        for (int i = 0; i < 5; ++i)
            tree.addFile(QStringLiteral("Burst/%1.jpg").arg(i), 10 + i);
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, "Burst").size(), 5, 20000);
        QCOMPARE(service.requests("POST", "/api/upload/presigned").size(), presigns + 1);
        QCOMPARE(log.count(syncCategory, "Auto-syncing new folder: Burst"), 1);
        QCOMPARE(log.count(syncCategory, "Auto-updating changed folder: Burst"), 0);
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
        connect(&engine.manager, &SyncManager::isAutoSyncingChanged, this, [&] {
            if (!engine.manager.isAutoSyncing() || autoSyncing.count() > 1)
                return;
            for (int i = 0; i < 3; ++i)
                engine.manager.scheduleAutoSync();
        });
        engine.manager.setWatchFolder(tree.root());
        QTRY_COMPARE_WITH_TIMEOUT(autoSyncing.count(), 4, 10000); // on, off, on, off: exactly one more pass
        QVERIFY(!engine.manager.needsResyncAfterAutoSync());
        QCOMPARE(log.count(syncCategory, "Auto-syncing new folder: A"), 1);
        QCOMPARE(service.galleries().size(), 1);
    }

    // A change made while the engine starts, before its watches are in place, reaches the service like any other:
    // a new image in a synced folder and a new folder, made while the service is asked for its state, while the
    // watcher walks the tree, or while a newly chosen export folder is checked. Either way, and when nothing
    // changed, the start reads the whole tree once.
    void changesMadeWhileStartingAreSynced_data()
    {
        QTest::addColumn<QString>("moment");
        QTest::newRow("start, nothing changed") << "quiet";
        QTest::newRow("start, while the service is asked") << "sync state";
        QTest::newRow("start, while the watcher walks the tree") << "walk";
        QTest::newRow("new export folder, while the service is asked") << "chosen";
    }

    void changesMadeWhileStartingAreSynced()
    {
        QFETCH(QString, moment);
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        TempTree earlier;
        tree.addFile("Shoot/a.jpg", 10);
        earlier.addFile("Start/a.jpg", 10);
        const bool chosen = moment == "chosen";
        // The run before: everything on disk is on the service, and the state file says so.
        auto engine = std::make_unique<Engine>(service, support.root());
        engine->manager.setWatchFolder(chosen ? earlier.root() : tree.root());
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, chosen ? "Start" : "Shoot"), QStringList{"a.jpg"}, 20000);
        QTRY_VERIFY(engine->manager.isWatching() && !engine->manager.isAutoSyncing());
        testsupport::LogCapture log;
        const auto wholeTreeReads = [&log] { return log.count(syncCategory, "Scanning the whole tree"); };
        if (moment == "quiet") {
            // A refresh that waits for ever: one asked for at the start stays visible.
            engine.reset();
            engine = std::make_unique<Engine>(service, support.root(),
                                              SyncDelays{.refresh = 1h, .autoSync = 1h, .streamLatency = 100ms});
            testsupport::awaitTask(engine->manager.fullScanAndReconcile());
            QTRY_VERIFY(engine->manager.isWatching());
            QVERIFY(engine->manager.pendingRefreshScope().isEmpty());
            QCOMPARE(wholeTreeReads(), 1);
            QCOMPARE(folderAt(engine->manager.folders(), tree.path("Shoot"))->newFileCount(), 0);
            return;
        }
        if (!chosen) {
            engine.reset();
            engine = std::make_unique<Engine>(service, support.root());
            QCOMPARE(engine->manager.watchFolder(), tree.root());
        }
        engine->api.setTimeouts({30s, 30s, 60s}); // the held answer is not a time-out

        const auto change = [b = tree.path("Shoot/b.jpg"), c = tree.path("Ny/c.jpg")] {
            writeImage(b, 11);
            writeImage(c, 12);
        };
        std::optional<QCoro::Task<void>> start;
        if (moment == "walk") {
            engine->manager.setBeforeWatchWalkHook(change);
            start = engine->manager.fullScanAndReconcile();
        } else {
            ScriptedAnswer held;
            held.kind = ScriptedAnswer::Kind::AnswerAsUsual;
            held.held = true;
            service.script("GET", "/api/sync/state", held);
            const qsizetype asked = service.requests("GET", "/api/sync/state").size();
            if (chosen)
                engine->manager.setWatchFolder(tree.root());
            else
                start = engine->manager.fullScanAndReconcile();
            QTRY_COMPARE(service.requests("GET", "/api/sync/state").size(), asked + 1); // the scan is done
            change();
            service.releaseHeld();
        }
        if (start)
            testsupport::awaitTask(std::move(*start));
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, "Shoot"), (QStringList{"a.jpg", "b.jpg"}), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(activeNames(service, "Ny"), QStringList{"c.jpg"}, 20000);
        QCOMPARE(service.galleries().size(), chosen ? 3 : 2);
        QCOMPARE(wholeTreeReads(), 1); // the events named what changed
    }

    void syncedFolderUploadsNothingMore_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("renamed locally while running") << "rename";
        QTest::newRow("deleted on the web, restart") << "restart";
        QTest::newRow("deleted on the web, restart without state file") << "fresh";
    }

    void syncedFolderUploadsNothingMore()
    {
        QFETCH(QString, change);
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Shoot/a.jpg", 10);
        tree.addFile("Shoot/b.jpg", 11);
        auto engine = std::make_unique<Engine>(service, support.root(), noAutoSync);
        engine->manager.setWatchFolder(tree.root());
        QTRY_VERIFY(engine->manager.isWatching());
        testsupport::awaitTask(engine->manager.runAutoSync());
        const std::optional<QString> shoot = galleryTitled(service, "Shoot");
        QCOMPARE(activeNames(service, "Shoot"), (QStringList{"a.jpg", "b.jpg"}));
        QString path = tree.path("Shoot");

        if (change == "rename") {
            path = tree.path("Arkiv/Shoot");
            QVERIFY(QDir().mkpath(tree.path("Arkiv")));
            QVERIFY(QDir().rename(tree.path("Shoot"), path));
            // The refresh hands the possible move to a full scan, which marks it.
            QTRY_VERIFY_WITH_TIMEOUT(folderAt(engine->manager.folders(), path), 10000);
            QTRY_VERIFY(!engine->manager.isReconciling());
            const SyncFolder moved = *folderAt(engine->manager.folders(), path);
            QCOMPARE(moved.movedFrom, std::optional<QString>("Shoot"));
            QCOMPARE(moved.status.galleryId(), *shoot);
            QVERIFY(!folderAt(engine->manager.folders(), tree.path("Shoot")));
        } else {
            QVERIFY(service.deleteImageOnWeb(*shoot, "b.jpg"));
            engine.reset();
            if (change == "fresh")
                QVERIFY(QFile::remove(support.path("sync-state.json"))); // names from the service only
            engine = std::make_unique<Engine>(service, support.root(), noAutoSync);
            engine->manager.setWatchFolder(tree.root());
            QTRY_VERIFY(engine->manager.isWatching());
            QCOMPARE(folderAt(engine->manager.folders(), path)->newFileCount(), 0);
        }
        service.clearRequests();
        testsupport::awaitTask(engine->manager.runAutoSync());
        QCOMPARE(service.galleries().size(), 1);
        const QStringList expected = change == "rename" ? QStringList{"a.jpg", "b.jpg"} : QStringList{"a.jpg"};
        QCOMPARE(activeNames(service, "Shoot"), expected);
        QVERIFY(service.requests("POST", "/api/upload/presigned").isEmpty());
        QVERIFY(service.requests("POST", "/api/gallery").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWatching)
#include "tst_watching.moc"
