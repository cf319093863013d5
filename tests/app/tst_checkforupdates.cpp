// The update command follows its updater; the download-page updater opens only a configured web page.

#include "app/CheckForUpdatesViewModel.h"
#include "platform/Updater.h"
#include "platform/UrlOpener.h"

#include <QSignalSpy>
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
        QCOMPARE(command.text(), QStringLiteral("Se etter oppdateringer…"));
        // Until the first observation reaches the UI thread the command stays off.
        QVERIFY(!command.viewModel().canCheckForUpdates());
        QVERIFY(!command.isEnabled());

        QTRY_VERIFY(command.isEnabled());
        QVERIFY(command.viewModel().canCheckForUpdates());

        updater.setCanCheckForUpdates(false);
        QTRY_VERIFY(!command.isEnabled());
        updater.setCanCheckForUpdates(true);
        QTRY_VERIFY(command.isEnabled());

        command.trigger();
        QCOMPARE(updater.checks, 1);
    }

    void observationEndsWithModel()
    {
        FakeUpdater updater;
        auto *model = new CheckForUpdatesViewModel(updater);
        updater.setCanCheckForUpdates(true);
        // Deliveries already queued for the model, and later changes, must not reach it once it is gone.
        delete model;
        QCoreApplication::sendPostedEvents();
        updater.setCanCheckForUpdates(false);
        QCoreApplication::sendPostedEvents();
    }

    void downloadPageUpdater_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("canCheck");
        QTest::newRow("https page") << QStringLiteral("https://varnostima.example/last-ned") << true;
        QTest::newRow("http page") << QStringLiteral("http://varnostima.example/last-ned") << true;
        QTest::newRow("none in this build") << QString() << false;
        QTest::newRow("not a web page") << QStringLiteral("file:///tmp/update.sh") << false;
        QTest::newRow("custom scheme") << QStringLiteral("varnostima://update") << false;
    }
    void downloadPageUpdater()
    {
        QFETCH(QString, page);
        QFETCH(bool, canCheck);
        RecordingUrlOpener opener;
        DownloadPageUpdater updater(QUrl(page), opener);
        QCOMPARE(updater.canCheckForUpdates(), canCheck);

        updater.checkForUpdates();

        const QList<QUrl> expected = canCheck ? QList<QUrl>{QUrl(page)} : QList<QUrl>{};
        QCOMPARE(opener.opened, expected);
    }
};

QTEST_MAIN(TestCheckForUpdates)
#include "tst_checkforupdates.moc"
