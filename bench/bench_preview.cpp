// The inspector's preview grid and preview sheet over 24 MP JPEGs: time to the first tile and to all tiles, peak
// memory while the grid loads, and memory while stepping through a folder in the sheet.
// Usage: bench_preview [work folder] [images to step through]
//   (default /tmp/varnostima-bench-preview and 300; the one source image is kept, the folders hold hard links)

#include "BenchSupport.h"
#include "ProcessMemory.h"
#include "overview/detail/FolderDetailPreview.h"
#include "overview/detail/ImagePreviewSheet.h"
#include "thumbnails/ThumbnailCache.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

namespace {

using bench::out;
using bench::photoLike;

constexpr int kGridRuns = 3;

// A folder of `count` hard links to the source, named IMG_0001.jpg on; each path is its own cache entry.
QString linkedFolder(const QString &root, const QString &name, const QString &source, int count)
{
    const QString folder = root + QLatin1Char('/') + name;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (int i = 1; i <= count; ++i) {
        const QString target = folder + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0)
            QFile::copy(source, target);
    }
    return folder;
}

double mib(qint64 kib)
{
    return kib / 1024.0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/varnostima-bench-preview");
    const int stepCount = argc > 2 ? std::max(2, atoi(argv[2])) : 300;
    QDir().mkpath(root);
    const QString source = root + QStringLiteral("/source-24mp.jpg");
    if (!QFile::exists(source))
        photoLike(QSize(6000, 4000), false).save(source, "JPEG", 92);
    out() << "Source: 6000 x 4000 JPEG, " << QFile(source).size() / 1024 << " KiB; "
          << QThread::idealThreadCount() << " cores\n";

    // ---- the grid of a 50-image folder
    const QString grid = linkedFolder(root, QStringLiteral("grid"), source, 50);
    QList<qint64> firstTile;
    QList<qint64> allTiles;
    QList<qint64> peakAbove;
    for (int run = 0; run < kGridRuns; ++run) {
        FolderDetailPreview preview;
        preview.resize(480, 800);
        QEventLoop loop;
        QElapsedTimer clock;
        qint64 first = -1;
        QObject::connect(&preview, &FolderDetailPreview::stateChanged, [&] {
            if (first < 0 && preview.state() == FolderDetailPreview::State::Grid)
                first = clock.elapsed();
        });
        QObject::connect(&preview, &FolderDetailPreview::loadFinished, &loop, &QEventLoop::quit);
        const qint64 idle = bench::statusKiB("VmRSS:");
        bench::resetPeakRss();
        SyncFolder folder;
        folder.path = grid;
        clock.start();
        preview.setFolder(folder); // also drops the folder's cached thumbnails: every run decodes
        loop.exec();
        allTiles << clock.elapsed();
        firstTile << first;
        peakAbove << bench::statusKiB("VmHWM:") - idle;
        if (preview.thumbnails().size() != 50)
            out() << "  (only " << preview.thumbnails().size() << " tiles)\n";
    }
    std::sort(firstTile.begin(), firstTile.end());
    std::sort(allTiles.begin(), allTiles.end());
    std::sort(peakAbove.begin(), peakAbove.end());
    out() << "Grid of 50 images, " << kGridRuns << " runs (min / median / max):\n"
          << "  first tile shown: " << firstTile.first() << " / " << firstTile[kGridRuns / 2] << " / " << firstTile.last()
          << " ms\n"
          << "  all tiles:        " << allTiles.first() << " / " << allTiles[kGridRuns / 2] << " / " << allTiles.last()
          << " ms\n"
          << "  peak RSS above idle: " << QString::number(mib(peakAbove.first()), 'f', 1) << " / "
          << QString::number(mib(peakAbove[kGridRuns / 2]), 'f', 1) << " / "
          << QString::number(mib(peakAbove.last()), 'f', 1) << " MiB\n";
    out().flush();

    // ---- stepping through a folder in the sheet, one image after the other as each one shows
    const QString stepping = linkedFolder(root, QStringLiteral("sheet"), source, stepCount);
    QList<QUrl> urls;
    for (int i = 1; i <= stepCount; ++i)
        urls << QUrl::fromLocalFile(stepping + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
    const qint64 idle = bench::statusKiB("VmRSS:");
    bench::resetPeakRss();
    ImagePreviewSheet sheet(urls, 0);
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&sheet, &ImagePreviewSheet::imageSettled, &loop, [&] {
        if (sheet.currentIndex() == stepCount - 1)
            loop.quit();
        else
            QTimer::singleShot(0, &sheet, &ImagePreviewSheet::showNext);
    });
    loop.exec();
    const qint64 elapsed = clock.elapsed();
    out() << "Sheet, " << stepCount << " images at 2400 px one after the other: " << elapsed << " ms ("
          << elapsed / stepCount << " ms each)\n"
          << "  RSS above idle at the end: " << QString::number(mib(bench::statusKiB("VmRSS:") - idle), 'f', 1)
          << " MiB, peak: " << QString::number(mib(bench::statusKiB("VmHWM:") - idle), 'f', 1) << " MiB; cache holds "
          << ThumbnailCache::shared().count() << " images, "
          << QString::number(ThumbnailCache::shared().byteCount() / 1048576.0, 'f', 1) << " MiB (budget "
          << ThumbnailCache::kDefaultMaxBytes / 1048576 << " MiB)\n";
    return 0;
}
