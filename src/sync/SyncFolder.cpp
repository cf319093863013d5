#include "SyncFolder.h"

#include "UnicodeNames.h"
#include "service/Json.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <iterator>

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
    // Four short names: comparing them beats building a set, and needs no lower-cased copy. ASCII letters are
    // folded here; Qt's folding compare, many times slower, only sees names with other letters.
    const auto sameName = [extension](QStringView known) {
        for (qsizetype i = 0; i < known.size(); ++i) {
            char16_t c = extension.at(i).unicode();
            if (c >= 0x80)
                return extension.compare(known, Qt::CaseInsensitive) == 0;
            if (c >= u'A' && c <= u'Z')
                c += u'a' - u'A';
            if (c != known.at(i).unicode())
                return false;
        }
        return true;
    };
    static constexpr QStringView known[] = {u"jpg", u"jpeg", u"png", u"webp"};
    for (const QStringView name : known) {
        if (extension.size() == name.size() && sameName(name))
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

std::optional<QString> SyncFolder::removedGalleryId() const
{
    if (status.is(SyncStatus::Case::removedLocally))
        return status.galleryId();
    static const QString placeholderPrefix = QStringLiteral("__removed__/");
    if (status.is(SyncStatus::Case::failed) && path.startsWith(placeholderPrefix))
        return path.mid(placeholderPrefix.size());
    return std::nullopt;
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

namespace {

// Calls visit with each upload record whose local file differs from it, until visit returns false.
template <typename Visit>
void forEachModifiedRecord(const SyncFolder &folder, Visit &&visit)
{
    if (!folder.uploadedFiles || folder.uploadedFiles->isEmpty() || !folder.cachedLocalFileMeta)
        return;
    const LocalFileMetaMap &meta = *folder.cachedLocalFileMeta;
    // Most names match as they stand; the canonical index is built only for one that does not.
    std::optional<LocalFileMetaMap> canonicalMeta;
    for (const auto &file : *folder.uploadedFiles) {
        auto found = meta.constFind(file.fileName);
        const LocalFileMeta *local = found != meta.cend() ? &found.value() : nullptr;
        if (!local) {
            if (!canonicalMeta) {
                canonicalMeta.emplace();
                for (auto it = meta.cbegin(); it != meta.cend(); ++it)
                    canonicalMeta->insert(canonical(it.key()), it.value());
            }
            found = canonicalMeta->constFind(canonical(file.fileName));
            if (found != canonicalMeta->cend())
                local = &found.value();
        }
        if (local && isModified(file, *local) && !visit(file))
            return;
    }
}

} // namespace

bool SyncFolder::hasModifiedFiles() const
{
    bool modified = false;
    forEachModifiedRecord(*this, [&modified](const UploadedFileMeta &) {
        modified = true;
        return false;
    });
    return modified;
}

QStringList SyncFolder::modifiedFileNames() const
{
    QSet<QString> seen;
    QStringList result;
    forEachModifiedRecord(*this, [&](const UploadedFileMeta &file) {
        const QString key = canonical(file.fileName);
        if (!seen.contains(key)) {
            seen.insert(key);
            result.append(file.fileName);
        }
        return true;
    });
    unicodenames::sortByScalars(result);
    return result;
}

bool SyncFolder::needsMetadataBaseline() const
{
    if (!uploadedFiles)
        return false;
    return std::any_of(uploadedFiles->cbegin(), uploadedFiles->cend(),
                       [](const UploadedFileMeta &f) { return f.fileSize == 0 && !f.mtime; });
}

// ---- JSON

void UploadedFileMeta::toJson(json::ObjectWriter &out) const
{
    out.string(u"fileName", fileName);
    out.integer(u"fileSize", fileSize);
    out.optNumber(u"mtime", mtime);
}

UploadedFileMeta UploadedFileMeta::fromJson(const json::ObjectReader &in)
{
    return UploadedFileMeta{in.string(u"fileName"), in.integer(u"fileSize"), in.optNumber(u"mtime")};
}

namespace {

// In the order of SyncStatus::Case.
constexpr QStringView statusCaseNames[] = {u"notSynced", u"syncing", u"synced", u"failed", u"ignored", u"removedLocally"};

} // namespace

void SyncStatus::toJson(json::ObjectWriter &out) const
{
    out.objectWith(statusCaseNames[static_cast<int>(m_case)], [this](json::ObjectWriter &payload) {
        switch (m_case) {
        case Case::notSynced:
        case Case::ignored:
            break;
        case Case::syncing:
            payload.number(u"progress", m_progress);
            break;
        case Case::synced:
            payload.string(u"galleryId", m_galleryId);
            payload.string(u"gallerySlug", m_gallerySlug);
            payload.integer(u"uploadedCount", m_uploadedCount);
            break;
        case Case::failed:
            payload.string(u"_0", m_message);
            break;
        case Case::removedLocally:
            payload.string(u"galleryId", m_galleryId);
            payload.string(u"gallerySlug", m_gallerySlug);
            break;
        }
    });
}

SyncStatus SyncStatus::fromJson(const json::ObjectReader &in)
{
    int found = -1;
    int count = 0;
    for (int i = 0; i < int(std::size(statusCaseNames)); ++i) {
        if (in.contains(statusCaseNames[i])) {
            found = i;
            ++count;
        }
    }
    if (count != 1)
        throw DecodingError(in.path() + QStringLiteral(": Invalid number of keys found, expected one."));
    const json::ObjectReader payload = in.child(statusCaseNames[found]);
    switch (static_cast<Case>(found)) {
    case Case::notSynced:
        return notSynced();
    case Case::syncing:
        return syncing(payload.number(u"progress"));
    case Case::synced: {
        QString id = payload.string(u"galleryId");
        QString slug = payload.string(u"gallerySlug");
        return synced(std::move(id), std::move(slug), payload.integer(u"uploadedCount"));
    }
    case Case::failed:
        return failed(payload.string(u"_0"));
    case Case::ignored:
        return ignored();
    case Case::removedLocally: {
        QString id = payload.string(u"galleryId");
        return removedLocally(std::move(id), payload.string(u"gallerySlug"));
    }
    }
    Q_UNREACHABLE();
}

void SyncFolder::toJson(json::ObjectWriter &out) const
{
    out.string(u"path", path);
    out.string(u"name", name);
    out.string(u"displayName", displayName);
    out.string(u"relativePath", relativePath);
    out.strings(u"parentComponents", parentComponents);
    out.integer(u"imageCount", imageCount);
    out.object(u"status", status);
    out.optObjects(u"uploadedFiles", uploadedFiles);
    out.optString(u"movedFrom", movedFrom);
}

SyncFolder SyncFolder::fromJson(const json::ObjectReader &in)
{
    SyncFolder folder;
    folder.path = in.string(u"path");
    folder.name = in.string(u"name");
    folder.displayName = in.string(u"displayName");
    folder.relativePath = in.string(u"relativePath");
    folder.parentComponents = in.strings(u"parentComponents");
    folder.imageCount = in.integer(u"imageCount");
    folder.status = in.object<SyncStatus>(u"status");
    folder.movedFrom = in.optString(u"movedFrom");
    folder.uploadedFiles = in.optObjects<UploadedFileMeta>(u"uploadedFiles");
    if (!folder.uploadedFiles) {
        if (const auto names = in.optStrings(u"uploadedFileNames"))
            folder.uploadedFiles = legacyUploadedFiles(QSet<QString>(names->cbegin(), names->cend()));
    }
    return folder;
}

QByteArray encodeSyncFolder(const SyncFolder &folder)
{
    return json::encode(folder);
}

SyncFolder decodeSyncFolder(const QByteArray &data)
{
    try {
        return json::decode<SyncFolder>(data);
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.localizedDescription());
    }
}
