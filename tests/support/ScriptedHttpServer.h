#pragma once

// An object store that misbehaves on cue: serves HTTP on 127.0.0.1, reads each request's head and (unless told
// otherwise) its whole body, then writes the scripted answer as raw bytes, so that framing, interim answers, answers
// nobody asked for and answers that never end can be played exactly. Serves on the thread that created it; the
// client under test runs on a thread of its own.

#include <QByteArrayList>
#include <QHash>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include <memory>

class QTcpSocket;

namespace testsupport {

class ScriptedHttpServer
{
public:
    struct Script {
        QByteArray answer;
        bool readBody = true; // false: answers after the head and reads no more (unless deaf after it)
        bool close = false;   // closes the connection after the answer
        QByteArray unasked;   // written right behind the answer: a second answer nobody asked for
        QByteArray trickle;   // written again and again behind the answer, a pause between, without end
        QByteArray greeting;  // written as soon as a connection is taken, before any request
        QByteArray laterAnswer; // to every request after the first (empty: `answer`)
        bool repeatsItself = false; // each answer on a connection comes behind that connection's previous one
        bool deafAfterAnswer = false; // takes all that follows its first answer on a connection for more body
        // The kernel's receive buffer of each connection (0: the system's). A small one that is not read keeps
        // most of a body unacknowledged in the client's send queue, as a store far away or one that reads no
        // more holds it.
        int receiveBuffer = 0;
        // Milliseconds from a request's head (for the greeting: from the connection) to the answer: time for the
        // client to hand a small body to its kernel before an early answer comes.
        int answerDelay = 0;
        // Bytes read from each connection every 100 ms (0: all that comes): a slow link, with a small receive buffer.
        int readPace = 0;
    };

    // `server` decides the transport (a QSslServer for TLS); the default is plain TCP.
    explicit ScriptedHttpServer(Script script, std::unique_ptr<QTcpServer> server = std::make_unique<QTcpServer>());
    ~ScriptedHttpServer();

    QUrl url(const QString &scheme, const QByteArray &pathAndQuery) const;
    int connections() const { return m_connections; }
    int requests() const { return int(m_requests.size()); }
    // Of the latest request
    QByteArray head() const;
    QByteArray body() const;
    // Writes `bytes` on the latest connection now, unasked, and hands them to the system before it returns.
    void sendUnasked(const QByteArray &bytes);

private:
    struct Connection {
        QByteArray received;
        QByteArray previousAnswer;
        bool deaf = false;
    };

    void serve(QTcpSocket *socket);

    const Script m_script;
    std::unique_ptr<QTcpServer> m_server;
    QTcpSocket *m_latest = nullptr;
    QHash<QTcpSocket *, Connection> m_open; // the sockets are the server's children: they live as long as it
    QByteArrayList m_requests;
    int m_connections = 0;
    QTimer m_trickle;
    QTimer m_pace;
    bool m_paced = false; // inside a tick of m_pace
};

} // namespace testsupport
