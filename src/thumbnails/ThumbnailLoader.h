#pragma once

#include <QCoroTask>
#include <QFuture>
#include <QImage>
#include <QList>
#include <QUrl>

#include "ThumbnailCache.h"

class QThreadPool;

// A decoded thumbnail and the file it came from.
struct Thumbnail {
    QUrl url;
    QImage image;
};

// Lets decoding accept images up to 1 GB decoded (a 54-megapixel WebP needs 216 MB; Qt refuses above 128 MB), and
// makes freed decode buffers go back to the system. Call once at start-up before any image is read; the decode pool
// also calls it when first used.
void raiseImageAllocationLimit();

// The low-priority pool that decodes thumbnails and lists folders for previews.
QThreadPool *thumbnailDecodePool();

// Decodes the image at no more than maxPixelSize on its longer side (never enlarged), upright as its EXIF
// orientation says, in a format that paints without conversion. A null image when the file cannot be decoded.
// Synchronous: call it off the UI thread.
QImage generateThumbnail(const QUrl &fileURL, double maxPixelSize);

// The file's thumbnail from the shared cache, or decoded on the decode pool and then cached. A failure gives a null
// image and is not cached, so the next request tries again. A decode that has started ends and fills the cache even
// when its caller has gone.
QCoro::Task<QImage> loadThumbnail(QUrl fileURL, double maxPixelSize);

// All of them at once; the images found, in the order of fileURLs. Files without an image are left out.
QCoro::Task<QList<Thumbnail>> loadThumbnails(QList<QUrl> fileURLs, double maxPixelSize);

// The folder's image files (jpg, jpeg, png, webp in any case), without hidden files and subfolders, in the order a
// person expects (IMG_2 before IMG_10). Empty, with a logged error, when the folder cannot be listed. Synchronous.
QList<QUrl> listFolderImagesForPreview(const QUrl &folderURL);

// listFolderImagesForPreview run on the decode pool, for co_await from the UI thread.
QFuture<QList<QUrl>> listFolderImagesForPreviewInBackground(const QUrl &folderURL);

// An image file of a listing and the version of it that the listing saw.
struct ListedImage {
    QUrl url;
    FileVersion version;
    bool operator==(const ListedImage &) const = default;
};

// listFolderImagesForPreview with each file's version, so that a view can tell which images changed since it last
// looked. A file gone between the listing and its stat is left out. On the decode pool.
QFuture<QList<ListedImage>> listFolderImageVersionsInBackground(const QUrl &folderURL);
