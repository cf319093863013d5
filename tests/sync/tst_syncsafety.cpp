// The engine end to end against the stand-in service and real folders, on the roads where a change could be lost,
// a second gallery made, an image deleted that the user never deleted, or a folder left stuck.

#include "UploadTestFixture.h"

#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/FolderScanner.h"
#include "sync/SyncManager.h"

#include <algorithm>
#include <QDir>
#include <QFile>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::awaitTask;
using uploadtest::Engine;
using uploadtest::manualPasses;
using uploadtest::ownPasses;
using uploadtest::recordNames;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;

Q_DECLARE_METATYPE(testsupport::ScriptedAnswer)

namespace {

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");


} // namespace

class TestSyncSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FolderScanner::setUnreadableForTesting({}); }

    // ---- lost or wrong results

    // A refresh that merges while a run uploads saw the disk after the run read it: its image is uploaded by a
    // pass after the run.
    void changesDuringARunAreUploaded_data()
    {
        QTest::addColumn<bool>("update");
        QTest::newRow("first sync") << false;
        QTest::newRow("update") << true;
    }

    void changesDuringARunAreUploaded()
    {
        QFETCH(bool, update);
        // Runs the user starts, no watching: only the run itself can ask for the pass that follows it. A pass asked
        // for during the run starts at once, so it finds the folder busy.
        SyncDelays delays = ownPasses;
        delays.autoSync = 0ms;
        Engine e(delays);
        e.tree.addFile("Shoot/a.jpg", 10);
        e.manager->setFolders(SyncManager::scanFolderTree(e.tree.root(), {}));
        if (update)
            awaitTask(e.manager->syncFolder(e.entry("Shoot")));
        for (int i = 0; i < 5; ++i)
            e.tree.addFile(QStringLiteral("Shoot/%1.jpg").arg(i), 20 + i);
        bool added = false;
        connect(e.manager.get(), &SyncManager::foldersChanged, this, [&] {
            const SyncFolder folder = e.entry("Shoot");
            if (added || !folder.status.is(SyncStatus::Case::syncing) || folder.status.progress() <= 0)
                return;
            added = true;
            e.tree.addFile("Shoot/late.jpg", 7);
            e.refresh();
        });
        if (update)
            awaitTask(e.manager->updateFolder(e.entry("Shoot")));
        else
            awaitTask(e.manager->syncFolder(e.entry("Shoot")));
        QVERIFY(added);
        const QString id = e.entry("Shoot").status.galleryId();
        const QStringList all{"0.jpg", "1.jpg", "2.jpg", "3.jpg", "4.jpg", "a.jpg", "late.jpg"};
        QTRY_COMPARE_WITH_TIMEOUT(e.names(id), all, 10000);
        QTRY_COMPARE(recordNames(e.entry("Shoot")), all);
        QCOMPARE(e.galleryIds("Shoot").size(), 1);
    }

    // Any change seen while a full scan and reconcile waits for the service leads to a refresh and a pass after it.
    void changesDuringAReconcileAreUploaded()
    {
        Engine e(ownPasses);
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        QTRY_VERIFY_WITH_TIMEOUT(e.entry("Shoot").status.is(SyncStatus::Case::synced), 10000);
        QTRY_VERIFY(e.manager->isWatching());
        const QString id = e.entry("Shoot").status.galleryId();
        const auto gallery = e.service.gallery(id);
        // The service's answer, held back long enough for the change below to be seen while the reconcile waits.
        const QByteArray state =
            QStringLiteral(R"({"galleries":[{"id":"%1","slug":"%2","title":"Shoot","imageCount":1,"status":"%3",)"
                           R"("createdAt":"%4","fileNames":["a.jpg"],"deletedFileNames":[]}],"folders":[]})")
                .arg(id, gallery->slug, gallery->status, gallery->createdAt)
                .toUtf8();
        e.service.script("GET", "/api/sync/state", {200, state, {}, 1500});
        const qsizetype asked = e.service.requests("GET", "/api/sync/state").size();
        auto reconcile = e.manager->fullScanAndReconcile();
        QTRY_COMPARE(e.service.requests("GET", "/api/sync/state").size(), asked + 1); // its scan is done
        e.tree.addFile("Shoot/new.jpg", 11);
        awaitTask(std::move(reconcile));
        QTRY_COMPARE_WITH_TIMEOUT(e.names(id), (QStringList{"a.jpg", "new.jpg"}), 10000);
    }

    // A changed image whose name was also deleted on the web, while an active image of that name exists, is
    // replaced like any changed image.
    void changedImageAlsoDeletedOnTheWebIsReplaced()
    {
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass();
        const QString id = e.entry("Shoot").status.galleryId();
        e.service.seedImageOfSize(id, "a.jpg", 10);
        QVERIFY(e.service.deleteImageOnWeb(id, "a.jpg")); // the uploaded one; the seeded copy stays active
        e.tree.addFile("Shoot/a.jpg", 99);
        e.refresh();
        e.pass();
        const auto gallery = e.service.gallery(id);
        QCOMPARE(gallery->images.size(), 1);
        QCOMPARE(gallery->images.first().fileSize, 99);
        QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::synced);
    }

    // An image whose size or time changed within the settling span waits for a pass after it settles.
    void imagesStillBeingWrittenWait()
    {
        double now = 0;
        SyncDelays delays = manualPasses;
        delays.settle = 2s;
        delays.clock = [&now] { return now; };
        Engine e(delays);
        const double written = 1700000000.0;
        const double reference = written - referencedate::unixOffsetSeconds;
        e.tree.addFile("Shoot/a.jpg", 10, written);
        now = reference + 0.5;
        e.watch();
        e.pass();
        QVERIFY(e.galleryIds("Shoot").isEmpty());
        QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::notSynced);
        now = reference + 10;
        e.pass();
        const QString id = e.entry("Shoot").status.galleryId();
        QCOMPARE(e.names(id), QStringList{"a.jpg"});

        // The update: a new image and a rewritten one wait, the rewritten one keeps its old record meanwhile.
        e.tree.addFile("Shoot/b.jpg", 5, written + 100);
        e.tree.addFile("Shoot/a.jpg", 12, written + 100);
        e.refresh();
        now = reference + 101;
        e.pass();
        QCOMPARE(e.service.gallery(id)->images.first().fileSize, 10);
        QCOMPARE(e.names(id), QStringList{"a.jpg"});
        QCOMPARE(e.entry("Shoot").uploadedFiles->first().fileSize, 10);
        QCOMPARE(e.entry("Shoot").newFileCount(), 1);
        now = reference + 110;
        e.pass();
        QCOMPARE(e.names(id), (QStringList{"a.jpg", "b.jpg"}));
        QCOMPARE(e.service.gallery(id)->images.first().fileSize, 12);
    }

    // A folder that exists but cannot be read is unknown, not removed: its entry, records and gallery stay.
    void unreadableFolderKeepsItsEntry_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("while running") << false;
        QTest::newRow("after a start") << true;
    }

    void unreadableFolderKeepsItsEntry()
    {
        QFETCH(bool, restart);
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.tree.addFile("Other/o.jpg", 10);
        e.watch();
        e.pass();
        const SyncFolder before = e.entry("Shoot");
        const QString id = before.status.galleryId();
        QVERIFY(before.uploadedFiles);

        FolderScanner::setUnreadableForTesting({e.tree.path("Shoot")});
        if (restart)
            e.restart();
        testsupport::LogCapture log;
        e.reconcile();
        QVERIFY(log.contains(syncCategory, "Cannot read"));
        QVERIFY(!e.hasEntry("__removed__/" + id));
        if (restart) {
            QCOMPARE(e.manager->pendingFolderUploads().value(before.path), *before.uploadedFiles);
        } else {
            QCOMPARE(e.entry("Shoot"), before);
            e.refresh();
            QCOMPARE(e.entry("Shoot"), before);
        }
        e.pass();
        QCOMPARE(e.names(id), QStringList{"a.jpg"});

        FolderScanner::setUnreadableForTesting({});
        e.restart();
        e.reconcile();
        QCOMPARE(e.entry("Shoot").status.galleryId(), id);
        QCOMPARE(*e.entry("Shoot").uploadedFiles, *before.uploadedFiles);
    }

    // A pass keeps what it found about each folder until the folder's entry changes, however it changes.
    void passSeesAChangeAfterAQuietPass_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("image added, refreshed") << "image";
        QTest::newRow("record dropped") << "record";
    }

    void passSeesAChangeAfterAQuietPass()
    {
        QFETCH(QString, change);
        Engine e;
        e.tree.addFile("A/1.jpg", 10);
        e.tree.addFile("A/2.jpg", 11);
        e.watch();
        e.pass();
        QVERIFY(e.entry("A").status.is(SyncStatus::Case::synced));
        testsupport::LogCapture log;
        e.pass();
        if (change == "image") {
            e.tree.addFile("A/3.jpg", 12);
            e.refresh();
        } else {
            QList<SyncFolder> folders = e.manager->folders();
            for (SyncFolder &folder : folders) {
                if (folder.path == e.tree.path("A"))
                    folder.uploadedFiles->removeLast();
            }
            e.manager->setFolders(folders);
        }
        e.pass();
        QCOMPARE(log.count(syncCategory, "Auto-updating changed folder: A"), 1);
    }

    // ---- duplicates

    void firstSyncNeverMakesASecondGallery_data()
    {
        QTest::addColumn<QString>("road");
        QTest::newRow("lookup of existing galleries fails") << "lookup";
        QTest::newRow("stale copy of a synced folder") << "stale";
    }

    void firstSyncNeverMakesASecondGallery()
    {
        QFETCH(QString, road);
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        const SyncFolder stale = e.entry("Shoot");
        if (road == "lookup") {
            e.service.seedGallery("Shoot"); // made on the web: the lookup would have found it
            e.service.script("GET", "/api/gallery/list", {500, R"({"error":"boom"})"});
        } else {
            e.pass();
        }
        e.service.clearRequests();
        awaitTask(e.manager->syncFolder(stale));
        QCOMPARE(e.galleryIds("Shoot").size(), 1);
        QVERIFY(e.service.requests("POST", "/api/gallery").isEmpty());
        if (road == "lookup")
            QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::failed);
        else
            QVERIFY(e.service.requests().isEmpty());
    }

    // A synced folder keeps its gallery by id while the service lists it, whatever its title and however many
    // galleries share it; only folders without a link are matched by title, never by the order of the list.
    void linkedFolderKeepsItsGallery_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("twist");
        QTest::addColumn<bool>("restart");
        const QStringList siblings{"Ola Nordmann/a.jpg", "Ola_Nordmann/b.jpg"};
        QTest::newRow("renamed on the web") << QStringList{"Shoot/a.jpg"} << "rename" << false;
        QTest::newRow("renamed on the web, after a start") << QStringList{"Shoot/a.jpg"} << "rename" << true;
        QTest::newRow("look-alike siblings, list reversed") << siblings << "reverse" << false;
        QTest::newRow("look-alike siblings, list reversed, after a start") << siblings << "reverse" << true;
        // Names that differ only in Unicode normalisation are two folders on disk, each with its own gallery.
        const QStringList normalised{"\u00C5sg\u00E5rd/a.jpg", "A\u030Asga\u030Ard/b.jpg"};
        QTest::newRow("siblings differing in normalisation") << normalised << "reverse" << false;
        QTest::newRow("siblings differing in normalisation, after a start") << normalised << "reverse" << true;
        QTest::newRow("siblings differing in normalisation, one added later") << normalised << "later" << true;
        QTest::newRow("empty twin in the same server folder") << QStringList{"2024/Fest/a.jpg"} << "twin" << false;
        QTest::newRow("empty twin in the same server folder, after a start")
            << QStringList{"2024/Fest/a.jpg"} << "twin" << true;
    }

    void linkedFolderKeepsItsGallery()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, twist);
        QFETCH(bool, restart);
        Engine e;
        const QString f2024 = e.service.seedFolder("2024");
        const bool later = twist == "later";
        for (const QString &file : later ? files.mid(0, files.size() - 1) : files)
            e.tree.addFile(file, 10);
        e.watch();
        e.pass();
        if (later) {
            e.tree.addFile(files.last(), 10);
            e.refresh();
            e.pass();
        }
        QHash<QString, QString> linked; // folder path -> gallery id
        QHash<QString, QStringList> images;
        for (const SyncFolder &folder : e.manager->folders()) {
            QVERIFY(folder.status.is(SyncStatus::Case::synced));
            linked.insert(folder.path, folder.status.galleryId());
            images.insert(folder.path, e.names(folder.status.galleryId()));
        }
        QCOMPARE(linked.size(), files.size());
        const qsizetype galleries = e.service.galleries().size();

        if (twist == "rename")
            QVERIFY(e.service.renameGallery(linked.value(e.tree.path("Shoot")), "Shoot (levert)"));
        if (twist == "twin")
            e.service.seedGallery("Fest", f2024);
        e.service.setSyncStateReversed(true);
        if (restart)
            e.restart();
        e.reconcile();
        e.pass();
        for (auto it = linked.cbegin(); it != linked.cend(); ++it) {
            QCOMPARE(e.entry(QDir(e.tree.root()).relativeFilePath(it.key())).status.galleryId(), it.value());
            QCOMPARE(e.names(it.value()), images.value(it.key()));
        }
        QCOMPARE(e.service.galleries().size(), galleries + (twist == "twin" ? 1 : 0));
        QVERIFY(e.service.requests("POST", "/api/upload/presigned").size() == qsizetype(files.size()));
    }

    // A run that failed is tried again; whatever the service made of the failed run, each image ends up in the
    // gallery once: a confirmation that got no answer may have been applied (the gallery is asked before sending
    // again), one answered with an error was not (its uploads are abandoned, nothing is asked), and a gallery the
    // failed first sync had made is adopted and brought up to date.
    void retriedRunsLeaveEachImageOnce_data()
    {
        QTest::addColumn<bool>("update");
        QTest::addColumn<QByteArray>("failing"); // the request that fails once
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<bool>("asked"); // whether the gallery's images are asked for after the failure
        const ScriptedAnswer lost{0, {}, {}, 0, ScriptedAnswer::Kind::ActThenClose};
        const ScriptedAnswer refused{500, R"({"error":"boom"})"};
        QTest::newRow("update, confirmation's answer lost") << true << QByteArray("confirm") << lost << true;
        QTest::newRow("update, confirmation refused") << true << QByteArray("confirm") << refused << false;
        QTest::newRow("first sync, confirmation's answer lost") << false << QByteArray("confirm") << lost << true;
        QTest::newRow("first sync, presigned request refused after the gallery was made")
            << false << QByteArray("presigned") << refused << true;
    }

    void retriedRunsLeaveEachImageOnce()
    {
        QFETCH(bool, update);
        QFETCH(QByteArray, failing);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(bool, asked);
        SyncDelays delays = ownPasses;
        delays.firstRetry = 50ms;
        Engine e(delays);
        QStringList all{"a.jpg"};
        e.tree.addFile("Shoot/a.jpg", 10);
        if (update) {
            e.watch();
            QTRY_VERIFY_WITH_TIMEOUT(e.entry("Shoot").status.is(SyncStatus::Case::synced), 10000);
        }
        for (const QString name : {"b.jpg", "c.jpg", "d.jpg"}) {
            e.tree.addFile("Shoot/" + name, 20);
            all.append(name);
        }
        testsupport::LogCapture log;
        e.service.script("POST", failing == "confirm" ? "/api/gallery/*" : "/api/upload/presigned", answer);
        if (update)
            e.refresh();
        else
            e.watch();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(syncCategory, "Will retry Shoot"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(e.entry("Shoot").status.is(SyncStatus::Case::synced)
                                     && e.entry("Shoot").newFileCount() == 0,
                                 10000);
        const QStringList ids = e.galleryIds("Shoot");
        QCOMPARE(ids.size(), 1);
        QCOMPARE(e.names(ids.first()), all); // sorted, so a repeat would show
        QCOMPARE(recordNames(e.entry("Shoot")), all);
        QCOMPARE(!e.service.requests("GET", "/api/gallery/" + ids.first().toUtf8() + "/images").isEmpty(), asked);
    }

    // A process killed while the service still applies its confirmation: after the start, the reconcile reads the
    // gallery before the images are in it; the pass asks again before it sends anything.
    void killedWhileTheConfirmationIsAppliedSendsNothingTwice()
    {
        Engine e;
        QStringList all;
        for (int i = 0; i < 20; ++i) {
            all.append(QStringLiteral("%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
            e.tree.addFile("Shoot/" + all.last(), 10 + i);
        }
        e.watch();
        ScriptedAnswer late{0, {}, {}, 0, ScriptedAnswer::Kind::ActThenClose};
        late.held = true; // acted on only after the process is gone and started again
        e.service.script("POST", "/api/gallery/*", late);
        auto killed = e.manager->runAutoSync();
        QTRY_COMPARE_WITH_TIMEOUT(e.service.requests("POST", "/api/gallery/*").size(), 1, 10000); // confirming
        // The run is on disk before its confirmation goes out: a kill loses nothing of it.
        QFile file(e.manager->ledger().logFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(R"("runs")"));
        e.manager.reset();
        e.restart();
        e.reconcile();
        const QString id = e.entry("Shoot").status.galleryId();
        QCOMPARE(e.names(id), QStringList());
        e.service.releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(e.names(id), all, 10000);
        awaitTask(std::move(killed));
        e.pass();
        QCOMPARE(e.names(id), all);
        QCOMPARE(e.galleryIds("Shoot").size(), 1);
        QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::synced);
        QCOMPARE(recordNames(e.entry("Shoot")), all);
    }

    // ---- deletions the user did not make

    // Images known only from the service (added on the web, or by another machine) are never deleted.
    void webOnlyImagesStay_data()
    {
        QTest::addColumn<bool>("adopted");
        QTest::newRow("matched by the reconcile") << false;
        QTest::newRow("adopted by the first sync") << true;
    }

    void webOnlyImagesStay()
    {
        QFETCH(bool, adopted);
        Engine e;
        e.tree.addFile("Web/a.jpg", 10);
        e.tree.addFile("Web/n.jpg", 11);
        QString id;
        const auto seed = [&] {
            id = e.service.seedGallery("Web");
            e.service.seedImageOfSize(id, "a.jpg", 10);
            e.service.seedImageOfSize(id, "w.jpg", 12);
        };
        if (!adopted)
            seed();
        e.watch();
        if (adopted) {
            seed(); // made on the web after the reconcile
            e.pass();
            QCOMPARE(e.entry("Web").status.galleryId(), id);
            awaitTask(e.manager->updateFolder(e.entry("Web")));
        } else {
            e.pass();
        }
        QCOMPARE(e.names(id), (QStringList{"a.jpg", "n.jpg", "w.jpg"}));
        QCOMPARE(recordNames(e.entry("Web")), (QStringList{"a.jpg", "n.jpg"}));

        // Deleting a local image still deletes it from the gallery.
        QVERIFY(TempTree::remove(e.tree.path("Web/a.jpg")));
        e.refresh();
        e.pass();
        QCOMPARE(e.names(id), (QStringList{"n.jpg", "w.jpg"}));
    }

    // A name deleted on the web and gone from the disk leaves no pending removal: no listing, no failure.
    void webDeletedNamesLeaveNoWork()
    {
        Engine e;
        const QString id = e.service.seedGallery("Shoot");
        e.service.seedImageOfSize(id, "a.jpg", 10);
        e.service.seedImageOfSize(id, "d.jpg", 10);
        QVERIFY(e.service.deleteImageOnWeb(id, "d.jpg"));
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass(); // the metadata baseline
        e.reconcile();
        const SyncFolder shoot = e.entry("Shoot");
        QCOMPARE(shoot.removedFileCount(), 0);
        QVERIFY(!shoot.needsMetadataBaseline());
        e.service.clearRequests();
        e.service.script("GET", "/api/gallery/*", {500, R"({"error":"boom"})"}, -1);
        e.pass();
        QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::synced);
        QVERIFY(e.service.requests().isEmpty());
    }

    // ---- what the scan cannot read

    // An image or folder that cannot be named or reached is never uploaded: the folder counts it, for the user to
    // see beside the images it holds, and a later scan counts again.
    void unreadableEntriesAreCounted_data()
    {
        QTest::addColumn<bool>("deep");        // the gallery folder's path is about as long as the system allows
        QTest::addColumn<QByteArray>("name");  // of the entry that is skipped, %1: a number
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("invalidNames"); // per such entry
        QTest::addColumn<int>("tooLongPaths");
        QTest::newRow("image name not UTF-8") << false << QByteArray("bad%1\xff.jpg") << false << 1 << 0;
        QTest::newRow("folder name not UTF-8") << false << QByteArray("Fest%1\xc3(") << true << 1 << 0;
        QTest::newRow("other file, not counted") << false << QByteArray("notat%1\xff.txt") << false << 0 << 0;
        QTest::newRow("image path too long") << true << QByteArray(60, 'b') + "%1.jpg" << false << 0 << 1;
        QTest::newRow("folder path too long") << true << QByteArray(60, 'c') + "%1" << true << 0 << 1;
    }
    void unreadableEntriesAreCounted()
    {
        QFETCH(bool, deep);
        QFETCH(QByteArray, name);
        QFETCH(bool, folder);
        QFETCH(int, invalidNames);
        QFETCH(int, tooLongPaths);
        Engine e;
        // Deep: "a.jpg" still fits within the 4095 bytes of a path, a name of 60 bytes more does not.
        QString gallery = QStringLiteral("Blandet");
        while (deep && e.tree.path(gallery).size() + 211 < 4060)
            gallery += u'/' + QString(200, u'd');
        if (deep)
            gallery += u'/' + QString(4060 - e.tree.path(gallery).size() - 1, u'e');
        e.tree.addFile(gallery + "/a.jpg", 10);
        const auto addSkipped = [&](int number) {
            const QByteArray raw = QByteArray(name).replace("%1", QByteArray::number(number));
            if (folder)
                e.tree.addRawDir(gallery, raw);
            else
                e.tree.addRawFile(gallery, raw, 10);
        };
        addSkipped(1);
        e.watch();
        SkippedEntries skipped = e.entry(gallery).skippedEntries;
        QCOMPARE(skipped.invalidNames, invalidNames);
        QCOMPARE(skipped.tooLongPaths, tooLongPaths);
        e.pass();
        const SyncFolder synced = e.entry(gallery);
        QCOMPARE(synced.status.kind(), SyncStatus::Case::synced);
        QCOMPARE(synced.imageCount, 1);
        QCOMPARE(e.names(synced.status.galleryId()), QStringList{"a.jpg"});

        addSkipped(2);
        e.refresh();
        skipped = e.entry(gallery).skippedEntries;
        QCOMPARE(skipped.invalidNames, 2 * invalidNames);
        QCOMPARE(skipped.tooLongPaths, 2 * tooLongPaths);
    }

    // ---- stuck states

    // A moved folder whose gallery is gone or renamed has nothing to move: it is a new folder.
    void movedFolderWithoutGalleryIsNew_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("gallery deleted on the web") << true;
        QTest::newRow("gallery renamed on the web") << false;
    }

    void movedFolderWithoutGalleryIsNew()
    {
        QFETCH(bool, deleted);
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass();
        const QString old = e.entry("Shoot").status.galleryId();
        e.manager->stopWatching(); // the move below is found by the reconcile, not by a refresh that starts another
        QVERIFY(QDir().mkpath(e.tree.path("Arkiv")));
        QVERIFY(QDir().rename(e.tree.path("Shoot"), e.tree.path("Arkiv/Shoot")));
        if (deleted)
            awaitTask(e.api.deleteGallery(old));
        else
            QVERIFY(e.service.renameGallery(old, "Annet"));
        e.reconcile();
        QCOMPARE(e.entry("Arkiv/Shoot").status.kind(), SyncStatus::Case::notSynced);
        QVERIFY(!e.entry("Arkiv/Shoot").movedFrom);
        QTRY_VERIFY(!e.manager->isReconciling()); // a pass during a reconcile is left to the reconcile
        e.pass();
        const SyncFolder moved = e.entry("Arkiv/Shoot");
        QCOMPARE(moved.status.kind(), SyncStatus::Case::synced);
        QVERIFY(moved.status.galleryId() != old);
        QCOMPARE(e.names(moved.status.galleryId()), QStringList{"a.jpg"});
    }

    // Taking an ignore back, moving a moved folder's gallery or keeping it where it is changes nothing on disk, so no
    // file event follows: the action itself asks for the pass that syncs the folder or brings it up to date. A
    // move keeps the sizes and times recorded for the folder's images.
    void actionsLeaveNoFolderWaiting_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("take an ignore back") << "unignore";
        QTest::newRow("move the gallery on the service") << "move";
        QTest::newRow("keep the gallery where it is") << "keep";
    }

    void actionsLeaveNoFolderWaiting()
    {
        QFETCH(QString, action);
        Engine e(ownPasses);
        const bool moved = action != "unignore";
        const QString place = moved ? "Nytt/Fest" : "Fest";
        QList<UploadedFileMeta> recorded;
        if (moved) {
            e.tree.addFile("Gammelt/Fest/a.jpg", 10);
            e.tree.addFile("Gammelt/Fest/b.jpg", 11);
            e.watch();
            QTRY_VERIFY_WITH_TIMEOUT(e.entry("Gammelt/Fest").status.is(SyncStatus::Case::synced), 10000);
            QTRY_VERIFY(!e.manager->isAutoSyncing() && !e.manager->isAutoSyncScheduled());
            recorded = *e.entry("Gammelt/Fest").uploadedFiles;
            e.manager->stopWatching(); // the move below is found by the reconcile, not by a refresh
            QVERIFY(QDir().mkpath(e.tree.path("Nytt")));
            QVERIFY(QDir().rename(e.tree.path("Gammelt/Fest"), e.tree.path(place)));
            e.tree.addFile(place + "/c.jpg", 12);
            e.reconcile();
            const SyncFolder found = e.entry(place);
            QCOMPARE(found.movedFrom, std::optional<QString>("Gammelt/Fest"));
            // Records keep the order the uploads finished in; the reconcile may list them otherwise.
            QList<UploadedFileMeta> kept = found.uploadedFiles.value_or(QList<UploadedFileMeta>{});
            const auto byName = [](const UploadedFileMeta &a, const UploadedFileMeta &b) { return a.fileName < b.fileName; };
            std::sort(kept.begin(), kept.end(), byName);
            std::sort(recorded.begin(), recorded.end(), byName);
            QCOMPARE(kept, recorded);
        } else {
            e.tree.addFile("Fest/a.jpg", 10);
            e.tree.addFile("Fest/b.jpg", 11);
            e.tree.addFile("Fest/c.jpg", 12);
            e.manager->setIgnoredPaths({e.tree.path(place)});
            e.watch();
            QCOMPARE(e.entry(place).status.kind(), SyncStatus::Case::ignored);
        }
        QVERIFY(!e.manager->isAutoSyncScheduled()); // nothing else would sync the folder

        const SyncFolder folder = e.entry(place);
        if (action == "unignore")
            e.manager->unignoreFolder(folder);
        else if (action == "move")
            awaitTask(e.manager->moveGalleryOnServer(folder));
        else
            e.manager->clearMovedFrom(folder);

        const QStringList all{"a.jpg", "b.jpg", "c.jpg"};
        QTRY_COMPARE_WITH_TIMEOUT(e.galleryIds("Fest").size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(e.names(e.galleryIds("Fest").first()), all, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(e.entry(place).status.is(SyncStatus::Case::synced), 10000);
        const SyncFolder after = e.entry(place);
        QVERIFY(!after.movedFrom);
        QCOMPARE(recordNames(after), all);
        QVERIFY(!after.needsMetadataBaseline() && !after.hasModifiedFiles() && after.newFileCount() == 0);
        for (const UploadedFileMeta &record : recorded)
            QVERIFY(after.uploadedFiles->contains(record)); // untouched by the update
    }

    void retryDelaysGrow()
    {
        const TempTree support;
        const SyncManager manager(support.root());
        QList<qint64> minutes;
        for (int failures = 1; failures <= 8; ++failures)
            minutes.append(std::chrono::duration_cast<std::chrono::minutes>(manager.retryDelay(failures)).count());
        QCOMPARE(minutes, (QList<qint64>{1, 2, 4, 8, 16, 32, 60, 60}));
    }

    // A failed first sync and a failed update are tried again by automatic sync on their own.
    void failedFoldersAreRetried()
    {
        SyncDelays delays = ownPasses;
        delays.firstRetry = 50ms;
        delays.maxRetry = 100ms;
        Engine e(delays);
        e.tree.addFile("Shoot/a.jpg", 10);
        testsupport::LogCapture log;
        e.service.script("POST", "/api/gallery", {500, R"({"error":"boom"})"});
        e.watch();
        QTRY_VERIFY_WITH_TIMEOUT(e.entry("Shoot").status.is(SyncStatus::Case::synced), 10000);
        QVERIFY(log.contains(syncCategory, "Failed to create gallery for Shoot"));
        const QString id = e.entry("Shoot").status.galleryId();

        e.service.script("POST", "/api/upload/presigned", {500, R"({"error":"boom"})"});
        e.tree.addFile("Shoot/b.jpg", 11);
        e.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(e.names(id), (QStringList{"a.jpg", "b.jpg"}), 10000);
        QTRY_VERIFY(e.entry("Shoot").status.is(SyncStatus::Case::synced));
        QCOMPARE(log.count(syncCategory, "Retrying failed folder: Shoot"), 2);
        QCOMPARE(e.galleryIds("Shoot").size(), 1);
    }

    // A folder that failed because the service could not be reached is tried again by the first pass after a full
    // check that got the service's answer; one the service refused, or one whose check got none, keeps its wait.
    void contactBackRetriesAtOnce_data()
    {
        QTest::addColumn<bool>("update");
        QTest::addColumn<ScriptedAnswer>("failure");
        QTest::addColumn<bool>("checkAnswered");
        QTest::addColumn<bool>("retried");
        ScriptedAnswer closed;
        closed.kind = ScriptedAnswer::Kind::CloseWithoutAnswer;
        const ScriptedAnswer refused{500, R"({"error":"boom"})"};
        QTest::newRow("first sync, no contact, check answered") << false << closed << true << true;
        QTest::newRow("update, no contact, check answered") << true << closed << true << true;
        QTest::newRow("first sync, refused, check answered") << false << refused << true << false;
        QTest::newRow("first sync, no contact, check unanswered") << false << closed << false << false;
    }

    void contactBackRetriesAtOnce()
    {
        QFETCH(bool, update);
        QFETCH(ScriptedAnswer, failure);
        QFETCH(bool, checkAnswered);
        QFETCH(bool, retried);
        Engine e; // passes only when the test runs one; a failed folder's own wait (a minute) never ends here
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        if (update) {
            e.pass();
            QVERIFY(e.entry("Shoot").status.is(SyncStatus::Case::synced));
            e.tree.addFile("Shoot/b.jpg", 20);
            e.refresh();
        }
        // The first sync fails where it looks for a gallery of the folder's title, the update at its upload.
        if (update)
            e.service.script("POST", "/api/upload/presigned", failure, -1);
        else
            e.service.script("GET", "/api/gallery/list", failure, -1);
        e.pass();
        QVERIFY(e.entry("Shoot").status.is(SyncStatus::Case::failed));
        if (failure.kind == ScriptedAnswer::Kind::CloseWithoutAnswer)
            QCOMPARE(e.entry("Shoot").status.failureMessage(), SyncManager::noContactText());

        e.service.clearScripts();
        if (!checkAnswered)
            e.service.script("GET", "/api/sync/state", failure, -1);
        e.reconcile();
        QCOMPARE(e.manager->reconcileError().has_value(), !checkAnswered);
        e.pass();
        QCOMPARE(e.entry("Shoot").status.is(SyncStatus::Case::synced), retried);
        if (retried) {
            const QStringList ids = e.galleryIds("Shoot");
            QCOMPARE(ids.size(), 1);
            QCOMPARE(e.names(ids.first()), update ? QStringList({"a.jpg", "b.jpg"}) : QStringList{"a.jpg"});
        }
    }

    // Ignoring a folder while its sync or update runs wins over the run's progress and end.
    void ignoringWinsOverARunningUpload_data()
    {
        QTest::addColumn<bool>("update");
        QTest::newRow("first sync") << false;
        QTest::newRow("update") << true;
    }

    void ignoringWinsOverARunningUpload()
    {
        QFETCH(bool, update);
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        if (update)
            e.pass();
        for (int i = 0; i < 5; ++i)
            e.tree.addFile(QStringLiteral("Shoot/%1.jpg").arg(i), 20 + i);
        e.refresh();
        bool ignored = false;
        connect(e.manager.get(), &SyncManager::foldersChanged, this, [&] {
            const SyncFolder folder = e.entry("Shoot");
            if (ignored || !folder.status.is(SyncStatus::Case::syncing) || folder.status.progress() <= 0)
                return;
            ignored = true;
            e.manager->ignoreFolder(folder);
        });
        e.pass();
        QVERIFY(ignored);
        const SyncFolder shoot = e.entry("Shoot");
        QCOMPARE(shoot.status.kind(), SyncStatus::Case::ignored);
        QVERIFY(!shoot.uploadedFiles);
        e.restart();
        QVERIFY(!e.manager->pendingFolderUploads().contains(shoot.path));
        QVERIFY(e.manager->ignoredPaths().contains(shoot.path));
    }

    // A state file that cannot be read, with no good copy beside it: what it lost is relearned from the service,
    // but the folders it lists as ignored stay off the service.
    void ignoredFoldersOutliveAnUnreadableStateFile_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("cut short, no copy") << "cut";
        QTest::newRow("cut before the list, copy of another shape") << "shape";
        QTest::newRow("escapes, spaces and a number, no copy") << "escaped";
    }

    void ignoredFoldersOutliveAnUnreadableStateFile()
    {
        QFETCH(QString, damage);
        Engine e;
        const QString secret = QString::fromUtf8("Privat \"\u00f8\"");
        e.tree.addFile("Offentlig/a.jpg", 10);
        e.tree.addFile(secret + "/b.jpg", 11);
        e.tree.addFile("Skisser/c.jpg", 12);
        const QSet<QString> ignored{e.tree.path(secret), e.tree.path("Skisser")};
        e.manager->setIgnoredPaths(ignored);
        e.watch();
        e.pass();
        QCOMPARE(e.galleryIds("Offentlig").size(), 1);
        e.manager->flushState();
        e.manager.reset();

        const QString statePath = e.support.path("sync-state.json");
        const QString copyPath = statePath + ".last-good";
        QFile file(statePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.close();
        QVERIFY(bytes.contains("\"folderUploads\""));
        const auto write = [](const QString &path, const QByteArray &contents) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(contents);
        };
        QFile::remove(copyPath);
        if (damage == "cut") {
            write(statePath, bytes.left(bytes.indexOf("\"folderUploads\"") + 20));
        } else if (damage == "shape") {
            write(statePath, bytes.left(bytes.indexOf("\"ignoredPaths\"")));
            write(copyPath, QByteArray(bytes).replace("\"fileSize\"", "\"size\""));
        } else {
            QByteArrayList items;
            for (const QString &path : ignored) {
                QString escaped = path;
                escaped.replace('\\', "\\\\").replace('"', "\\\"").replace('/', "\\/");
                escaped.replace(QChar(0xf8), "\\u00f8");
                items.append("\"" + escaped.toLatin1() + "\"");
            }
            write(statePath, "{ \"ignoredPaths\" : [ " + items.join(" , 7 , ") + " ] , \"version\" : \"2\" }");
        }

        e.restart();
        QCOMPARE(e.manager->ignoredPaths(), ignored);
        e.watch();
        e.pass();
        QCOMPARE(e.entry(secret).status.kind(), SyncStatus::Case::ignored);
        QCOMPARE(e.entry("Skisser").status.kind(), SyncStatus::Case::ignored);
        QVERIFY(e.galleryIds(secret).isEmpty());
        QVERIFY(e.galleryIds("Skisser").isEmpty());
        QCOMPARE(e.galleryIds("Offentlig").size(), 1);
    }

    // A dismissed removed gallery stays dismissed, across a start too; a local folder of its title still links to
    // it, and from then on it is an ordinary gallery again.
    void dismissedGalleryStaysDismissed_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("while running") << false;
        QTest::newRow("after a start") << true;
    }

    void dismissedGalleryStaysDismissed()
    {
        QFETCH(bool, restart);
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        const QString gone = e.service.seedGallery("Borte", e.service.seedFolder("2024"));
        e.watch();
        const QString placeholderPath = "__removed__/" + gone;
        QVERIFY(e.hasEntry(placeholderPath));
        const SyncFolder placeholder = *std::find_if(e.manager->folders().cbegin(), e.manager->folders().cend(),
                                                     [&](const SyncFolder &f) { return f.path == placeholderPath; });
        e.manager->forgetFolder(placeholder);
        if (restart) {
            e.restart();
            e.watch();
        } else {
            e.reconcile();
        }
        QVERIFY(!e.hasEntry(placeholderPath));
        QVERIFY(!e.manager->knownGalleryIds().contains(gone));
        e.reconcile();
        QVERIFY(!e.hasEntry(placeholderPath));

        e.tree.addFile("2024/Borte/b.jpg", 11);
        e.reconcile();
        QCOMPARE(e.entry("2024/Borte").status.galleryId(), gone);
        QVERIFY(QDir(e.tree.path("2024")).removeRecursively());
        e.reconcile();
        QVERIFY(e.hasEntry(placeholderPath));
    }

    // Deleting a removed folder's gallery while a reconcile waits does not bring the entry back.
    void deletedGalleryStaysGone()
    {
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        const QString gone = e.service.seedGallery("Borte", e.service.seedFolder("2024"));
        e.watch();
        const SyncFolder placeholder = *std::find_if(
            e.manager->folders().cbegin(), e.manager->folders().cend(),
            [](const SyncFolder &f) { return f.status.is(SyncStatus::Case::removedLocally); });
        QCOMPARE(placeholder.status.galleryId(), gone);
        const SyncStateResponse answered = awaitTask(e.api.getSyncState()); // still lists it
        awaitTask(e.manager->deleteGalleryOnServer(placeholder));
        QVERIFY(!e.hasEntry(placeholder.path));
        e.manager->reconcileWithServer(SyncManager::scanFolderTree(e.tree.root(), {}), answered);
        QVERIFY(!e.hasEntry(placeholder.path));
        QVERIFY(!e.manager->knownGalleryIds().contains(gone));
    }
};

QTEST_GUILESS_MAIN(TestSyncSafety)
#include "tst_syncsafety.moc"
