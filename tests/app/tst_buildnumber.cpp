// The build number comes from the repository the build is made from, unless one is given; without a usable
// history the about window keeps showing "?".

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

bool git(const QString &dir, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(QStringLiteral("git"), QStringList{QStringLiteral("-c"), QStringLiteral("user.name=Test"),
                                                     QStringLiteral("-c"), QStringLiteral("user.email=test@example.org"),
                                                     QStringLiteral("-c"), QStringLiteral("commit.gpgsign=false")}
                                             + arguments);
    return process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A repository of `commits` commits in dir.
bool makeRepository(const QString &dir, int commits)
{
    if (!git(dir, {QStringLiteral("init"), QStringLiteral("-q")}))
        return false;
    for (int i = 0; i < commits; ++i) {
        if (!git(dir, {QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("--allow-empty"),
                       QStringLiteral("-m"), QString::number(i)}))
            return false;
    }
    return true;
}

} // namespace

class TestBuildNumber : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void numberFromTheRepository_data()
    {
        QTest::addColumn<QString>("source"); // "repository", "shallow clone" or "no repository"
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");
        QTest::newRow("commit count") << "repository" << "" << "3";
        QTest::newRow("given number wins") << "repository" << "417" << "417";
        QTest::newRow("no repository") << "no repository" << "" << "";
        QTest::newRow("no repository, given") << "no repository" << "12" << "12";
        QTest::newRow("shallow clone") << "shallow clone" << "" << "";
    }
    void numberFromTheRepository()
    {
        QFETCH(QString, source);
        QFETCH(QString, given);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString tree = dir.filePath(QStringLiteral("tree"));
        if (source == QLatin1String("no repository")) {
            QVERIFY(QDir().mkpath(tree));
        } else if (source == QLatin1String("repository")) {
            QVERIFY(QDir().mkpath(tree));
            QVERIFY(makeRepository(tree, 3));
        } else {
            const QString origin = dir.filePath(QStringLiteral("origin"));
            QVERIFY(QDir().mkpath(origin));
            QVERIFY(makeRepository(origin, 3));
            QVERIFY(git(dir.path(), {QStringLiteral("clone"), QStringLiteral("-q"), QStringLiteral("--depth"),
                                     QStringLiteral("1"), QUrl::fromLocalFile(origin).toString(), tree}));
        }

        const QString header = dir.filePath(QStringLiteral("out/BuildNumber.h"));
        QProcess cmake;
        // Git stops at the temporary folder, even when that lies inside another repository.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("GIT_CEILING_DIRECTORIES"), dir.path());
        cmake.setProcessEnvironment(environment);
        cmake.start(QStringLiteral(VARNOSTIMA_CMAKE_COMMAND),
                    {QStringLiteral("-DSOURCE_DIR=") + tree, QStringLiteral("-DOUTPUT=") + header,
                     QStringLiteral("-DGIVEN=") + given, QStringLiteral("-P"), QStringLiteral(VARNOSTIMA_BUILD_NUMBER_SCRIPT)});
        QVERIFY(cmake.waitForFinished(60'000));
        QVERIFY2(cmake.exitCode() == 0, cmake.readAllStandardError().constData());
        QFile file(header);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("#define VARNOSTIMA_BUILD_NUMBER \"" + expected.toUtf8() + "\"\n"));
    }
};

QTEST_GUILESS_MAIN(TestBuildNumber)
#include "tst_buildnumber.moc"
