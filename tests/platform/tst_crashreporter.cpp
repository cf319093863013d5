// Crash reports: a child process dies of a fatal signal and leaves a report; the next start sends it to a local
// collector and deletes it once accepted.

#include "platform/CrashHandler.h"
#include "platform/CrashReportDsn.h"
#include "platform/CrashReportSender.h"

#include "support/AwaitTask.h"
#include "support/StandInService.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// The stand-in service as the collector: every report it receives is answered with `status`.
std::unique_ptr<testsupport::StandInService> collector(int status)
{
    auto service = std::make_unique<testsupport::StandInService>();
    testsupport::ScriptedAnswer answer;
    answer.status = status;
    answer.body = "{}";
    service->script("POST", "/api/*", answer, -1);
    return service;
}

QStringList reports(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files);
}

// Runs the crashing child and returns the signal it died of.
int crashChild(const QString &folder, const QString &how)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral(HELPER_PATH), {folder, how});
    if (!QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 20000))
        return -1;
    return child.exitStatus() == QProcess::CrashExit ? child.exitCode() : 0;
}

} // namespace

class TestCrashReporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesDsn_data()
    {
        QTest::addColumn<QString>("dsn");
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<QString>("key");
        QTest::newRow("https with path and port") << QStringLiteral("https://k@crash.example.no:8443/relay/7")
                                                  << QStringLiteral("https://crash.example.no:8443/relay/api/7/envelope/")
                                                  << QStringLiteral("k");
        QTest::newRow("http on loopback") << QStringLiteral("http://k@127.0.0.1:9000/42")
                                          << QStringLiteral("http://127.0.0.1:9000/api/42/envelope/")
                                          << QStringLiteral("k");
        QTest::newRow("http elsewhere") << QStringLiteral("http://k@crash.example.com/42") << QString() << QString();
        QTest::newRow("no key") << QStringLiteral("https://crash.example.com/42") << QString() << QString();
        QTest::newRow("not a URL") << QStringLiteral("just text") << QString() << QString();
    }
    void parsesDsn()
    {
        QFETCH(QString, dsn);
        QFETCH(QString, endpoint);
        QFETCH(QString, key);
        const auto parsed = CrashReportDsn::parse(dsn);
        QCOMPARE(parsed.has_value(), !endpoint.isEmpty());
        if (parsed) {
            QCOMPARE(parsed->envelopeUrl.toString(), endpoint);
            QCOMPARE(parsed->publicKey, key);
        }
    }

    // The child still dies of its signal, so the desktop sees the crash as before; its report waits in the folder
    // until the next start sends it, and is deleted once accepted or refused for good.
    void crashIsReportedOnNextStart_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("sendDefaultPii");
        QTest::addColumn<bool>("kept");
        QTest::newRow("segmentation fault, accepted") << "segv" << SIGSEGV << 200 << true << false;
        QTest::newRow("abort, server error") << "abort" << SIGABRT << 503 << true << true;
        QTest::newRow("refused for good, no personal data") << "segv" << SIGSEGV << 400 << false << false;
    }
    void crashIsReportedOnNextStart()
    {
        QFETCH(QString, how);
        QFETCH(int, signal);
        QFETCH(int, status);
        QFETCH(bool, sendDefaultPii);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/Crash Reports");
        QCOMPARE(crashChild(folder, how), signal);

        const QStringList files = reports(folder);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.constFirst().startsWith(QStringLiteral("crash-")) && files.constFirst().endsWith(QStringLiteral(".report")));
        QFile file(folder + QLatin1Char('/') + files.constFirst());
        QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray report = file.readAll();
        QVERIFY(report.startsWith("varnostima-crash 1\n"));
        for (const QByteArray &line : {"\nsignal " + QByteArray::number(signal) + '\n', QByteArray("\nrelease 9.8.7\n"),
                                       QByteArray("\nframe 0x"), QByteArray("crash_helper\n")})
            QVERIFY2(report.contains(line), line.constData());

        const auto service = collector(status);
        const QString dsn = QStringLiteral("http://pubkey@127.0.0.1:%1/42").arg(service->port());
        CrashReportSender sender(*CrashReportDsn::parse(dsn), folder, sendDefaultPii);
        QCOMPARE(testsupport::awaitTask(sender.sendPending()), status == 200 ? 1 : 0);
        QCOMPARE(reports(folder).size(), kept ? 1 : 0);

        const auto requests = service->requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().path, QByteArray("/api/42/envelope/"));
        QVERIFY(requests.first().header("X-Sentry-Auth").contains("sentry_key=pubkey"));

        const QList<QByteArray> lines = requests.first().body.split('\n');
        QVERIFY(lines.size() >= 3);
        const auto object = [&lines](int i) { return QJsonDocument::fromJson(lines.at(i)).object(); };
        const QJsonObject header = object(0), item = object(1), event = object(2);
        QCOMPARE(header.value(QStringLiteral("dsn")).toString(), dsn);
        QCOMPARE(header.value(QStringLiteral("event_id")), event.value(QStringLiteral("event_id")));
        QCOMPARE(item.value(QStringLiteral("type")).toString(), QStringLiteral("event"));
        QCOMPARE(item.value(QStringLiteral("length")).toInt(), lines.at(2).size());
        QCOMPARE(event.value(QStringLiteral("level")).toString(), QStringLiteral("fatal"));
        QCOMPARE(event.value(QStringLiteral("release")).toString(), QStringLiteral("varnostima@9.8.7"));
        const QJsonObject exception =
            event.value(QStringLiteral("exception")).toObject().value(QStringLiteral("values")).toArray().at(0).toObject();
        QCOMPARE(exception.value(QStringLiteral("type")).toString(), QLatin1String(signal == SIGSEGV ? "SIGSEGV" : "SIGABRT"));
        QVERIFY(!exception.value(QStringLiteral("stacktrace")).toObject().value(QStringLiteral("frames")).toArray().isEmpty());
        QVERIFY(!event.value(QStringLiteral("debug_meta")).toObject().value(QStringLiteral("images")).toArray().isEmpty());
        QCOMPARE(event.contains(QStringLiteral("user")), sendDefaultPii);
    }

    void unreadableReportIsDiscarded()
    {
        QTemporaryDir dir;
        QFile garbage(dir.path() + QStringLiteral("/crash-1-1.report"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a report\n");
        garbage.close();
        const auto service = collector(200);
        CrashReportSender sender(*CrashReportDsn::parse(QStringLiteral("http://k@127.0.0.1:%1/1").arg(service->port())),
                                 dir.path(), false);
        QCOMPARE(testsupport::awaitTask(sender.sendPending()), 0);
        QVERIFY(reports(dir.path()).isEmpty());
        QVERIFY(service->requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashReporter)
#include "tst_crashreporter.moc"
