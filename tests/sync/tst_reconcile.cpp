// The full scan and reconcile against the stand-in service over real HTTP and real temporary export folders.

#include "UploadTestFixture.h"

#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/FileBytes.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"
#include "sync/SyncStateStore.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;
using uploadtest::folderAt;

namespace {

const QByteArray token = "tok-1";
const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");
// Neither a refresh nor automatic sync starts inside these tests: they look at what the reconcile alone decided.
const SyncDelays quietDelays{.refresh = 1h, .autoSync = 1h, .streamLatency = 50ms, .settle = 0ms};

void writeState(const QString &supportDir, const QString &watchFolder, const FolderUploadList &uploads,
                const QStringList &knownIds = {})
{
    SyncState state;
    state.watchFolder = watchFolder;
    state.knownGalleryIds = QSet<QString>(knownIds.cbegin(), knownIds.cend());
    state.folderUploads = uploads;
    QString error;
    QVERIFY(SyncStateStore(supportDir + "/sync-state.json").write(state, &error) == SyncStateStore::WriteOutcome::written);
}

// A manager over the support folder, talking to the service.
struct Engine {
    Engine(const QUrl &baseUrl, const QString &supportDir) : manager(supportDir, quietDelays)
    {
        pointAt(api, baseUrl, QString::fromLatin1(token));
        manager.setAPI(api);
    }
    static void pointAt(VarnostimaAPI &api, const QUrl &baseUrl, std::optional<QString> authToken)
    {
        api.setCredentials(baseUrl, authToken);
        api.setTimeouts({500ms, 500ms, 2000ms});
    }
    VarnostimaAPI api;
    SyncManager manager;
};

} // namespace

class TestReconcile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matchesPlacesAndMergesRecords()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Sommer_2024/a.jpg", 120);
        tree.addFile("Sommer_2024/b.jpg", 5);
        tree.addFile("Sommer_2024/d.jpg", 7);
        tree.addFile("Arkiv__2023/Fest/x.jpg", 1);
        tree.addFile("2024/Fest/y.jpg", 1);
        tree.addFile("Ny/n.jpg", 1);
        tree.addFile("Privat/p.jpg", 1);

        const QString f2024 = service.seedFolder("2024");
        const QString f2023 = service.seedFolder("Arkiv 2023"); // the server name of "Arkiv__2023"
        const QString fest2024 = service.seedGallery("Fest", f2024);
        const QString fest2023 = service.seedGallery("Fest", f2023);
        const QString sommer = service.seedGallery("Sommer 2024");
        service.seedImage(sommer, "a.jpg", QByteArray(120, 'a'));
        service.seedImage(sommer, "c.jpg", "c");
        service.seedImage(sommer, "d.jpg", QByteArray(7, 'd'));
        QVERIFY(service.deleteImageOnWeb(sommer, "d.jpg"));
        service.seedGallery("sommer 2024");                      // other case: matches nothing, never known
        const QString privat = service.seedGallery("Privat", f2023); // its folder is ignored: placeholder
        const QString known = service.seedGallery("Kjent");       // top level but known before: placeholder

        const QList<UploadedFileMeta> stored{{"a.jpg", 120, 760000000.5}, {"b.jpg", 5, std::nullopt},
                                             {"d.jpg", 7, 760000001.0}};
        writeState(support.root(), tree.root(), {{tree.path("Sommer_2024"), stored}}, {known});

        Engine engine(service.baseUrl(), support.root());
        SyncManager &manager = engine.manager;
        manager.setIgnoredPaths({tree.path("Privat")});
        testsupport::LogCapture log;
        // Two starts close together make one run.
        auto first = manager.fullScanAndReconcile();
        auto second = manager.fullScanAndReconcile();
        testsupport::awaitTask(std::move(second));
        testsupport::awaitTask(std::move(first));
        QCOMPARE(service.requests("GET", "/api/sync/state").size(), 1);
        QVERIFY(!manager.reconcileError());
        QVERIFY(manager.hasCompletedInitialReconcile());
        QVERIFY(log.contains(syncCategory, "Reconcile done: matched 3 of 7 folders, 2 removed locally"));

        const SyncFolder *s = folderAt(manager, tree.path("Sommer_2024"));
        QCOMPARE(s->status, SyncStatus::synced(sommer, service.gallery(sommer)->slug,
                                               qint64(service.gallery(sommer)->images.size())));
        // The service decides the names, the stored records keep size and time; the name deleted on the web
        // stays recorded so it is never uploaded again; c.jpg, known only from the service, gets no record.
        const QList<UploadedFileMeta> expected{stored[0], stored[2]};
        QCOMPARE(*s->uploadedFiles, expected);
        QCOMPARE(s->newFileNames(), QStringList{"b.jpg"});

        // Equal titles: the parent path, normalised as the first sync names server folders, decides.
        QCOMPARE(folderAt(manager, tree.path("Arkiv__2023/Fest"))->status.galleryId(), fest2023);
        QCOMPARE(folderAt(manager, tree.path("2024/Fest"))->status.galleryId(), fest2024);
        QCOMPARE(folderAt(manager, tree.path("Ny"))->status.kind(), SyncStatus::Case::notSynced);
        QCOMPARE(folderAt(manager, tree.path("Privat"))->status.kind(), SyncStatus::Case::ignored);

        const SyncFolder *placeholder = folderAt(manager, "__removed__/" + privat);
        QVERIFY(placeholder);
        QCOMPARE(placeholder->status, SyncStatus::removedLocally(privat, service.gallery(privat)->slug));
        QVERIFY(!placeholder->uploadedFiles);
        QVERIFY(folderAt(manager, "__removed__/" + known));

        QCOMPARE(manager.knownGalleryIds(), (QSet<QString>{fest2024, fest2023, sommer, privat, known}));
        QVERIFY(manager.pendingFolderUploads().isEmpty());
        QTRY_VERIFY(manager.isWatching());
        manager.flushState();
        const QByteArray saved = readFile(manager.stateFilePath());
        QVERIFY(saved.contains(R"({"fileName":"d.jpg","fileSize":7,"mtime":760000001})"));
        QVERIFY(saved.contains(fest2023.toUtf8()));
    }

    // A top-level gallery made by a first sync is known although no reconcile saw its link: its folder deleted
    // before the next reconcile leaves its placeholder, not a gallery the user can no longer reach.
    void firstSyncedGalleryOfAFolderGoneIsKnown()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        writeState(support.root(), tree.root(), {});
        Engine engine(service.baseUrl(), support.root());
        SyncManager &manager = engine.manager;
        testsupport::awaitTask(manager.fullScanAndReconcile());
        tree.addFile("Høst/h.jpg", 3);
        testsupport::awaitTask(manager.fullScanAndReconcile());
        const SyncFolder *folder = folderAt(manager, tree.path("Høst"));
        QVERIFY(folder);
        testsupport::awaitTask(manager.syncFolder(*folder));
        folder = folderAt(manager, tree.path("Høst"));
        QVERIFY(folder && folder->status.is(SyncStatus::Case::synced));
        const QString gallery = folder->status.galleryId();

        QVERIFY(QDir(tree.path("Høst")).removeRecursively());
        testsupport::awaitTask(manager.fullScanAndReconcile());
        const SyncFolder *placeholder = folderAt(manager, "__removed__/" + gallery);
        QVERIFY(placeholder);
        QCOMPARE(placeholder->status.kind(), SyncStatus::Case::removedLocally);
        QVERIFY(manager.knownGalleryIds().contains(gallery));
    }

    // Automatic sync is asked for only when a folder is new or a synced one without a pending move changed.
    void schedulesAutoSyncOnlyForWork_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("scheduled");
        QTest::newRow("nothing changed") << "none" << false;
        QTest::newRow("new folder") << "new" << true;
        QTest::newRow("new image") << "image" << true;
        QTest::newRow("moved folder") << "moved" << false;
        QTest::newRow("failed service") << "fail" << false;
    }

    void schedulesAutoSyncOnlyForWork()
    {
        QFETCH(QString, change);
        QFETCH(bool, scheduled);
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        const double written = 1700000000.0;
        tree.addFile("Shoot/a.jpg", 3, written);
        const QString shoot = service.seedGallery("Shoot");
        service.seedImageOfSize(shoot, "a.jpg", 3);
        const UploadedFileMeta record{"a.jpg", 3, written - referencedate::unixOffsetSeconds};
        writeState(support.root(), tree.root(), {{tree.path("Shoot"), {record}}});
        Engine engine(service.baseUrl(), support.root());
        SyncManager &manager = engine.manager;
        testsupport::awaitTask(manager.fullScanAndReconcile());
        QVERIFY(!manager.isAutoSyncScheduled());
        if (change == "new")
            tree.addFile("Ny/n.jpg", 1);
        if (change == "image")
            tree.addFile("Shoot/b.jpg", 1);
        if (change == "moved") {
            QVERIFY(QDir().mkpath(tree.path("Arkiv")));
            QVERIFY(QDir().rename(tree.path("Shoot"), tree.path("Arkiv/Shoot")));
            tree.addFile("Arkiv/Shoot/b.jpg", 1);
        }
        if (change == "fail")
            service.script("GET", "/api/sync/state", {500, R"({"error":"boom"})"});
        testsupport::awaitTask(manager.fullScanAndReconcile());
        QCOMPARE(manager.isAutoSyncScheduled(), scheduled);
    }

    void failureKeepsFolders_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("text");
        const QString noContact = SyncManager::noContactText();
        const QString retry = QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt");
        QTest::newRow("service gone") << 0 << noContact;
        QTest::newRow("connection closed") << 1 << noContact;
        QTest::newRow("timed out") << 2 << noContact;
        QTest::newRow("HTTP 500") << 3 << retry;
        QTest::newRow("HTTP 401, no token") << 4 << retry;
        QTest::newRow("body not a sync state") << 5 << retry;
    }

    void failureKeepsFolders()
    {
        QFETCH(int, fault);
        QFETCH(QString, text);
        auto service = std::make_unique<StandInService>();
        service->addAccount(token);
        TempTree support;
        TempTree tree;
        tree.addFile("Shoot/a.jpg", 3);
        tree.addFile("Flytt/m.jpg", 2);
        const QString gone = service->seedGallery("Borte", service->seedFolder("2024"));
        service->seedImage(service->seedGallery("Shoot"), "a.jpg", "aaa");
        const QString flytt = service->seedGallery("Flytt");
        service->seedImage(flytt, "m.jpg", "mm");
        writeState(support.root(), tree.root(), {{tree.path("Shoot"), {{"a.jpg", 3, 1.0}}}});

        Engine engine(service->baseUrl(), support.root());
        SyncManager &manager = engine.manager;
        testsupport::awaitTask(manager.fullScanAndReconcile());
        QVERIFY(folderAt(manager, "__removed__/" + gone));
        const SyncFolder before = *folderAt(manager, tree.path("Shoot"));
        const QSet<QString> knownBefore = manager.knownGalleryIds();
        tree.addFile("Later/l.jpg", 1);
        QVERIFY(QDir().mkpath(tree.path("Arkiv")));
        QVERIFY(QDir().rename(tree.path("Flytt"), tree.path("Arkiv/Flytt")));

        using Kind = ScriptedAnswer::Kind;
        if (fault == 0) {
            const QUrl url = service->baseUrl();
            service.reset();
            Engine::pointAt(engine.api, url, QString::fromLatin1(token));
        } else if (fault == 4) {
            Engine::pointAt(engine.api, service->baseUrl(), std::nullopt);
        } else {
            const QList<ScriptedAnswer> answers{{},
                                                {0, {}, {}, 0, Kind::CloseWithoutAnswer},
                                                {0, {}, {}, 0, Kind::Hang},
                                                {500, R"({"error":"boom"})"},
                                                {},
                                                {200, R"({"galleries":[]})"}};
            service->script("GET", "/api/sync/state", answers.at(fault), 2);
        }
        testsupport::LogCapture log;
        testsupport::awaitTask(manager.fullScanAndReconcile());

        QCOMPARE(manager.reconcileErrorText(), text);
        QVERIFY(log.contains(syncCategory, "Reconcile failed: "));
        QVERIFY(!manager.isReconciling());
        // The scan's folders with what the previous list knew; no placeholders, nothing matched.
        QCOMPARE(manager.folders().size(), 3);
        const SyncFolder *kept = folderAt(manager, tree.path("Shoot"));
        QCOMPARE(kept->status, before.status);
        QCOMPARE(kept->uploadedFiles, before.uploadedFiles);
        QCOMPARE(folderAt(manager, tree.path("Later"))->status.kind(), SyncStatus::Case::notSynced);
        QVERIFY(!folderAt(manager, "__removed__/" + gone));
        QCOMPARE(manager.knownGalleryIds(), knownBefore);
        QTRY_VERIFY(manager.isWatching());

        // The moved folder waits for the user: an automatic pass must not give it a second gallery.
        const SyncFolder *moved = folderAt(manager, tree.path("Arkiv/Flytt"));
        QCOMPARE(moved->movedFrom, std::optional<QString>("Flytt"));
        QCOMPARE(moved->status.kind(), SyncStatus::Case::notSynced);
        testsupport::awaitTask(manager.runAutoSync());
        QCOMPARE(folderAt(manager, tree.path("Arkiv/Flytt"))->status.kind(), SyncStatus::Case::notSynced);
        QVERIFY(folderAt(manager, tree.path("Later"))->status.kind() != SyncStatus::Case::notSynced);

        // Once the service answers again the folder finds its gallery, and the move still waits for the user.
        if (fault == 0 || fault == 4)
            return;
        service->clearScripts();
        testsupport::awaitTask(manager.fullScanAndReconcile());
        testsupport::awaitTask(manager.fullScanAndReconcile());
        const SyncFolder *linked = folderAt(manager, tree.path("Arkiv/Flytt"));
        QCOMPARE(linked->status.kind(), SyncStatus::Case::synced);
        QCOMPARE(linked->movedFrom, std::optional<QString>("Flytt"));
    }

    void unreadableExportFolderChangesNothing()
    {
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree tree;
        const QString shoot = service.seedGallery("Shoot", service.seedFolder("2024"));
        service.seedImage(shoot, "a.jpg", "aaa");
        const QString exportFolder = tree.path("Eksport");
        tree.addFile("Eksport", 1); // a file where the folder should be
        writeState(support.root(), exportFolder, {{exportFolder + "/Shoot", {{"a.jpg", 3, 1.0}}}}, {shoot});
        const QByteArray stateBefore = readFile(support.path("sync-state.json"));

        Engine engine(service.baseUrl(), support.root());
        SyncManager &manager = engine.manager;
        const PendingFolderUploads pendingBefore = manager.pendingFolderUploads();
        testsupport::LogCapture log;
        // Empty folder list after start: the run must still stop, not mark the known gallery removed.
        testsupport::awaitTask(manager.fullScanAndReconcile());
        QVERIFY(log.contains(syncCategory, "Cannot access watch folder — keeping existing state"));
        QCOMPARE(manager.reconcileErrorText(), "Får ikke tilgang til eksportmappen");
        QVERIFY(manager.hasCompletedInitialReconcile());
        QVERIFY(!manager.isReconciling());
        QVERIFY(manager.folders().isEmpty());
        QCOMPARE(manager.pendingFolderUploads(), pendingBefore);
        QVERIFY(service.requests("GET", "/api/sync/state").isEmpty());
        QVERIFY(!manager.isWatching());
        manager.flushState();
        QCOMPARE(readFile(support.path("sync-state.json")), stateBefore);

        // The disk comes back: the records attach and the error clears.
        QVERIFY(QFile::remove(exportFolder));
        tree.addFile("Eksport/Shoot/a.jpg", 3);
        testsupport::awaitTask(manager.fullScanAndReconcile());
        QVERIFY(!manager.reconcileError());
        QCOMPARE(manager.folders().size(), 1);
        QCOMPARE(manager.folders().first().status.galleryId(), shoot);

        // Gone again with folders listed: the list stays as it is.
        const QList<SyncFolder> listed = manager.folders();
        QVERIFY(QDir(exportFolder).removeRecursively());
        testsupport::awaitTask(manager.fullScanAndReconcile());
        QCOMPARE(manager.folders(), listed);
        QCOMPARE(manager.reconcileErrorText(), "Får ikke tilgang til eksportmappen");
    }
};

QTEST_GUILESS_MAIN(TestReconcile)
#include "tst_reconcile.moc"
