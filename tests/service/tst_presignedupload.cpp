#include "ServiceFixture.h"
#include "platform/SecurityScopedAccess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

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
        QCOMPARE(errorOf<APIError>(put(url, source)), APIError::invalidURL());
        QCOMPARE(m_scope.starts, 0);
        QVERIFY(m_c.service->requests().isEmpty());
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
        m_c.service->script("PUT", "/store/*", answer(status, body));
        const QString file = makeFile(QStringLiteral("a.jpg"), QByteArray(70000, 'x'));
        LogCapture log;
        const auto failure = put(storeURL(), file);
        if (errorCase < 0) {
            QVERIFY(!failure);
        } else {
            const auto error = errorOf<APIError>(failure);
            QVERIFY(error);
            QCOMPARE(int(error->errorCase()), errorCase);
            QCOMPARE(error->statusCode(), errorStatus);
        }
        QVERIFY(log.lines(kAPI).isEmpty());
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
        m_c.api->setTimeouts({200ms, 200ms, 10s});
        ScriptedAnswer scripted = ofKind(ScriptedAnswer::Kind(kind));
        scripted.status = 403;
        m_c.service->script("PUT", "/store/*", scripted, -1);
        const QString file = makeFile(QStringLiteral("big.jpg"), QByteArray(8 << 20, 'b'));
        const auto failure = put(storeURL(), file);
        QVERIFY(failure); // ended, neither hanging nor crashing
        if (timeout) {
            const auto error = errorOf<TransportError>(failure);
            QVERIFY(error);
            QVERIFY(error->isTimeout());
        }
        QCOMPARE(m_scope.starts, 1);
        QCOMPARE(m_scope.stops, grant ? 1 : 0);
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
