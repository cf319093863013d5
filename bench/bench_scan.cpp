// Scan and state-file figures on a photographer-sized tree (2,000 folders, 200,000 images by default).
//
//   bench_scan [--dir PATH] [--folders N] [--images N] [--runs N]
//
// Without --dir the tree is generated in a temporary folder (sparse files, sizes and times varied) and removed at
// the end; with --dir an existing tree is used as it stands, or generated there when the folder is empty.
// Figures are wall-clock, warm cache (one untimed pass of each first), best of --runs.

#include "platform/ExportFolderBookmark.h"
#include "sync/SyncManager.h"
#include "sync/SyncStateStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void generateTree(const QString &root, int folders, int imagesPerFolder)
{
    // Years, then months, then shoots: three levels, like a real archive.
    for (int f = 0; f < folders; ++f) {
        const QString dir = QStringLiteral("%1/%2/%3-%4/Shoot_%5")
                                .arg(root)
                                .arg(2000 + f / 120)
                                .arg((f / 10) % 12 + 1, 2, 10, QLatin1Char('0'))
                                .arg(QStringLiteral("Kunde"))
                                .arg(f);
        QDir().mkpath(dir);
        const QByteArray base = QFile::encodeName(dir);
        for (int i = 0; i < imagesPerFolder; ++i) {
            const QByteArray file = base + "/IMG_" + QByteArray::number(i) + (i % 7 == 0 ? ".webp" : ".jpg");
            const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::ftruncate(fd, 1000000 + (qint64(f) * 7919 + i * 104729) % 20000000) != 0) {
                std::fprintf(stderr, "cannot create %s\n", file.constData());
                std::exit(1);
            }
            ::close(fd);
        }
    }
}

double bestOf(int runs, const std::function<void()> &work)
{
    work(); // warm the cache
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString dir;
    int folders = 2000;
    int images = 200000;
    int runs = 3;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--dir")
            dir = args[i + 1];
        else if (args[i] == "--folders")
            folders = args[i + 1].toInt();
        else if (args[i] == "--images")
            images = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
    }
    QTemporaryDir temporary;
    if (dir.isEmpty())
        dir = temporary.path();
    if (QDir(dir).isEmpty()) {
        QElapsedTimer timer;
        timer.start();
        generateTree(dir, folders, std::max(1, images / std::max(1, folders)));
        std::printf("generated %d folders, %d images in %.1f s under %s\n", folders, images,
                    timer.nsecsElapsed() / 1e9, qPrintable(dir));
    }

    // find, its output read through a pipe like ours is built in memory.
    qint64 findLines = 0;
    const double findSeconds = bestOf(runs, [&] {
        QProcess find;
        find.start("find", {dir, "-type", "f", "-printf", "%s %T@\n"});
        find.waitForFinished(-1);
        findLines = find.readAllStandardOutput().count('\n');
    });

    QList<SyncFolder> scanned;
    const double scanSeconds = bestOf(runs, [&] { scanned = FolderScanner::scanFolderTree(dir, {}); });
    qint64 scannedImages = 0;
    for (const auto &f : scanned)
        scannedImages += f.imageCount;

    std::printf("find -type f -printf '%%s %%T@\\n': %.3f s (%lld files)\n", findSeconds, findLines);
    std::printf("scanFolderTree:                   %.3f s (%lld folders, %lld images), %.2fx find\n", scanSeconds,
                qlonglong(scanned.size()), scannedImages, scanSeconds / findSeconds);

    // The state file with a record for every image.
    for (auto &folder : scanned)
        folder.uploadedFiles = FolderScanner::uploadedMetaList(
            folder.cachedLocalFileNames()->values(),
            *folder.cachedLocalFileMeta);
    QTemporaryDir support;
    {
        // The export folder chosen, as at a real start: the state then loads without a missing bookmark.
        const QString bookmarkPath = support.path() + QStringLiteral("/watch-folder.bookmark");
        if (const std::optional<QByteArray> bookmark = ExportFolderBookmark::create(dir, nullptr))
            ExportFolderBookmark(bookmarkPath).write(*bookmark, nullptr);
        SyncManager manager(support.path());
        manager.setFolders(scanned);
        QElapsedTimer timer;
        timer.start();
        manager.saveState();
        const double uiSeconds = timer.nsecsElapsed() / 1e9;
        manager.flushState();
        const double totalSeconds = timer.nsecsElapsed() / 1e9;
        std::printf("saveState, UI thread:             %.3f s (hands shared lists to the writer)\n", uiSeconds);
        std::printf("saveState, encode and write:      %.3f s in the background (%lld bytes)\n", totalSeconds,
                    qlonglong(QFileInfo(manager.stateFilePath()).size()));
        timer.restart();
        SyncManager loaded(support.path());
        std::printf("load at start:                    %.3f s (%lld folders of records)\n",
                    timer.nsecsElapsed() / 1e9, qlonglong(loaded.pendingFolderUploads().size()));
    }
    return 0;
}
