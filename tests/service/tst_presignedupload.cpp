#include "platform/SecurityScopedAccess.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::awaitFailure;
using testsupport::awaitTask;
using testsupport::LogCapture;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;

namespace {

class CountingScope final : public SecurityScope
{
public:
    bool grant = true;
    int starts = 0;
    int stops = 0;
    bool startAccessing(const QString &) override
    {
        ++starts;
        return grant;
    }
    void stopAccessing(const QString &) override { ++stops; }
};

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

template<typename E>
std::optional<E> errorOf(const std::exception_ptr &failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const E &error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

struct Outcome {
    bool done = false;
    std::exception_ptr error;
    QEventLoop loop;
};

template<typename T>
QCoro::Task<void> record(QCoro::Task<T> task, Outcome *outcome)
{
    try {
        co_await std::move(task);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    outcome->loop.quit();
}

// Like awaitFailure, but spins a plain event loop: QTest::qWaitFor sleeps between event rounds, which throttles a
// streamed upload to a crawl. Throws TaskTimeout when the task does not end.
template<typename T>
std::exception_ptr streamed(QCoro::Task<T> task)
{
    Outcome outcome;
    auto running = record(std::move(task), &outcome);
    if (!outcome.done) {
        QTimer::singleShot(20000, &outcome.loop, &QEventLoop::quit);
        outcome.loop.exec();
    }
    if (!outcome.done)
        throw testsupport::TaskTimeout();
    return outcome.error;
}

} // namespace

class TestPresignedUpload : public QObject
{
    Q_OBJECT

    std::unique_ptr<StandInService> m_service;
    std::unique_ptr<VarnostimaAPI> m_api;
    std::unique_ptr<QTemporaryDir> m_dir;
    CountingScope m_scope;

    QString makeFile(const QString &name, const QByteArray &bytes) const
    {
        const QString path = m_dir->filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }
    QString storeURL() const { return m_service->baseUrl().toString() + QStringLiteral("/store/slot-x"); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_service = std::make_unique<StandInService>();
        m_service->addAccount("tok");
        m_api = std::make_unique<VarnostimaAPI>();
        m_api->setTimeouts({3s, 3s, 10s});
        m_api->setCredentials(m_service->baseUrl(), QStringLiteral("tok"));
        m_api->setSecurityScope(m_scope);
        m_scope = CountingScope();
    }
    void cleanup()
    {
        m_api.reset();
        m_service.reset();
        m_dir.reset();
    }

    void refusesURLsBeforeTouchingTheFile_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << QString();
        QTest::newRow("not a url") << QStringLiteral("not a url at all");
        QTest::newRow("relative") << QStringLiteral("/store/slot");
        QTest::newRow("file") << QStringLiteral("file://%1");
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/x");
        QTest::newRow("no host") << QStringLiteral("http:///x");
    }
    void refusesURLsBeforeTouchingTheFile()
    {
        QFETCH(QString, url);
        const QString victim = makeFile(QStringLiteral("victim.jpg"), "original");
        const QString source = makeFile(QStringLiteral("source.jpg"), "payload");
        if (url.contains(QLatin1String("%1")))
            url = url.arg(victim);
        const auto error = errorOf<APIError>(
            awaitFailure(m_api->uploadToPresignedURL(url, source, QStringLiteral("image/jpeg"))));
        QCOMPARE(error, APIError::invalidURL());
        QCOMPARE(m_scope.starts, 0);
        QVERIFY(m_service->requests().isEmpty());
        QFile file(victim);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("original"));
    }

    void answerClassification_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("errorCase"); // -1: success
        QTest::addColumn<int>("errorStatus");
        const int failed = int(APIError::Case::uploadFailed);
        const int expired = int(APIError::Case::expiredPresignedURL);
        QTest::newRow("200") << 200 << QByteArray() << -1 << 0;
        QTest::newRow("299 with a body") << 299 << QByteArray("<x/>") << -1 << 0;
        QTest::newRow("300") << 300 << QByteArray() << failed << 300;
        QTest::newRow("199") << 199 << QByteArray() << failed << 199;
        QTest::newRow("401") << 401 << QByteArray() << failed << 401;
        QTest::newRow("403") << 403 << QByteArray("<Code>AccessDenied</Code>") << failed << 403;
        QTest::newRow("413") << 413 << QByteArray() << failed << 413;
        QTest::newRow("403 expired") << 403 << QByteArray("<Error><Code>ExpiredToken</Code></Error>") << expired << 0;
        QTest::newRow("400 expired") << 400 << QByteArray("ExpiredToken") << expired << 0;
        QTest::newRow("case matters") << 403 << QByteArray("expiredtoken") << failed << 403;
        QTest::newRow("invalid utf-8 body") << 403 << QByteArray("ExpiredToken \xff\xfe") << failed << 403;
    }
    void answerClassification()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, errorCase);
        QFETCH(int, errorStatus);
        ScriptedAnswer answer;
        answer.status = status;
        answer.body = body;
        m_service->script("PUT", "/store/*", answer);
        const QString file = makeFile(QStringLiteral("a.jpg"), QByteArray(70000, 'x'));
        LogCapture log;
        const auto failure = awaitFailure(m_api->uploadToPresignedURL(storeURL(), file, QStringLiteral("image/jpeg")));
        if (errorCase < 0) {
            QVERIFY(!failure);
        } else {
            const auto error = errorOf<APIError>(failure);
            QVERIFY(error);
            QCOMPARE(int(error->errorCase()), errorCase);
            QCOMPARE(error->statusCode(), errorStatus);
        }
        QVERIFY(log.lines(QStringLiteral("no.varnostima.mac.API")).isEmpty());
        QCOMPARE(m_scope.starts, 1);
        QCOMPARE(m_scope.stops, 1);
    }

    void failuresWithoutAnswer_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("timeout");
        QTest::addColumn<bool>("grant");
        QTest::newRow("store answers early and closes") << int(ScriptedAnswer::Kind::AnswerBeforeBody) << false << true;
        QTest::newRow("closes without answer") << int(ScriptedAnswer::Kind::CloseWithoutAnswer) << false << true;
        QTest::newRow("hangs") << int(ScriptedAnswer::Kind::Hang) << true << true;
        QTest::newRow("hangs, access not granted") << int(ScriptedAnswer::Kind::Hang) << true << false;
    }
    void failuresWithoutAnswer()
    {
        QFETCH(int, kind);
        QFETCH(bool, timeout);
        QFETCH(bool, grant);
        m_scope.grant = grant;
        m_api->setTimeouts({200ms, 200ms, 10s});
        ScriptedAnswer answer;
        answer.kind = ScriptedAnswer::Kind(kind);
        answer.status = 403;
        m_service->script("PUT", "/store/*", answer, -1);
        const QString file = makeFile(QStringLiteral("big.jpg"), QByteArray(8 << 20, 'b'));
        const auto failure = streamed(m_api->uploadToPresignedURL(storeURL(), file, QStringLiteral("image/jpeg")));
        QVERIFY(failure); // ended, neither hanging nor crashing
        if (timeout) {
            const auto error = errorOf<TransportError>(failure);
            QVERIFY(error);
            QVERIFY(error->isTimeout());
        }
        QCOMPARE(m_scope.starts, 1);
        QCOMPARE(m_scope.stops, grant ? 1 : 0);
    }

    void unreadableFilePassesThrough()
    {
        const auto missing = errorOf<FileAccessError>(awaitFailure(m_api->uploadToPresignedURL(
            storeURL(), m_dir->filePath(QStringLiteral("gone.jpg")), QStringLiteral("image/jpeg"))));
        QVERIFY(missing);
        const auto folder = errorOf<FileAccessError>(
            awaitFailure(m_api->uploadToPresignedURL(storeURL(), m_dir->path(), QStringLiteral("image/jpeg"))));
        QVERIFY(folder);
        QVERIFY(m_service->requests().isEmpty());
        QCOMPARE(m_scope.starts, 2);
        QCOMPARE(m_scope.stops, 2);
    }

    // Presign, put, confirm against the stand-in, then see the images in the sync state.
    void wholeFirstUpload()
    {
        const QString galleryId = awaitTask(m_api->createGallery({QStringLiteral("Bryllup"), {}, {}})).gallery.id;
        QByteArray large(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < large.size(); ++i)
            large[i] = char((i * 131) % 251);
        const QList<QPair<QString, QByteArray>> files{{QStringLiteral("a.jpg"), large},
                                                      {QStringLiteral("b.png"), QByteArray("png bytes")}};
        QList<PresignedRequest::FileInfo> infos;
        for (const auto &[name, bytes] : files)
            infos.append({name, name.endsWith(QLatin1String("png")) ? QStringLiteral("image/png")
                                                                    : QStringLiteral("image/jpeg"),
                          bytes.size()});
        const PresignedResponse slots = awaitTask(m_api->requestPresignedURLs(galleryId, infos));
        QCOMPARE(slots.presignedUrls.size(), 2);

        for (int i = 0; i < files.size(); ++i)
            QVERIFY(!streamed(m_api->uploadToPresignedURL(
                slots.presignedUrls.at(i).url, makeFile(files.at(i).first, files.at(i).second), infos.at(i).type)));
        const auto puts = m_service->requests("PUT", "/store/*");
        QCOMPARE(puts.size(), 2);
        for (int i = 0; i < puts.size(); ++i) {
            QVERIFY(!puts.at(i).hasHeader("Authorization"));
            QCOMPARE(puts.at(i).header("Content-Type"), infos.at(i).type.toUtf8());
            QCOMPARE(puts.at(i).bodySize, files.at(i).second.size());
            QCOMPARE(puts.at(i).bodySha256, sha256Hex(files.at(i).second));
        }

        qint64 total = 0;
        for (const auto &info : infos)
            total += info.size;
        awaitTask(m_api->confirmUpload(galleryId, {2, total, std::nullopt}));
        const auto stored = m_service->gallery(galleryId);
        QVERIFY(stored);
        QCOMPARE(stored->images.size(), 2);
        QCOMPARE(stored->images.at(0).sha256, sha256Hex(large));

        const SyncStateResponse state = awaitTask(m_api->getSyncState());
        QCOMPARE(state.galleries.size(), 1);
        QCOMPARE(state.galleries.first().fileNames, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.png")}));
        QCOMPARE(m_scope.starts, m_scope.stops);
    }

    void expiredSlotFromTheStore()
    {
        const QString galleryId = m_service->seedGallery(QStringLiteral("G"));
        const auto slots = awaitTask(m_api->requestPresignedURLs(
            galleryId, {{QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), 3}}));
        m_service->expireSlots();
        const auto error = errorOf<APIError>(awaitFailure(m_api->uploadToPresignedURL(
            slots.presignedUrls.first().url, makeFile(QStringLiteral("a.jpg"), "abc"), QStringLiteral("image/jpeg"))));
        QCOMPARE(error, APIError::expiredPresignedURL());
    }
};

QTEST_GUILESS_MAIN(TestPresignedUpload)
#include "tst_presignedupload.moc"
