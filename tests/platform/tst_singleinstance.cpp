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
#include <vector>
#include <cstring>

namespace {

using Role = SingleInstance::Role;

// Runs the helper to its end (or until it prints the line `until`) without blocking our event loop.
struct Helper {
    QProcess process;

    void start(const QStringList &arguments)
    {
        process.setProgram(QStringLiteral(HELPER_PATH));
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
    }
    bool waitForLine(const QByteArray &line)
    {
        return QTest::qWaitFor([&] { return output().contains(line + '\n'); }, 20000);
    }
    bool waitForExit()
    {
        return process.state() == QProcess::NotRunning
            || QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000);
    }
    QByteArray output()
    {
        m_output += process.readAllStandardOutput();
        return m_output;
    }
    ~Helper()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

private:
    QByteArray m_output;
};

// A socket file nobody listens on, as a killed process leaves it.
bool makeStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::strncpy(address.sun_path, encoded.constData(), sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFileInfo::exists(path);
}

// A client of our own that connects and then says nothing; -1 when it cannot connect.
int connectIdle(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// How many of the clients the server has closed.
int closedByServer(const std::vector<int> &clients)
{
    int closed = 0;
    for (const int fd : clients) {
        char byte;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            ++closed;
    }
    return closed;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString socketPath() const { return m_dir->path() + QStringLiteral("/varnostima.socket"); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void secondProcessHandsOverAndExits_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("one URL") << QStringList{QStringLiteral("varnostima://auth?token=abc%20123")};
        QTest::newRow("two, non-ASCII") << QStringList{QStringLiteral("varnostima://å?token=ø"), QStringLiteral("varnostima://x")};
        QTest::newRow("plain second start") << QStringList{};
    }
    void secondProcessHandsOverAndExits()
    {
        QFETCH(QStringList, arguments);
        SingleInstance primary(socketPath());
        QCOMPARE(testsupport::awaitTask(primary.start({})), Role::Primary);
        QSignalSpy messages(&primary, &SingleInstance::messageReceived);
        QSignalSpy handOvers(&primary, &SingleInstance::handOverReceived);
        // Only this user may connect.
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(socketPath()).constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(info.st_mode & (S_IRWXG | S_IRWXO), mode_t(0));

        Helper second;
        second.start(QStringList{socketPath()} + arguments);
        QVERIFY(second.waitForExit());

        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QStringList got;
        for (const auto &signal : std::as_const(messages))
            got.append(signal.constFirst().toString());
        QCOMPARE(got, arguments);
        QCOMPARE(handOvers.size(), 1); // also without URLs: the running copy then shows itself
    }

    void handsOverToAnotherProcess()
    {
        Helper first;
        first.start({socketPath(), QStringLiteral("--hold")});
        QVERIFY(first.waitForLine("primary"));

        SingleInstance second(socketPath());
        QCOMPARE(testsupport::awaitTask(second.start({QStringLiteral("varnostima://auth?token=t")})), Role::Secondary);
        QVERIFY(first.waitForLine("received varnostima://auth?token=t"));
        QVERIFY(!second.isListening());
    }

    // Idle connections beyond the cap are closed at once: they cannot use up the process's file descriptors.
    void idleConnectionsAreCapped()
    {
        SingleInstance primary(socketPath());
        QCOMPARE(testsupport::awaitTask(primary.start({})), Role::Primary);
        std::vector<int> clients;
        for (int i = 0; i < SingleInstance::kMaxConnections + 8; ++i)
            clients.push_back(connectIdle(socketPath()));
        QVERIFY(std::find(clients.begin(), clients.end(), -1) == clients.end());
        QTRY_VERIFY(closedByServer(clients) >= 8);
        QVERIFY(primary.openConnections() <= SingleInstance::kMaxConnections);
        for (const int fd : clients)
            ::close(fd);
    }

    // Accepting fails when the process has no descriptor left, and the server then closes: it listens again, so a
    // later sign-in callback still arrives.
    void listensAgainAfterAcceptFailed()
    {
        SingleInstance primary(socketPath());
        QCOMPARE(testsupport::awaitTask(primary.start({})), Role::Primary);
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
        QTRY_VERIFY(!primary.isListening());
        for (const int fd : fillers)
            ::close(fd);
        ::close(client);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &original), 0);

        QTRY_VERIFY_WITH_TIMEOUT(primary.isListening(), 20000);
        QSignalSpy messages(&primary, &SingleInstance::messageReceived);
        Helper second;
        second.start({socketPath(), QStringLiteral("varnostima://after-failure")});
        QVERIFY(second.waitForExit());
        QCOMPARE(second.process.exitCode(), 0);
        QCOMPARE(messages.size(), 1);
    }

    void staleSocketIsRecovered_data()
    {
        QTest::addColumn<bool>("killedPrimary");
        QTest::newRow("socket file left behind") << false;
        QTest::newRow("primary killed") << true;
    }
    void staleSocketIsRecovered()
    {
        QFETCH(bool, killedPrimary);
        if (killedPrimary) {
            Helper first;
            first.start({socketPath(), QStringLiteral("--hold")});
            QVERIFY(first.waitForLine("primary"));
            ::kill(pid_t(first.process.processId()), SIGKILL);
            QVERIFY(first.waitForExit());
        } else {
            QVERIFY(makeStaleSocket(socketPath()));
        }
        QVERIFY(QFileInfo::exists(socketPath()));

        SingleInstance primary(socketPath());
        QCOMPARE(testsupport::awaitTask(primary.start({QStringLiteral("varnostima://lost")})), Role::Primary);
        QVERIFY(primary.isListening());
        QSignalSpy messages(&primary, &SingleInstance::messageReceived);

        Helper second;
        second.start({socketPath(), QStringLiteral("varnostima://after-stale")});
        QVERIFY(second.waitForExit());
        QCOMPARE(second.process.exitCode(), 0);
        QCOMPARE(messages.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
