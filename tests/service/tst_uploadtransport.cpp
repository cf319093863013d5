#include "service/UploadSource.h"
#include "service/UploadTransport.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/FileBytes.h"
#include "support/ScriptedHttpServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

namespace {

QString tlsFile(QByteArrayView name)
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
using Script = ScriptedHttpServer::Script;

std::unique_ptr<QTcpServer> tlsServer(const QByteArray &certificate, const QByteArray &key)
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

Q_DECLARE_METATYPE(Script)

class TestUploadTransport : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_trust;

    QString write(const QString &name, const QByteArray &bytes) const
    {
        const QString path = m_dir->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QFuture<UploadAnswer> put(UploadTransport &transport, const QUrl &url, const QByteArray &bytes,
                              qint64 answerLimit = 64 * 1024, int idleLimit = 60000,
                              const QString &name = QStringLiteral("a.jpg"))
    {
        const QString path = write(name, bytes);
        QNetworkRequest request(url);
        request.setTransferTimeout(idleLimit);
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
        // The transport's TLS (libcurl with OpenSSL) trusts the file OpenSSL's variable names: the trusted
        // certificate, and those that fail for their dates or their name alone.
        QByteArray bundle;
        for (const char *name : {"trusted-cert.pem", "expired-cert.pem", "wrong-name-cert.pem"})
            bundle += testsupport::readFile(tlsFile(name));
        const QString bundleFile = m_trust.filePath(QStringLiteral("trusted.pem"));
        QVERIFY(bundle.count("BEGIN CERTIFICATE") == 3 && testsupport::writeFile(bundleFile, bundle));
        qputenv("SSL_CERT_FILE", bundleFile.toLocal8Bit());
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
        // Every interim answer is passed over whole: its headers frame nothing of the final one.
        QTest::newRow("processing first") << "HTTP/1.1 102 Processing\r\n\r\n" + withLength("HTTP/1.1 201 Created", "ok")
                                          << true << false << all << 201 << QByteArray("ok") << false
                                          << int(QNetworkReply::NoError);
        QTest::newRow("early hints first")
            << "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n" + withLength("HTTP/1.1 200 OK", "ok")
            << true << false << all << 200 << QByteArray("ok") << false << int(QNetworkReply::NoError);
        QTest::newRow("continue with a length first")
            << QByteArray("HTTP/1.1 100 Continue\r\nContent-Length: 9\r\n\r\nHTTP/1.1 200 OK\r\nConnection: close\r\n\r\nto the end")
            << true << true << all << 200 << QByteArray("to the end") << false << int(QNetworkReply::NoError);
        QTest::newRow("continue with chunks first")
            << "HTTP/1.1 100 Continue\r\nTransfer-Encoding: chunked\r\n\r\n" + withLength("HTTP/1.1 200 OK", "ok")
            << true << false << all << 200 << QByteArray("ok") << false << int(QNetworkReply::NoError);
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
    // Nothing but these: no "Expect" to wait on, no "Accept", no agent, no credentials.
    void sendsTheRequestAsGiven_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QByteArray>("target");
        const QByteArray signedTarget = "/store/a%2Fb%20c?X-Signature=ab%2Bc%3D&x=a+b&flag";
        QTest::newRow("http") << QStringLiteral("http") << signedTarget;
        QTest::newRow("https") << QStringLiteral("https") << signedTarget;
        QTest::newRow("dot segments") << QStringLiteral("http") << QByteArray("/store/./a/../b/c?x=/../y");
    }
    void sendsTheRequestAsGiven()
    {
        QFETCH(QString, scheme);
        QFETCH(QByteArray, target);
        const bool secure = scheme == QLatin1String("https");
        ScriptedHttpServer server({withLength("HTTP/1.1 200 OK", {}), true, false},
                              secure ? tlsServer("trusted-cert.pem", "trusted-key.pem") : std::make_unique<QTcpServer>());
        UploadTransport transport;
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
        QByteArrayList names;
        for (const QByteArray &line : lines.mid(1)) {
            if (line.contains(':'))
                names << line.left(line.indexOf(':')).toLower();
        }
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (QByteArrayList{"content-length", "content-type", "host"}));
        QCOMPARE(server.body(), bytes);
    }

    // A kept connection may carry a second answer that arrives after the next body, and no check tells it from
    // the real one: each upload opens a connection of its own and takes its own answer.
    void eachUploadHasItsOwnConnection_data()
    {
        QTest::addColumn<QByteArray>("unasked"); // behind the answer
        QTest::addColumn<QByteArray>("unaskedWhileIdle");
        QTest::addColumn<bool>("secure");
        const QByteArray second = withLength("HTTP/1.1 200 OK", "no");
        QTest::newRow("plain") << QByteArray() << QByteArray() << false;
        QTest::newRow("TLS") << QByteArray() << QByteArray() << true;
        QTest::newRow("a second answer behind the first") << second << QByteArray() << false;
        QTest::newRow("a second answer while idle") << QByteArray() << second << false;
    }
    void eachUploadHasItsOwnConnection()
    {
        QFETCH(QByteArray, unasked);
        QFETCH(QByteArray, unaskedWhileIdle);
        QFETCH(bool, secure);
        ScriptedHttpServer server({withLength("HTTP/1.1 200 OK", "ok"), true, false, unasked},
                                  secure ? tlsServer("trusted-cert.pem", "trusted-key.pem")
                                         : std::make_unique<QTcpServer>());
        UploadTransport transport;
        const QString scheme = secure ? QStringLiteral("https") : QStringLiteral("http");
        for (int i = 0; i < 2; ++i) {
            const QByteArray bytes = patterned(1024 * 1024 + i);
            const UploadAnswer got = awaitAnswer(put(transport, server.url(scheme, "/store/x"), bytes));
            QCOMPARE(got.bodyStart, QByteArray("ok"));
            QCOMPARE(server.requests(), i + 1);
            QCOMPARE(server.body(), bytes);
            if (i == 0 && !unaskedWhileIdle.isEmpty())
                server.sendUnasked(unaskedWhileIdle);
        }
        QCOMPARE(server.connections(), 2);
    }

    // The app's verdict on two uploads in a row to a store that misbehaves. Stored ('+') means the store took the
    // whole file and said so after it; an answer that came before the store had the whole body answers something
    // else.
    void storedOnlyWhenTakenWholeAndAnsweredAfter_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<QByteArray>("verdicts");
        const QByteArray ok = withLength("HTTP/1.1 200 OK", {});
        const QByteArray refused = withLength("HTTP/1.1 500 Internal Server Error", {});
        const QByteArray longOk = withLength("HTTP/1.1 200 OK", QByteArray(100000, 'x'));
        // Larger than what the kernel buffers on both sides hold: the answer comes while the body still goes out.
        const qsizetype large = 24 * 1024 * 1024;
        const qsizetype small = 1024 * 1024;
        QTest::newRow("answered after the body") << Script{.answer = ok} << small << QByteArray("++");
        QTest::newRow("a long success after the body") << Script{.answer = longOk} << small << QByteArray("++");
        QTest::newRow("success and close after the head")
            << Script{.answer = withLength("HTTP/1.1 200 OK\r\nConnection: close", {}), .readBody = false,
                      .deafAfterAnswer = true}
            << large << QByteArray("--");
        QTest::newRow("a long success after the head") << Script{.answer = longOk, .readBody = false} << large
                                                       << QByteArray("--");
        QTest::newRow("success on connect, refusal after the body") << Script{.answer = refused, .greeting = ok}
                                                                    << large << QByteArray("--");
        QTest::newRow("an interim answer on connect")
            << Script{.answer = ok, .greeting = "HTTP/1.1 100 Continue\r\n\r\n"} << large << QByteArray("++");
        QTest::newRow("a stale success before the next answer")
            << Script{.answer = ok, .laterAnswer = refused, .repeatsItself = true} << small << QByteArray("+-");
        // Answered, from where the client stands, after its whole body, but the store takes what follows for more
        // of it: the next upload must not wait on that connection for an answer that never comes.
        QTest::newRow("deaf after its answer") << Script{.answer = ok, .deafAfterAnswer = true} << small
                                               << QByteArray("++");
        // Small bodies are in the client's kernel at once: only what the store acknowledged tells an early answer.
        // The store's small receive buffer, never read, keeps most of the body unacknowledged.
        const int unread = 4096;
        const int handOver = 50; // ms: the answer comes after the body is in the client's kernel (any time fails it)
        const qsizetype kib300 = 300 * 1024;
        const auto early = [&](const QByteArray &answer, bool close = false, const QByteArray &greeting = {}) {
            return Script{.answer = answer, .readBody = false, .close = close, .greeting = greeting,
                          .receiveBuffer = unread, .answerDelay = handOver};
        };
        const QByteArray okThenClose = withLength("HTTP/1.1 200 OK\r\nConnection: close", {});
        QTest::newRow("success and close after the head, 300 KiB") << early(okThenClose, true) << kib300
                                                                   << QByteArray("--");
        QTest::newRow("success and close after the head, 1 MiB") << early(okThenClose, true) << small
                                                                 << QByteArray("--");
        QTest::newRow("continue and success in one write after the head, 1 MiB")
            << early("HTTP/1.1 100 Continue\r\n\r\n" + ok) << small << QByteArray("--");
        QTest::newRow("a long success after the head, 300 KiB") << early(longOk) << kib300 << QByteArray("--");
        QTest::newRow("success on connect, 300 KiB") << early({}, false, ok) << kib300 << QByteArray("--");
    }
    void storedOnlyWhenTakenWholeAndAnsweredAfter()
    {
        QFETCH(Script, script);
        QFETCH(qsizetype, size);
        QFETCH(QByteArray, verdicts);
        ScriptedHttpServer server(script);
        VarnostimaAPI api;
        api.setTimeouts({5s, 5s, 5s}); // only a fault waits this long
        QByteArray got;
        for (int i = 0; i < verdicts.size(); ++i) {
            const QByteArray bytes = patterned(size + i);
            const QString path = write(QStringLiteral("%1.jpg").arg(i), bytes);
            const std::exception_ptr failure = testsupport::awaitFailure(api.uploadToPresignedURL(
                server.url(QStringLiteral("http"), "/store/x").toString(), path, QStringLiteral("image/jpeg")));
            got += failure ? '-' : '+';
            if (!failure)
                QCOMPARE(server.body(), bytes);
        }
        QCOMPARE(got, verdicts);
    }

    // An answer that goes on without end (a store trickling header lines, body chunks or interim answers) keeps
    // bytes flowing past the idle limit: the whole answer has the same limit once it has begun.
    void endlessAnswersEnd_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("trickle");
        QTest::newRow("header lines") << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("X-Wait: 1\r\n");
        QTest::newRow("body chunks") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                                     << QByteArray("1\r\nx\r\n");
        QTest::newRow("interim answers") << QByteArray() << QByteArray("HTTP/1.1 102 Processing\r\n\r\n");
    }
    void endlessAnswersEnd()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, trickle);
        ScriptedHttpServer server({answer, true, false, {}, trickle}, std::make_unique<QTcpServer>());
        UploadTransport transport;
        const QByteArray bytes = patterned(64 * 1024);
        const UploadAnswer got =
            awaitAnswer(put(transport, server.url(QStringLiteral("http"), "/store/x"), bytes, 1024 * 1024, 1500));
        QCOMPARE(int(got.error), int(QNetworkReply::OperationCanceledError));
        QVERIFY(!got.cutShort);
        QCOMPARE(server.body(), bytes);
    }

    // Stores that stop reading or never answer: each upload ends at its idle limit, counted from the last byte that
    // moved, several at a time. The bound leaves a whole limit for a slow machine; only counting from a later look
    // at the bytes sent reaches two limits.
    void stalledUploadsEnd_data()
    {
        QTest::addColumn<bool>("readBody");
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("store stops reading") << false << qsizetype(32 * 1024 * 1024);
        QTest::newRow("store never answers") << true << qsizetype(64 * 1024);
    }
    void stalledUploadsEnd()
    {
        QFETCH(bool, readBody);
        QFETCH(qsizetype, size);
        ScriptedHttpServer server({{}, readBody, false});
        UploadTransport transport;
        const QByteArray bytes = patterned(size);
        const int limit = 3000;
        QElapsedTimer elapsed;
        elapsed.start();
        QList<QFuture<UploadAnswer>> futures;
        for (int i = 0; i < 4; ++i)
            futures << put(transport, server.url(QStringLiteral("http"), "/store/x"), bytes, 1024, limit,
                           QStringLiteral("%1.jpg").arg(i));
        for (const QFuture<UploadAnswer> &future : std::as_const(futures)) {
            const UploadAnswer got = awaitAnswer(future);
            QVERIFY(!got.status);
            QCOMPARE(int(got.error), int(QNetworkReply::OperationCanceledError));
        }
        QCOMPARE_LT(elapsed.elapsed(), 2 * limit);
        QCOMPARE(server.connections(), 4);
    }

    // On a slow link the end of a body drains from the kernel long after curl handed it over: what the store
    // acknowledges is progress too. A store that takes nothing more still ends at the limit.
    void slowStoresFinishStalledOnesEnd_data()
    {
        QTest::addColumn<int>("readPace"); // bytes every 100 ms
        QTest::addColumn<int>("status");   // -1: none
        QTest::addColumn<int>("error");
        QTest::newRow("store reads 256 KiB/s") << 26 * 1024 << 200 << int(QNetworkReply::NoError);
        QTest::newRow("store stops reading") << 0 << -1 << int(QNetworkReply::OperationCanceledError);
    }
    void slowStoresFinishStalledOnesEnd()
    {
        QFETCH(int, readPace);
        QFETCH(int, status);
        QFETCH(int, error);
        ScriptedHttpServer server({.answer = readPace > 0 ? withLength("HTTP/1.1 200 OK", {}) : QByteArray(),
                                   .readBody = readPace > 0,
                                   .receiveBuffer = 4096, .readPace = readPace});
        UploadTransport transport;
        // Mostly in the client's kernel at once, then 4 s to drain at 256 KiB/s.
        const QByteArray bytes = patterned(1024 * 1024);
        const UploadAnswer got =
            awaitAnswer(put(transport, server.url(QStringLiteral("http"), "/store/x"), bytes, 1024, 2500));
        QCOMPARE(got.status.value_or(-1), status);
        QCOMPARE(int(got.error), error);
        if (status == 200)
            QCOMPARE(server.body(), bytes);
    }

    // A connection closed before any answer costs one resend, whole and from the start, and no more.
    void closedUnansweredIsSentOnceMore()
    {
        ScriptedHttpServer server({{}, true, true}, std::make_unique<QTcpServer>());
        UploadTransport transport;
        const QByteArray bytes = patterned(1024 * 1024);
        const UploadAnswer got = awaitAnswer(put(transport, server.url(QStringLiteral("http"), "/store/x"), bytes));
        QVERIFY(!got.status);
        QCOMPARE(int(got.error), int(QNetworkReply::RemoteHostClosedError));
        QCOMPARE(server.requests(), 2);
        QCOMPARE(server.body(), bytes);
    }

    // Callers tell "offline" from "failed" by these codes, as they did with Qt's client.
    void connectionFailuresKeepTheirCodes_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("error");
        QTest::newRow("refused") << QUrl(QStringLiteral("http://127.0.0.1:1/store/x"))
                                 << int(QNetworkReply::ConnectionRefusedError);
        QTest::newRow("no such host") << QUrl(QStringLiteral("http://no-such-host.invalid/store/x"))
                                      << int(QNetworkReply::HostNotFoundError);
    }
    void connectionFailuresKeepTheirCodes()
    {
        QFETCH(QUrl, url);
        QFETCH(int, error);
        UploadTransport transport;
        const UploadAnswer got = awaitAnswer(put(transport, url, patterned(1024)));
        QVERIFY(!got.status);
        QCOMPARE(int(got.error), error);
        QVERIFY(!got.errorString.isEmpty());
    }

    // Each new connection resumes the session of an earlier one where it can; no check is left out for that.
    void refusedCertificatesFail_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("untrusted") << QByteArray("untrusted");
        QTest::newRow("expired") << QByteArray("expired");
        QTest::newRow("wrong name") << QByteArray("wrong-name");
    }
    void refusedCertificatesFail()
    {
        QFETCH(QByteArray, name);
        ScriptedHttpServer server({withLength("HTTP/1.1 200 OK", {}), true, false},
                                  tlsServer(name + "-cert.pem", name + "-key.pem"));
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
