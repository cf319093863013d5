#include "UrlPaths.h"

namespace {

QString joined(QString head, QString tail)
{
    while (head.endsWith(u'/'))
        head.chop(1);
    while (tail.startsWith(u'/'))
        tail.remove(0, 1);
    return head + u'/' + tail;
}

} // namespace

QUrl appendPath(const QUrl &base, const QString &path)
{
    QUrl url = base;
    url.setPath(joined(base.path(QUrl::FullyEncoded), QString::fromUtf8(QUrl::toPercentEncoding(path, "/"))),
                QUrl::TolerantMode);
    return url;
}

QUrl appendPath(const QUrl &base, const QString &prefix, const QString &segment)
{
    QUrl url = base;
    const QString encodedPrefix = QString::fromUtf8(QUrl::toPercentEncoding(prefix, "/"));
    const QString encodedSegment = QString::fromUtf8(QUrl::toPercentEncoding(segment));
    url.setPath(joined(joined(base.path(QUrl::FullyEncoded), encodedPrefix), encodedSegment), QUrl::TolerantMode);
    return url;
}
