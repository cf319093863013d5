#include "IdleConnections.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int kPerServer = 4;
constexpr int kIdleMs = 3000;

} // namespace

void discardConnection(QTcpSocket *socket)
{
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
}

IdleConnections::IdleConnections(QObject *parent)
    : QObject(parent)
{
}

QTcpSocket *IdleConnections::take(const QString &origin)
{
    QList<Kept> &kept = m_kept[origin];
    while (!kept.isEmpty()) {
        const Kept newest = kept.takeLast();
        newest.socket->disconnect(this);
        if (!newest.expiry.hasExpired() && newest.socket->state() == QAbstractSocket::ConnectedState
            && newest.socket->bytesAvailable() == 0)
            return newest.socket;
        discardConnection(newest.socket);
    }
    return nullptr;
}

void IdleConnections::keep(const QString &origin, QTcpSocket *socket)
{
    QList<Kept> &kept = m_kept[origin];
    if (kept.size() >= kPerServer) {
        discardConnection(socket);
        return;
    }
    socket->setParent(this);
    kept.append({socket, QDeadlineTimer(kIdleMs)});
    // Anything from the server while idle (its close, or bytes no request asked for) ends the connection.
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { drop(socket); });
    connect(socket, &QIODevice::readyRead, this, [this, socket] { drop(socket); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] { drop(socket); });
    QTimer::singleShot(kIdleMs + kIdleMs / 10, this, &IdleConnections::dropExpired); // a coarse timer may fire early
}

void IdleConnections::drop(QTcpSocket *socket)
{
    for (QList<Kept> &kept : m_kept) {
        if (kept.removeIf([socket](const Kept &entry) { return entry.socket == socket; }) > 0) {
            discardConnection(socket);
            return;
        }
    }
}

void IdleConnections::dropExpired()
{
    for (QList<Kept> &kept : m_kept) {
        kept.removeIf([this](const Kept &entry) {
            if (!entry.expiry.hasExpired())
                return false;
            discardConnection(entry.socket); // its signals go first: abort() would call drop() inside this loop
            return true;
        });
    }
}
