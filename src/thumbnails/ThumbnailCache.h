#pragma once

#include <QHash>
#include <QImage>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <list>

Q_DECLARE_LOGGING_CATEGORY(lcThumbnail)

// Decoded thumbnails of local image files, least recently used evicted first. One instance serves the whole process
// (shared()); every operation takes the cache's own lock, so any thread may call it. Bounded both by entry count and
// by decoded bytes: 500 previews at 2400 px would otherwise hold several gigabytes.
class ThumbnailCache
{
public:
    static constexpr qsizetype kDefaultMaxCount = 500;
    static constexpr qint64 kDefaultMaxBytes = 512LL * 1024 * 1024;

    explicit ThumbnailCache(qsizetype maxCount = kDefaultMaxCount, qint64 maxBytes = kDefaultMaxBytes);
    ThumbnailCache(const ThumbnailCache &) = delete;
    ThumbnailCache &operator=(const ThumbnailCache &) = delete;

    // Created on first use, never destroyed.
    static ThumbnailCache &shared();

    // A null image when absent; a hit becomes the most recently used entry.
    QImage get(const QString &key);
    // Stores or replaces the entry as the most recently used one, then evicts until within both bounds.
    // A null image is not stored.
    void set(const QString &key, const QImage &image);
    // Plain text prefix: "/a/B" also matches "/a/B 2/x.jpg"; an empty prefix matches everything.
    void removeAllWithPrefix(const QString &prefix);

    qsizetype count() const;
    qint64 byteCount() const;
    // Keys from least to most recently used.
    QStringList accessOrder() const;

private:
    struct Entry {
        QImage image;
        std::list<QString>::iterator position;
    };

    void erase(QHash<QString, Entry>::iterator entry);

    const qsizetype m_maxCount;
    const qint64 m_maxBytes;
    mutable QMutex m_mutex;
    QHash<QString, Entry> m_cache;
    std::list<QString> m_accessOrder;
    qint64 m_bytes = 0;
};

// One state of a file's content as the file system reports it: a file rewritten or replaced gets another one, even
// within the same second. A file that cannot be read has size -1 and time 0.
struct FileVersion {
    qint64 size = -1;
    qint64 seconds = 0;     // modification time since 1970, as stored (the fraction below counts up from it)
    qint64 nanoseconds = 0; // 0 to 999999999
    bool operator==(const FileVersion &) const = default;
};

// stat(2), links followed; safe on any thread, but it touches the disk: keep it off the UI thread.
FileVersion fileVersion(const QString &path);

// The file's path, "@", the size asked for, "@", the file's modification time in whole seconds since 1970 (0 when
// the file cannot be read), then "@" and the file's size and "@" and the rest of its modification time in
// nanoseconds, so the same file at another size, or changed on disk, gets an entry of its own.
QString thumbnailCacheKey(const QUrl &fileURL, double maxPixelSize);
