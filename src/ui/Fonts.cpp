#include "Fonts.h"

#include "ThemeLogging.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QSet>

namespace {

// Qt happily loads the same file twice; the platform this mirrors refuses, and so do we.
QSet<QString> &registeredFiles()
{
    static QSet<QString> files;
    return files;
}

QString locate(const QString &root, const QString &name)
{
    const QString file = name + QStringLiteral(".ttf");
    for (const QString &candidate : {root + u'/' + file, root + QStringLiteral("/Fonts/") + file}) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return {};
}

// Why a found file could not be registered, or an empty text on success.
QString registerFile(const QString &path)
{
    const QString key = QFileInfo(path).absoluteFilePath();
    if (registeredFiles().contains(key))
        return QStringLiteral("already registered");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray data = file.readAll();
    if (data.isEmpty())
        return QStringLiteral("empty file");
    const int id = QFontDatabase::addApplicationFontFromData(data);
    if (id < 0)
        return QStringLiteral("unknown");
    registeredFiles().insert(key);
    qCDebug(lcFonts, "Registered %s as %s", qPrintable(QFileInfo(path).fileName()),
            qPrintable(QFontDatabase::applicationFontFamilies(id).join(QStringLiteral(", "))));
    return {};
}

} // namespace

QStringList bundledFontNames()
{
    // Medium comes last: the views use it and Qt would otherwise embolden the regular face.
    return {QStringLiteral("DMSans"), QStringLiteral("DMSans-Italic"), QStringLiteral("BricolageGrotesque"),
            QStringLiteral("DMSans-Medium")};
}

void registerBundledFonts()
{
    registerBundledFonts(QStringLiteral(":"));
}

void registerBundledFonts(const QString &root)
{
    for (const QString &name : bundledFontNames()) {
        const QString path = locate(root, name);
        if (path.isEmpty()) {
            qCCritical(lcFonts, "Could not find bundled font: %s.ttf", qPrintable(name));
            continue;
        }
        const QString failure = registerFile(path);
        if (!failure.isEmpty())
            qCCritical(lcFonts, "Failed to register font %s: %s", qPrintable(name), qPrintable(failure));
    }
}
