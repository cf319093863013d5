#include "thumbnails/ThumbnailCache.h"
#include "thumbnails/ThumbnailLoader.h"
#include "thumbnails/WebpDecoder.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QLoggingCategory>
#include <QPainter>
#include <QScopeGuard>
#include <QSemaphore>
#include <QThreadPool>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.Thumbnail");

// With marked, the top-left quarter is red, so that the orientation can be read back after decoding.
QImage solid(int width, int height, QColor color = Qt::blue, bool marked = false)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    if (marked)
        QPainter(&image).fillRect(0, 0, width / 2, height / 2, Qt::red);
    return image;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return bytes;
}

QByteArray littleEndian(qint64 value, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += char((value >> (8 * i)) & 0xff);
    return bytes;
}

// A TIFF header with one IFD entry: the orientation tag.
QByteArray tiffWithOrientation(QDataStream::ByteOrder order, quint16 orientation)
{
    QByteArray tiff(order == QDataStream::LittleEndian ? "II*\0" : "MM\0*", 4);
    QDataStream out(&tiff, QIODevice::Append);
    out.setByteOrder(order);
    out << quint32(8) << quint16(1) << quint16(0x0112) << quint16(3) << quint32(1) << orientation << quint16(0)
        << quint32(0);
    return tiff;
}

// The image with an EXIF orientation: for JPEG a big-endian APP1 segment; for WebP Qt's simple container made
// extended, with a little-endian EXIF chunk after the image data where writers put it.
QByteArray withOrientation(const QString &format, const QImage &image, quint16 orientation)
{
    if (format == QLatin1String("jpg")) {
        const QByteArray exif = QByteArray("Exif\0\0", 6) + tiffWithOrientation(QDataStream::BigEndian, orientation);
        const QByteArray jpeg = encoded(image, "JPG");
        return jpeg.left(2) + "\xFF\xE1" + char(0) + char(exif.size() + 2) + exif + jpeg.mid(2);
    }
    const auto chunk = [](const char *fourCC, const QByteArray &payload) {
        return QByteArray(fourCC, 4) + littleEndian(payload.size(), 4) + payload + QByteArray(payload.size() % 2, 0);
    };
    const QByteArray header = littleEndian(0x08, 4) // has EXIF
        + littleEndian(image.width() - 1, 3) + littleEndian(image.height() - 1, 3);
    const QByteArray body = "WEBP" + chunk("VP8X", header) + encoded(image, "WEBP").mid(12)
        + chunk("EXIF", tiffWithOrientation(QDataStream::LittleEndian, orientation));
    return "RIFF" + littleEndian(body.size(), 4) + body;
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) < 24 && qAbs(a.green() - b.green()) < 24 && qAbs(a.blue() - b.blue()) < 24;
}

// QFile::setFileTime refuses times before 1970.
void setModified(const QString &path, qint64 msecs)
{
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), long((msecs - seconds * 1000) * 1000000)}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

class TestThumbnailCache : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("no.varnostima.mac.Thumbnail.debug=true")); // decode failures
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }

    void boundsEvictLeastRecentlyUsed()
    {
        const qint64 tile = solid(10, 10).sizeInBytes();
        ThumbnailCache cache(500, 3 * tile);
        for (const char *key : {"a", "b", "c"})
            cache.set(QString::fromLatin1(key), solid(10, 10));
        cache.get(QStringLiteral("a"));
        cache.set(QStringLiteral("d"), solid(10, 10));
        QCOMPARE(cache.accessOrder(), QStringList({"c", "a", "d"}));

        // Replacing moves the key to the end without a second entry; growing it pushes out as many as needed.
        cache.set(QStringLiteral("a"), solid(20, 10));
        cache.set(QStringLiteral("null"), QImage());
        QCOMPARE(cache.accessOrder(), QStringList({"d", "a"}));
        QCOMPARE(cache.byteCount(), 3 * tile);

        ThumbnailCache counted; // the count bound on its own
        for (int i = 0; i < 501; ++i)
            counted.set(QStringLiteral("k%1").arg(i), solid(1, 1));
        QCOMPARE(counted.count(), 500);
        QVERIFY(counted.get(QStringLiteral("k0")).isNull());
    }

    void removeByPrefixIsPlainText()
    {
        ThumbnailCache cache;
        for (const char *key : {"/Eksport/Bryllup/a.jpg@64@5", "/Eksport/Bryllup/a.jpg@400@5",
                                "/Eksport/Bryllup 2/b.jpg@400@5", "/Eksport/Dåp/c.jpg@400@5"})
            cache.set(QString::fromUtf8(key), solid(3, 3));
        cache.removeAllWithPrefix(QStringLiteral("/Eksport/Bryllup"));
        QCOMPARE(cache.accessOrder(), QStringList{QStringLiteral("/Eksport/Dåp/c.jpg@400@5")});
        QCOMPARE(cache.count(), 1);
        QCOMPARE(cache.byteCount(), solid(3, 3).sizeInBytes());
        cache.removeAllWithPrefix(QString());
        QCOMPARE(cache.count(), 0);
        QCOMPARE(cache.byteCount(), 0);
    }

    void keyFormat_data()
    {
        QTest::addColumn<double>("size");
        QTest::addColumn<qint64>("mtimeMSecs");
        QTest::addColumn<QString>("suffix");
        // path @ size asked for @ whole seconds @ file size @ the rest of the time in nanoseconds
        QTest::newRow("fractions dropped") << 400.9 << qint64(1000900) << "@400@1000@1@900000000";
        QTest::newRow("before 1970 rounds toward zero") << 2400.0 << qint64(-1500) << "@2400@-1@1@-500000000";
        QTest::newRow("just before 1970") << 64.0 << qint64(-500) << "@64@0@1@-500000000";
        QTest::newRow("not a number") << qQNaN() << qint64(5000) << "@0@5@1@0";
        QTest::newRow("beyond range saturates") << 1e300 << qint64(5000) << "@9223372036854775807@5@1@0";
    }
    void keyFormat()
    {
        QFETCH(double, size);
        QFETCH(qint64, mtimeMSecs);
        QFETCH(QString, suffix);
        const QString path = m_dir->filePath(QStringLiteral("IMG 0042.jpg"));
        writeBytes(path, "x");
        setModified(path, mtimeMSecs);
        QCOMPARE(thumbnailCacheKey(QUrl::fromLocalFile(path), size), path + suffix);
        QCOMPARE(thumbnailCacheKey(QUrl::fromLocalFile(path + "-gone"), 64), path + "-gone@64@0@-1@0");
    }

    void generate_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation"); // 0: no EXIF
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<QSize>("source");
        QTest::addColumn<double>("maxPixelSize");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<QPoint>("redCorner");
        const QSize portrait(300, 900), small(100, 50), wide(80, 40), tall(40, 80);
        for (const char *f : {"jpg", "png", "webp"})
            QTest::addRow("%s to 64", f) << f << 0 << false << portrait << 64.0 << QSize(21, 64) << QPoint(0, 0);
        for (const char *f : {"jpg", "webp"})
            QTest::addRow("%s never enlarged", f) << f << 0 << false << small << 2400.0 << small << QPoint(0, 0);
        for (const char *f : {"png", "webp"})
            QTest::addRow("%s alpha", f) << f << 0 << true << wide * 10 << 400.0 << wide * 5 << QPoint(0, 0);
        // Upright as the EXIF orientation says; scaling happens in the stored orientation.
        QTest::newRow("jpg upright") << "jpg" << 1 << false << wide << 400.0 << wide << QPoint(0, 0);
        QTest::newRow("jpg upside down") << "jpg" << 3 << false << wide << 400.0 << wide << QPoint(1, 1);
        QTest::newRow("jpg turn right") << "jpg" << 6 << false << wide << 400.0 << tall << QPoint(1, 0);
        QTest::newRow("jpg turn left, scaled") << "jpg" << 8 << false << wide << 40.0 << tall / 2 << QPoint(0, 1);
        QTest::newRow("webp turn right, scaled") << "webp" << 6 << false << wide << 40.0 << tall / 2 << QPoint(1, 0);
        // A swapped mirror and flip shows here.
        QTest::newRow("webp transposed") << "webp" << 5 << false << wide << 400.0 << tall << QPoint(0, 0);
    }
    void generate()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        QFETCH(bool, alpha);
        QFETCH(QSize, source);
        QFETCH(double, maxPixelSize);
        QFETCH(QSize, expected);
        QFETCH(QPoint, redCorner);
        QImage image = solid(source.width(), source.height(), Qt::blue, true);
        if (alpha) {
            image = image.convertToFormat(QImage::Format_ARGB32);
            image.setPixelColor(0, 0, QColor(0, 0, 0, 0));
        }
        const QString path = m_dir->filePath(QStringLiteral("image.") + format);
        if (orientation)
            writeBytes(path, withOrientation(format, image, quint16(orientation)));
        else
            QVERIFY(image.save(path, nullptr, 95));

        const QImage thumbnail = generateThumbnail(QUrl::fromLocalFile(path), maxPixelSize);
        QCOMPARE(thumbnail.size(), expected);
        QCOMPARE(thumbnail.format(), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        const int w = expected.width(), h = expected.height();
        for (const QPoint corner : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
            const QRgb pixel = thumbnail.pixel(corner.x() ? w - 1 - w / 8 : w / 8, corner.y() ? h - 1 - h / 8 : h / 8);
            QCOMPARE(qRed(pixel) > 180 && qBlue(pixel) < 80, corner == redCorner); // red there, blue elsewhere
        }
        if (!alpha)
            return;
        // Premultiplied for real: the transparent corner shows through, and no colour exceeds its alpha.
        QVERIFY(qAlpha(thumbnail.pixel(0, 0)) < 255);
        for (int i = 0; i < w * h; ++i) {
            const QRgb pixel = thumbnail.pixel(i % w, i / w);
            QVERIFY(qMax(qRed(pixel), qMax(qGreen(pixel), qBlue(pixel))) <= qAlpha(pixel));
        }
    }

    void failuresAreNeverCached_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("not a picture") << true << "Could not create thumbnail for x.jpg";
        QTest::newRow("no such file") << false << "Could not create image source for x.jpg";
        // Opening a pipe for reading would wait for a writer for good.
        QTest::newRow("a pipe") << false << "Could not create image source for x.jpg";
    }
    void failuresAreNeverCached()
    {
        QFETCH(bool, exists);
        QFETCH(QString, logLine);
        const QString path = m_dir->filePath(QStringLiteral("x.jpg"));
        if (exists)
            writeBytes(path, "not a picture at all\n");
        if (QTest::currentDataTag() == QByteArray("a pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        testsupport::LogCapture log;
        for (int attempt = 0; attempt < 2; ++attempt)
            QVERIFY(testsupport::awaitTask(loadThumbnail(QUrl::fromLocalFile(path), 400)).isNull());
        QCOMPARE(log.count(kCategory, logLine), 2);
        QVERIFY(ThumbnailCache::shared().accessOrder().filter(path).isEmpty());
    }

    // The exporter may rewrite a file while it is decoded: the decode fails, the process lives on.
    void webpTruncatedWhileDecoding()
    {
        const QString path = m_dir->filePath(QStringLiteral("w.webp"));
        // Noise, so that the file spans many pages of memory.
        QImage noise(800, 600, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, QRgb(quint32(x * 2654435761u ^ y * 40503u)));
        writeBytes(path, encoded(noise, "WEBP"));
        QVERIFY(QFileInfo(path).size() > 64 * 1024);
        ScaledWebpDecoder decoder(path);
        if (!decoder.isValid())
            QSKIP("built without libwebp");
        QFile file(path);
        QVERIFY(file.resize(40));
        QVERIFY(decoder.read(QSize(300, 200)).isNull());
    }

    void sizesAndChangesAreSeparateEntries()
    {
        const QString path = m_dir->filePath(QStringLiteral("b.png"));
        const QUrl url = QUrl::fromLocalFile(path);
        QVERIFY(solid(3000, 1500, Qt::red).save(path));
        setModified(path, 1'700'000'000'000);
        for (const double size : {64.0, 400.0, 2400.0, 64.0})
            QCOMPARE(testsupport::awaitTask(loadThumbnail(url, size)).width(), int(size));
        QCOMPARE(ThumbnailCache::shared().accessOrder().filter(path).size(), 3);

        QVERIFY(solid(50, 50, Qt::green).save(path));
        setModified(path, 1'700'000'010'000);
        QCOMPARE(testsupport::awaitTask(loadThumbnail(url, 64)).pixelColor(0, 0), QColor(Qt::green));
    }

    // An exporter that replaces a file within the same second, or keeps its time, still gets the new pixels.
    void replacedWithinTheSecond_data()
    {
        QTest::addColumn<qint64>("secondMTime"); // ms; the first version is at 1'700'000'000'100
        QTest::addColumn<QSize>("secondSize");
        QTest::newRow("same second, other fraction") << qint64(1'700'000'000'600) << QSize(60, 60);
        QTest::newRow("same time, other size") << qint64(1'700'000'000'100) << QSize(90, 60);
    }
    void replacedWithinTheSecond()
    {
        QFETCH(qint64, secondMTime);
        QFETCH(QSize, secondSize);
        const QString path = m_dir->filePath(QStringLiteral("c.jpg"));
        const QUrl url = QUrl::fromLocalFile(path);
        QVERIFY(solid(60, 60, Qt::red).save(path, "JPG", 95));
        setModified(path, 1'700'000'000'100);
        QVERIFY(near(testsupport::awaitTask(loadThumbnail(url, 400)).pixelColor(5, 5), Qt::red));

        QVERIFY(solid(secondSize.width(), secondSize.height(), Qt::green).save(path, "JPG", 95));
        setModified(path, secondMTime);
        const QImage replaced = testsupport::awaitTask(loadThumbnail(url, 400));
        QCOMPARE(replaced.size(), secondSize);
        QVERIFY(near(replaced.pixelColor(5, 5), Qt::green));
    }

    void batchKeepsInputOrder()
    {
        // Later files come from the cache while the decode pool is held busy, so the first file surely ends last;
        // 0 is a broken file.
        QList<QUrl> urls;
        const QList<int> widths{3000, 2000, 0, 1000, 0, 40};
        for (int i = 0; i < widths.size(); ++i) {
            const QString path = m_dir->filePath(QStringLiteral("%1.png").arg(i));
            writeBytes(path, widths.at(i) ? encoded(solid(widths.at(i), 30), "PNG") : "broken");
            urls.append(QUrl::fromLocalFile(path));
            if (i > 0 && widths.at(i))
                ThumbnailCache::shared().set(thumbnailCacheKey(urls.last(), 400), solid(qMin(400, widths.at(i)), 3));
        }
        ThumbnailCache::shared().set(QStringLiteral("most recent"), solid(1, 1));
        // Shared with the holding tasks: they still touch it after being released, maybe after this test returned.
        const auto release = std::make_shared<QSemaphore>();
        QThreadPool *pool = thumbnailDecodePool();
        const int held = pool->maxThreadCount();
        for (int i = 0; i < held; ++i)
            pool->start([release] { release->acquire(); });
        auto unblock = qScopeGuard([release, held] { release->release(held); });

        testsupport::LogCapture log;
        auto batch = loadThumbnails(urls, 400);
        // Each hit moves its entry behind the last one set: then those loads have their image.
        QTRY_COMPARE(ThumbnailCache::shared().accessOrder().indexOf(QStringLiteral("most recent")),
                     ThumbnailCache::shared().count() - 4);
        unblock.dismiss();
        release->release(held);

        const QList<Thumbnail> thumbnails = testsupport::awaitTask(std::move(batch));
        const QList<int> expected{0, 1, 3, 5};
        QCOMPARE(thumbnails.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(thumbnails.at(i).url, urls.at(expected.at(i)));
            QCOMPARE(thumbnails.at(i).image.width(), qMin(400, widths.at(expected.at(i))));
        }
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to load 2 of 6 thumbnails")), 1);
    }

    void listing()
    {
        QDir dir(m_dir->path());
        QVERIFY(dir.mkpath(QStringLiteral("sub")));
        for (const char *name : {"IMG_10.jpg", "IMG_2.jpg", "IMG_1.JPG", "b.png", "c.jpeg", "a.webp", ".hidden.jpg",
                                 "notes.txt", "jpg", "sub/IMG_3.jpg"})
            writeBytes(dir.filePath(QString::fromLatin1(name)), "x");
        // Only regular files, as the scan counts them: a pipe would block a decoding thread, a link is not an image.
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("IMG_0001.jpg"))).constData(), 0600), 0);
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("b.png")), dir.filePath(QStringLiteral("link.jpg"))));
        QStringList names;
        for (const QUrl &url : listFolderImagesForPreview(QUrl::fromLocalFile(m_dir->path())))
            names.append(url.toLocalFile().mid(m_dir->path().size()));
        QCOMPARE(names, QStringList({"/a.webp", "/b.png", "/c.jpeg", "/IMG_1.JPG", "/IMG_2.jpg", "/IMG_10.jpg"}));

        const QString missing = m_dir->filePath(QStringLiteral("gone"));
        testsupport::LogCapture log;
        QVERIFY(listFolderImagesForPreview(QUrl::fromLocalFile(missing)).isEmpty());
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to list images in %1: ").arg(missing)), 1);
    }
};

QTEST_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
