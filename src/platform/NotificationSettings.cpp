#include "NotificationSettings.h"

#include "UserDesktop.h"

#include <QStandardPaths>

#include <array>

namespace {

struct KnownSettings {
    const char *desktop; // one name of XDG_CURRENT_DESKTOP, compared without case
    const char *program;
    const char *argument;
};

// In order of preference; a desktop may have several, the first installed one wins.
constexpr std::array kKnown{
    KnownSettings{"GNOME", "gnome-control-center", "notifications"},
    KnownSettings{"Unity", "gnome-control-center", "notifications"},
    KnownSettings{"KDE", "systemsettings", "kcm_notifications"},
    KnownSettings{"KDE", "kcmshell6", "kcm_notifications"},
    KnownSettings{"KDE", "kcmshell5", "kcm_notifications"},
    KnownSettings{"X-Cinnamon", "cinnamon-settings", "notifications"},
    KnownSettings{"XFCE", "xfce4-notifyd-config", nullptr},
};

} // namespace

std::optional<DesktopCommand> notificationSettingsCommand(const QString &currentDesktop,
                                                          const std::function<QString(const QString &)> &findProgram)
{
    const QStringList desktops = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &desktop : desktops) {
        for (const KnownSettings &known : kKnown) {
            if (desktop.compare(QLatin1String(known.desktop), Qt::CaseInsensitive) != 0)
                continue;
            const QString path = findProgram(QString::fromLatin1(known.program));
            if (path.isEmpty())
                continue;
            QStringList arguments;
            if (known.argument)
                arguments.append(QString::fromLatin1(known.argument));
            return DesktopCommand{path, arguments};
        }
    }
    return std::nullopt;
}

std::optional<DesktopCommand> notificationSettingsCommand()
{
    return notificationSettingsCommand(qEnvironmentVariable("XDG_CURRENT_DESKTOP"), [](const QString &program) {
        return QStandardPaths::findExecutable(program);
    });
}

bool startDetached(const DesktopCommand &command)
{
    return startInUserDesktop(command.program, command.arguments);
}
