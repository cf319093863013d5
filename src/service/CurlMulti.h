#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

class CurlPut;

// libcurl's multi interface on the Qt event loop of the thread it lives on: curl's sockets are watched by socket
// notifiers and its time-outs by one timer, so transfers move only when there is something to do. Keeps the connections
// that curl may reuse, the parsed CA store and the TLS sessions to resume. The transfers are its children: deleting it
// ends them first.
class CurlMulti final : public QObject
{
public:
    explicit CurlMulti(QObject *parent = nullptr);
    ~CurlMulti() override;

    CurlMulti(const CurlMulti &) = delete;
    CurlMulti &operator=(const CurlMulti &) = delete;

    void add(CURL *easy);
    void remove(CURL *easy);
    // The TLS sessions of the transfers, for a new connection to resume: used on this object's thread alone, so
    // it needs no locks.
    CURLSH *share() const { return m_share; }

    // Every socket curl opens and closes passes through these (data: this object), so that a transfer's
    // connection can be found while curl holds it.
    static curl_socket_t openSocket(CurlMulti *self, const CurlPut *owner, curl_sockaddr *address);
    static int closeSocket(void *self, curl_socket_t socket);
    // The start of what waits unread on this transfer's connection, left where it is.
    QByteArray unreadBytes(const CurlPut *owner, qsizetype most) const;
    // The bytes this transfer handed to the system that the peer has not acknowledged yet (its send queue).
    qint64 unacknowledgedBytes(const CurlPut *owner) const;

private:
    class Watch;

    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *self, void *watch);
    static int onTimer(CURLM *multi, long milliseconds, void *self);
    void act(curl_socket_t socket, int events);
    void takeFinished();

    CURLM *m_multi;
    CURLSH *m_share;
    QTimer m_timer;
    QHash<curl_socket_t, const CurlPut *> m_sockets; // open sockets and the transfer that opened each
};
