#include "AppIcon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString kThemeIcon = QStringLiteral("icons/hicolor/scalable/apps/varnostima.svg");

bool isFile(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}
} // namespace

QString appIconFile(const QStringList &dataFolders, const QString &applicationFolder, const QString &buildIcon)
{
    for (const QString &folder : dataFolders) {
        const QString path = QDir(folder).absoluteFilePath(kThemeIcon);
        if (QDir::isAbsolutePath(folder) && isFile(path))
            return QDir::cleanPath(path);
    }
    if (!applicationFolder.isEmpty()) {
        const QString installed = QDir(applicationFolder).absoluteFilePath(QStringLiteral("../share/") + kThemeIcon);
        if (isFile(installed))
            return QDir::cleanPath(installed);
    }
    return QDir::isAbsolutePath(buildIcon) && isFile(buildIcon) ? QDir::cleanPath(buildIcon) : QString();
}

QString appIconFile()
{
    return appIconFile(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation),
                       QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString(),
                       QStringLiteral(VARNOSTIMA_BUILD_ICON));
}
