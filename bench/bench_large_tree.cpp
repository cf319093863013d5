// The engine on a photographer's whole archive (2,000 folders x 100 images by default), with the stand-in service
// in a child process so that this process's figures are the engine's alone:
//   - the records pass: every folder linked by title to a gallery that holds its images, then the automatic-sync
//     pass that fills in each folder's records: state writes, bytes written against the final file's size, the
//     shortest time between two files landing, and the pass's wall time;
//   - resident memory (all and anonymous) once synced and idle;
//   - one new image in one folder: CPU of this process (all its threads) from the file landing to its upload
//     starting (the presigned answer in, the PUT about to go out); the same with the work it had set going by then
//     (the state writer's, waited for at that moment); and for the whole change until its state file is written,
//     with the number of times the state file was written for it;
//   - start-up: reading the state file of every record, and building a manager from it.
//
//   bench_large_tree [--folders N] [--images N] [--runs N] [--idle SECONDS] [--service-ms N]
//
// --service-ms makes the stand-in wait that long before it acts on each API request, as a slower service would
// (35 gives the 200,000-image pass about 100 s).
//
// Delays are short (20 ms), the settle span of a new image too, so that the run does not wait; they are timers and
// cost no CPU. With the 2 s settle span a new image would wait through several passes before its upload.

#include "BenchSupport.h"
#include "SeededStandIn.h"
#include "service/VarnostimaAPI.h"
#include "support/StandInService.h"
#include "sync/SyncManager.h"
#include "sync/SyncStateStore.h"

#include "ProcessMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using bench::waitUntil;
using bench::writeSparse;

// Every image name differs from every other in the tree, as after an export that renames: no name is shared
// between folders.
void generateTree(const QString &root, int folders, int imagesPerFolder)
{
    for (int f = 0; f < folders; ++f) {
        const QString dir = bench::shootFolder(root, f);
        QDir().mkpath(dir);
        for (int i = 0; i < imagesPerFolder; ++i)
            writeSparse(dir + QStringLiteral("/IMG_%1_%2.jpg").arg(f).arg(i),
                        100000 + (qint64(f) * 7919 + i * 104729) % 9000000);
    }
}

double cpuSeconds()
{
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    const auto seconds = [](const timeval &tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

double now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The stand-in service, seeded with one gallery per folder holding that folder's images; serves until SIGTERM.
[[noreturn]] void runService(const QString &exportRoot, int writeFd, int latencyMs)
{
    bench::serveSeededStandIn(
        exportRoot, writeFd,
        [latencyMs](testsupport::StandInService &service) {
            service.setApiLatency(std::chrono::milliseconds(latencyMs));
        },
        [](const testsupport::StandInService &, qint64) {});
}

// Counts the state file's replacements (and its copy's), with the bytes written for each, from a thread of its own.
// A copy costs its size only when its bytes were written (a file under the copy's name and a suffix closed after
// writing before it landed); a copy that is a second name of the replaced file costs nothing.
class StateWriteCounter
{
public:
    explicit StateWriteCounter(const QString &folder)
        : m_folder(QFile::encodeName(folder))
    {
        m_fd = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(m_fd, m_folder.constData(), IN_MOVED_TO | IN_CLOSE_WRITE);
        m_thread = std::thread([this] { run(); });
    }
    ~StateWriteCounter()
    {
        m_stop = true;
        const QByteArray poke = m_folder + "/.stop";
        writeSparse(QFile::decodeName(poke), 0);
        m_thread.join();
        ::close(m_fd);
        ::unlink(poke.constData());
    }
    struct Write {
        double at;
        qint64 bytes;
        bool copy; // the copy beside the state file
    };
    std::vector<Write> writes() const
    {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }
    void reset()
    {
        std::lock_guard lock(m_mutex);
        m_writes.clear();
    }

private:
    void run()
    {
        const QByteArray copyName = "sync-state.json.last-good";
        alignas(inotify_event) char buffer[64 * 1024];
        while (!m_stop) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (!event->len)
                    continue;
                const QByteArray name(static_cast<const char *>(event->name));
                if ((event->mask & IN_CLOSE_WRITE) && name.startsWith(copyName + '.')) {
                    m_copyBytesWritten = true;
                    continue;
                }
                // The state file and any copy kept beside it under a longer name.
                const bool copy = name == copyName;
                if (!(event->mask & IN_MOVED_TO) || (name != "sync-state.json" && !copy))
                    continue;
                struct stat st {};
                const QByteArray path = m_folder + '/' + event->name;
                const bool written = !copy || std::exchange(m_copyBytesWritten, false);
                const qint64 bytes = written && ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : 0;
                std::lock_guard lock(m_mutex);
                m_writes.push_back({now(), bytes, copy});
            }
        }
    }

    QByteArray m_folder;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    bool m_copyBytesWritten = false; // the reading thread's own
    mutable std::mutex m_mutex;
    std::vector<Write> m_writes;
    std::thread m_thread;
};

} // namespace

int main(int argc, char **argv)
{
    int folders = 2000;
    int images = 100;
    int runs = 3;
    int idleSeconds = 5;
    int serviceMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option = argv[i];
        const int value = atoi(argv[i + 1]);
        if (option == "--folders")
            folders = value;
        else if (option == "--images")
            images = value;
        else if (option == "--runs")
            runs = value;
        else if (option == "--idle")
            idleSeconds = value;
        else if (option == "--service-ms")
            serviceMs = value;
    }

    // The tree and the service's child come before any thread of this process.
    char exportTemplate[] = "/tmp/bench_large_tree_XXXXXX";
    char supportTemplate[] = "/tmp/bench_large_tree_support_XXXXXX";
    const QString exportRoot = QFile::decodeName(mkdtemp(exportTemplate));
    const QString supportDir = QFile::decodeName(mkdtemp(supportTemplate));
    std::printf("Generating %d folders x %d images...\n", folders, images);
    std::fflush(stdout);
    generateTree(exportRoot, folders, images);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        runService(exportRoot, pipeFds[1], serviceMs);
    }
    ::close(pipeFds[1]);
    QByteArray urlLine;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        urlLine += c;
    ::close(pipeFds[0]);
    const auto cleanUp = [&] {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        QDir(exportRoot).removeRecursively();
        QDir(supportDir).removeRecursively();
    };
    if (urlLine.isEmpty()) {
        std::fprintf(stderr, "the stand-in service did not start\n");
        cleanUp();
        return 1;
    }

    QCoreApplication app(argc, argv);
    const qint64 rssBeforeKiB = bench::statusKiB("VmRSS:");
    int exitCode = 0;
    {
        VarnostimaAPI api;
        api.setCredentials(QUrl(QString::fromUtf8(urlLine)), QStringLiteral("bench"));
        StateWriteCounter counter(supportDir);
        const SyncDelays delays{.refresh = 20ms, .autoSync = 20ms, .streamLatency = 20ms, .settle = 20ms};
        auto manager = std::make_unique<SyncManager>(supportDir, delays);
        manager->setAPI(api);
        const auto recordsComplete = [&] {
            if (!manager->hasCompletedInitialReconcile() || manager->isAutoSyncing())
                return false;
            qint64 complete = 0;
            for (const SyncFolder &folder : manager->folders())
                complete += folder.uploadedFiles && !folder.needsMetadataBaseline() ? 1 : 0;
            return complete >= folders;
        };

        // The records pass.
        const double passStart = now();
        const double passCpuStart = cpuSeconds();
        manager->setWatchFolder(exportRoot);
        if (!waitUntil(recordsComplete, 30 * 60 * 1000)) {
            std::fprintf(stderr, "the records pass did not end\n");
            exitCode = 1;
        }
        const double passEnd = now();
        const double passCpu = cpuSeconds() - passCpuStart;
        // Everything the pass saved is on disk.
        waitUntil([&manager] { return manager->ledger().isOnDisk(manager->ledger().latestTicket()); }, 60 * 1000);
        const std::vector<StateWriteCounter::Write> writes = counter.writes();
        qint64 total = 0;
        double shortestGap = 0;
        double lastAt = 0;
        size_t fileWrites = 0;
        size_t copiesWritten = 0;
        for (const StateWriteCounter::Write &write : writes) {
            total += write.bytes;
            copiesWritten += write.copy && write.bytes > 0 ? 1 : 0;
            if (write.copy)
                continue;
            if (fileWrites == 1 || (fileWrites > 1 && write.at - lastAt < shortestGap))
                shortestGap = write.at - lastAt;
            lastAt = write.at;
            ++fileWrites;
        }
        const qint64 finalBytes = QFileInfo(supportDir + "/sync-state.json").size();
        std::printf("records pass over %d folders: %.1f s, %.1f CPU s\n", folders, passEnd - passStart, passCpu);
        std::printf("state file written %zu times (and %zu copies beside it, %zu of them written out), shortest gap "
                    "%.3f s; %.1f MB written in all, final file %.2f MB, %.1fx its size; last write %.2f s after the "
                    "pass ended\n",
                    fileWrites, writes.size() - fileWrites, copiesWritten, shortestGap, total / 1e6, finalBytes / 1e6,
                    finalBytes ? double(total) / double(finalBytes) : 0.0, lastAt - passEnd);
        const StateLedger::Figures figures = manager->ledger().figures();
        const qint64 passBytes = figures.logBytes + figures.snapshotBytes + figures.journalBytes;
        std::printf("  ledger: %lld bytes appended to the log in %lld lines, %lld bytes of snapshots in %lld, %lld bytes "
                    "of upload runs\n",
                    figures.logBytes, figures.appends, figures.snapshotBytes, figures.compactions, figures.journalBytes);
        manager->flushState(); // as at quit: the state whole
        const qint64 flushedFile = QFileInfo(supportDir + "/sync-state.json").size();
        std::printf("  the pass wrote %.2f MB in all, %.1fx the state file as a flush then writes it (%.2f MB)\n",
                    passBytes / 1e6, flushedFile ? double(passBytes) / double(flushedFile) : 0.0, flushedFile / 1e6);
        std::fflush(stdout);

        // Synced and idle.
        waitUntil([] { return false; }, idleSeconds * 1000);
        std::printf("synced, idle %d s: RSS %.1f MB (anonymous %.1f MB); before the engine: %.1f MB\n", idleSeconds,
                    bench::statusKiB("VmRSS:") / 1024.0, bench::statusKiB("RssAnon:") / 1024.0,
                    rssBeforeKiB / 1024.0);
        malloc_trim(0);
        std::printf("  after handing freed heap back (malloc_trim): RSS %.1f MB (anonymous %.1f MB)\n",
                    bench::statusKiB("VmRSS:") / 1024.0, bench::statusKiB("RssAnon:") / 1024.0);
        std::fflush(stdout);

        // One new image.
        double sending = 0;
        double sendingWall = 0;
        double setGoing = 0;
        StateLedger &ledger = manager->ledger();
        manager->setUploadStepHook([&](SyncManager::UploadStep step, const QStringList &) {
            if (step == SyncManager::UploadStep::sending && sending == 0) {
                sending = cpuSeconds();
                sendingWall = now();
                // What the writer was asked to do before the upload could start (the run is on disk by now).
                while (!ledger.isOnDisk(ledger.latestTicket()))
                    std::this_thread::sleep_for(1ms);
                setGoing = cpuSeconds();
            }
        });
        const auto bytesWritten = [&ledger] {
            const StateLedger::Figures figures = ledger.figures();
            return figures.logBytes + figures.snapshotBytes + figures.journalBytes;
        };
        // The change records its image: it has landed once the pass is over and every save is on disk.
        const auto writesSettled = [&ledger](double) { return ledger.isOnDisk(ledger.latestTicket()); };
        const QList<SyncFolder> listed = manager->folders();
        for (int r = 0; r < runs; ++r) {
            const SyncFolder &target = listed.at((r * 7919 + 13) % listed.size());
            counter.reset();
            const qint64 bytesBefore = bytesWritten();
            sending = 0;
            const double cpuStart = cpuSeconds();
            const double wallStart = now();
            writeSparse(target.path + QStringLiteral("/NEW_%1.jpg").arg(r), 123456);
            if (!waitUntil([&] { return sending != 0; }, 120000)) {
                std::fprintf(stderr, "run %d: the upload never started\n", r + 1);
                exitCode = 1;
                break;
            }
            waitUntil([&] { return !manager->isAutoSyncing(); }, 120000);
            waitUntil([&] { return writesSettled(sendingWall); }, 120000);
            const double settled = cpuSeconds();
            size_t stateWrites = 0;
            for (const StateWriteCounter::Write &write : counter.writes())
                stateWrites += write.copy ? 0 : 1;
            std::printf("new image, run %d: %.1f ms CPU from the file landing to its upload starting (%.0f ms wall, "
                        "%lld ms of it specified waits), %.1f ms with what it had set going by then; %.1f ms CPU for "
                        "the whole change, state file written %zu times for it, %lld bytes written for it in all\n",
                        r + 1, (sending - cpuStart) * 1e3, (sendingWall - wallStart) * 1e3,
                        qint64((delays.streamLatency + delays.refresh + delays.autoSync).count()),
                        (setGoing - cpuStart) * 1e3, (settled - cpuStart) * 1e3, stateWrites,
                        bytesWritten() - bytesBefore);
            std::fflush(stdout);
        }
        manager.reset();
    }

    // Start-up.
    const QString stateFile = supportDir + "/sync-state.json";
    double bestLoad = 1e300;
    double bestManager = 1e300;
    qint64 records = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        const std::optional<SyncState> state = SyncStateStore(stateFile).load();
        bestLoad = std::min(bestLoad, timer.nsecsElapsed() / 1e9);
        records = 0;
        if (state && state->folderUploads) {
            for (const auto &entry : *state->folderUploads)
                records += entry.second.size();
        }
        timer.restart();
        {
            SyncManager fresh(supportDir);
            bestManager = std::min(bestManager, timer.nsecsElapsed() / 1e9);
        }
    }
    std::printf("start-up: state file of %lld records (%.2f MB) read in %.3f s; a manager built from it in %.3f s\n",
                records, QFileInfo(stateFile).size() / 1e6, bestLoad, bestManager);
    cleanUp();
    return exitCode;
}
