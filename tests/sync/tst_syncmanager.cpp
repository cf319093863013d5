// SyncManager's state file, export folder and bookmark, against a real temporary support folder.

#include "support/LogCapture.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using testsupport::TempTree;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

SyncFolder folderWithRecords(const QString &path, QList<UploadedFileMeta> files)
{
    SyncFolder f;
    f.path = path;
    f.uploadedFiles = std::move(files);
    return f;
}

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

} // namespace

class TestSyncManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stateFileBytes()
    {
        TempTree support;
        {
            SyncManager manager(support.root());
            manager.setIgnoredPaths({"/e/b", "/e/a"});
            manager.setKnownGalleryIds({"g1"});
            manager.saveState();
            manager.flushState();
            QCOMPARE(readFile(manager.stateFilePath()),
                     QByteArray(R"({"ignoredPaths":["/e/a","/e/b"],"knownGalleryIds":["g1"],"version":2})"));

            // Two folders of one path: one entry, the later list.
            manager.setFolders({folderWithRecords("/e/x", {{"a.jpg", 1, std::nullopt}}),
                                folderWithRecords("/e/x", {{"b.jpg", 2, 3.5}})});
            manager.saveState();
        } // destruction writes the last snapshot
        QCOMPARE(readFile(support.path("sync-state.json")),
                 QByteArray(R"({"ignoredPaths":["/e/a","/e/b"],"knownGalleryIds":["g1"],)"
                            R"("folderUploads":{"/e/x":[{"fileName":"b.jpg","fileSize":2,"mtime":3.5}]},"version":2})"));
    }

    void roundTripKeepsPendingRecords()
    {
        TempTree support;
        const QList<UploadedFileMeta> records{{"a.jpg", 10, 760000000.5}, {"b.jpg", 0, std::nullopt}};
        {
            SyncManager manager(support.root());
            manager.setFolders({folderWithRecords("/e/A", records)});
            manager.setIgnoredPaths({"/i"});
            manager.saveState();
        }
        SyncManager restarted(support.root());
        QCOMPARE(restarted.ignoredPaths(), QSet<QString>{"/i"});
        QCOMPARE(restarted.pendingFolderUploads().value("/e/A"), records);
        QVERIFY(restarted.folders().isEmpty());

        // A save before any reconcile attached the records must not erase them.
        restarted.setFolders({folderWithRecords("/other", {{"c.jpg", 1, std::nullopt}})});
        restarted.saveState();
        restarted.flushState();
        SyncManager third(support.root());
        QCOMPARE(third.pendingFolderUploads().size(), 2);
        QCOMPARE(third.pendingFolderUploads().value("/e/A"), records);
    }

    void stateFileOnLoad_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<bool>("loads");
        QTest::newRow("no file") << QByteArray() << true;
        QTest::newRow("not JSON") << QByteArray("{\"ignoredPaths\": [") << false;
        QTest::newRow("record without fileSize")
            << QByteArray(R"({"folderUploads":{"/a":[{"fileName":"x.jpg","fileSize":1}],"/b":[{"fileName":"y"}]}})")
            << false;
        QTest::newRow("wrong type") << QByteArray(R"({"ignoredPaths":"/a"})") << false;
        QTest::newRow("record time as text")
            << QByteArray(R"({"folderUploads":{"/a":[{"fileName":"x.jpg","fileSize":1,"mtime":"1"}]}})") << false;
        QTest::newRow("bare keys, nulls, unknown keys")
            << QByteArray(R"({"knownGalleryIds":null,"extra":[1],"folderUploads":null})") << true;
    }

    void stateFileOnLoad()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, loads);
        TempTree support;
        if (!contents.isNull())
            writeFile(support.path("sync-state.json"), contents);
        testsupport::LogCapture log;
        SyncManager manager(support.root());
        QStringList errors; // what a first start without a bookmark logs, and a broken state file
        for (const auto &line : log.lines(syncCategory)) {
            if (line.type == QtCriticalMsg)
                errors.append(line.message.section(QLatin1Char(':'), 0, 0));
        }
        QStringList expected{"Failed to read bookmark data"};
        if (!loads)
            expected.append("Failed to load state");
        QCOMPARE(errors, expected);
        QVERIFY(!manager.hasWatchFolder() && !manager.isAccessingWatchFolder());
        QVERIFY(manager.pendingFolderUploads().isEmpty() && manager.ignoredPaths().isEmpty());
        manager.flushState();
        QCOMPARE(readFile(manager.stateFilePath()), contents); // untouched until the next save
        manager.saveState();
        manager.flushState();
        QVERIFY(readFile(manager.stateFilePath()).endsWith("\"version\":2}"));
    }

    void bookmarkAndStatePath()
    {
        TempTree support;
        TempTree chosen;
        TempTree other;
        writeFile(support.path("sync-state.json"), QByteArray(R"({"watchFolder":")") + other.root().toUtf8() + "\"}");
        // Without a bookmark the state file's path is the export folder, without access of its own.
        {
            SyncManager manager(support.root());
            QCOMPARE(manager.watchFolder(), other.root());
            QVERIFY(!manager.isAccessingWatchFolder());
        }
        // A bookmark wins over it; a stale one ("a/./b/") is written afresh.
        writeFile(support.path("watch-folder.bookmark"), (chosen.root() + "/./").toUtf8());
        {
            testsupport::LogCapture log;
            SyncManager manager(support.root());
            QCOMPARE(manager.watchFolder(), chosen.root());
            QVERIFY(manager.isAccessingWatchFolder());
            QVERIFY(log.contains(syncCategory, "Saved security-scoped bookmark for "));
            QVERIFY(log.contains(syncCategory, "Restored security-scoped access to "));
            QCOMPARE(readFile(support.path("watch-folder.bookmark")), chosen.root().toUtf8());
        }
        // A folder that is gone is a bookmark that cannot be resolved.
        writeFile(support.path("watch-folder.bookmark"), support.path("gone").toUtf8());
        testsupport::LogCapture log;
        SyncManager manager(support.root());
        QVERIFY(log.contains(syncCategory, "Failed to resolve bookmark: "));
        QCOMPARE(manager.watchFolder(), other.root());
    }

    void setWatchFolderThenClearIt()
    {
        TempTree support;
        TempTree exportFolder;
        exportFolder.addFile("Shoot/1.jpg", 5);
        SyncManager manager(support.root());
        QSignalSpy reconciled(&manager, &SyncManager::hasCompletedInitialReconcileChanged);
        manager.setWatchFolder(exportFolder.root());
        QCOMPARE(readFile(manager.bookmarkFilePath()), exportFolder.root().toUtf8());
        manager.flushState();
        QVERIFY(readFile(manager.stateFilePath()).startsWith("{\"watchFolder\":\"" + exportFolder.root().toUtf8()));
        QVERIFY(reconciled.wait(5000));
        QCOMPARE(manager.folders().size(), 1);

        // An empty choice removes the export folder: never the working directory, and no scan. The scan that
        // the choice just before started must not bring the folders back.
        const QList<UploadedFileMeta> records{{"1.jpg", 5, std::nullopt}};
        manager.setFolders({folderWithRecords(exportFolder.path("Shoot"), records)});
        manager.setWatchFolder(exportFolder.root());
        manager.setWatchFolder(QString());
        QVERIFY(!manager.hasWatchFolder());
        QTRY_VERIFY(!manager.isReconciling());
        QVERIFY(manager.folders().isEmpty());
        QVERIFY(!QFile::exists(manager.bookmarkFilePath()));
        manager.flushState();
        SyncManager restarted(support.root());
        QVERIFY(!restarted.hasWatchFolder());
        QCOMPARE(restarted.pendingFolderUploads().value(exportFolder.path("Shoot")), records);
    }

    void notifiesOnlyOnRealChange()
    {
        TempTree support;
        SyncManager manager(support.root());
        QSignalSpy folders(&manager, &SyncManager::foldersChanged);
        SyncFolder f;
        f.cachedLocalFileMeta = LocalFileMetaMap{{"a.jpg", {1, 1.0}}};
        manager.setFolders({f});
        manager.setFolders({f});
        f.cachedLocalFileMeta = LocalFileMetaMap{{"a.jpg", {1, 2.0}}}; // a cache alone is a change
        manager.setFolders({f});
        QCOMPARE(folders.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSyncManager)
#include "tst_syncmanager.moc"
