// The overview window while a first import runs, and its memory with a photographer-sized state.
//
//   bench_overview_import [--folders N] [--images N] [--record-folders N] [--records N]
//
// 1. Memory: a signed-in engine holding --record-folders folders of --records upload records each (2,000 x 100 =
//    200,000 records by default, with the scan's file lists), the overview window shown over them; the process's
//    RSS before and after, and its peak.
// 2. Stalls: the window open while the engine imports a new export folder of --folders x --images small images
//    (2,000 x 20 by default) into the stand-in service; a 10 ms timer on the UI thread records how late each tick
//    comes. Prints the longest stall, the 99th percentile, the import time and how many folder-list updates the
//    window took.

#include "BenchSupport.h"
#include "ProcessMemory.h"

#include "overview/SyncOverviewView.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "sync/SyncManager.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace std::chrono_literals;

namespace {

using bench::recordedFolder;
using bench::waitUntil;

QList<SyncFolder> recordedFolders(int count, int records)
{
    QList<SyncFolder> folders;
    folders.reserve(count);
    for (int i = 0; i < count; ++i) {
        QStringList files;
        for (int k = 0; k < records; ++k)
            files.append(QStringLiteral("IMG_%1_%2.jpg").arg(i).arg(k, 4, 10, QLatin1Char('0')));
        SyncFolder f = recordedFolder(i, files);
        f.status = SyncStatus::synced(QStringLiteral("g%1").arg(i), QStringLiteral("s%1").arg(i), records);
        folders.append(f);
    }
    return folders;
}

void generateTree(const QString &root, int folders, int images)
{
    for (int f = 0; f < folders; ++f) {
        const QString dir = QStringLiteral("%1/%2/%3-Kunde/Shoot_%4").arg(root).arg(2000 + f / 200).arg((f / 20) % 10).arg(f);
        QDir().mkpath(dir);
        for (int i = 0; i < images; ++i) {
            QFile file(QStringLiteral("%1/IMG_%2.jpg").arg(dir).arg(i, 4, 10, QLatin1Char('0')));
            if (file.open(QIODevice::WriteOnly))
                file.write(QByteArray(512 + i, 'x'));
        }
    }
}

struct Signed {
    testsupport::StandInService service;
    QTemporaryDir support;
    VarnostimaAPI api;
    std::unique_ptr<AuthManager> auth;
    RecordingUrlOpener browser;

    Signed()
    {
        service.addAccount("bench");
        api.setTimeouts({30s, 30s, 60s});
        SecureStorage(support.path()).write(QStringLiteral("base-url"), service.baseUrl().toString());
        auth = std::make_unique<AuthManager>(api, SecureStorage(support.path()), AuthManager::StartupRestore::Manual);
        testsupport::awaitTask(auth->login(QStringLiteral("bench")));
    }

    OverviewContext context(SyncManager &sync)
    {
        OverviewContext c;
        c.authManager = auth.get();
        c.syncManager = &sync;
        c.browser = &browser;
        c.revealFolder = [](const QString &) {};
        return c;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures appear as they come, also when the run is cut short
    int folders = 2000, images = 20, recordFolders = 2000, records = 100;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        const int value = args.at(i + 1).toInt();
        if (args.at(i) == QLatin1String("--folders"))
            folders = value;
        else if (args.at(i) == QLatin1String("--images"))
            images = value;
        else if (args.at(i) == QLatin1String("--record-folders"))
            recordFolders = value;
        else if (args.at(i) == QLatin1String("--records"))
            records = value;
    }

    {
        Signed account;
        const qint64 before = bench::statusKiB("VmRSS:");
        QTemporaryDir state;
        SyncManager sync(state.path());
        sync.setAPI(account.api);
        sync.setFolders(recordedFolders(recordFolders, records));
        sync.setHasCompletedInitialReconcile(true);
        QElapsedTimer firstBuild;
        firstBuild.start();
        SyncOverviewView window(account.context(sync));
        const double buildMs = firstBuild.nsecsElapsed() / 1e6;
        window.show();
        QImage frame(window.size(), QImage::Format_ARGB32_Premultiplied);
        window.render(&frame);
        std::printf("The window's first build over %d folders x %d records: %.1f ms\n", recordFolders, records,
                    buildMs);
        std::printf("Memory, %d folders x %d records (%lld records) with the window shown: RSS %.1f MB "
                    "(%.1f MB before the state), peak %.1f MB\n",
                    recordFolders, records, qint64(recordFolders) * records,
                    bench::statusKiB("VmRSS:") / 1024.0, before / 1024.0, bench::statusKiB("VmHWM:") / 1024.0);

        // One folder's progress as the engine publishes it: the whole window follows the new list synchronously.
        QList<SyncFolder> list = sync.folders();
        list[1].status = SyncStatus::syncing(0);
        sync.setFolders(list);
        QList<double> costs;
        for (int i = 1; i <= 20; ++i) {
            list[1].status = SyncStatus::syncing(i / 21.0);
            QElapsedTimer t;
            t.start();
            sync.setFolders(list);
            costs << t.nsecsElapsed() / 1e6;
        }
        std::sort(costs.begin(), costs.end());
        std::printf("One folder's progress through the shown window: median %.2f ms, worst %.2f ms\n",
                    costs.at(costs.size() / 2), costs.last());

        // A folder appearing and going again: the rows change shape.
        QList<double> shapes;
        for (int i = 0; i < 10; ++i) {
            QList<SyncFolder> grown = list;
            SyncFolder extra = list.at(i);
            extra.path += QStringLiteral("_ny");
            extra.name += QStringLiteral("_ny");
            extra.relativePath += QStringLiteral("_ny");
            grown.insert(i + 1, extra);
            for (const QList<SyncFolder> *next : {&grown, &list}) {
                QElapsedTimer t;
                t.start();
                sync.setFolders(*next);
                shapes << t.nsecsElapsed() / 1e6;
            }
        }
        std::sort(shapes.begin(), shapes.end());
        std::printf("A folder appearing or going in the shown window: median %.2f ms, worst %.2f ms\n",
                    shapes.at(shapes.size() / 2), shapes.last());
        std::fflush(stdout);
    }

    Signed account;
    QTemporaryDir exportDir;
    QTemporaryDir state;
    std::printf("Generating %d folders x %d images...\n", folders, images);
    std::fflush(stdout);
    generateTree(exportDir.path(), folders, images);
    SyncManager sync(state.path(), SyncDelays{200ms, 200ms, 200ms});
    sync.setAPI(account.api);
    // The window's own share of each change: slots run in the order they were connected, so the time from the
    // first (connected before the window) to the last (after it) is the window's handling alone.
    QElapsedTimer handling;
    QList<double> windowCosts;
    QObject::connect(&sync, &SyncManager::foldersChanged, &sync, [&] { handling.start(); });
    SyncOverviewView window(account.context(sync));
    QObject::connect(&sync, &SyncManager::foldersChanged, &sync, [&] { windowCosts << handling.nsecsElapsed() / 1e6; });
    if (!qEnvironmentVariableIsSet("BENCH_NO_WINDOW"))
        window.show();

    qint64 updates = 0;
    QObject::connect(&sync, &SyncManager::foldersChanged, &window, [&] { ++updates; });
    QList<double> late;
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    qint64 last = 0;
    QObject::connect(&probe, &QTimer::timeout, &window, [&] {
        const qint64 now = clock.nsecsElapsed();
        late << std::max(0.0, (now - last) / 1e6 - 10.0);
        if (qEnvironmentVariableIsSet("BENCH_TRACE") && late.last() > 30)
            std::printf("  stall %.1f ms at %.2f s\n", late.last(), now / 1e9);
        last = now;
    });
    clock.start();
    last = clock.nsecsElapsed();
    probe.start();

    sync.setWatchFolder(exportDir.path());
    const auto allSynced = [&] {
        const QList<SyncFolder> &list = sync.folders();
        return list.size() == folders && std::all_of(list.cbegin(), list.cend(), [](const SyncFolder &f) {
                   return f.status.is(SyncStatus::Case::synced);
               });
    };
    const bool done = waitUntil(allSynced, 30 * 60 * 1000, 50);
    const double seconds = clock.nsecsElapsed() / 1e9;
    probe.stop();
    std::sort(late.begin(), late.end());
    std::sort(windowCosts.begin(), windowCosts.end());
    if (!windowCosts.isEmpty())
        std::printf("The window's handling of each folder-list change: median %.2f ms, 99th percentile %.2f ms, "
                    "longest %.2f ms\n",
                    windowCosts.at(windowCosts.size() / 2),
                    windowCosts.at(std::min<qsizetype>(windowCosts.size() - 1, windowCosts.size() * 99 / 100)),
                    windowCosts.last());
    const double p99 = late.isEmpty() ? 0 : late.at(std::min<qsizetype>(late.size() - 1, late.size() * 99 / 100));
    std::printf("Import of %d folders x %d images with the window open: %s in %.1f s, %lld folder-list updates; "
                "UI thread stall: longest %.1f ms, 99th percentile %.1f ms (%lld probe ticks); RSS %.1f MB\n",
                folders, images, done ? "done" : "NOT DONE", seconds, updates, late.isEmpty() ? 0 : late.last(), p99,
                qint64(late.size()), bench::statusKiB("VmRSS:") / 1024.0);
    return done ? 0 : 1;
}
