// What the app starts for the user gets the user's own environment back, where a run (the trial) gave the app
// data and runtime folders of its own: otherwise a browser started from the app finds neither the user's browser
// entries nor, following a sign-in, the handler of the app's own links.

#include "platform/NotificationSettings.h"
#include "platform/UrlOpener.h"
#include "platform/UserDesktop.h"

#include "support/FileBytes.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

QProcessEnvironment environmentOf(const QStringList &variables)
{
    QProcessEnvironment environment;
    for (const QString &variable : variables) {
        const qsizetype equals = variable.indexOf(QLatin1Char('='));
        environment.insert(variable.left(equals), variable.mid(equals + 1));
    }
    return environment;
}

QStringList sorted(QStringList variables)
{
    variables.sort();
    return variables;
}

} // namespace

class TestUserDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void givesBackWhatTheRunSetForTheAppAlone_data()
    {
        QTest::addColumn<QStringList>("own");
        QTest::addColumn<QStringList>("user");
        const QString names = QStringLiteral("VARNOSTIMA_USER_ENV=XDG_DATA_HOME XDG_RUNTIME_DIR");
        QTest::newRow("an app run as the user runs it") << QStringList{"HOME=/h", "XDG_DATA_HOME=/h/data"}
                                                        << QStringList{"HOME=/h", "XDG_DATA_HOME=/h/data"};
        QTest::newRow("set before, and unset before")
            << QStringList{"HOME=/h", "XDG_DATA_HOME=/trial/data", "XDG_RUNTIME_DIR=/trial/run", names,
                           "VARNOSTIMA_USER_XDG_DATA_HOME=/h/share"}
            << QStringList{"HOME=/h", "XDG_DATA_HOME=/h/share"};
        QTest::newRow("both set before")
            << QStringList{"XDG_DATA_HOME=/trial/data", "XDG_RUNTIME_DIR=/trial/run", names,
                           "VARNOSTIMA_USER_XDG_DATA_HOME=/h/share", "VARNOSTIMA_USER_XDG_RUNTIME_DIR=/run/user/1000"}
            << QStringList{"XDG_DATA_HOME=/h/share", "XDG_RUNTIME_DIR=/run/user/1000"};
        QTest::newRow("empty before stays empty")
            << QStringList{"XDG_DATA_HOME=/trial/data", "VARNOSTIMA_USER_ENV=XDG_DATA_HOME", "VARNOSTIMA_USER_XDG_DATA_HOME="}
            << QStringList{"XDG_DATA_HOME="};
        QTest::newRow("names among extra spaces")
            << QStringList{"XDG_DATA_HOME=/trial/data", "XDG_RUNTIME_DIR=/trial/run",
                           "VARNOSTIMA_USER_ENV=  XDG_RUNTIME_DIR   XDG_DATA_HOME ", "VARNOSTIMA_USER_XDG_RUNTIME_DIR=/r"}
            << QStringList{"XDG_RUNTIME_DIR=/r"};
        QTest::newRow("a value whose name is not listed")
            << QStringList{"XDG_DATA_HOME=/trial/data", "VARNOSTIMA_USER_XDG_DATA_HOME=/h/share"}
            << QStringList{"XDG_DATA_HOME=/trial/data"};
        QTest::newRow("what is no variable name")
            << QStringList{"PATH=/bin", "XDG_DATA_HOME=/trial/data",
                           "VARNOSTIMA_USER_ENV=PATH=/tmp 1X VARNOSTIMA_USER_ENV VARNOSTIMA_USER_X",
                           "VARNOSTIMA_USER_X=/x"}
            << QStringList{"PATH=/bin", "XDG_DATA_HOME=/trial/data"};
    }
    void givesBackWhatTheRunSetForTheAppAlone()
    {
        QFETCH(QStringList, own);
        QFETCH(QStringList, user);
        QCOMPARE(sorted(userDesktopEnvironment(environmentOf(own)).toStringList()), sorted(user));
    }

    // Each road on which the app starts something for the user, with a program in place of xdg-open (or of the
    // desktop's settings) that writes down what it was started with.
    void whatTheAppStartsRunsInTheUsersEnvironment_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("url");
        QTest::newRow("sign-in page") << QStringLiteral("sign-in") << QStringLiteral("http://127.0.0.1:9/auth/device-login");
        QTest::newRow("gallery page") << QStringLiteral("web") << QStringLiteral("https://example.test/g/1");
        QTest::newRow("folder in the file manager") << QStringLiteral("desktop") << QStringLiteral("file:///srv/Eksport");
        QTest::newRow("notification settings") << QStringLiteral("command") << QStringLiteral("notifications");
    }
    void whatTheAppStartsRunsInTheUsersEnvironment()
    {
        QFETCH(QString, road);
        QFETCH(QString, url);
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        const QString record = bin.filePath(QStringLiteral("record"));
        const QString program = bin.filePath(QStringLiteral("xdg-open"));
        QVERIFY(testsupport::writeFile(
            program, QStringLiteral("#!/bin/sh\n{ echo \"$1\"; echo \"data ${XDG_DATA_HOME-unset}\"; "
                                    "echo \"runtime ${XDG_RUNTIME_DIR-unset}\"; env | grep -c '^VARNOSTIMA_'; } > '%1.tmp'\n"
                                    "mv '%1.tmp' '%1'\n")
                         .arg(record)
                         .toUtf8()));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        // As the trial starts the app: its own data and runtime folders, the user's from before beside them.
        const QByteArray path = qgetenv("PATH");
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("PATH", bin.path().toUtf8() + ':' + path);
        qputenv("XDG_DATA_HOME", "/trial/data");
        qputenv("XDG_RUNTIME_DIR", "/trial/run");
        qputenv("VARNOSTIMA_USER_ENV", "XDG_DATA_HOME XDG_RUNTIME_DIR");
        qputenv("VARNOSTIMA_USER_XDG_DATA_HOME", "/home/fotograf/.local/share");
        DesktopUrlOpener browser;
        bool started = true;
        int failures = 0;
        if (road == QLatin1String("sign-in"))
            browser.openUrl(QUrl(url), [&failures] { ++failures; });
        else if (road == QLatin1String("web"))
            started = browser.openUrl(QUrl(url));
        else if (road == QLatin1String("desktop"))
            started = openInUserDesktop(QUrl(url));
        else
            started = startDetached(DesktopCommand{program, {url}});
        qputenv("PATH", path);
        qputenv("XDG_RUNTIME_DIR", runtime);
        for (const char *name : {"XDG_DATA_HOME", "VARNOSTIMA_USER_ENV", "VARNOSTIMA_USER_XDG_DATA_HOME"})
            qunsetenv(name);

        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 20000);
        QCOMPARE(QString::fromUtf8(testsupport::readFile(record)).split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{url, QStringLiteral("data /home/fotograf/.local/share"), QStringLiteral("runtime unset"),
                              QStringLiteral("0")}));
        QCOMPARE(failures, 0);
    }
};

QTEST_GUILESS_MAIN(TestUserDesktop)
#include "tst_userdesktop.moc"
