// A sign-in callback's token does not stay readable in the process's arguments.

#include "platform/ProcessArguments.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <vector>

class TestProcessArguments : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scrubsQueryAndFragmentOfOwnURLs_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("callback") << QByteArray("varnostima://auth?token=secret") << QByteArray("varnostima://auth");
        QTest::newRow("scheme in capitals, fragment") << QByteArray("VARNOSTIMA:auth#token=s") << QByteArray("VARNOSTIMA:auth");
        QTest::newRow("nothing to hide") << QByteArray("varnostima://auth") << QByteArray("varnostima://auth");
        QTest::newRow("another scheme") << QByteArray("https://x/?token=s") << QByteArray("https://x/?token=s");
        QTest::newRow("scheme as a prefix only") << QByteArray("varnostimax:a?b") << QByteArray("varnostimax:a?b");
    }
    void scrubsQueryAndFragmentOfOwnURLs()
    {
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, after);
        QByteArray program("varnostima");
        std::vector<char *> argv{program.data(), argument.data(), nullptr};
        QCOMPARE(scrubUrlArguments(2, argv.data(), "varnostima"), after != argument ? 1 : 0);
        QCOMPARE(QByteArray(argv[1]), after);
    }

    // What other users see: the process's command line as the kernel shows it.
    void tokenGoneFromTheCommandLine()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--scrub-child"), QStringLiteral("varnostima://auth?token=secret-123")});
        QVERIFY(child.waitForFinished(20000));
        const QByteArray cmdline = child.readAllStandardOutput();
        QVERIFY(cmdline.contains("varnostima://auth"));
        QVERIFY(!cmdline.contains("secret-123"));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--scrub-child") == 0) {
        scrubUrlArguments(argc, argv, "varnostima");
        QFile cmdline(QStringLiteral("/proc/self/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = cmdline.readAll();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestProcessArguments test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_processarguments.moc"
