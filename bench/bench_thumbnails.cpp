// Thumbnail decode times per format and size next to vipsthumbnail, and peak memory while a preview grid loads.
// Usage: bench_thumbnails [work folder]   (default /tmp/varnostima-bench-thumbnails; large images are kept there)
// Needs the vips command-line tools (libvips-tools) for the comparison and for writing the WebP and PNG sources.

#include "BenchSupport.h"
#include "ProcessMemory.h"
#include "thumbnails/ThumbnailCache.h"
#include "thumbnails/ThumbnailLoader.h"
#include "thumbnails/WebpDecoder.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

using bench::median;
using bench::out;
using bench::photoLike;

constexpr int kRuns = 3;

struct Source {
    QString label;
    QSize size;
};

bool runVips(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("vips"), arguments);
    return process.waitForFinished(600000) && process.exitCode() == 0;
}

// Writes <label>.jpg, .png and .webp once; later runs reuse them.
QStringList ensureSources(const QString &folder, const Source &source)
{
    const QString jpeg = folder + QLatin1Char('/') + source.label + QStringLiteral(".jpg");
    if (!QFile::exists(jpeg)) {
        out() << "writing " << jpeg << Qt::endl;
        photoLike(source.size, true).save(jpeg, "JPG", 90);
    }
    QStringList files{jpeg};
    for (const QString &format : {QStringLiteral("webp"), QStringLiteral("png")}) {
        const QString file = folder + QLatin1Char('/') + source.label + QLatin1Char('.') + format;
        if (!QFile::exists(file)) {
            out() << "writing " << file << Qt::endl;
            const QString target = format == QLatin1String("webp") ? file + QStringLiteral("[Q=85]") : file;
            if (!runVips({QStringLiteral("copy"), jpeg, target}))
                out() << "  vips could not write " << file << Qt::endl;
        }
        files.append(file);
    }
    return files;
}

double timeOurs(const QString &file, int size)
{
    QList<double> samples;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QImage image = generateThumbnail(QUrl::fromLocalFile(file), size);
        samples.append(timer.nsecsElapsed() / 1e6);
        if (image.isNull())
            return -1;
    }
    return median(samples);
}

double timeVips(const QString &file, int size, const QString &outputFolder)
{
    QList<double> samples;
    for (int run = 0; run < kRuns; ++run) {
        QProcess process;
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral("vipsthumbnail"),
                      {file, QStringLiteral("--size"), QString::number(size), QStringLiteral("-o"),
                       outputFolder + QStringLiteral("/%s.v")});
        if (!process.waitForFinished(600000) || process.exitCode() != 0)
            return -1;
        samples.append(timer.nsecsElapsed() / 1e6);
    }
    return median(samples);
}

// The preview grid's way: 50 images, six at a time, at 400 px.
QCoro::Task<qsizetype> loadGrid(QList<QUrl> urls)
{
    qsizetype loaded = 0;
    for (qsizetype start = 0; start < urls.size(); start += 6)
        loaded += (co_await loadThumbnails(urls.mid(start, 6), 400)).size();
    co_return loaded;
}

void measureGrid(const QString &folder, const QString &label, const QString &source)
{
    const QString gridFolder = folder + QStringLiteral("/grid-") + label;
    QDir().mkpath(gridFolder);
    QList<QUrl> urls;
    for (int i = 0; i < 50; ++i) {
        const QString link = gridFolder + QStringLiteral("/IMG_%1.").arg(i) + QFileInfo(source).suffix();
        if (!QFile::exists(link))
            QFile::link(source, link);
        urls.append(QUrl::fromLocalFile(link));
    }
    ThumbnailCache::shared().removeAllWithPrefix(gridFolder);
    bench::resetPeakRss();
    const qint64 before = bench::statusKiB("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    const qsizetype loaded = QCoro::waitFor(loadGrid(urls));
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 peak = bench::statusKiB("VmHWM:");
    out() << QStringLiteral("grid of 50 x %1: %2 loaded in %3 s, RSS before %4 MB, peak %5 MB, cache %6 MB")
                 .arg(label)
                 .arg(loaded)
                 .arg(seconds, 0, 'f', 2)
                 .arg(before / 1024)
                 .arg(peak / 1024)
                 .arg(ThumbnailCache::shared().byteCount() / (1024 * 1024))
          << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    raiseImageAllocationLimit();

    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/varnostima-bench-thumbnails");
    QDir().mkpath(folder);
    const QString vipsOut = folder + QStringLiteral("/vips-out");
    QDir().mkpath(vipsOut);
    // Both come with libvips-tools: vips writes the WebP and PNG sources, vipsthumbnail is the comparison.
    for (const QString &tool : {QStringLiteral("vips"), QStringLiteral("vipsthumbnail")}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            qCritical("%s not found: install the package libvips-tools (apt-get install libvips-tools)",
                      qPrintable(tool));
            return 2;
        }
    }

    const QList<Source> sources{{QStringLiteral("24mp"), QSize(6000, 4000)}, {QStringLiteral("54mp"), QSize(9000, 6000)}};
    QHash<QString, QStringList> files;
    for (const Source &source : sources)
        files.insert(source.label, ensureSources(folder, source));

    out() << "decode pool threads: " << thumbnailDecodePool()->maxThreadCount() << Qt::endl;
    for (const QString &file : files.value(QStringLiteral("24mp"))) {
        const bool scales = ScaledWebpDecoder(file).isValid()
            || QImageReader(file).supportsOption(QImageIOHandler::ScaledSize);
        out() << QFileInfo(file).suffix() << " scales while decoding: " << (scales ? "yes" : "no") << Qt::endl;
    }
    out() << Qt::endl << QStringLiteral("%1 %2 %3 %4 %5 %6")
                             .arg(QStringLiteral("image"), -14)
                             .arg(QStringLiteral("size"), 6)
                             .arg(QStringLiteral("ours ms"), 10)
                             .arg(QStringLiteral("vips ms"), 10)
                             .arg(QStringLiteral("ours/vips"), 10)
                             .arg(QStringLiteral("file MB"), 8)
          << Qt::endl;
    // A timing that failed reads "failed", never a number, and the program then ends with an error.
    bool failed = false;
    const auto figure = [&failed](double ms, int precision = 1) {
        failed = failed || ms < 0;
        return ms < 0 ? QStringLiteral("failed") : QString::number(ms, 'f', precision);
    };
    for (const Source &source : sources) {
        for (const QString &file : files.value(source.label)) {
            for (const int size : {64, 400, 2400}) {
                const double ours = timeOurs(file, size);
                const double vips = timeVips(file, size, vipsOut);
                out() << QStringLiteral("%1 %2 %3 %4 %5 %6")
                             .arg(QFileInfo(file).fileName(), -14)
                             .arg(size, 6)
                             .arg(figure(ours), 10)
                             .arg(figure(vips), 10)
                             .arg(ours > 0 && vips > 0 ? QString::number(ours / vips, 'f', 2) : QStringLiteral("-"), 10)
                             .arg(QFileInfo(file).size() / 1e6, 8, 'f', 1)
                      << Qt::endl;
            }
        }
    }

    out() << Qt::endl;
    measureGrid(folder, QStringLiteral("24mp-jpeg"), files.value(QStringLiteral("24mp")).at(0));
    measureGrid(folder, QStringLiteral("54mp-webp"), files.value(QStringLiteral("54mp")).at(1));
    measureGrid(folder, QStringLiteral("54mp-png"), files.value(QStringLiteral("54mp")).at(2));
    return failed ? 1 : 0;
}
