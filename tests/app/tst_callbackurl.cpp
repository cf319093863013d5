// Sign-in callback URLs: only the application's own scheme, spelled exactly, reaches the account manager.

#include "app/CallbackUrlHandler.h"

#include "support/LogCapture.h"

#include <QSignalSpy>
#include <QTest>

class TestCallbackUrl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void passesOnOwnScheme_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("passed");
        QTest::addColumn<QString>("logLine");
        const QString received = QStringLiteral("Received URL callback");
        QTest::newRow("own scheme") << QStringLiteral("varnostima://auth/callback?token=abc123") << true << received;
        QTest::newRow("scheme in capitals") << QStringLiteral("VARNOSTIMA://auth?token=abc") << false << received;
        QTest::newRow("web address") << QStringLiteral("https://varnostima.example/?token=abc") << false << received;
        QTest::newRow("similar scheme") << QStringLiteral("varnostimax://auth?token=abc") << false << received;
        QTest::newRow("unparsable") << QStringLiteral("varnostima://auth?token=a b") << false
                                    << QStringLiteral("Failed to parse URL from Apple Event");
    }
    void passesOnOwnScheme()
    {
        QFETCH(QString, text);
        QFETCH(bool, passed);
        QFETCH(QString, logLine);
        CallbackUrlHandler handler;
        QSignalSpy callbacks(&handler, &CallbackUrlHandler::callbackURLReceived);
        testsupport::LogCapture log;

        // Options on the command line are not URLs.
        handler.handleArguments({QStringLiteral("--verbose"), text});

        QCOMPARE(callbacks.size(), passed ? 1 : 0);
        if (passed)
            QCOMPARE(callbacks.constFirst().constFirst().toUrl(), QUrl(text));
        QCOMPARE(log.lines(QStringLiteral("no.varnostima.mac.AppDelegate")).size(), 1);
        QVERIFY(log.contains(QStringLiteral("no.varnostima.mac.AppDelegate"), logLine));
    }
};

QTEST_GUILESS_MAIN(TestCallbackUrl)
#include "tst_callbackurl.moc"
