#include "UserDesktop.h"

#include "DesktopLogging.h"

#include <QDesktopServices>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {
const QString kNames = QStringLiteral("VARNOSTIMA_USER_ENV");
const QString kValuePrefix = QStringLiteral("VARNOSTIMA_USER_");
} // namespace

QProcessEnvironment userDesktopEnvironment(const QProcessEnvironment &own)
{
    QProcessEnvironment user = own;
    static const QRegularExpression variableName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    const QStringList names = own.value(kNames).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        if (!variableName.match(name).hasMatch() || name.startsWith(kValuePrefix))
            continue;
        const QString before = kValuePrefix + name;
        if (own.contains(before))
            user.insert(name, own.value(before));
        else
            user.remove(name);
    }
    // Not passed on: a copy of the app that the browser starts would take them for its own.
    for (const QString &key : own.keys()) {
        if (key.startsWith(kValuePrefix))
            user.remove(key);
    }
    return user;
}

QProcessEnvironment userDesktopEnvironment()
{
    return userDesktopEnvironment(QProcessEnvironment::systemEnvironment());
}

bool startInUserDesktop(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(userDesktopEnvironment());
    return process.startDetached();
}

bool openInUserDesktop(const QUrl &url)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return QDesktopServices::openUrl(url);
    if (startInUserDesktop(opener, {url.toString(QUrl::FullyEncoded)}))
        return true;
    qCWarning(lcUrlOpener, "Could not start %s", qUtf8Printable(opener));
    return false;
}
