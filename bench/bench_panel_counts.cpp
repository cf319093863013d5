// The panel's status row while a pass edits the folder list one entry at a time: every folder goes to syncing and
// back to synced, as a pass's update of it does. Prints the CPU of those edits (the UI thread's) with the status row
// listening and without it, and the row's share of the edits, for each library size given. With --overview, the
// same for the overview window (opened once and hidden again, as a user leaves it): its list, its two bars and its
// inspector.
//
//   bench_panel_counts [--folders N,N,...] [--images N] [--rounds N] [--overview]
//
// Runs offscreen; the best of the rounds is taken.

#include "BenchSupport.h"
#include "app/menubar/MenuBarView.h"
#include "overview/SyncOverviewView.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "sync/SyncManager.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <time.h>

namespace {

double threadCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QList<SyncFolder> library(int folders, int images)
{
    QStringList names;
    for (int i = 0; i < images; ++i)
        names.append(QStringLiteral("IMG_%1.jpg").arg(i));
    QList<SyncFolder> list;
    list.reserve(folders);
    for (int f = 0; f < folders; ++f) {
        SyncFolder folder = bench::recordedFolder(f, names);
        folder.status = SyncStatus::synced(QStringLiteral("gal-%1").arg(f), QStringLiteral("shoot-%1").arg(f), images);
        list.append(folder);
    }
    return list;
}

enum class Listener { none, panelRow, overview };

// CPU seconds of the edits of one pass over the library.
double pass(const QList<SyncFolder> &folders, Listener listener)
{
    QTemporaryDir support;
    SyncManager manager(support.path());
    manager.setFolders(folders);
    std::unique_ptr<MenuBarSyncStatusRow> row;
    VarnostimaAPI api;
    AuthManager auth(api, SecureStorage(support.path()), AuthManager::StartupRestore::Manual);
    std::unique_ptr<SyncOverviewView> overview;
    if (listener == Listener::panelRow)
        row = std::make_unique<MenuBarSyncStatusRow>(manager);
    if (listener == Listener::overview) {
        OverviewContext context;
        context.authManager = &auth;
        context.syncManager = &manager;
        overview = std::make_unique<SyncOverviewView>(context);
        overview->show();
        overview->hide();
    }
    const double start = threadCpu();
    for (qsizetype i = 0; i < folders.size(); ++i) {
        SyncFolder entry = manager.folders().at(i);
        const SyncStatus synced = entry.status;
        entry.status = SyncStatus::syncing(0);
        manager.setFolderEntry(i, entry);
        entry.status = synced;
        manager.setFolderEntry(i, std::move(entry));
    }
    return threadCpu() - start;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<int> sizes{2000, 4000, 16000};
    int images = 2;
    int rounds = 3;
    QStringList args = app.arguments();
    const bool withOverview = args.removeAll(QStringLiteral("--overview")) > 0;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--folders") {
            sizes.clear();
            for (const QString &size : args[i + 1].split(u','))
                sizes.append(size.toInt());
        } else if (args[i] == "--images") {
            images = args[i + 1].toInt();
        } else if (args[i] == "--rounds") {
            rounds = args[i + 1].toInt();
        }
    }
    for (const int size : sizes) {
        const QList<SyncFolder> folders = library(size, images);
        double bare = 1e300;
        double withRow = 1e300;
        double withOverviewWindow = 1e300;
        for (int r = 0; r < rounds; ++r) {
            bare = std::min(bare, pass(folders, Listener::none));
            withRow = std::min(withRow, pass(folders, Listener::panelRow));
            if (withOverview)
                withOverviewWindow = std::min(withOverviewWindow, pass(folders, Listener::overview));
        }
        const double edits = 2.0 * size;
        std::printf("%d folders of %d images, %.0f edits: %.1f ms CPU without the status row, %.1f ms with it; the row "
                    "%.2f us an edit, %.1f %% of the edits' CPU\n",
                    size, images, edits, bare * 1e3, withRow * 1e3, (withRow - bare) / edits * 1e6,
                    withRow > 0 ? 100.0 * (withRow - bare) / withRow : 0.0);
        if (withOverview)
            std::printf("  with the overview window instead: %.1f ms CPU, %.2f us an edit\n", withOverviewWindow * 1e3,
                        (withOverviewWindow - bare) / edits * 1e6);
        std::fflush(stdout);
    }
    return 0;
}
