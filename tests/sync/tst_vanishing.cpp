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
    Engine() : uploadtest::Fixture({.refresh = 50ms, .autoSync = 150ms, .streamLatency = 100ms, .settle = 0ms}) {}

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
        QTRY_VERIFY_WITH_TIMEOUT(settled() && folderAt(manager, exportTree.path("Shoot"))
                                     && folderAt(manager, exportTree.path("Shoot"))->status.is(SyncStatus::Case::synced),
                                 20000);
    }
    qsizetype count(SyncStatus::Case status) const { return manager.statusCounts().count(status); }
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
        const QString shoot = e.exportTree.path("Shoot");
        const QString gallery = folderAt(e.manager, shoot)->status.galleryId();
        testsupport::LogCapture log;
        if (change.startsWith("empty")) {
            QVERIFY(QFile::remove(e.exportTree.path("Shoot/a.jpg")) && QFile::remove(e.exportTree.path("Shoot/b.jpg")));
            QTRY_VERIFY_WITH_TIMEOUT(e.settled() && folderAt(e.manager, shoot)->imageCount == 0, 10000);
        }
        if (change.endsWith("delete"))
            QVERIFY(QDir(shoot).removeRecursively());
        if (change == "rename")
            QVERIFY(QDir().rename(shoot, e.exportTree.path("Reise")));

        if (change == "empty") {
            // The refresh that zeroed the count would have asked for the full scan by now.
            QCOMPARE(log.count(syncCategory, reconcileStarts), 0);
            QCOMPARE(folderAt(e.manager, shoot)->status.galleryId(), gallery);
            QCOMPARE(e.count(SyncStatus::Case::synced), 1);
            QCOMPARE(e.count(SyncStatus::Case::removedLocally), 0);
            return;
        }
        const QString placeholder = QStringLiteral("__removed__/") + gallery;
        QTRY_VERIFY_WITH_TIMEOUT(e.settled() && !folderAt(e.manager, shoot) && folderAt(e.manager, placeholder), 10000);
        QVERIFY(folderAt(e.manager, placeholder)->status.is(SyncStatus::Case::removedLocally));
        QCOMPARE(e.count(SyncStatus::Case::removedLocally), 1);
        QCOMPARE(e.count(SyncStatus::Case::synced), change == "rename" ? 1 : 0);
        QCOMPARE(log.count(syncCategory, reconcileStarts), 1);
    }
};

QTEST_GUILESS_MAIN(TestVanishing)
#include "tst_vanishing.moc"
