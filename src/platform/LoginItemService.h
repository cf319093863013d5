#pragma once

#include <QString>

#include <optional>

// Starting the application when the user logs in.
class LoginItemService
{
public:
    virtual ~LoginItemService() = default;
    virtual bool isEnabled() const = 0;
    // Both throw PlatformError when the change could not be made.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

// An XDG autostart entry: enabled while the file exists and does not hide itself.
class AutostartEntry final : public LoginItemService
{
public:
    // entryPath: the desktop file; execPath: the program it starts; dataHome: the XDG_DATA_HOME the program is to
    // run with, so that it starts on the data folder it was registered from (empty: the session's own);
    // userDataHome: the user's own XDG_DATA_HOME (none: unset), which what the program opens for the user gets back
    // where dataHome is the program's alone (a trial's).
    AutostartEntry(QString entryPath, QString execPath, QString dataHome = {},
                   std::optional<QString> userDataHome = std::nullopt);

    // $XDG_CONFIG_HOME/autostart/varnostima.desktop
    static QString defaultEntryPath();

    bool isEnabled() const override;
    void registerItem() override;
    void unregisterItem() override;

    QString entryPath() const { return m_entryPath; }

    // The Exec value for a program path, quoted as desktop entries require.
    static QString execLine(const QString &program);
    // The whole Exec value of the entry.
    QString command() const;

private:
    QString m_entryPath;
    QString m_execPath;
    QString m_dataHome;
    std::optional<QString> m_userDataHome;
};

// A login item in memory; tests make the system refuse changes.
class FakeLoginItemService final : public LoginItemService
{
public:
    bool isEnabled() const override { return enabled; }
    void registerItem() override;
    void unregisterItem() override;

    bool enabled = false;
    bool refuseChanges = false;
    int registers = 0;
    int unregisters = 0;
};
