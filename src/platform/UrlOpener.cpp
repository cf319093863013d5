#include "UrlOpener.h"

#include "DesktopLogging.h"

#include <QDesktopServices>

bool UrlOpener::isWebUrl(const QUrl &url)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool DesktopUrlOpener::openUrl(const QUrl &url)
{
    // Anything else (file:, custom schemes) could start arbitrary handlers.
    if (!isWebUrl(url)) {
        qCWarning(lcUrlOpener, "Refusing to open non-web URL with scheme %s", qUtf8Printable(url.scheme()));
        return false;
    }
    return QDesktopServices::openUrl(url);
}
