// Crash reports: a child process dies of a fatal signal and leaves a report; the next start sends it to a local
// collector and deletes it once accepted.

#include "platform/CrashHandler.h"
#include "platform/CrashReportDsn.h"
#include "platform/CrashReportSender.h"

#include "support/AwaitTask.h"

#include <httplib.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <mutex>
#include <thread>

namespace {

// An envelope endpoint on 127.0.0.1 that answers every report with a fixed status.
class Collector
{
public:
    explicit Collector(int status) : m_status(status)
    {
        m_server.Post(R"(/api/(\d+)/envelope/)", [this](const httplib::Request &request, httplib::Response &response) {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            response.status = m_status;
            response.set_content("{}", "application/json");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            qFatal("cannot bind the collector");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~Collector()
    {
        m_server.stop();
        m_thread.join();
    }
    int port() const { return m_port; }
    std::vector<httplib::Request> requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    httplib::Server m_server;
    int m_status;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<httplib::Request> m_requests;
};

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
        QTest::newRow("https") << QStringLiteral("https://abc123@o1.ingest.example.com/4501")
                               << QStringLiteral("https://o1.ingest.example.com/api/4501/envelope/")
                               << QStringLiteral("abc123");
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

        Collector collector(status);
        const QString dsn = QStringLiteral("http://pubkey@127.0.0.1:%1/42").arg(collector.port());
        CrashReportSender sender(*CrashReportDsn::parse(dsn), folder, sendDefaultPii);
        QCOMPARE(testsupport::awaitTask(sender.sendPending()), status == 200 ? 1 : 0);
        QCOMPARE(reports(folder).size(), kept ? 1 : 0);

        const auto requests = collector.requests();
        QCOMPARE(requests.size(), size_t(1));
        const httplib::Request &request = requests.front();
        QCOMPARE(request.path, std::string("/api/42/envelope/"));
        QVERIFY(request.get_header_value("X-Sentry-Auth").find("sentry_key=pubkey") != std::string::npos);

        const QList<QByteArray> lines = QByteArray::fromStdString(request.body).split('\n');
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
        Collector collector(200);
        CrashReportSender sender(*CrashReportDsn::parse(QStringLiteral("http://k@127.0.0.1:%1/1").arg(collector.port())),
                                 dir.path(), false);
        QCOMPARE(testsupport::awaitTask(sender.sendPending()), 0);
        QVERIFY(reports(dir.path()).isEmpty());
        QVERIFY(collector.requests().empty());
    }
};

QTEST_GUILESS_MAIN(TestCrashReporter)
#include "tst_crashreporter.moc"
