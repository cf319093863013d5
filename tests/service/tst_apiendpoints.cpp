#include "ServiceFixture.h"
#include "service/WebLinks.h"

#include <functional>

using namespace fixture;

namespace {

template<typename T>
QCoro::Task<void> discard(QCoro::Task<T> task)
{
    co_await std::move(task);
}

const QByteArray kGallery = q("{'gallery':{'id':'gal-1','slug':'s','title':'T','status':'a','imageCount':0,'createdAt':'x'}}");
const QByteArray kFolder = q("{'folder':{'id':'fld-1','name':'N','createdAt':'x'}}");
const QByteArray kPage = q("{'galleries':[],'hasMore':false}");
const QString kId = QStringLiteral("gal-1");

struct WireCase {
    const char *name;
    std::function<QCoro::Task<void>(VarnostimaAPI &)> call;
    QByteArray method;
    QByteArray path;
    QByteArray query;
    QByteArray body; // empty: no body and no Content-Type; single quotes stand for double
    QByteArray answer;
};

const QList<WireCase> &wireCases()
{
    using A = VarnostimaAPI;
    using FI = PresignedRequest::FileInfo;
    const auto s = [](const char *text) { return QString::fromUtf8(text); };
    static const QList<WireCase> cases{
        {"list galleries", [](A &a) { return discard(a.listGalleries(std::nullopt)); }, "GET", "/api/gallery/list",
         "", "", kPage},
        {"list galleries, empty cursor", [](A &a) { return discard(a.listGalleries(QString())); }, "GET",
         "/api/gallery/list", "cursor=", "", kPage},
        {"list galleries, cursor encoded", [s](A &a) { return discard(a.listGalleries(s("a b/ø+&=#"))); }, "GET",
         "/api/gallery/list", "cursor=a%20b%2F%C3%B8%2B%26%3D%23", "", kPage},
        {"gallery images", [](A &a) { return discard(a.getGalleryImages(kId)); }, "GET", "/api/gallery/gal-1/images",
         "", "", "{\"images\":[]}"},
        {"delete images", [s](A &a) { return discard(a.deleteImages(kId, {s("i2"), s("i1")})); }, "DELETE",
         "/api/gallery/gal-1/images", "", "{'imageIds':['i2','i1']}", "{\"success\":true,\"deletedCount\":2}"},
        {"create gallery in folder",
         [s](A &a) { return discard(a.createGallery({s("Sommer \"24\""), std::nullopt, s("fld-1")})); }, "POST",
         "/api/gallery", "", "{'title':'Sommer \\'24\\'','folderId':'fld-1'}", kGallery},
        {"create gallery at top", [s](A &a) { return discard(a.createGallery({s("Vår"), std::nullopt, std::nullopt})); },
         "POST", "/api/gallery", "", "{'title':'V\xc3\xa5r'}", kGallery},
        {"move gallery to top", [](A &a) { return discard(a.updateGallery(kId, {})); }, "PATCH", "/api/gallery/gal-1",
         "", "{}", "{}"},
        {"move gallery into folder", [s](A &a) { return discard(a.updateGallery(kId, {s("fld-2")})); }, "PATCH",
         "/api/gallery/gal-1", "", "{'folderId':'fld-2'}", "{\"success\":true}"},
        {"delete gallery", [](A &a) { return discard(a.deleteGallery(kId)); }, "DELETE", "/api/gallery/gal-1", "",
         "{}", "{}"},
        {"list folders", [](A &a) { return discard(a.listFolders()); }, "GET", "/api/folder", "", "",
         "{\"folders\":[]}"},
        {"create top folder", [s](A &a) { return discard(a.createFolder({s("2024"), std::nullopt})); }, "POST",
         "/api/folder", "", "{'name':'2024'}", kFolder},
        {"create child folder", [s](A &a) { return discard(a.createFolder({s("Juni"), s("fld-1")})); }, "POST",
         "/api/folder", "", "{'name':'Juni','parentId':'fld-1'}", kFolder},
        {"sync state", [](A &a) { return discard(a.getSyncState()); }, "GET", "/api/sync/state", "", "",
         "{\"galleries\":[],\"folders\":[]}"},
        {"presigned",
         [s](A &a) {
             return discard(a.requestPresignedURLs(
                 kId, {FI{s("a.jpg"), s("image/jpeg"), 5000000000LL}, FI{s("b.png"), s("image/png"), 0}}));
         },
         "POST", "/api/upload/presigned", "",
         "{'galleryId':'gal-1','files':[{'name':'a.jpg','type':'image/jpeg','size':5000000000},"
         "{'name':'b.png','type':'image/png','size':0}]}",
         "{\"presignedUrls\":[]}"},
        {"confirm without failures", [](A &a) { return discard(a.confirmUpload(kId, {2, 300, std::nullopt})); },
         "POST", "/api/gallery/gal-1/confirm", "", "{'imageCount':2,'totalBytes':300}", "{}"},
        {"confirm with failures", [s](A &a) { return discard(a.confirmUpload(kId, {0, 0, QStringList{s("k1"), s("k2")}})); },
         "POST", "/api/gallery/gal-1/confirm", "", "{'imageCount':0,'totalBytes':0,'failedKeys':['k1','k2']}",
         "{\"success\":false}"},
    };
    return cases;
}

// Reads the body as the record; true when it reads.
using Reader = bool (*)(const QByteArray &);
template<typename T>
bool reads(const QByteArray &body)
{
    try {
        json::decode<T>(body);
    } catch (const DecodingError &) {
        return false;
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Reader)

class TestApiEndpoints : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wireForm_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < wireCases().size(); ++i)
            QTest::newRow(wireCases().at(i).name) << i;
    }
    void wireForm()
    {
        QFETCH(int, index);
        const WireCase &c = wireCases().at(index);
        Client client;
        client.start();
        ScriptedAnswer scripted;
        scripted.body = c.answer;
        client.service->script(c.method, c.path, scripted);

        awaitTask(c.call(*client.api));

        const auto sent = client.service->requests();
        QCOMPARE(sent.size(), 1);
        const auto &r = sent.first();
        QCOMPARE(r.method, c.method);
        QCOMPARE(r.path, c.path);
        QCOMPARE(r.rawQuery, c.query);
        QCOMPARE(r.body, q(c.body.constData()));
        QCOMPARE(r.header("Authorization"), "Bearer " + kToken);
        QCOMPARE(r.header("Content-Type"), c.body.isEmpty() ? QByteArray() : QByteArray("application/json"));
    }

    // A request that changes something and whose answer is lost is never sent a second time by the network stack,
    // and it never rides on a connection that an earlier request left open.
    void changeIsSentOnce_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < wireCases().size(); ++i) {
            if (wireCases().at(i).method != "GET")
                QTest::newRow(wireCases().at(i).name) << i;
        }
    }
    void changeIsSentOnce()
    {
        QFETCH(int, index);
        const WireCase &c = wireCases().at(index);
        Client client;
        client.start();
        client.service->seedGallery(QStringLiteral("T"));
        awaitTask(discard(client.api->getSyncState()));
        ScriptedAnswer lost;
        lost.kind = ScriptedAnswer::Kind::ActThenClose;
        client.service->script(c.method, c.path, lost, -1);

        const auto failure = awaitFailure(c.call(*client.api));

        QVERIFY(errorOf<TransportError>(failure));
        const auto sent = client.service->requests();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(1).method, c.method);
        QVERIFY(sent.at(1).peerPort != sent.at(0).peerPort);
        // A later change still gets through, on a connection of its own.
        client.service->clearScripts();
        awaitTask(discard(client.api->createFolder({QStringLiteral("N"), std::nullopt})));
        const auto after = client.service->requests();
        QCOMPARE(after.size(), 3);
        QVERIFY(after.at(2).peerPort != after.at(1).peerPort);
    }

    // Every id is one path segment, in requests and in the pages opened in the browser; an id that cannot be one
    // is refused before anything is sent or opened.
    void idIsOnePathSegment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("segment"); // empty: refused
        QTest::newRow("plain") << QStringLiteral("gal-1") << QByteArray("gal-1");
        QTest::newRow("climbs out") << QStringLiteral("a/../../folder") << QByteArray("a%2F..%2F..%2Ffolder");
        QTest::newRow("query and fragment") << QStringLiteral("a?b#c") << QByteArray("a%3Fb%23c");
        QTest::newRow("percent and space") << QStringLiteral("%2E %") << QByteArray("%252E%20%25");
        QTest::newRow("non-ASCII") << QStringLiteral("ø") << QByteArray("%C3%B8");
        QTest::newRow("three dots") << QStringLiteral("...") << QByteArray("...");
        QTest::newRow("dot") << QStringLiteral(".") << QByteArray();
        QTest::newRow("dot dot") << QStringLiteral("..") << QByteArray();
        QTest::newRow("empty") << QStringLiteral("") << QByteArray();
    }
    void idIsOnePathSegment()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, segment);
        Client client;
        client.start();
        const QList<QPair<QByteArray, std::function<QCoro::Task<void>(VarnostimaAPI &)>>> calls{
            {"/images", [id](VarnostimaAPI &a) { return discard(a.getGalleryImages(id)); }},
            {"/images", [id](VarnostimaAPI &a) { return discard(a.deleteImages(id, {QStringLiteral("i")})); }},
            {"", [id](VarnostimaAPI &a) { return discard(a.updateGallery(id, {})); }},
            {"", [id](VarnostimaAPI &a) { return discard(a.deleteGallery(id)); }},
            {"/confirm", [id](VarnostimaAPI &a) { return discard(a.confirmUpload(id, {0, 0, std::nullopt})); }},
        };
        QByteArrayList expected;
        for (const auto &[suffix, call] : calls) {
            const auto error = errorOf<APIError>(awaitFailure(call(*client.api)));
            QCOMPARE(error && error->errorCase() == APIError::Case::invalidURL, segment.isEmpty());
            if (!segment.isEmpty())
                expected.append("/api/gallery/" + segment + suffix);
        }
        QByteArrayList sent;
        for (const auto &request : client.service->requests())
            sent.append(request.path);
        QCOMPARE(sent, expected);

        const QUrl base(QStringLiteral("https://app.example/sub/"));
        const QUrl page = galleryPageURL(base, id);
        QCOMPARE(page.toEncoded(), segment.isEmpty() ? QByteArray() : "https://app.example/sub/gallery/" + segment);
        QCOMPARE(previewPageURL(base, id).isEmpty(), segment.isEmpty());
    }

    void decoding_data()
    {
        QTest::addColumn<Reader>("reader");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        auto row = [](const char *name, Reader reader, const char *body, bool ok) {
            QTest::newRow(name) << reader << q(body) << ok;
        };
        const auto page = &reads<GalleryListResponse>;
        const auto images = &reads<GalleryImagesResponse>;
        const auto state = &reads<SyncStateResponse>;
        row("empty body", page, "", false);
        row("invalid utf-8", &reads<FolderListResponse>, "{'folders':[{'id':'\xff','name':'n','createdAt':'c'}]}", false);
        row("page without hasMore", page, "{'galleries':[]}", false);
        row("page, entry not an object", page, "{'galleries':[1],'hasMore':false}", false);
        row("page, cursor as number", page, "{'galleries':[],'nextCursor':7,'hasMore':true}", false);
        row("page, more without cursor", page, "{'galleries':[],'hasMore':true}", true);
        row("page, gallery with null optionals", page,
            "{'galleries':[{'id':'g','slug':'s','title':'t','status':'a','imageCount':1,'createdAt':'c',"
            "'address':null,'coverUrl':null,'folderId':null}],'hasMore':false}", true);
        row("page, gallery without createdAt", page,
            "{'galleries':[{'id':'g','slug':'s','title':'t','status':'a','imageCount':1}],'hasMore':false}", false);
        row("images missing", images, "{'deletedFileNames':[]}", false);
        row("size int64 max", images,
            "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':9223372036854775807}]}", true);
        row("size 2^63", images,
            "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':9223372036854775808}]}", false);
        row("size 1.5", images, "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':1.5}]}", false);
        row("deleted names as text", images, "{'images':[],'deletedFileNames':'a.jpg'}", false);
        row("deleted name not text", images, "{'images':[],'deletedFileNames':['a.jpg',2]}", false);
        row("delete answer without count", &reads<DeleteImagesResponse>, "{'success':true}", false);
        row("created gallery null", &reads<CreateGalleryResponse>, "{'gallery':null}", false);
        row("folder without parent", &reads<FolderListResponse>, "{'folders':[{'id':'f','name':'n','createdAt':'c'}]}", true);
        row("folder parent as number", &reads<FolderListResponse>,
            "{'folders':[{'id':'f','name':'n','parentId':3,'createdAt':'c'}]}", false);
#define SG "'id':'g','slug':'s','title':'t','imageCount':1,'status':'a','createdAt':'whenever'"
        row("sync state, folderId missing and null", state,
            "{'galleries':[{" SG ",'fileNames':[],'deletedFileNames':[]},{" SG
            ",'folderId':null,'fileNames':['a'],'deletedFileNames':[]}],'folders':[]}", true);
        row("sync state, unknown keys", state,
            "{'v':2,'galleries':[{" SG ",'x':[1],'fileNames':[],'deletedFileNames':[]}],"
            "'folders':[{'id':'f','name':'n','sortOrder':-1,'y':{}}]}", true);
        row("sync state, one gallery without deletedFileNames", state,
            "{'galleries':[{" SG ",'fileNames':[],'deletedFileNames':[]},{" SG ",'fileNames':[]}],'folders':[]}", false);
        row("sync state, folder without sortOrder", state, "{'galleries':[],'folders':[{'id':'f','name':'n'}]}", false);
#undef SG
        row("me, user without id", &reads<MeResponse>, "{'user':{'email':'a'}}", false);
        row("me, null user", &reads<MeResponse>, "{'user':null}", true);
        row("success null", &reads<SuccessResponse>, "{'success':null}", true);
        row("success as text", &reads<SuccessResponse>, "{'success':'yes'}", false);
        row("slot without url", &reads<PresignedResponse>,
            "{'presignedUrls':[{'key':'k','fileName':'a','size':1,'type':'image/jpeg'}]}", false);
    }
    void decoding()
    {
        QFETCH(Reader, reader);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QCOMPARE(reader(body), ok);
    }

    void writesCompactInFieldOrder()
    {
        const CreateGalleryRequest request{QStringLiteral("z\"\\\n\x01ø"), QStringLiteral("a"), QStringLiteral("f")};
        const QByteArray bytes = json::encode(request);
        QCOMPARE(bytes, QByteArray("{\"title\":\"z\\\"\\\\\\n\\u0001\xc3\xb8\",\"address\":\"a\",\"folderId\":\"f\"}"));
        QCOMPARE(json::decode<CreateGalleryRequest>(bytes), request);
    }

    void syncStateOrderKeptAndGalleryWritesEightKeys()
    {
        Client client;
        client.start();
        const QString folder = client.service->seedFolder(QStringLiteral("2024"));
        client.service->seedGallery(QStringLiteral("B"), folder);
        client.service->seedGallery(QStringLiteral("A"));
        const SyncStateResponse state = awaitTask(client.api->getSyncState());
        QCOMPARE(state.galleries.size(), 2);
        QCOMPARE(state.galleries.at(0).title, QStringLiteral("B"));
        QCOMPARE(state.galleries.at(0).folderId, folder);
        QCOMPARE(state.galleries.at(1).title, QStringLiteral("A"));
        QVERIFY(!state.galleries.at(1).folderId);
        QCOMPARE(json::parseObject(json::encode(state.galleries.at(1))).size(), 8);
    }
};

QTEST_GUILESS_MAIN(TestApiEndpoints)
#include "tst_apiendpoints.moc"
