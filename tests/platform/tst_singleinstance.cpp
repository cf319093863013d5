// One running copy: later processes hand their URLs to the first and exit; leftovers of a dead copy are recovered.

#include "platform/SingleInstance.h"

#include "support/AwaitTask.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

namespace {

using Role = SingleInstance::Role;

// Another copy of the application, run without blocking our event loop; killed if still running at the end.
struct Helper {
    QProcess process;
    QByteArray output;

    explicit Helper(const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(HELPER_PATH), arguments);
    }
    bool waitForLine(const QByteArray &line)
    {
        return QTest::qWaitFor([&] { return (output += process.readAllStandardOutput()).contains(line + '\n'); }, 20000);
    }
    bool exitedCleanly()
    {
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)
            && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    ~Helper()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

// What the primary receives from a second copy started with `arguments`, which must then exit cleanly.
QStringList handOver(SingleInstance &primary, const QString &socket, const QStringList &arguments)
{
    QSignalSpy messages(&primary, &SingleInstance::messageReceived);
    Helper second(QStringList{socket} + arguments);
    if (!second.exitedCleanly())
        return {QStringLiteral("second copy did not exit cleanly")};
    QStringList got;
    for (const auto &signal : std::as_const(messages))
        got.append(signal.constFirst().toString());
    return got;
}

// A client of our own that connects and then says nothing; -1 when it cannot connect.
int connectIdle(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// How many of the clients the server has closed.
int closedByServer(const std::vector<int> &clients)
{
    return int(std::ranges::count_if(clients, [](int fd) {
        char byte;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }));
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SingleInstance> m_primary;
    QString socketPath() const { return m_dir->path() + QStringLiteral("/varnostima.socket"); }
    void startPrimary(const QStringList &messages = {})
    {
        m_primary = std::make_unique<SingleInstance>(socketPath());
        QCOMPARE(testsupport::awaitTask(m_primary->start(messages)), Role::Primary);
        QVERIFY(m_primary->isListening());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_primary.reset(); }

    void secondProcessHandsOverAndExits_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("two, non-ASCII") << QStringList{QStringLiteral("varnostima://å?token=ø"), QStringLiteral("varnostima://x")};
        QTest::newRow("plain second start") << QStringList{};
    }
    void secondProcessHandsOverAndExits()
    {
        QFETCH(QStringList, arguments);
        startPrimary();
        // Only this user may connect.
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(socketPath()).constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(info.st_mode & (S_IRWXG | S_IRWXO), mode_t(0));

        QSignalSpy handOvers(m_primary.get(), &SingleInstance::handOverReceived);
        QCOMPARE(handOver(*m_primary, socketPath(), arguments), arguments);
        QCOMPARE(handOvers.size(), 1); // also without URLs: the running copy then shows itself
    }

    // A copy started while another process runs hands over to it; the socket file of that process, once killed,
    // is taken over.
    void handsOverToAnotherProcessThenOutlivesIt()
    {
        {
            Helper first({socketPath(), QStringLiteral("--hold")});
            QVERIFY(first.waitForLine("primary"));
            SingleInstance second(socketPath());
            QCOMPARE(testsupport::awaitTask(second.start({QStringLiteral("varnostima://auth?token=t")})), Role::Secondary);
            QVERIFY(first.waitForLine("received varnostima://auth?token=t"));
            QVERIFY(!second.isListening());
            ::kill(pid_t(first.process.processId()), SIGKILL);
            QVERIFY(first.process.waitForFinished(20000));
        }
        QVERIFY(QFileInfo::exists(socketPath()));
        startPrimary({QStringLiteral("varnostima://lost")});
        QCOMPARE(handOver(*m_primary, socketPath(), {QStringLiteral("varnostima://after-stale")}),
                 QStringList{QStringLiteral("varnostima://after-stale")});
    }

    // Idle connections beyond the cap are closed at once: they cannot use up the process's file descriptors.
    void idleConnectionsAreCapped()
    {
        startPrimary();
        std::vector<int> clients;
        for (int i = 0; i < SingleInstance::kMaxConnections + 8; ++i)
            clients.push_back(connectIdle(socketPath()));
        QVERIFY(std::ranges::find(clients, -1) == clients.end());
        QTRY_VERIFY_WITH_TIMEOUT(closedByServer(clients) >= 8, 20000);
        QVERIFY(m_primary->openConnections() <= SingleInstance::kMaxConnections);
        std::ranges::for_each(clients, ::close);
    }

    // Accepting fails when the process has no descriptor left, and the server then closes: it listens again, so a
    // later sign-in callback still arrives.
    void listensAgainAfterAcceptFailed()
    {
        startPrimary();
        rlimit original{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &original), 0);
        const int client = connectIdle(socketPath()); // waits in the backlog until the event loop runs
        QVERIFY(client >= 0);
        rlimit low = original;
        low.rlim_cur = std::min<rlim_t>(original.rlim_cur, rlim_t(client) + 64);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> fillers;
        for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
            fillers.push_back(fd);
        // The server closed: the connection it could not accept was dropped with it.
        QTRY_VERIFY_WITH_TIMEOUT(closedByServer({client}) == 1, 20000);
        std::ranges::for_each(fillers, ::close);
        ::close(client);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &original), 0);

        QTRY_VERIFY_WITH_TIMEOUT(m_primary->isListening(), 20000);
        QCOMPARE(handOver(*m_primary, socketPath(), {QStringLiteral("varnostima://after-failure")}),
                 QStringList{QStringLiteral("varnostima://after-failure")});
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
