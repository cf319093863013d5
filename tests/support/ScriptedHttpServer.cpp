#include "ScriptedHttpServer.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

ScriptedHttpServer::ScriptedHttpServer(Script script, std::unique_ptr<QTcpServer> server)
    : m_script(std::move(script))
    , m_server(std::move(server))
{
    m_trickle.setInterval(100);
    QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, m_server.get(), [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            ++m_connections;
            m_latest = socket;
            m_open.insert(socket, {});
            if (!m_script.greeting.isEmpty()) {
                const auto greet = [this, socket] { socket->write(m_script.greeting); };
                if (m_script.answerDelay > 0)
                    QTimer::singleShot(m_script.answerDelay, socket, greet);
                else
                    greet();
            }
            if (m_script.readPace > 0)
                socket->setReadBufferSize(m_script.readPace); // the rest waits in the kernel
            QObject::connect(socket, &QIODevice::readyRead, socket, [this, socket] { serve(socket); });
            serve(socket);
        }
    });
    QObject::connect(&m_trickle, &QTimer::timeout, m_server.get(), [this] {
        if (m_latest && m_latest->state() == QAbstractSocket::ConnectedState) {
            m_latest->write(m_script.trickle);
            m_latest->flush();
        }
    });
    m_pace.setInterval(100);
    QObject::connect(&m_pace, &QTimer::timeout, m_server.get(), [this] {
        m_paced = true;
        for (QTcpSocket *socket : m_open.keys())
            serve(socket);
        m_paced = false;
    });
    if (m_script.readPace > 0)
        m_pace.start();
    if (m_script.receiveBuffer <= 0) {
        m_server->listen(QHostAddress::LocalHost);
        return;
    }
    // Set before listening: the connections it takes inherit the size, and the window they offer follows it.
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::setsockopt(listening, SOL_SOCKET, SO_RCVBUF, &m_script.receiveBuffer, sizeof m_script.receiveBuffer) != 0
        || ::bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(listening, 16) != 0 || !m_server->setSocketDescriptor(listening))
        qFatal("cannot listen with a receive buffer of %d bytes", m_script.receiveBuffer);
}

ScriptedHttpServer::~ScriptedHttpServer() = default;

QUrl ScriptedHttpServer::url(const QString &scheme, const QByteArray &pathAndQuery) const
{
    return QUrl::fromEncoded(scheme.toLatin1() + "://127.0.0.1:" + QByteArray::number(m_server->serverPort())
                                 + pathAndQuery,
                             QUrl::StrictMode);
}

QByteArray ScriptedHttpServer::head() const
{
    const QByteArray latest = m_requests.isEmpty() ? QByteArray() : m_requests.last();
    return latest.left(latest.indexOf("\r\n\r\n") + 2);
}

QByteArray ScriptedHttpServer::body() const
{
    const QByteArray latest = m_requests.isEmpty() ? QByteArray() : m_requests.last();
    return latest.mid(latest.indexOf("\r\n\r\n") + 4);
}

void ScriptedHttpServer::sendUnasked(const QByteArray &bytes)
{
    if (!m_latest)
        return;
    m_latest->write(bytes);
    // flush() is not virtual: TLS needs its own to encrypt and write now.
    if (auto *secure = qobject_cast<QSslSocket *>(m_latest))
        secure->flush();
    else
        m_latest->flush();
}

void ScriptedHttpServer::serve(QTcpSocket *socket)
{
    if (socket->readBufferSize() == 1)
        return; // refused: its buffer fills and the client's sending stalls
    if (m_script.readPace > 0 && !m_paced)
        return; // the next tick reads
    Connection &connection = m_open[socket];
    QByteArray &received = connection.received;
    received += socket->readAll();
    if (connection.deaf) {
        received.clear();
        return;
    }
    for (;;) {
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray marker = "\r\nContent-Length: ";
        const qsizetype at = received.indexOf(marker);
        const qint64 length =
            received.mid(at + marker.size(), headEnd - at - marker.size()).split('\r').first().toLongLong();
        const qsizetype end = m_script.readBody ? headEnd + 4 + qsizetype(length) : received.size();
        if (received.size() < end)
            return;
        m_requests.append(received.left(end));
        received.remove(0, end);
        if (!m_script.readBody && !m_script.deafAfterAnswer)
            socket->setReadBufferSize(1);
        const QByteArray answer =
            m_requests.size() > 1 && !m_script.laterAnswer.isEmpty() ? m_script.laterAnswer : m_script.answer;
        if (m_script.repeatsItself)
            socket->write(connection.previousAnswer);
        connection.previousAnswer = answer;
        const auto writeAnswer = [this, socket, answer] {
            socket->write(answer + m_script.unasked);
            if (!m_script.trickle.isEmpty())
                m_trickle.start();
            if (m_script.close)
                socket->disconnectFromHost();
        };
        if (m_script.answerDelay > 0)
            QTimer::singleShot(m_script.answerDelay, socket, writeAnswer);
        else
            writeAnswer();
        connection.deaf = m_script.deafAfterAnswer;
        if (m_script.close || !m_script.readBody || connection.deaf) {
            received.clear();
            return;
        }
    }
}

} // namespace testsupport
