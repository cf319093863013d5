#include "WebpDecoder.h"

#include "ImageFile.h"

#include <QColorSpace>
#include <QFile>
#include <QTransform>

#include <cstring>

#ifdef VARNOSTIMA_HAVE_LIBWEBP
#include <webp/decode.h>
#endif

namespace {

quint32 readLE32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The orientation tag of IFD0 in an EXIF chunk (a TIFF header, by some writers preceded by "Exif\0\0"); 1 when the
// chunk has none or is not understood.
int orientationFromExif(const uchar *p, quint32 length)
{
    if (length >= 6 && std::memcmp(p, "Exif\0\0", 6) == 0) {
        p += 6;
        length -= 6;
    }
    if (length < 8)
        return 1;
    bool little;
    if (p[0] == 'I' && p[1] == 'I')
        little = true;
    else if (p[0] == 'M' && p[1] == 'M')
        little = false;
    else
        return 1;
    const auto u16 = [p, little](quint32 at) {
        return little ? quint32(p[at]) | quint32(p[at + 1]) << 8 : quint32(p[at]) << 8 | quint32(p[at + 1]);
    };
    const auto u32 = [&u16, little](quint32 at) {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const quint32 ifd = u32(4);
    if (ifd > length - 2)
        return 1;
    const quint32 entries = u16(ifd);
    for (quint32 i = 0; i < entries; ++i) {
        const quint64 entry = quint64(ifd) + 2 + 12 * quint64(i);
        if (entry + 12 > length)
            break;
        if (u16(quint32(entry)) == 0x0112 && u16(quint32(entry) + 2) == 3) {
            const int orientation = int(u16(quint32(entry) + 8));
            return orientation >= 1 && orientation <= 8 ? orientation : 1;
        }
    }
    return 1;
}

} // namespace

QImage applyExifOrientation(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5: // transposed
        return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7: // transversed
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

struct ScaledWebpDecoder::Private {
    QFile file;
    int orientation = 1;
    QByteArray iccProfile;
#ifdef VARNOSTIMA_HAVE_LIBWEBP
    WebPBitstreamFeatures features{};
    bool decodable = false;
#endif
};

namespace {

// Metadata chunks larger than this are not believed (a real ICC profile is a few hundred kilobytes at most).
constexpr quint32 kMaxMetadataChunk = 16u << 20;
// Enough for the header and first chunks of nearly every file; the rest is read only when decoding.
constexpr qint64 kFeaturesPrefix = 64 * 1024;

} // namespace

ScaledWebpDecoder::ScaledWebpDecoder(const QString &path)
    : d(std::make_unique<Private>())
{
    // Read, never mapped: a mapped file that the exporter truncates meanwhile kills the process with SIGBUS.
    if (!openRegularFile(d->file, path))
        return;
    const QByteArray header = d->file.read(12);
    if (header.size() < 12 || !header.startsWith("RIFF") || header.mid(8, 4) != "WEBP")
        return;

    // EXIF and ICC profile are chunks of the extended format, the EXIF one usually after the image data: walk the
    // chunk headers and read only those two.
    const qint64 length = d->file.size();
    const qint64 end = qMin<qint64>(length, 8 + qint64(readLE32(reinterpret_cast<const uchar *>(header.constData()) + 4)));
    qint64 at = 12;
    while (at + 8 <= end && d->file.seek(at)) {
        const QByteArray chunkHeader = d->file.read(8);
        if (chunkHeader.size() < 8)
            break;
        const quint32 chunkLength = readLE32(reinterpret_cast<const uchar *>(chunkHeader.constData()) + 4);
        if (qint64(chunkLength) > end - at - 8)
            break;
        const bool exif = chunkHeader.startsWith("EXIF");
        if ((exif || chunkHeader.startsWith("ICCP")) && chunkLength <= kMaxMetadataChunk) {
            const QByteArray payload = d->file.read(chunkLength);
            if (payload.size() != qsizetype(chunkLength))
                break;
            if (exif)
                d->orientation = orientationFromExif(reinterpret_cast<const uchar *>(payload.constData()), chunkLength);
            else
                d->iccProfile = payload;
        }
        at += 8 + qint64(chunkLength) + (chunkLength & 1);
    }
#ifdef VARNOSTIMA_HAVE_LIBWEBP
    // Qt's reader takes an animation's first frame; libwebp's still decoder refuses animations.
    if (!d->file.seek(0))
        return;
    QByteArray prefix = d->file.read(kFeaturesPrefix);
    VP8StatusCode status = WebPGetFeatures(reinterpret_cast<const uint8_t *>(prefix.constData()), size_t(prefix.size()),
                                           &d->features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA && prefix.size() == kFeaturesPrefix) {
        prefix += d->file.readAll();
        status = WebPGetFeatures(reinterpret_cast<const uint8_t *>(prefix.constData()), size_t(prefix.size()),
                                 &d->features);
    }
    d->decodable = status == VP8_STATUS_OK && !d->features.has_animation;
#endif
}

ScaledWebpDecoder::~ScaledWebpDecoder() = default;

int ScaledWebpDecoder::exifOrientation() const
{
    return d->orientation;
}

#ifdef VARNOSTIMA_HAVE_LIBWEBP

bool ScaledWebpDecoder::isValid() const
{
    return d->decodable;
}

QSize ScaledWebpDecoder::size() const
{
    return isValid() ? QSize(d->features.width, d->features.height) : QSize();
}

QImage ScaledWebpDecoder::read(const QSize &scaledSize)
{
    if (!isValid() || scaledSize.isEmpty())
        return {};
    const bool alpha = d->features.has_alpha != 0;
    QImage image(scaledSize, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.isNull())
        return {};

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return {};
    // Written straight into the image: Qt's 32-bit formats are native-endian words 0xAARRGGBB. Without alpha the
    // decoder writes 0xff, which RGB32 requires.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    config.output.colorspace = alpha ? MODE_bgrA : MODE_BGRA;
#else
    config.output.colorspace = alpha ? MODE_Argb : MODE_ARGB;
#endif
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    // A second thread for the loop filter: nearly halves a large decode.
    config.options.use_threads = 1;
    if (scaledSize != size()) {
        config.options.use_scaling = 1;
        config.options.scaled_width = scaledSize.width();
        config.options.scaled_height = scaledSize.height();
    }
    // The whole file in memory: it may be rewritten while it is decoded, and then decodes as broken data.
    if (!d->file.seek(0))
        return {};
    const QByteArray data = d->file.readAll();
    const VP8StatusCode status = WebPDecode(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()),
                                            &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return {};

    image = applyExifOrientation(image, d->orientation);
    if (!d->iccProfile.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(d->iccProfile));
    return image;
}

#else // without libwebp every WebP goes through Qt's reader

bool ScaledWebpDecoder::isValid() const
{
    return false;
}

QSize ScaledWebpDecoder::size() const
{
    return {};
}

QImage ScaledWebpDecoder::read(const QSize &)
{
    return {};
}

#endif
