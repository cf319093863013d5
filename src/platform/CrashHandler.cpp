#include "CrashHandler.h"

#include "DesktopLogging.h"

#include <QDir>

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>

#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <ucontext.h>
#include <unistd.h>

// Everything reached from the signal handler is async-signal-safe: no allocation, no locks, no stdio, only
// open/write/rename/close on buffers prepared at install time.

namespace {

constexpr std::array kFatalSignals{SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};
constexpr int kMaxFrames = 128;
constexpr size_t kAltStackSize = 64 * 1024;

char g_folder[4096];
char g_release[128];
char g_modules[32 * 1024];
size_t g_modulesLength = 0;
struct sigaction g_previous[kFatalSignals.size()];
std::atomic<bool> g_installed{false};
std::atomic<bool> g_handling{false};
alignas(16) char g_altStack[kAltStackSize];

// A fixed buffer that flushes to a file descriptor.
class Writer
{
public:
    explicit Writer(int fd) : m_fd(fd) {}
    ~Writer() { flush(); }

    Writer &text(const char *s)
    {
        while (*s)
            put(*s++);
        return *this;
    }
    Writer &bytes(const char *s, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            put(s[i]);
        return *this;
    }
    Writer &dec(long long value)
    {
        char digits[24];
        int n = 0;
        unsigned long long v = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : value;
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0)
            put('-');
        while (n)
            put(digits[--n]);
        return *this;
    }
    Writer &hex(uintptr_t value)
    {
        text("0x");
        char digits[2 * sizeof(uintptr_t)];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 0xf];
            value >>= 4;
        } while (value);
        while (n)
            put(digits[--n]);
        return *this;
    }
    void flush()
    {
        size_t done = 0;
        while (done < m_used) {
            const ssize_t n = ::write(m_fd, m_buffer + done, m_used - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        m_used = 0;
    }

private:
    void put(char c)
    {
        if (m_used == sizeof m_buffer)
            flush();
        m_buffer[m_used++] = c;
    }

    int m_fd;
    char m_buffer[1024];
    size_t m_used = 0;
};

// Builds "<folder>/crash-<time>-<pid><suffix>" into out.
void reportPath(char *out, size_t size, long long time, long long pid, const char *suffix)
{
    size_t used = 0;
    auto append = [&](const char *s) {
        while (*s && used + 1 < size)
            out[used++] = *s++;
    };
    auto appendNumber = [&](long long v) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v > 0);
        while (n && used + 1 < size)
            out[used++] = digits[--n];
    };
    append(g_folder);
    append("/crash-");
    appendNumber(time);
    append("-");
    appendNumber(pid);
    append(suffix);
    out[used] = '\0';
}

uintptr_t faultingInstruction(void *context)
{
    if (!context)
        return 0;
    const auto *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return uintptr_t(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

int signalIndex(int sig)
{
    for (size_t i = 0; i < kFatalSignals.size(); ++i) {
        if (kFatalSignals[i] == sig)
            return int(i);
    }
    return -1;
}

void writeReport(int sig, siginfo_t *info, void *context)
{
    void *frames[kMaxFrames];
    const int frameCount = backtrace(frames, kMaxFrames);

    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long long pid = getpid();

    char temporary[sizeof g_folder + 64];
    char finished[sizeof g_folder + 64];
    reportPath(temporary, sizeof temporary, now.tv_sec, pid, ".tmp");
    reportPath(finished, sizeof finished, now.tv_sec, pid, CrashHandler::kReportSuffix);

    const int fd = ::open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    {
        Writer out(fd);
        out.text("varnostima-crash 1\n");
        out.text("signal ").dec(sig).text("\n");
        if (info) {
            out.text("code ").dec(info->si_code).text("\n");
            out.text("address ").hex(uintptr_t(info->si_addr)).text("\n");
        }
        if (const uintptr_t pc = faultingInstruction(context))
            out.text("pc ").hex(pc).text("\n");
        out.text("time ").dec(now.tv_sec).text("\n");
        out.text("pid ").dec(pid).text("\n");
        out.text("release ").text(g_release).text("\n");
        for (int i = 0; i < frameCount; ++i)
            out.text("frame ").hex(uintptr_t(frames[i])).text("\n");
        out.bytes(g_modules, g_modulesLength);
    }
    ::fsync(fd);
    ::close(fd);
    ::rename(temporary, finished);
}

void onFatalSignal(int sig, siginfo_t *info, void *context)
{
    // A second fault while writing, or a fault on another thread at the same time: let it die.
    if (!g_handling.exchange(true))
        writeReport(sig, info, context);

    const int index = signalIndex(sig);
    if (index >= 0)
        sigaction(sig, &g_previous[index], nullptr);
    else
        signal(sig, SIG_DFL);
    // Stays pending until the handler returns, then meets the previous disposition.
    raise(sig);
}

int collectModule(dl_phdr_info *info, size_t, void *)
{
    const char *name = info->dlpi_name && *info->dlpi_name ? info->dlpi_name : nullptr;
    char executable[4096];
    if (!name) {
        // The first entry is the program itself, without a name.
        const ssize_t n = readlink("/proc/self/exe", executable, sizeof executable - 1);
        if (n <= 0)
            return 0;
        executable[n] = '\0';
        name = executable;
    }
    char line[4200];
    int written = std::snprintf(line, sizeof line, "module 0x%lx %s\n", static_cast<unsigned long>(info->dlpi_addr), name);
    if (written <= 0 || size_t(written) >= sizeof line || g_modulesLength + size_t(written) > sizeof g_modules)
        return 0;
    std::memcpy(g_modules + g_modulesLength, line, size_t(written));
    g_modulesLength += size_t(written);
    return 0;
}

void copyText(char *target, size_t size, const QByteArray &text)
{
    const size_t n = std::min(size - 1, size_t(text.size()));
    std::memcpy(target, text.constData(), n);
    target[n] = '\0';
}

} // namespace

namespace CrashHandler {

bool install(const QString &folder, const QString &release)
{
    if (!QDir().mkpath(folder)) {
        qCWarning(lcCrashReporter, "Cannot create crash report folder %s", qUtf8Printable(folder));
        return false;
    }
    // Reports hold memory addresses and paths: only their owner may look inside.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray encodedFolder = QFile::encodeName(QDir::cleanPath(folder));
    if (size_t(encodedFolder.size()) >= sizeof g_folder - 64) {
        qCWarning(lcCrashReporter, "Crash report folder path is too long");
        return false;
    }
    // Written only while no handler is active.
    const bool wasInstalled = g_installed.exchange(false);
    copyText(g_folder, sizeof g_folder, encodedFolder);
    copyText(g_release, sizeof g_release, release.toUtf8().replace('\n', ' '));
    g_modulesLength = 0;
    dl_iterate_phdr(collectModule, nullptr);

    // backtrace() loads its unwinder on first use; do that now rather than inside the handler.
    void *warmUp[4];
    backtrace(warmUp, 4);

    // A stack overflow leaves no stack to run the handler on.
    stack_t altStack{};
    altStack.ss_sp = g_altStack;
    altStack.ss_size = sizeof g_altStack;
    sigaltstack(&altStack, nullptr);

    if (!wasInstalled) {
        struct sigaction action{};
        action.sa_sigaction = onFatalSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kFatalSignals.size(); ++i)
            sigaction(kFatalSignals[i], &action, &g_previous[i]);
    }
    g_installed = true;
    qCInfo(lcCrashReporter, "Crash handler installed, reports go to %s", qUtf8Printable(folder));
    return true;
}

void uninstall()
{
    if (!g_installed.exchange(false))
        return;
    for (size_t i = 0; i < kFatalSignals.size(); ++i)
        sigaction(kFatalSignals[i], &g_previous[i], nullptr);
}

bool isInstalled()
{
    return g_installed;
}

} // namespace CrashHandler
