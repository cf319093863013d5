// Which command opens the desktop's notification settings, by desktop and installed programs.

#include "platform/NotificationSettings.h"

#include <QTest>

class TestNotificationSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void command_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("command"); // program path, then arguments; empty: none
        const QStringList all{"gnome-control-center", "systemsettings", "kcmshell6", "kcmshell5", "cinnamon-settings",
                              "xfce4-notifyd-config"};
        QTest::newRow("GNOME") << "GNOME" << all << QStringList{"/usr/bin/gnome-control-center", "notifications"};
        QTest::newRow("Ubuntu's GNOME") << "ubuntu:GNOME" << all
                                        << QStringList{"/usr/bin/gnome-control-center", "notifications"};
        QTest::newRow("KDE") << "KDE" << all << QStringList{"/usr/bin/systemsettings", "kcm_notifications"};
        QTest::newRow("KDE with kcmshell5 only")
            << "KDE" << QStringList{"kcmshell5"} << QStringList{"/usr/bin/kcmshell5", "kcm_notifications"};
        QTest::newRow("XFCE") << "XFCE" << all << QStringList{"/usr/bin/xfce4-notifyd-config"};
        QTest::newRow("lower case") << "kde" << all << QStringList{"/usr/bin/systemsettings", "kcm_notifications"};
        QTest::newRow("GNOME without its settings") << "GNOME" << QStringList{"systemsettings"} << QStringList();
        QTest::newRow("unknown desktop") << "sway" << all << QStringList();
    }
    void command()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, command);
        const auto found = notificationSettingsCommand(desktop, [&installed](const QString &program) {
            return installed.contains(program) ? QStringLiteral("/usr/bin/") + program : QString();
        });
        QCOMPARE(found ? QStringList{found->program} + found->arguments : QStringList(), command);
    }
};

QTEST_MAIN(TestNotificationSettings)
#include "tst_notificationsettings.moc"
