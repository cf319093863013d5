#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// The text percent-encoded as exactly one path segment ("/", "?", "#" and "%" included), or nothing for "", "."
// and "..": those stay path steps however they are encoded, since URL parsers decode "%2E" back to ".".
std::optional<QByteArray> pathSegment(const QString &text);

// Pages of the service opened in the browser. The base URL's own path is kept; `id` becomes exactly one path
// segment, so an id holding "/", "?", "#" or dots can never point the browser at another page. An id that cannot
// be one segment gives an empty URL (logged), which nothing opens.
QUrl webPageURL(const QUrl &baseURL, const QString &page, const QString &id = {});

inline QUrl galleryPageURL(const QUrl &baseURL, const QString &galleryId)
{
    return webPageURL(baseURL, QStringLiteral("gallery"), galleryId);
}
inline QUrl previewPageURL(const QUrl &baseURL, const QString &galleryId)
{
    return webPageURL(baseURL, QStringLiteral("preview"), galleryId);
}
inline QUrl dashboardPageURL(const QUrl &baseURL) { return webPageURL(baseURL, QStringLiteral("dashboard")); }
inline QUrl deviceLoginPageURL(const QUrl &baseURL)
{
    return webPageURL(baseURL, QStringLiteral("auth/device-login"));
}
