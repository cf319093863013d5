#include "ServiceFixture.h"
#include "platform/SecurityScopedAccess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <thread>

using namespace fixture;

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

// Bytes that differ from piece to piece, so that a piece sent twice or out of place shows in the hash.
QByteArray patterned(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 4096) % 251);
    return bytes;
}

} // namespace

class TestPresignedUpload : public QObject
{
    Q_OBJECT

    Client m_c;
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
    std::exception_ptr put(const QString &url, const QString &file, const QString &type = QStringLiteral("image/jpeg"))
    {
        return awaitFailure(m_c.api->uploadToPresignedURL(url, file, type));
    }
    QString storeURL() const { return m_c.service->baseUrl().toString() + QStringLiteral("/store/slot-x"); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_c.start();
        m_scope = CountingScope();
        m_c.api->setSecurityScope(m_scope);
    }
    void cleanup()
    {
        m_c.stop();
        m_dir.reset();
    }

    void refusesURLsBeforeTouchingTheFile_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << QString();
        QTest::newRow("relative") << QStringLiteral("/store/slot");
        QTest::newRow("file") << QStringLiteral("file://%1");
        QTest::newRow("no host") << QStringLiteral("http:///x");
    }
    void refusesURLsBeforeTouchingTheFile()
    {
        QFETCH(QString, url);
        const QString victim = makeFile(QStringLiteral("victim.jpg"), "original");
        const QString source = makeFile(QStringLiteral("source.jpg"), "payload");
        if (url.contains(QLatin1String("%1")))
            url = url.arg(victim);
        QCOMPARE(errorOf<APIError>(put(url, source)), APIError::invalidURL());
        QCOMPARE(m_scope.starts, 0);
        QVERIFY(m_c.service->requests().isEmpty());
        QFile file(victim);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("original"));
    }

    void answerClassification_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        // -1: success, -2: transport error, -3: time-out, -4: any failure, else the APIError case
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("errorStatus");
        QTest::addColumn<bool>("grant");  // whether file access starts
        const int answered = int(ScriptedAnswer::Kind::Answer);
        const int failed = int(APIError::Case::uploadFailed);
        const int expired = int(APIError::Case::expiredPresignedURL);
        auto row = [&](const char *name, int status, const QByteArray &body, int outcome, int errorStatus) {
            QTest::newRow(name) << answered << status << body << outcome << errorStatus << true;
        };
        row("299 with a body", 299, "<x/>", -1, 0);
        row("300", 300, {}, failed, 300);
        // 199 is an interim answer, passed over like every 1xx: the final one never comes, and the upload fails.
        QTest::newRow("199") << answered << 199 << QByteArray() << -4 << 0 << true;
        row("403", 403, "<Code>AccessDenied</Code>", failed, 403);
        row("403 expired", 403, "<Error><Code>ExpiredToken</Code></Error>", expired, 0);
        row("400 expired", 400, "ExpiredToken", expired, 0);
        row("403 S3 request has expired", 403,
            "<Error><Code>AccessDenied</Code><Message>Request has expired</Message></Error>", expired, 0);
        row("case matters", 403, "expiredtoken", failed, 403);
        row("case matters, S3", 403, "<Code>AccessDenied</Code><Message>request has expired</Message>", failed, 403);
        row("invalid utf-8 body", 403, "ExpiredToken \xff\xfe", failed, 403);
        // Only the answer's start is read (64 KiB): a huge answer cannot fill memory.
        row("expired, huge answer", 403, "ExpiredToken" + QByteArray(4 << 20, ' '), expired, 0);
        row("expired said too late", 403, QByteArray(70000, ' ') + "ExpiredToken", failed, 403);
        row("200, huge answer", 200, QByteArray(4 << 20, ' '), -1, 0);
        // No usable answer: the call ends, neither hanging nor crashing. An early answer may or may not be seen.
        QTest::newRow("store answers early and closes") << int(ScriptedAnswer::Kind::AnswerBeforeBody) << 403
                                                        << QByteArray() << -4 << 0 << true;
        QTest::newRow("closes without answer") << int(ScriptedAnswer::Kind::CloseWithoutAnswer) << 0 << QByteArray()
                                               << -2 << 0 << true;
        QTest::newRow("hangs") << int(ScriptedAnswer::Kind::Hang) << 0 << QByteArray() << -3 << 0 << true;
        QTest::newRow("hangs, access not granted") << int(ScriptedAnswer::Kind::Hang) << 0 << QByteArray() << -3 << 0
                                                   << false;
    }
    void answerClassification()
    {
        QFETCH(int, kind);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, outcome);
        QFETCH(int, errorStatus);
        QFETCH(bool, grant);
        m_scope.grant = grant;
        // Only a hang waits for the idle limit: a short one elsewhere would read a busy machine as a time-out.
        if (ScriptedAnswer::Kind(kind) == ScriptedAnswer::Kind::Hang)
            m_c.api->setTimeouts({200ms, 200ms, 10s});
        ScriptedAnswer scripted = answer(status, body);
        scripted.kind = ScriptedAnswer::Kind(kind);
        m_c.service->script("PUT", "/store/*", scripted, -1);
        const QString file = makeFile(QStringLiteral("a.jpg"), QByteArray(outcome < -1 ? 8 << 20 : 70000, 'x'));
        LogCapture log;
        const auto failure = put(storeURL(), file);
        const auto error = errorOf<APIError>(failure);
        QCOMPARE(!failure, outcome == -1);
        if (outcome > -4) {
            QCOMPARE(error ? int(error->errorCase()) : outcome, outcome);
            QCOMPARE(error ? error->statusCode() : 0, errorStatus);
        }
        if (outcome == -2 || outcome == -3) {
            const auto transport = errorOf<TransportError>(failure);
            QVERIFY(transport);
            QCOMPARE(transport->isTimeout(), outcome == -3);
        }
        QVERIFY(log.lines(kAPI).isEmpty());
        QCOMPARE(m_scope.starts, 1);
        QCOMPARE(m_scope.stops, grant ? 1 : 0);
    }

    // While data flows an upload may take as long as it needs: only the idle limit ends it.
    void noTotalLimit()
    {
        m_c.api->setTimeouts({30s, 30s, 1ms});
        m_c.service->script("PUT", "/store/*", answer(200, {}, 300));
        QVERIFY(!put(storeURL(), makeFile(QStringLiteral("a.jpg"), QByteArray(70000, 'x'))));
    }

    void unreadableFilePassesThrough_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("missing file") << false;
        QTest::newRow("folder") << true;
    }
    void unreadableFilePassesThrough()
    {
        QFETCH(bool, folder);
        const QString path = folder ? m_dir->path() : m_dir->filePath(QStringLiteral("gone.jpg"));
        QVERIFY(errorOf<FileAccessError>(put(storeURL(), path)));
        QVERIFY(m_c.service->requests().isEmpty());
        QCOMPARE(m_scope.starts, 1);
        QCOMPARE(m_scope.stops, 1);
    }

    // The file is read and handed to the network on a thread of the client's own: the whole body reaches the store
    // while the UI thread is blocked and runs no event loop.
    void sendsWhileTheUIThreadIsBusy()
    {
        const QByteArray bytes = patterned(6 * 1024 * 1024 + 5);
        QCoro::Task<void> upload = m_c.api->uploadToPresignedURL(storeURL(), makeFile(QStringLiteral("a.jpg"), bytes),
                                                                 QStringLiteral("image/jpeg"));
        QDeadlineTimer patience(60000); // a bound for a failure, not a speed
        while (m_c.service->requests("PUT", "/store/*").isEmpty() && !patience.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto sent = m_c.service->requests("PUT", "/store/*");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().bodySha256, sha256Hex(bytes));
        QCOMPARE(errorOf<APIError>(awaitFailure(std::move(upload))), APIError::uploadFailed(404)); // no such slot
    }

    // A connection closed before any answer is Qt's to retry: the body is sent again, whole, from its start.
    void closedConnectionSendsTheWholeFileAgain()
    {
        const QByteArray bytes = patterned(3 * 1024 * 1024 + 17);
        m_c.service->script("PUT", "/store/*", ofKind(ScriptedAnswer::Kind::CloseWithoutAnswer), 1);
        m_c.service->script("PUT", "/store/*", answer(200, {}), 1);
        QVERIFY(!put(storeURL(), makeFile(QStringLiteral("a.jpg"), bytes)));
        const auto sent = m_c.service->requests("PUT", "/store/*");
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).bodySha256, sha256Hex(bytes));
        QCOMPARE(sent.at(1).bodySha256, sha256Hex(bytes));
    }

    // A file cut short while it is sent ends the transfer from the client's side, at once: neither the idle
    // time-out nor the store giving up on the missing bytes ends it.
    void fileCutShortWhileSentFails()
    {
        const QString file = makeFile(QStringLiteral("a.jpg"), patterned(8 * 1024 * 1024));
        QCoro::Task<void> upload = m_c.api->uploadToPresignedURL(storeURL(), file, QStringLiteral("image/jpeg"));
        QVERIFY(QFile::resize(file, 1024 * 1024));
        const auto failure = awaitFailure(std::move(upload));
        // The file's fault, said as one: not the network's.
        const auto error = errorOf<FileAccessError>(failure);
        QVERIFY(error);
        QCOMPARE(error->localizedDescription(), QStringLiteral("Klarte ikke å lese filen a.jpg"));
        QVERIFY2(error->logDescription().contains(QLatin1String("shorter"))
                     || error->logDescription().contains(QLatin1String("changed size")),
                 qPrintable(error->logDescription()));
    }

    // Presign, put, confirm against the stand-in, then see the images in the sync state.
    void wholeFirstUpload()
    {
        const QString galleryId = awaitTask(m_c.api->createGallery({QStringLiteral("Bryllup"), {}, {}})).gallery.id;
        QByteArray large(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < large.size(); ++i)
            large[i] = char((i * 131) % 251);
        const QList<QByteArray> bytes{large, "png bytes"};
        const QList<PresignedRequest::FileInfo> infos{{QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), large.size()},
                                                      {QStringLiteral("b.png"), QStringLiteral("image/png"), 9}};
        const PresignedResponse slots = awaitTask(m_c.api->requestPresignedURLs(galleryId, infos));
        QCOMPARE(slots.presignedUrls.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!put(slots.presignedUrls.at(i).url, makeFile(infos.at(i).name, bytes.at(i)), infos.at(i).type));
            const auto sent = m_c.service->requests("PUT", "/store/*").at(i);
            QVERIFY(!sent.hasHeader("Authorization")); // even while the client holds a token
            QCOMPARE(sent.header("Content-Type"), infos.at(i).type.toUtf8());
            QCOMPARE(sent.bodySha256, sha256Hex(bytes.at(i)));
        }
        awaitTask(m_c.api->confirmUpload(galleryId, {2, large.size() + 9, std::nullopt}));
        QCOMPARE(m_c.service->gallery(galleryId)->images.at(0).sha256, sha256Hex(large));
        const SyncStateResponse state = awaitTask(m_c.api->getSyncState());
        QCOMPARE(state.galleries.first().fileNames, (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.png")}));
        QCOMPARE(m_scope.starts, m_scope.stops);

        // The store's own refusal of an expired link.
        const PresignedResponse fresh = awaitTask(m_c.api->requestPresignedURLs(galleryId, {infos.at(1)}));
        m_c.service->expireSlots();
        QCOMPARE(errorOf<APIError>(put(fresh.presignedUrls.first().url, m_dir->filePath(QStringLiteral("b.png")))),
                 APIError::expiredPresignedURL());
    }
};

QTEST_GUILESS_MAIN(TestPresignedUpload)
#include "tst_presignedupload.moc"
