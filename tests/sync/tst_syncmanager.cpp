// SyncManager's state file, export folder and bookmark, against a real temporary support folder.

#include "UploadTestFixture.h"

#include "service/VarnostimaAPI.h"
#include "support/FileBytes.h"
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
using testsupport::readFile;
using testsupport::writeFile;
using testsupport::TempTree;

namespace {

SyncFolder folderWithRecords(const QString &path, QList<UploadedFileMeta> files)
{
    SyncFolder f;
    f.path = path;
    f.uploadedFiles = std::move(files);
    return f;
}

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

SyncState stateOnDisk(const QString &path)
{
    return decodeSyncState(readFile(path));
}

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
                     QByteArray(R"({"ignoredPaths":["/e/a","/e/b"],"knownGalleryIds":["g1"],"version":2,"generation":1})"));

            // Two folders of one path: one entry, the later list.
            manager.setFolders({folderWithRecords("/e/x", {{"a.jpg", 1, std::nullopt}}),
                                folderWithRecords("/e/x", {{"b.jpg", 2, 3.5}})});
            manager.saveState();
        } // destruction writes the last snapshot
        QCOMPARE(readFile(support.path("sync-state.json")),
                 QByteArray(R"({"ignoredPaths":["/e/a","/e/b"],"knownGalleryIds":["g1"],)"
                            R"("folderUploads":{"/e/x":[{"fileName":"b.jpg","fileSize":2,"mtime":3.5}]},"version":2,"generation":2})"));
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

    // A state file that cannot be read is kept aside and the copy beside it, the file as it was before the last
    // save, is loaded instead.
    void stateFileOnLoad_data()
    {
        QTest::addColumn<QByteArray>("contents"); // null: no file
        QTest::addColumn<bool>("loads");          // the file itself reads
        QTest::addColumn<QString>("lastGood");    // "good", "damaged" or "none"
        const QByteArray good = R"({"ignoredPaths":["/e/i"],"knownGalleryIds":["g1"],"version":2})";
        QByteArray withNul = good;
        withNul.insert(good.indexOf(',') + 1, '\0');
        const auto damaged = [](const char *name, const QByteArray &bytes) {
            QTest::newRow(name) << bytes << false << "good";
        };
        QTest::newRow("no file") << QByteArray() << true << "good";
        QTest::newRow("bare keys, nulls, unknown keys")
            << QByteArray(R"({"knownGalleryIds":null,"extra":[1],"folderUploads":null})") << true << "good";
        damaged("empty", "");
        damaged("not JSON", "{\"ignoredPaths\": [");
        damaged("truncated", good.left(good.size() / 2));
        damaged("stray NUL", withNul);
        damaged("invalid UTF-8", "{\"ignoredPaths\":[\"/e/\xff\"]}");
        damaged("array at the top", "[]");
        damaged("paths as text", R"({"ignoredPaths":"/a"})");
        damaged("ids as number", R"({"knownGalleryIds":[1]})");
        damaged("folder as number", R"({"watchFolder":7})");
        damaged("version as text", R"({"version":"2"})");
        damaged("records as array", R"({"folderUploads":[]})");
        damaged("record without fileSize",
                R"({"folderUploads":{"/a":[{"fileName":"x.jpg","fileSize":1}],"/b":[{"fileName":"y"}]}})");
        damaged("record time as text", R"({"folderUploads":{"/a":[{"fileName":"x.jpg","fileSize":1,"mtime":"1"}]}})");
        QTest::newRow("damaged, no copy") << QByteArray("{") << false << "none";
        QTest::newRow("damaged, copy damaged too") << QByteArray("{") << false << "damaged";
    }

    void stateFileOnLoad()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, loads);
        QFETCH(QString, lastGood);
        TempTree support;
        const QList<UploadedFileMeta> records{{"a.jpg", 10, 760000000.5}};
        const QString statePath = support.path("sync-state.json");
        const QString copyPath = statePath + ".last-good";
        QByteArray saved;
        {
            SyncManager earlier(support.root());
            earlier.setIgnoredPaths({"/e/i"});
            earlier.setFolders({folderWithRecords("/e/A", records)});
            earlier.saveState();
            earlier.flushState();
            saved = readFile(statePath);
            earlier.setKnownGalleryIds({"g2"});
            earlier.saveState();
        }
        QCOMPARE(readFile(copyPath), saved);
        QVERIFY(readFile(statePath).contains("g2"));
        if (lastGood == "none")
            QVERIFY(QFile::remove(copyPath));
        if (lastGood == "damaged")
            QVERIFY(writeFile(copyPath, "["));
        QFile::remove(statePath);
        if (!contents.isNull())
            QVERIFY(writeFile(statePath, contents));

        testsupport::LogCapture log;
        SyncManager manager(support.root());

        QStringList errors; // what a first start without a bookmark logs, and a broken state file
        for (const auto &line : log.lines(syncCategory)) {
            if (line.type == QtCriticalMsg)
                errors.append(line.message.section(QLatin1Char(':'), 0, 0));
        }
        QStringList expected{"Failed to read bookmark data"};
        if (!loads || contents.isNull()) // a missing file beside a log that continues it is damage too
            expected.append("Failed to load state");
        if (!loads && lastGood == "damaged")
            expected.append("Failed to load the last good state");
        QCOMPARE(errors, expected);
        const bool fellBack = !loads && lastGood == "good"; // a missing file is a first start
        QCOMPARE(manager.ignoredPaths(), QSet<QString>{"/e/i"}); // kept in a second place
        QCOMPARE(manager.pendingFolderUploads().value("/e/A"), fellBack ? records : QList<UploadedFileMeta>());
        QCOMPARE(log.contains(syncCategory, "Loaded the last good state from sync-state.json.last-good"),
                 !loads && lastGood == "good");

        // The unreadable files are kept aside, byte for byte. A save keeps the file it replaces as the copy when
        // that file was read; an unreadable one never becomes the copy.
        const QStringList aside = QDir(support.root()).entryList({"*.damaged-*"}, QDir::Files, QDir::Name);
        QCOMPARE(aside.size(), loads ? 0 : (lastGood == "damaged" ? 2 : 1));
        if (!loads)
            QCOMPARE(readFile(support.path(aside.first())), contents);
        manager.saveState();
        manager.flushState();
        QVERIFY(readFile(statePath).contains("\"version\":2,\"generation\":"));
        QCOMPARE(readFile(copyPath), loads && !contents.isNull() ? contents : lastGood == "good" ? saved : QByteArray());
        if (fellBack) // a newer generation of the same state
            QCOMPARE(QString::fromUtf8(readFile(statePath)).section(",\"generation\"", 0, 0),
                     QString::fromUtf8(saved).section(",\"generation\"", 0, 0));
    }

    // A folder ignored in the newest save, after the copy was written, stays ignored when the newest file is cut
    // anywhere after its list of ignored folders and the copy is loaded in its place.
    void newestIgnoredFolderSurvivesADamagedFile_data()
    {
        QTest::addColumn<double>("cutAt"); // between the end of the list (0) and one byte short of the file (1)
        QTest::newRow("right after the list") << 0.0;
        QTest::newRow("inside the records") << 0.5;
        QTest::newRow("one byte short") << 1.0;
    }

    void newestIgnoredFolderSurvivesADamagedFile()
    {
        QFETCH(double, cutAt);
        TempTree support;
        const QList<UploadedFileMeta> records{{"a.jpg", 10, 760000000.5}};
        const QString statePath = support.path("sync-state.json");
        {
            SyncManager earlier(support.root());
            earlier.setIgnoredPaths({"/e/i"});
            earlier.setFolders({folderWithRecords("/e/A", records)});
            earlier.saveState();
            earlier.flushState();
            earlier.setIgnoredPaths({"/e/i", "/e/ny"});
            earlier.saveState();
        }
        const QByteArray newest = readFile(statePath);
        const qsizetype listEnd = newest.indexOf(']', newest.indexOf("\"ignoredPaths\"")) + 1;
        QVERIFY(listEnd > 0 && listEnd < newest.size() - 1);
        const qsizetype cut = listEnd + qsizetype(cutAt * double(newest.size() - 1 - listEnd));
        QVERIFY(writeFile(statePath, newest.left(cut)));

        SyncManager manager(support.root());
        QCOMPARE(manager.ignoredPaths(), (QSet<QString>{"/e/i", "/e/ny"}));
        QCOMPARE(manager.pendingFolderUploads().value("/e/A"), records); // the rest comes from the copy
    }

    void bookmarkAndStatePath()
    {
        TempTree support;
        TempTree chosen;
        TempTree other;
        QVERIFY(writeFile(support.path("sync-state.json"),
                          QByteArray(R"({"watchFolder":")") + other.root().toUtf8() + "\"}"));
        // Without a bookmark the state file's path is the export folder, without access of its own.
        {
            SyncManager manager(support.root());
            QCOMPARE(manager.watchFolder(), other.root());
            QVERIFY(!manager.isAccessingWatchFolder());
        }
        // A bookmark wins over it; a stale one ("a/./b/") is written afresh.
        QVERIFY(writeFile(support.path("watch-folder.bookmark"), (chosen.root() + "/./").toUtf8()));
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
        QVERIFY(writeFile(support.path("watch-folder.bookmark"), support.path("gone").toUtf8()));
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

    // An edit right after a save reaches the file, at a flush and at the end alike.
    void editAfterASave_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("flush") << "flush";
        QTest::newRow("end") << "end";
    }

    void editAfterASave()
    {
        QFETCH(QString, ending);
        TempTree support;
        {
            SyncManager manager(support.root());
            manager.setFolders({folderWithRecords("/e/A", {{"a.jpg", 1, 2.0}}),
                                folderWithRecords("/e/B", {{"b.jpg", 1, 2.0}})});
            manager.saveState();
            SyncFolder edited = manager.folders().at(1);
            edited.uploadedFiles = QList<UploadedFileMeta>{{"c.jpg", 3, 4.0}};
            manager.setFolderEntry(1, edited);
            QCOMPARE(manager.folders().at(1), edited);
            manager.saveState();
            if (ending == "flush")
                QVERIFY(!manager.flushState());
        }
        const SyncState saved = stateOnDisk(support.path("sync-state.json"));
        QVERIFY(saved.folderUploads);
        QCOMPARE(saved.folderUploads->size(), 2);
        QCOMPARE(saved.folderUploads->at(0).second.first().fileName, "a.jpg");
        QCOMPARE(saved.folderUploads->at(1).second.first().fileName, "c.jpg");
    }

    // The gallery each folder is linked to, as saves write it after a series of changes to the folder's entry.
    void galleryLinks_data()
    {
        QTest::addColumn<QStringList>("steps"); // "synced g", "syncing", "failed", "removed", "gone", "waiting"
        QTest::addColumn<QString>("link");      // empty: none
        QTest::newRow("synced") << QStringList{"synced g1"} << "g1";
        QTest::newRow("a run under way keeps it") << QStringList{"synced g1", "syncing"} << "g1";
        QTest::newRow("a failed run keeps it") << QStringList{"synced g1", "syncing", "failed"} << "g1";
        QTest::newRow("linked anew") << QStringList{"synced g1", "syncing", "synced g2"} << "g2";
        QTest::newRow("removed locally") << QStringList{"synced g1", "removed"} << "";
        QTest::newRow("gone from the list") << QStringList{"synced g1", "gone"} << "";
        QTest::newRow("gone, its records waiting") << QStringList{"synced g1", "waiting", "gone"} << "g1";
        QTest::newRow("records taken back") << QStringList{"synced g1", "waiting", "gone", "taken"} << "";
        QTest::newRow("never synced") << QStringList{"syncing", "failed"} << "";
    }

    void galleryLinks()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, link);
        TempTree support;
        const QString path = "/e/A";
        const QList<UploadedFileMeta> records{{"a.jpg", 1, 2.0}};
        {
            SyncManager manager(support.root());
            SyncFolder folder = folderWithRecords(path, records);
            manager.setFolders({folder, folderWithRecords("/e/other", records)});
            for (const QString &step : steps) {
                if (step.startsWith("synced "))
                    folder.status = SyncStatus::synced(step.mid(7), "slug", 1);
                else if (step == "syncing")
                    folder.status = SyncStatus::syncing(0.5);
                else if (step == "failed")
                    folder.status = SyncStatus::failed("feil");
                else if (step == "removed")
                    folder.status = SyncStatus::removedLocally("g1", "slug");
                if (step == "waiting")
                    manager.setPendingFolderUploads({{path, records}});
                else if (step == "taken")
                    manager.setPendingFolderUploads({});
                else if (step == "gone")
                    manager.setFolders({manager.folders().at(1)});
                else
                    manager.setFolderEntry(manager.folderIndex(path), folder);
                manager.saveState();
            }
            QCOMPARE(manager.storedGalleryId(path), link);
            QVERIFY(!manager.flushState());
        }
        const SyncState saved = stateOnDisk(support.path("sync-state.json"));
        QCOMPARE(saved.folderGalleryIds.value(path), link);
        QCOMPARE(saved.folderGalleryIds.size(), link.isEmpty() ? 0 : 1);
        SyncManager restarted(support.root());
        QCOMPARE(restarted.storedGalleryId(path), link);
    }

    // A pass of automatic sync over the library puts each folder's records on disk as it goes, in the log; the state
    // file is written whole once, when the pass over every folder ends, and not again for a change of one image.
    void passLogsItsRecords_data()
    {
        QTest::addColumn<int>("folders");
        QTest::newRow("8 folders") << 8;
        QTest::newRow("60 folders") << 60;
    }

    void passLogsItsRecords()
    {
        QFETCH(int, folders);
        testsupport::StandInService service;
        service.addAccount("pass-token");
        VarnostimaAPI api;
        api.setTimeouts({5s, 5s, 10s});
        api.setCredentials(service.baseUrl(), "pass-token");
        TempTree support;
        TempTree exportTree;
        // Each folder's gallery already holds its images: the pass only fills in the records' sizes and times.
        for (int f = 0; f < folders; ++f) {
            const QString gallery = service.seedGallery(QStringLiteral("Shoot %1").arg(f));
            for (int i = 0; i < 3; ++i) {
                const QString name = QStringLiteral("IMG_%1_%2.jpg").arg(f).arg(i);
                exportTree.addFile(QStringLiteral("Shoot %1/%2").arg(f).arg(name), 100 + i);
                service.seedImageOfSize(gallery, name, 100 + i);
            }
        }
        SyncManager manager(support.root(), SyncDelays{.refresh = 20ms, .autoSync = 20ms, .streamLatency = 20ms,
                                                       .settle = 0ms});
        manager.setAPI(api);
        manager.setWatchFolder(exportTree.root());
        const auto filledIn = [&manager, folders] {
            if (!manager.hasCompletedInitialReconcile() || manager.isAutoSyncing() || manager.isReconciling())
                return false;
            int done = 0;
            for (const SyncFolder &folder : manager.folders())
                done += folder.uploadedFiles && !folder.needsMetadataBaseline() ? 1 : 0;
            return done == folders;
        };
        const auto filledOnDisk = [&support] {
            qsizetype filled = 0;
            if (!QFileInfo::exists(support.path("sync-state.json")))
                return filled;
            for (const auto &[path, files] :
                 stateOnDisk(support.path("sync-state.json")).folderUploads.value_or(FolderUploadList())) {
                filled += std::all_of(files.cbegin(), files.cend(),
                                      [](const UploadedFileMeta &file) { return file.fileSize > 0; });
            }
            return filled;
        };
        QTRY_VERIFY_WITH_TIMEOUT(filledIn(), 60000);
        // Written whole twice, with no flush: the log's start, and the end of the pass.
        QTRY_COMPARE_WITH_TIMEOUT(manager.ledger().figures().compactions, qint64(2), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(manager.ledger().isOnDisk(manager.ledger().latestTicket()), 30000);
        QCOMPARE(filledOnDisk(), qsizetype(folders));
        const StateLedger::Figures figures = manager.ledger().figures();
        QVERIFY(figures.appends >= 1);

        exportTree.addFile("Shoot 0/NEW.jpg", 500);
        const auto uploaded = [&manager, path = exportTree.path("Shoot 0")] {
            const qsizetype index = manager.folderIndex(path);
            const SyncFolder *folder = index < 0 ? nullptr : &manager.folders().at(index);
            return folder && folder->uploadedFiles && folder->uploadedFiles->size() == 4 && !manager.isAutoSyncing()
                   && manager.ledger().isOnDisk(manager.ledger().latestTicket());
        };
        QTRY_VERIFY_WITH_TIMEOUT(uploaded(), 60000);
        QCOMPARE(manager.ledger().figures().compactions, figures.compactions);
        QVERIFY(manager.ledger().figures().appends > figures.appends);
    }

    // A start with nothing changed writes no new state file and no log lines, whatever order the records of the
    // start before it came in: from the uploads' ends, or from the service's listing.
    void startWithNothingChangedWritesNothingWhole_data()
    {
        QTest::addColumn<QStringList>("runs"); // images added before each pass of the first start
        QTest::newRow("one run") << QStringList{"b.jpg a.jpg c.jpg"};
        QTest::newRow("later images sort first") << QStringList{"c.jpg d.jpg", "a.jpg b.jpg"};
        QTest::newRow("three runs") << QStringList{"m.jpg", "z.jpg b.jpg", "a.jpg n.jpg"};
    }

    void startWithNothingChangedWritesNothingWhole()
    {
        QFETCH(QStringList, runs);
        uploadtest::Engine e;
        e.tree.addFile("Shoot/first.jpg", 10);
        e.watch();
        QVERIFY(!e.manager->reconcileError());
        e.pass();
        e.reconcile(); // the gallery known, as after any start
        qsizetype images = 1;
        for (const QString &run : std::as_const(runs)) {
            const QStringList names = run.split(' ');
            for (const QString &name : names)
                e.tree.addFile("Shoot/" + name, 20 + name.size());
            images += names.size();
            QTRY_VERIFY(e.manager->folders().size() == 1 && e.manager->folders().first().imageCount == images);
            e.pass();
            QVERIFY(e.manager->folders().first().status.is(SyncStatus::Case::synced));
            QCOMPARE(e.manager->folders().first().newFileCount(), 0);
        }
        QVERIFY(!e.manager->flushState());
        e.restart();
        e.watch();
        QVERIFY(!e.manager->reconcileError());
        e.pass();
        QVERIFY(!e.manager->flushState());
        const StateLedger::Figures figures = e.manager->ledger().figures();
        QCOMPARE(figures.compactions, 0);
        QCOMPARE(figures.logBytes, 0);
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
        // The list stores the records on the cache's names: the same values, no change to tell.
        f.uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 1, 2.0}, {"gone.jpg", 3, std::nullopt}};
        manager.setFolders({f});
        QVERIFY(f.needsSharedNames());
        QVERIFY(!manager.folders().first().needsSharedNames());
        QCOMPARE(manager.folders().first(), f);
        manager.setFolders({f});
        QCOMPARE(folders.count(), 3);
    }

    // An action finds its entry by path in the list as it is now, whatever became of the list before.
    void actionsReachTheEntryOfTheirPath_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after"); // the list the action meets; "b*" is a second entry of path b
        QTest::addColumn<QStringList>("ignored"); // the entries ignored afterwards, by position
        QTest::newRow("same list") << QStringList{"a", "b", "c"} << QStringList{"a", "b", "c"}
                                   << QStringList{"", "b", ""};
        QTest::newRow("reordered") << QStringList{"a", "b", "c"} << QStringList{"c", "b", "a"}
                                   << QStringList{"", "b", ""};
        QTest::newRow("grown") << QStringList{"a", "c"} << QStringList{"c", "a", "b"} << QStringList{"", "", "b"};
        QTest::newRow("gone") << QStringList{"a", "b"} << QStringList{"a"} << QStringList{""};
        QTest::newRow("two of one path") << QStringList{"a"} << QStringList{"a", "b", "b*"}
                                         << QStringList{"", "b", ""};
    }

    void actionsReachTheEntryOfTheirPath()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QStringList, ignored);
        TempTree support;
        SyncManager manager(support.root());
        const auto list = [](const QStringList &names) {
            QList<SyncFolder> folders;
            for (const QString &name : names) {
                SyncFolder f = folderWithRecords("/e/" + name.left(1), {{name + ".jpg", 1, std::nullopt}});
                folders.append(f);
            }
            return folders;
        };
        manager.setFolders(list(before));
        QCOMPARE(manager.folderIndex("/e/a"), 0); // looked up once before the list changes
        manager.setFolders(list(after));
        QSignalSpy changed(&manager, &SyncManager::foldersChanged);
        SyncFolder b;
        b.path = "/e/b";
        manager.ignoreFolder(b);
        manager.ignoreFolder(b); // nothing left to change
        QCOMPARE(changed.count(), after.contains("b") ? 1 : 0);
        QCOMPARE(manager.folders().size(), after.size());
        for (qsizetype i = 0; i < after.size(); ++i) {
            const SyncFolder &entry = manager.folders().at(i);
            QCOMPARE(entry.path, "/e/" + after.at(i).left(1));
            QCOMPARE(entry.status.is(SyncStatus::Case::ignored), !ignored.at(i).isEmpty());
            QCOMPARE(entry.uploadedFiles.has_value(), ignored.at(i).isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestSyncManager)
#include "tst_syncmanager.moc"
