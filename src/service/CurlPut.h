#pragma once

#include "UploadTransport.h"

#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

#include <functional>
#include <memory>

class CurlMulti;
class QIODevice;

// One PUT through libcurl, the body read from its device as curl sends it. It keeps what callers knew from Qt's client:
// the target as given, redirects only a status, an idle limit that ends as OperationCanceledError, a connection closed
// before any answer sending the request once more from the body's start, errors with QNetworkReply's codes. A success
// counts only when curl sent the whole body and the store had acknowledged every byte of it when the answer came: a 2xx
// that came earlier ends the attempt as a closed connection would. Each put has a connection of its own, used for
// nothing else: on a kept one, a stale answer that arrives after the body cannot be told from the real one. A begun
// answer gets no more than the idle limit to end; a body still draining to the store is progress. Deletes itself once
// it has answered; deleted before that, it answers as cancelled.
class CurlPut final : public QObject
{
public:
    using Done = std::function<void(UploadAnswer)>;

    // `multi` is the parent: the transfer ends when it does.
    CurlPut(const QNetworkRequest &request, std::unique_ptr<QIODevice> body, qint64 answerLimit, Done done,
            CurlMulti *multi);
    ~CurlPut() override;

    void start();
    // From the multi handle: curl is done with this attempt.
    void finished(CURLcode result);

private:
    static size_t onRead(char *buffer, size_t size, size_t count, void *self);
    static int onSeek(void *self, curl_off_t offset, int origin);
    static size_t onHeader(char *buffer, size_t size, size_t count, void *self);
    static size_t onBody(char *buffer, size_t size, size_t count, void *self);
    static int onProgress(void *self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent);
    static curl_socket_t onOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address);

    void begin();
    // False: the attempt ends here.
    bool headerLine(QByteArrayView line);
    qint64 bodySent() const;
    void noteAcknowledged();
    void closedUnanswered();
    void watchTime();
    void fail(QNetworkReply::NetworkError error, const QString &text);
    void finish(UploadAnswer answer);
    void leaveMulti();

    CurlMulti *const m_multi;
    const QNetworkRequest m_request;
    const std::unique_ptr<QIODevice> m_body;
    const qint64 m_answerLimit;
    Done m_done;
    CURL *m_easy;
    curl_slist *m_headers = nullptr;
    bool m_inMulti = false;
    char m_curlError[CURL_ERROR_SIZE] = {};

    bool m_sentAgain = false;
    QString m_bodyError;    // the body could not be read: the text of why
    bool m_bodyHandedOver = false;
    bool m_bytesBeforeLastPiece = false; // something had come in when curl took the body's last piece
    bool m_earlySuccess = false;         // a 2xx that came before the whole body had left

    // The answer of the current attempt
    bool m_receivedAny = false;
    std::optional<int> m_status; // of the latest status line
    QByteArray m_reason;
    bool m_headComplete = false; // of a final answer
    QByteArray m_bodyStart;
    bool m_cutShort = false;

    // Time: the idle limit since the last activity, and the whole answer within that limit once it has begun.
    // Activity is a byte handed to the system, one the store acknowledged, or one of the answer.
    QTimer m_clock;
    QElapsedTimer m_elapsed;
    qint64 m_lastActivity = 0;
    curl_off_t m_lastSent = 0;
    qint64 m_unacknowledged = 0; // in the send queue at the last look
    qint64 m_answerSince = -1;
};
