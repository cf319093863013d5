#include "service/UploadSource.h"
#include "service/UploadTransport.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QString tlsFile(const char *name)
{
    return QStringLiteral(VARNOSTIMA_TEST_TLS_DIR "/") + QLatin1String(name);
}

// Bytes that differ from piece to piece, so that a piece sent twice or out of place shows.
QByteArray patterned(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 4096) % 251);
    return bytes;
}

QByteArray withLength(const QByteArray &statusLine, const QByteArray &body)
{
    return statusLine + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

using testsupport::ScriptedHttpServer;

std::unique_ptr<QTcpServer> tlsServer(const char *certificate, const char *key)
{
    QFile certificateFile(tlsFile(certificate));
    QFile keyFile(tlsFile(key));
    certificateFile.open(QIODevice::ReadOnly);
    keyFile.open(QIODevice::ReadOnly);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(&certificateFile, QSsl::Pem));
    configuration.setPrivateKey(QSslKey(&keyFile, QSsl::Ec, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(configuration);
    return server;
}

// The future's answer, with the test's event loop running meanwhile.
UploadAnswer awaitAnswer(const QFuture<UploadAnswer> &future)
{
    QEventLoop loop;
    QFutureWatcher<UploadAnswer> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit); // a bound for a failure, not a speed
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    if (!future.isFinished())
        return {std::nullopt, QNetworkReply::UnknownNetworkError, QStringLiteral("no answer in time"), {}, false};
    return future.result();
}

} // namespace

class TestUploadTransport : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QFuture<UploadAnswer> put(UploadTransport &transport, const QUrl &url, const QByteArray &bytes,
                              qint64 answerLimit = 64 * 1024)
    {
        const QString path = m_dir->filePath(QStringLiteral("a.jpg"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        file.close();
        QNetworkRequest request(url);
        request.setTransferTimeout(60000);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setRawHeader("Content-Type", "image/jpeg");
        request.setHeader(QNetworkRequest::ContentLengthHeader, bytes.size());
        return transport.put(request, UploadSource(path, bytes.size()).body(), answerLimit);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The client trusts the test's certificate the way the app trusts a store's: through the process's default.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        QVERIFY(configuration.addCaCertificates(tlsFile("trusted-cert.pem")));
        QSslConfiguration::setDefaultConfiguration(configuration);
        // The transport's TLS (libcurl with OpenSSL) trusts the file OpenSSL's variable names.
        qputenv("SSL_CERT_FILE", tlsFile("trusted-cert.pem").toLocal8Bit());
    }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { m_dir.reset(); }

    void answerFraming_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("readBody");
        QTest::addColumn<bool>("close");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("status"); // -1: none
        QTest::addColumn<QByteArray>("bodyStart");
        QTest::addColumn<bool>("cutShort");
        QTest::addColumn<int>("error");
        const QByteArray chunked = "HTTP/1.1 403 Forbidden\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nExpir\r\n"
                                   "7;note=x\r\nedToken\r\n";
        const qint64 all = 64 * 1024;
        QTest::newRow("length") << withLength("HTTP/1.1 200 OK", "<etag/>") << true << false << all << 200
                                << QByteArray("<etag/>") << false << int(QNetworkReply::NoError);
        QTest::newRow("chunked") << chunked + "0\r\nX-Trailer: 1\r\n\r\n" << true << false << all << 403
                                 << QByteArray("ExpiredToken") << false << int(QNetworkReply::ContentAccessDenied);
        QTest::newRow("chunked past the limit") << chunked << true << false << qint64(8) << 403
                                                << QByteArray("ExpiredT") << true
                                                << int(QNetworkReply::OperationCanceledError);
        QTest::newRow("to the close") << QByteArray("HTTP/1.1 200 OK\r\nServer: s\r\n\r\nall of it") << true << true
                                      << all << 200 << QByteArray("all of it") << false << int(QNetworkReply::NoError);
        QTest::newRow("to the close, past the limit")
            << "HTTP/1.1 500 Internal Server Error\r\n\r\n" + QByteArray(5000, 'e') << true << false << qint64(10)
            << 500 << QByteArray(10, 'e') << true << int(QNetworkReply::OperationCanceledError);
        QTest::newRow("continue first") << "HTTP/1.1 100 Continue\r\n\r\n" + withLength("HTTP/1.1 201 Created", "ok")
                                        << true << false << all << 201 << QByteArray("ok") << false
                                        << int(QNetworkReply::NoError);
        QTest::newRow("no content, open") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << true << false << all
                                          << 204 << QByteArray() << false << int(QNetworkReply::NoError);
        QTest::newRow("redirect not followed")
            << withLength("HTTP/1.1 307 Temporary Redirect\r\nLocation: http://127.0.0.1:1/x", {}) << true << false
            << all << 307 << QByteArray() << false << int(QNetworkReply::NoError);
        // The store refuses before it reads the body, and then reads no more: the answer is taken, the sending ends.
        QTest::newRow("answer before the body") << withLength("HTTP/1.1 403 Forbidden", "<Code>AccessDenied</Code>")
                                                << false << false << all << 403
                                                << QByteArray("<Code>AccessDenied</Code>") << false
                                                << int(QNetworkReply::ContentAccessDenied);
        QTest::newRow("closed inside the body") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")
                                                << true << true << all << 200 << QByteArray("abc") << false
                                                << int(QNetworkReply::RemoteHostClosedError);
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << true << false << all << -1
                                  << QByteArray() << false << int(QNetworkReply::ProtocolFailure);
    }
    void answerFraming()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, readBody);
        QFETCH(bool, close);
        QFETCH(qint64, limit);
        QFETCH(int, status);
        QFETCH(QByteArray, bodyStart);
        QFETCH(bool, cutShort);
        QFETCH(int, error);
        ScriptedHttpServer server({answer, readBody, close}, std::make_unique<QTcpServer>());
        UploadTransport transport;
        // Larger than what the kernel buffers on both sides hold, where the server stops reading.
        const QByteArray bytes = patterned(readBody ? 3 * 1024 * 1024 : 48 * 1024 * 1024);
        const UploadAnswer got = awaitAnswer(put(transport, server.url(QStringLiteral("http"), "/store/x"), bytes, limit));
        QCOMPARE(got.status.value_or(-1), status);
        QCOMPARE(got.bodyStart, bodyStart);
        QCOMPARE(got.cutShort, cutShort);
        QCOMPARE(int(got.error), error);
        QCOMPARE(got.errorString.isEmpty(), error == QNetworkReply::NoError);
        if (readBody)
            QCOMPARE(server.body(), bytes);
    }

    // The head as a presigned URL needs it: the target byte for byte, the port in Host, no credentials.
    void sendsTheRequestAsGiven_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("http") << QStringLiteral("http");
        QTest::newRow("https") << QStringLiteral("https");
    }
    void sendsTheRequestAsGiven()
    {
        QFETCH(QString, scheme);
        const bool secure = scheme == QLatin1String("https");
        ScriptedHttpServer server({withLength("HTTP/1.1 200 OK", {}), true, false},
                              secure ? tlsServer("trusted-cert.pem", "trusted-key.pem") : std::make_unique<QTcpServer>());
        UploadTransport transport;
        const QByteArray target = "/store/a%2Fb%20c?X-Signature=ab%2Bc%3D&x=a+b&flag";
        const QUrl url = server.url(scheme, target);
        const QByteArray bytes = patterned(3 * 1024 * 1024 + 17);
        const UploadAnswer got = awaitAnswer(put(transport, url, bytes));
        QCOMPARE(got.status.value_or(-1), 200);
        QCOMPARE(int(got.error), int(QNetworkReply::NoError));
        const QByteArrayList lines = server.head().split('\n');
        QCOMPARE(lines.first(), "PUT " + target + " HTTP/1.1\r");
        QVERIFY(lines.contains("Host: 127.0.0.1:" + QByteArray::number(url.port()) + '\r'));
        QVERIFY(lines.contains("Content-Type: image/jpeg\r"));
        QVERIFY(lines.contains("Content-Length: " + QByteArray::number(bytes.size()) + '\r'));
        QVERIFY(!server.head().toLower().contains("authorization"));
        QCOMPARE(server.body(), bytes);
    }

    // A connection that carried a whole request and its success carries the next; any doubt opens a new one.
    void keptConnections_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("connections");
        QTest::newRow("kept") << withLength("HTTP/1.1 200 OK", "ok") << false << 1;
        QTest::newRow("closed by the server after its answer") << withLength("HTTP/1.1 200 OK", "ok") << true << 2;
        QTest::newRow("answer says close") << withLength("HTTP/1.1 200 OK\r\nConnection: close", "ok") << false << 2;
        QTest::newRow("HTTP/1.0") << withLength("HTTP/1.0 200 OK", "ok") << false << 2;
        QTest::newRow("refused") << withLength("HTTP/1.1 403 Forbidden", "no") << false << 2;
    }
    void keptConnections()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, close);
        QFETCH(int, connections);
        ScriptedHttpServer server({answer, true, close}, std::make_unique<QTcpServer>());
        UploadTransport transport;
        for (int i = 0; i < 2; ++i) {
            const QByteArray bytes = patterned(1024 * 1024 + i);
            const UploadAnswer got = awaitAnswer(put(transport, server.url(QStringLiteral("http"), "/store/x"), bytes));
            QCOMPARE(got.bodyStart, answer.right(2));
            QCOMPARE(server.body(), bytes);
        }
        QCOMPARE(server.requests(), 2);
        QCOMPARE(server.connections(), connections);
    }

    void untrustedCertificateFails()
    {
        ScriptedHttpServer server({withLength("HTTP/1.1 200 OK", {}), true, false},
                              tlsServer("untrusted-cert.pem", "untrusted-key.pem"));
        UploadTransport transport;
        const UploadAnswer got = awaitAnswer(put(transport, server.url(QStringLiteral("https"), "/store/x"), "bytes"));
        QVERIFY(!got.status);
        QCOMPARE(int(got.error), int(QNetworkReply::SslHandshakeFailedError));
        QVERIFY(got.errorString.startsWith(QLatin1String("SSL handshake failed")));
        QVERIFY(server.head().isEmpty());
    }

    // Ending the transport ends what it carries: the caller hears of it, as of a cancel.
    void endingTheTransportCancels()
    {
        ScriptedHttpServer server({{}, true, false}, std::make_unique<QTcpServer>()); // never answers
        auto transport = std::make_unique<UploadTransport>();
        const QByteArray bytes = patterned(1024 * 1024);
        const QFuture<UploadAnswer> future = put(*transport, server.url(QStringLiteral("http"), "/store/x"), bytes);
        QTRY_COMPARE_WITH_TIMEOUT(server.body().size(), bytes.size(), 60000);
        transport.reset();
        const UploadAnswer got = awaitAnswer(future);
        QVERIFY(!got.status);
        QCOMPARE(int(got.error), int(QNetworkReply::OperationCanceledError));
    }

    // A transport ended right after a put, when the transfer may not have started: the file is closed either way.
    void endingTheTransportClosesItsFiles()
    {
        const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
        const QUrl nowhere(QStringLiteral("http://127.0.0.1:1/store/x")); // no connection stays open
        const QByteArray bytes = patterned(1024);
        put(*std::make_unique<UploadTransport>(), nowhere, bytes).waitForFinished(); // threads and their descriptors
        const auto before = openFiles();
        QList<QFuture<UploadAnswer>> futures;
        {
            UploadTransport transport;
            for (int i = 0; i < 4; ++i)
                futures << put(transport, nowhere, bytes);
        }
        for (const QFuture<UploadAnswer> &future : std::as_const(futures))
            QVERIFY(!awaitAnswer(future).status);
        QCOMPARE(openFiles(), before);
    }
};

QTEST_GUILESS_MAIN(TestUploadTransport)
#include "tst_uploadtransport.moc"
