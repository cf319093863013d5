// Time from an image landing in the export folder to its upload being confirmed by the stand-in service, with a
// large tree watched and already in sync, at the engine's real delays (2.0 s stream latency, 0.5 s refresh
// debounce, 3.0 s automatic-sync wait: 5.5 s of specified waiting).
//
//   bench_change_latency [--folders N] [--images N] [--runs N] [--fast]
//
// --fast uses 20 ms for the three delays and the settle span, which shows the engine's own share alone. The
// engine's share is the measured time minus the specified waits. Each run also reports the UI thread's longest
// stall: the longest gap between two firings of a 2 ms timer on it, less the 2 ms.

#include "BenchSupport.h"
#include "service/VarnostimaAPI.h"
#include "support/StandInService.h"
#include "sync/SyncManager.h"
#include "sync/SyncStateStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using bench::generateTree;
using bench::waitUntil;
using bench::writeSparse;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int folders = 2000;
    int images = 100;
    int runs = 3;
    bool fast = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--fast")
            fast = true;
        else if (i + 1 < args.size() && args[i] == "--folders")
            folders = args[++i].toInt();
        else if (i + 1 < args.size() && args[i] == "--images")
            images = args[++i].toInt();
        else if (i + 1 < args.size() && args[i] == "--runs")
            runs = args[++i].toInt();
    }
    // The settle span is shortened too: the image is measured from its write, so a 2 s settle would count as engine time.
    const SyncDelays delays = fast ? SyncDelays{.refresh = 20ms, .autoSync = 20ms, .streamLatency = 20ms, .settle = 20ms}
                                   : SyncDelays{};
    const double waitsSeconds = (delays.refresh + delays.autoSync + delays.streamLatency).count() / 1000.0;

    QTemporaryDir exportDir;
    QTemporaryDir supportDir;
    std::printf("Generating %d folders x %d images...\n", folders, images);
    std::fflush(stdout);
    generateTree(exportDir.path(), folders, images);

    // The service already holds every image, and the state file every record: the tree starts in sync.
    testsupport::StandInService service;
    service.addAccount("bench");
    QElapsedTimer timer;
    timer.start();
    const QList<SyncFolder> scanned = SyncManager::scanFolderTree(exportDir.path(), {});
    const double scanSeconds = timer.nsecsElapsed() / 1e9;
    FolderUploadList uploads;
    QHash<QString, QString> galleryOfPath;
    for (const SyncFolder &folder : scanned) {
        const QString gallery = service.seedGallery(folder.displayName);
        galleryOfPath.insert(folder.path, gallery);
        const QStringList names = folder.cachedLocalFileNames()->values();
        for (const QString &name : std::as_const(names))
            service.seedImageOfSize(gallery, name, folder.cachedLocalFileMeta->value(name).size);
        uploads.append({folder.path, SyncManager::uploadedMetaList(names, *folder.cachedLocalFileMeta)});
    }
    {
        SyncStateStore store(supportDir.path() + "/sync-state.json");
        SyncState state;
        state.watchFolder = exportDir.path();
        state.folderUploads = uploads;
        QString error;
        store.write(state, &error);
    }

    VarnostimaAPI api;
    api.setCredentials(service.baseUrl(), QStringLiteral("bench"));
    SyncManager manager(supportDir.path(), delays);
    manager.setAPI(api);
    timer.restart();
    manager.setWatchFolder(exportDir.path());
    if (!waitUntil([&] { return manager.hasCompletedInitialReconcile() && manager.isWatching(); }, 120000, 5)) {
        std::fprintf(stderr, "the first reconcile did not end\n");
        return 1;
    }
    const double reconcileSeconds = timer.nsecsElapsed() / 1e9;
    // Let the first reconcile's automatic sync (if any) settle before measuring.
    waitUntil([&] { return false; }, int(delays.autoSync.count()) + 500, 5);

    std::printf("Tree: %lld folders, %lld images; scan %.3f s; first full scan and reconcile %.3f s\n",
                qint64(scanned.size()), qint64(scanned.size()) * images, scanSeconds, reconcileSeconds);
    std::printf("Specified waits: %.3f s (stream latency %lld ms, refresh %lld ms, automatic sync %lld ms)\n",
                waitsSeconds, qint64(delays.streamLatency.count()), qint64(delays.refresh.count()),
                qint64(delays.autoSync.count()));

    // Where each run's time goes: the merge of the rescan (after stream latency, debounce and the scan), the start
    // of the automatic-sync pass (after its wait) and the pass itself up to the confirmation.
    double mergedAt = 0;
    double passStartedAt = 0;
    QObject::connect(&manager, &SyncManager::foldersChanged, &manager, [&] {
        if (mergedAt == 0)
            mergedAt = timer.nsecsElapsed() / 1e9;
    });
    QObject::connect(&manager, &SyncManager::isAutoSyncingChanged, &manager, [&] {
        if (manager.isAutoSyncing() && passStartedAt == 0)
            passStartedAt = timer.nsecsElapsed() / 1e9;
    });

    // The UI thread's longest stall in a run: a timer that fires every 2 ms when the thread is free.
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(2);
    QObject::connect(&probe, &QTimer::timeout, &manager, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    probe.start();

    double best = 1e300;
    double worst = 0;
    double worstStall = 0;
    for (int r = 0; r < runs; ++r) {
        const SyncFolder &target = scanned.at((r * 7919) % scanned.size());
        const QString gallery = galleryOfPath.value(target.path);
        const QString name = QStringLiteral("NEW_%1.jpg").arg(r);
        mergedAt = 0;
        passStartedAt = 0;
        sinceTick.restart();
        longestGapNs = 0;
        timer.restart();
        writeSparse(target.path + '/' + name, 4096);
        const bool confirmed = waitUntil(
            [&] {
                const auto g = service.gallery(gallery);
                return g && std::any_of(g->images.cbegin(), g->images.cend(),
                                        [&](const auto &image) { return image.fileName == name; });
            },
            120000, 5);
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (!confirmed) {
            std::fprintf(stderr, "run %d: the upload was never confirmed\n", r + 1);
            return 1;
        }
        best = std::min(best, seconds);
        worst = std::max(worst, seconds);
        const double mergeWaits = (delays.streamLatency + delays.refresh).count() / 1000.0;
        const double stallMs = std::max(0.0, longestGapNs / 1e6 - 2.0);
        worstStall = std::max(worstStall, stallMs);
        std::printf("run %d: %.3f s from write to confirmed upload (engine's share %.3f s: to the merge %.3f s, "
                    "to the pass %.3f s, the pass %.3f s); UI thread's longest stall %.1f ms\n",
                    r + 1, seconds, seconds - waitsSeconds, mergedAt - mergeWaits,
                    passStartedAt - mergedAt - delays.autoSync.count() / 1000.0, seconds - passStartedAt, stallMs);
        std::fflush(stdout);
        waitUntil([&] { return !manager.isAutoSyncing(); }, 60000, 5);
    }
    std::printf("best %.3f s, worst %.3f s; engine's share best %.3f s, worst %.3f s (one scan: %.3f s); "
                "UI thread's longest stall %.1f ms\n",
                best, worst, best - waitsSeconds, worst - waitsSeconds, scanSeconds, worstStall);
    return 0;
}
