#include "SyncFolder.h"

#include "CompactJsonWriter.h"
#include "StrictJson.h"
#include "UnicodeNames.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

using unicodenames::canonical;

namespace referencedate {

double fromUnix(qint64 seconds, qint64 nanoseconds)
{
    return static_cast<double>(seconds - unixOffsetSeconds) + static_cast<double>(nanoseconds) * 1e-9;
}

double fromDateTime(const QDateTime &time)
{
    return static_cast<double>(time.toMSecsSinceEpoch() - unixOffsetSeconds * 1000) / 1000.0;
}

QDateTime toDateTime(double secondsSinceReference)
{
    const auto msecs = static_cast<qint64>(std::llround(secondsSinceReference * 1000.0)) + unixOffsetSeconds * 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

} // namespace referencedate

SyncDecodingError::SyncDecodingError(const QString &description)
    : std::runtime_error(description.toStdString())
{
}

size_t qHash(const UploadedFileMeta &meta, size_t seed) noexcept
{
    return qHashMulti(seed, meta.fileName, meta.fileSize, meta.mtime.has_value(), meta.mtime.value_or(0.0));
}

size_t qHash(const LocalFileMeta &meta, size_t seed) noexcept
{
    return qHashMulti(seed, meta.size, meta.mtime.has_value(), meta.mtime.value_or(0.0));
}

bool isModified(const UploadedFileMeta &recorded, const LocalFileMeta &local)
{
    const bool sizeChanged = recorded.fileSize >= 1 && recorded.fileSize != local.size;
    if (recorded.mtime && local.mtime)
        return sizeChanged || std::fabs(*recorded.mtime - *local.mtime) > 1.0;
    return sizeChanged;
}

QList<UploadedFileMeta> legacyUploadedFiles(const QSet<QString> &names)
{
    QList<UploadedFileMeta> result;
    result.reserve(names.size());
    for (const QString &name : names)
        result.append(UploadedFileMeta{name, 0, std::nullopt});
    return result;
}

bool isImageExtension(QStringView extension)
{
    // Four short names: comparing them beats building a set, and needs no lower-cased copy.
    for (const auto known : {u"jpg", u"jpeg", u"png", u"webp"}) {
        if (extension.compare(QStringView(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isImageFileName(QStringView fileName)
{
    const auto dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return isImageExtension(fileName.mid(dot + 1));
}

std::optional<QString> mimeTypeForExtension(QStringView extension)
{
    const QString lower = extension.toString().toLower();
    if (lower == u"jpg" || lower == u"jpeg")
        return QStringLiteral("image/jpeg");
    if (lower == u"png")
        return QStringLiteral("image/png");
    if (lower == u"webp")
        return QStringLiteral("image/webp");
    return std::nullopt;
}

// ---- SyncStatus

SyncStatus SyncStatus::syncing(double progress)
{
    SyncStatus s;
    s.m_case = Case::syncing;
    s.m_progress = progress;
    return s;
}

SyncStatus SyncStatus::synced(QString galleryId, QString gallerySlug, qint64 uploadedCount)
{
    SyncStatus s;
    s.m_case = Case::synced;
    s.m_galleryId = std::move(galleryId);
    s.m_gallerySlug = std::move(gallerySlug);
    s.m_uploadedCount = uploadedCount;
    return s;
}

SyncStatus SyncStatus::failed(QString message)
{
    SyncStatus s;
    s.m_case = Case::failed;
    s.m_message = std::move(message);
    return s;
}

SyncStatus SyncStatus::ignored()
{
    SyncStatus s;
    s.m_case = Case::ignored;
    return s;
}

SyncStatus SyncStatus::removedLocally(QString galleryId, QString gallerySlug)
{
    SyncStatus s;
    s.m_case = Case::removedLocally;
    s.m_galleryId = std::move(galleryId);
    s.m_gallerySlug = std::move(gallerySlug);
    return s;
}

// ---- SyncFolder derived values

namespace {

QSet<QString> canonicalSet(const QList<UploadedFileMeta> &files)
{
    QSet<QString> names;
    names.reserve(files.size());
    for (const auto &file : files)
        names.insert(canonical(file.fileName));
    return names;
}

QSet<QString> canonicalSet(const std::optional<QSet<QString>> &names)
{
    QSet<QString> result;
    if (!names)
        return result;
    result.reserve(names->size());
    for (const auto &name : *names)
        result.insert(canonical(name));
    return result;
}

} // namespace

std::optional<QSet<QString>> SyncFolder::uploadedFileNameSet() const
{
    if (!uploadedFiles)
        return std::nullopt;
    QSet<QString> names;
    names.reserve(uploadedFiles->size());
    for (const auto &file : *uploadedFiles)
        names.insert(file.fileName);
    return names;
}

QStringList SyncFolder::newFileNames() const
{
    if (!uploadedFiles)
        return {};
    const QSet<QString> uploaded = canonicalSet(*uploadedFiles);
    QStringList result;
    if (cachedLocalFileNames) {
        for (const auto &name : *cachedLocalFileNames) {
            if (!uploaded.contains(canonical(name)))
                result.append(name);
        }
    }
    unicodenames::sortByScalars(result);
    return result;
}

qint64 SyncFolder::newFileCount() const
{
    if (!uploadedFiles)
        return status.is(SyncStatus::Case::synced) ? std::max<qint64>(0, imageCount - status.uploadedCount()) : 0;
    return newFileNames().size();
}

QStringList SyncFolder::removedFileNames() const
{
    if (!uploadedFiles)
        return {};
    const QSet<QString> local = canonicalSet(cachedLocalFileNames);
    QSet<QString> seen;
    QStringList result;
    for (const auto &file : *uploadedFiles) {
        const QString key = canonical(file.fileName);
        if (!local.contains(key) && !seen.contains(key)) {
            seen.insert(key);
            result.append(file.fileName);
        }
    }
    unicodenames::sortByScalars(result);
    return result;
}

qint64 SyncFolder::removedFileCount() const
{
    if (!uploadedFiles)
        return status.is(SyncStatus::Case::synced) ? std::max<qint64>(0, status.uploadedCount() - imageCount) : 0;
    return removedFileNames().size();
}

bool SyncFolder::hasModifiedFiles() const
{
    if (!uploadedFiles || uploadedFiles->isEmpty() || !cachedLocalFileMeta)
        return false;
    // Most names match as they stand; the canonical index is built only for one that does not.
    std::optional<LocalFileMetaMap> canonicalMeta;
    for (const auto &file : *uploadedFiles) {
        auto found = cachedLocalFileMeta->constFind(file.fileName);
        const LocalFileMeta *local = found != cachedLocalFileMeta->cend() ? &found.value() : nullptr;
        if (!local) {
            if (!canonicalMeta) {
                canonicalMeta.emplace();
                for (auto it = cachedLocalFileMeta->cbegin(); it != cachedLocalFileMeta->cend(); ++it)
                    canonicalMeta->insert(canonical(it.key()), it.value());
            }
            found = canonicalMeta->constFind(canonical(file.fileName));
            if (found != canonicalMeta->cend())
                local = &found.value();
        }
        if (local && isModified(file, *local))
            return true;
    }
    return false;
}

bool SyncFolder::needsMetadataBaseline() const
{
    if (!uploadedFiles)
        return false;
    return std::any_of(uploadedFiles->cbegin(), uploadedFiles->cend(),
                       [](const UploadedFileMeta &f) { return f.fileSize == 0 && !f.mtime; });
}

// ---- JSON

void writeJson(CompactJsonWriter &out, const UploadedFileMeta &meta)
{
    out.beginObject();
    out.key(u"fileName");
    out.string(meta.fileName);
    out.key(u"fileSize");
    out.integer(meta.fileSize);
    if (meta.mtime) {
        out.key(u"mtime");
        out.number(*meta.mtime);
    }
    out.endObject();
}

void writeJson(CompactJsonWriter &out, const SyncStatus &status)
{
    out.beginObject();
    switch (status.kind()) {
    case SyncStatus::Case::notSynced:
        out.key(u"notSynced");
        out.beginObject();
        break;
    case SyncStatus::Case::syncing:
        out.key(u"syncing");
        out.beginObject();
        out.key(u"progress");
        out.number(status.progress());
        break;
    case SyncStatus::Case::synced:
        out.key(u"synced");
        out.beginObject();
        out.key(u"galleryId");
        out.string(status.galleryId());
        out.key(u"gallerySlug");
        out.string(status.gallerySlug());
        out.key(u"uploadedCount");
        out.integer(status.uploadedCount());
        break;
    case SyncStatus::Case::failed:
        out.key(u"failed");
        out.beginObject();
        out.key(u"_0");
        out.string(status.failureMessage());
        break;
    case SyncStatus::Case::ignored:
        out.key(u"ignored");
        out.beginObject();
        break;
    case SyncStatus::Case::removedLocally:
        out.key(u"removedLocally");
        out.beginObject();
        out.key(u"galleryId");
        out.string(status.galleryId());
        out.key(u"gallerySlug");
        out.string(status.gallerySlug());
        break;
    }
    out.endObject();
    out.endObject();
}

void writeJson(CompactJsonWriter &out, const SyncFolder &folder)
{
    out.beginObject();
    out.key(u"path");
    out.string(folder.path);
    out.key(u"name");
    out.string(folder.name);
    out.key(u"displayName");
    out.string(folder.displayName);
    out.key(u"relativePath");
    out.string(folder.relativePath);
    out.key(u"parentComponents");
    out.beginArray();
    for (const auto &component : folder.parentComponents)
        out.string(component);
    out.endArray();
    out.key(u"imageCount");
    out.integer(folder.imageCount);
    out.key(u"status");
    writeJson(out, folder.status);
    if (folder.uploadedFiles) {
        out.key(u"uploadedFiles");
        out.beginArray();
        for (const auto &file : *folder.uploadedFiles)
            writeJson(out, file);
        out.endArray();
    }
    if (folder.movedFrom) {
        out.key(u"movedFrom");
        out.string(*folder.movedFrom);
    }
    out.endObject();
}

using namespace strictjson;

UploadedFileMeta uploadedFileMetaFromJson(const QJsonValue &value, const QString &where)
{
    const QJsonObject o = object(value, where);
    UploadedFileMeta meta;
    meta.fileName = string(required(o, QLatin1StringView("fileName"), where), at(where, QLatin1StringView("fileName")));
    meta.fileSize = integer(required(o, QLatin1StringView("fileSize"), where), at(where, QLatin1StringView("fileSize")));
    const QJsonValue mtime = o.value(QLatin1StringView("mtime"));
    if (!isAbsent(mtime))
        meta.mtime = number(mtime, at(where, QLatin1StringView("mtime")));
    return meta;
}

SyncStatus syncStatusFromJson(const QJsonValue &value, const QString &where)
{
    static const QLatin1StringView caseNames[] = {
        QLatin1StringView("notSynced"), QLatin1StringView("syncing"), QLatin1StringView("synced"),
        QLatin1StringView("failed"),    QLatin1StringView("ignored"), QLatin1StringView("removedLocally"),
    };
    const QJsonObject o = object(value, where);
    int found = -1;
    int count = 0;
    for (int i = 0; i < 6; ++i) {
        if (o.contains(caseNames[i])) {
            found = i;
            ++count;
        }
    }
    if (count != 1)
        fail(where, QStringLiteral("Invalid number of keys found, expected one."));
    const QString payloadPlace = at(where, caseNames[found]);
    const QJsonObject payload = object(o.value(caseNames[found]), payloadPlace);
    auto text = [&](const char *key) {
        const QLatin1StringView k(key);
        return string(required(payload, k, payloadPlace), at(payloadPlace, k));
    };
    switch (static_cast<SyncStatus::Case>(found)) {
    case SyncStatus::Case::notSynced:
        return SyncStatus::notSynced();
    case SyncStatus::Case::syncing:
        return SyncStatus::syncing(number(required(payload, QLatin1StringView("progress"), payloadPlace),
                                          at(payloadPlace, QLatin1StringView("progress"))));
    case SyncStatus::Case::synced: {
        QString id = text("galleryId");
        QString slug = text("gallerySlug");
        const qint64 count = integer(required(payload, QLatin1StringView("uploadedCount"), payloadPlace),
                                     at(payloadPlace, QLatin1StringView("uploadedCount")));
        return SyncStatus::synced(std::move(id), std::move(slug), count);
    }
    case SyncStatus::Case::failed:
        return SyncStatus::failed(text("_0"));
    case SyncStatus::Case::ignored:
        return SyncStatus::ignored();
    case SyncStatus::Case::removedLocally: {
        QString id = text("galleryId");
        return SyncStatus::removedLocally(std::move(id), text("gallerySlug"));
    }
    }
    Q_UNREACHABLE();
}

SyncFolder syncFolderFromJson(const QJsonValue &value, const QString &where)
{
    const QJsonObject o = object(value, where);
    auto text = [&](const char *key) {
        const QLatin1StringView k(key);
        return string(required(o, k, where), at(where, k));
    };
    SyncFolder folder;
    folder.path = text("path");
    folder.name = text("name");
    folder.displayName = text("displayName");
    folder.relativePath = text("relativePath");
    folder.parentComponents = strings(required(o, QLatin1StringView("parentComponents"), where),
                                      at(where, QLatin1StringView("parentComponents")));
    folder.imageCount = integer(required(o, QLatin1StringView("imageCount"), where),
                                at(where, QLatin1StringView("imageCount")));
    folder.status = syncStatusFromJson(required(o, QLatin1StringView("status"), where),
                                       at(where, QLatin1StringView("status")));
    const QJsonValue movedFrom = o.value(QLatin1StringView("movedFrom"));
    if (!isAbsent(movedFrom))
        folder.movedFrom = string(movedFrom, at(where, QLatin1StringView("movedFrom")));

    const QJsonValue uploaded = o.value(QLatin1StringView("uploadedFiles"));
    if (!isAbsent(uploaded)) {
        const QString place = at(where, QLatin1StringView("uploadedFiles"));
        const QJsonArray items = array(uploaded, place);
        QList<UploadedFileMeta> files;
        files.reserve(items.size());
        for (qsizetype i = 0; i < items.size(); ++i)
            files.append(uploadedFileMetaFromJson(items.at(i), at(place, i)));
        folder.uploadedFiles = std::move(files);
    } else if (const QJsonValue legacy = o.value(QLatin1StringView("uploadedFileNames")); !isAbsent(legacy)) {
        const QStringList names = strings(legacy, at(where, QLatin1StringView("uploadedFileNames")));
        folder.uploadedFiles = legacyUploadedFiles(QSet<QString>(names.cbegin(), names.cend()));
    }
    return folder;
}

QByteArray encodeSyncFolder(const SyncFolder &folder)
{
    CompactJsonWriter out;
    writeJson(out, folder);
    return out.bytes();
}

SyncFolder decodeSyncFolder(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw SyncDecodingError(QStringLiteral("The data is not valid JSON: ") + error.errorString());
    if (!document.isObject())
        strictjson::fail(QStringLiteral("$"), QStringLiteral("Expected an object"));
    return syncFolderFromJson(document.object(), QStringLiteral("$"));
}
