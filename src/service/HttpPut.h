#pragma once

#include "HttpAnswerReader.h"
#include "UploadTransport.h"

#include <QAbstractSocket>
#include <QNetworkRequest>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class IdleConnections;
class QIODevice;
class QTcpSocket;

// One PUT over a connection of its own (TCP, or TLS for https), the body sent straight from its device in large
// pieces with only a few of them waiting in the socket at a time. It keeps what callers knew from Qt's client: a
// connection closed before any answer sends the request once more from the body's start; an answer that comes
// while the body is still sent ends the sending; redirects are only a status; `transferTimeout()` is an idle limit
// that ends as OperationCanceledError; errors carry QNetworkReply's codes. A connection that served a whole
// request and answer goes back to `idle` for the next PUT. Deletes itself once it has answered.
class HttpPut final : public QObject
{
public:
    using Done = std::function<void(UploadAnswer)>;

    HttpPut(const QNetworkRequest &request, std::unique_ptr<QIODevice> body, qint64 answerLimit, Done done,
            IdleConnections *idle, QObject *parent);
    ~HttpPut() override;

    void start();

private:
    void connectToServer();
    void attach(QTcpSocket *socket);
    void sendHead();
    void sendBody();
    void takeAnswerBytes();
    void onSocketError(QAbstractSocket::SocketError error);
    void movedBytes();
    qint64 bytesWaiting() const;
    void answerWhenRead();
    void fail(QNetworkReply::NetworkError error, const QString &text);
    void finish(UploadAnswer answer, bool keepConnection = false);
    void dropSocket();

    const QNetworkRequest m_request;
    const std::unique_ptr<QIODevice> m_body;
    const qint64 m_answerLimit;
    Done m_done;
    IdleConnections *const m_idleConnections;
    const QString m_origin;
    QTcpSocket *m_socket = nullptr;
    bool m_secure = false;
    bool m_connected = false; // ready for the request (after the handshake for TLS)
    int m_attempts = 0;
    qint64 m_bodySent = 0;
    bool m_answerAfterBody = false; // the server had all of the body before it answered
    HttpAnswerReader m_answer;
    QTimer m_idle;
};
