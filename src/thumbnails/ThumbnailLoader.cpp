#include "ThumbnailLoader.h"

#include "ImageFile.h"
#include "ThumbnailCache.h"
#include "WebpDecoder.h"

#include <QCollator>
#include <QLocale>
#include <QCoroFuture>
#include <QFile>
#include <QImageReader>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <filesystem>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <mutex>
#include <system_error>
#include <vector>

namespace {

constexpr int kAllocationLimitMB = 1024;

bool isImageFileName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString extension = name.mid(dot + 1).toLower();
    return extension == QLatin1String("jpg") || extension == QLatin1String("jpeg")
        || extension == QLatin1String("png") || extension == QLatin1String("webp");
}

QSize fittedSize(const QSize &size, double maxPixelSize)
{
    const int longer = qMax(size.width(), size.height());
    if (!std::isfinite(maxPixelSize) || maxPixelSize < 1.0 || longer <= maxPixelSize)
        return size;
    const double factor = maxPixelSize / longer;
    return QSize(qMax(1, int(std::lround(size.width() * factor))), qMax(1, int(std::lround(size.height() * factor))));
}

// Qt's WebP reader (used for animations and without libwebp) decodes at full size before it scales: 216 MB for
// 54 MP. Few at a time keeps the peak near half a gigabyte while the formats that scale while decoding keep the
// wider pool.
QThreadPool *fullSizeDecodePool()
{
    static QThreadPool *const pool = [] {
        raiseImageAllocationLimit();
        auto *created = new QThreadPool;
        created->setMaxThreadCount(2);
        created->setThreadPriority(QThread::LowPriority);
        return created;
    }();
    return pool;
}

struct Lookup {
    QString key;
    QImage image;
    QThreadPool *decodePool = nullptr;
};

Lookup lookUpThumbnail(const QUrl &fileURL, double maxPixelSize)
{
    Lookup lookup;
    lookup.key = thumbnailCacheKey(fileURL, maxPixelSize);
    lookup.image = ThumbnailCache::shared().get(lookup.key);
    if (lookup.image.isNull()) {
        const QString path = fileURL.toLocalFile();
        QFile file;
        // A file that cannot be opened fails at once, in whichever pool.
        const bool scalesWhileDecoding = ScaledWebpDecoder(path).isValid() || !openRegularFile(file, path)
            || QImageReader(&file).supportsOption(QImageIOHandler::ScaledSize);
        lookup.decodePool = scalesWhileDecoding ? thumbnailDecodePool() : fullSizeDecodePool();
    }
    return lookup;
}

QImage decodeAndCache(const QUrl &fileURL, double maxPixelSize, const QString &key)
{
    QImage image = generateThumbnail(fileURL, maxPixelSize);
    ThumbnailCache::shared().set(key, image);
    return image;
}

} // namespace

void raiseImageAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QImageReader::setAllocationLimit(kAllocationLimitMB);
#ifdef __GLIBC__
        // glibc raises its mmap threshold after each large free, so later decode buffers (tens of MB at 2400 px)
        // come from the heap and stay resident after they are freed: stepping through 300 large images held
        // 200 MB beyond the cache. A fixed threshold hands every buffer of 1 MB or more back to the system.
        mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
    });
}

QThreadPool *thumbnailDecodePool()
{
    static QThreadPool *const pool = [] {
        raiseImageAllocationLimit();
        auto *created = new QThreadPool;
        created->setMaxThreadCount(qBound(2, QThread::idealThreadCount() / 2, 4));
        created->setThreadPriority(QThread::LowPriority);
        return created;
    }();
    return pool;
}

namespace {

QImage toPaintFormat(QImage image)
{
    // Convert here, on the worker, so that painting on the UI thread is a plain copy.
    const QImage::Format paintFormat = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                               : QImage::Format_RGB32;
    if (image.format() != paintFormat)
        image.convertTo(paintFormat);
    image.setDevicePixelRatio(1.0);
    return image;
}

} // namespace

QImage generateThumbnail(const QUrl &fileURL, double maxPixelSize)
{
    ScaledWebpDecoder webp(fileURL.toLocalFile());
    if (webp.isValid()) {
        QImage image = webp.read(fittedSize(webp.size(), maxPixelSize));
        if (image.isNull()) {
            qCDebug(lcThumbnail, "Could not create thumbnail for %s", qUtf8Printable(fileURL.fileName()));
            return {};
        }
        return toPaintFormat(std::move(image));
    }

    // Only a file that cannot be opened has no source at all; unknown or broken data fails as a thumbnail.
    QFile file;
    if (!openRegularFile(file, fileURL.toLocalFile())) {
        qCDebug(lcThumbnail, "Could not create image source for %s", qUtf8Printable(fileURL.fileName()));
        return {};
    }
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        qCDebug(lcThumbnail, "Could not create thumbnail for %s", qUtf8Printable(fileURL.fileName()));
        return {};
    }
    // Scaling inside the reader lets JPEG decode at a fraction of its size. size() is the stored orientation, the
    // same one setScaledSize works in, so a rotated image keeps its aspect.
    const QSize stored = reader.size();
    if (stored.isValid())
        reader.setScaledSize(fittedSize(stored, maxPixelSize));

    QImage image = reader.read();
    if (image.isNull()) {
        qCDebug(lcThumbnail, "Could not create thumbnail for %s", qUtf8Printable(fileURL.fileName()));
        return {};
    }
    if (!stored.isValid()) {
        const QSize fitted = fittedSize(image.size(), maxPixelSize);
        if (fitted != image.size())
            image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    // Qt's WebP reader ignores EXIF orientation, so auto-transform leaves those sideways.
    if (!reader.supportsOption(QImageIOHandler::ImageTransformation))
        image = applyExifOrientation(image, webp.exifOrientation());
    return toPaintFormat(std::move(image));
}

QCoro::Task<QImage> loadThumbnail(QUrl fileURL, double maxPixelSize)
{
    // The stat and the cache lookup stay off the UI thread, and out of the decode queue so that hits come back at once.
    const Lookup lookup = co_await QtConcurrent::run(QThreadPool::globalInstance(), lookUpThumbnail, fileURL,
                                                     maxPixelSize);
    if (!lookup.image.isNull())
        co_return lookup.image;
    co_return co_await QtConcurrent::run(lookup.decodePool, decodeAndCache, fileURL, maxPixelSize, lookup.key);
}

QCoro::Task<QList<Thumbnail>> loadThumbnails(QList<QUrl> fileURLs, double maxPixelSize)
{
    // Tasks start eagerly: every decode is under way before the first result is awaited.
    std::vector<QCoro::Task<QImage>> loads;
    loads.reserve(fileURLs.size());
    for (const QUrl &url : std::as_const(fileURLs))
        loads.push_back(loadThumbnail(url, maxPixelSize));

    QList<Thumbnail> thumbnails;
    thumbnails.reserve(fileURLs.size());
    for (qsizetype i = 0; i < fileURLs.size(); ++i) {
        QImage image = co_await std::move(loads[size_t(i)]);
        if (!image.isNull())
            thumbnails.append(Thumbnail{fileURLs.at(i), std::move(image)});
    }
    if (thumbnails.size() < fileURLs.size())
        qCInfo(lcThumbnail, "Failed to load %lld of %lld thumbnails", qlonglong(fileURLs.size() - thumbnails.size()),
               qlonglong(fileURLs.size()));
    co_return thumbnails;
}

QList<QUrl> listFolderImagesForPreview(const QUrl &folderURL)
{
    const QString folderPath = folderURL.toLocalFile();
    std::error_code error;
    std::filesystem::directory_iterator entries(QFile::encodeName(folderPath).toStdString(), error);
    QStringList names;
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const QString name = QFile::decodeName(QByteArray::fromStdString(entries->path().filename().native()));
        if (name.startsWith(QLatin1Char('.')) || !isImageFileName(name))
            continue;
        // Only regular files, links included neither: a pipe named like an image would block a decoding thread.
        std::error_code typeError;
        if (entries->symlink_status(typeError).type() == std::filesystem::file_type::regular)
            names.append(name);
    }
    if (error) {
        qCCritical(lcThumbnail, "Failed to list images in %s: %s", qUtf8Printable(folderPath),
                   error.message().c_str());
        return {};
    }

    // The C locale would make Qt compare code points, ignoring numeric mode: fall back to the app's own language.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::NorwegianBokmal, QLocale::Norway)
                                                              : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&collator](const QString &a, const QString &b) {
        return collator.compare(a, b) < 0;
    });

    QList<QUrl> urls;
    urls.reserve(names.size());
    const QString prefix = folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    for (const QString &name : std::as_const(names))
        urls.append(QUrl::fromLocalFile(prefix + name));
    return urls;
}

QFuture<QList<QUrl>> listFolderImagesForPreviewInBackground(const QUrl &folderURL)
{
    return QtConcurrent::run(thumbnailDecodePool(), listFolderImagesForPreview, folderURL);
}

namespace {

QList<ListedImage> listFolderImageVersions(const QUrl &folderURL)
{
    const QList<QUrl> urls = listFolderImagesForPreview(folderURL);
    QList<ListedImage> images;
    images.reserve(urls.size());
    for (const QUrl &url : urls) {
        const FileVersion version = fileVersion(url.toLocalFile());
        if (version.size >= 0)
            images.append(ListedImage{url, version});
    }
    return images;
}

} // namespace

QFuture<QList<ListedImage>> listFolderImageVersionsInBackground(const QUrl &folderURL)
{
    return QtConcurrent::run(thumbnailDecodePool(), listFolderImageVersions, folderURL);
}
