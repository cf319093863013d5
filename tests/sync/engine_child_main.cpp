// The sync engine as a process of its own, for tests that kill it for real. It watches the export folder with the
// service at the base URL and says what it did on stdout, a line each:
//   completed <folder path>   an upload into the folder's gallery was recorded
//   linked <id> <folder path> the folder is linked to the gallery (said for each folder just before "synced")
//   synced                    every folder is synced, nothing runs or waits to run, and the state is on disk
// Usage: varnostima-engine-child <support folder> <export folder> <base URL> <token> [--die-in-compaction N]
//        [--die-at-completed N] [--sync-by-hand]
// With --die-in-compaction the state is written whole after each recorded upload, and the process kills itself
// (SIGKILL) in the N-th such write, between the new state file and the new log.
// With --die-at-completed the process kills itself as soon as it has said its N-th "completed".
// With --sync-by-hand the user syncs every folder not synced once the first reconcile has ended, failed or not,
// and "synced" no longer waits for a reconcile that succeeds.

#include "service/VarnostimaAPI.h"
#include "sync/SyncManager.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <memory>
#include <vector>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

bool settled(const SyncManager &manager, bool byHand)
{
    if (!manager.hasCompletedInitialReconcile() || manager.isReconciling() || manager.isAutoSyncing()
        || manager.isAutoSyncScheduled() || (manager.reconcileError() && !byHand) || manager.folders().isEmpty())
        return false;
    return std::all_of(manager.folders().cbegin(), manager.folders().cend(),
                       [](const SyncFolder &folder) { return folder.status.is(SyncStatus::Case::synced); });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        QTextStream(stderr) << "usage: varnostima-engine-child <support> <export> <base URL> <token> "
                               "[--die-in-compaction N] [--die-at-completed N] [--sync-by-hand]\n";
        return 2;
    }
    const auto countAfter = [&args](const char *option) {
        const qsizetype at = args.indexOf(QLatin1String(option));
        return at > 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : 0;
    };
    const int dieInCompaction = countAfter("--die-in-compaction");
    const int dieAtCompleted = countAfter("--die-at-completed");
    const bool byHand = args.contains(QLatin1String("--sync-by-hand"));
    VarnostimaAPI api;
    api.setCredentials(QUrl(args.at(3)), args.at(4));
    api.setTimeouts({5s, 5s, 10s});
    SyncManager manager(args.at(1), SyncDelays{.refresh = 50ms, .autoSync = 50ms, .streamLatency = 100ms,
                                               .firstRetry = 200ms, .maxRetry = 1s, .settle = 0ms});
    manager.setAPI(api);
    QTextStream out(stdout);
    if (dieInCompaction > 0) {
        auto count = std::make_shared<std::atomic<int>>(0);
        manager.ledger().setCompactionHook([dieInCompaction, count] {
            if (++*count == dieInCompaction)
                ::kill(::getpid(), SIGKILL);
        });
    }
    int completed = 0;
    manager.setOnUploadCompleted(
        [&](UploadKind, const QString &, const QString &, const QString &, qint64, const QString &path) {
            out << "completed " << path << '\n' << Qt::flush;
            if (++completed == dieAtCompleted)
                ::kill(::getpid(), SIGKILL);
            if (dieInCompaction > 0)
                manager.flushState();
        });
    manager.setWatchFolder(args.at(2));
    QTimer poll;
    bool said = false;
    std::vector<QCoro::Task<void>> handRuns; // as a window keeps the run its button started
    QSet<QString> syncedByHand;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (byHand && manager.hasCompletedInitialReconcile() && !manager.isReconciling()) {
            const QList<SyncFolder> folders = manager.folders(); // a run starts at once and changes the list
            for (const SyncFolder &folder : folders) {
                if (folder.status.is(SyncStatus::Case::notSynced) && !syncedByHand.contains(folder.path)) {
                    syncedByHand.insert(folder.path);
                    handRuns.push_back(manager.syncFolder(folder));
                }
            }
        }
        // A run reads synced a moment before its upload is said to be recorded: a child that is to die at its N-th
        // upload never says synced before that.
        if (said || completed < dieAtCompleted || !settled(manager, byHand))
            return;
        manager.flushState();
        for (const SyncFolder &folder : manager.folders())
            out << "linked " << folder.status.galleryId() << ' ' << folder.path << '\n';
        out << "synced\n" << Qt::flush;
        said = true;
    });
    poll.start(50);
    return app.exec();
}
