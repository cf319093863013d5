#include "StandInPages.h"

#include <QUrl>

namespace testsupport::standin {

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped().replace(u'\'', QStringLiteral("&#39;"));
}

QString pageLink(const char *page, const QString &id)
{
    return QStringLiteral("/%1/%2").arg(QLatin1String(page), QString::fromLatin1(QUrl::toPercentEncoding(id)));
}

WebPage document(int status, const QString &title, const QString &body)
{
    const QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"nb\"><head><meta charset=\"utf-8\"><title>%1"
                                        "</title><style>body{font-family:sans-serif;margin:2em auto;max-width:52em}"
                                        "td,th{padding:.2em .8em;text-align:left}.n{text-align:right}</style></head>"
                                        "<body><p><a href=\"/dashboard\">Varnostima (testtjeneste)</a></p>\n<h1>%1</h1>"
                                        "\n%2</body></html>\n")
                             .arg(escaped(title), body);
    return {status, html.toUtf8()};
}

QString folderPath(const std::optional<QString> &folderId, const QList<StandInFolder> &folders)
{
    QStringList names;
    std::optional<QString> next = folderId;
    // Bounded by the folder count, so a cycle cannot hang the page.
    for (qsizetype hops = 0; next && hops <= folders.size(); ++hops) {
        const auto it = std::find_if(folders.cbegin(), folders.cend(),
                                     [&](const StandInFolder &folder) { return folder.id == *next; });
        if (it == folders.cend())
            break;
        names.prepend(it->name);
        next = it->parentId;
    }
    return names.join(QStringLiteral(" / "));
}

WebPage deviceLogin(const QByteArray &token)
{
    if (token.isEmpty())
        return document(503, QStringLiteral("Logg inn"), QStringLiteral("<p>Testtjenesten har ingen konto.</p>\n"));
    const QString callback = QStringLiteral("varnostima://auth?token=") + QString::fromLatin1(QUrl::toPercentEncoding(
                                                                              QString::fromUtf8(token)));
    return document(200, QStringLiteral("Logg inn"),
                    QStringLiteral("<p>Du er logget inn som fotograf@example.no på testtjenesten.</p>\n"
                                   "<p><a id=\"callback\" href=\"%1\">Åpne Varnostima og fullfør innloggingen</a></p>\n")
                        .arg(escaped(callback)));
}

WebPage dashboard(const WebLibrary &library)
{
    QString rows;
    for (const StandInGallery &gallery : library.galleries) {
        rows += QStringLiteral("<tr><td><a href=\"%1\">%2</a></td><td>%3</td><td class=\"n\">%4</td>"
                               "<td><a href=\"%5\">forhåndsvis</a></td></tr>\n")
                    .arg(escaped(pageLink("gallery", gallery.id)), escaped(gallery.title),
                         escaped(folderPath(gallery.folderId, library.folders)))
                    .arg(gallery.images.size())
                    .arg(escaped(pageLink("preview", gallery.id)));
    }
    const QString body = rows.isEmpty()
        ? QStringLiteral("<p>Ingen gallerier ennå.</p>\n")
        : QStringLiteral("<table><tr><th>Galleri</th><th>Mappe</th><th class=\"n\">Bilder</th><th></th></tr>\n%1"
                         "</table>\n")
              .arg(rows);
    return document(200, QStringLiteral("Gallerier"), body);
}

WebPage gallery(const QString &id, bool preview, const WebLibrary &library)
{
    const auto it = std::find_if(library.galleries.cbegin(), library.galleries.cend(),
                                 [&](const StandInGallery &g) { return g.id == id || g.slug == id; });
    if (it == library.galleries.cend())
        return document(404, QStringLiteral("Fant ikke galleriet"),
                        QStringLiteral("<p>Ingen galleri har id %1.</p>\n").arg(escaped(id)));
    QString rows;
    for (const StandInImage &image : it->images) {
        rows += QStringLiteral("<tr><td>%1</td><td class=\"n\">%2</td><td><code>%3</code></td></tr>\n")
                    .arg(escaped(image.fileName))
                    .arg(image.fileSize)
                    .arg(escaped(QString::fromLatin1(image.sha256.left(16))));
    }
    QStringList facts;
    if (preview)
        facts << QStringLiteral("Forhåndsvisning");
    const QString path = folderPath(it->folderId, library.folders);
    if (!path.isEmpty())
        facts << escaped(path);
    facts << QStringLiteral("lenke: ") + escaped(it->slug);
    QString body = QStringLiteral("<p>%1</p>\n").arg(facts.join(QStringLiteral(" · ")));
    body += rows.isEmpty() ? QStringLiteral("<p>Ingen bilder i lageret.</p>\n")
                           : QStringLiteral("<table><tr><th>Fil</th><th class=\"n\">Byte</th><th>SHA-256</th></tr>\n"
                                            "%1</table>\n")
                                 .arg(rows);
    return document(200, it->title, body);
}

} // namespace

std::optional<WebPage> webPage(const QStringList &segments, const WebLibrary &library)
{
    if (segments == QStringList{QStringLiteral("auth"), QStringLiteral("device-login")})
        return deviceLogin(library.loginToken);
    if (segments == QStringList{QStringLiteral("dashboard")})
        return dashboard(library);
    if (segments.size() == 2 && (segments.first() == QLatin1String("gallery")
                                 || segments.first() == QLatin1String("preview")))
        return gallery(segments.at(1), segments.first() == QLatin1String("preview"), library);
    return std::nullopt;
}

} // namespace testsupport::standin
