#include "FolderFiles.h"

#include "UnicodeNames.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace folderfiles {

namespace {
constexpr std::uint64_t absentTimeBits = 0x7ff4'0000'dead'beefULL; // a signalling NaN: never a result
}

quint32 NameStore::append(QStringView name)
{
    chars.append(name);
    ends.append(quint32(chars.size()));
    return quint32(ends.size() - 1);
}

double packTime(const std::optional<double> &time)
{
    return time ? *time : std::bit_cast<double>(absentTimeBits);
}

std::optional<double> unpackTime(double packed)
{
    if (std::bit_cast<std::uint64_t>(packed) == absentTimeBits)
        return std::nullopt;
    return packed;
}

bool sameTime(double a, double b)
{
    return unpackTime(a) == unpackTime(b);
}

} // namespace folderfiles

using folderfiles::NameStore;
using folderfiles::NameStorePtr;
using folderfiles::packTime;
using folderfiles::sameTime;

namespace {

NameStore &ownStore(NameStorePtr &names)
{
    if (!names)
        names = NameStorePtr(new NameStore);
    else
        names.detach();
    return *names;
}

} // namespace

// ---- UploadRecords

UploadRecords::UploadRecords(const QList<UploadedFileMeta> &records)
{
    reserve(records.size());
    for (const UploadedFileMeta &record : records)
        append(record);
}

UploadRecords::UploadRecords(std::initializer_list<UploadedFileMeta> records)
{
    reserve(qsizetype(records.size()));
    for (const UploadedFileMeta &record : records)
        append(record);
}

UploadedFileMeta UploadRecords::at(qsizetype i) const
{
    const Record &record = m_records.at(i);
    return UploadedFileMeta{m_names->name(record.name).toString(), record.size,
                            folderfiles::unpackTime(record.mtime)};
}

bool UploadRecords::sameAt(qsizetype i, const UploadedFileMeta &record) const
{
    const Record &own = m_records.at(i);
    return own.size == record.fileSize && folderfiles::unpackTime(own.mtime) == record.mtime
           && m_names->name(own.name) == record.fileName;
}

bool UploadRecords::contains(const UploadedFileMeta &record) const
{
    for (qsizetype i = 0; i < size(); ++i) {
        if (sameAt(i, record))
            return true;
    }
    return false;
}

void UploadRecords::reserve(qsizetype records)
{
    m_records.reserve(records);
    NameStore &store = ownStore(m_names);
    store.ends.reserve(store.ends.size() + records);
}

void UploadRecords::append(const UploadedFileMeta &record)
{
    const quint32 name = ownStore(m_names).append(record.fileName);
    m_records.append(Record{name, record.fileSize, packTime(record.mtime)});
}

void UploadRecords::replace(qsizetype i, const UploadedFileMeta &record)
{
    const quint32 name = ownStore(m_names).append(record.fileName);
    m_records[i] = Record{name, record.fileSize, packTime(record.mtime)};
}

QList<UploadedFileMeta> UploadRecords::toList() const
{
    QList<UploadedFileMeta> list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}

bool operator==(const UploadRecords &a, const UploadRecords &b)
{
    if (a.size() != b.size())
        return false;
    if (a.m_names == b.m_names && a.m_records.constData() == b.m_records.constData())
        return true;
    const bool sameStore = a.m_names == b.m_names;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const UploadRecords::Record &x = a.m_records.at(i);
        const UploadRecords::Record &y = b.m_records.at(i);
        if (x.size != y.size || !sameTime(x.mtime, y.mtime))
            return false;
        if (!(sameStore && x.name == y.name) && a.m_names->name(x.name) != b.m_names->name(y.name))
            return false;
    }
    return true;
}

bool operator==(const UploadRecords &a, const QList<UploadedFileMeta> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!a.sameAt(i, b.at(i)))
            return false;
    }
    return true;
}

// ---- LocalFiles

LocalFiles::LocalFiles(const LocalFileMetaMap &map)
    : LocalFiles(Entries(map.keyValueBegin(), map.keyValueEnd()))
{
}

LocalFiles::LocalFiles(Entries entries)
{
    // A later entry of the same name replaces the earlier one.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto &a, const auto &b) { return QStringView(a.first).compare(b.first) < 0; });
    qsizetype chars = 0;
    for (const auto &entry : std::as_const(entries))
        chars += entry.first.size();
    m_names = NameStorePtr(new NameStore);
    m_names->chars.reserve(chars);
    m_names->ends.reserve(entries.size());
    m_files.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const auto &[name, meta] = entries.at(i);
        if (i + 1 < entries.size() && entries.at(i + 1).first == name)
            continue;
        m_names->append(name);
        m_files.append(File{meta.size, packTime(meta.mtime)});
    }
}

LocalFiles LocalFiles::fromNames(const QSet<QString> &names)
{
    LocalFileMetaMap map;
    for (const QString &name : names)
        map.insert(name, LocalFileMeta{});
    return LocalFiles(map);
}

qsizetype LocalFiles::indexOf(QStringView name) const
{
    qsizetype low = 0;
    qsizetype high = size();
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        const int order = nameAt(mid).compare(name);
        if (order == 0)
            return mid;
        if (order < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return -1;
}

LocalFileMeta LocalFiles::value(QStringView name) const
{
    const qsizetype i = indexOf(name);
    return i >= 0 ? metaAt(i) : LocalFileMeta{};
}

void LocalFiles::insert(const QString &name, const LocalFileMeta &meta)
{
    LocalFileMetaMap map = toMap();
    map.insert(name, meta);
    *this = LocalFiles(map);
}

QSet<QString> LocalFiles::names() const
{
    QSet<QString> result;
    result.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        result.insert(nameAt(i).toString());
    return result;
}

LocalFileMetaMap LocalFiles::toMap() const
{
    LocalFileMetaMap map;
    map.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        map.insert(nameAt(i).toString(), metaAt(i));
    return map;
}

bool operator==(const LocalFiles &a, const LocalFiles &b)
{
    if (a.size() != b.size())
        return false;
    const bool sameStore = a.m_names == b.m_names;
    if (sameStore && a.m_files.constData() == b.m_files.constData())
        return true;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const LocalFiles::File &x = a.m_files.at(i);
        const LocalFiles::File &y = b.m_files.at(i);
        if (x.size != y.size || !sameTime(x.mtime, y.mtime))
            return false;
        if (!sameStore && a.nameAt(i) != b.nameAt(i))
            return false;
    }
    return true;
}

// ---- sharing

namespace {

// A store of its own holding the cache's names only, without what earlier records added after them.
NameStorePtr namesOf(const LocalFiles &cache)
{
    NameStorePtr store(new NameStore);
    store->ends.reserve(cache.size() + 8);
    for (qsizetype i = 0; i < cache.size(); ++i)
        store->append(cache.nameAt(i));
    return store;
}

} // namespace

bool SyncFolderFiles::needsSharing(const std::optional<UploadRecords> &records, const std::optional<LocalFiles> &cache)
{
    return records && cache && !records->isEmpty() && records->m_names != cache->m_names;
}

void SyncFolderFiles::shareNames(std::optional<UploadRecords> &records, std::optional<LocalFiles> &cache)
{
    if (!needsSharing(records, cache))
        return;
    NameStorePtr store = cache->m_names;
    QHash<QStringView, quint32> extra; // names on no file of the cache, each added once
    QList<UploadRecords::Record> rebased;
    rebased.reserve(records->size());
    for (const UploadRecords::Record &record : std::as_const(records->m_records)) {
        const QStringView name = records->m_names->name(record.name);
        qsizetype index = cache->indexOf(name);
        if (index < 0) {
            const auto found = extra.constFind(name);
            if (found != extra.cend()) {
                index = *found;
            } else {
                if (extra.isEmpty())
                    store = namesOf(*cache);
                index = store->append(name);
                // The view must outlive appends to the store: it points into the records' own store.
                extra.insert(name, quint32(index));
            }
        }
        rebased.append(UploadRecords::Record{quint32(index), record.size, record.mtime});
    }
    // The cache's names keep their positions in the grown copy.
    cache->m_names = store;
    records->m_names = store;
    records->m_records = std::move(rebased);
}

qsizetype SyncFolderFiles::cacheIndex(const UploadRecords &records, qsizetype i, const LocalFiles &cache)
{
    const quint32 name = records.m_records.at(i).name;
    if (records.m_names == cache.m_names)
        return name < quint32(cache.size()) ? qsizetype(name) : -1;
    return cache.indexOf(records.m_names->name(name));
}
