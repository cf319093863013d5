#include "StandInService.h"

#include "StandInSockets.h"
#include "StandInState.h"

#include <httplib.h>

#include <QCryptographicHash>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace testsupport {

using standin::ApiReply;
using standin::StandInState;

QByteArray RecordedRequest::header(const QByteArray &nameCaseInsensitive) const
{
    for (const auto &[name, value] : headers) {
        if (name.compare(nameCaseInsensitive, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray &nameCaseInsensitive) const
{
    return std::any_of(headers.cbegin(), headers.cend(), [&](const auto &header) {
        return header.first.compare(nameCaseInsensitive, Qt::CaseInsensitive) == 0;
    });
}

namespace {

constexpr int kWorkerThreads = 48; // hanging requests each hold one
constexpr int kOtherOriginThreads = 4;

bool pathMatches(const QByteArray &pattern, const QByteArray &path)
{
    if (pattern.endsWith('*'))
        return path.startsWith(pattern.chopped(1));
    return path == pattern;
}

// One listener on 127.0.0.1 with its thread. Stopping cuts its connections so idle keep-alive waits end at once.
class Listener {
public:
    template<typename Setup>
    Listener(quint16 wantedPort, int threads, Setup &&setup)
    {
        server.new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
        server.set_keep_alive_max_count(1000);
        server.set_tcp_nodelay(true); // small answers would otherwise wait for the client's delayed ACK (40 ms)
        // The library's default adds SO_REUSEPORT, which lets a second stand-in share a taken port and take half
        // of its connections; a taken port must fail so the caller picks another.
        server.set_socket_options([](socket_t sock) {
            const int yes = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        setup(server);
        if (wantedPort == 0) {
            const int bound = server.bind_to_any_port("127.0.0.1");
            if (bound <= 0)
                throw std::runtime_error("cannot listen on 127.0.0.1");
            port = quint16(bound);
        } else {
            if (!server.bind_to_port("127.0.0.1", wantedPort))
                throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(wantedPort));
            port = wantedPort;
        }
        thread = std::thread([this] {
            server.listen_after_bind();
            finished = true;
        });
        // stop() does nothing until the loop runs, so a service destroyed at once would otherwise never stop
        while (!server.is_running() && !finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~Listener()
    {
        server.stop();
        while (!finished) {
            standin::shutDownConnections(port);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        thread.join();
    }

    httplib::Server server;
    quint16 port = 0;

private:
    std::atomic<bool> finished = false;
    std::thread thread;
};

void registerEverywhere(httplib::Server &server,
                        const std::function<void(const httplib::Request &, httplib::Response &,
                                                 const httplib::ContentReader *)> &handle)
{
    const auto plain = [handle](const httplib::Request &req, httplib::Response &res) { handle(req, res, nullptr); };
    const auto streamed = [handle](const httplib::Request &req, httplib::Response &res,
                                   const httplib::ContentReader &reader) { handle(req, res, &reader); };
    server.Get(".*", plain);
    server.Post(".*", plain);
    server.Post(".*", streamed);
    server.Put(".*", plain);
    server.Put(".*", streamed);
    server.Patch(".*", plain);
    server.Patch(".*", streamed);
    server.Delete(".*", plain);
    server.Delete(".*", streamed);
}

RecordedRequest describe(const httplib::Request &req)
{
    RecordedRequest recorded;
    recorded.method = QByteArray::fromStdString(req.method);
    const QByteArray target = QByteArray::fromStdString(req.target);
    const qsizetype question = target.indexOf('?');
    recorded.path = question < 0 ? target : target.left(question);
    recorded.rawQuery = question < 0 ? QByteArray() : target.mid(question + 1);
    recorded.peerPort = req.remote_port;
    for (const auto &[name, value] : req.headers) {
        // cpp-httplib adds the socket's addresses as headers of its own
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue;
        recorded.headers.append({QByteArray::fromStdString(name), QByteArray::fromStdString(value)});
    }
    return recorded;
}

// Reads the whole body, keeping only a small one in memory; false when the connection broke off.
bool readBody(const httplib::Request &req, const httplib::ContentReader *reader, RecordedRequest &recorded)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto take = [&](const char *data, size_t length) {
        hash.addData(QByteArrayView(data, qsizetype(length)));
        recorded.bodySize += qint64(length);
        if (recorded.bodySize <= StandInService::kKeptBodyLimit)
            recorded.body.append(data, qsizetype(length));
        return true;
    };
    bool complete = true;
    if (reader)
        complete = (*reader)(take);
    else
        take(req.body.data(), req.body.size());
    if (recorded.bodySize > StandInService::kKeptBodyLimit)
        recorded.body.clear();
    recorded.bodySha256 = hash.result().toHex();
    return complete;
}

void applyReply(httplib::Response &res, int status, const QByteArray &body, const QByteArray &contentType,
                const QList<QPair<QByteArray, QByteArray>> &headers)
{
    res.status = status;
    QByteArray type = contentType;
    for (const auto &[name, value] : headers) {
        if (name.compare("Content-Type", Qt::CaseInsensitive) == 0)
            type = value;
        else
            res.set_header(name.toStdString(), value.toStdString());
    }
    // These answers carry no body on the wire; bytes sent anyway would be read as the start of the next answer
    // on a kept-alive connection.
    if (status < 200 || status == 204 || status == 304)
        return;
    if (!body.isEmpty() || !type.isEmpty())
        res.set_content(body.toStdString(), type.isEmpty() ? "application/octet-stream" : type.toStdString());
}

} // namespace

struct StandInService::Impl {
    struct Script {
        QByteArray method;
        QByteArray pattern;
        ScriptedAnswer answer;
        int times;
    };

    explicit Impl(quint16 port)
    {
        std::signal(SIGPIPE, SIG_IGN);
        other = std::make_unique<Listener>(0, kOtherOriginThreads, [this](httplib::Server &server) {
            registerEverywhere(server, [this](const httplib::Request &req, httplib::Response &res,
                                              const httplib::ContentReader *reader) { serveOther(req, res, reader); });
        });
        main = std::make_unique<Listener>(port, kWorkerThreads, [this](httplib::Server &server) {
            registerEverywhere(server, [this](const httplib::Request &req, httplib::Response &res,
                                              const httplib::ContentReader *reader) { serve(req, res, reader); });
        });
        {
            const std::lock_guard lock(mutex);
            mainPort = main->port;
            otherPort = other->port;
            state.setBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(mainPort));
            ready = true;
        }
        released.notify_all();
    }

    // A fixed port can be reached before the constructor has finished.
    bool waitUntilReady()
    {
        std::unique_lock lock(mutex);
        released.wait(lock, [this] { return ready || stopping; });
        return !stopping;
    }

    ~Impl()
    {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        released.notify_all();
        main.reset();
        other.reset();
    }

    std::optional<ScriptedAnswer> takeScript(const QByteArray &method, const QByteArray &path)
    {
        const std::lock_guard lock(mutex);
        for (Script &script : scripts) {
            if (script.times != 0 && script.method == method && pathMatches(script.pattern, path)) {
                if (script.times > 0)
                    --script.times;
                return script.answer;
            }
        }
        return std::nullopt;
    }

    void record(RecordedRequest recorded, QList<RecordedRequest> &into)
    {
        const std::lock_guard lock(mutex);
        into.append(std::move(recorded));
    }

    // Waits for the delay or until the service stops; false when it stopped.
    bool wait(std::optional<std::chrono::milliseconds> delay)
    {
        std::unique_lock lock(mutex);
        if (!delay) {
            released.wait(lock, [this] { return stopping; });
            return false;
        }
        return !released.wait_for(lock, *delay, [this] { return stopping; });
    }

    bool waitForRelease()
    {
        std::unique_lock lock(mutex);
        released.wait(lock, [this] { return heldReleased || stopping; });
        return !stopping;
    }

    void dropConnection(const httplib::Request &req) const
    {
        standin::shutDownConnections(mainPort, req.remote_port);
    }

    void serve(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader)
    {
        if (!waitUntilReady())
            return;
        RecordedRequest recorded = describe(req);
        const std::optional<ScriptedAnswer> scripted = takeScript(recorded.method, recorded.path);
        const bool storePut = recorded.method == "PUT" && recorded.path.startsWith("/store/");
        const QDateTime arrival = QDateTime::currentDateTimeUtc();
        struct InFlight {
            Impl *impl;
            explicit InFlight(Impl *i) : impl(i)
            {
                if (!impl)
                    return;
                const std::lock_guard lock(impl->mutex);
                impl->maxPutsInFlight = std::max(impl->maxPutsInFlight, ++impl->putsInFlight);
                impl->putsInFlightAtArrival.append(impl->putsInFlight);
            }
            ~InFlight()
            {
                if (!impl)
                    return;
                const std::lock_guard lock(impl->mutex);
                --impl->putsInFlight;
            }
        } inFlight(storePut ? this : nullptr);

        if (scripted && scripted->kind == ScriptedAnswer::Kind::AnswerBeforeBody) {
            record(recorded, requests);
            applyReply(res, scripted->status, scripted->body, "application/json", scripted->headers);
            res.set_header("Connection", "close");
            return;
        }
        const bool complete = readBody(req, reader, recorded);
        record(recorded, requests);
        if (!complete) {
            dropConnection(req);
            return;
        }
        const bool actsLater = scripted
            && (scripted->kind == ScriptedAnswer::Kind::ActThenClose
                || scripted->kind == ScriptedAnswer::Kind::AnswerAsUsual);
        if (scripted && !actsLater) {
            answerScripted(req, res, *scripted);
            return;
        }
        // Acted on later, whether or not the client is still there to hear of it.
        if (scripted && ((scripted->held && !waitForRelease())
                         || (scripted->delayMs > 0 && !wait(std::chrono::milliseconds(scripted->delayMs))))) {
            dropConnection(req);
            return;
        }

        std::chrono::milliseconds latency{0};
        if (!storePut) {
            const std::lock_guard lock(mutex);
            latency = apiLatency;
        }
        if (latency.count() > 0 && !wait(latency)) {
            dropConnection(req);
            return;
        }

        ApiReply reply;
        if (storePut) {
            const standin::StoredObject object{recorded.bodySize, recorded.bodySha256, recorded.header("Content-Type")};
            const std::lock_guard lock(mutex);
            reply = state.handleStorePut(recorded.path, recorded.rawQuery, recorded.hasHeader("Authorization"),
                                          arrival, object);
        } else {
            standin::ApiRequest request{recorded.method, recorded.path, recorded.rawQuery, std::nullopt,
                                        recorded.body};
            if (recorded.hasHeader("Authorization"))
                request.authorization = recorded.header("Authorization");
            const std::lock_guard lock(mutex);
            reply = state.handleApi(request);
        }
        if (scripted && scripted->kind == ScriptedAnswer::Kind::ActThenClose) { // acted, but the answer is lost
            dropConnection(req);
            return;
        }
        applyReply(res, reply.status, reply.body, reply.contentType, reply.headers);
    }

    void answerScripted(const httplib::Request &req, httplib::Response &res, const ScriptedAnswer &answer)
    {
        const bool goOn = (!answer.held || waitForRelease())
            && (answer.delayMs <= 0 || wait(std::chrono::milliseconds(answer.delayMs)));
        if (!goOn) {
            dropConnection(req);
            return;
        }
        switch (answer.kind) {
        case ScriptedAnswer::Kind::Hang:
            wait(std::nullopt);
            dropConnection(req);
            return;
        case ScriptedAnswer::Kind::CloseWithoutAnswer:
            dropConnection(req);
            return;
        case ScriptedAnswer::Kind::RedirectToOtherOrigin: {
            const int status = answer.status >= 300 && answer.status < 400 ? answer.status : 307;
            applyReply(res, status, answer.body, {}, answer.headers);
            res.set_header("Location", QStringLiteral("http://127.0.0.1:%1").arg(otherPort).toStdString()
                                           + req.target);
            return;
        }
        case ScriptedAnswer::Kind::Answer:
        case ScriptedAnswer::Kind::AnswerBeforeBody:
        case ScriptedAnswer::Kind::ActThenClose:
        case ScriptedAnswer::Kind::AnswerAsUsual:
            applyReply(res, answer.status, answer.body, "application/json", answer.headers);
            return;
        }
    }

    void serveOther(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader *reader)
    {
        if (!waitUntilReady())
            return;
        RecordedRequest recorded = describe(req);
        readBody(req, reader, recorded);
        record(recorded, otherRequests);
        res.set_content("{}", "application/json");
    }

    mutable std::mutex mutex;
    std::condition_variable released;
    bool stopping = false;
    bool ready = false;
    bool heldReleased = false;
    quint16 mainPort = 0;
    quint16 otherPort = 0;
    QList<RecordedRequest> requests;
    QList<RecordedRequest> otherRequests;
    QList<Script> scripts;
    StandInState state;
    int putsInFlight = 0;
    QList<int> putsInFlightAtArrival;
    int maxPutsInFlight = 0;
    std::chrono::milliseconds apiLatency{0};
    // Declared last: destroyed first, while the members their handlers use still exist.
    std::unique_ptr<Listener> other;
    std::unique_ptr<Listener> main;
};

StandInService::StandInService() : d(std::make_unique<Impl>(0)) {}

StandInService::StandInService(quint16 port) : d(std::make_unique<Impl>(port)) {}

StandInService::~StandInService() = default;

QUrl StandInService::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(d->mainPort));
}

quint16 StandInService::port() const
{
    return d->mainPort;
}

QList<RecordedRequest> StandInService::requests() const
{
    const std::lock_guard lock(d->mutex);
    return d->requests;
}

QList<RecordedRequest> StandInService::requests(const QByteArray &method, const QByteArray &path) const
{
    const std::lock_guard lock(d->mutex);
    QList<RecordedRequest> matching;
    for (const RecordedRequest &request : std::as_const(d->requests)) {
        if (request.method == method && pathMatches(path, request.path))
            matching.append(request);
    }
    return matching;
}

void StandInService::clearRequests()
{
    const std::lock_guard lock(d->mutex);
    d->requests.clear();
    d->otherRequests.clear();
}

void StandInService::script(const QByteArray &method, const QByteArray &pathPattern, ScriptedAnswer answer, int times)
{
    const std::lock_guard lock(d->mutex);
    d->scripts.append({method, pathPattern, std::move(answer), times});
}

void StandInService::clearScripts()
{
    const std::lock_guard lock(d->mutex);
    d->scripts.clear();
}

void StandInService::releaseHeld()
{
    {
        const std::lock_guard lock(d->mutex);
        d->heldReleased = true;
    }
    d->released.notify_all();
}

QList<RecordedRequest> StandInService::otherOriginRequests() const
{
    const std::lock_guard lock(d->mutex);
    return d->otherRequests;
}

void StandInService::addAccount(const QByteArray &token, const QString &userId, const std::optional<QString> &email)
{
    const std::lock_guard lock(d->mutex);
    d->state.addAccount(token, StandInAccount{userId, email});
}

void StandInService::setDeviceLoginToken(const QByteArray &token)
{
    const std::lock_guard lock(d->mutex);
    d->state.deviceLoginToken = token;
}

QString StandInService::seedFolder(const QString &name, const std::optional<QString> &parentId,
                                   std::optional<qint64> sortOrder)
{
    const std::lock_guard lock(d->mutex);
    return d->state.seedFolder(name, parentId, sortOrder);
}

QString StandInService::seedGallery(const QString &title, const std::optional<QString> &folderId)
{
    const std::lock_guard lock(d->mutex);
    return d->state.seedGallery(title, folderId);
}

QString StandInService::seedImage(const QString &galleryId, const QString &fileName, const QByteArray &bytes)
{
    const QByteArray sha = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    const std::lock_guard lock(d->mutex);
    return d->state.seedImage(galleryId, fileName, bytes.size(), sha);
}

QString StandInService::seedImageOfSize(const QString &galleryId, const QString &fileName, qint64 fileSize)
{
    const std::lock_guard lock(d->mutex);
    return d->state.seedImage(galleryId, fileName, fileSize, {});
}

bool StandInService::deleteImageOnWeb(const QString &galleryId, const QString &fileName)
{
    const std::lock_guard lock(d->mutex);
    return d->state.deleteImageOnWeb(galleryId, fileName);
}

void StandInService::setGalleryPageSize(int size)
{
    const std::lock_guard lock(d->mutex);
    d->state.galleryPageSize = size;
}

void StandInService::setApiLatency(std::chrono::milliseconds latency)
{
    const std::lock_guard lock(d->mutex);
    d->apiLatency = latency;
}

void StandInService::setApiDeleteMarksDeleted(bool marks)
{
    const std::lock_guard lock(d->mutex);
    d->state.apiDeleteMarksDeleted = marks;
}

void StandInService::setSyncStateReversed(bool reversed)
{
    const std::lock_guard lock(d->mutex);
    d->state.syncStateReversed = reversed;
}

void StandInService::setIdsDescending(bool descending)
{
    const std::lock_guard lock(d->mutex);
    d->state.idsDescending = descending;
}

bool StandInService::renameGallery(const QString &galleryId, const QString &title)
{
    const std::lock_guard lock(d->mutex);
    return d->state.renameGallery(galleryId, title);
}

bool StandInService::deleteGalleryOnWeb(const QString &galleryId)
{
    const std::lock_guard lock(d->mutex);
    return d->state.deleteGalleryOnWeb(galleryId);
}

void StandInService::setSlotLifetime(std::chrono::milliseconds lifetime)
{
    const std::lock_guard lock(d->mutex);
    d->state.slotLifetime = lifetime;
}

void StandInService::expireSlots()
{
    const std::lock_guard lock(d->mutex);
    d->state.expireSlots();
}

void StandInService::withholdSlotsOnNextPresign(int count)
{
    const std::lock_guard lock(d->mutex);
    d->state.withheldSlots = count;
}

void StandInService::overrideSlotUrlOnNextPresign(const QString &url, int index)
{
    const std::lock_guard lock(d->mutex);
    d->state.slotUrlOverride = url;
    d->state.slotUrlOverrideIndex = index;
}

QByteArray StandInService::saveLibrary() const
{
    const std::lock_guard lock(d->mutex);
    return d->state.saveLibrary();
}

bool StandInService::loadLibrary(const QByteArray &saved)
{
    const std::lock_guard lock(d->mutex);
    return d->state.loadLibrary(saved);
}

QList<StandInGallery> StandInService::galleries() const
{
    const std::lock_guard lock(d->mutex);
    return d->state.galleries();
}

std::optional<StandInGallery> StandInService::gallery(const QString &id) const
{
    const std::lock_guard lock(d->mutex);
    return d->state.gallery(id);
}

QList<StandInFolder> StandInService::folders() const
{
    const std::lock_guard lock(d->mutex);
    return d->state.folders();
}

int StandInService::putsInFlight() const
{
    const std::lock_guard lock(d->mutex);
    return d->putsInFlight;
}

QList<int> StandInService::putsInFlightAtArrival() const
{
    const std::lock_guard lock(d->mutex);
    return d->putsInFlightAtArrival;
}

int StandInService::maxPutsInFlight() const
{
    const std::lock_guard lock(d->mutex);
    return d->maxPutsInFlight;
}

} // namespace testsupport
