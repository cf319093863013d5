#pragma once

#include "platform/NotificationCenter.h"

#include <QWidget>

#include <functional>

class FormSection;
class LaunchAtLoginManager;
class ToggleSwitch;

// "Generelt": start at login, and whether notifications reach the user. Keeps no setting of its own: the login
// item and the notification service are read again each time the tab is shown.
class GeneralSettingsTab : public QWidget
{
    Q_OBJECT
public:
    // openNotificationSettings: opens the desktop's notification settings; empty when this desktop has none we
    // know, and then the section offers no button for it.
    GeneralSettingsTab(LaunchAtLoginManager &launchAtLogin, NotificationCenter &notifications,
                       std::function<void()> openNotificationSettings, QWidget *parent = nullptr);

    bool launchAtLoginEnabled() const { return m_launchAtLoginEnabled; }
    NotificationAuthorizationStatus notificationStatus() const { return m_notificationStatus; }
    FormSection *notificationSection() const { return m_notificationSection; }

    // Reads the notification service's answer into the section.
    void refreshNotificationStatus();
    void requestNotificationPermission();

Q_SIGNALS:
    // After each read of the notification status has reached the section.
    void notificationStatusRefreshed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Every change of the value after the first: the login item follows it, and the value follows the login item.
    void setLaunchAtLoginEnabled(bool enabled);
    void setNotificationStatus(NotificationAuthorizationStatus status);
    void rebuildNotificationSection();

    LaunchAtLoginManager &m_launchAtLogin;
    NotificationCenter &m_notifications;
    std::function<void()> m_openNotificationSettings;
    bool m_launchAtLoginEnabled = false;
    NotificationAuthorizationStatus m_notificationStatus = NotificationAuthorizationStatus::NotDetermined;
    quint64 m_statusReads = 0;
    ToggleSwitch *m_switch = nullptr;
    FormSection *m_notificationSection = nullptr;
};
