#include "RawHttpRecorder.h"

#include <QTcpSocket>

#include <memory>

namespace testsupport {

RawHttpRecorder::RawHttpRecorder(int status)
    : RawHttpRecorder("HTTP/1.1 " + QByteArray::number(status)
                      + " X\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}")
{
}

RawHttpRecorder::RawHttpRecorder(QByteArray rawAnswer)
    : m_answer(std::move(rawAnswer))
{
    m_server.listen(QHostAddress::LocalHost);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                *buffer += socket->readAll();
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QByteArray head = buffer->left(end + 2);
                // The body read too: a close with unread bytes resets the connection before the client reads.
                qint64 bodySize = 0;
                for (const QByteArray &line : head.split('\n')) {
                    if (line.toLower().startsWith("content-length:"))
                        bodySize = line.mid(15).trimmed().toLongLong();
                }
                if (buffer->size() < end + 4 + bodySize)
                    return;
                m_heads.append(head);
                socket->write(m_answer);
                socket->disconnectFromHost();
                QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            });
        }
    });
}

QUrl RawHttpRecorder::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

QByteArrayList RawHttpRecorder::headerLines(const QByteArray &name) const
{
    QByteArrayList lines;
    if (m_heads.isEmpty())
        return lines;
    for (const QByteArray &line : m_heads.first().split('\n')) {
        if (line.toLower().startsWith(name.toLower() + ':'))
            lines.append(line + '\n');
    }
    return lines;
}

} // namespace testsupport
