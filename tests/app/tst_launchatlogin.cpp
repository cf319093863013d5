// Launch at login over a real autostart entry in a temporary XDG_CONFIG_HOME.

#include "app/LaunchAtLoginManager.h"
#include "platform/LoginItemService.h"

#include "support/LogCapture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Counts what the manager asks of the real entry.
struct CountingService final : LoginItemService {
    explicit CountingService(AutostartEntry &entry) : entry(entry) {}
    bool isEnabled() const override { return entry.isEnabled(); }
    void registerItem() override { ++registers, entry.registerItem(); }
    void unregisterItem() override { ++unregisters, entry.unregisterItem(); }
    AutostartEntry &entry;
    int registers = 0;
    int unregisters = 0;
};

void write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestLaunchAtLogin : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private Q_SLOTS:
    void init()
    {
        QDir(m_config.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_config.path() + QStringLiteral("/autostart")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void setEnabledFollowsTheEntry_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        const QByteArray on = "[Desktop Entry]\nType=Application\nExec=varnostima\n";
        QTest::newRow("none, on") << QByteArray() << true << 1 << 0;
        QTest::newRow("on, on again") << on << true << 0 << 0;
        QTest::newRow("none, off") << QByteArray() << false << 0 << 0;
        QTest::newRow("on, off") << on << false << 0 << 1;
        QTest::newRow("hidden, on") << on + "Hidden=true\n" << true << 1 << 0;
        QTest::newRow("hidden, off") << on + "Hidden=true\n" << false << 0 << 0;
        QTest::newRow("Hidden of another group counts not")
            << on + "[Desktop Action x]\nHidden=true\n" << false << 0 << 1;
    }
    void setEnabledFollowsTheEntry()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, enable);
        QFETCH(int, registers);
        QFETCH(int, unregisters);
        const QString path = m_config.path() + QStringLiteral("/autostart/varnostima.desktop");
        QCOMPARE(AutostartEntry::defaultEntryPath(), path);
        if (!existing.isEmpty())
            write(path, existing);
        AutostartEntry entry(path, QStringLiteral("/home/a b/100%/varnostima"));
        CountingService service(entry);
        LaunchAtLoginManager manager(service);
        const bool before = manager.isEnabled();
        QSignalSpy changes(&manager, &LaunchAtLoginManager::isEnabledChanged);

        manager.setEnabled(enable);
        manager.setEnabled(enable); // the second call only reads the entry back

        QCOMPARE(service.registers, registers);
        QCOMPARE(service.unregisters, unregisters);
        QCOMPARE(manager.isEnabled(), enable);
        QCOMPARE(changes.size(), before == enable ? 0 : 1);
        QFile file(path);
        if (registers + unregisters > 0)
            QCOMPARE(file.exists(), enable);
        if (registers > 0) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            QVERIFY(text.startsWith("[Desktop Entry]\nType=Application\n"));
            // Quoted for the blank, "%" doubled: it would be a field code.
            QVERIFY(text.contains("\nExec=\"/home/a b/100%%/varnostima\"\n"));
            QVERIFY(!text.contains("Hidden"));
        }
    }

    void failedRegistrationLeavesSwitchOff()
    {
        QDir(m_config.path() + QStringLiteral("/autostart")).removeRecursively();
        write(m_config.path() + QStringLiteral("/autostart"), "a file where the folder belongs");
        AutostartEntry entry(AutostartEntry::defaultEntryPath(), QStringLiteral("/usr/bin/varnostima"));
        LaunchAtLoginManager manager(entry);
        QSignalSpy changes(&manager, &LaunchAtLoginManager::isEnabledChanged);
        testsupport::LogCapture log;

        manager.setEnabled(true);

        QVERIFY(!manager.isEnabled());
        QVERIFY(changes.isEmpty());
        QVERIFY(log.contains(QStringLiteral("no.varnostima.mac.LaunchAtLogin"),
                             QStringLiteral("Failed to update launch-at-login: ")));
    }

    // Started at login, the app finds the data folder it was registered from: a trial never starts on the user's.
    // A trial's folder is the app's alone: what the app opens for the user gets the user's own back.
    void entryKeepsTheDataFolder_data()
    {
        QTest::addColumn<QString>("dataHome");
        QTest::addColumn<std::optional<QString>>("userDataHome");
        QTest::addColumn<QByteArray>("exec");
        const std::optional<QString> unset;
        QTest::newRow("the session's") << QString() << unset << QByteArray("Exec=/opt/v/varnostima\n");
        QTest::newRow("the session's, set by it")
            << QStringLiteral("/home/u/data") << std::optional(QStringLiteral("/home/u/data/"))
            << QByteArray("Exec=env XDG_DATA_HOME=/home/u/data /opt/v/varnostima\n");
        QTest::newRow("a trial's") << QStringLiteral("/src/build/trial/data") << unset
                                   << QByteArray("Exec=env VARNOSTIMA_USER_ENV=XDG_DATA_HOME "
                                                 "XDG_DATA_HOME=/src/build/trial/data /opt/v/varnostima\n");
        QTest::newRow("a trial's, the user's set")
            << QStringLiteral("/src/build/trial/data") << std::optional(QStringLiteral("/home/u/my data"))
            << QByteArray("Exec=env VARNOSTIMA_USER_ENV=XDG_DATA_HOME \"VARNOSTIMA_USER_XDG_DATA_HOME=/home/u/my data\" "
                          "XDG_DATA_HOME=/src/build/trial/data /opt/v/varnostima\n");
        QTest::newRow("quoted") << QStringLiteral("/a b/data") << std::optional(QStringLiteral("/a b/data"))
                                << QByteArray("Exec=env \"XDG_DATA_HOME=/a b/data\" /opt/v/varnostima\n");
    }
    void entryKeepsTheDataFolder()
    {
        QFETCH(QString, dataHome);
        QFETCH(std::optional<QString>, userDataHome);
        QFETCH(QByteArray, exec);
        AutostartEntry entry(AutostartEntry::defaultEntryPath(), QStringLiteral("/opt/v/varnostima"), dataHome,
                             userDataHome);
        entry.registerItem();
        QFile file(entry.entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("\n" + exec), exec.constData());
    }

    void execLineEscapesTwice()
    {
        // Quoting rules of Exec first, then the string escaping of every desktop-entry value.
        QCOMPARE(AutostartEntry::execLine(QStringLiteral("/usr/bin/varnostima")), QStringLiteral("/usr/bin/varnostima"));
        QCOMPARE(AutostartEntry::execLine(QStringLiteral("/x/\"$q")), QStringLiteral("\"/x/\\\\\"\\\\$q\""));
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
