#pragma once

#include <QByteArray>
#include <QFuture>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QThread>

#include <memory>
#include <optional>

class QIODevice;

// How one PUT ended, for the caller to judge on its own thread.
struct UploadAnswer {
    std::optional<int> status; // none: no HTTP answer
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorString;
    QByteArray bodyStart;  // the answer's body, up to the limit given
    bool cutShort = false; // the answer went on past the limit: the transfer was ended there
};

// Puts request bodies through libcurl on a thread of its own ("Uploads"): the body is read and handed to the socket
// there in large pieces, never on the caller's (the UI) thread. Qt's network manager would take a body 16 KiB at a
// time across threads, which costs several times the CPU of sending it. What callers knew from that manager stays,
// such as sending a request again, from the body's start, when the connection closes before any answer.
class UploadTransport
{
public:
    UploadTransport();
    // Ends the transfers in flight (each answers OperationCanceledError) and stops the thread.
    ~UploadTransport();

    UploadTransport(const UploadTransport &) = delete;
    UploadTransport &operator=(const UploadTransport &) = delete;

    // The body must be open, of a fixed size, and able to seek back to its start. It is moved to the transport's
    // thread and deleted there.
    QFuture<UploadAnswer> put(const QNetworkRequest &request, std::unique_ptr<QIODevice> body, qint64 answerLimit);

private:
    class Worker;

    QThread m_thread;
    Worker *m_worker; // lives on m_thread, deleted there when it finishes
};
