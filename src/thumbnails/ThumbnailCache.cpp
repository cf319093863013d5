#include "ThumbnailCache.h"

#include <QFile>
#include <QMutexLocker>

#include <cmath>
#include <limits>

#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcThumbnail, "no.varnostima.mac.Thumbnail")

namespace {

// Drops the fraction; values outside the 64-bit range saturate and NaN gives 0, so a key is always made.
qint64 truncatedToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9223372036854775807.0; // rounds to 2^63
    if (value >= limit)
        return std::numeric_limits<qint64>::max();
    if (value <= -limit)
        return std::numeric_limits<qint64>::min();
    return qint64(std::trunc(value));
}

} // namespace

FileVersion fileVersion(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return FileVersion{qint64(info.st_size), qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec)};
}

ThumbnailCache::ThumbnailCache(qsizetype maxCount, qint64 maxBytes)
    : m_maxCount(maxCount)
    , m_maxBytes(maxBytes)
{
}

ThumbnailCache &ThumbnailCache::shared()
{
    static ThumbnailCache *const instance = new ThumbnailCache;
    return *instance;
}

QImage ThumbnailCache::get(const QString &key)
{
    const QMutexLocker lock(&m_mutex);
    const auto found = m_cache.find(key);
    if (found == m_cache.end())
        return {};
    m_accessOrder.splice(m_accessOrder.end(), m_accessOrder, found->position);
    return found->image;
}

void ThumbnailCache::set(const QString &key, const QImage &image)
{
    if (image.isNull())
        return;
    const QMutexLocker lock(&m_mutex);
    auto found = m_cache.find(key);
    if (found != m_cache.end()) {
        m_bytes -= found->image.sizeInBytes();
        found->image = image;
        m_accessOrder.splice(m_accessOrder.end(), m_accessOrder, found->position);
    } else {
        m_accessOrder.push_back(key);
        m_cache.insert(key, Entry{image, std::prev(m_accessOrder.end())});
    }
    m_bytes += image.sizeInBytes();

    while (!m_accessOrder.empty() && (qsizetype(m_accessOrder.size()) > m_maxCount || m_bytes > m_maxBytes))
        erase(m_cache.find(m_accessOrder.front()));
}

void ThumbnailCache::removeAllWithPrefix(const QString &prefix)
{
    const QMutexLocker lock(&m_mutex);
    for (auto it = m_cache.begin(); it != m_cache.end();) {
        if (it.key().startsWith(prefix)) {
            m_bytes -= it->image.sizeInBytes();
            m_accessOrder.erase(it->position);
            it = m_cache.erase(it);
        } else {
            ++it;
        }
    }
}

void ThumbnailCache::erase(QHash<QString, Entry>::iterator entry)
{
    m_bytes -= entry->image.sizeInBytes();
    m_accessOrder.erase(entry->position);
    m_cache.erase(entry);
}

qsizetype ThumbnailCache::count() const
{
    const QMutexLocker lock(&m_mutex);
    return m_cache.size();
}

qint64 ThumbnailCache::byteCount() const
{
    const QMutexLocker lock(&m_mutex);
    return m_bytes;
}

QStringList ThumbnailCache::accessOrder() const
{
    const QMutexLocker lock(&m_mutex);
    return QStringList(m_accessOrder.begin(), m_accessOrder.end());
}

QString thumbnailCacheKey(const QUrl &fileURL, double maxPixelSize)
{
    const QString path = fileURL.toLocalFile();
    const FileVersion version = fileVersion(path);
    // tv_sec is floored; a time before 1970 with a fraction rounds toward zero like the positive ones, and its
    // fraction then counts down from there, so that every instant keeps a key of its own.
    qint64 seconds = version.seconds;
    qint64 fraction = version.nanoseconds;
    if (seconds < 0 && fraction > 0) {
        ++seconds;
        fraction -= 1'000'000'000;
    }
    return path + QLatin1Char('@') + QString::number(truncatedToInt64(maxPixelSize)) + QLatin1Char('@')
        + QString::number(seconds) + QLatin1Char('@') + QString::number(version.size) + QLatin1Char('@')
        + QString::number(fraction);
}
