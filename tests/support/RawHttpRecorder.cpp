#include "RawHttpRecorder.h"

#include <QTcpSocket>

#include <memory>

namespace testsupport {

RawHttpRecorder::RawHttpRecorder(int status)
    : m_status(status)
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
                m_heads.append(buffer->left(end + 2));
                socket->write("HTTP/1.1 " + QByteArray::number(m_status)
                              + " X\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
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
