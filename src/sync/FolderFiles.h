#pragma once

// A folder's files as the engine keeps them: its upload records and its scan cache. A large library holds
// hundreds of thousands of them, so each name is stored once, in one buffer per folder that the records and the
// cache share, and each record or cached file is a name index with a size and a time.
//
// Both containers are implicitly shared values with the read side of the containers they replace (a list of
// UploadedFileMeta, a map from name to LocalFileMeta); they hand out values, not references.

#include <QExplicitlySharedDataPointer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSharedData>
#include <QString>

#include <initializer_list>
#include <iterator>
#include <optional>
#include <utility>

namespace json {
class ObjectReader;
class ObjectWriter;
} // namespace json

// The engine's record of one uploaded file. A fileSize of 0 stands for a size that was never recorded.
struct UploadedFileMeta {
    QString fileName;
    qint64 fileSize = 0;
    std::optional<double> mtime;

    static UploadedFileMeta fromJson(const json::ObjectReader &in);
    void toJson(json::ObjectWriter &out) const;

    bool operator==(const UploadedFileMeta &) const = default;
};
size_t qHash(const UploadedFileMeta &meta, size_t seed = 0) noexcept;

// Size and modification time of one local file.
struct LocalFileMeta {
    qint64 size = 0;
    std::optional<double> mtime;

    bool operator==(const LocalFileMeta &) const = default;
};
size_t qHash(const LocalFileMeta &meta, size_t seed = 0) noexcept;

// File name (last path component) to its metadata.
using LocalFileMetaMap = QHash<QString, LocalFileMeta>;

namespace folderfiles {

// Names back to back in one buffer. Never changed while shared: whoever adds a name to a shared store adds it
// to its own copy.
struct NameStore : QSharedData {
    QString chars;
    QList<quint32> ends; // name i is chars[ends[i - 1], ends[i])

    qsizetype size() const { return ends.size(); }
    QStringView name(qsizetype i) const
    {
        const quint32 begin = i > 0 ? ends.at(i - 1) : 0;
        return QStringView(chars).mid(begin, ends.at(i) - begin);
    }
    quint32 append(QStringView name);
};
using NameStorePtr = QExplicitlySharedDataPointer<NameStore>;

// An absent time is kept as a NaN no arithmetic produces, so that a size and a time fit in 16 bytes.
double packTime(const std::optional<double> &time);
std::optional<double> unpackTime(double packed);
bool sameTime(double a, double b);

// Iterates a container by index and hands out values.
template<typename Container, typename Value>
class ValueIterator
{
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = Value;
    using difference_type = qsizetype;
    using reference = Value;
    struct pointer {
        Value value;
        const Value *operator->() const { return &value; }
    };

    ValueIterator() = default;
    ValueIterator(const Container *c, qsizetype i) : m_c(c), m_i(i) {}
    Value operator*() const { return m_c->at(m_i); }
    pointer operator->() const { return pointer{m_c->at(m_i)}; }
    Value operator[](difference_type n) const { return m_c->at(m_i + n); }
    ValueIterator &operator++() { ++m_i; return *this; }
    ValueIterator operator++(int) { auto old = *this; ++m_i; return old; }
    ValueIterator &operator--() { --m_i; return *this; }
    ValueIterator operator--(int) { auto old = *this; --m_i; return old; }
    ValueIterator &operator+=(difference_type n) { m_i += n; return *this; }
    ValueIterator &operator-=(difference_type n) { m_i -= n; return *this; }
    friend ValueIterator operator+(ValueIterator it, difference_type n) { return it += n; }
    friend ValueIterator operator+(difference_type n, ValueIterator it) { return it += n; }
    friend ValueIterator operator-(ValueIterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const ValueIterator &a, const ValueIterator &b) { return a.m_i - b.m_i; }
    friend bool operator==(const ValueIterator &a, const ValueIterator &b) { return a.m_i == b.m_i; }
    friend auto operator<=>(const ValueIterator &a, const ValueIterator &b) { return a.m_i <=> b.m_i; }
    qsizetype index() const { return m_i; }

private:
    const Container *m_c = nullptr;
    qsizetype m_i = 0;
};

} // namespace folderfiles

class LocalFiles;

// A folder's upload records, in their order; a name may occur more than once.
class UploadRecords
{
public:
    using value_type = UploadedFileMeta;
    using const_iterator = folderfiles::ValueIterator<UploadRecords, UploadedFileMeta>;
    using iterator = const_iterator;

    UploadRecords() = default;
    UploadRecords(const QList<UploadedFileMeta> &records); // NOLINT: stands in for the list
    UploadRecords(std::initializer_list<UploadedFileMeta> records);

    qsizetype size() const { return m_records.size(); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_records.isEmpty(); }
    bool empty() const { return isEmpty(); }

    UploadedFileMeta at(qsizetype i) const;
    UploadedFileMeta operator[](qsizetype i) const { return at(i); }
    UploadedFileMeta first() const { return at(0); }
    UploadedFileMeta last() const { return at(size() - 1); }
    QStringView fileNameAt(qsizetype i) const { return m_names->name(m_records.at(i).name); }
    qint64 fileSizeAt(qsizetype i) const { return m_records.at(i).size; }
    std::optional<double> mtimeAt(qsizetype i) const { return folderfiles::unpackTime(m_records.at(i).mtime); }
    bool contains(const UploadedFileMeta &record) const;

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    void reserve(qsizetype records);
    void append(const UploadedFileMeta &record);
    void replace(qsizetype i, const UploadedFileMeta &record);
    void removeAt(qsizetype i) { m_records.removeAt(i); }
    void removeLast() { m_records.removeLast(); }

    QList<UploadedFileMeta> toList() const;
    operator QList<UploadedFileMeta>() const { return toList(); } // NOLINT: stands in for the list

    friend bool operator==(const UploadRecords &a, const UploadRecords &b);
    friend bool operator==(const UploadRecords &a, const QList<UploadedFileMeta> &b);
    // The very same data, not only equal records: a check that reads no record. Only sound while the caller
    // holds the other copy (freed data may come back at the same address).
    bool isSharedWith(const UploadRecords &other) const
    {
        return m_names == other.m_names && m_records.constData() == other.m_records.constData()
               && m_records.size() == other.m_records.size();
    }

private:
    friend class SyncFolderFiles;
    struct Record {
        quint32 name;
        qint64 size;
        double mtime;
    };
    bool sameAt(qsizetype i, const UploadedFileMeta &record) const;

    folderfiles::NameStorePtr m_names;
    QList<Record> m_records;
};

// A folder's images at the last scan: each name once, with its size and time.
class LocalFiles
{
public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = LocalFileMeta;
        using difference_type = qsizetype;

        const_iterator() = default;
        const_iterator(const LocalFiles *files, qsizetype i) : m_files(files), m_i(i) {}
        QString key() const { return m_files->nameAt(m_i).toString(); }
        LocalFileMeta value() const { return m_files->metaAt(m_i); }
        LocalFileMeta operator*() const { return value(); }
        const_iterator &operator++() { ++m_i; return *this; }
        const_iterator operator++(int) { auto old = *this; ++m_i; return old; }
        friend bool operator==(const const_iterator &a, const const_iterator &b) { return a.m_i == b.m_i; }

    private:
        const LocalFiles *m_files = nullptr;
        qsizetype m_i = 0;
    };

    LocalFiles() = default;
    LocalFiles(const LocalFileMetaMap &files); // NOLINT: stands in for the map
    using Entries = QList<std::pair<QString, LocalFileMeta>>;
    explicit LocalFiles(Entries entries);
    // Every name with size 0 and no time: a cache that only knows names.
    static LocalFiles fromNames(const QSet<QString> &names);

    qsizetype size() const { return m_files.size(); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_files.isEmpty(); }

    // The position of the name, or -1; names are found exactly, not by their canonical form.
    qsizetype indexOf(QStringView name) const;
    bool contains(QStringView name) const { return indexOf(name) >= 0; }
    bool contains(const QString &name) const { return contains(QStringView(name)); }
    LocalFileMeta value(QStringView name) const;
    LocalFileMeta value(const QString &name) const { return value(QStringView(name)); }
    QStringView nameAt(qsizetype i) const { return m_names->name(i); }
    LocalFileMeta metaAt(qsizetype i) const
    {
        return {m_files.at(i).size, folderfiles::unpackTime(m_files.at(i).mtime)};
    }

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    void insert(const QString &name, const LocalFileMeta &meta);

    QSet<QString> names() const;
    LocalFileMetaMap toMap() const;
    operator LocalFileMetaMap() const { return toMap(); } // NOLINT: stands in for the map

    friend bool operator==(const LocalFiles &a, const LocalFiles &b);

private:
    friend class SyncFolderFiles;
    struct File {
        qint64 size;
        double mtime;
    };

    // The first size() names of the store are these files' names in UTF-16 order; names after them belong to
    // the upload records that share the store.
    folderfiles::NameStorePtr m_names;
    QList<File> m_files;
};

// Puts a folder's upload records on the names of its scan cache, so that each name is stored once.
class SyncFolderFiles
{
public:
    static bool needsSharing(const std::optional<UploadRecords> &records, const std::optional<LocalFiles> &cache);
    static void shareNames(std::optional<UploadRecords> &records, std::optional<LocalFiles> &cache);
    // For a record, the position of its exact name in the cache, or -1.
    static qsizetype cacheIndex(const UploadRecords &records, qsizetype i, const LocalFiles &cache);
};
