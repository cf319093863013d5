// What the engine does on its own when a folder vanishes from the disk or a gallery from the service: the stand-in
// service, a real export folder, the engine's own event stream and automatic sync with short waits.

#include "UploadTestFixture.h"

#include "support/LogCapture.h"

#include <QDir>

using namespace std::chrono_literals;
using uploadtest::folderAt;

namespace {

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");
const char *const reconcileStarts = "Full scan+reconcile starting";

struct Engine : uploadtest::Fixture {
    Engine()
        : uploadtest::Fixture(
              {.refresh = 50ms, .autoSync = 150ms, .streamLatency = 100ms, .firstRetry = 100ms, .settle = 0ms})
    {
    }

    bool settled() const
    {
        return manager.isWatching() && !manager.isReconciling() && !manager.isAutoSyncing()
               && !manager.isAutoSyncScheduled();
    }
    // The gallery "Shoot" holds both images of the folder, and the engine has nothing left to do.
    void syncShoot()
    {
        writeImage("Shoot/a.jpg");
        writeImage("Shoot/b.jpg");
        manager.setWatchFolder(exportTree.root());
        QTRY_VERIFY_WITH_TIMEOUT(settled() && folderAt(manager, shoot)
                                     && folderAt(manager, shoot)->status.is(SyncStatus::Case::synced),
                                 20000);
        gallery = folderAt(manager, shoot)->status.galleryId();
    }
    qsizetype count(SyncStatus::Case status) const { return manager.statusCounts().count(status); }

    const QString shoot = exportTree.path("Shoot");
    QString gallery; // of "Shoot", once synced
};

} // namespace

class TestVanishing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A synced folder gone from the disk leaves the list for its gallery's placeholder (or a folder of the same
    // name elsewhere, which the move test covers); one that is only emptied stays as it is.
    void vanishedFolderLeavesTheList_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("deleted") << "delete";
        QTest::newRow("emptied, then deleted") << "empty+delete";
        QTest::newRow("renamed") << "rename";
        QTest::newRow("emptied") << "empty";
    }

    void vanishedFolderLeavesTheList()
    {
        QFETCH(QString, change);
        Engine e;
        e.syncShoot();
        testsupport::LogCapture log;
        if (change.startsWith("empty")) {
            QVERIFY(QFile::remove(e.exportTree.path("Shoot/a.jpg")));
            QVERIFY(QFile::remove(e.exportTree.path("Shoot/b.jpg")));
            QTRY_VERIFY_WITH_TIMEOUT(e.settled() && folderAt(e.manager, e.shoot)->imageCount == 0, 10000);
        }
        if (change.endsWith("delete"))
            QVERIFY(QDir(e.shoot).removeRecursively());
        if (change == "rename")
            QVERIFY(QDir().rename(e.shoot, e.exportTree.path("Reise")));

        if (change == "empty") {
            // The refresh that zeroed the count would have asked for the full scan by now.
            QCOMPARE(log.count(syncCategory, reconcileStarts), 0);
            QCOMPARE(folderAt(e.manager, e.shoot)->status.galleryId(), e.gallery);
            QCOMPARE(e.count(SyncStatus::Case::synced), 1);
            QCOMPARE(e.count(SyncStatus::Case::removedLocally), 0);
            return;
        }
        // A renamed folder is a new one, synced into a gallery of its new name.
        const QString placeholder = QStringLiteral("__removed__/") + e.gallery;
        QTRY_VERIFY_WITH_TIMEOUT(e.settled() && !folderAt(e.manager, e.shoot) && folderAt(e.manager, placeholder)
                                     && e.count(SyncStatus::Case::synced) == (change == "rename" ? 1 : 0),
                                 10000);
        QVERIFY(folderAt(e.manager, placeholder)->status.is(SyncStatus::Case::removedLocally));
        QCOMPARE(e.count(SyncStatus::Case::removedLocally), 1);
        QCOMPARE(log.count(syncCategory, reconcileStarts), 1);
    }

    // A gallery deleted on the web answers 404 to the folder's next update, at whichever request comes first; the
    // folder is synced anew into a new gallery with all its images after one full scan and reconcile. A service
    // that answers 404 for a gallery it still lists gets that one reconcile, and the folder's retries no more.
    void deletedGalleryIsSyncedAnew_data()
    {
        QTest::addColumn<QString>("notFound");
        QTest::addColumn<QStringList>("expected"); // the new gallery's images; none: no new gallery
        const QStringList all{"a.jpg", "b.jpg", "c.jpg"};
        QTest::newRow("image list (an image removed)") << "images" << QStringList{"a.jpg"};
        QTest::newRow("upload URLs (an image added)") << "presigned" << all;
        QTest::newRow("confirmation (deleted while sending)") << "confirm" << all;
        QTest::newRow("upload URLs, while the service lists it") << "always" << QStringList();
    }

    void deletedGalleryIsSyncedAnew()
    {
        QFETCH(QString, notFound);
        QFETCH(QStringList, expected);
        Engine e;
        e.syncShoot();
        testsupport::LogCapture log;
        if (notFound == "confirm")
            e.manager.setUploadStepHook([&](SyncManager::UploadStep step, const QStringList &) {
                if (step == SyncManager::UploadStep::sending)
                    e.service.deleteGalleryOnWeb(e.gallery);
            });
        else if (notFound == "always")
            e.service.script("POST", "/api/upload/presigned", {404, R"({"error":"gallery not found"})"}, -1);
        else
            QVERIFY(e.service.deleteGalleryOnWeb(e.gallery));
        if (notFound == "images")
            QVERIFY(QFile::remove(e.exportTree.path("Shoot/b.jpg")));
        else
            e.writeImage("Shoot/c.jpg");

        if (expected.isEmpty()) {
            // The folder goes back to its gallery, fails and is retried: its retries ask for no reconcile.
            const qsizetype presigns = e.service.requests("POST", "/api/upload/presigned").size();
            QTRY_VERIFY_WITH_TIMEOUT(e.service.requests("POST", "/api/upload/presigned").size() >= presigns + 4
                                         && !e.manager.isReconciling(),
                                     20000);
            QCOMPARE(e.service.galleries().size(), 1);
        } else {
            const auto anew = [&] {
                const SyncFolder *entry = folderAt(e.manager, e.shoot);
                return e.settled() && entry && entry->status.is(SyncStatus::Case::synced)
                       && entry->status.galleryId() != e.gallery
                       && e.serverNames(entry->status.galleryId()) == expected;
            };
            QTRY_VERIFY_WITH_TIMEOUT(anew(), 20000);
            QCOMPARE(e.service.galleries().size(), 1);
            QCOMPARE(e.count(SyncStatus::Case::removedLocally), 0);
        }
        QCOMPARE(log.count(syncCategory, reconcileStarts), 1);
    }
};

QTEST_GUILESS_MAIN(TestVanishing)
#include "tst_vanishing.moc"
