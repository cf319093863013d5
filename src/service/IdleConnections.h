#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTcpSocket;

// Closes a connection at once and deletes it later; nothing hears from it again.
void discardConnection(QTcpSocket *socket);

// Connections left open after a complete answer, for the next PUT to the same server: up to four a server, each
// for a few seconds only, less than servers keep an idle connection, so that one is seldom closed under a request.
class IdleConnections final : public QObject
{
public:
    explicit IdleConnections(QObject *parent);

    // A connection to `origin` ("scheme://host:port") that is still open, now the caller's, or none.
    QTcpSocket *take(const QString &origin);
    // Keeps the connection, or closes it when the server already has four waiting.
    void keep(const QString &origin, QTcpSocket *socket);

private:
    struct Kept {
        QTcpSocket *socket;
        QDeadlineTimer expiry;
    };
    void drop(QTcpSocket *socket);
    void dropExpired();

    QHash<QString, QList<Kept>> m_kept;
};
