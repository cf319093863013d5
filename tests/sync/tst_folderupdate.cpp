// The update of a synced folder against the stand-in service: removed, modified and new images, web-deleted names,
// an emptied folder, a failed replacement.

#include "UploadTestFixture.h"

#include <QTest>

using namespace uploadtest;
using testsupport::ScriptedAnswer;

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
            f->writeImage("Album/" + QString(name));
        finish(f->manager.syncFolder(f->scan("Album")));
        m_completions = 0;
        f->service.clearRequests();
        return f->entry("Album").status.galleryId();
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<Fixture>();
        m_completions = 0;
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
        testsupport::TempTree::remove(f->exportTree.path("Album/a.jpg"));
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
        QCOMPARE(m_lastCount, 3);
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

    void emptiedFolderDeletesNothing()
    {
        const QString galleryId = syncedAlbum();
        for (const QString name : {"a.jpg", "b.jpg", "c.jpg"})
            testsupport::TempTree::remove(f->exportTree.path("Album/" + QString(name)));

        finish(f->manager.updateFolder(f->entry("Album")));

        QVERIFY(f->service.requests("DELETE", "/api/gallery/*").isEmpty());
        QCOMPARE(f->serverNames(galleryId).size(), 3);
        QVERIFY(f->entry("Album").status.is(SyncStatus::Case::synced));
    }

    void failedDeletionOfOldVersionKeepsItsRecord()
    {
        const QString galleryId = syncedAlbum();
        const UploadedFileMeta before = f->entry("Album").uploadedFiles->at(1);
        f->writeImage("Album/b.jpg", 7777);
        f->service.script("DELETE", "/api/gallery/*", {500, R"({"error":"boom"})"});

        finish(f->manager.updateFolder(f->entry("Album")));

        const SyncFolder entry = f->entry("Album");
        QVERIFY(entry.status.is(SyncStatus::Case::failed));
        QVERIFY(entry.uploadedFiles->contains(before));
        QVERIFY(f->service.requests("PUT", "/store/*").isEmpty());
        QCOMPARE(f->serverNames(galleryId).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestFolderUpdate)
#include "tst_folderupdate.moc"
