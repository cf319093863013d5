// The upload pipeline against the stand-in service: groups of four, progress, one confirmation, the engine's own
// errors. Failed uploads are seen through the first sync, which records the result.

#include "UploadTestFixture.h"

#include "sync/SyncErrors.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace uploadtest;

class TestUploadPipeline : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    QString m_galleryId;
    SyncFolder m_folder;

    QStringList makeImages(int count, QHash<QString, QByteArray> *contents = nullptr)
    {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("img%1.jpg").arg(i);
            const QByteArray bytes = f->writeImage("Album/" + name, 100000 + i * 37);
            paths.append(f->exportTree.path("Album/" + name));
            if (contents)
                contents->insert(name, bytes);
        }
        return paths;
    }

    QList<testsupport::RecordedRequest> confirms() const
    {
        return f->service.requests("POST", "/api/gallery/" + m_galleryId.toUtf8() + "/confirm");
    }
    QJsonObject lastConfirmBody() const
    {
        const auto sent = confirms();
        return sent.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(sent.last().body).object();
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<Fixture>();
        f->exportTree.addDir("Album");
        m_galleryId = f->service.seedGallery("Album");
        m_folder = SyncFolder();
        m_folder.path = f->exportTree.path("Album");
        m_folder.name = m_folder.displayName = "Album";
        m_folder.status = SyncStatus::syncing(0);
        f->manager.setFolders({m_folder});
    }
    void cleanup() { f.reset(); }

    void nineImagesGoUpInGroupsOfFour()
    {
        QHash<QString, QByteArray> contents;
        const QStringList files = makeImages(9, &contents);
        QList<double> progress;
        connect(&f->manager, &SyncManager::foldersChanged, this,
                [&] { progress.append(f->manager.folders().first().status.progress()); });

        const UploadBatchResult result = finish(f->manager.uploadFiles(files, m_galleryId, m_folder));

        QCOMPARE(result.uploadedCount, 9);
        QCOMPARE(result.failedCount, 0);
        QCOMPARE(QSet<QString>(result.succeededFileNames.cbegin(), result.succeededFileNames.cend()).size(), 9);
        QCOMPARE(progress, (QList<double>{4.0 / 9, 8.0 / 9, 1.0}));
        QVERIFY(f->service.maxPutsInFlight() <= 4);

        const auto gallery = f->service.gallery(m_galleryId);
        QCOMPARE(gallery->images.size(), 9);
        for (const auto &image : gallery->images)
            QCOMPARE(image.sha256, sha256Hex(contents.value(image.fileName)));
        for (const auto &put : f->service.requests("PUT", "/store/*")) {
            QCOMPARE(put.header("Content-Type"), QByteArray("image/jpeg"));
            QVERIFY(!put.hasHeader("Authorization"));
        }
        QCOMPARE(confirms().size(), 1);
        const QJsonObject confirm = lastConfirmBody();
        QCOMPARE(confirm.value("imageCount").toInteger(), 9);
        qint64 total = 0;
        for (const auto &bytes : std::as_const(contents))
            total += bytes.size();
        QCOMPARE(confirm.value("totalBytes").toInteger(), total);
        QVERIFY(!confirm.contains("failedKeys"));
    }

    // Groups, not a sliding window: with the first upload slow, the next group starts with nothing in flight.
    void aGroupWaitsForItsSlowestUpload()
    {
        const QStringList files = makeImages(9);
        f->service.script("PUT", "/store/*", {200, "", {}, 300});
        finish(f->manager.uploadFiles(files, m_galleryId, m_folder));
        const QList<int> inFlight = f->service.putsInFlightAtArrival();
        QCOMPARE(inFlight.size(), 9);
        QCOMPARE(inFlight.at(4), 1);
        QCOMPARE(inFlight.at(8), 1);
    }

    void engineErrorsStopBeforeAnyUpload_data()
    {
        QTest::addColumn<bool>("heic");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("heic file") << true << "Klarte ikke å lese filen img3.heic" << -1;
        QTest::newRow("fewer slots") << false << "Server-svar matchet ikke antall filer (3/4)" << -2;
    }
    void engineErrorsStopBeforeAnyUpload()
    {
        QFETCH(bool, heic);
        QFETCH(QString, text);
        QFETCH(int, code);
        QStringList files = makeImages(4);
        if (heic) {
            QFile::rename(files.last(), f->exportTree.path("Album/img3.heic"));
            files.last() = f->exportTree.path("Album/img3.heic");
        } else {
            f->service.withholdSlotsOnNextPresign(1);
        }

        const auto failure = testsupport::awaitFailure(f->manager.uploadFiles(files, m_galleryId, m_folder));

        QVERIFY(failure);
        try {
            std::rethrow_exception(failure);
        } catch (const SyncManagerError &error) {
            QCOMPARE(error.code(), code);
            QCOMPARE(error.localizedDescription(), text);
        } catch (...) {
            QFAIL("not an error of the engine's own");
        }
        QCOMPARE(f->service.requests("POST", "/api/upload/presigned").size(), heic ? 0 : 1);
        QVERIFY(f->service.requests("PUT", "/store/*").isEmpty());
        QVERIFY(confirms().isEmpty());
    }

    // The disk changes between the listing and the upload. What is no longer a file when the run describes its
    // files is left out; what changes after that fails alone. Nothing outside the folder is ever sent.
    void diskChangesBetweenListingAndUpload_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("described");
        QTest::addColumn<int>("failed");
        const int describing = int(SyncManager::UploadStep::describing);
        const int sending = int(SyncManager::UploadStep::sending);
        QTest::newRow("deleted before describing") << describing << "delete" << 3 << 0;
        QTest::newRow("folder before describing") << describing << "folder" << 3 << 0;
        QTest::newRow("link before describing") << describing << "link" << 3 << 0;
        QTest::newRow("deleted before sending") << sending << "delete" << 4 << 1;
        QTest::newRow("link before sending") << sending << "link" << 4 << 1;
        QTest::newRow("grown before sending") << sending << "grow" << 4 << 1;
    }
    void diskChangesBetweenListingAndUpload()
    {
        QFETCH(int, step);
        QFETCH(QString, change);
        QFETCH(int, described);
        QFETCH(int, failed);
        const QStringList files = makeImages(4);
        testsupport::TempTree outside;
        const QString secret = outside.addFile("secret.jpg", 100000 + 37); // the size img1.jpg was described with
        const QString victim = files.at(1);
        f->manager.setUploadStepHook([&](SyncManager::UploadStep at, const QStringList &) {
            if (int(at) != step)
                return;
            QFile::remove(victim);
            if (change == "folder")
                QDir().mkpath(victim);
            else if (change == "link")
                QFile::link(secret, victim);
            else if (change == "grow")
                f->writeImage("Album/img1.jpg", 100000 + 38);
        });

        const UploadBatchResult result = finish(f->manager.uploadFiles(files, m_galleryId, m_folder));

        const auto presign = QJsonDocument::fromJson(f->service.requests("POST", "/api/upload/presigned").first().body);
        QCOMPARE(presign.object().value("files").toArray().size(), described);
        QCOMPARE(result.uploadedCount, 3);
        QCOMPARE(result.failedCount, failed);
        QCOMPARE(result.leftOutFileNames, described == 3 ? QStringList{"img1.jpg"} : QStringList());
        QVERIFY(!result.succeededFileNames.contains("img1.jpg"));
        QCOMPARE(lastConfirmBody().value("failedKeys").toArray().size(), failed);
        const QByteArray secretSha = sha256Hex(QByteArray(100000 + 37, '\0'));
        for (const auto &put : f->service.requests("PUT", "/store/*"))
            QVERIFY(put.bodySha256 != secretSha);
        QCOMPARE(f->service.gallery(m_galleryId)->images.size(), 3);
    }

    void upperCaseExtensionAndEmptyList()
    {
        const QStringList files{f->exportTree.path("Album/SHOT.JPG")};
        f->writeImage("Album/SHOT.JPG");
        QCOMPARE(finish(f->manager.uploadFiles(files, m_galleryId, m_folder)).uploadedCount, 1);
        QCOMPARE(f->service.requests("PUT", "/store/*").first().header("Content-Type"), QByteArray("image/jpeg"));

        const UploadBatchResult empty = finish(f->manager.uploadFiles({}, m_galleryId, m_folder));
        QCOMPARE(empty.uploadedCount, 0);
        QCOMPARE(empty.failedCount, 0);
        QCOMPARE(lastConfirmBody().value("imageCount").toInteger(), 0);
        QVERIFY(!lastConfirmBody().contains("failedKeys"));
    }
};

QTEST_GUILESS_MAIN(TestUploadPipeline)
#include "tst_uploadpipeline.moc"
