// The upload pipeline against the stand-in service: groups of four, progress, one confirmation, failures by key.

#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "service/VarnostimaAPI.h"
#include "sync/SyncErrors.h"
#include "sync/SyncManager.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;

namespace {

constexpr QByteArrayView kToken = "upload-token";

// Spins a plain event loop: QTest::qWaitFor sleeps between rounds and throttles streamed bodies.
template<typename T>
T finish(QCoro::Task<T> task)
{
    struct State {
        bool done = false;
        QEventLoop loop;
    };
    State state;
    auto watcher = [](QCoro::Task<T> inner, State *s) -> QCoro::Task<T> {
        struct Quit {
            State *s;
            ~Quit() { s->done = true; s->loop.quit(); }
        } quit{s};
        co_return co_await std::move(inner);
    }(std::move(task), &state);
    if (!state.done) {
        QTimer::singleShot(20000, &state.loop, &QEventLoop::quit);
        state.loop.exec();
    }
    return testsupport::awaitTask(std::move(watcher), 0);
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestUploadPipeline : public QObject
{
    Q_OBJECT

    std::unique_ptr<StandInService> m_service;
    std::unique_ptr<VarnostimaAPI> m_api;
    std::unique_ptr<TempTree> m_support;
    std::unique_ptr<TempTree> m_export;
    std::unique_ptr<SyncManager> m_manager;
    QString m_galleryId;
    SyncFolder m_folder;

    QStringList makeImages(int count, QHash<QString, QByteArray> *contents = nullptr, const QString &ext = "jpg")
    {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("img%1.%2").arg(i).arg(ext);
            const QByteArray bytes = randomBytes(100000 + i * 37);
            QFile file(m_export->path("Album/" + name));
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            paths.append(file.fileName());
            if (contents)
                contents->insert(name, bytes);
        }
        return paths;
    }

    QJsonObject lastConfirmBody() const
    {
        const auto confirms = m_service->requests("POST", QByteArray("/api/gallery/") + m_galleryId.toUtf8() + "/confirm");
        return confirms.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(confirms.last().body).object();
    }

private Q_SLOTS:
    void init()
    {
        m_service = std::make_unique<StandInService>();
        m_service->addAccount(kToken.toByteArray());
        m_api = std::make_unique<VarnostimaAPI>();
        m_api->setTimeouts({2s, 2s, 5s});
        m_api->setCredentials(m_service->baseUrl(), QString::fromLatin1(kToken));
        m_support = std::make_unique<TempTree>();
        m_export = std::make_unique<TempTree>();
        m_export->addDir("Album");
        m_manager = std::make_unique<SyncManager>(m_support->root());
        m_manager->setAPI(*m_api);
        m_galleryId = m_service->seedGallery("Album");
        m_folder.path = m_export->path("Album");
        m_folder.name = m_folder.displayName = "Album";
        m_folder.status = SyncStatus::syncing(0);
        m_manager->setFolders({m_folder});
    }

    void cleanup()
    {
        m_manager.reset();
        m_api.reset();
        m_service.reset();
    }

    void nineImagesGoUpInGroupsOfFour()
    {
        QHash<QString, QByteArray> contents;
        const QStringList files = makeImages(9, &contents);
        QList<double> progress;
        connect(m_manager.get(), &SyncManager::foldersChanged, this, [&] {
            progress.append(m_manager->folders().first().status.progress());
        });

        const UploadBatchResult result = finish(m_manager->uploadFiles(files, m_galleryId, m_folder));

        QCOMPARE(result.uploadedCount, 9);
        QCOMPARE(result.failedCount, 0);
        QCOMPARE(QSet<QString>(result.succeededFileNames.cbegin(), result.succeededFileNames.cend()).size(), 9);
        QCOMPARE(progress, (QList<double>{4.0 / 9, 8.0 / 9, 1.0}));
        QVERIFY(m_service->maxPutsInFlight() <= 4);

        const auto gallery = m_service->gallery(m_galleryId);
        QCOMPARE(gallery->images.size(), 9);
        for (const auto &image : gallery->images)
            QCOMPARE(image.sha256, sha256Hex(contents.value(image.fileName)));
        const auto puts = m_service->requests("PUT", "/store/*");
        for (const auto &put : puts) {
            QCOMPARE(put.header("Content-Type"), QByteArray("image/jpeg"));
            QVERIFY(!put.hasHeader("Authorization"));
        }
        const QJsonObject confirm = lastConfirmBody();
        QCOMPARE(confirm.value("imageCount").toInteger(), 9);
        qint64 total = 0;
        for (const auto &bytes : std::as_const(contents))
            total += bytes.size();
        QCOMPARE(confirm.value("totalBytes").toInteger(), total);
        QVERIFY(!confirm.contains("failedKeys"));
        QCOMPARE(m_service->requests("POST", QByteArray("/api/gallery/") + m_galleryId.toUtf8() + "/confirm").size(), 1);
    }

    void failedPutsAreReportedByKey_data()
    {
        QTest::addColumn<int>("failing"); // PUTs that fail, of five
        QTest::newRow("dropped connection") << 1;
        QTest::newRow("expired slots") << 5;
    }

    void failedPutsAreReportedByKey()
    {
        QFETCH(int, failing);
        const QStringList files = makeImages(5);
        if (failing == 5)
            m_service->setSlotLifetime(0ms);
        else
        {
            // Qt resends once by itself when the connection closes without an answer.
            m_service->overrideSlotUrlOnNextPresign(m_service->baseUrl().toString() + "/store/dropped", 2);
            m_service->script("PUT", "/store/dropped", {0, {}, {}, 0, ScriptedAnswer::Kind::CloseWithoutAnswer}, 2);
        }

        const UploadBatchResult result = finish(m_manager->uploadFiles(files, m_galleryId, m_folder));

        QCOMPARE(result.uploadedCount, 5 - failing);
        QCOMPARE(result.failedCount, failing);
        const QJsonObject confirm = lastConfirmBody();
        const QStringList keys = confirm.value("failedKeys").toVariant().toStringList();
        QCOMPARE(keys.size(), failing);
        for (const QString &key : keys)
            QVERIFY2(key.startsWith("uploads/" + m_galleryId + "/"), qPrintable(key));
        const auto gallery = m_service->gallery(m_galleryId);
        QCOMPARE(gallery->images.size(), 5 - failing);
        for (const auto &image : gallery->images)
            QVERIFY(result.succeededFileNames.contains(image.fileName));
        QVERIFY(m_manager->folders().first().status.progress() < 1.0);
    }

    void runFailsBeforeUploading_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("expectedText");
        QTest::addColumn<int>("expectedCode"); // 0: a service error
        QTest::newRow("heic") << "heic" << "Klarte ikke å lese filen img3.heic" << -1;
        QTest::newRow("fewer slots") << "withhold" << "Server-svar matchet ikke antall filer (3/4)" << -2;
        QTest::newRow("413 on presign") << "413" << APIError::quotaExceeded().localizedDescription() << 0;
    }

    void runFailsBeforeUploading()
    {
        QFETCH(QString, fault);
        QFETCH(QString, expectedText);
        QFETCH(int, expectedCode);
        QStringList files = makeImages(4);
        if (fault == "heic") {
            QFile::rename(files.last(), m_export->path("Album/img3.heic"));
            files.last() = m_export->path("Album/img3.heic");
        } else if (fault == "withhold") {
            m_service->withholdSlotsOnNextPresign(1);
        } else {
            m_service->script("POST", "/api/upload/presigned", {413, R"({"error":"too large"})"});
        }

        const auto failure = testsupport::awaitFailure(m_manager->uploadFiles(files, m_galleryId, m_folder));
        QVERIFY(failure);
        try {
            std::rethrow_exception(failure);
        } catch (const SyncManagerError &error) {
            QCOMPARE(error.code(), expectedCode);
            QCOMPARE(error.localizedDescription(), expectedText);
        } catch (const UserFacingError &error) {
            QCOMPARE(expectedCode, 0);
            QCOMPARE(error.localizedDescription(), expectedText);
        }
        QCOMPARE(m_service->requests("PUT", "/store/*").size(), 0);
        QVERIFY(lastConfirmBody().isEmpty());
        QCOMPARE(m_service->requests("POST", "/api/upload/presigned").size(), fault == "heic" ? 0 : 1);
    }

    void failedConfirmationIsThrown()
    {
        const QStringList files = makeImages(2);
        m_service->script("POST", "/api/gallery/*", {500, R"({"error":"boom"})"});
        const auto failure = testsupport::awaitFailure(m_manager->uploadFiles(files, m_galleryId, m_folder));
        QVERIFY(failure);
        QVERIFY_THROWS_EXCEPTION(APIError, std::rethrow_exception(failure));
        QCOMPARE(m_service->gallery(m_galleryId)->images.size(), 0);
    }

    void upperCaseExtensionAndEmptyList()
    {
        QStringList files = makeImages(1);
        QFile::rename(files.first(), m_export->path("Album/SHOT.JPG"));
        files = {m_export->path("Album/SHOT.JPG")};
        QCOMPARE(finish(m_manager->uploadFiles(files, m_galleryId, m_folder)).uploadedCount, 1);
        QCOMPARE(m_service->requests("PUT", "/store/*").first().header("Content-Type"), QByteArray("image/jpeg"));

        const UploadBatchResult empty = finish(m_manager->uploadFiles({}, m_galleryId, m_folder));
        QCOMPARE(empty.uploadedCount, 0);
        QCOMPARE(empty.failedCount, 0);
        QCOMPARE(lastConfirmBody().value("imageCount").toInteger(), 0);
        QVERIFY(!lastConfirmBody().contains("failedKeys"));
    }
};

QTEST_GUILESS_MAIN(TestUploadPipeline)
#include "tst_uploadpipeline.moc"
