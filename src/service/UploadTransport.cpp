#include "UploadTransport.h"

#include <QIODevice>
#include <QNetworkAccessManager>
#include <QPromise>

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
    ~Worker() override
    {
        // Every caller hears back: a transfer cut off here ends as a cancelled one.
        if (m_network) {
            for (QNetworkReply *reply : m_network->findChildren<QNetworkReply *>())
                reply->abort();
        }
    }

    void start(const QNetworkRequest &request, QIODevice *body, qint64 answerLimit,
               const std::shared_ptr<PendingAnswer> &pending)
    {
        if (!m_network)
            m_network = new QNetworkAccessManager(this);
        QNetworkReply *reply = m_network->put(request, body);
        body->setParent(reply); // read until the transfer ends
        auto answer = std::make_shared<UploadAnswer>();
        // Of the answer only its start is kept: it tells an expired link from other refusals.
        connect(reply, &QNetworkReply::readyRead, reply, [reply, answer, answerLimit] {
            answer->bodyStart += reply->read(answerLimit - answer->bodyStart.size());
            if (reply->bytesAvailable() > 0) {
                answer->cutShort = true;
                reply->abort();
            }
        });
        connect(reply, &QNetworkReply::finished, reply, [reply, answer, answerLimit, pending] {
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            if (status.isValid())
                answer->status = status.toInt();
            answer->error = reply->error();
            answer->errorString = reply->errorString();
            if (reply->isOpen()) // closed when cut short
                answer->bodyStart += reply->read(qMax<qint64>(0, answerLimit - answer->bodyStart.size()));
            pending->answer(std::move(*answer));
            reply->deleteLater();
        });
    }

private:
    QNetworkAccessManager *m_network = nullptr; // made on the first transfer, on this thread
};

UploadTransport::UploadTransport()
    : m_worker(new Worker)
{
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
    QIODevice *device = body.release();
    device->moveToThread(&m_thread);
    Worker *worker = m_worker;
    QMetaObject::invokeMethod(
        worker, [worker, request, device, answerLimit, pending] { worker->start(request, device, answerLimit, pending); },
        Qt::QueuedConnection);
    return future;
}
