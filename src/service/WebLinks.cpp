#include "service/WebLinks.h"

QUrl webPageURL(const QUrl &baseURL, const QString &page, const QString &id)
{
    QByteArray path = baseURL.path(QUrl::FullyEncoded).toUtf8();
    while (path.endsWith('/'))
        path.chop(1);
    path += '/' + page.toUtf8();
    if (!id.isNull())
        path += '/' + QUrl::toPercentEncoding(id);

    const QUrl origin = baseURL.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemovePath);
    return QUrl::fromEncoded(origin.toEncoded() + path, QUrl::StrictMode);
}
