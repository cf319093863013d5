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

// The file's path, "@", the size and "@", the file's modification time in whole seconds since 1970 (0 when the file
// cannot be read), so the same file at another size, or changed on disk, gets an entry of its own.
QString thumbnailCacheKey(const QUrl &fileURL, double maxPixelSize);
