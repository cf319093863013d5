#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/StandInService.h"

#include <QTest>

#include <functional>

using namespace std::chrono_literals;
using testsupport::awaitTask;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;

namespace {

QByteArray q(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

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

// Decodes the body as the named record; true when it reads.
bool decodes(const QString &type, const QByteArray &body)
{
    try {
        if (type == QLatin1String("GalleryListResponse"))
            json::decode<GalleryListResponse>(body);
        else if (type == QLatin1String("GalleryImagesResponse"))
            json::decode<GalleryImagesResponse>(body);
        else if (type == QLatin1String("DeleteImagesResponse"))
            json::decode<DeleteImagesResponse>(body);
        else if (type == QLatin1String("CreateGalleryResponse"))
            json::decode<CreateGalleryResponse>(body);
        else if (type == QLatin1String("FolderListResponse"))
            json::decode<FolderListResponse>(body);
        else if (type == QLatin1String("SyncStateResponse"))
            json::decode<SyncStateResponse>(body);
        else if (type == QLatin1String("PresignedResponse"))
            json::decode<PresignedResponse>(body);
        else
            qFatal("unknown record %s", qPrintable(type));
    } catch (const DecodingError &) {
        return false;
    }
    return true;
}

} // namespace

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
        StandInService service;
        VarnostimaAPI api;
        api.setTimeouts({2s, 2s, 5s});
        api.setCredentials(service.baseUrl(), QStringLiteral("tok"));
        ScriptedAnswer answer;
        answer.body = c.answer;
        service.script(c.method, c.path, answer);

        awaitTask(c.call(api));

        const auto sent = service.requests();
        QCOMPARE(sent.size(), 1);
        const auto &r = sent.first();
        QCOMPARE(r.method, c.method);
        QCOMPARE(r.path, c.path);
        QCOMPARE(r.rawQuery, c.query);
        QCOMPARE(r.body, c.body);
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer tok"));
        QCOMPARE(r.header("Content-Type"), c.body.isEmpty() ? QByteArray() : QByteArray("application/json"));
    }

    void decoding_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        auto row = [](const char *name, const char *type, const QByteArray &body, bool ok) {
            QTest::newRow(name) << QString::fromLatin1(type) << body << ok;
        };
        const QByteArray sg = q("'id':'g','slug':'s','title':'t','imageCount':1,'status':'a','createdAt':'whenever'");
        row("page without hasMore", "GalleryListResponse", q("{'galleries':[]}"), false);
        row("page, more without cursor", "GalleryListResponse", q("{'galleries':[],'hasMore':true}"), true);
        row("page, gallery with null optionals", "GalleryListResponse",
            q("{'galleries':[{'id':'g','slug':'s','title':'t','status':'a','imageCount':1,'createdAt':'c',"
              "'address':null,'coverUrl':null,'folderId':null}],'hasMore':false}"), true);
        row("page, gallery without createdAt", "GalleryListResponse",
            q("{'galleries':[{'id':'g','slug':'s','title':'t','status':'a','imageCount':1}],'hasMore':false}"), false);
        row("images only", "GalleryImagesResponse", q("{'images':[{'id':'i','fileName':'a.jpg'}]}"), true);
        row("images missing", "GalleryImagesResponse", q("{'deletedFileNames':[]}"), false);
        row("size above 4 GiB", "GalleryImagesResponse",
            q("{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':4294967297}]}"), true);
        row("size int64 max", "GalleryImagesResponse",
            q("{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':9223372036854775807}]}"), true);
        row("size 2^63", "GalleryImagesResponse",
            q("{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':9223372036854775808}]}"), false);
        row("size 1.5", "GalleryImagesResponse",
            q("{'images':[],'imagesWithSize':[{'id':'i','fileName':'a','fileSize':1.5}]}"), false);
        row("deleted names as text", "GalleryImagesResponse", q("{'images':[],'deletedFileNames':'a.jpg'}"), false);
        row("delete answer false", "DeleteImagesResponse", q("{'success':false,'deletedCount':0}"), true);
        row("delete answer without count", "DeleteImagesResponse", q("{'success':true}"), false);
        row("created gallery null", "CreateGalleryResponse", q("{'gallery':null}"), false);
        row("folder without parent", "FolderListResponse", q("{'folders':[{'id':'f','name':'n','createdAt':'c'}]}"), true);
        row("folder parent as number", "FolderListResponse",
            q("{'folders':[{'id':'f','name':'n','parentId':3,'createdAt':'c'}]}"), false);
        row("sync state empty", "SyncStateResponse", q("{'galleries':[],'folders':[]}"), true);
        row("sync state, folderId missing and null", "SyncStateResponse",
            q("{'galleries':[{") + sg + q(",'fileNames':[],'deletedFileNames':[]},{") + sg
                + q(",'folderId':null,'fileNames':['a'],'deletedFileNames':[]}],'folders':[]}"),
            true);
        row("sync state, unknown keys", "SyncStateResponse",
            q("{'v':2,'galleries':[{") + sg + q(",'x':[1],'fileNames':[],'deletedFileNames':[]}],"
                                                "'folders':[{'id':'f','name':'n','sortOrder':-1,'y':{}}]}"),
            true);
        row("sync state, one gallery without deletedFileNames", "SyncStateResponse",
            q("{'galleries':[{") + sg + q(",'fileNames':[],'deletedFileNames':[]},{") + sg
                + q(",'fileNames':[]}],'folders':[]}"),
            false);
        row("sync state, folder without sortOrder", "SyncStateResponse",
            q("{'galleries':[],'folders':[{'id':'f','name':'n'}]}"), false);
        row("sync state, fileNames as text", "SyncStateResponse",
            q("{'galleries':[{") + sg + q(",'fileNames':'a','deletedFileNames':[]}],'folders':[]}"), false);
        row("sync state without folders", "SyncStateResponse", q("{'galleries':[]}"), false);
        row("slot", "PresignedResponse",
            q("{'presignedUrls':[{'key':'k','url':'u','fileName':'a','size':1,'type':'image/jpeg'}]}"), true);
        row("slot without url", "PresignedResponse",
            q("{'presignedUrls':[{'key':'k','fileName':'a','size':1,'type':'image/jpeg'}]}"), false);
        row("slot size 1.5", "PresignedResponse",
            q("{'presignedUrls':[{'key':'k','url':'u','fileName':'a','size':1.5,'type':'image/jpeg'}]}"), false);
    }
    void decoding()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QCOMPARE(decodes(type, body), ok);
    }

    void syncStateOrderKeptAndGalleryWritesEightKeys()
    {
        StandInService service;
        service.addAccount("tok");
        const QString folder = service.seedFolder(QStringLiteral("2024"));
        service.seedGallery(QStringLiteral("B"), folder);
        service.seedGallery(QStringLiteral("A"));
        VarnostimaAPI api;
        api.setCredentials(service.baseUrl(), QStringLiteral("tok"));
        const SyncStateResponse state = awaitTask(api.getSyncState());
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
