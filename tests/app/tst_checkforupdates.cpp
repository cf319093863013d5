// The update command follows its updater; the download-page updater opens only a configured web page.

#include "app/CheckForUpdatesViewModel.h"
#include "platform/Updater.h"
#include "platform/UrlOpener.h"

#include <QTest>

class TestCheckForUpdates : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandFollowsUpdater()
    {
        FakeUpdater updater;
        updater.setCanCheckForUpdates(true);
        CheckForUpdatesView command(updater);
        // Until the first observation reaches the UI thread the command stays off.
        QVERIFY(!command.isEnabled());
        QTRY_VERIFY(command.isEnabled());

        updater.setCanCheckForUpdates(false);
        QTRY_VERIFY(!command.isEnabled());
        updater.setCanCheckForUpdates(true);
        QTRY_VERIFY(command.isEnabled());

        command.trigger();
        QCOMPARE(updater.checks, 1);
    }

    void downloadPageUpdater_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("canCheck");
        QTest::newRow("https page") << QStringLiteral("https://varnostima.example/last-ned") << true;
        // A default build has a page, so the menu item and the about link work.
        QTest::newRow("default build") << DownloadPageUpdater::defaultDownloadPage().toString() << true;
        QTest::newRow("none in this build") << QString() << false;
        QTest::newRow("not a web page") << QStringLiteral("file:///tmp/update.sh") << false;
    }
    void downloadPageUpdater()
    {
        QFETCH(QString, page);
        QFETCH(bool, canCheck);
        RecordingUrlOpener opener;
        DownloadPageUpdater updater(QUrl(page), opener);
        QCOMPARE(updater.canCheckForUpdates(), canCheck);

        updater.checkForUpdates();

        QCOMPARE(opener.opened, canCheck ? QList<QUrl>{QUrl(page)} : QList<QUrl>{});
    }
};

QTEST_MAIN(TestCheckForUpdates)
#include "tst_checkforupdates.moc"
