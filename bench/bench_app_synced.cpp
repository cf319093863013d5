// The real application, measured from outside as a user's process, on an archive the service already holds:
// the stand-in service (a child process) is seeded with one gallery per folder holding that folder's images, and
// the app starts signed in with no state file, so its first full scan matches every folder by title and its first
// pass of automatic sync fills in each folder's records. Prints:
//   - the app's CPU (user + system, /proc/<pid>/stat) and wall time from its start until synced: every folder's
//     records established in the state on disk (the state file and its log replayed over it, as the app reads them
//     at start; an older build keeps the state file alone), and the process idle;
//   - its peak and idle resident memory then, the panel closed, and its CPU over that idle spell;
//   - with --new N, N folders the service does not know (two images each) that the same pass syncs first: the
//     stand-in's gallery-list requests, as pages and as walks (a request without a cursor starts one);
//   - with --restart, the app started again on the state file it wrote: resident memory idle, panel closed;
//   - with --start-upload, then started once more with one new image dropped into a seeded folder while it was not
//     running: the app's CPU and the wall time from its start until that image's upload starts (the PUT arrives),
//     beside the CPU of a `find -printf '%s %T@'` of the same tree and the stand-in's CPU over the same span; then
//     started once more with nothing changed: the bytes it writes until idle;
//   - with --overview, then the overview window opened from the tray's menu: resident memory idle with it open;
//   - the bytes the app wrote to disk until synced (/proc/<pid>/io write_bytes) against the state written whole as
//     one file, and the state file's and the log's sizes on disk apart;
//   - with --change N, N times one new image dropped into a seeded folder once synced: the app's CPU (its threads'
//     /proc schedstat, in nanoseconds) from the file landing to its upload starting (the stand-in holds each PUT
//     1.5 s, and says when one arrives), its CPU and bytes written for the whole change, until 8 s after the image
//     is on the service; then whether the state on disk records the image, and the state file's and log's sizes.
//
//   bench_app_synced [--images N] [--per-folder N] [--new N] [--page-size N] [--app PATH] [--tree DIR]
//                    [--idle SECONDS] [--restart] [--overview] [--change N] [--start-upload]
//
// BENCH_WRAP="heaptrack -o FILE" runs the second start (--restart) under that program; BENCH_WRAP_FIRST the first.
// BENCH_THREADS=1 adds each change's CPU by thread name (the app's main thread, the pool, the network and upload
// threads, the state writer) and the minor page faults until its upload starts.
//
// --tree keeps the generated export tree in DIR for the next run (it is generated when DIR does not exist).
// Needs an X11 display and a session bus: run it through bench/run_bench_app_synced.sh, which gives it Xvfb and a
// private session bus. It starts the window manager (openbox), the tray host (trayer) and the notification daemon
// (dunst) itself, as the desktop test does.

#include "BenchSupport.h"
#include "SeededStandIn.h"
#include "support/StandInService.h"
#include "sync/StateLedger.h"
#include "sync/SyncManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

#include <fcntl.h>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using bench::waitUntil;
using bench::writeSparse;

void pause(int ms)
{
    waitUntil([] { return false; }, ms, 20);
}

QString seededFolder(const QString &root, int index)
{
    return QStringLiteral("%1/Arkiv/%2/Shoot_%3").arg(root).arg(2000 + index / 400).arg(index);
}

// Every image name differs from every other in the tree, as after an export that renames.
void generateTree(const QString &root, int folders, int perFolder, int newFolders)
{
    for (int f = 0; f < folders; ++f) {
        const QString dir = seededFolder(root, f);
        QDir().mkpath(dir);
        for (int i = 0; i < perFolder; ++i)
            writeSparse(dir + QStringLiteral("/IMG_%1_%2.jpg").arg(f).arg(i),
                        100000 + (qint64(f) * 7919 + i * 104729) % 9000000);
    }
    for (int f = 0; f < newFolders; ++f) {
        const QString dir = QStringLiteral("%1/Nye/Ny_%2").arg(root).arg(f);
        QDir().mkpath(dir);
        for (int i = 0; i < 2; ++i)
            writeSparse(dir + QStringLiteral("/NY_%1_%2.jpg").arg(f).arg(i), 5000 + i);
    }
}

// The stand-in, seeded with the galleries of every folder under "Arkiv"; once stopped, writes what it counted of the
// gallery list.
// With putFd >= 0, every PUT to the store waits 1.5 s before it is carried out, and a byte goes to putFd as each one
// arrives.
[[noreturn]] void runService(const QString &exportRoot, int pageSize, int writeFd, int putFd)
{
    bench::serveSeededStandIn(
        exportRoot + QStringLiteral("/Arkiv"), writeFd,
        [pageSize, putFd](testsupport::StandInService &service) {
            service.setGalleryPageSize(pageSize);
            if (putFd < 0)
                return;
            testsupport::ScriptedAnswer held;
            held.kind = testsupport::ScriptedAnswer::Kind::AnswerAsUsual;
            held.delayMs = 1500;
            service.script("PUT", "/store/*", held, -1);
            std::thread([&service, putFd] {
                qsizetype seen = 0;
                while (true) {
                    const qsizetype arrived = service.putsInFlightAtArrival().size();
                    for (; seen < arrived; ++seen) {
                        if (::write(putFd, "P", 1) != 1)
                            std::_Exit(1);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }).detach();
        },
        [writeFd](const testsupport::StandInService &service, qint64 galleries) {
            qint64 walks = 0;
            const QList<testsupport::RecordedRequest> pages = service.requests("GET", "/api/gallery/list");
            for (const testsupport::RecordedRequest &request : pages)
                walks += request.rawQuery.contains("cursor=") ? 0 : 1;
            const QByteArray counts = QByteArray::number(galleries) + ' ' + QByteArray::number(pages.size()) + ' '
                                      + QByteArray::number(walks) + '\n';
            if (::write(writeFd, counts.constData(), size_t(counts.size())) != counts.size())
                std::_Exit(1);
        });
}

// The CPU (user + system) of one `find -printf '%s %T@'` of the tree, which reads what a scan reads: every entry
// and each file's size and time. The best of three, the tree's metadata in the cache.
double findCpu(const QString &root)
{
    const QByteArray path = QFile::encodeName(root);
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execlp("find", "find", path.constData(), "-printf", "%s %T@\n", static_cast<char *>(nullptr));
            std::_Exit(127);
        }
        int status = 0;
        struct rusage usage {};
        if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return -1;
        const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        best = best < 0 ? cpu : std::min(best, cpu);
    }
    return best;
}

QByteArray readLine(int fd)
{
    QByteArray line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

// The fields of /proc/<pid>/stat after the command name, which is in parentheses and may hold spaces: the
// process's state (field 3) comes first. Empty when unreadable.
QList<QByteArray> statFields(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// User plus system CPU of a process (fields 14 and 15), in seconds.
double processCpu(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// Minor page faults of a process so far (field 10): memory handed back and touched again.
qint64 minorFaults(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() < 8 ? -1 : fields.at(7).toLongLong();
}

// The CPU time of each thread of a process, in nanoseconds (/proc/<pid>/task/<tid>/schedstat): exact, where the
// process's own figure counts in clock ticks.
using ThreadTimes = QHash<qint64, qint64>;
ThreadTimes threadTimes(qint64 pid)
{
    ThreadTimes times;
    QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly))
            times.insert(task.toLongLong(), schedstat.readAll().split(' ').first().toLongLong());
    }
    return times;
}

// Seconds of CPU since `start`, over the threads alive now (a thread that ended meanwhile is not counted).
double cpuSince(const ThreadTimes &start, qint64 pid)
{
    qint64 total = 0;
    const ThreadTimes now = threadTimes(pid);
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        total += it.value() - start.value(it.key(), 0);
    return double(total) / 1e9;
}

// The same CPU by thread name, in milliseconds, for finding where a figure goes: "main 3.1, Uploads 1.2".
QString cpuByThread(const ThreadTimes &start, qint64 pid)
{
    QMap<QString, qint64> byName;
    const ThreadTimes now = threadTimes(pid);
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        QFile comm(QStringLiteral("/proc/%1/task/%2/comm").arg(pid).arg(it.key()));
        QString name = comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
        if (it.key() == pid)
            name = QStringLiteral("main");
        byName[name] += it.value() - start.value(it.key(), 0);
    }
    QStringList parts;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        if (it.value() > 0)
            parts.append(QStringLiteral("%1 %2").arg(it.key()).arg(double(it.value()) / 1e6, 0, 'f', 2));
    }
    return parts.join(QStringLiteral(", "));
}

// Bytes the process caused to be written to storage (/proc/<pid>/io write_bytes); -1 when unreadable.
qint64 writtenBytes(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("write_bytes:"))
            return line.mid(12).trimmed().toLongLong();
    }
    return -1;
}

// The size of the files in a folder (not below it).
qint64 filesSize(const QString &folder)
{
    qint64 total = 0;
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        total += file.size();
    return total;
}

double statusMiB(qint64 pid, const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong() / 1024.0;
    }
    return -1;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30'000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The app's tray icon inside the tray host's window tree: its centre on the screen.
std::optional<QPoint> trayIconCentre()
{
    static const QRegularExpression line(QStringLiteral(
        "0x[0-9a-f]+ .*\\(\"varnostima\" \"Varnostima\"\\)\\s+(\\d+)x(\\d+)[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
    for (const QString &host :
         run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("trayer")})
             .split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match =
            line.match(run(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"), host}));
        if (match.hasMatch())
            return QPoint(match.captured(3).toInt() + match.captured(1).toInt() / 2,
                          match.captured(4).toInt() + match.captured(2).toInt() / 2);
    }
    return std::nullopt;
}

// Visible windows of the app at least `minWidth` wide.
int wideWindows(int minWidth)
{
    int count = 0;
    for (const QString &window :
         run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--classname"), QStringLiteral("varnostima")})
             .split(u'\n', Qt::SkipEmptyParts)) {
        static const QRegularExpression size(QStringLiteral("Geometry: (\\d+)x\\d+"));
        const QRegularExpressionMatch match =
            size.match(run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), window}));
        count += match.hasMatch() && match.captured(1).toInt() >= minWidth ? 1 : 0;
    }
    return count;
}

// The process below `pid` (itself included) that runs `binary`; 0 when none does yet.
qint64 descendantRunning(qint64 pid, const QString &binary)
{
    if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath() == binary)
        return pid;
    QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().split(' ')) {
            if (child.trimmed().isEmpty())
                continue;
            if (const qint64 found = descendantRunning(child.trimmed().toLongLong(), binary))
                return found;
        }
    }
    return 0;
}

struct Library {
    QString exportRoot;
    QString dataHome;
    QString support; // the app's folder in it
    QString runDir;
};

// One process of the app, with its log lines counted as they come.
class App
{
public:
    App(const QString &binary, const Library &library, const QStringList &wrap = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), library.dataHome);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), library.dataHome + QStringLiteral("/../config"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), library.runDir);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead, [this] { readLines(); });
        m_clock.start();
        // Under a wrapper (a profiler) the figures are the app's own, found among the wrapper's descendants, and
        // the app is ended by SIGKILL so that what it holds is what the profiler sees last.
        m_binary = QFileInfo(binary).canonicalFilePath();
        m_wrapped = !wrap.isEmpty();
        if (m_wrapped)
            m_process.start(wrap.first(), wrap.mid(1) + QStringList{binary});
        else
            m_process.start(binary, {});
        m_process.waitForStarted();
    }
    ~App()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(pid()), m_wrapped ? SIGKILL : SIGTERM);
            if (!m_process.waitForFinished(10 * 60'000))
                m_process.kill();
        }
    }

    qint64 pid() const
    {
        if (!m_wrapped)
            return m_process.processId();
        if (m_appPid <= 0)
            m_appPid = descendantRunning(m_process.processId(), m_binary);
        return m_appPid;
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    double seconds() const { return m_clock.nsecsElapsed() / 1e9; }
    bool reconciled = false;
    int baselines = 0;    // folders whose records were established from their files
    int firstSyncs = 0;   // new folders synced or linked to an existing gallery
    int uploads = 0;      // runs that put one new image into a gallery
    double lastWorkAt = 0; // seconds since start of the last of those lines
    int failedReconciles = 0;
    QByteArray lastFailure;
    double failedAt = -1; // a reconcile failed and no other has started since

    // A failed reconcile that no other follows within two minutes: the app will not get synced by itself.
    bool givenUp() const { return failedAt >= 0 && seconds() - failedAt > 120; }

    // Until the process's CPU has not moved for `quietMs`.
    bool waitIdle(int quietMs, int limitMs)
    {
        double cpu = processCpu(pid());
        QElapsedTimer quiet;
        quiet.start();
        return waitUntil(
            [&] {
                const double now = processCpu(pid());
                if (now != cpu) {
                    cpu = now;
                    quiet.restart();
                }
                return quiet.elapsed() >= quietMs;
            },
            limitMs, 100);
    }

private:
    // BENCH_LOG=FILE keeps the app's output there.
    static QFile *openLog()
    {
        const QString path = qEnvironmentVariable("BENCH_LOG");
        if (path.isEmpty())
            return nullptr;
        auto *file = new QFile(path);
        return file->open(QIODevice::WriteOnly | QIODevice::Append) ? file : nullptr;
    }

    void readLines()
    {
        const QByteArray read = m_process.readAll();
        if (static QFile *log = openLog(); log)
            log->write(read);
        m_pending += read;
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            if (line.contains("Reconcile done"))
                reconciled = true;
            if (line.contains("Reconcile failed")) {
                ++failedReconciles;
                lastFailure = line;
                failedAt = seconds();
            }
            if (line.contains("Full scan+reconcile starting"))
                failedAt = -1;
            if (line.contains("Established metadata baseline for")) {
                ++baselines;
                lastWorkAt = seconds();
            }
            if (line.contains("Uploaded 1 new images to "))
                ++uploads;
            if (line.contains("Synced Ny_") || line.contains("Found existing gallery for Ny ")) {
                ++firstSyncs;
                lastWorkAt = seconds();
            }
            if (qEnvironmentVariableIsSet("BENCH_TRACE"))
                std::printf("  app: %s\n", line.constData());
        }
    }

    QProcess m_process;
    QString m_binary;
    bool m_wrapped = false;
    mutable qint64 m_appPid = 0;
    QElapsedTimer m_clock;
    QByteArray m_pending;
};

// The state on disk as the app reads it at start: the snapshot, then the log's lines replayed over it. Read-only
// (nothing is moved aside or cut) and kept up to date cheaply: the snapshot is decoded again only when it was
// replaced, and of a log that only grew just the new lines are replayed.
class StateOnDisk
{
public:
    explicit StateOnDisk(const QString &support)
        : m_snapshotPath(support + u'/' + StateLedger::stateFileName)
        , m_logPath(support + u'/' + StateLedger::logFileName)
    {
    }

    // Reads what changed since the last call; false when the state is not there or cannot be read (yet).
    bool refresh()
    {
        // The log first: a compaction writes the new snapshot before it replaces the log, so the snapshot read
        // after it is never older than the log's start, and a replay over it gives the state as of the log's end.
        QFile log(m_logPath);
        const bool hasLog = log.open(QIODevice::ReadOnly);
        const std::optional<Stamp> logStamp = hasLog ? stampOf(log.handle()) : std::nullopt;
        QFile snapshot(m_snapshotPath);
        const bool hasSnapshot = snapshot.open(QIODevice::ReadOnly);
        const std::optional<Stamp> snapshotStamp = hasSnapshot ? stampOf(snapshot.handle()) : std::nullopt;
        if (!hasSnapshot && !hasLog)
            return m_valid = false;
        if (snapshotStamp != m_snapshotStamp) {
            m_base = LedgerState();
            if (hasSnapshot) {
                try {
                    m_base = LedgerState::of(decodeSyncState(snapshot.readAll()));
                } catch (const std::exception &) {
                    m_snapshotStamp.reset();
                    return m_valid = false;
                }
            }
            m_snapshotStamp = snapshotStamp;
            m_logStamp.reset();
        }
        // A log replaced since may have the inode of an older one: its header's check tells them apart.
        const QByteArray logStart = hasLog ? log.read(8) : QByteArray();
        if (!logStamp || !m_logStamp || logStamp->inode != m_logStamp->inode || logStamp->size < m_logOffset
            || logStart != m_logStart) {
            m_state = m_base;
            m_logOffset = 0;
            m_logStamp = logStamp;
            m_logStart = logStart;
        }
        if (logStamp && logStamp->size > m_logOffset) {
            log.seek(m_logOffset);
            // A last line still being written stays for the next read.
            ledgerlog::Replay replay = ledgerlog::replay(log.readAll(), std::move(m_state));
            m_state = std::move(replay.state);
            m_logOffset += replay.goodBytes;
        }
        return m_valid = true;
    }

    bool valid() const { return m_valid; }
    const LedgerState &state() const { return m_state; }
    qint64 snapshotBytes() const { return QFileInfo(m_snapshotPath).size(); }
    qint64 logBytes() const { return QFileInfo(m_logPath).size(); }
    qint64 wholeBytes() const { return m_valid ? encodeSyncState(m_state.toSyncState()).size() : 0; }

    // Every folder's records hold their files' sizes: none is left with size 0, as the records a full scan links
    // from the service's names are until the folder's update fills them in.
    bool allSized() const
    {
        if (!m_valid)
            return false;
        for (const UploadRecords &records : m_state.records) {
            for (qsizetype i = 0; i < records.size(); ++i) {
                if (records.fileSizeAt(i) == 0)
                    return false;
            }
        }
        return true;
    }

    // Whether the records of the folder hold the file by that name.
    bool holds(const QString &folder, const QString &fileName) const
    {
        const auto records = m_state.records.constFind(folder);
        if (records == m_state.records.cend())
            return false;
        for (qsizetype i = 0; i < records->size(); ++i) {
            if (records->fileNameAt(i) == fileName)
                return true;
        }
        return false;
    }

private:
    using Stamp = SyncStateStore::FileStamp;
    static std::optional<Stamp> stampOf(int fd)
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return std::nullopt;
        return Stamp{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                     qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    }

    const QString m_snapshotPath;
    const QString m_logPath;
    std::optional<Stamp> m_snapshotStamp;
    std::optional<Stamp> m_logStamp;
    QByteArray m_logStart;
    qint64 m_logOffset = 0;
    LedgerState m_base;
    LedgerState m_state;
    bool m_valid = false;
};

// When the state was last written (the snapshot or the log), in seconds since the app's start; -1 while there is
// none.
double stateWrittenAt(const Library &library, const App &app)
{
    QDateTime last;
    for (const QLatin1StringView name : {StateLedger::stateFileName, StateLedger::logFileName}) {
        const QFileInfo file(library.support + u'/' + name);
        if (file.exists() && (last.isNull() || file.lastModified() > last))
            last = file.lastModified();
    }
    if (last.isNull())
        return -1;
    return app.seconds() - double(last.msecsTo(QDateTime::currentDateTime())) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    int images = 20000;
    int perFolder = 100;
    int newFolders = 0;
    int pageSize = 20;
    int idleSeconds = 5;
    bool restart = false;
    bool overview = false;
    bool startUpload = false;
    int changes = 0;
    QString binary = QStringLiteral(VARNOSTIMA_APP_BINARY);
    QString keptTree;
    for (int i = 1; i < argc; ++i) {
        const QByteArray option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--restart")
            restart = true;
        else if (option == "--overview")
            overview = restart = true;
        else if (option == "--start-upload")
            startUpload = true;
        else if (option == "--images" && hasValue)
            images = atoi(argv[++i]);
        else if (option == "--per-folder" && hasValue)
            perFolder = atoi(argv[++i]);
        else if (option == "--new" && hasValue)
            newFolders = atoi(argv[++i]);
        else if (option == "--change" && hasValue)
            changes = atoi(argv[++i]);
        else if (option == "--page-size" && hasValue)
            pageSize = atoi(argv[++i]);
        else if (option == "--idle" && hasValue)
            idleSeconds = atoi(argv[++i]);
        else if (option == "--app" && hasValue)
            binary = QFile::decodeName(argv[++i]);
        else if (option == "--tree" && hasValue)
            keptTree = QFile::decodeName(argv[++i]);
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    const int folders = images / perFolder;

    // The tree and the service's child come before any thread of this process.
    char scratchTemplate[] = "/tmp/bench_app_synced_XXXXXX";
    const QString scratch = QFile::decodeName(mkdtemp(scratchTemplate));
    Library library;
    library.exportRoot = keptTree.isEmpty() ? scratch + QStringLiteral("/Eksport") : keptTree;
    library.dataHome = scratch + QStringLiteral("/data");
    library.support = library.dataHome + QStringLiteral("/Varnostima");
    library.runDir = scratch + QStringLiteral("/run");
    if (!QFileInfo::exists(library.exportRoot)) {
        std::printf("Generating %d folders x %d images and %d new folders...\n", folders, perFolder, newFolders);
        std::fflush(stdout);
        generateTree(library.exportRoot, folders, perFolder, newFolders);
        ::sleep(3); // older than the span in which the app takes an image for one still being written
    }
    int pipeFds[2];
    int putFds[2];
    if (::pipe(pipeFds) != 0 || ::pipe2(putFds, O_CLOEXEC) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::close(putFds[0]);
        runService(library.exportRoot, pageSize, pipeFds[1], changes > 0 || startUpload ? putFds[1] : -1);
    }
    ::close(pipeFds[1]);
    ::close(putFds[1]);
    ::fcntl(putFds[0], F_SETFL, O_NONBLOCK);
    const auto putsArrived = [&putFds] {
        int arrived = 0;
        char bytes[64];
        ssize_t n = 0;
        while ((n = ::read(putFds[0], bytes, sizeof bytes)) > 0)
            arrived += int(n);
        return arrived;
    };
    const QByteArray url = readLine(pipeFds[0]);
    const auto stopService = [&] {
        ::kill(child, SIGTERM);
        const QList<QByteArray> counts = readLine(pipeFds[0]).split(' ');
        ::waitpid(child, nullptr, 0);
        ::close(pipeFds[0]);
        return counts;
    };
    if (url.isEmpty()) {
        std::fprintf(stderr, "the stand-in service did not start\n");
        return 1;
    }

    QCoreApplication app(argc, argv);
    QDir().mkpath(library.support);
    QDir().mkpath(library.runDir);
    QFile::setPermissions(library.runDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(library.support + u'/' + name);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    };
    write(QStringLiteral(".api-token"), "bench");
    write(QStringLiteral(".base-url"), url);
    write(QStringLiteral("watch-folder.bookmark"), library.exportRoot.toUtf8());

    // The desktop: a window manager, an XEmbed tray and a notification daemon, as a user's session has.
    QProcess openbox;
    openbox.start(QStringLiteral("openbox"), {});
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                            QStringLiteral("right"), QStringLiteral("--widthtype"),
                                            QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("28"),
                                            QStringLiteral("--SetDockType"), QStringLiteral("true")});
    QProcess dunst;
    dunst.start(QStringLiteral("dunst"), {});
    int exitCode = 0;
    QStringList newImages;
    if (!openbox.waitForStarted() || !trayer.waitForStarted() || !dunst.waitForStarted()
        || !waitUntil([] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                      QStringLiteral("org.freedesktop.Notifications")); },
                      30'000, 20)) {
        std::fprintf(stderr, "openbox, trayer, dunst and a session bus are needed: run bench/run_bench_app_synced.sh\n");
        exitCode = 2;
    }
    pause(1'000); // the tray takes its selection

    if (exitCode == 0) {
        auto first = std::make_unique<App>(binary, library,
                                           qEnvironmentVariable("BENCH_WRAP_FIRST").split(u' ', Qt::SkipEmptyParts));
        // Synced: every folder's records established and the new folders synced, the state on disk (the snapshot
        // and the log replayed over it) holding them all, and then nothing left to do.
        StateOnDisk onDisk(library.support);
        const bool synced = waitUntil(
            [&] {
                return !first->running() || first->givenUp()
                       || (first->reconciled && first->baselines >= folders && first->firstSyncs >= newFolders
                           && onDisk.refresh() && onDisk.allSized());
            },
            60 * 60 * 1000, 100);
        if (!synced || !first->running() || first->givenUp() || !first->waitIdle(3000, 10 * 60 * 1000)) {
            std::fprintf(stderr, "the app did not get synced: %d of %d folders' records, %d of %d new folders\n",
                         first->baselines, folders, first->firstSyncs, newFolders);
            if (first->failedReconciles > 0)
                std::fprintf(stderr, "  %d failed reconciles, the last: %s\n", first->failedReconciles,
                             first->lastFailure.constData());
            exitCode = 1;
        } else {
            const double cpu = processCpu(first->pid());
            const qint64 passBytes = writtenBytes(first->pid());
            std::printf("%d folders x %d images (%d images) seeded, %d new folders: synced, CPU %.2f s; the last "
                        "folder's records at %.1f s, state last written at %.1f s; peak RSS %.1f MiB; %d failed "
                        "reconciles on the way\n",
                        folders, perFolder, folders * perFolder, newFolders, cpu, first->lastWorkAt,
                        stateWrittenAt(library, *first), statusMiB(first->pid(), "VmHWM:"), first->failedReconciles);
            // The bytes are set against the state written whole, the file a compaction leaves: while the log is
            // small the state may not have been written as one file yet.
            const qint64 wholeBytes = onDisk.wholeBytes();
            std::printf("  written until synced: %.1f MB, %.1fx the state written whole (%.2f MB); on disk: state file "
                        "%.2f MB, its log %.3f MB, all files beside them %.2f MB\n",
                        passBytes / 1e6, wholeBytes > 0 ? double(passBytes) / double(wholeBytes) : 0.0,
                        wholeBytes / 1e6, onDisk.snapshotBytes() / 1e6, onDisk.logBytes() / 1e6,
                        filesSize(library.support) / 1e6);
            std::fflush(stdout);
            const ThreadTimes idleStart = threadTimes(first->pid());
            pause(idleSeconds * 1000);
            std::printf("  idle %d s after, panel closed: RSS %.1f MiB (anonymous %.1f MiB); CPU %.2f s, of it %.2f ms "
                        "while idle\n",
                        idleSeconds, statusMiB(first->pid(), "VmRSS:"), statusMiB(first->pid(), "RssAnon:"),
                        processCpu(first->pid()), cpuSince(idleStart, first->pid()) * 1e3);
            std::fflush(stdout);

            // One new image at a time, each in another seeded folder; taken out of a kept tree at the end.
            putsArrived();
            const bool byThread = qEnvironmentVariableIsSet("BENCH_THREADS");
            for (int r = 0; r < changes && exitCode == 0; ++r) {
                const QString folder = seededFolder(library.exportRoot, (r * 7919 + 13) % folders);
                const int uploadsBefore = first->uploads;
                const ThreadTimes cpuStart = threadTimes(first->pid());
                const qint64 faultsStart = minorFaults(first->pid());
                const qint64 bytesStart = writtenBytes(first->pid());
                const double wallStart = first->seconds();
                const QString image = folder + QStringLiteral("/NEW_%1_%2.jpg").arg(::getpid()).arg(r);
                writeSparse(image, 123456);
                newImages.append(image);
                double cpuSending = -1;
                QString sendingByThread;
                double wallSending = 0;
                const bool onService = waitUntil(
                    [&] {
                        if (cpuSending < 0 && putsArrived() > 0) {
                            cpuSending = cpuSince(cpuStart, first->pid());
                            if (byThread)
                                sendingByThread = cpuByThread(cpuStart, first->pid()) + QStringLiteral("; %1 page faults").arg(minorFaults(first->pid()) - faultsStart);
                            wallSending = first->seconds();
                        }
                        return first->uploads > uploadsBefore || !first->running();
                    },
                    120'000, 2);
                if (!onService || cpuSending < 0) {
                    std::fprintf(stderr, "change %d: the image did not reach the service\n", r + 1);
                    exitCode = 1;
                    break;
                }
                pause(8'000);
                const double cpuEnd = cpuSince(cpuStart, first->pid());
                const qint64 bytesEnd = writtenBytes(first->pid());
                const QString fileName = QFileInfo(image).fileName();
                const bool recorded =
                    waitUntil([&] { return onDisk.refresh() && onDisk.holds(folder, fileName); }, 60'000, 100);
                std::printf("  new image, run %d: %.1f ms CPU from the file landing to its upload starting (%.1f s "
                            "wall); %.1f ms CPU for the whole change, %.3f MB written; its state on disk: %s, state "
                            "file %.2f MB, log %.3f MB\n",
                            r + 1, cpuSending * 1e3, wallSending - wallStart, cpuEnd * 1e3,
                            (bytesEnd - bytesStart) / 1e6, recorded ? "recorded" : "NOT RECORDED",
                            onDisk.snapshotBytes() / 1e6, onDisk.logBytes() / 1e6);
                if (byThread)
                    std::printf("    by thread (ms), to the upload start: %s; whole: %s\n", qPrintable(sendingByThread),
                                qPrintable(cpuByThread(cpuStart, first->pid())));
                std::fflush(stdout);
            }
        }
        first.reset(); // SIGTERM, as a session ends it; it writes what it holds

        if (exitCode == 0 && restart) {
            // BENCH_WRAP runs this start under another program, e.g. "heaptrack -o FILE".
            App second(binary, library, qEnvironmentVariable("BENCH_WRAP").split(u' ', Qt::SkipEmptyParts));
            const bool ready = waitUntil([&] { return !second.running() || second.reconciled; }, 10 * 60 * 1000, 50)
                               && second.running() && second.waitIdle(3000, 10 * 60 * 1000);
            if (!ready) {
                std::fprintf(stderr, "the app did not start again on its state file\n");
                exitCode = 1;
            } else {
                pause(idleSeconds * 1000);
                std::printf("started again on its %.2f MB state file and %.3f MB log: idle, panel closed: RSS %.1f "
                            "MiB (anonymous %.1f MiB), peak %.1f MiB, CPU %.2f s\n",
                            onDisk.snapshotBytes() / 1e6, onDisk.logBytes() / 1e6,
                            statusMiB(second.pid(), "VmRSS:"), statusMiB(second.pid(), "RssAnon:"),
                            statusMiB(second.pid(), "VmHWM:"), processCpu(second.pid()));
                std::fflush(stdout);
            }
            if (exitCode == 0 && overview) {
                // The tray's menu, as a user opens it: its first entry, signed in, opens the overview.
                std::optional<QPoint> icon;
                waitUntil([&] { return (icon = trayIconCentre()).has_value(); }, 30'000, 200);
                if (!icon) {
                    std::fprintf(stderr, "the app's tray icon is not docked\n");
                    exitCode = 1;
                } else {
                    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(icon->x()),
                                                    QString::number(icon->y()), QStringLiteral("click"),
                                                    QStringLiteral("3")});
                    pause(1'000);
                    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Down"),
                                                    QStringLiteral("Return")});
                    if (!waitUntil([] { return wideWindows(600) > 0; }, 30'000, 200)) {
                        std::fprintf(stderr, "the overview window did not open\n");
                        exitCode = 1;
                    } else {
                        second.waitIdle(3000, 10 * 60 * 1000);
                        pause(idleSeconds * 1000);
                        std::printf("  overview window open, idle: RSS %.1f MiB (anonymous %.1f MiB), peak %.1f MiB\n",
                                    statusMiB(second.pid(), "VmRSS:"), statusMiB(second.pid(), "RssAnon:"),
                                    statusMiB(second.pid(), "VmHWM:"));
                        std::fflush(stdout);
                    }
                }
            }
        }

        if (exitCode == 0 && startUpload) {
            // The start's own work before its first upload: the scan, the reconcile, whatever else reads the tree,
            // and the pass's wait (which costs no CPU). Its name sorts before the folder's others, so that its record,
            // appended after theirs, is out of name order for the start that follows.
            const QString image = seededFolder(library.exportRoot, folders / 2)
                                  + QStringLiteral("/0_START_%1.jpg").arg(::getpid());
            writeSparse(image, 123456);
            // Written a minute ago: the pass does not wait for it to settle.
            const struct timeval minuteAgo[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
            ::utimes(QFile::encodeName(image).constData(), minuteAgo);
            newImages.append(image);
            putsArrived();
            const double serviceStart = processCpu(child);
            auto third = std::make_unique<App>(binary, library);
            double cpu = -1;
            double wall = 0;
            double serviceCpu = 0;
            waitUntil(
                [&] {
                    if (putsArrived() > 0) {
                        cpu = processCpu(third->pid());
                        wall = third->seconds();
                        serviceCpu = processCpu(child) - serviceStart;
                    }
                    return cpu >= 0 || !third->running();
                },
                10 * 60 * 1000, 2);
            if (cpu < 0) {
                std::fprintf(stderr, "the image dropped before a start did not reach the service\n");
                exitCode = 1;
            } else {
                const double find = findCpu(library.exportRoot);
                std::printf("  started again with one new image: its upload started %.2f s after the start, after "
                            "%.2f s of the app's CPU, %.1fx the CPU of a find -printf of the tree (%.2f s); the "
                            "stand-in's CPU meanwhile %.2f s\n",
                            wall, cpu, find > 0 ? cpu / find : 0.0, find, serviceCpu);
                std::fflush(stdout);
                // A start after one that uploaded, with nothing changed: what it writes should be a few lines of
                // log, not the state whole again.
                third->waitIdle(3000, 10 * 60 * 1000);
                third.reset(); // SIGTERM, as a session ends it: one instance at a time
                third = std::make_unique<App>(binary, library);
                const bool idle = waitUntil([&] { return !third->running() || third->reconciled; }, 10 * 60 * 1000, 50)
                                  && third->running() && third->waitIdle(3000, 10 * 60 * 1000);
                if (!idle) {
                    std::fprintf(stderr, "the app did not start again with nothing changed\n");
                    exitCode = 1;
                } else {
                    std::printf("  started again with nothing changed: %.3f MB written until idle (state file %.2f "
                                "MB)\n",
                                writtenBytes(third->pid()) / 1e6, onDisk.snapshotBytes() / 1e6);
                    std::fflush(stdout);
                }
            }
        }
    }

    const QList<QByteArray> counts = stopService();
    if (counts.size() == 3 && exitCode == 0)
        std::printf("stand-in: %s galleries; gallery list read %s pages in %s walks\n", counts.at(0).constData(),
                    counts.at(1).constData(), counts.at(2).constData());
    for (QProcess *process : {&dunst, &trayer, &openbox}) {
        process->terminate();
        process->waitForFinished(5'000);
    }
    for (const QString &image : std::as_const(newImages))
        QFile::remove(image);
    if (keptTree.isEmpty())
        QDir(library.exportRoot).removeRecursively();
    QDir(scratch).removeRecursively();
    return exitCode;
}
