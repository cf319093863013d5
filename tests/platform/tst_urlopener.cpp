// The desktop's opener reports a page that no browser took, which xdg-open tells only by its exit status.

#include "platform/UrlOpener.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUrlOpener : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsWhatNoBrowserTook_data()
    {
        QTest::addColumn<QString>("opener"); // the script standing in for xdg-open; empty: none on PATH
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("fails");
        QTest::newRow("a browser took it") << QStringLiteral("exit 0") << QStringLiteral("https://example.test/a") << false;
        QTest::newRow("no browser") << QStringLiteral("exit 3") << QStringLiteral("https://example.test/a") << true;
        QTest::newRow("opener killed") << QStringLiteral("kill -9 $$") << QStringLiteral("https://example.test/a") << true;
        QTest::newRow("not a web address") << QStringLiteral("exit 0") << QStringLiteral("file:///etc/passwd") << true;
    }
    void reportsWhatNoBrowserTook()
    {
        QFETCH(QString, opener);
        QFETCH(QString, url);
        QFETCH(bool, fails);
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        const QString log = bin.filePath(QStringLiteral("opened"));
        QFile script(bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$1\" > '%1'\n%2\n").arg(log, opener).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + path);

        DesktopUrlOpener desktop;
        int failures = 0;
        desktop.openUrl(QUrl(url), [&failures] { ++failures; });
        qputenv("PATH", path);

        if (fails) {
            QTRY_COMPARE_WITH_TIMEOUT(failures, 1, 20000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 20000);
            QTest::qWait(200); // a late report would show here; nothing is timed on it
            QCOMPARE(failures, 0);
        }
        if (url.startsWith(QLatin1String("https:"))) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 20000);
            QFile opened(log);
            QVERIFY(opened.open(QIODevice::ReadOnly));
            QCOMPARE(opened.readAll().trimmed(), url.toUtf8());
        } else {
            QVERIFY(!QFile::exists(log)); // never handed to the desktop
        }
    }
};

QTEST_GUILESS_MAIN(TestUrlOpener)
#include "tst_urlopener.moc"
