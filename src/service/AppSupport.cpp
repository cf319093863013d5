#include "AppSupport.h"

#include "ServiceLogging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

QString computeAppSupportDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString path = QDir::cleanPath(base + QStringLiteral("/Varnostima"));

    QDir dir(path);
    if (!dir.exists()) {
        if (!QDir().mkpath(path)) {
            qCCritical(lcAppSupport, "Failed to create app support directory: %s",
                       qUtf8Printable(QStringLiteral("could not create %1").arg(path)));
            return path;
        }
    }
    // The folder holds the API token: only its owner may look inside.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

QString appSupportDirectory()
{
    static const QString path = computeAppSupportDirectory();
    return path;
}
