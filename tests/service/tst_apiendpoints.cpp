#include "ServiceFixture.h"

#include <functional>

using namespace fixture;

namespace {

template<typename T>
QCoro::Task<void> discard(QCoro::Task<T> task)
{
    co_await std::move(task);
}

const QByteArray kGallery = q("{'id':'gal-1','slug':'s','title':'T','status':'active','imageCount':0,'createdAt':'x'}");
const QByteArray kFolder = q("{'id':'fld-1','name':'N','createdAt':'x'}");

struct WireCase {
    const char *name;
    std::function<QCoro::Task<void>(VarnostimaAPI &)> call;
    QByteArray method;
    QByteArray path;
    QByteArray query;
    QByteArray body; // empty: no body and no Content-Type
    QByteArray answer;
};

const QList<WireCase> &wireCases()
{
    using FI = PresignedRequest::FileInfo;
    static const QList<WireCase> cases{
        {"list galleries", [](VarnostimaAPI &a) { return discard(a.listGalleries(std::nullopt)); }, "GET",
         "/api/gallery/list", "", "", "{\"galleries\":[],\"hasMore\":false}"},
        {"list galleries, empty cursor", [](VarnostimaAPI &a) { return discard(a.listGalleries(QString())); }, "GET",
         "/api/gallery/list", "cursor=", "", "{\"galleries\":[],\"hasMore\":false}"},
        {"list galleries, cursor encoded",
         [](VarnostimaAPI &a) { return discard(a.listGalleries(QStringLiteral("a b/ø+&=#"))); }, "GET",
         "/api/gallery/list", "cursor=a%20b%2F%C3%B8%2B%26%3D%23", "", "{\"galleries\":[],\"hasMore\":false}"},
        {"gallery images", [](VarnostimaAPI &a) { return discard(a.getGalleryImages(QStringLiteral("gal-1"))); },
         "GET", "/api/gallery/gal-1/images", "", "", "{\"images\":[]}"},
        {"delete images",
         [](VarnostimaAPI &a) {
             return discard(a.deleteImages(QStringLiteral("gal-1"), {QStringLiteral("i2"), QStringLiteral("i1")}));
         },
         "DELETE", "/api/gallery/gal-1/images", "", q("{'imageIds':['i2','i1']}"),
         "{\"success\":true,\"deletedCount\":2}"},
        {"create gallery in folder",
         [](VarnostimaAPI &a) {
             return discard(a.createGallery({QStringLiteral("Sommer \"24\""), std::nullopt, QStringLiteral("fld-1")}));
         },
         "POST", "/api/gallery", "", q("{'title':'Sommer \\'24\\'','folderId':'fld-1'}"), "{\"gallery\":" + kGallery + "}"},
        {"create gallery at top",
         [](VarnostimaAPI &a) { return discard(a.createGallery({QStringLiteral("Vår"), std::nullopt, std::nullopt})); },
         "POST", "/api/gallery", "", "{\"title\":\"V\xc3\xa5r\"}", "{\"gallery\":" + kGallery + "}"},
        {"move gallery to top",
         [](VarnostimaAPI &a) { return discard(a.updateGallery(QStringLiteral("gal-1"), {})); }, "PATCH",
         "/api/gallery/gal-1", "", "{}", "{}"},
        {"move gallery into folder",
         [](VarnostimaAPI &a) { return discard(a.updateGallery(QStringLiteral("gal-1"), {QStringLiteral("fld-2")})); },
         "PATCH", "/api/gallery/gal-1", "", q("{'folderId':'fld-2'}"), "{\"success\":true}"},
        {"delete gallery", [](VarnostimaAPI &a) { return discard(a.deleteGallery(QStringLiteral("gal-1"))); },
         "DELETE", "/api/gallery/gal-1", "", "{}", "{}"},
        {"list folders", [](VarnostimaAPI &a) { return discard(a.listFolders()); }, "GET", "/api/folder", "", "",
         "{\"folders\":[" + kFolder + "]}"},
        {"create top folder",
         [](VarnostimaAPI &a) { return discard(a.createFolder({QStringLiteral("2024"), std::nullopt})); }, "POST",
         "/api/folder", "", q("{'name':'2024'}"), "{\"folder\":" + kFolder + "}"},
        {"create child folder",
         [](VarnostimaAPI &a) { return discard(a.createFolder({QStringLiteral("Juni"), QStringLiteral("fld-1")})); },
         "POST", "/api/folder", "", q("{'name':'Juni','parentId':'fld-1'}"), "{\"folder\":" + kFolder + "}"},
        {"sync state", [](VarnostimaAPI &a) { return discard(a.getSyncState()); }, "GET", "/api/sync/state", "", "",
         "{\"galleries\":[],\"folders\":[]}"},
        {"presigned",
         [](VarnostimaAPI &a) {
             return discard(a.requestPresignedURLs(
                 QStringLiteral("gal-1"), {FI{QStringLiteral("a.jpg"), QStringLiteral("image/jpeg"), 5000000000LL},
                                           FI{QStringLiteral("b.png"), QStringLiteral("image/png"), 0}}));
         },
         "POST", "/api/upload/presigned", "",
         q("{'galleryId':'gal-1','files':[{'name':'a.jpg','type':'image/jpeg','size':5000000000},"
           "{'name':'b.png','type':'image/png','size':0}]}"),
         "{\"presignedUrls\":[]}"},
        {"confirm without failures",
         [](VarnostimaAPI &a) { return discard(a.confirmUpload(QStringLiteral("gal-1"), {2, 300, std::nullopt})); },
         "POST", "/api/gallery/gal-1/confirm", "", q("{'imageCount':2,'totalBytes':300}"), "{}"},
        {"confirm with failures",
         [](VarnostimaAPI &a) {
             return discard(a.confirmUpload(QStringLiteral("gal-1"),
                                            {0, 0, QStringList{QStringLiteral("k1"), QStringLiteral("k2")}}));
         },
         "POST", "/api/gallery/gal-1/confirm", "", q("{'imageCount':0,'totalBytes':0,'failedKeys':['k1','k2']}"),
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
        QCOMPARE(r.body, c.body);
        QCOMPARE(r.header("Authorization"), "Bearer " + kToken);
        QCOMPARE(r.header("Content-Type"), c.body.isEmpty() ? QByteArray() : QByteArray("application/json"));
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
        row("page without hasMore", page, "{'galleries':[]}", false);
        row("page, more without cursor", page, "{'galleries':[],'hasMore':true}", true);
        row("page, gallery with null optionals", page,
            "{'galleries':[{'id':'g','slug':'s','title':'t','status':'a','imageCount':1,'createdAt':'c',"
            "'address':null,'coverUrl':null,'folderId':null}],'hasMore':false}", true);
        row("page, gallery without createdAt", page,
            "{'galleries':[{'id':'g','slug':'s','title':'t','status':'a','imageCount':1}],'hasMore':false}", false);
        row("images only", images, "{'images':[{'id':'i','fileName':'a.jpg'}]}", true);
        row("images missing", images, "{'deletedFileNames':[]}", false);
        row("size above 4 GiB", images, "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':4294967297}]}", true);
        row("size int64 max", images,
            "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':9223372036854775807}]}", true);
        row("size 2^63", images,
            "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':9223372036854775808}]}", false);
        row("size 1.5", images, "{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':1.5}]}", false);
        row("deleted names as text", images, "{'images':[],'deletedFileNames':'a.jpg'}", false);
        row("delete answer false", &reads<DeleteImagesResponse>, "{'success':false,'deletedCount':0}", true);
        row("delete answer without count", &reads<DeleteImagesResponse>, "{'success':true}", false);
        row("created gallery null", &reads<CreateGalleryResponse>, "{'gallery':null}", false);
        row("folder without parent", &reads<FolderListResponse>, "{'folders':[{'id':'f','name':'n','createdAt':'c'}]}", true);
        row("folder parent as number", &reads<FolderListResponse>,
            "{'folders':[{'id':'f','name':'n','parentId':3,'createdAt':'c'}]}", false);
        row("sync state empty", state, "{'galleries':[],'folders':[]}", true);
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
        row("slot", &reads<PresignedResponse>,
            "{'presignedUrls':[{'key':'k','url':'u','fileName':'a','size':1,'type':'image/jpeg'}]}", true);
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
