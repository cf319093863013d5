#include "Updater.h"

#include "DesktopLogging.h"
#include "UrlOpener.h"

#ifndef VARNOSTIMA_DOWNLOAD_PAGE
#define VARNOSTIMA_DOWNLOAD_PAGE ""
#endif

DownloadPageUpdater::DownloadPageUpdater(QUrl downloadPage, UrlOpener &opener, QObject *parent)
    : Updater(parent), m_page(std::move(downloadPage)), m_opener(opener)
{
    if (!canCheckForUpdates())
        qCInfo(lcUpdater, "No download page configured: update checks are off");
}

QUrl DownloadPageUpdater::defaultDownloadPage()
{
    const QString configured = QStringLiteral(VARNOSTIMA_DOWNLOAD_PAGE);
    if (configured.isEmpty())
        return QUrl(QStringLiteral("https://varnostima.no/last-ned"));
    if (configured == QLatin1String("none"))
        return {};
    return QUrl(configured, QUrl::StrictMode);
}

bool DownloadPageUpdater::canCheckForUpdates() const
{
    return UrlOpener::isWebUrl(m_page);
}

void DownloadPageUpdater::checkForUpdates()
{
    if (!canCheckForUpdates())
        return;
    qCInfo(lcUpdater, "Opening download page %s", qUtf8Printable(m_page.toString()));
    if (!m_opener.openUrl(m_page))
        qCWarning(lcUpdater, "Could not open the download page");
}
