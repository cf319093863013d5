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
        QTest::addColumn<bool>("received");
        QTest::addColumn<bool>("parseError");
        QTest::newRow("own scheme") << QStringLiteral("varnostima://auth/callback?token=abc123") << true << true << false;
        QTest::newRow("own scheme without token") << QStringLiteral("varnostima://auth") << true << true << false;
        QTest::newRow("scheme in capitals") << QStringLiteral("VARNOSTIMA://auth?token=abc") << false << true << false;
        QTest::newRow("mixed case") << QStringLiteral("Varnostima://auth?token=abc") << false << true << false;
        QTest::newRow("web address") << QStringLiteral("https://varnostima.example/?token=abc") << false << true << false;
        QTest::newRow("no scheme") << QStringLiteral("auth?token=abc") << false << true << false;
        QTest::newRow("similar scheme") << QStringLiteral("varnostimax://auth?token=abc") << false << true << false;
        QTest::newRow("empty") << QString() << false << false << true;
        QTest::newRow("unparsable") << QStringLiteral("varnostima://auth?token=a b") << false << false << true;
    }
    void passesOnOwnScheme()
    {
        QFETCH(QString, text);
        QFETCH(bool, passed);
        QFETCH(bool, received);
        QFETCH(bool, parseError);
        CallbackUrlHandler handler;
        QSignalSpy callbacks(&handler, &CallbackUrlHandler::callbackURLReceived);
        testsupport::LogCapture log;

        handler.handleURLEvent(text);

        QCOMPARE(callbacks.size(), passed ? 1 : 0);
        if (passed)
            QCOMPARE(callbacks.constFirst().constFirst().toUrl(), QUrl(text));
        const QString category = QStringLiteral("no.varnostima.mac.AppDelegate");
        QCOMPARE(log.contains(category, QStringLiteral("Received URL callback")), received);
        QCOMPARE(log.contains(category, QStringLiteral("Failed to parse URL from Apple Event")), parseError);
    }

    void argumentsSkipOptions()
    {
        CallbackUrlHandler handler;
        QSignalSpy callbacks(&handler, &CallbackUrlHandler::callbackURLReceived);
        handler.handleArguments({QStringLiteral("--verbose"), QStringLiteral("varnostima://auth?token=t")});
        QCOMPARE(callbacks.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCallbackUrl)
#include "tst_callbackurl.moc"
