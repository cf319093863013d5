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

// Names compare by canonical form. Nearly every record names its file exactly, which the shared name store
// answers by position; only the names left over are compared by canonical form, against sets built on demand.
class CanonicalNames
{
public:
    template<typename NameAt>
    CanonicalNames(qsizetype count, NameAt nameAt)
    {
        m_index.reserve(count);
        for (qsizetype i = 0; i < count; ++i)
            m_index.insert(canonical(nameAt(i).toString()), i);
    }
    // The first position whose name is canonically equal, or -1.
    qsizetype find(QStringView name) const { return m_index.value(canonical(name.toString()), -1); }

private:
    QMultiHash<QString, qsizetype> m_index;
};

const LocalFiles &emptyCache()
{
    static const LocalFiles empty;
    return empty;
}

} // namespace

std::optional<QSet<QString>> SyncFolder::uploadedFileNameSet() const
{
    if (!uploadedFiles)
        return std::nullopt;
    QSet<QString> names;
    names.reserve(uploadedFiles->size());
    for (qsizetype i = 0; i < uploadedFiles->size(); ++i)
        names.insert(uploadedFiles->fileNameAt(i).toString());
    return names;
}

std::optional<QSet<QString>> SyncFolder::cachedLocalFileNames() const
{
    if (!cachedLocalFileMeta)
        return std::nullopt;
    return cachedLocalFileMeta->names();
}

namespace {
const QString &placeholderPrefix()
{
    static const QString prefix = QStringLiteral("__removed__/");
    return prefix;
}
} // namespace

QString SyncFolder::placeholderPath(const QString &galleryId)
{
    return placeholderPrefix() + galleryId;
}

std::optional<QString> SyncFolder::removedGalleryId() const
{
    if (status.is(SyncStatus::Case::removedLocally))
        return status.galleryId();
    if (status.is(SyncStatus::Case::failed) && path.startsWith(placeholderPrefix()))
        return path.mid(placeholderPrefix().size());
    return std::nullopt;
}

QStringList SyncFolder::newFileNames() const
{
    if (!uploadedFiles)
        return {};
    const LocalFiles &local = cachedLocalFileMeta ? *cachedLocalFileMeta : emptyCache();
    const UploadRecords &records = *uploadedFiles;
    std::vector<bool> recorded(size_t(local.size()), false);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const qsizetype at = SyncFolderFiles::cacheIndex(records, i, local);
        if (at >= 0)
            recorded[size_t(at)] = true;
    }
    std::optional<CanonicalNames> uploaded;
    QStringList result;
    for (qsizetype i = 0; i < local.size(); ++i) {
        if (recorded[size_t(i)])
            continue;
        if (!uploaded)
            uploaded.emplace(records.size(), [&records](qsizetype r) { return records.fileNameAt(r); });
        if (uploaded->find(local.nameAt(i)) < 0)
            result.append(local.nameAt(i).toString());
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
    const LocalFiles &local = cachedLocalFileMeta ? *cachedLocalFileMeta : emptyCache();
    const UploadRecords &records = *uploadedFiles;
    std::optional<CanonicalNames> present;
    QSet<QString> seen;
    QStringList result;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (SyncFolderFiles::cacheIndex(records, i, local) >= 0)
            continue;
        if (!present)
            present.emplace(local.size(), [&local](qsizetype l) { return local.nameAt(l); });
        const QString name = records.fileNameAt(i).toString();
        if (present->find(name) >= 0)
            continue;
        const QString key = canonical(name);
        if (!seen.contains(key)) {
            seen.insert(key);
            result.append(name);
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
    const LocalFiles &local = *folder.cachedLocalFileMeta;
    const UploadRecords &records = *folder.uploadedFiles;
    std::optional<CanonicalNames> canonicalLocal;
    for (qsizetype i = 0; i < records.size(); ++i) {
        qsizetype at = SyncFolderFiles::cacheIndex(records, i, local);
        if (at < 0) {
            if (!canonicalLocal)
                canonicalLocal.emplace(local.size(), [&local](qsizetype l) { return local.nameAt(l); });
            at = canonicalLocal->find(records.fileNameAt(i));
        }
        if (at >= 0 && isModified(UploadedFileMeta{QString(), records.fileSizeAt(i), records.mtimeAt(i)},
                                  local.metaAt(at))
            && !visit(records.fileNameAt(i).toString()))
            return;
    }
}

} // namespace

bool SyncFolder::hasModifiedFiles() const
{
    bool modified = false;
    forEachModifiedRecord(*this, [&modified](const QString &) {
        modified = true;
        return false;
    });
    return modified;
}

QStringList SyncFolder::modifiedFileNames() const
{
    QSet<QString> seen;
    QStringList result;
    forEachModifiedRecord(*this, [&](const QString &fileName) {
        const QString key = canonical(fileName);
        if (!seen.contains(key)) {
            seen.insert(key);
            result.append(fileName);
        }
        return true;
    });
    unicodenames::sortByScalars(result);
    return result;
}

namespace {

bool knowsOnlyTheName(const UploadRecords &records, qsizetype i)
{
    return records.fileSizeAt(i) == 0 && !records.mtimeAt(i);
}

} // namespace

bool SyncFolder::needsMetadataBaseline() const
{
    if (!uploadedFiles)
        return false;
    for (qsizetype i = 0; i < uploadedFiles->size(); ++i) {
        if (knowsOnlyTheName(*uploadedFiles, i))
            return true;
    }
    return false;
}

qint64 SyncFolder::metadataBaselineCount() const
{
    qint64 count = 0;
    for (qsizetype i = 0; uploadedFiles && i < uploadedFiles->size(); ++i)
        count += knowsOnlyTheName(*uploadedFiles, i) ? 1 : 0;
    return count;
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
    if (uploadedFiles)
        out.objects(u"uploadedFiles", *uploadedFiles);
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
    if (auto records = in.optObjects<UploadedFileMeta>(u"uploadedFiles"))
        folder.uploadedFiles = UploadRecords(*records);
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
        throw SyncDecodingError(error.logDescription());
    }
}
