#include "overview/ThumbnailCache.h"
#include "overview/ThumbnailLoader.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <limits>

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.Thumbnail");

QImage solid(int width, int height, QColor color = Qt::blue)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// A picture whose top-left quarter is red, so that its orientation can be read back after decoding.
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

void appendBig16(QByteArray &out, quint16 value)
{
    out += char(value >> 8);
    out += char(value & 0xff);
}

void appendBig32(QByteArray &out, quint32 value)
{
    appendBig16(out, quint16(value >> 16));
    appendBig16(out, quint16(value & 0xffff));
}

// An APP1 segment holding a big-endian TIFF header with one IFD entry: the orientation tag.
QByteArray exifOrientationSegment(quint16 orientation)
{
    QByteArray tiff("MM\0*", 4);
    appendBig32(tiff, 8);          // offset of the first IFD
    appendBig16(tiff, 1);          // one entry
    appendBig16(tiff, 0x0112);     // Orientation
    appendBig16(tiff, 3);          // SHORT
    appendBig32(tiff, 1);          // one value
    appendBig16(tiff, orientation);
    appendBig16(tiff, 0);          // padding of the value field
    appendBig32(tiff, 0);          // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    appendBig16(segment, quint16(payload.size() + 2));
    return segment + payload;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void writeJpegWithOrientation(const QString &path, const QImage &image, quint16 orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "JPG", 95));
    QVERIFY(jpeg.startsWith("\xFF\xD8"));
    writeBytes(path, jpeg.left(2) + exifOrientationSegment(orientation) + jpeg.mid(2));
}

// QFile::setFileTime refuses times before 1970.
void setModified(const QString &path, qint64 msecsSinceEpoch)
{
    const qint64 seconds = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000 : -((-msecsSinceEpoch + 999) / 1000);
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), long((msecsSinceEpoch - seconds * 1000) * 1000000)}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

QStringList keys(int from, int to)
{
    QStringList result;
    for (int i = from; i < to; ++i)
        result.append(QStringLiteral("k%1").arg(i));
    return result;
}

} // namespace

class TestThumbnailCache : public QObject
{
    Q_OBJECT

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

    // --- the cache itself ---------------------------------------------------------------------------------------

    void countBoundEvictsLeastRecentlyUsed()
    {
        ThumbnailCache cache;
        const QImage pixel = solid(1, 1);
        for (const QString &key : keys(0, 500))
            cache.set(key, pixel);
        QVERIFY(!cache.get(QStringLiteral("k0")).isNull()); // protects k0 from the next eviction
        cache.set(QStringLiteral("k500"), pixel);

        QCOMPARE(cache.count(), 500);
        QVERIFY(cache.get(QStringLiteral("k1")).isNull());
        QVERIFY(!cache.get(QStringLiteral("k0")).isNull());
        QCOMPARE(cache.accessOrder().first(), QStringLiteral("k2"));
    }

    void replaceAndMiss()
    {
        ThumbnailCache cache;
        cache.set(QStringLiteral("a"), solid(2, 2, Qt::red));
        cache.set(QStringLiteral("b"), solid(2, 2));
        cache.set(QStringLiteral("a"), solid(4, 4, Qt::green));
        QCOMPARE(cache.count(), 2);
        QCOMPARE(cache.accessOrder(), QStringList({QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(cache.get(QStringLiteral("a")).size(), QSize(4, 4));
        QCOMPARE(cache.byteCount(), solid(2, 2).sizeInBytes() + solid(4, 4).sizeInBytes());

        QVERIFY(cache.get(QStringLiteral("absent")).isNull());
        cache.set(QStringLiteral("null"), QImage());
        QCOMPARE(cache.accessOrder(), QStringList({QStringLiteral("b"), QStringLiteral("a")}));
    }

    void byteBudgetEvictsLeastRecentlyUsed()
    {
        const qint64 tile = solid(10, 10).sizeInBytes();
        ThumbnailCache cache(500, 3 * tile);
        for (const QString &key : keys(0, 3))
            cache.set(key, solid(10, 10));
        cache.get(QStringLiteral("k0"));
        cache.set(QStringLiteral("k3"), solid(10, 10));
        QCOMPARE(cache.accessOrder(), QStringList({QStringLiteral("k2"), QStringLiteral("k0"), QStringLiteral("k3")}));

        // Growing one entry pushes out as many older ones as needed.
        cache.set(QStringLiteral("k0"), solid(20, 10));
        QCOMPARE(cache.accessOrder(), QStringList({QStringLiteral("k3"), QStringLiteral("k0")}));
        QCOMPARE(cache.byteCount(), 3 * tile);
    }

    void removeByPrefix_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QStringList>("remaining");
        const QString other = QStringLiteral("/Eksport/Dåp/c.jpg@400@5");
        QTest::newRow("plain text prefix") << QStringLiteral("/Eksport/Bryllup") << QStringList{other};
        QTest::newRow("with separator") << QStringLiteral("/Eksport/Bryllup/")
                                        << QStringList{QStringLiteral("/Eksport/Bryllup 2/b.jpg@400@5"), other};
        QTest::newRow("empty prefix") << QString() << QStringList();
        QTest::newRow("no match") << QStringLiteral("/Andre")
                                  << QStringList{QStringLiteral("/Eksport/Bryllup/a.jpg@64@5"),
                                                 QStringLiteral("/Eksport/Bryllup/a.jpg@400@5"),
                                                 QStringLiteral("/Eksport/Bryllup 2/b.jpg@400@5"), other};
    }

    void removeByPrefix()
    {
        QFETCH(QString, prefix);
        QFETCH(QStringList, remaining);
        ThumbnailCache cache;
        for (const QString &key : {QStringLiteral("/Eksport/Bryllup/a.jpg@64@5"),
                                   QStringLiteral("/Eksport/Bryllup/a.jpg@400@5"),
                                   QStringLiteral("/Eksport/Bryllup 2/b.jpg@400@5"),
                                   QStringLiteral("/Eksport/Dåp/c.jpg@400@5")})
            cache.set(key, solid(3, 3));
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
        QTest::newRow("fraction dropped") << 400.0 << qint64(1000900) << QStringLiteral("@400@1000");
        QTest::newRow("size fraction") << 64.99 << qint64(5000) << QStringLiteral("@64@5");
        QTest::newRow("before 1970 rounds toward zero") << 2400.0 << qint64(-1500) << QStringLiteral("@2400@-1");
        QTest::newRow("not a number") << std::nan("") << qint64(5000) << QStringLiteral("@0@5");
        QTest::newRow("beyond range") << 1e300 << qint64(5000)
                                      << QStringLiteral("@%1@5").arg(std::numeric_limits<qint64>::max());
    }

    void keyFormat()
    {
        QFETCH(double, size);
        QFETCH(qint64, mtimeMSecs);
        QFETCH(QString, suffix);
        const QString path = m_dir->filePath(QStringLiteral("Bryllup/IMG 0042.jpg"));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        writeBytes(path, "x");
        setModified(path, mtimeMSecs);
        QCOMPARE(thumbnailCacheKey(QUrl::fromLocalFile(path), size), path + suffix);
    }

    // --- decoding -----------------------------------------------------------------------------------------------

    void generate_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("source");
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<double>("maxPixelSize");
        QTest::addColumn<QSize>("expected");
        for (const char *format : {"jpg", "png", "webp"}) {
            const QString f = QString::fromLatin1(format);
            QTest::addRow("%s landscape to 400", format) << f << QSize(1200, 600) << false << 400.0 << QSize(400, 200);
            QTest::addRow("%s portrait to 64", format) << f << QSize(300, 900) << false << 64.0 << QSize(21, 64);
            QTest::addRow("%s never enlarged", format) << f << QSize(100, 50) << false << 2400.0 << QSize(100, 50);
        }
        QTest::newRow("png with alpha") << QStringLiteral("png") << QSize(800, 800) << true << 400.0 << QSize(400, 400);
    }

    void generate()
    {
        QFETCH(QString, format);
        QFETCH(QSize, source);
        QFETCH(bool, alpha);
        QFETCH(double, maxPixelSize);
        QFETCH(QSize, expected);
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
    }

    void exifOrientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<double>("maxPixelSize");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<QPoint>("redCorner");
        // The source is 80 x 40 with its red quarter at the top left.
        QTest::newRow("upright") << 1 << 400.0 << QSize(80, 40) << QPoint(0, 0);
        QTest::newRow("upside down") << 3 << 400.0 << QSize(80, 40) << QPoint(1, 1);
        QTest::newRow("turn right") << 6 << 400.0 << QSize(40, 80) << QPoint(1, 0);
        QTest::newRow("turn left") << 8 << 400.0 << QSize(40, 80) << QPoint(0, 1);
        QTest::newRow("turn right, scaled") << 6 << 40.0 << QSize(20, 40) << QPoint(1, 0);
    }

    void exifOrientation()
    {
        QFETCH(int, orientation);
        QFETCH(double, maxPixelSize);
        QFETCH(QSize, expected);
        QFETCH(QPoint, redCorner);
        const QString path = m_dir->filePath(QStringLiteral("rotated.jpg"));
        writeJpegWithOrientation(path, markedTopLeft(80, 40), quint16(orientation));

        const QImage thumbnail = generateThumbnail(QUrl::fromLocalFile(path), maxPixelSize);
        QCOMPARE(thumbnail.size(), expected);
        const int w = expected.width(), h = expected.height();
        for (int cx = 0; cx < 2; ++cx) {
            for (int cy = 0; cy < 2; ++cy) {
                const QRgb pixel = thumbnail.pixel(cx ? w - 1 - w / 8 : w / 8, cy ? h - 1 - h / 8 : h / 8);
                QCOMPARE(isRed(pixel), QPoint(cx, cy) == redCorner);
            }
        }
    }

    // --- loading through the shared cache -----------------------------------------------------------------------

    void sizesAreSeparateEntries()
    {
        const QString path = m_dir->filePath(QStringLiteral("a.png"));
        QVERIFY(solid(3000, 1500).save(path));
        const QUrl url = QUrl::fromLocalFile(path);
        for (const double size : {64.0, 400.0, 2400.0}) {
            const QImage image = testsupport::awaitTask(loadThumbnail(url, size));
            QCOMPARE(image.width(), int(size));
            QCOMPARE(ThumbnailCache::shared().get(thumbnailCacheKey(url, size)), image);
        }
        QCOMPARE(ThumbnailCache::shared().accessOrder().filter(path).size(), 3);
    }

    void failuresAreNeverCached()
    {
        const QString path = m_dir->filePath(QStringLiteral("x.jpg"));
        writeBytes(path, "not a picture at all\n");
        const QUrl url = QUrl::fromLocalFile(path);
        testsupport::LogCapture log;
        for (int attempt = 0; attempt < 2; ++attempt)
            QVERIFY(testsupport::awaitTask(loadThumbnail(url, 400)).isNull());
        QCOMPARE(log.count(kCategory, QStringLiteral("Could not create image source for x.jpg")), 2);
        QVERIFY(ThumbnailCache::shared().accessOrder().filter(path).isEmpty());
    }

    void changedFileIsDecodedAnew()
    {
        const QString path = m_dir->filePath(QStringLiteral("b.png"));
        const QUrl url = QUrl::fromLocalFile(path);
        QVERIFY(solid(50, 50, Qt::red).save(path));
        setModified(path, 1'700'000'000'000);
        QCOMPARE(testsupport::awaitTask(loadThumbnail(url, 64)).pixelColor(0, 0), QColor(Qt::red));
        QCOMPARE(testsupport::awaitTask(loadThumbnail(url, 64)).pixelColor(0, 0), QColor(Qt::red));

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

    // --- listing ------------------------------------------------------------------------------------------------

    void listing()
    {
        QDir dir(m_dir->path());
        QVERIFY(dir.mkpath(QStringLiteral("sub")));
        for (const char *name : {"IMG_10.jpg", "IMG_2.jpg", "IMG_1.JPG", "b.png", "c.jpeg", "a.webp", ".hidden.jpg",
                                 "notes.txt", "jpg", "sub/IMG_3.jpg"})
            writeBytes(dir.filePath(QString::fromLatin1(name)), "x");

        QStringList names;
        for (const QUrl &url : listFolderImagesForPreview(QUrl::fromLocalFile(m_dir->path()))) {
            QCOMPARE(url.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash).toLocalFile(), m_dir->path());
            names.append(url.fileName());
        }
        QCOMPARE(names, QStringList({QStringLiteral("a.webp"), QStringLiteral("b.png"), QStringLiteral("c.jpeg"),
                                     QStringLiteral("IMG_1.JPG"), QStringLiteral("IMG_2.jpg"),
                                     QStringLiteral("IMG_10.jpg")}));
    }

    void listingOfMissingFolder()
    {
        const QString missing = m_dir->filePath(QStringLiteral("gone"));
        testsupport::LogCapture log;
        QVERIFY(listFolderImagesForPreview(QUrl::fromLocalFile(missing)).isEmpty());
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to list images in %1: ").arg(missing)), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
