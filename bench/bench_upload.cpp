// Upload throughput and CPU cost of the engine's upload pipeline on loopback, side by side with curl putting the
// same files four at a time, and the engine's peak memory while it uploads a large batch.
//
// The stand-in service runs as its own process (varnostima-standin), so this process's CPU time is the client's
// alone. Each round uploads the same files three ways, in rotating order, each to fresh presigned slots:
//   engine        SyncManager::uploadFiles: presign, PUT four at a time in groups, one confirm
//   curl 4/group  four `curl -T` processes per group of four files, the next group when all four are done
//   curl -Z 4     one curl process, --parallel --parallel-max 4 over all files
// CPU of the engine is getrusage(RUSAGE_SELF) around uploadFiles; CPU of curl is the rusage of its processes.
// MB and GB are 10^6 and 10^9 bytes.
//
//     bench_upload [--files N] [--size-mb M] [--rounds R] [--rss-files N] [--rss-size-mb M] [--rss-distinct K]
//                  [--no-rss] [--no-throughput] [--dir PATH] [--standin PATH] [--curl PATH]

#include "ProcessMemory.h"
#include "service/VarnostimaAPI.h"
#include "sync/SyncManager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr qint64 kMB = 1000 * 1000;
constexpr double kGB = 1e9;
const QByteArray kToken = QByteArrayLiteral("bench-token");

struct Options {
    int files = 24;
    qint64 sizeMB = 25;
    int rounds = 3;
    int rssFiles = 200;
    qint64 rssSizeMB = 25;
    int rssDistinct = 0; // 0: every file its own bytes
    bool rss = true;
    bool throughput = true;
    QString dir;
    QString standin;
    QString curl = QStringLiteral("curl");
};

// ---------------------------------------------------------------- measuring

double seconds(const timeval &tv)
{
    return double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
}

double cpuSeconds(const rusage &ru)
{
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

double selfCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return cpuSeconds(ru);
}

// utime + stime of another process, from /proc/<pid>/stat.
double processCpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The command name may hold spaces: the fields start after its closing parenthesis.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    // Fields 14 and 15 of the file are 11 and 12 here (state is field 3, index 0).
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
}

// ---------------------------------------------------------------- files

void writeRandomFile(const QString &path, qint64 bytes, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + path.toStdString());
    std::vector<quint64> block((1 << 20) / sizeof(quint64));
    quint64 state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 left = bytes; left > 0;) {
        for (quint64 &word : block) { // splitmix64: fast, and no two blocks alike
            quint64 z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
        const qint64 chunk = std::min<qint64>(left, qint64(block.size() * sizeof(quint64)));
        if (file.write(reinterpret_cast<const char *>(block.data()), chunk) != chunk)
            throw std::runtime_error("cannot write " + path.toStdString());
        left -= chunk;
    }
}

// `count` files of `bytes` each under `folder`; with distinct > 0 only that many hold their own bytes and the
// rest are hard links to them (the client cannot tell, and the disk is spared).
QStringList makeFiles(const QString &folder, int count, qint64 bytes, int distinct, quint64 seedBase)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = QDir(folder).filePath(QStringLiteral("IMG_%1.jpg").arg(i + 1, 4, 10, QLatin1Char('0')));
        if (distinct > 0 && i >= distinct) {
            if (::link(QFile::encodeName(paths.at(i % distinct)).constData(), QFile::encodeName(path).constData()))
                throw std::runtime_error("cannot link " + path.toStdString() + ": " + std::strerror(errno));
        } else {
            writeRandomFile(path, bytes, seedBase + quint64(i));
        }
        paths.append(path);
    }
    return paths;
}

// ---------------------------------------------------------------- processes

struct SpawnedStandIn {
    pid_t pid = -1;
    int stdoutFd = -1;
    QUrl baseUrl;
};

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("no free port on 127.0.0.1");
    return probe.serverPort();
}

// Dies with this process even when it crashes. The child calls only async-signal-safe functions before exec.
SpawnedStandIn startStandIn(const QString &program, quint16 port)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const std::string exe = QFile::encodeName(program).toStdString();
    const std::string portText = std::to_string(port);
    const std::string token = kToken.toStdString();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(fds[1], STDOUT_FILENO);
        const char *argv[] = {exe.c_str(), "--port", portText.c_str(), "--token", token.c_str(), nullptr};
        execv(exe.c_str(), const_cast<char *const *>(argv));
        _exit(127);
    }
    ::close(fds[1]);
    // It prints its base URL once it listens.
    std::string line;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        line.push_back(c);
    if (line.rfind("http://", 0) != 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        throw std::runtime_error("the stand-in did not start: " + exe);
    }
    return {pid, fds[0], QUrl(QString::fromStdString(line))};
}

void stopStandIn(SpawnedStandIn &standIn)
{
    if (standIn.pid <= 0)
        return;
    ::kill(standIn.pid, SIGTERM);
    int status = 0;
    while (waitpid(standIn.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(standIn.stdoutFd);
    standIn.pid = -1;
}

pid_t spawn(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv.front(), nullptr, nullptr, argv.data(), environ);
    if (error != 0)
        throw std::runtime_error("cannot start " + args.front() + ": " + std::strerror(error));
    return pid;
}

// Waits for the process and adds its CPU seconds; false when it failed.
bool reap(pid_t pid, double &cpu)
{
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR)
            return false;
    }
    cpu += cpuSeconds(ru);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> curlCommon(const Options &options)
{
    // No "Expect: 100-continue": the engine does not wait for one either.
    return {options.curl.toStdString(), "-sS", "--no-progress-meter", "--fail", "-H", "Expect:", "-H", "Content-Type: image/jpeg"};
}

// ---------------------------------------------------------------- the runs

struct Run {
    qint64 bytes = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double serviceCpuSeconds = 0;
    double mbPerSecond() const { return wallSeconds > 0 ? double(bytes) / double(kMB) / wallSeconds : 0; }
};

struct Context {
    Options options;
    VarnostimaAPI *api = nullptr;
    SyncManager *manager = nullptr;
    pid_t standInPid = -1;
    QString galleryId;
    QString root;
};

qint64 totalSize(const QStringList &files)
{
    qint64 sum = 0;
    for (const QString &file : files)
        sum += QFileInfo(file).size();
    return sum;
}

QCoro::Task<QString> createGallery(VarnostimaAPI *api, QString title)
{
    CreateGalleryRequest request;
    request.title = title;
    const CreateGalleryResponse created = co_await api->createGallery(request);
    co_return created.gallery.id;
}

QCoro::Task<Run> runEngine(Context *context, QStringList files)
{
    SyncFolder folder;
    folder.path = QFileInfo(files.first()).path();
    folder.name = QFileInfo(folder.path).fileName();
    folder.displayName = folder.name;

    Run run;
    run.bytes = totalSize(files);
    const double serviceBefore = processCpuSeconds(context->standInPid);
    const double cpuBefore = selfCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    const UploadBatchResult result = co_await context->manager->uploadFiles(files, context->galleryId, folder);
    run.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    run.cpuSeconds = selfCpuSeconds() - cpuBefore;
    run.serviceCpuSeconds = processCpuSeconds(context->standInPid) - serviceBefore;
    if (result.uploadedCount != files.size() || result.failedCount != 0)
        throw std::runtime_error("the engine uploaded " + std::to_string(result.uploadedCount) + " of " +
                                 std::to_string(files.size()) + " files");
    co_return run;
}

QCoro::Task<QStringList> presignedUrls(Context *context, QStringList files)
{
    QList<PresignedRequest::FileInfo> descriptions;
    for (const QString &file : std::as_const(files))
        descriptions.append({QFileInfo(file).fileName(), QStringLiteral("image/jpeg"), QFileInfo(file).size()});
    const PresignedResponse presigned = co_await context->api->requestPresignedURLs(context->galleryId, descriptions);
    QStringList urls;
    for (const PresignedResponse::PresignedURL &entry : presigned.presignedUrls)
        urls.append(entry.url);
    if (urls.size() != files.size())
        throw std::runtime_error("the service handed out too few slots");
    co_return urls;
}

// Blocks while curl runs: nothing else of this process has work meanwhile, and wait4 gives each child's CPU.
Run runCurlGroups(const Context &context, const QStringList &files, const QStringList &urls)
{
    Run run;
    run.bytes = totalSize(files);
    const double serviceBefore = processCpuSeconds(context.standInPid);
    QElapsedTimer timer;
    timer.start();
    bool ok = true;
    for (qsizetype start = 0; start < files.size(); start += 4) {
        std::vector<pid_t> group;
        for (qsizetype i = start; i < std::min<qsizetype>(start + 4, files.size()); ++i) {
            std::vector<std::string> args = curlCommon(context.options);
            args.insert(args.end(), {"-o", "/dev/null", "-T", QFile::encodeName(files.at(i)).toStdString(),
                                     urls.at(i).toStdString()});
            group.push_back(spawn(args));
        }
        for (pid_t pid : group)
            ok = reap(pid, run.cpuSeconds) && ok;
    }
    run.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    run.serviceCpuSeconds = processCpuSeconds(context.standInPid) - serviceBefore;
    if (!ok)
        throw std::runtime_error("a curl upload failed");
    return run;
}

Run runCurlParallel(const Context &context, const QStringList &files, const QStringList &urls)
{
    std::vector<std::string> args = curlCommon(context.options);
    args.insert(args.end(), {"--parallel", "--parallel-immediate", "--parallel-max", "4"});
    for (qsizetype i = 0; i < files.size(); ++i)
        args.insert(args.end(), {"-o", "/dev/null", "-T", QFile::encodeName(files.at(i)).toStdString(),
                                 urls.at(i).toStdString()});
    Run run;
    run.bytes = totalSize(files);
    const double serviceBefore = processCpuSeconds(context.standInPid);
    QElapsedTimer timer;
    timer.start();
    const bool ok = reap(spawn(args), run.cpuSeconds);
    run.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    run.serviceCpuSeconds = processCpuSeconds(context.standInPid) - serviceBefore;
    if (!ok)
        throw std::runtime_error("a curl upload failed");
    return run;
}

struct Series {
    const char *name;
    std::vector<Run> runs;

    double medianMBps() const
    {
        std::vector<double> rates;
        for (const Run &run : runs)
            rates.push_back(run.mbPerSecond());
        std::sort(rates.begin(), rates.end());
        if (rates.empty())
            return 0;
        const size_t mid = rates.size() / 2;
        return rates.size() % 2 ? rates[mid] : (rates[mid - 1] + rates[mid]) / 2;
    }
    double total(double Run::*field) const
    {
        double sum = 0;
        for (const Run &run : runs)
            sum += run.*field;
        return sum;
    }
    double bytes() const
    {
        double sum = 0;
        for (const Run &run : runs)
            sum += double(run.bytes);
        return sum;
    }
    double cpuPerGB() const { return bytes() > 0 ? total(&Run::cpuSeconds) / (bytes() / kGB) : 0; }
    double serviceCpuPerGB() const { return bytes() > 0 ? total(&Run::serviceCpuSeconds) / (bytes() / kGB) : 0; }
};

QCoro::Task<void> throughput(Context *context)
{
    const Options &options = context->options;
    std::printf("Preparing %d files of %lld MB (random bytes)...\n", options.files,
                static_cast<long long>(options.sizeMB));
    std::fflush(stdout);
    const QStringList files = makeFiles(context->root + QStringLiteral("/Throughput"), options.files,
                                        options.sizeMB * kMB, 0, 1000);

    // One untimed engine run first: connections, caches and the service's first allocations warm up.
    const QStringList warmFiles = files.mid(0, std::min<qsizetype>(4, files.size()));
    co_await runEngine(context, warmFiles);

    Series engine{"engine (uploadFiles)", {}};
    Series groups{"curl, 4 per group", {}};
    Series parallel{"curl -Z, 4 at a time", {}};
    std::printf("\nround  %-22s %9s %8s %11s\n", "client", "MB/s", "CPU s", "service s");
    for (int round = 0; round < options.rounds; ++round) {
        for (int step = 0; step < 3; ++step) {
            const int which = (round + step) % 3;
            Series *series = which == 0 ? &engine : which == 1 ? &groups : &parallel;
            Run run;
            if (which == 0) {
                run = co_await runEngine(context, files);
            } else {
                const QStringList urls = co_await presignedUrls(context, files);
                run = which == 1 ? runCurlGroups(*context, files, urls) : runCurlParallel(*context, files, urls);
            }
            series->runs.push_back(run);
            std::printf("%5d  %-22s %9.1f %8.2f %11.2f\n", round + 1, series->name, run.mbPerSecond(),
                        run.cpuSeconds, run.serviceCpuSeconds);
            std::fflush(stdout);
        }
    }

    std::printf("\nUpload throughput on loopback: %d files x %lld MB per run, %d rounds (MB/s: median; CPU: all "
                "rounds)\n",
                options.files, static_cast<long long>(options.sizeMB), options.rounds);
    std::printf("%-22s %9s %10s %16s %14s %16s\n", "client", "MB/s", "CPU s/GB", "service CPU s/GB",
                "engine/this", "engine CPU/this");
    for (const Series *series : {&engine, &groups, &parallel}) {
        std::printf("%-22s %9.1f %10.2f %16.2f %14.2f %16.2f\n", series->name, series->medianMBps(),
                    series->cpuPerGB(), series->serviceCpuPerGB(), engine.medianMBps() / series->medianMBps(),
                    engine.cpuPerGB() / series->cpuPerGB());
    }
    for (const Series *series : {&groups, &parallel}) {
        const double rate = engine.medianMBps() / series->medianMBps();
        const double cpu = engine.cpuPerGB() / series->cpuPerGB();
        std::printf("vs %-20s throughput %.2f of curl (target >= 0.5: %s), CPU per GB %.2fx curl's (target <= 1.1: "
                    "%s)\n",
                    series->name, rate, rate >= 0.5 ? "met" : "MISSED", cpu, cpu <= 1.1 ? "met" : "MISSED");
    }
    std::fflush(stdout);
}

// Samples VmRSS while the batch runs, to show whether it grows from the first group to the last.
struct RssSampler {
    QTimer timer;
    QElapsedTimer clock;
    std::vector<std::pair<qint64, qint64>> samples; // ms, KiB

    void start()
    {
        clock.start();
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, &timer,
                         [this] { samples.emplace_back(clock.elapsed(), bench::statusKiB("VmRSS:")); });
        timer.start();
    }
    // The highest sample within [from, to) of the run's duration, as fractions.
    qint64 maxBetween(double from, double to) const
    {
        const qint64 end = samples.empty() ? 0 : samples.back().first;
        qint64 best = 0;
        for (const auto &[ms, kib] : samples) {
            if (ms >= qint64(from * double(end)) && ms <= qint64(to * double(end)))
                best = std::max(best, kib);
        }
        return best;
    }
};

QCoro::Task<void> memory(Context *context)
{
    const Options &options = context->options;
    std::printf("Preparing %d files of %lld MB (%s)...\n", options.rssFiles, static_cast<long long>(options.rssSizeMB),
                options.rssDistinct > 0
                    ? qPrintable(QStringLiteral("%1 with random bytes, the rest hard links to them")
                                     .arg(options.rssDistinct))
                    : "random bytes each");
    std::fflush(stdout);
    const QStringList files = makeFiles(context->root + QStringLiteral("/Memory"), options.rssFiles,
                                        options.rssSizeMB * kMB, options.rssDistinct, 5000);

    const bool reset = bench::resetPeakRss();
    const qint64 idle = bench::statusKiB("VmRSS:");
    RssSampler sampler;
    sampler.start();
    const Run run = co_await runEngine(context, files);
    sampler.timer.stop();
    const qint64 peak = bench::statusKiB("VmHWM:");
    const qint64 after = bench::statusKiB("VmRSS:");

    std::printf("\nPeak memory while the engine uploads %d files x %lld MB (%.1f MB/s, %.2f CPU s/GB)\n",
                options.rssFiles, static_cast<long long>(options.rssSizeMB), run.mbPerSecond(),
                run.cpuSeconds / (double(run.bytes) / kGB));
    std::printf("  idle RSS before upload     %8.1f MiB\n", double(idle) / 1024.0);
    std::printf("  peak RSS (VmHWM)           %8.1f MiB%s\n", double(peak) / 1024.0,
                reset ? "" : "  (VmHWM could not be reset: includes earlier peaks)");
    std::printf("  peak - idle                %8.1f MiB  (target: well under 100 MB: %s)\n",
                double(peak - idle) / 1024.0, double(peak - idle) * 1024.0 < 100.0 * double(kMB) ? "met" : "MISSED");
    std::printf("  RSS after upload           %8.1f MiB\n", double(after) / 1024.0);
    std::printf("  sampled RSS max, first / last quarter of the run  %.1f / %.1f MiB (%zu samples)\n",
                double(sampler.maxBetween(0.0, 0.25)) / 1024.0, double(sampler.maxBetween(0.75, 1.0)) / 1024.0,
                sampler.samples.size());
    std::fflush(stdout);
    // The hard-linked and random files are not needed any more: free the disk before the next phase.
    QDir(context->root + QStringLiteral("/Memory")).removeRecursively();
}

QCoro::Task<void> runAll(Context *context, int *exitCode)
{
    try {
        context->galleryId = co_await createGallery(context->api, QStringLiteral("Bench"));
        // Memory first, in a process that has uploaded nothing yet: its idle figure is the honest one.
        if (context->options.rss)
            co_await memory(context);
        if (context->options.throughput)
            co_await throughput(context);
    } catch (const UserFacingError &error) {
        std::fprintf(stderr, "failed: %s\n", qUtf8Printable(error.localizedDescription()));
        *exitCode = 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        *exitCode = 1;
    } catch (...) {
        std::fprintf(stderr, "failed: unknown error\n");
        *exitCode = 1;
    }
    QCoreApplication::quit();
}

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Upload throughput and CPU of the engine against curl on loopback, and its peak memory."));
    parser.addHelpOption();
    const QCommandLineOption files(QStringLiteral("files"), QStringLiteral("Files per throughput run (24)."),
                                   QStringLiteral("N"), QStringLiteral("24"));
    const QCommandLineOption size(QStringLiteral("size-mb"), QStringLiteral("Size of each, MB (25)."),
                                  QStringLiteral("M"), QStringLiteral("25"));
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Rounds of the three clients (3)."),
                                    QStringLiteral("R"), QStringLiteral("3"));
    const QCommandLineOption rssFiles(QStringLiteral("rss-files"), QStringLiteral("Files in the memory run (200)."),
                                      QStringLiteral("N"), QStringLiteral("200"));
    const QCommandLineOption rssSize(QStringLiteral("rss-size-mb"),
                                     QStringLiteral("Size of each in the memory run, MB (25)."), QStringLiteral("M"),
                                     QStringLiteral("25"));
    const QCommandLineOption rssDistinct(
        QStringLiteral("rss-distinct"),
        QStringLiteral("Files with their own bytes in the memory run, the rest hard links (0: all)."),
        QStringLiteral("K"), QStringLiteral("0"));
    const QCommandLineOption noRss(QStringLiteral("no-rss"), QStringLiteral("Skip the memory run."));
    const QCommandLineOption noThroughput(QStringLiteral("no-throughput"), QStringLiteral("Skip the throughput runs."));
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("Folder for the temporary files."),
                                 QStringLiteral("PATH"), QDir::tempPath());
    const QCommandLineOption standin(
        QStringLiteral("standin"), QStringLiteral("The varnostima-standin program."), QStringLiteral("PATH"),
        QDir(app.applicationDirPath()).filePath(QStringLiteral("../tests/support/varnostima-standin")));
    const QCommandLineOption curl(QStringLiteral("curl"), QStringLiteral("The curl program."), QStringLiteral("PATH"),
                                  QStringLiteral("curl"));
    parser.addOptions({files, size, rounds, rssFiles, rssSize, rssDistinct, noRss, noThroughput, dir, standin, curl});
    parser.process(app);

    Options options;
    options.files = std::max(1, parser.value(files).toInt());
    options.sizeMB = std::max<qint64>(1, parser.value(size).toLongLong());
    options.rounds = std::max(1, parser.value(rounds).toInt());
    options.rssFiles = std::max(1, parser.value(rssFiles).toInt());
    options.rssSizeMB = std::max<qint64>(1, parser.value(rssSize).toLongLong());
    options.rssDistinct = std::max(0, parser.value(rssDistinct).toInt());
    options.rss = !parser.isSet(noRss);
    options.throughput = !parser.isSet(noThroughput);
    options.dir = parser.value(dir);
    options.standin = QDir::cleanPath(parser.value(standin));
    options.curl = parser.value(curl);
    return options;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app);
    if (!QFileInfo(options.standin).isExecutable()) {
        std::fprintf(stderr, "no stand-in at %s (build the varnostima-standin target, or pass --standin)\n",
                     qPrintable(options.standin));
        return 2;
    }

    SpawnedStandIn standIn;
    try {
        standIn = startStandIn(options.standin, freeLoopbackPort());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }

    QTemporaryDir root(QDir(options.dir).filePath(QStringLiteral("bench-upload-XXXXXX")));
    if (!root.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder in %s\n", qPrintable(options.dir));
        stopStandIn(standIn);
        return 1;
    }
    QTemporaryDir support;

    VarnostimaAPI api;
    api.setCredentials(standIn.baseUrl, QString::fromUtf8(kToken));
    // A fresh support folder has no bookmark yet: that complaint is noise here. Upload failures still print.
    QLoggingCategory::setFilterRules(QStringLiteral("no.varnostima.mac.Sync.critical=false"));
    SyncManager manager(support.path(), SyncDelays{});
    QLoggingCategory::setFilterRules(QString());
    manager.setAPI(api);

    std::printf("stand-in %s (pid %d), files in %s\n", qPrintable(standIn.baseUrl.toString()), int(standIn.pid),
                qPrintable(root.path()));
    std::fflush(stdout);

    Context context;
    context.options = options;
    context.api = &api;
    context.manager = &manager;
    context.standInPid = standIn.pid;
    context.root = root.path();

    int exitCode = 0;
    auto task = runAll(&context, &exitCode);
    app.exec();
    stopStandIn(standIn);
    return exitCode;
}
