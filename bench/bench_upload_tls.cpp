// The CPU that TLS costs the upload transport: uploads over TLS to a local store, each on a connection of its own
// as the app sends them, side by side with one curl process sending the same uploads over one kept connection.
//
// The store is a small OpenSSL server in a child process with one context for all its connections, so it resumes
// sessions as an object store does; its self-signed certificate is made at run time (`openssl req`). Both clients
// trust a bundle of the system's CAs and that certificate, so a connection that loads its CA store anew parses as
// much as it would against a real store. CPU of the transport is getrusage(RUSAGE_SELF) around its uploads (the
// store is another process); CPU of curl is the rusage of its process. Rounds alternate the two.
//
//     bench_upload_tls [--uploads N] [--size-kb K] [--rounds R] [--curl PATH] [--openssl PATH]

#include "service/UploadSource.h"
#include "service/UploadTransport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkRequest>

#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char *const kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

struct Options {
    int uploads = 200;
    qint64 sizeKB = 256; // KB of 1000 bytes
    int rounds = 3;
    std::string curl = "curl";
    std::string openssl = "openssl";
};

// What the store saw, shared with the child it runs in.
struct StoreCounts {
    std::atomic<int> connections{0};
    std::atomic<int> resumed{0};
    std::atomic<int> requests{0};
};

double cpuSeconds(const rusage &ru)
{
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double selfCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return cpuSeconds(ru);
}

// Runs a program to its end; its CPU seconds, or throws when it fails.
double run(const std::vector<std::string> &args, bool quiet = false)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error)
        throw std::runtime_error(args.front() + ": " + std::strerror(error));
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("wait4 failed");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args.front() + " failed");
    return cpuSeconds(ru);
}

// ---------------------------------------------------------------- the store

bool readRequest(SSL *ssl, std::string &pending, std::vector<char> &buffer)
{
    size_t headEnd = std::string::npos;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
        const int got = SSL_read(ssl, buffer.data(), int(buffer.size()));
        if (got <= 0)
            return false; // the client is done with this connection
        pending.append(buffer.data(), size_t(got));
    }
    const size_t at = pending.find("\r\nContent-Length: ");
    long long left = at < headEnd ? std::atoll(pending.c_str() + at + 18) : 0;
    const long long taken = std::min<long long>(left, (long long)(pending.size() - headEnd - 4));
    pending.erase(0, headEnd + 4 + size_t(taken));
    left -= taken;
    while (left > 0) {
        const int got = SSL_read(ssl, buffer.data(), int(std::min<long long>(left, (long long)buffer.size())));
        if (got <= 0)
            return false;
        left -= got;
    }
    return true;
}

// One connection at a time, each request answered 200 once its whole body is in, until the client closes.
[[noreturn]] void serveStore(int listening, const std::string &certificate, const std::string &key,
                             StoreCounts *counts)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    SSL_CTX *context = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) != 1
        || SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1)
        _exit(3);
    static const char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const int connection = ::accept(listening, nullptr, nullptr);
        if (connection < 0)
            continue;
        SSL *ssl = SSL_new(context);
        SSL_set_fd(ssl, connection);
        if (SSL_accept(ssl) == 1) {
            counts->connections.fetch_add(1);
            if (SSL_session_reused(ssl))
                counts->resumed.fetch_add(1);
            std::string pending;
            while (readRequest(ssl, pending, buffer)) {
                counts->requests.fetch_add(1);
                if (SSL_write(ssl, kAnswer, int(sizeof kAnswer - 1)) <= 0)
                    break;
            }
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ::close(connection);
    }
}

int listenOnLoopback(quint16 &port)
{
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listening, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(listening, 64) != 0
        || ::getsockname(listening, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port = ntohs(address.sin_port);
    return listening;
}

// ---------------------------------------------------------------- the clients

struct Run {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int connections = 0;
    int resumed = 0;
};

Run runTransport(const QString &file, qint64 size, const QString &base, int uploads, StoreCounts *counts)
{
    UploadTransport transport;
    const int connectionsBefore = counts->connections.load();
    const int resumedBefore = counts->resumed.load();
    QElapsedTimer timer;
    timer.start();
    const double before = selfCpuSeconds();
    for (int i = 0; i < uploads; ++i) {
        QNetworkRequest request(QUrl(base + QStringLiteral("/store/%1").arg(i)));
        request.setTransferTimeout(60000);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setRawHeader("Content-Type", "image/jpeg");
        request.setHeader(QNetworkRequest::ContentLengthHeader, size);
        QFuture<UploadAnswer> answer = transport.put(request, UploadSource(file, size).body(), 1024);
        answer.waitForFinished(); // the transport has a thread of its own: nothing here needs an event loop
        if (answer.result().status.value_or(-1) != 200)
            throw std::runtime_error("an upload failed: " + answer.result().errorString.toStdString());
    }
    Run result{selfCpuSeconds() - before, double(timer.nsecsElapsed()) / 1e9, 0, 0};
    result.connections = counts->connections.load() - connectionsBefore;
    result.resumed = counts->resumed.load() - resumedBefore;
    return result;
}

Run runCurl(const Options &options, const std::string &bundle, const QString &file, const QString &base,
            StoreCounts *counts)
{
    std::vector<std::string> args{options.curl, "-sS", "--fail", "--http1.1", "--noproxy", "*", "--cacert", bundle,
                                  "-H", "Expect:", "-H", "Content-Type: image/jpeg"};
    for (int i = 0; i < options.uploads; ++i) {
        args.insert(args.end(), {"-T", QFile::encodeName(file).toStdString(),
                                 (base + QStringLiteral("/store/%1").arg(i)).toStdString()});
    }
    const int connectionsBefore = counts->connections.load();
    const int resumedBefore = counts->resumed.load();
    QElapsedTimer timer;
    timer.start();
    Run result{run(args), double(timer.nsecsElapsed()) / 1e9, 0, 0};
    result.connections = counts->connections.load() - connectionsBefore;
    result.resumed = counts->resumed.load() - resumedBefore;
    return result;
}

Options parseOptions(int argc, char **argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char *value = argv[i + 1];
        if (name == "--uploads")
            options.uploads = std::atoi(value);
        else if (name == "--size-kb")
            options.sizeKB = std::atoll(value);
        else if (name == "--rounds")
            options.rounds = std::atoi(value);
        else if (name == "--curl")
            options.curl = value;
        else if (name == "--openssl")
            options.openssl = value;
        else
            throw std::runtime_error("unknown option " + name);
    }
    return options;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        const Options options = parseOptions(argc, argv);
        // The store's child is forked before anything starts a thread.
        char folderTemplate[] = "/tmp/bench_upload_tls.XXXXXX";
        if (!mkdtemp(folderTemplate))
            throw std::runtime_error("mkdtemp failed");
        const std::string folder = folderTemplate;
        const std::string certificate = folder + "/store-cert.pem";
        const std::string key = folder + "/store-key.pem";
        const std::string bundle = folder + "/trusted.pem";
        run({options.openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", key, "-out", certificate, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
             "subjectAltName=IP:127.0.0.1"},
            true);
        {
            QFile out(QString::fromStdString(bundle));
            QFile system(QString::fromLatin1(kSystemBundle));
            QFile own(QString::fromStdString(certificate));
            if (!out.open(QIODevice::WriteOnly) || !system.open(QIODevice::ReadOnly) || !own.open(QIODevice::ReadOnly))
                throw std::runtime_error("cannot write the CA bundle");
            out.write(system.readAll() + '\n' + own.readAll());
        }
        quint16 port = 0;
        const int listening = listenOnLoopback(port);
        auto *counts = static_cast<StoreCounts *>(
            mmap(nullptr, sizeof(StoreCounts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        if (counts == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        new (counts) StoreCounts;
        const pid_t store = fork();
        if (store < 0)
            throw std::runtime_error("fork failed");
        if (store == 0)
            serveStore(listening, certificate, key, counts);
        ::close(listening);

        QCoreApplication app(argc, argv);
        // The app trusts what OpenSSL's variable names; curl is given the same file.
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(bundle));
        const qint64 size = options.sizeKB * 1000;
        const QString file = QString::fromStdString(folder + "/IMG_0001.jpg");
        {
            QFile body(file);
            if (!body.open(QIODevice::WriteOnly))
                throw std::runtime_error("cannot write the body");
            QByteArray bytes(size, Qt::Uninitialized);
            quint32 state = 12345;
            for (char &byte : bytes) // not compressible, not all alike
                byte = char((state = state * 1664525u + 1013904223u) >> 24);
            body.write(bytes);
        }
        const QString base = QStringLiteral("https://127.0.0.1:%1").arg(port);

        std::printf("%d uploads of %lld KB over TLS to a local store, %d rounds; CA bundle of %lld KB\n",
                    options.uploads, static_cast<long long>(options.sizeKB), options.rounds,
                    static_cast<long long>(QFile(QString::fromStdString(bundle)).size() / 1000));
        std::vector<double> transportCpu;
        std::vector<double> curlCpu;
        std::vector<double> ratios;
        for (int round = 0; round < options.rounds; ++round) {
            const Run transport = runTransport(file, size, base, options.uploads, counts);
            const Run curl = runCurl(options, bundle, file, base, counts);
            transportCpu.push_back(transport.cpuSeconds);
            curlCpu.push_back(curl.cpuSeconds);
            ratios.push_back(transport.cpuSeconds / std::max(curl.cpuSeconds, 1e-6));
            std::printf("round %d  transport %.3f CPU s (%.2f s wall, %d connections, %d resumed)   "
                        "curl %.3f CPU s (%.2f s wall, %d connection%s)   %.1fx\n",
                        round + 1, transport.cpuSeconds, transport.wallSeconds, transport.connections,
                        transport.resumed, curl.cpuSeconds, curl.wallSeconds, curl.connections,
                        curl.connections == 1 ? "" : "s", ratios.back());
            std::fflush(stdout);
        }
        const auto least = [](const std::vector<double> &values) {
            return *std::min_element(values.begin(), values.end());
        };
        std::printf("transport  min %.3f / median %.3f CPU s\n", least(transportCpu), median(transportCpu));
        std::printf("curl       min %.3f / median %.3f CPU s\n", least(curlCpu), median(curlCpu));
        std::printf("ratio      min %.1f / median %.1fx\n", least(ratios), median(ratios));
        ::kill(store, SIGKILL);
        waitpid(store, nullptr, 0);
        QDir(QString::fromStdString(folder)).removeRecursively();
        return 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "bench_upload_tls: %s\n", error.what());
        return 1;
    }
}
