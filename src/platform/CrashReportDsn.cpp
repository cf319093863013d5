#include "CrashReportDsn.h"

#include <QHostAddress>

#ifndef VARNOSTIMA_CRASH_DSN
#define VARNOSTIMA_CRASH_DSN ""
#endif

namespace {

bool isLoopback(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

std::optional<CrashReportDsn> CrashReportDsn::parse(const QString &dsn)
{
    const QUrl url(dsn.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() || url.userName().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("https") && !(scheme == QLatin1String("http") && isLoopback(url.host())))
        return std::nullopt;
    if (url.hasQuery() || url.hasFragment())
        return std::nullopt;

    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString projectId = path.mid(slash + 1);
    if (slash < 0 || projectId.isEmpty())
        return std::nullopt;
    for (const QChar c : projectId) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return std::nullopt;
    }

    QUrl endpoint;
    endpoint.setScheme(scheme);
    endpoint.setHost(url.host());
    endpoint.setPort(url.port());
    endpoint.setPath(path.left(slash) + QStringLiteral("/api/") + projectId + QStringLiteral("/envelope/"));

    return CrashReportDsn{dsn.trimmed(), url.userName(), endpoint};
}

QString CrashReportDsn::defaultDsn()
{
    return QStringLiteral(VARNOSTIMA_CRASH_DSN);
}
