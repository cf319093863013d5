#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

// The image turned upright as an EXIF orientation (1 to 8) says.
QImage applyExifOrientation(const QImage &image, int orientation);

// A still WebP decoded by libwebp, which scales while decoding: Qt's reader decodes the full size first, which for
// 54 MP is 216 MB and most of the time. Not valid for other files, for animations, or in a build without libwebp;
// those go through QImageReader.
class ScaledWebpDecoder
{
public:
    explicit ScaledWebpDecoder(const QString &path);
    ~ScaledWebpDecoder();
    ScaledWebpDecoder(const ScaledWebpDecoder &) = delete;
    ScaledWebpDecoder &operator=(const ScaledWebpDecoder &) = delete;

    // Whether read() can decode the file: a still WebP, in a build with libwebp.
    bool isValid() const;
    // The EXIF orientation (1 to 8) of any WebP file, animated ones and builds without libwebp included: Qt's
    // reader ignores it. 1 for other files.
    int exifOrientation() const;
    // As stored, before the EXIF orientation is applied.
    QSize size() const;
    // Decoded at scaledSize (a stored-orientation size), then turned upright as the EXIF orientation says, as
    // ARGB32_Premultiplied with alpha and RGB32 without. Null when the data is broken.
    QImage read(const QSize &scaledSize);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
