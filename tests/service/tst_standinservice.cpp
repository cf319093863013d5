// Every engine test talks to the stand-in service, so a fault here would make those tests lie. Only what they
// lean on without checking themselves is covered here.

#include "support/StandInService.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

using testsupport::ScriptedAnswer;
using testsupport::StandInService;

namespace {

struct Reply {
    int status = -1; // -1: no answer at all
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// One kept-alive connection; sends "Authorization: Bearer token-1" unless made without it.
struct Client {
    explicit Client(const StandInService &service, bool authorize = true) : Client(service.port(), authorize) {}
    explicit Client(int port, bool authorize = true) : http("127.0.0.1", port)
    {
        if (authorize)
            headers.emplace("Authorization", "Bearer token-1");
    }
    Reply send(const std::string &method, const std::string &path, const QByteArray &body = {})
    {
        const std::string content = body.toStdString();
        const httplib::Result result = method == "GET"    ? http.Get(path, headers)
                                       : method == "POST" ? http.Post(path, headers, content, "application/json")
                                                          : http.Put(path, headers, content, "image/jpeg");
        return result ? Reply{result->status, QByteArray::fromStdString(result->body)} : Reply{};
    }
    Reply post(const QString &path, const QJsonObject &body)
    {
        return send("POST", path.toStdString(), QJsonDocument(body).toJson(QJsonDocument::Compact));
    }
    httplib::Client http;
    httplib::Headers headers;
};

std::string pathOf(const QJsonValue &slot)
{
    const QUrl url(slot.toObject().value("url").toString());
    return (url.path(QUrl::FullyEncoded) + u'?' + url.query(QUrl::FullyEncoded)).toStdString();
}

QByteArray sha(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestStandInService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Scripts fire `times` times (-1: until cleared). A 204 or 304 must leave no stray body on the kept-alive
    // connection, where it would be read as the start of the next answer.
    void scriptedAnswers_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<int>("times");
        QTest::addColumn<int>("status"); // 0: close without an answer
        QTest::addColumn<QList<int>>("statuses"); // of four GETs of a gallery's images; -1: no answer
        const QByteArray images = "/api/gallery/gal-1/images";
        QTest::newRow("once") << images << 1 << 503 << QList<int>{503, 200, 200, 200};
        QTest::newRow("twice by prefix") << QByteArray("/api/gallery/*") << 2 << 503 << QList<int>{503, 503, 200, 200};
        QTest::newRow("until cleared") << QByteArray("/api/*") << -1 << 503 << QList<int>{503, 503, 503, 503};
        QTest::newRow("other route") << QByteArray("/api/folder") << -1 << 503 << QList<int>{200, 200, 200, 200};
        QTest::newRow("no content") << images << 1 << 204 << QList<int>{204, 200, 200, 200};
        QTest::newRow("not modified") << images << 2 << 304 << QList<int>{304, 304, 200, 200};
        QTest::newRow("closed") << images << 1 << 0 << QList<int>{-1, 200, 200, 200};
    }

    void scriptedAnswers()
    {
        QFETCH(QByteArray, pattern);
        QFETCH(int, times);
        QFETCH(int, status);
        QFETCH(QList<int>, statuses);
        StandInService service;
        service.addAccount("token-1");
        service.seedGallery(QStringLiteral("G"));
        ScriptedAnswer answer{status, R"({"error":"busy"})", {{"Content-Type", "application/json"}}};
        if (status == 0)
            answer.kind = ScriptedAnswer::Kind::CloseWithoutAnswer;
        service.script("GET", pattern, answer, times);
        Client client(service);
        QList<int> seen;
        for (int i = 0; i < statuses.size(); ++i)
            seen.append(client.send("GET", "/api/gallery/gal-1/images").status);
        QCOMPARE(seen, statuses);
        service.clearScripts();
        QCOMPARE(client.send("GET", "/api/gallery/gal-1/images").status, 200);
    }

    // PUTs count from their headers to their answer, hanging ones included; the peak is of concurrent PUTs, not a
    // total. Hanging requests must not hold up the destructor, and are released without an answer.
    void hangingPutsInFlight()
    {
        auto service = std::make_unique<StandInService>();
        service->script("PUT", "/store/done", ScriptedAnswer{});
        QCOMPARE(Client(*service, false).send("PUT", "/store/done", "d").status, 200);
        QCOMPARE(service->maxPutsInFlight(), 1);

        service->script("PUT", "/store/*", ScriptedAnswer{.kind = ScriptedAnswer::Kind::Hang}, -1);
        std::vector<std::thread> putting;
        std::atomic<int> unanswered = 0;
        for (int i = 0; i < 3; ++i) {
            putting.emplace_back([&unanswered, port = service->port()] {
                httplib::Client http("127.0.0.1", port);
                http.set_read_timeout(std::chrono::seconds(60));
                if (!http.Put("/store/slot", std::string(1000, 'p'), "image/jpeg"))
                    ++unanswered;
            });
        }
        QTRY_COMPARE(service->putsInFlight(), 3);
        QCOMPARE(service->maxPutsInFlight(), 3);
        service.reset();
        std::ranges::for_each(putting, &std::thread::join);
        QCOMPARE(unanswered.load(), 3);
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
        service.addAccount("token-1");
        service.setGalleryPageSize(pageSize);
        QStringList seeded;
        for (int i = 0; i < galleries; ++i)
            seeded.append(service.seedGallery(QStringLiteral("Samme tittel")));

        Client client(service);
        QStringList listed;
        int pages = 0;
        for (std::string cursor;; ++pages) {
            const QJsonObject page = client.send("GET", "/api/gallery/list" + cursor).json();
            const bool more = page.value("hasMore").toBool();
            QVERIFY(page.value("hasMore").isBool());
            const QJsonArray onPage = page.value("galleries").toArray();
            QCOMPARE(onPage.size(), more ? pageSize : galleries - pages * pageSize); // full pages, then the rest
            for (const QJsonValue &gallery : onPage)
                listed.append(gallery.toObject().value("id").toString());
            QCOMPARE(page.contains("nextCursor"), more);
            if (!more)
                break;
            cursor = "?cursor=" + page.value("nextCursor").toString().toStdString();
        }
        QCOMPARE(listed, seeded);
    }

    // One body kept whole and one too large to keep must both be stored under the hash of what was PUT. The store
    // refuses a PUT that carries "Authorization" or comes after its slot expired, and keeps nothing of either.
    void uploadRoundTrip()
    {
        StandInService service;
        service.addAccount("token-1");
        const QString galleryId = service.seedGallery(QStringLiteral("Bryllup"));
        Client client(service);
        const QByteArray small = "small image bytes";
        const QByteArray large(int(StandInService::kKeptBodyLimit) * 3 + 17, 'x');
        QJsonArray files;
        for (const auto &[name, size] :
             {std::pair{"a.jpg", small.size()}, {"b.jpg", large.size()}, {"c.jpg", 4}, {"d.jpg", 4}})
            files.append(QJsonObject{{"name", name}, {"type", "image/jpeg"}, {"size", size}});
        const QJsonArray slots = client.post("/api/upload/presigned", {{"galleryId", galleryId}, {"files", files}})
                                     .json().value("presignedUrls").toArray();

        Client store(service, false);
        QCOMPARE(store.send("PUT", pathOf(slots.at(0)), small).status, 200);
        QCOMPARE(store.send("PUT", pathOf(slots.at(1)), large).status, 200);
        QCOMPARE(client.send("PUT", pathOf(slots.at(2)), "cccc").status, 400);
        service.expireSlots();
        const Reply expired = store.send("PUT", pathOf(slots.at(3)), "dddd");
        QCOMPARE(expired.status, 403);
        QVERIFY(expired.body.contains("ExpiredToken"));
        const QJsonObject counts{{"imageCount", 2}, {"totalBytes", small.size() + large.size()}};
        QCOMPARE(client.post("/api/gallery/" + galleryId + "/confirm", counts).status, 200);

        const std::optional stored = service.gallery(galleryId);
        QCOMPARE(stored.value().images.size(), 2);
        QCOMPARE(stored->images.at(0).sha256, sha(small));
        QCOMPARE(stored->images.at(1).fileSize, qint64(large.size()));
        QCOMPARE(stored->images.at(1).sha256, sha(large));

        const QJsonObject entry =
            client.send("GET", "/api/sync/state").json().value("galleries").toArray().at(0).toObject();
        QCOMPARE(entry.value("fileNames").toArray(), (QJsonArray{"a.jpg", "b.jpg"}));
    }

    // Everything of a gallery survives the round trip: its images, the names deleted on the web, its folder.
    void libraryRoundTrip()
    {
        StandInService first;
        const QString folderId = first.seedFolder(QStringLiteral("Reiser"));
        const QString galleryId = first.seedGallery(QStringLiteral("Lofoten"), folderId);
        first.seedImage(galleryId, QStringLiteral("a.jpg"), "aaaa");
        first.seedImage(galleryId, QStringLiteral("b.jpg"), "bbbbbb");
        QVERIFY(first.deleteImageOnWeb(galleryId, QStringLiteral("a.jpg")));

        StandInService second;
        QVERIFY(!second.loadLibrary("not a library"));
        QVERIFY(second.loadLibrary(first.saveLibrary()));
        QCOMPARE(second.saveLibrary(), first.saveLibrary());
        const std::optional gallery = second.gallery(galleryId);
        QCOMPARE(gallery.value().folderId, std::optional(folderId));
        QCOMPARE(gallery->images.size(), 1);
        QCOMPARE(gallery->images.at(0).sha256, sha("bbbbbb"));
        QCOMPARE(gallery->deletedFileNames, QStringList{QStringLiteral("a.jpg")});
    }

    // The trial keeps its galleries: the stand-in program writes its library to --state and reads it back.
    void libraryOutlivesTheProgram()
    {
        QTemporaryDir dir;
        const QString state = dir.filePath(QStringLiteral("library.json"));
        QProcess program;
        const auto start = [&] {
            program.start(QStringLiteral(VARNOSTIMA_STANDIN_PROGRAM),
                          {QStringLiteral("--token"), QStringLiteral("token-1"), QStringLiteral("--state"), state});
            QVERIFY(program.waitForReadyRead(30000));
        };
        const auto stop = [&] {
            ::kill(pid_t(program.processId()), SIGTERM);
            QVERIFY(program.waitForFinished(30000));
            QCOMPARE(program.exitCode(), 0);
        };
        const auto client = [&] {
            const QUrl base(QString::fromUtf8(program.readLine().trimmed()));
            return std::make_unique<Client>(base.port());
        };

        start();
        auto first = client();
        const QString folderId = first->post("/api/folder", {{"name", "Reiser"}}).json().value("folder").toObject().value("id").toString();
        const QJsonObject made =
            first->post("/api/gallery", {{"title", "Lofoten"}, {"folderId", folderId}}).json().value("gallery").toObject();
        QVERIFY(!folderId.isEmpty() && !made.value("id").toString().isEmpty());
        stop();

        start();
        auto second = client();
        const QJsonArray listed = second->send("GET", "/api/gallery/list").json().value("galleries").toArray();
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.at(0).toObject().value("id"), made.value("id"));
        QCOMPARE(listed.at(0).toObject().value("folderId").toString(), folderId);
        // New ids go on from the saved ones.
        const QJsonObject next = second->post("/api/gallery", {{"title", "Senja"}}).json().value("gallery").toObject();
        QVERIFY(next.value("id") != made.value("id"));
        stop();

        // A file it did not write is refused, not taken for an empty library.
        QFile damaged(state);
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("{\"galleries\": 3}") > 0);
        damaged.close();
        program.start(QStringLiteral(VARNOSTIMA_STANDIN_PROGRAM), {QStringLiteral("--state"), state});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(program.readAllStandardError().contains("is not a library this program saved"));
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        QCOMPARE(damaged.readAll(), QByteArray("{\"galleries\": 3}")); // left as it was, for the user to look at
    }

    // A port that another stand-in holds is refused rather than shared, so a second trial moves to another port.
    void takenPortIsRefused()
    {
        const StandInService first;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, StandInService second(first.port()));
        QVERIFY(Client(first).send("GET", "/api/gallery/list").status > 0); // the first still answers
    }

    // The pages the app opens in the browser while trying it by hand: text from the library never becomes markup.
    void webPages_data()
    {
        QTest::addColumn<QByteArray>("loginToken");
        QTest::addColumn<std::string>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("contains");
        const QByteArray title = "&lt;b&gt;Ola &amp; &quot;Kari&quot; &#39;Berg&#39;&lt;/b&gt;";
        QTest::newRow("sign-in link") << QByteArray("t&k ø") << std::string("/auth/device-login") << 200
                                      << QByteArrayList{"href=\"varnostima://auth?token=t%26k%20%C3%B8\""};
        QTest::newRow("no account") << QByteArray() << std::string("/auth/device-login") << 503
                                    << QByteArrayList{"ingen konto"};
        QTest::newRow("dashboard") << QByteArray() << std::string("/dashboard") << 200
                                   << QByteArrayList{title, "href=\"/gallery/gal-1\"", "Kunder / 2026"};
        QTest::newRow("gallery") << QByteArray() << std::string("/gallery/gal-1") << 200
                                 << QByteArrayList{title, "a&lt;1&gt;.jpg", "<td class=\"n\">3</td>"};
        QTest::newRow("preview by slug") << QByteArray() << std::string("/preview/b-ola-kari-berg-b") << 200
                                         << QByteArrayList{"Forhåndsvisning"};
        QTest::newRow("unknown gallery") << QByteArray() << std::string("/gallery/%3Cx%3E") << 404
                                         << QByteArrayList{"&lt;x&gt;"};
        QTest::newRow("no page") << QByteArray() << std::string("/gallery") << 404 << QByteArrayList{};
    }
    void webPages()
    {
        QFETCH(QByteArray, loginToken);
        QFETCH(std::string, path);
        QFETCH(int, status);
        QFETCH(QByteArrayList, contains);
        StandInService service;
        service.setDeviceLoginToken(loginToken);
        const QString folder = service.seedFolder(QStringLiteral("2026"), service.seedFolder(QStringLiteral("Kunder")));
        const QString gallery = service.seedGallery(QStringLiteral("<b>Ola & \"Kari\" 'Berg'</b>"), folder);
        service.seedImage(gallery, QStringLiteral("a<1>.jpg"), "abc");

        const Reply reply = Client(service, false).send("GET", path);
        QCOMPARE(reply.status, status);
        for (const QByteArray &text : contains)
            QVERIFY2(reply.body.contains(text), reply.body.constData());
        QVERIFY(!reply.body.contains("<b>"));
    }
};

QTEST_GUILESS_MAIN(TestStandInService)
#include "tst_standinservice.moc"
