// Crash reporting starts only with a usable DSN; without one it only logs.

#include "app/CrashReporting.h"
#include "platform/CrashHandler.h"

#include "support/LogCapture.h"

#include <QTemporaryDir>
#include <QTest>

class TestCrashReporting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { CrashHandler::uninstall(); }

    void startsOnlyWithUsableDsn_data()
    {
        QTest::addColumn<QString>("dsn");
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("no DSN") << QString() << false << QStringLiteral("Crash reporting is off: no DSN in this build");
        QTest::newRow("https") << QStringLiteral("https://key@crash.example.com/3") << true
                               << QStringLiteral("Crash handler installed");
    }
    void startsOnlyWithUsableDsn()
    {
        QFETCH(QString, dsn);
        QFETCH(bool, started);
        QFETCH(QString, logLine);
        QTemporaryDir dir;
        testsupport::LogCapture log;

        // An empty folder: nothing is sent, so no request leaves the machine.
        const auto sender = CrashReporting::start(dsn, true, dir.path() + QStringLiteral("/Crash Reports"));

        QCOMPARE(bool(sender), started);
        QCOMPARE(CrashHandler::isInstalled(), started);
        QVERIFY2(log.contains(QString(), logLine), qPrintable(logLine));
    }
};

QTEST_GUILESS_MAIN(TestCrashReporting)
#include "tst_crashreporting.moc"
