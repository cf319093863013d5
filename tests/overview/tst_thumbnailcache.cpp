#include "overview/ThumbnailCache.h"
#include "overview/ThumbnailLoader.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QLoggingCategory>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.Thumbnail");

QImage solid(int width, int height, QColor color = Qt::blue)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// The top-left quarter is red, so that the orientation can be read back after decoding.
QImage markedTopLeft(int width, int height)
{
    QImage image = solid(width, height);
    QPainter(&image).fillRect(0, 0, width / 2, height / 2, Qt::red);
    return image;
}

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 180 && qBlue(pixel) < 80;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A JPEG with an APP1 segment holding a big-endian TIFF header with one IFD entry: the orientation tag.
void writeJpegWithOrientation(const QString &path, const QImage &image, quint16 orientation)
{
    QByteArray exif("Exif\0\0MM\0*", 10);
    QDataStream out(&exif, QIODevice::Append);
    out << quint32(8) << quint16(1) << quint16(0x0112) << quint16(3) << quint32(1) << orientation << quint16(0)
        << quint32(0);
    QByteArray segment("\xFF\xE1", 2);
    segment += char((exif.size() + 2) >> 8);
    segment += char((exif.size() + 2) & 0xff);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "JPG", 95));
    writeBytes(path, jpeg.left(2) + segment + exif + jpeg.mid(2));
}

void appendLE(QByteArray &bytes, quint32 value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes += char((value >> (8 * i)) & 0xff);
}

QByteArray riffChunk(const char *fourCC, const QByteArray &payload)
{
    QByteArray chunk(fourCC, 4);
    appendLE(chunk, quint32(payload.size()), 4);
    chunk += payload;
    if (payload.size() % 2)
        chunk += '\0';
    return chunk;
}

// The extended WebP container around Qt's simple lossy one, with a little-endian EXIF chunk after the image data
// where writers put it.
void writeWebpWithOrientation(const QString &path, const QImage &image, quint16 orientation)
{
    QByteArray simple;
    QBuffer buffer(&simple);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "WEBP", 95));
    QVERIFY(simple.startsWith("RIFF") && simple.mid(8, 4) == "WEBP");

    QByteArray header(4, '\0');
    header[0] = 0x08; // EXIF present
    appendLE(header, quint32(image.width() - 1), 3);
    appendLE(header, quint32(image.height() - 1), 3);
    QByteArray exif("II*\0", 4);
    QDataStream out(&exif, QIODevice::Append);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(8) << quint16(1) << quint16(0x0112) << quint16(3) << quint32(1) << orientation << quint16(0)
        << quint32(0);
    const QByteArray body = "WEBP" + riffChunk("VP8X", header) + simple.mid(12) + riffChunk("EXIF", exif);
    QByteArray file("RIFF");
    appendLE(file, quint32(body.size()), 4);
    writeBytes(path, file + body);
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
    void initTestCase()
    {
        // The decode failures are logged at debug level.
        QLoggingCategory::setFilterRules(QStringLiteral("no.varnostima.mac.Thumbnail.debug=true"));
    }

    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }

    void countBoundEvictsLeastRecentlyUsed()
    {
        ThumbnailCache cache;
        for (int i = 0; i < 500; ++i)
            cache.set(QStringLiteral("k%1").arg(i), solid(1, 1));
        QVERIFY(!cache.get(QStringLiteral("k0")).isNull()); // protects k0 from the next eviction
        QVERIFY(cache.get(QStringLiteral("absent")).isNull());
        cache.set(QStringLiteral("k500"), solid(1, 1));

        QCOMPARE(cache.count(), 500);
        QVERIFY(cache.get(QStringLiteral("k1")).isNull());
        QCOMPARE(cache.accessOrder().first(), QStringLiteral("k2"));
        QCOMPARE(cache.accessOrder().last(), QStringLiteral("k500"));
    }

    void byteBudgetEvictsLeastRecentlyUsed()
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
        QCOMPARE(cache.accessOrder(), QStringList({"d", "a"}));
        QCOMPARE(cache.byteCount(), 3 * tile);
        cache.set(QStringLiteral("null"), QImage());
        QCOMPARE(cache.count(), 2);
    }

    void removeByPrefix_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("plain text prefix") << "/Eksport/Bryllup" << QStringList{"/Eksport/Dåp/c.jpg@400@5"};
        QTest::newRow("with separator") << "/Eksport/Bryllup/"
                                        << QStringList{"/Eksport/Bryllup 2/b.jpg@400@5", "/Eksport/Dåp/c.jpg@400@5"};
        QTest::newRow("empty prefix") << QString() << QStringList();
    }
    void removeByPrefix()
    {
        QFETCH(QString, prefix);
        QFETCH(QStringList, remaining);
        ThumbnailCache cache;
        for (const char *key : {"/Eksport/Bryllup/a.jpg@64@5", "/Eksport/Bryllup/a.jpg@400@5",
                                "/Eksport/Bryllup 2/b.jpg@400@5", "/Eksport/Dåp/c.jpg@400@5"})
            cache.set(QString::fromUtf8(key), solid(3, 3));
        cache.removeAllWithPrefix(prefix);
        QCOMPARE(cache.accessOrder(), remaining);
        QCOMPARE(cache.count(), remaining.size());
        QCOMPARE(cache.byteCount(), remaining.size() * solid(3, 3).sizeInBytes());
    }

    void keyFormat_data()
    {
        QTest::addColumn<double>("size");
        QTest::addColumn<qint64>("mtimeMSecs");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("fractions dropped") << 400.9 << qint64(1000900) << "@400@1000";
        QTest::newRow("before 1970 rounds toward zero") << 2400.0 << qint64(-1500) << "@2400@-1";
        QTest::newRow("not a number") << std::nan("") << qint64(5000) << "@0@5";
        QTest::newRow("beyond range") << 1e300 << qint64(5000)
                                      << QStringLiteral("@%1@5").arg(std::numeric_limits<qint64>::max());
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
        QCOMPARE(thumbnailCacheKey(QUrl::fromLocalFile(path + "-gone"), 64), path + "-gone@64@0");
    }

    void generate_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("source");
        QTest::addColumn<double>("maxPixelSize");
        QTest::addColumn<QSize>("expected");
        for (const char *format : {"jpg", "png", "webp"})
            QTest::addRow("%s portrait to 64", format) << format << QSize(300, 900) << 64.0 << QSize(21, 64);
        for (const char *format : {"jpg", "webp"})
            QTest::addRow("%s never enlarged", format) << format << QSize(100, 50) << 2400.0 << QSize(100, 50);
        for (const char *format : {"png", "webp"})
            QTest::addRow("%s with alpha", format) << format << QSize(800, 400) << 400.0 << QSize(400, 200);
    }
    void generate()
    {
        QFETCH(QString, format);
        QFETCH(QSize, source);
        QFETCH(double, maxPixelSize);
        QFETCH(QSize, expected);
        const bool alpha = QByteArray(QTest::currentDataTag()).contains("alpha");
        QImage image = markedTopLeft(source.width(), source.height());
        if (alpha) {
            image = image.convertToFormat(QImage::Format_ARGB32);
            image.setPixelColor(0, 0, QColor(0, 0, 0, 0));
        }
        const QString path = m_dir->filePath(QStringLiteral("image.") + format);
        QVERIFY(image.save(path, nullptr, 95));

        const QImage thumbnail = generateThumbnail(QUrl::fromLocalFile(path), maxPixelSize);
        QCOMPARE(thumbnail.size(), expected);
        QCOMPARE(thumbnail.format(), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        QVERIFY(isRed(thumbnail.pixel(expected.width() / 8, expected.height() / 8)));
        QVERIFY(!isRed(thumbnail.pixel(expected.width() * 7 / 8, expected.height() * 7 / 8)));
        if (alpha) {
            // Premultiplied for real: the transparent corner shows through, and no colour exceeds its alpha.
            QVERIFY(qAlpha(thumbnail.pixel(0, 0)) < 255);
            for (int y = 0; y < expected.height(); ++y) {
                for (int x = 0; x < expected.width(); ++x) {
                    const QRgb pixel = thumbnail.pixel(x, y);
                    QVERIFY2(qMax(qRed(pixel), qMax(qGreen(pixel), qBlue(pixel))) <= qAlpha(pixel),
                             qPrintable(QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(pixel, 8, 16)));
                }
            }
        }
    }

    void exifOrientation_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<double>("maxPixelSize");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<QPoint>("redCorner");
        // The source is 80 x 40 with its red quarter at the top left.
        for (const char *format : {"jpg", "webp"}) {
            QTest::addRow("%s upright", format) << format << 1 << 400.0 << QSize(80, 40) << QPoint(0, 0);
            QTest::addRow("%s upside down", format) << format << 3 << 400.0 << QSize(80, 40) << QPoint(1, 1);
            QTest::addRow("%s turn right", format) << format << 6 << 400.0 << QSize(40, 80) << QPoint(1, 0);
            QTest::addRow("%s turn left, scaled", format) << format << 8 << 40.0 << QSize(20, 40) << QPoint(0, 1);
        }
        // The mirrored ones, where a swapped mirror and flip shows.
        QTest::newRow("webp mirrored") << "webp" << 2 << 400.0 << QSize(80, 40) << QPoint(1, 0);
        QTest::newRow("webp flipped") << "webp" << 4 << 400.0 << QSize(80, 40) << QPoint(0, 1);
        QTest::newRow("webp transposed") << "webp" << 5 << 400.0 << QSize(40, 80) << QPoint(0, 0);
        QTest::newRow("webp transversed") << "webp" << 7 << 400.0 << QSize(40, 80) << QPoint(1, 1);
    }
    void exifOrientation()
    {
        QFETCH(QString, format);
        QFETCH(int, orientation);
        QFETCH(double, maxPixelSize);
        QFETCH(QSize, expected);
        QFETCH(QPoint, redCorner);
        const QString path = m_dir->filePath(QStringLiteral("rotated.") + format);
        if (format == QLatin1String("webp"))
            writeWebpWithOrientation(path, markedTopLeft(80, 40), quint16(orientation));
        else
            writeJpegWithOrientation(path, markedTopLeft(80, 40), quint16(orientation));

        const QImage thumbnail = generateThumbnail(QUrl::fromLocalFile(path), maxPixelSize);
        QCOMPARE(thumbnail.size(), expected);
        const int w = expected.width(), h = expected.height();
        for (int cx = 0; cx < 2; ++cx) {
            for (int cy = 0; cy < 2; ++cy)
                QCOMPARE(isRed(thumbnail.pixel(cx ? w - 1 - w / 8 : w / 8, cy ? h - 1 - h / 8 : h / 8)),
                         QPoint(cx, cy) == redCorner);
        }
    }

    void failuresAreNeverCached_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("not a picture") << true << "Could not create thumbnail for x.jpg";
        QTest::newRow("no such file") << false << "Could not create image source for x.jpg";
    }
    void failuresAreNeverCached()
    {
        QFETCH(bool, exists);
        QFETCH(QString, logLine);
        const QString path = m_dir->filePath(QStringLiteral("x.jpg"));
        if (exists)
            writeBytes(path, "not a picture at all\n");
        testsupport::LogCapture log;
        for (int attempt = 0; attempt < 2; ++attempt)
            QVERIFY(testsupport::awaitTask(loadThumbnail(QUrl::fromLocalFile(path), 400)).isNull());
        QCOMPARE(log.count(kCategory, logLine), 2);
        QVERIFY(ThumbnailCache::shared().accessOrder().filter(path).isEmpty());
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

    void batchKeepsInputOrder()
    {
        // The largest file first, so that decodes end in another order than they started.
        QList<QUrl> urls;
        const QList<int> widths{3000, 2000, 0, 1000, 0, 40};
        for (int i = 0; i < widths.size(); ++i) {
            const QString path = m_dir->filePath(QStringLiteral("%1.png").arg(i));
            if (widths.at(i) > 0)
                QVERIFY(solid(widths.at(i), 30).save(path));
            else
                writeBytes(path, "broken");
            urls.append(QUrl::fromLocalFile(path));
        }
        testsupport::LogCapture log;
        const QList<Thumbnail> thumbnails = testsupport::awaitTask(loadThumbnails(urls, 400));
        QCOMPARE(thumbnails.size(), 4);
        const QList<int> expected{0, 1, 3, 5};
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(thumbnails.at(i).url, urls.at(expected.at(i)));
            QCOMPARE(thumbnails.at(i).image.width(), qMin(400, widths.at(expected.at(i))));
        }
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to load 2 of 6 thumbnails")), 1);

        log.clear();
        QVERIFY(testsupport::awaitTask(loadThumbnails({}, 400)).isEmpty());
        QVERIFY(log.lines(kCategory).isEmpty());
    }

    void listing()
    {
        QDir dir(m_dir->path());
        QVERIFY(dir.mkpath(QStringLiteral("sub")));
        for (const char *name : {"IMG_10.jpg", "IMG_2.jpg", "IMG_1.JPG", "b.png", "c.jpeg", "a.webp", ".hidden.jpg",
                                 "notes.txt", "jpg", "sub/IMG_3.jpg"})
            writeBytes(dir.filePath(QString::fromLatin1(name)), "x");
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
