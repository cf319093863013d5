#include "WebLinks.h"

#include "ServiceLogging.h"

std::optional<QByteArray> pathSegment(const QString &text)
{
    if (text.isEmpty() || text == QLatin1String(".") || text == QLatin1String(".."))
        return std::nullopt;
    return QUrl::toPercentEncoding(text);
}

QUrl webPageURL(const QUrl &baseURL, const QString &page, const QString &id)
{
    QByteArray path = baseURL.path(QUrl::FullyEncoded).toUtf8();
    while (path.endsWith('/'))
        path.chop(1);
    path += '/' + page.toUtf8();
    if (!id.isNull()) {
        const std::optional<QByteArray> segment = pathSegment(id);
        if (!segment) {
            qCCritical(lcAPI, "Refusing a web link for the id \"%s\"", qUtf8Printable(id));
            return {};
        }
        path += '/' + *segment;
    }

    const QUrl origin = baseURL.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemovePath);
    return QUrl::fromEncoded(origin.toEncoded() + path, QUrl::StrictMode);
}
