#include "UploadTransport.h"

#include "CurlMulti.h"
#include "CurlPut.h"

#include <QIODevice>
#include <QPromise>

#include <curl/curl.h>

#include <mutex>

namespace {

// The caller's side of one transfer: it always gets an answer, also when the transfer never ran (the thread
// stopped first), since a future without one cannot be awaited.
class PendingAnswer
{
public:
    PendingAnswer() { m_promise.start(); }
    ~PendingAnswer()
    {
        if (!m_answered)
            answer({std::nullopt, QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"), {}, false});
    }
    PendingAnswer(const PendingAnswer &) = delete;
    PendingAnswer &operator=(const PendingAnswer &) = delete;

    QFuture<UploadAnswer> future() { return m_promise.future(); }
    void answer(UploadAnswer answer)
    {
        m_answered = true;
        m_promise.addResult(std::move(answer));
        m_promise.finish();
    }

private:
    QPromise<UploadAnswer> m_promise;
    bool m_answered = false;
};

} // namespace

class UploadTransport::Worker : public QObject
{
public:
    Worker()
        : m_multi(new CurlMulti(this))
    {
    }

    // Transfers still running when the thread stops belong to the multi handle: deleting it answers each as
    // cancelled.
    void start(const QNetworkRequest &request, std::unique_ptr<QIODevice> body, qint64 answerLimit,
               const std::shared_ptr<PendingAnswer> &pending)
    {
        auto *put = new CurlPut(request, std::move(body), answerLimit,
                                [pending](UploadAnswer answer) { pending->answer(std::move(answer)); }, m_multi);
        put->start();
    }

private:
    CurlMulti *m_multi; // a child: moves to the thread with the worker
};

UploadTransport::UploadTransport()
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_worker = new Worker;
    m_thread.setObjectName(QStringLiteral("Uploads"));
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

UploadTransport::~UploadTransport()
{
    m_thread.quit();
    m_thread.wait();
}

QFuture<UploadAnswer> UploadTransport::put(const QNetworkRequest &request, std::unique_ptr<QIODevice> body,
                                           qint64 answerLimit)
{
    auto pending = std::make_shared<PendingAnswer>();
    QFuture<UploadAnswer> future = pending->future();
    body->moveToThread(&m_thread);
    // Held by the queued call, so a transfer that never starts (the thread stopped first) still closes its file.
    auto device = std::make_shared<std::unique_ptr<QIODevice>>(std::move(body));
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker,
        [worker, request, device, answerLimit, pending] {
            worker->start(request, std::move(*device), answerLimit, pending);
        },
        Qt::QueuedConnection);
    return future;
}
