#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// A program of the desktop and its arguments.
struct DesktopCommand {
    QString program;
    QStringList arguments;

    bool operator==(const DesktopCommand &) const = default;
};

// The command that opens the notification page of the desktop's own settings, for the desktops whose settings
// program is known and installed. `currentDesktop` is XDG_CURRENT_DESKTOP (names split by ':');
// `findProgram` gives a program's path on PATH, or an empty string.
std::optional<DesktopCommand> notificationSettingsCommand(const QString &currentDesktop,
                                                          const std::function<QString(const QString &)> &findProgram);
// The same for this session.
std::optional<DesktopCommand> notificationSettingsCommand();

// Starts the command without waiting for it; false when it could not be started.
bool startDetached(const DesktopCommand &command);
