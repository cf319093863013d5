#include "RecentUpload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>

#include <cmath>

namespace {

// The history's dates count from 2001-01-01 00:00:00 UTC, not from the Unix epoch.
constexpr qint64 kReferenceDateMSecs = 978307200000LL;

QString urlText(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded);
}

// A string literal with JSON escaping, written by Qt so that every control character is handled.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Whole seconds are written without a fraction or an exponent, so the file reads like the dates it holds.
QByteArray jsonSeconds(const QDateTime &date)
{
    const qint64 msecs = date.isValid() ? date.toMSecsSinceEpoch() - kReferenceDateMSecs : 0;
    if (msecs % 1000 == 0)
        return QByteArray::number(msecs / 1000);
    return QByteArray::number(double(msecs) / 1000.0, 'g', QLocale::FloatingPointShortest);
}

[[noreturn]] void fail(qsizetype index, const QString &what)
{
    throw RecentUploadDecodingError(QStringLiteral("record %1: %2").arg(index).arg(what).toStdString());
}

QString requiredString(const QJsonObject &object, const QString &key, qsizetype index)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        fail(index, QStringLiteral("key \"%1\" not found").arg(key));
    if (!value.isString())
        fail(index, QStringLiteral("key \"%1\" is not a string").arg(key));
    return value.toString();
}

qint64 requiredInteger(const QJsonObject &object, const QString &key, qsizetype index)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        fail(index, QStringLiteral("key \"%1\" not found").arg(key));
    // toInteger answers its default for anything that is not a whole number in range: two defaults tell.
    const qint64 first = value.toInteger(0);
    if (!value.isDouble() || first != value.toInteger(1))
        fail(index, QStringLiteral("key \"%1\" is not an integer").arg(key));
    return first;
}

QDateTime requiredDate(const QJsonObject &object, const QString &key, qsizetype index)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        fail(index, QStringLiteral("key \"%1\" not found").arg(key));
    if (!value.isDouble())
        fail(index, QStringLiteral("key \"%1\" is not a number").arg(key));
    const double msecs = std::round(value.toDouble() * 1000.0);
    // Far beyond any real date; keeps the conversion to an integer defined.
    if (!std::isfinite(msecs) || std::fabs(msecs) > 1e17)
        fail(index, QStringLiteral("key \"%1\" is out of range").arg(key));
    return QDateTime::fromMSecsSinceEpoch(qint64(msecs) + kReferenceDateMSecs, Qt::UTC);
}

std::optional<QUrl> optionalURL(const QJsonObject &object, const QString &key, qsizetype index)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        fail(index, QStringLiteral("key \"%1\" is not a string").arg(key));
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (value.toString().isEmpty() || !url.isValid())
        fail(index, QStringLiteral("key \"%1\" is not a valid URL").arg(key));
    return url;
}

} // namespace

QString RecentUpload::id() const
{
    if (baseURL)
        return urlText(*baseURL) + QLatin1Char('|') + galleryId;
    return galleryId;
}

bool operator==(const RecentUpload &a, const RecentUpload &b)
{
    return a.galleryId == b.galleryId && a.gallerySlug == b.gallerySlug && a.title == b.title
        && a.imageCount == b.imageCount && a.completedAt == b.completedAt && a.folderPath == b.folderPath
        && a.baseURL == b.baseURL;
}

QByteArray encodeRecentUploads(const QList<RecentUpload> &uploads)
{
    QByteArray out("[");
    for (qsizetype i = 0; i < uploads.size(); ++i) {
        const RecentUpload &upload = uploads.at(i);
        if (i > 0)
            out += ',';
        out += "{\"galleryId\":" + jsonString(upload.galleryId);
        out += ",\"gallerySlug\":" + jsonString(upload.gallerySlug);
        out += ",\"title\":" + jsonString(upload.title);
        out += ",\"imageCount\":" + QByteArray::number(upload.imageCount);
        out += ",\"completedAt\":" + jsonSeconds(upload.completedAt);
        out += ",\"folderPath\":" + jsonString(upload.folderPath);
        if (upload.baseURL)
            out += ",\"baseURL\":" + jsonString(urlText(*upload.baseURL));
        out += '}';
    }
    out += ']';
    return out;
}

QList<RecentUpload> decodeRecentUploads(const QByteArray &json, QStringList *skipped)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw RecentUploadDecodingError(
            QStringLiteral("invalid JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString()).toStdString());
    if (!document.isArray())
        throw RecentUploadDecodingError("expected an array of recent uploads");

    const QJsonArray array = document.array();
    QList<RecentUpload> uploads;
    uploads.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        try {
            if (!array.at(i).isObject())
                fail(i, QStringLiteral("not an object"));
            const QJsonObject object = array.at(i).toObject();
            RecentUpload upload;
            upload.galleryId = requiredString(object, QStringLiteral("galleryId"), i);
            upload.gallerySlug = requiredString(object, QStringLiteral("gallerySlug"), i);
            upload.title = requiredString(object, QStringLiteral("title"), i);
            upload.imageCount = requiredInteger(object, QStringLiteral("imageCount"), i);
            upload.completedAt = requiredDate(object, QStringLiteral("completedAt"), i);
            upload.folderPath = requiredString(object, QStringLiteral("folderPath"), i);
            upload.baseURL = optionalURL(object, QStringLiteral("baseURL"), i);
            uploads.append(std::move(upload));
        } catch (const RecentUploadDecodingError &error) {
            // One damaged record must not cost the user the rest of the history.
            if (skipped)
                skipped->append(QString::fromUtf8(error.what()));
        }
    }
    return uploads;
}
