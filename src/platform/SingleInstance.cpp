#include "SingleInstance.h"

#include "DesktopLogging.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QEvent>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include <chrono>

using namespace std::chrono_literals;

namespace {

// A hand-over is a few URLs: anything larger is not ours.
constexpr qint64 kMaxHandOverBytes = 64 * 1024;
constexpr auto kClientIdleTimeout = 5s;
// While listening fails (say, with no file descriptor left), how long before the next attempt.
constexpr auto kListenRetryInterval = 2s;
constexpr auto kAnswerTimeout = 5s;
// While the primary holds the lock but has not started listening yet.
constexpr int kConnectAttempts = 30;
constexpr auto kConnectRetryDelay = 100ms;

const QByteArray kAck = QByteArrayLiteral("ok\n");

QByteArray encode(const QStringList &messages)
{
    QByteArray payload;
    for (const QString &message : messages) {
        // One message per line; a line break inside one would split it.
        QString line = message;
        line.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
        if (line.isEmpty())
            continue;
        payload += line.toUtf8() + '\n';
    }
    payload += '\n'; // end of the hand-over
    return payload;
}

} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_lock(m_socketPath + QStringLiteral(".lock"))
{
    // Only a dead owner makes the lock stale, never its age: the primary runs for days.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::defaultSocketPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/varnostima.socket");
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

QCoro::Task<SingleInstance::Role> SingleInstance::start(QStringList messages)
{
    QPointer<SingleInstance> self(this);
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (m_lock.tryLock(0)) {
            listen();
            co_return Role::Primary;
        }
        const bool delivered = co_await handOver(messages);
        if (!self)
            co_return Role::Failed;
        if (delivered) {
            qCInfo(lcSingleInstance, "Handed %lld message(s) to the running instance", qlonglong(messages.size()));
            co_return Role::Secondary;
        }
        co_await QCoro::sleepFor(kConnectRetryDelay);
        if (!self)
            co_return Role::Failed;
    }
    qCCritical(lcSingleInstance, "Another instance holds %s but does not answer", qUtf8Printable(m_lock.fileName()));
    co_return Role::Failed;
}

QCoro::Task<bool> SingleInstance::handOver(QStringList messages)
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(m_socketPath);
    while (socket->state() == QLocalSocket::ConnectingState) {
        if (!co_await qCoro(socket.get(), &QLocalSocket::stateChanged, kAnswerTimeout))
            break;
    }
    if (socket->state() != QLocalSocket::ConnectedState)
        co_return false;

    socket->write(encode(messages));
    QByteArray answer;
    while (answer.size() < kAck.size() && socket->state() == QLocalSocket::ConnectedState) {
        if (socket->bytesAvailable() == 0 && !co_await qCoro(socket.get(), &QLocalSocket::readyRead, kAnswerTimeout))
            break;
        answer += socket->read(kAck.size() - answer.size());
    }
    answer += socket->read(kAck.size() - answer.size());
    co_return answer == kAck;
}

void SingleInstance::listen()
{
    if (!m_listenRetry) {
        m_listenRetry = new QTimer(this);
        m_listenRetry->setSingleShot(true);
        m_listenRetry->setInterval(kListenRetryInterval);
        connect(m_listenRetry, &QTimer::timeout, this, &SingleInstance::listenAgainIfClosed);
    }
    // We hold the lock, so a socket file left here belongs to a process that is gone.
    QLocalServer::removeServer(m_socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->installEventFilter(this);
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (!m_server->listen(m_socketPath)) {
        qCCritical(lcSingleInstance, "Cannot listen on %s: %s", qUtf8Printable(m_socketPath),
                   qUtf8Printable(m_server->errorString()));
        m_listenRetry->start();
        return;
    }
    qCInfo(lcSingleInstance, "Listening for hand-overs on %s", qUtf8Printable(m_socketPath));
}

// The server closes itself when accepting fails (say, with no file descriptor left), and a later sign-in callback
// would then be lost. It says so only by letting go of its listening notifier, a child of its own: each child that
// goes is a cue to look, which costs nothing while the primary sits idle.
bool SingleInstance::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_server.get() && event->type() == QEvent::ChildRemoved)
        QMetaObject::invokeMethod(this, &SingleInstance::listenAgainIfClosed, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void SingleInstance::listenAgainIfClosed()
{
    if (!m_server || isListening())
        return;
    qCWarning(lcSingleInstance, "The hand-over socket stopped listening; listening again");
    listen();
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_openConnections >= kMaxConnections) {
            qCWarning(lcSingleInstance, "Refusing a hand-over: %d already open", m_openConnections);
            socket->abort();
            delete socket;
            continue;
        }
        ++m_openConnections;
        connect(socket, &QObject::destroyed, this, [this] { --m_openConnections; });
        auto received = std::make_shared<HandOver>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] { readFrom(socket, *received); });
        // A client that never finishes must not keep its connection.
        QTimer::singleShot(kClientIdleTimeout, socket, [socket] {
            qCWarning(lcSingleInstance, "Dropping a hand-over that did not finish");
            socket->abort();
            socket->deleteLater();
        });
        readFrom(socket, *received);
    }
}

void SingleInstance::readFrom(QLocalSocket *socket, HandOver &received)
{
    if (received.done)
        return;
    if (received.bytes + socket->bytesAvailable() > kMaxHandOverBytes) {
        qCWarning(lcSingleInstance, "Dropping an oversized hand-over");
        received.done = true;
        socket->abort();
        socket->deleteLater();
        return;
    }
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine();
        received.bytes += line.size();
        const QString message = QString::fromUtf8(line).chopped(1);
        if (!message.isEmpty()) {
            received.messages.append(message);
            continue;
        }
        received.done = true;
        socket->write(kAck);
        socket->flush();
        socket->disconnectFromServer();
        for (const QString &text : std::as_const(received.messages))
            Q_EMIT messageReceived(text);
        Q_EMIT handOverReceived();
        return;
    }
}
