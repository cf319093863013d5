#pragma once

#include <QObject>

class LoginItemService;

// The start-at-login switch. The login item itself is the only record of the setting.
class LaunchAtLoginManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)
public:
    explicit LaunchAtLoginManager(LoginItemService &service, QObject *parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    // Registers or unregisters the login item, then reads back what the system really has.
    void setEnabled(bool enabled);

Q_SIGNALS:
    void isEnabledChanged(bool isEnabled);

private:
    void refresh();

    bool m_isEnabled = false;
    LoginItemService &m_service;
};
