// A first import killed (SIGKILL) at random moments and started again, then left to finish: does the service end up
// with every image exactly once, in one gallery per folder?
//
//   bench_kill_import [--folders N] [--images N] [--kills N] [--max-ms N] [--seed N]
//
// The stand-in service lives in this process; each run of the engine is a child process (this program again, with
// --child) that keeps its state folder across the kills, as the app would.

#include "BenchSupport.h"
#include "service/VarnostimaAPI.h"
#include "support/StandInService.h"
#include "sync/SyncManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using bench::waitUntil;

// The engine until every folder is synced with nothing new, then a clean exit (status 0), or 1 after two minutes.
int runChild(const QString &support, const QString &exportRoot, const QString &url)
{
    VarnostimaAPI api;
    api.setCredentials(QUrl(url), QStringLiteral("bench"));
    SyncManager manager(support, SyncDelays{20ms, 20ms, 20ms});
    manager.setAPI(api);
    manager.setWatchFolder(exportRoot);
    const bool done = waitUntil(
        [&] {
            if (!manager.hasCompletedInitialReconcile() || manager.isAutoSyncing() || manager.folders().isEmpty())
                return false;
            return std::all_of(manager.folders().cbegin(), manager.folders().cend(), [](const SyncFolder &f) {
                return f.status.is(SyncStatus::Case::synced) && f.newFileCount() == 0;
            });
        },
        120000);
    manager.flushState();
    return done ? 0 : 1;
}

pid_t spawnChild(const QString &support, const QString &exportRoot, const QString &url)
{
    const QByteArray a = QFile::encodeName(support), b = QFile::encodeName(exportRoot), c = url.toUtf8();
    const pid_t pid = fork();
    if (pid == 0) {
        const char *args[] = {"bench_kill_import", "--child", a.constData(), b.constData(), c.constData(), nullptr};
        execv("/proc/self/exe", const_cast<char *const *>(args));
        _exit(127);
    }
    return pid;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        return runChild(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]), QString::fromUtf8(argv[4]));
    }
    QCoreApplication app(argc, argv);
    int folders = 25, images = 20, kills = 20, maxMs = 1500;
    quint32 seed = 21;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const int value = args[i + 1].toInt();
        if (args[i] == "--folders")
            folders = value;
        else if (args[i] == "--images")
            images = value;
        else if (args[i] == "--kills")
            kills = value;
        else if (args[i] == "--max-ms")
            maxMs = value;
        else if (args[i] == "--seed")
            seed = quint32(value);
    }
    signal(SIGPIPE, SIG_IGN);

    QTemporaryDir exportDir, supportDir;
    for (int f = 0; f < folders; ++f) {
        const QString dir = exportDir.path() + QStringLiteral("/Shoot_%1").arg(f);
        QDir().mkpath(dir);
        for (int i = 0; i < images; ++i) {
            const QByteArray path = QFile::encodeName(dir + QStringLiteral("/IMG_%1_%2.jpg").arg(f).arg(i));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::ftruncate(fd, 65536 + i) != 0)
                return 1;
            ::close(fd);
        }
    }
    testsupport::StandInService service;
    service.addAccount("bench");
    const QString url = service.baseUrl().toString();

    QRandomGenerator random(seed);
    for (int k = 0; k < kills; ++k) {
        const pid_t child = spawnChild(supportDir.path(), exportDir.path(), url);
        const int afterMs = int(random.bounded(50, maxMs));
        waitUntil([] { return false; }, afterMs);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        qint64 uploaded = 0;
        for (const auto &gallery : service.galleries())
            uploaded += gallery.images.size();
        std::printf("kill %d after %d ms: %lld images on the service\n", k + 1, afterMs, uploaded);
        std::fflush(stdout);
    }
    const pid_t last = spawnChild(supportDir.path(), exportDir.path(), url);
    int status = 0;
    while (::waitpid(last, &status, WNOHANG) == 0)
        waitUntil([] { return false; }, 50); // the service answers from its own threads meanwhile
    const int finished = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    qint64 total = 0, twice = 0;
    QSet<QString> titles;
    int repeatedGalleries = 0;
    for (const auto &gallery : service.galleries()) {
        if (titles.contains(gallery.title))
            ++repeatedGalleries;
        titles.insert(gallery.title);
        QSet<QString> names;
        for (const auto &image : gallery.images) {
            ++total;
            if (names.contains(image.fileName))
                ++twice;
            names.insert(image.fileName);
        }
    }
    std::printf("after %d kills and a run to the end (exit %d): %lld images for %d on disk, %lld sent twice; "
                "%lld galleries for %d folders, %d of a repeated title\n",
                kills, finished, total, folders * images, twice, qint64(service.galleries().size()), folders,
                repeatedGalleries);
    return finished == 0 && twice == 0 && total == folders * images && repeatedGalleries == 0 ? 0 : 1;
}
