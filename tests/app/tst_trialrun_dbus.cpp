// scripts/run while a trial of it runs. The scripts run from a copy of the repository whose build folder holds this
// build's programs (set-up and build are done already), for a user whose home is the test's own.

#include "support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr int kWaitMs = 90'000; // only a bound for a hung run; nothing here measures speed

bool link(const QString &target, const QString &path)
{
    return QDir().mkpath(QFileInfo(path).path()) && QFile::link(target, path);
}

} // namespace

class TestTrialRun : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_trial;

    QString root() const { return m_dir.filePath(QStringLiteral("repo")); }
    QString trial(const QString &name) const { return root() + QStringLiteral("/build/trial/") + name; }
    QString entry() const { return m_dir.filePath(QStringLiteral("home/.local/share/applications/varnostima.desktop")); }

    void startRun(QProcess &run, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("user-run")));
        environment.remove(QStringLiteral("XDG_DATA_HOME"));
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        environment.insert(QStringLiteral("PATH"),
                           m_dir.filePath(QStringLiteral("bin")) + u':' + environment.value(QStringLiteral("PATH")));
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QStringLiteral("bash"), QStringList{root() + QStringLiteral("/scripts/run")} + arguments);
        QVERIFY(run.waitForStarted());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString source = QStringLiteral(VARNOSTIMA_SOURCE_DIR);
        QVERIFY(QDir().mkpath(root() + QStringLiteral("/scripts")) && QDir().mkpath(root() + QStringLiteral("/resources"))
                && QDir().mkpath(m_dir.filePath(QStringLiteral("bin"))) && QDir().mkpath(m_dir.filePath(QStringLiteral("home")))
                && QDir().mkpath(m_dir.filePath(QStringLiteral("user-run"))));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("user-run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const char *name : {"scripts/run", "scripts/register-desktop", "resources/varnostima.desktop"})
            QVERIFY(QFile::copy(source + u'/' + QLatin1String(name), root() + u'/' + QLatin1String(name)));
        QVERIFY(writeFile(root() + QStringLiteral("/scripts/deps.sh"), "varnostima_install_deps() { :; }\n"));
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("bin/cmake")), "#!/bin/sh\nexit 0\n"));
        QVERIFY(QFile::setPermissions(m_dir.filePath(QStringLiteral("bin/cmake")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(link(QStringLiteral(VARNOSTIMA_APP_BINARY), root() + QStringLiteral("/build/dev/src/app/varnostima")));
        QVERIFY(link(QStringLiteral(VARNOSTIMA_STANDIN_BINARY),
                     root() + QStringLiteral("/build/dev/tests/support/varnostima-standin")));
        QVERIFY(link(QStringLiteral(VARNOSTIMA_SAMPLE_EXPORT_BINARY),
                     root() + QStringLiteral("/build/dev/tests/support/varnostima-sample-export")));

        startRun(m_trial, {});
        const QByteArray handler = "XDG_RUNTIME_DIR=" + trial(QStringLiteral("run")).toUtf8();
        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(trial(QStringLiteral("run/varnostima.socket")))
                                      && readFile(entry()).contains(handler),
                                  m_trial.readAll().constData(), kWaitMs);
    }

    // What the second run may change of the running trial: nothing, also when asked to start afresh or to run the
    // app on the user's own data folder (which would take the trial's sign-in links).
    void secondRunLeavesTheTrialAlone_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("again") << QStringList{};
        QTest::newRow("afresh") << QStringList{QStringLiteral("--fresh")};
        QTest::newRow("as installed") << QStringList{QStringLiteral("--real")};
    }

    void secondRunLeavesTheTrialAlone()
    {
        QFETCH(QStringList, arguments);
        const QByteArray handler = readFile(entry());
        const QByteArray baseUrl = readFile(trial(QStringLiteral("data/Varnostima/.base-url")));
        const QByteArray standInLog = readFile(trial(QStringLiteral("standin.log")));

        QProcess second;
        startRun(second, arguments);
        const bool ended = second.waitForFinished(kWaitMs);
        const QByteArray output = second.readAll();
        if (!ended)
            second.kill();
        QVERIFY2(ended && second.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("run: a trial already runs"), output.constData());
        QVERIFY2(output.contains("to the running instance"), output.constData()); // which shows its panel

        QCOMPARE(readFile(entry()), handler);
        QCOMPARE(readFile(trial(QStringLiteral("data/Varnostima/.base-url"))), baseUrl);
        QCOMPARE(readFile(trial(QStringLiteral("standin.log"))), standInLog);
        QVERIFY(QFileInfo(trial(QStringLiteral("Eksport"))).isDir());
        QCOMPARE(m_trial.state(), QProcess::Running);
        QTcpSocket standIn;
        standIn.connectToHost(QStringLiteral("127.0.0.1"), quint16(QUrl(QString::fromUtf8(baseUrl)).port()));
        QVERIFY(standIn.waitForConnected(kWaitMs));
    }

    void cleanupTestCase()
    {
        if (m_trial.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_trial.processId()), SIGTERM);
            if (!m_trial.waitForFinished(kWaitMs))
                m_trial.kill();
        }
    }
};

QTEST_MAIN(TestTrialRun)
#include "tst_trialrun_dbus.moc"
