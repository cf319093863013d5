#include "LoginItemService.h"

#include "AtomicFile.h"
#include "DesktopLogging.h"
#include "PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

AutostartEntry::AutostartEntry(QString entryPath, QString execPath, QString dataHome,
                               std::optional<QString> userDataHome)
    : m_entryPath(std::move(entryPath)), m_execPath(std::move(execPath)), m_dataHome(std::move(dataHome)),
      m_userDataHome(std::move(userDataHome))
{
}

QString AutostartEntry::command() const
{
    if (m_dataHome.isEmpty())
        return execLine(m_execPath);
    QString command = QStringLiteral("env ");
    if (!m_userDataHome || QDir::cleanPath(*m_userDataHome) != m_dataHome) {
        // As the trial starts the app (UserDesktop.h): the browser it opens is to find the user's own entries.
        command += QStringLiteral("VARNOSTIMA_USER_ENV=XDG_DATA_HOME ");
        if (m_userDataHome)
            command += execLine(QStringLiteral("VARNOSTIMA_USER_XDG_DATA_HOME=") + *m_userDataHome) + QLatin1Char(' ');
    }
    return command + execLine(QStringLiteral("XDG_DATA_HOME=") + m_dataHome) + QLatin1Char(' ') + execLine(m_execPath);
}

QString AutostartEntry::defaultEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/varnostima.desktop");
}

QString AutostartEntry::execLine(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString escaped = program;
    // In a quoted argument only these four keep their meaning; "%" is a field code anywhere.
    if (needsQuotes) {
        escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        escaped.replace(QLatin1Char('`'), QStringLiteral("\\`"));
        escaped.replace(QLatin1Char('$'), QStringLiteral("\\$"));
    }
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The string-type value escapes its backslashes once more.
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return needsQuotes ? QLatin1Char('"') + escaped + QLatin1Char('"') : escaped;
}

bool AutostartEntry::isEnabled() const
{
    QFile file(m_entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return false;
    }
    return true;
}

void AutostartEntry::registerItem()
{
    const QString folder = QFileInfo(m_entryPath).absolutePath();
    if (!QDir().mkpath(folder))
        throw PlatformError(QStringLiteral("Could not create %1").arg(folder));

    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Varnostima\n"
                                        "Exec=%1\n"
                                        "Icon=varnostima\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(command());
    QString error;
    if (!writeFileAtomically(m_entryPath, text.toUtf8(), &error))
        throw PlatformError(error);
    qCInfo(lcAutostart, "Wrote autostart entry %s", qUtf8Printable(m_entryPath));
}

void AutostartEntry::unregisterItem()
{
    QFile file(m_entryPath);
    if (!file.exists())
        return;
    if (!file.remove())
        throw PlatformError(file.errorString());
    qCInfo(lcAutostart, "Removed autostart entry %s", qUtf8Printable(m_entryPath));
}

void FakeLoginItemService::registerItem()
{
    ++registers;
    if (refuseChanges)
        throw PlatformError(QStringLiteral("The login item was refused."));
    enabled = true;
}

void FakeLoginItemService::unregisterItem()
{
    ++unregisters;
    if (refuseChanges)
        throw PlatformError(QStringLiteral("The login item was refused."));
    enabled = false;
}
