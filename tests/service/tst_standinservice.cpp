// The stand-in service is what every engine test talks to: a fault here would make those tests lie. These cases
// cover what they rely on: paging, the presign/PUT/confirm round trip and the sync state, the store's refusals,
// scripted faults and their counts, and that hanging or dropped requests neither block nor leak.

#include "support/StandInService.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryFile>
#include <QTest>

#include <thread>

using testsupport::ScriptedAnswer;
using testsupport::StandInService;

namespace {

const QByteArray kToken = "token-1";

struct Reply {
    int status = -1; // -1: no answer at all
    QByteArray body;
    std::string location;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

class Client {
public:
    explicit Client(const StandInService &service, QByteArray token = kToken)
        : m_http("127.0.0.1", service.port()), m_token(std::move(token))
    {
        m_http.set_read_timeout(std::chrono::seconds(10));
    }

    Reply send(const std::string &method, const std::string &path, const QByteArray &body = {},
               httplib::Headers extra = {}, bool authorize = true)
    {
        if (authorize && !m_token.isEmpty())
            extra.emplace("Authorization", "Bearer " + m_token.toStdString());
        const std::string content = body.toStdString();
        const auto perform = [&]() -> httplib::Result {
            if (method == "GET")
                return m_http.Get(path, extra);
            if (method == "POST")
                return m_http.Post(path, extra, content, "application/json");
            if (method == "PATCH")
                return m_http.Patch(path, extra, content, "application/json");
            if (method == "DELETE")
                return m_http.Delete(path, extra, content, "application/json");
            return m_http.Put(path, extra, content, "image/jpeg");
        };
        const httplib::Result result = perform();
        Reply reply;
        if (result) {
            reply.status = result->status;
            reply.body = QByteArray::fromStdString(result->body);
            reply.location = result->get_header_value("Location");
        }
        return reply;
    }

    void setReadTimeoutMs(int ms) { m_http.set_read_timeout(std::chrono::milliseconds(ms)); }

private:
    httplib::Client m_http;
    QByteArray m_token;
};

QByteArray toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::string pathOf(const QString &url)
{
    const QUrl parsed(url);
    return (parsed.path(QUrl::FullyEncoded) + u'?' + parsed.query(QUrl::FullyEncoded)).toStdString();
}

QJsonObject presignBody(const QString &galleryId, const QList<QPair<QString, qint64>> &files)
{
    QJsonArray list;
    for (const auto &[name, size] : files)
        list.append(QJsonObject{{"name", name}, {"type", "image/jpeg"}, {"size", size}});
    return QJsonObject{{"galleryId", galleryId}, {"files", list}};
}

QByteArray sha(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestStandInService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tokenCheck_data()
    {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<int>("status");
        QTest::newRow("known token") << QByteArray("Bearer token-1") << 200;
        QTest::newRow("unknown token") << QByteArray("Bearer token-2") << 401;
        QTest::newRow("empty token") << QByteArray("Bearer ") << 401;
        QTest::newRow("other scheme") << QByteArray("Basic token-1") << 401;
        QTest::newRow("no header") << QByteArray() << 401;
    }

    void tokenCheck()
    {
        QFETCH(QByteArray, authorization);
        QFETCH(int, status);
        StandInService service;
        service.addAccount(kToken, "u-7", QStringLiteral("a@b.no"));
        httplib::Headers headers;
        if (!authorization.isEmpty())
            headers.emplace("Authorization", authorization.toStdString());
        const Reply reply = Client(service).send("GET", "/api/auth/me", {}, headers, false);
        QCOMPARE(reply.status, status);
        if (status == 200)
            QCOMPARE(reply.json(), (QJsonObject{{"user", QJsonObject{{"id", "u-7"}, {"email", "a@b.no"}}}}));

        service.removeAccount(kToken);
        QCOMPARE(Client(service).send("GET", "/api/auth/me").status, 401);
    }

    void galleryPaging_data()
    {
        QTest::addColumn<int>("galleries");
        QTest::addColumn<int>("pageSize");
        QTest::newRow("none") << 0 << 3;
        QTest::newRow("one short page") << 2 << 3;
        QTest::newRow("exact pages") << 6 << 3;
        QTest::newRow("one over") << 7 << 3;
        QTest::newRow("page of one") << 3 << 1;
    }

    void galleryPaging()
    {
        QFETCH(int, galleries);
        QFETCH(int, pageSize);
        StandInService service;
        service.addAccount(kToken);
        service.setGalleryPageSize(pageSize);
        QStringList seeded;
        for (int i = 0; i < galleries; ++i)
            seeded.append(service.seedGallery(QStringLiteral("Samme tittel")));

        Client client(service);
        QStringList listed;
        std::string path = "/api/gallery/list";
        int pages = 0;
        for (;;) {
            const Reply reply = client.send("GET", path);
            QCOMPARE(reply.status, 200);
            const QJsonObject page = reply.json();
            ++pages;
            QVERIFY(page.value("galleries").toArray().size() <= pageSize);
            for (const QJsonValue &gallery : page.value("galleries").toArray()) {
                QCOMPARE(gallery.toObject().value("title").toString(), QStringLiteral("Samme tittel"));
                QVERIFY(gallery.toObject().value("imageCount").isDouble());
                QVERIFY(!gallery.toObject().contains("folderId"));
                listed.append(gallery.toObject().value("id").toString());
            }
            QVERIFY(page.value("hasMore").isBool());
            if (!page.value("hasMore").toBool()) {
                QVERIFY(!page.contains("nextCursor"));
                break;
            }
            path = "/api/gallery/list?cursor=" + page.value("nextCursor").toString().toStdString();
        }
        QCOMPARE(listed, seeded);
        QCOMPARE(pages, std::max(1, (galleries + pageSize - 1) / pageSize));
        QCOMPARE(client.send("GET", "/api/gallery/list?cursor=").json().value("galleries").toArray().size(),
                 std::min(galleries, pageSize));
        QCOMPARE(client.send("GET", "/api/gallery/list?cursor=nope").status, 400);
    }

    void uploadRoundTrip()
    {
        StandInService service;
        service.addAccount(kToken);
        Client client(service);
        const QString parent = service.seedFolder(QStringLiteral("Kunder"));
        const Reply created = client.send("POST", "/api/folder", toJson({{"name", "2024"}, {"parentId", parent}}));
        QCOMPARE(created.status, 201);
        const QString folderId = created.json().value("folder").toObject().value("id").toString();
        const Reply gallery = client.send("POST", "/api/gallery", toJson({{"title", "Bryllup"}, {"folderId", folderId}}));
        QCOMPARE(gallery.status, 201);
        const QString galleryId = gallery.json().value("gallery").toObject().value("id").toString();

        const QByteArray small = "small image bytes";
        const QByteArray large(int(StandInService::kKeptBodyLimit) * 3 + 17, 'x');
        const Reply presigned = client.send(
            "POST", "/api/upload/presigned",
            toJson(presignBody(galleryId, {{"a.jpg", small.size()}, {"b.jpg", large.size()}, {"c.jpg", 4}})));
        QCOMPARE(presigned.status, 200);
        const QJsonArray slotList = presigned.json().value("presignedUrls").toArray();
        QCOMPARE(slotList.size(), 3);
        QCOMPARE(slotList.at(1).toObject().value("fileName").toString(), QStringLiteral("b.jpg"));
        QCOMPARE(slotList.at(1).toObject().value("size").toInteger(), qint64(large.size()));

        Client store(service, {});
        QCOMPARE(store.send("PUT", pathOf(slotList.at(0).toObject().value("url").toString()), small).status, 200);
        QCOMPARE(store.send("PUT", pathOf(slotList.at(1).toObject().value("url").toString()), large).status, 200);
        QCOMPARE(store.send("PUT", pathOf(slotList.at(2).toObject().value("url").toString()), "cccc").status, 200);
        const auto puts = service.requests("PUT", "/store/*");
        QCOMPARE(puts.size(), 3);
        QCOMPARE(puts.at(1).bodySize, qint64(large.size()));
        QCOMPARE(puts.at(1).bodySha256, sha(large));
        QVERIFY(puts.at(1).body.isEmpty());
        QCOMPARE(puts.at(0).body, small);

        const QString failedKey = slotList.at(2).toObject().value("key").toString();
        QCOMPARE(client.send("POST", ("/api/gallery/" + galleryId + "/confirm").toStdString(),
                             toJson({{"imageCount", 2}, {"totalBytes", small.size() + large.size()},
                                     {"failedKeys", QJsonArray{failedKey}}}))
                     .status,
                 200);
        const auto stored = service.gallery(galleryId);
        QVERIFY(stored);
        QCOMPARE(stored->images.size(), 2);
        QCOMPARE(stored->images.at(0).fileName, QStringLiteral("a.jpg"));
        QCOMPARE(stored->images.at(0).sha256, sha(small));
        QCOMPARE(stored->images.at(1).fileSize, qint64(large.size()));
        QCOMPARE(stored->images.at(1).sha256, sha(large));

        // A slot is spent once confirmed: neither a second confirm nor a late PUT adds anything.
        client.send("POST", ("/api/gallery/" + galleryId + "/confirm").toStdString(),
                    toJson({{"imageCount", 0}, {"totalBytes", 0}}));
        QCOMPARE(store.send("PUT", pathOf(slotList.at(0).toObject().value("url").toString()), small).status, 404);
        QCOMPARE(service.gallery(galleryId)->images.size(), 2);

        const QJsonObject state = client.send("GET", "/api/sync/state").json();
        const QJsonObject entry = state.value("galleries").toArray().at(0).toObject();
        QCOMPARE(entry.value("fileNames").toArray(), (QJsonArray{"a.jpg", "b.jpg"}));
        QCOMPARE(entry.value("deletedFileNames").toArray(), QJsonArray());
        QCOMPARE(entry.value("folderId").toString(), folderId);
        QCOMPARE(entry.value("imageCount").toInteger(), 2);
        QCOMPARE(entry.keys().size(), 9);
        const QJsonArray folders = state.value("folders").toArray();
        QCOMPARE(folders.size(), 2);
        QVERIFY(!folders.at(0).toObject().contains("parentId"));
        QCOMPARE(folders.at(1).toObject().value("parentId").toString(), parent);
        QVERIFY(folders.at(1).toObject().value("sortOrder").isDouble());
    }

    void storeRefusals_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("bodyPart");
        QTest::newRow("expired") << "expire" << 403 << QByteArray("ExpiredToken");
        QTest::newRow("bad signature") << "signature" << 403 << QByteArray("SignatureDoesNotMatch");
        QTest::newRow("bearer sent along") << "authorization" << 400 << QByteArray("InvalidArgument");
        QTest::newRow("unknown slot") << "slot" << 404 << QByteArray("NoSuchKey");
    }

    void storeRefusals()
    {
        QFETCH(QString, fault);
        QFETCH(int, status);
        QFETCH(QByteArray, bodyPart);
        StandInService service;
        service.addAccount(kToken);
        const QString galleryId = service.seedGallery(QStringLiteral("G"));
        Client client(service);
        const QJsonArray slotList = client.send("POST", "/api/upload/presigned",
                                             toJson(presignBody(galleryId, {{"a.jpg", 3000}})))
                                     .json()
                                     .value("presignedUrls")
                                     .toArray();
        std::string path = pathOf(slotList.at(0).toObject().value("url").toString());
        httplib::Headers headers;
        if (fault == "expire")
            service.expireSlots();
        else if (fault == "signature")
            path.back() = path.back() == '0' ? '1' : '0';
        else if (fault == "authorization")
            headers.emplace("Authorization", "Bearer token-1");
        else
            path = "/store/unknown";

        const QByteArray bytes(3000, 'z');
        const Reply reply = Client(service, {}).send("PUT", path, bytes, headers);
        QCOMPARE(reply.status, status);
        QVERIFY(reply.body.contains(bodyPart));
        QCOMPARE(service.requests("PUT", "/store/*").constLast().bodySize, qint64(bytes.size()));

        client.send("POST", ("/api/gallery/" + galleryId + "/confirm").toStdString(),
                    toJson({{"imageCount", 1}, {"totalBytes", 3000}}));
        QVERIFY(service.gallery(galleryId)->images.isEmpty());
    }

    void presignQuirks()
    {
        StandInService service;
        service.addAccount(kToken);
        const QString galleryId = service.seedGallery(QStringLiteral("G"));
        Client client(service);
        const QByteArray body = toJson(presignBody(galleryId, {{"a.jpg", 1}, {"b.jpg", 2}, {"c.jpg", 3}}));

        service.withholdSlotsOnNextPresign(1);
        service.overrideSlotUrlOnNextPresign(QStringLiteral("file:///tmp/x"), 1);
        const QJsonArray quirky = client.send("POST", "/api/upload/presigned", body).json().value("presignedUrls").toArray();
        QCOMPARE(quirky.size(), 2);
        QVERIFY(quirky.at(0).toObject().value("url").toString().startsWith(service.baseUrl().toString()));
        QCOMPARE(quirky.at(1).toObject().value("url").toString(), QStringLiteral("file:///tmp/x"));

        const QJsonArray normal = client.send("POST", "/api/upload/presigned", body).json().value("presignedUrls").toArray();
        QCOMPARE(normal.size(), 3);
        for (const QJsonValue &slot : normal)
            QVERIFY(slot.toObject().value("url").toString().startsWith(service.baseUrl().toString()));
    }

    void webSideChanges()
    {
        StandInService service;
        service.addAccount(kToken);
        const QString precomposed = QStringLiteral("Åse");
        const QString decomposed = precomposed.normalized(QString::NormalizationForm_D);
        const QString galleryId = service.seedGallery(precomposed);
        service.seedGallery(decomposed);
        service.seedImage(galleryId, "a.jpg", "aaaa");
        service.seedImage(galleryId, "a.jpg", "second a");
        const QString bigId = service.seedImageOfSize(galleryId, "big.tif", 5'000'000'000);
        QVERIFY(service.deleteImageOnWeb(galleryId, "a.jpg"));
        QVERIFY(!service.deleteImageOnWeb(galleryId, "missing.jpg"));

        Client client(service);
        const std::string imagesPath = ("/api/gallery/" + galleryId + "/images").toStdString();
        QJsonObject images = client.send("GET", imagesPath).json();
        QCOMPARE(images.value("deletedFileNames").toArray(), QJsonArray{"a.jpg"});
        QCOMPARE(images.value("images").toArray().size(), 2);
        QCOMPARE(images.value("imagesWithSize").toArray().at(1).toObject().value("fileSize").toInteger(),
                 5'000'000'000);

        service.setOmitImagesWithSize(true);
        images = client.send("GET", imagesPath).json();
        QVERIFY(!images.contains("imagesWithSize"));

        const Reply deleted = client.send("DELETE", imagesPath, toJson({{"imageIds", QJsonArray{bigId, "img-x"}}}));
        QCOMPARE(deleted.json(), (QJsonObject{{"success", true}, {"deletedCount", 1}}));
        QCOMPARE(client.send("GET", imagesPath).json().value("deletedFileNames").toArray(), QJsonArray{"a.jpg"});

        const QJsonArray galleries = client.send("GET", "/api/gallery/list").json().value("galleries").toArray();
        QCOMPARE(galleries.at(0).toObject().value("title").toString(), precomposed);
        QCOMPARE(galleries.at(1).toObject().value("title").toString(), decomposed);
        QVERIFY(galleries.at(0).toObject().value("slug") != galleries.at(1).toObject().value("slug"));
    }

    void refusesBadRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("gallery without title") << QByteArray("POST") << QByteArray("/api/gallery") << QByteArray("{}") << 400;
        QTest::newRow("gallery in unknown folder")
            << QByteArray("POST") << QByteArray("/api/gallery") << QByteArray(R"({"title":"x","folderId":"f"})") << 400;
        QTest::newRow("folder name not text") << QByteArray("POST") << QByteArray("/api/folder") << QByteArray(R"({"name":1})") << 400;
        QTest::newRow("not json") << QByteArray("POST") << QByteArray("/api/folder") << QByteArray("name") << 400;
        QTest::newRow("move unknown gallery") << QByteArray("PATCH") << QByteArray("/api/gallery/gal-9") << QByteArray("{}") << 404;
        QTest::newRow("move to top level") << QByteArray("PATCH") << QByteArray("/api/gallery/gal-1") << QByteArray("{}") << 200;
        QTest::newRow("confirm size as text")
            << QByteArray("POST") << QByteArray("/api/gallery/gal-1/confirm")
            << QByteArray(R"({"imageCount":1,"totalBytes":"5"})") << 400;
        QTest::newRow("presign size fraction")
            << QByteArray("POST") << QByteArray("/api/upload/presigned")
            << QByteArray(R"({"galleryId":"gal-1","files":[{"name":"a","type":"t","size":1.5}]})") << 400;
        QTest::newRow("unknown route") << QByteArray("GET") << QByteArray("/api/nothing") << QByteArray() << 404;
        QTest::newRow("wrong method") << QByteArray("POST") << QByteArray("/api/sync/state") << QByteArray("{}") << 405;
        QTest::newRow("delete gallery") << QByteArray("DELETE") << QByteArray("/api/gallery/gal-1") << QByteArray("{}") << 200;
    }

    void refusesBadRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        StandInService service;
        service.addAccount(kToken);
        service.seedGallery(QStringLiteral("G"), service.seedFolder(QStringLiteral("F")));
        const Reply reply = Client(service).send(method.toStdString(), path.toStdString(), body);
        QCOMPARE(reply.status, status);
        QVERIFY(QJsonDocument::fromJson(reply.body).isObject());
        if (method == "PATCH" && status == 200)
            QVERIFY(!service.galleries().at(0).folderId);
    }

    void scriptCounts_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<int>("times");
        QTest::addColumn<QList<int>>("statuses"); // of four GETs of a gallery's images
        QTest::newRow("once") << QByteArray("/api/gallery/gal-1/images") << 1 << QList<int>{503, 200, 200, 200};
        QTest::newRow("twice by prefix") << QByteArray("/api/gallery/*") << 2 << QList<int>{503, 503, 200, 200};
        QTest::newRow("until cleared") << QByteArray("/api/*") << -1 << QList<int>{503, 503, 503, 503};
        QTest::newRow("other route") << QByteArray("/api/folder") << -1 << QList<int>{200, 200, 200, 200};
    }

    void scriptCounts()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(int, times);
        QFETCH(QList<int>, statuses);
        StandInService service;
        service.addAccount(kToken);
        service.seedGallery(QStringLiteral("G"));
        service.script("GET", pattern, ScriptedAnswer{503, R"({"error":"busy"})", {{"Retry-After", "1"}}}, times);
        Client client(service);
        QList<int> seen;
        for (int i = 0; i < statuses.size(); ++i)
            seen.append(client.send("GET", "/api/gallery/gal-1/images").status);
        QCOMPARE(seen, statuses);
        QCOMPARE(service.requests("GET", "/api/gallery/gal-1/images").size(), statuses.size());
        service.clearScripts();
        QCOMPARE(client.send("GET", "/api/gallery/gal-1/images").status, 200);
    }

    void droppedAndHangingRequests()
    {
        auto service = std::make_unique<StandInService>();
        service->addAccount(kToken);
        service->script("GET", "/api/sync/state", ScriptedAnswer{.kind = ScriptedAnswer::Kind::CloseWithoutAnswer});
        Client client(*service);
        QCOMPARE(client.send("GET", "/api/sync/state").status, -1);
        QCOMPARE(client.send("GET", "/api/sync/state").status, 200);

        service->script("POST", "/api/folder", ScriptedAnswer{.delayMs = 50, .kind = ScriptedAnswer::Kind::Hang});
        Client impatient(*service);
        impatient.setReadTimeoutMs(100);
        QCOMPARE(impatient.send("POST", "/api/folder", R"({"name":"x"})").status, -1);
        QVERIFY(service->folders().isEmpty());

        // Requests still hanging and idle keep-alive connections must not hold up the destructor.
        service->script("GET", "/store/*", ScriptedAnswer{.kind = ScriptedAnswer::Kind::Hang}, -1);
        std::vector<std::thread> waiting;
        std::atomic<int> unanswered = 0;
        for (int i = 0; i < 3; ++i) {
            waiting.emplace_back([&, port = service->port()] {
                httplib::Client http("127.0.0.1", port);
                http.set_read_timeout(std::chrono::seconds(60));
                if (!http.Get("/store/x"))
                    ++unanswered;
            });
        }
        QTRY_COMPARE(service->requests("GET", "/store/x").size(), 3);
        service.reset();
        for (std::thread &thread : waiting)
            thread.join();
        QCOMPARE(unanswered.load(), 3);
    }

    void putsInFlightAndEarlyAnswer()
    {
        auto service = std::make_unique<StandInService>();
        service->addAccount(kToken);
        service->script("PUT", "/store/*", ScriptedAnswer{.kind = ScriptedAnswer::Kind::Hang}, 4);
        std::vector<std::thread> putting;
        for (int i = 0; i < 4; ++i) {
            putting.emplace_back([port = service->port()] {
                httplib::Client http("127.0.0.1", port);
                http.Put("/store/slot", std::string(1000, 'p'), "image/jpeg");
            });
        }
        QTRY_COMPARE(service->putsInFlight(), 4);
        QCOMPARE(service->maxPutsInFlight(), 4);

        service->script("PUT", "/store/early",
                        ScriptedAnswer{.status = 413, .body = "too big", .kind = ScriptedAnswer::Kind::AnswerBeforeBody});
        Client(*service, {}).send("PUT", "/store/early", QByteArray(8 << 20, 'e'));
        QCOMPARE(service->requests("PUT", "/store/early").constFirst().bodySize, 0);
        QCOMPARE(Client(*service).send("GET", "/api/auth/me").status, 200);

        service.reset(); // releases the hanging PUTs
        for (std::thread &thread : putting)
            thread.join();
    }

    // Through Qt's own stack, as the client sends it: a file streamed from disk lands byte for byte.
    void qtUploadOfAFile()
    {
        StandInService service;
        service.addAccount(kToken);
        const QString galleryId = service.seedGallery(QStringLiteral("G"));
        QTemporaryFile file;
        QVERIFY(file.open());
        QByteArray bytes(5 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 31 % 251);
        file.write(bytes);
        file.seek(0);
        const QString url = Client(service)
                                .send("POST", "/api/upload/presigned", toJson(presignBody(galleryId, {{"a.jpg", bytes.size()}})))
                                .json()
                                .value("presignedUrls")
                                .toArray()
                                .at(0)
                                .toObject()
                                .value("url")
                                .toString();

        QNetworkAccessManager manager;
        QNetworkRequest request{QUrl(url)};
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("image/jpeg"));
        std::unique_ptr<QNetworkReply> reply(manager.put(request, &file));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 20000);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);

        const auto put = service.requests("PUT", "/store/*").constFirst();
        QCOMPARE(put.bodySize, qint64(bytes.size()));
        QCOMPARE(put.bodySha256, sha(bytes));
        QCOMPARE(put.header("content-type"), QByteArray("image/jpeg"));
        QVERIFY(!put.hasHeader("Authorization"));
    }

    void redirectToOtherOrigin()
    {
        StandInService service;
        service.addAccount(kToken);
        service.script("GET", "/api/auth/me", ScriptedAnswer{.kind = ScriptedAnswer::Kind::RedirectToOtherOrigin});
        const Reply reply = Client(service).send("GET", "/api/auth/me?x=1");
        QCOMPARE(reply.status, 307);
        QCOMPARE(QString::fromStdString(reply.location), service.otherOriginUrl().toString() + "/api/auth/me?x=1");

        httplib::Client other("127.0.0.1", quint16(service.otherOriginUrl().port()));
        other.Get("/api/auth/me?x=1", httplib::Headers{{"Authorization", "Bearer leaked"}});
        QCOMPARE(service.otherOriginRequests().size(), 1);
        QCOMPARE(service.otherOriginRequests().at(0).header("authorization"), QByteArray("Bearer leaked"));
        QCOMPARE(service.otherOriginRequests().at(0).rawQuery, QByteArray("x=1"));
    }

};

QTEST_GUILESS_MAIN(TestStandInService)
#include "tst_standinservice.moc"
