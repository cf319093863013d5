// The overview's folder list with a photographer-sized archive: 2,000 folders under three levels, 100 image
// records each.
//
//   bench_folderlist [--folders N] [--runs N]
//
// Prints: building and flattening the tree; the row model's first build and a full rebuild; one folder's progress
// through the model and the shown list (rows announced changed, time to repaint); scrolling the whole list one
// frame at a time (the slowest frame). Offscreen, best or median of --runs.

#include "BenchSupport.h"
#include "ui/Theme.h"
#include "overview/list/FolderListView.h"
#include "overview/list/FolderTree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

using bench::median;
using bench::recordedFolder;

QList<SyncFolder> archive(int count)
{
    QStringList files;
    for (int k = 0; k < 100; ++k)
        files.append(QStringLiteral("IMG_%1.jpg").arg(k, 4, 10, QLatin1Char('0')));
    QList<SyncFolder> folders;
    folders.reserve(count);
    for (int i = 0; i < count; ++i) {
        SyncFolder f = recordedFolder(i, files);
        f.status = i % 7 == 0 ? SyncStatus::notSynced() : SyncStatus::synced(QStringLiteral("g"), QStringLiteral("s"), 100);
        folders.append(f);
    }
    return folders;
}

double millis(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double best(int runs, const std::function<void()> &work)
{
    double b = 1e300;
    for (int i = 0; i < runs; ++i)
        b = std::min(b, millis(work));
    return b;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Theme::apply(app, Theme::Appearance::Light);
    int count = 2000;
    int runs = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--folders"))
            count = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--runs"))
            runs = args.at(i + 1).toInt();
    }
    QList<SyncFolder> folders = archive(count);
    std::printf("%d folders under three levels, 100 records each\n", count);

    qsizetype rows = 0;
    const double build = best(runs, [&] { rows = flattenFolderTree(buildFolderTree(folders), {}).size(); });
    std::printf("build + flatten the tree:           %.2f ms (%lld rows)\n", build, static_cast<long long>(rows));

    FolderListView list;
    list.resize(560, 480);
    const double first = millis([&] { list.setFolders(folders); });
    std::printf("row model, first build (classifies every folder): %.2f ms\n", first);
    const double collapse = best(runs, [&] {
        list.setCollapsedNodes({QStringLiteral("2000")});
        list.setCollapsedNodes({});
    });
    std::printf("row model, collapse and expand a node (two rebuilds): %.2f ms\n", collapse);
    list.show();
    // Painting into an image: the offscreen platform skips repaint() of windows nobody looks at.
    QImage frame(list.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    const auto paint = [&list, &frame] { list.viewport()->render(&frame); };
    paint();

    // One folder's progress, as the engine publishes it after each group of four: a new list, one entry changed.
    QSignalSpy changed(list.rowModel(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(list.rowModel(), &QAbstractItemModel::modelReset);
    QList<double> update;
    QList<double> repaint;
    for (int i = 0; i < runs; ++i) {
        folders[1].status = SyncStatus::syncing((i + 1) / double(runs + 1));
        update << millis([&] { list.setFolders(folders); });
        repaint << millis(paint);
    }
    std::printf("progress of one folder through the model: median %.3f ms, worst %.3f ms "
                "(%lld dataChanged for %d updates, %lld resets)\n",
                median(update), *std::max_element(update.cbegin(), update.cend()),
                static_cast<long long>(changed.count()), runs, static_cast<long long>(reset.count()));
    std::printf("painting the shown rows after it:     median %.3f ms\n", median(repaint));

    QScrollBar *bar = list.verticalScrollBar();
    QList<double> frames;
    for (int v = 0; v <= bar->maximum(); v += 60) {
        frames << millis([&] {
            bar->setValue(v);
            paint();
        });
    }
    std::printf("scrolling the whole list, 60 px a frame: %lld frames, median %.2f ms, slowest %.2f ms\n",
                static_cast<long long>(frames.size()), median(frames),
                *std::max_element(frames.cbegin(), frames.cend()));
    return 0;
}
