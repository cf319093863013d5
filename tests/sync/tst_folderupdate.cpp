// The update of a synced folder against the stand-in service: removed, modified and new images, web-deleted names,
// an emptied folder, failed replacements and uploads.

#include "UploadTestFixture.h"

#include "support/LogCapture.h"
#include "service/Errors.h"

#include <QDir>
#include <QTest>

using namespace uploadtest;
using testsupport::TempTree;

class TestFolderUpdate : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    int m_completions = 0;
    qint64 m_lastCount = -1;

    // A first sync of Album with a.jpg, b.jpg and c.jpg; returns the gallery id.
    QString syncedAlbum()
    {
        for (const QString name : {"a.jpg", "b.jpg", "c.jpg"})
            f->writeImage("Album/" + name);
        finish(f->manager.syncFolder(f->scan("Album")));
        m_completions = 0;
        m_lastCount = -1;
        f->service.clearRequests();
        return f->entry("Album").status.galleryId();
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<Fixture>();
        m_completions = 0;
        m_lastCount = -1;
        f->manager.setOnUploadCompleted([this](UploadKind kind, const QString &, const QString &, const QString &,
                                               qint64 count, const QString &) {
            if (kind == UploadKind::updated)
                ++m_completions;
            m_lastCount = count;
        });
    }
    void cleanup() { f.reset(); }

    void removedModifiedAndNewImages()
    {
        const QString galleryId = syncedAlbum();
        TempTree::remove(f->exportTree.path("Album/a.jpg"));
        const QByteArray newB = f->writeImage("Album/b.jpg", 7777);
        f->writeImage("Album/d.jpg");

        finish(f->manager.updateFolder(f->entry("Album")));

        const SyncFolder entry = f->entry("Album");
        QVERIFY(entry.status.is(SyncStatus::Case::synced));
        QCOMPARE(entry.status.uploadedCount(), 3);
        QCOMPARE(recordNames(entry), (QStringList{"b.jpg", "c.jpg", "d.jpg"}));
        QCOMPARE(f->serverNames(galleryId), (QStringList{"b.jpg", "c.jpg", "d.jpg"}));
        const auto gallery = f->service.gallery(galleryId); // keep the copy alive while walking it
        for (const auto &image : gallery->images) {
            if (image.fileName == "b.jpg")
                QCOMPARE(image.sha256, sha256Hex(newB));
        }
        QCOMPARE(m_completions, 1);
        QCOMPARE(m_lastCount, 2); // b replaced, d uploaded
    }

    // The shell is told how many images the run uploaded or replaced, and nothing after a run that did neither.
    void reportsWhatItPublished_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<qint64>("reported"); // -1: not reported
        QTest::newRow("one image deleted") << "delete" << qint64(-1);
        QTest::newRow("one image added") << "add" << qint64(1);
        QTest::newRow("one image replaced") << "replace" << qint64(1);
    }
    void reportsWhatItPublished()
    {
        QFETCH(QString, change);
        QFETCH(qint64, reported);
        const QString galleryId = syncedAlbum();
        if (change == "delete")
            TempTree::remove(f->exportTree.path("Album/a.jpg"));
        else if (change == "add")
            f->writeImage("Album/d.jpg");
        else
            f->writeImage("Album/b.jpg", 7777);

        finish(f->manager.updateFolder(f->entry("Album")));

        QVERIFY(f->entry("Album").status.is(SyncStatus::Case::synced));
        QCOMPARE(f->serverNames(galleryId).size(), change == "delete" ? 2 : change == "add" ? 4 : 3);
        QCOMPARE(m_completions, reported < 0 ? 0 : 1);
        QCOMPARE(m_lastCount, reported);
    }

    // An image that is gone when its upload describes it is left out and not recorded; the rest of the update
    // goes on and the folder ends synced.
    void imageGoneBeforeUpload_data()
    {
        QTest::addColumn<QString>("gone");
        QTest::newRow("modified image") << "b.jpg";
        QTest::newRow("new image") << "e.jpg";
    }
    void imageGoneBeforeUpload()
    {
        QFETCH(QString, gone);
        const QString galleryId = syncedAlbum();
        f->writeImage("Album/b.jpg", 7777);
        f->writeImage("Album/d.jpg");
        f->writeImage("Album/e.jpg");
        f->manager.setUploadStepHook([&](SyncManager::UploadStep step, const QStringList &) {
            if (step == SyncManager::UploadStep::describing)
                TempTree::remove(f->exportTree.path("Album/" + gone));
        });

        finish(f->manager.updateFolder(f->entry("Album")));

        QStringList kept{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"};
        kept.removeOne(gone);
        const SyncFolder entry = f->entry("Album");
        QVERIFY(entry.status.is(SyncStatus::Case::synced));
        QCOMPARE(entry.status.uploadedCount(), 4);
        QCOMPARE(recordNames(entry), kept);
        QCOMPARE(f->serverNames(galleryId), kept);
    }

    void imageDeletedOnWebIsNotUploadedAgain()
    {
        const QString galleryId = f->service.seedGallery("Album");
        f->service.seedImage(galleryId, "a.jpg", f->writeImage("Album/a.jpg"));
        f->service.seedImage(galleryId, "b.jpg", f->writeImage("Album/b.jpg"));
        f->service.deleteImageOnWeb(galleryId, "a.jpg");
        f->writeImage("Album/c.jpg");
        finish(f->manager.syncFolder(f->scan("Album"))); // adopts the gallery, records nothing
        QCOMPARE(f->entry("Album").status.galleryId(), galleryId);

        finish(f->manager.updateFolder(f->entry("Album")));

        QCOMPARE(f->service.requests("PUT", "/store/*").size(), 1);
        QCOMPARE(f->serverNames(galleryId), (QStringList{"b.jpg", "c.jpg"}));
        QVERIFY(f->entry("Album").status.is(SyncStatus::Case::synced));
    }

    // A name deleted on the web while its record stays: deleting the local image must not delete a still active
    // image that shares the name, and re-exporting it neither brings it back nor keeps it counted as modified.
    void webDeletedNameStaysDeleted_data()
    {
        QTest::addColumn<bool>("twin"); // an active image of the same name stays on the service
        QTest::addColumn<bool>("rewritten"); // re-exported, else removed from the disk
        QTest::addColumn<QStringList>("onService");
        QTest::newRow("local image removed, active twin") << true << false << QStringList{"a.jpg", "b.jpg"};
        QTest::newRow("local image re-exported") << false << true << QStringList{"b.jpg"};
    }
    void webDeletedNameStaysDeleted()
    {
        QFETCH(bool, twin);
        QFETCH(bool, rewritten);
        QFETCH(QStringList, onService);
        const QString galleryId = f->service.seedGallery("Album");
        const QByteArray a = f->writeImage("Album/a.jpg");
        f->service.seedImage(galleryId, "a.jpg", a);
        if (twin)
            f->service.seedImage(galleryId, "a.jpg", a);
        f->service.seedImage(galleryId, "b.jpg", f->writeImage("Album/b.jpg"));
        QVERIFY(f->service.deleteImageOnWeb(galleryId, "a.jpg"));
        SyncFolder folder = f->scan("Album");
        const QStringList images = SyncManager::listImages(folder.path);
        folder.status = SyncStatus::synced(galleryId, "album", onService.size());
        folder.uploadedFiles = SyncManager::uploadedMetaList({"a.jpg", "b.jpg"}, SyncManager::localFileMetadata(images));
        f->manager.setFolders({folder});
        if (rewritten)
            f->writeImage("Album/a.jpg", 9999);
        else
            TempTree::remove(f->exportTree.path("Album/a.jpg"));

        finish(f->manager.updateFolder(f->entry("Album")));

        QVERIFY(f->service.requests("PUT", "/store/*").isEmpty());
        QVERIFY(f->service.requests("DELETE", "/api/gallery/*").isEmpty());
        QCOMPARE(f->serverNames(galleryId), onService);
        const SyncFolder entry = f->entry("Album");
        QVERIFY(entry.status.is(SyncStatus::Case::synced));
        if (rewritten) {
            const auto record = std::find_if(entry.uploadedFiles->cbegin(), entry.uploadedFiles->cend(),
                                             [](const UploadedFileMeta &r) { return r.fileName == "a.jpg"; });
            QVERIFY(record != entry.uploadedFiles->cend());
            QCOMPARE(record->fileSize, 9999);
        }
    }

    void emptiedFolderDeletesNothing_data()
    {
        QTest::addColumn<bool>("recordsCarryMetadata");
        QTest::newRow("records with metadata") << true;
        // Such records want a baseline; an empty one would make every image new once the folder reads again.
        QTest::newRow("records without metadata") << false;
    }
    void emptiedFolderDeletesNothing()
    {
        QFETCH(bool, recordsCarryMetadata);
        const QString galleryId = syncedAlbum();
        if (!recordsCarryMetadata) {
            SyncFolder entry = f->entry("Album");
            entry.uploadedFiles = legacyUploadedFiles({"a.jpg", "b.jpg", "c.jpg"});
            f->manager.setFolders({entry});
        }
        for (const QString name : {"a.jpg", "b.jpg", "c.jpg"})
            TempTree::remove(f->exportTree.path("Album/" + name));

        finish(f->manager.updateFolder(f->entry("Album")));

        QVERIFY(f->service.requests("DELETE", "/api/gallery/*").isEmpty());
        QCOMPARE(f->serverNames(galleryId).size(), 3);
        QVERIFY(f->entry("Album").status.is(SyncStatus::Case::synced));
        QCOMPARE(recordNames(f->entry("Album")), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
        QCOMPARE(m_completions, 0);
    }

    // Runs that end without an upload: the folder gone from disk, a metadata baseline, an upload step that throws.
    void runsWithoutUpload_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("logged");
        QTest::newRow("local folder missing") << "missing" << "Skipping update for Album — local folder is missing";
        QTest::newRow("no change, baseline") << "baseline" << "Established metadata baseline for Album (3 files)";
        QTest::newRow("upload step throws") << "throws" << "Upload phase failed for Album: ";
    }
    void runsWithoutUpload()
    {
        QFETCH(QString, road);
        QFETCH(QString, logged);
        syncedAlbum();
        SyncFolder entry = f->entry("Album");
        if (road == "missing") {
            QVERIFY(QDir(entry.path).removeRecursively());
        } else if (road == "baseline") {
            entry.uploadedFiles = legacyUploadedFiles({"a.jpg", "b.jpg", "c.jpg"});
            f->manager.setFolders({entry});
        } else {
            f->writeImage("Album/d.jpg");
            f->service.script("POST", "/api/upload/presigned", {500, R"({"error":"boom"})"});
        }
        const QList<UploadedFileMeta> before = *f->entry("Album").uploadedFiles;
        testsupport::LogCapture log;

        finish(f->manager.updateFolder(f->entry("Album")));

        QVERIFY(log.contains("no.varnostima.mac.Sync", logged));
        QVERIFY(f->service.requests("PUT", "/store/*").isEmpty());
        QCOMPARE(m_completions, 0);
        const SyncFolder after = f->entry("Album");
        if (road == "throws") {
            QCOMPARE(after.status.failureMessage(), APIError::serverError(500).localizedDescription());
            QCOMPARE(*after.uploadedFiles, before);
            return;
        }
        QVERIFY(after.status.is(SyncStatus::Case::synced));
        if (road == "missing") {
            QVERIFY(log.contains("no.varnostima.mac.Sync", "A synced folder is gone — running a full scan and reconcile"));
            QVERIFY(f->service.requests().isEmpty());
            QCOMPARE(*after.uploadedFiles, before);
        } else {
            QVERIFY(!after.needsMetadataBaseline());
            QCOMPARE(*after.uploadedFiles, SyncManager::uploadedMetaList({"a.jpg", "b.jpg", "c.jpg"},
                                                                        *f->entry("Album").cachedLocalFileMeta));
            QCOMPARE(f->service.requests("GET", "/api/gallery/*").size(), 1);
        }
    }

    void failedReplacementOrUpload_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QStringList>("onService");
        QTest::addColumn<qint64>("completedCount"); // -1: not reported
        const QString serverError = APIError::serverError(500).localizedDescription();
        const QStringList abc{"a.jpg", "b.jpg", "c.jpg"};
        // While the old version is on the service, the record stays so that the replacement is retried.
        QTest::newRow("old version not found") << "lookup" << serverError << abc << abc << qint64(-1);
        QTest::newRow("old version not deleted") << "delete" << serverError << abc << abc << qint64(-1);
        QTest::newRow("new version not uploaded")
            << "expired" << QString::fromUtf8("Opplasting feilet for b.jpg — prøv igjen")
            << QStringList{"a.jpg", "c.jpg"} << QStringList{"a.jpg", "c.jpg"} << qint64(-1);
        QTest::newRow("one of two new images")
            << "new" << "Opplasting feilet for 1 bilde(r)" << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}
            << QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"} << qint64(1);
    }
    void failedReplacementOrUpload()
    {
        QFETCH(QString, fault);
        QFETCH(QString, text);
        QFETCH(QStringList, records);
        QFETCH(QStringList, onService);
        QFETCH(qint64, completedCount);
        const QString galleryId = syncedAlbum();
        auto &s = f->service;
        if (fault == "new") {
            f->writeImage("Album/d.jpg");
            f->writeImage("Album/e.jpg");
            s.overrideSlotUrlOnNextPresign(s.baseUrl().toString() + "/store/nosuch", 1);
        } else {
            f->writeImage("Album/b.jpg", 7777);
            if (fault == "lookup")
                s.script("GET", "/api/gallery/*", {500, R"({"error":"boom"})"});
            else if (fault == "delete")
                s.script("DELETE", "/api/gallery/*", {500, R"({"error":"boom"})"});
            else
                s.setSlotLifetime(0ms);
        }

        finish(f->manager.updateFolder(f->entry("Album")));

        const SyncFolder entry = f->entry("Album");
        QVERIFY(entry.status.is(SyncStatus::Case::failed));
        QCOMPARE(entry.status.failureMessage(), text);
        QCOMPARE(recordNames(entry), records);
        QCOMPARE(f->serverNames(galleryId), onService);
        QCOMPARE(m_completions, completedCount < 0 ? 0 : 1);
        if (completedCount >= 0)
            QCOMPARE(m_lastCount, completedCount);
        if (fault == "lookup" || fault == "delete")
            QVERIFY(s.requests("PUT", "/store/*").isEmpty());

        // What was recorded reached the state file.
        f->manager.flushState();
        SyncManager restarted(f->support.root());
        QCOMPARE(restarted.pendingFolderUploads().value(entry.path).size(), records.size());
    }
};

QTEST_GUILESS_MAIN(TestFolderUpdate)
#include "tst_folderupdate.moc"
