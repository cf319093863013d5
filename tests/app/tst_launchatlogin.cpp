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
class CountingService final : public LoginItemService
{
public:
    explicit CountingService(AutostartEntry &entry) : m_entry(entry) {}
    bool isEnabled() const override { return m_entry.isEnabled(); }
    void registerItem() override
    {
        ++registers;
        m_entry.registerItem();
    }
    void unregisterItem() override
    {
        ++unregisters;
        m_entry.unregisterItem();
    }
    int registers = 0;
    int unregisters = 0;

private:
    AutostartEntry &m_entry;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

private:
    QTemporaryDir m_config;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_config.isValid());
        QDir(m_config.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_config.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    }

    void entryLivesInXdgConfigHome()
    {
        QCOMPARE(AutostartEntry::defaultEntryPath(), m_config.path() + QStringLiteral("/autostart/varnostima.desktop"));
    }

    void setEnabledFollowsTheEntry_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<bool>("initiallyEnabled");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        QTest::addColumn<bool>("enabledAfter");
        const QByteArray on = "[Desktop Entry]\nType=Application\nExec=varnostima\n";
        const QByteArray hidden = "[Desktop Entry]\nType=Application\nExec=varnostima\nHidden=true\n";
        const QByteArray gnomeOff = "[Desktop Entry]\nExec=varnostima\nX-GNOME-Autostart-enabled=false\n";
        const QByteArray hiddenElsewhere = "[Desktop Entry]\nExec=varnostima\n[Desktop Action x]\nHidden=true\n";
        QTest::newRow("none, on") << QByteArray() << true << false << 1 << 0 << true;
        QTest::newRow("on, on again") << on << true << true << 0 << 0 << true;
        QTest::newRow("none, off") << QByteArray() << false << false << 0 << 0 << false;
        QTest::newRow("on, off") << on << false << true << 0 << 1 << false;
        QTest::newRow("hidden, on") << hidden << true << false << 1 << 0 << true;
        QTest::newRow("hidden, off") << hidden << false << false << 0 << 0 << false;
        QTest::newRow("switched off in the session settings, on") << gnomeOff << true << false << 1 << 0 << true;
        QTest::newRow("Hidden in another group counts not") << hiddenElsewhere << false << true << 0 << 1 << false;
    }
    void setEnabledFollowsTheEntry()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, enable);
        QFETCH(bool, initiallyEnabled);
        QFETCH(int, registers);
        QFETCH(int, unregisters);
        QFETCH(bool, enabledAfter);
        const QString path = AutostartEntry::defaultEntryPath();
        if (!existing.isEmpty()) {
            QVERIFY(QDir().mkpath(m_config.path() + QStringLiteral("/autostart")));
            write(path, existing);
        }
        AutostartEntry entry(path, QStringLiteral("/opt/Varnostima/varnostima"));
        CountingService service(entry);
        LaunchAtLoginManager manager(service);
        QCOMPARE(manager.isEnabled(), initiallyEnabled);
        QSignalSpy changes(&manager, &LaunchAtLoginManager::isEnabledChanged);

        manager.setEnabled(enable);
        manager.setEnabled(enable);

        QCOMPARE(service.registers, registers);
        QCOMPARE(service.unregisters, unregisters);
        QCOMPARE(manager.isEnabled(), enabledAfter);
        QCOMPARE(changes.size(), enabledAfter == initiallyEnabled ? 0 : 1);
        if (enabledAfter && registers > 0) {
            const QByteArray text = readAll(path);
            QVERIFY(text.startsWith("[Desktop Entry]\n"));
            QVERIFY(text.contains("\nExec=/opt/Varnostima/varnostima\n"));
            QVERIFY(!text.contains("Hidden"));
        }
        if (unregisters > 0)
            QVERIFY(!QFile::exists(path));
    }

    void failedRegistrationLeavesSwitchOff()
    {
        // A file where the autostart folder should be.
        write(m_config.path() + QStringLiteral("/autostart"), "not a folder");
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

    void execLineIsQuoted_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/varnostima") << QStringLiteral("/usr/bin/varnostima");
        QTest::newRow("blank") << QStringLiteral("/home/a b/varnostima") << QStringLiteral("\"/home/a b/varnostima\"");
        QTest::newRow("percent") << QStringLiteral("/opt/100%/varnostima") << QStringLiteral("/opt/100%%/varnostima");
        QTest::newRow("quote and dollar") << QStringLiteral("/x/\"$q") << QStringLiteral("\"/x/\\\\\"\\\\$q\"");
    }
    void execLineIsQuoted()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execLine(program), exec);
    }
};

QTEST_GUILESS_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
