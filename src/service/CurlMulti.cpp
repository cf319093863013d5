#include "CurlMulti.h"

#include "CurlPut.h"

#include <QSocketNotifier>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// The notifiers of one socket, for as long as curl wants it watched.
class CurlMulti::Watch final : public QObject
{
public:
    Watch(CurlMulti *multi, curl_socket_t socket)
        : QObject(multi)
        , m_read(qintptr(socket), QSocketNotifier::Read, this)
        , m_write(qintptr(socket), QSocketNotifier::Write, this)
    {
        m_read.setEnabled(false);
        m_write.setEnabled(false);
        connect(&m_read, &QSocketNotifier::activated, multi, [multi, socket] { multi->act(socket, CURL_CSELECT_IN); });
        connect(&m_write, &QSocketNotifier::activated, multi,
                [multi, socket] { multi->act(socket, CURL_CSELECT_OUT); });
    }

    void want(int what)
    {
        m_read.setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
        m_write.setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    }

private:
    QSocketNotifier m_read;
    QSocketNotifier m_write;
};

CurlMulti::CurlMulti(QObject *parent)
    : QObject(parent)
    , m_multi(curl_multi_init())
    , m_share(curl_share_init())
    , m_timer(this) // moves to another thread with this object
{
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
}

CurlMulti::~CurlMulti()
{
    // Transfers first: each leaves the multi handle and answers as cancelled.
    QList<CurlPut *> puts;
    for (QObject *child : children()) {
        if (auto *put = dynamic_cast<CurlPut *>(child))
            puts.append(put);
    }
    qDeleteAll(puts);
    curl_multi_cleanup(m_multi);
    curl_share_cleanup(m_share); // after every handle that used it
}

void CurlMulti::add(CURL *easy)
{
    curl_multi_add_handle(m_multi, easy); // asks for a time-out of 0 through onTimer: the transfer starts from there
}

void CurlMulti::remove(CURL *easy)
{
    curl_multi_remove_handle(m_multi, easy);
}

curl_socket_t CurlMulti::openSocket(CurlMulti *self, const CurlPut *owner, curl_sockaddr *address)
{
    const curl_socket_t socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket != CURL_SOCKET_BAD)
        self->m_sockets.insert(socket, owner);
    return socket;
}

int CurlMulti::closeSocket(void *self, curl_socket_t socket)
{
    static_cast<CurlMulti *>(self)->m_sockets.remove(socket);
    return ::close(socket);
}

QByteArray CurlMulti::unreadBytes(const CurlPut *owner, qsizetype most) const
{
    QByteArray bytes(most, Qt::Uninitialized);
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it) {
        if (it.value() != owner)
            continue;
        const ssize_t got = ::recv(it.key(), bytes.data(), size_t(most), MSG_PEEK | MSG_DONTWAIT);
        if (got > 0)
            return bytes.first(got);
    }
    return {};
}

qint64 CurlMulti::unacknowledgedBytes(const CurlPut *owner) const
{
    qint64 bytes = 0;
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it) {
        int queued = 0; // a connection still being made counts none
        if (it.value() == owner && ::ioctl(it.key(), SIOCOUTQ, &queued) == 0)
            bytes += queued;
    }
    return bytes;
}

int CurlMulti::onSocket(CURL *, curl_socket_t socket, int what, void *self, void *watch)
{
    auto *multi = static_cast<CurlMulti *>(self);
    auto *watching = static_cast<Watch *>(watch);
    if (what == CURL_POLL_REMOVE) {
        if (watching) {
            // Possibly inside one of its own notifiers' signals: silence it now, delete it later.
            watching->want(CURL_POLL_NONE);
            watching->deleteLater();
        }
        return 0;
    }
    if (!watching) {
        watching = new Watch(multi, socket);
        curl_multi_assign(multi->m_multi, socket, watching);
    }
    watching->want(what);
    return 0;
}

int CurlMulti::onTimer(CURLM *, long milliseconds, void *self)
{
    auto *multi = static_cast<CurlMulti *>(self);
    if (milliseconds < 0)
        multi->m_timer.stop();
    else
        multi->m_timer.start(int(milliseconds)); // curl may not be called back from inside this callback
    return 0;
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    takeFinished();
}

void CurlMulti::takeFinished()
{
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL *easy = message->easy_handle;
        const CURLcode result = message->data.result;
        char *put = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &put);
        reinterpret_cast<CurlPut *>(put)->finished(result); // may remove the handle, add it again, or delete it
    }
}
