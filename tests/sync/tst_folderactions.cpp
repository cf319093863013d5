// The user's folder actions end to end: the stand-in service over real HTTP, a real support folder for the state
// file, and a restart that reads it back.

#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include <QTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(testsupport::ScriptedAnswer)

using namespace std::chrono_literals;
using testsupport::awaitTask;
using testsupport::LogCapture;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;

namespace {

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

// A manager talking to its own stand-in service, with its state file in a temporary support folder.
struct Bench {
    StandInService service;
    VarnostimaAPI api;
    TempTree support;
    std::unique_ptr<SyncManager> manager;

    Bench()
    {
        service.addAccount("tok");
        api.setTimeouts({2s, 2s, 5s});
        api.setCredentials(service.baseUrl(), QStringLiteral("tok"));
        start();
    }

    void start()
    {
        manager = std::make_unique<SyncManager>(support.root());
        manager->setAPI(api);
    }

    // Destroying the manager writes its last snapshot; the new one reads it back.
    void restart()
    {
        manager.reset();
        start();
    }
};

SyncFolder movedFolder(const QString &galleryId, const QStringList &parentComponents)
{
    SyncFolder f;
    f.name = QStringLiteral("Sommer_fest");
    f.displayName = QStringLiteral("Sommer fest");
    f.parentComponents = parentComponents;
    f.relativePath = (parentComponents + QStringList{f.name}).join(QLatin1Char('/'));
    f.path = QStringLiteral("/eksport/") + f.relativePath;
    f.imageCount = 2;
    f.status = SyncStatus::synced(galleryId, QStringLiteral("sommer-fest"), 2);
    f.uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 10, 1.0}, {"b.jpg", 20, 2.0}};
    f.movedFrom = QStringLiteral("Gammelt/Sommer_fest");
    return f;
}

// The entry reconcile makes for a gallery whose local folder is gone.
SyncFolder removedPlaceholder(const QString &galleryId)
{
    SyncFolder f;
    f.path = QStringLiteral("__removed__/") + galleryId;
    f.name = QStringLiteral("Vinter");
    f.displayName = QStringLiteral("Vinter");
    f.relativePath = f.name;
    f.status = SyncStatus::removedLocally(galleryId, QStringLiteral("vinter"));
    return f;
}

// The names of the server folders from the top down to the gallery's folder; empty at the top level.
QStringList serverFolderChain(const StandInService &service, const QString &galleryId)
{
    const auto gallery = service.gallery(galleryId);
    if (!gallery)
        return {QStringLiteral("<no gallery>")};
    QStringList chain;
    std::optional<QString> id = gallery->folderId;
    while (id) {
        const auto folders = service.folders();
        const auto it = std::find_if(folders.cbegin(), folders.cend(), [&](const auto &f) { return f.id == *id; });
        if (it == folders.cend())
            return {QStringLiteral("<dangling>")};
        chain.prepend(it->name);
        id = it->parentId;
    }
    return chain;
}

} // namespace

class TestFolderActions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveGallery_data()
    {
        QTest::addColumn<QStringList>("existingChain"); // server folders before, the gallery in the deepest
        QTest::addColumn<QStringList>("parentComponents");
        QTest::addColumn<QStringList>("expectedChain");
        QTest::addColumn<int>("foldersCreated");

        QTest::newRow("into new nested folders")
            << QStringList{} << QStringList{"Bryllup_2024", "Kirke-og-fest"}
            << QStringList{"Bryllup 2024", "Kirke og fest"} << 2;
        // The existing folder's name is decomposed (e + combining acute): still the same folder.
        QTest::newRow("below an existing folder")
            << QStringList{QStringLiteral("Kafe\u0301")} << QStringList{QStringLiteral("Kaf\u00e9"), "Inne"}
            << QStringList{QStringLiteral("Kafe\u0301"), "Inne"} << 1;
        QTest::newRow("to the top level") << QStringList{"Gammelt"} << QStringList{} << QStringList{} << 0;
    }
    void moveGallery()
    {
        QFETCH(QStringList, existingChain);
        QFETCH(QStringList, parentComponents);
        QFETCH(QStringList, expectedChain);
        QFETCH(int, foldersCreated);

        Bench bench;
        std::optional<QString> parent;
        for (const QString &name : existingChain)
            parent = bench.service.seedFolder(name, parent);
        const QString galleryId = bench.service.seedGallery(QStringLiteral("Sommer fest"), parent);
        const SyncFolder folder = movedFolder(galleryId, parentComponents);
        bench.manager->setFolders({folder});
        LogCapture log;

        awaitTask(bench.manager->moveGalleryOnServer(folder));

        QCOMPARE(serverFolderChain(bench.service, galleryId), expectedChain);
        QCOMPARE(bench.service.requests("POST", "/api/folder").size(), foldersCreated);
        const auto patches = bench.service.requests("PATCH", "/api/gallery/" + galleryId.toUtf8());
        QCOMPARE(patches.size(), 1);
        if (parentComponents.isEmpty())
            QCOMPARE(patches.first().body, QByteArray("{}"));

        SyncFolder expected = folder;
        expected.movedFrom.reset();
        QCOMPARE(bench.manager->folders(), QList<SyncFolder>{expected});
        QVERIFY(log.contains(syncCategory, QStringLiteral("Moved Sommer fest to folder on server")));
    }

    // A second press while the first move is on the way must not create the server folders twice.
    void secondMoveWhileFirstRuns()
    {
        Bench bench;
        const QString galleryId = bench.service.seedGallery(QStringLiteral("Sommer fest"));
        const SyncFolder folder = movedFolder(galleryId, {"A", "B"});
        bench.manager->setFolders({folder});

        auto first = bench.manager->moveGalleryOnServer(folder);
        awaitTask(bench.manager->moveGalleryOnServer(folder));
        awaitTask(std::move(first));

        QCOMPARE(bench.service.folders().size(), 2);
        QCOMPARE(bench.service.requests("PATCH", "/api/gallery/" + galleryId.toUtf8()).size(), 1);
        QCOMPARE(serverFolderChain(bench.service, galleryId), (QStringList{"A", "B"}));
        QVERIFY(!bench.manager->folders().first().movedFrom);

        // Once it has ended, the folder can be moved again.
        SyncFolder again = bench.manager->folders().first();
        again.movedFrom = QStringLiteral("A/B/Sommer_fest");
        again.parentComponents = {};
        bench.manager->setFolders({again});
        awaitTask(bench.manager->moveGalleryOnServer(again));
        QCOMPARE(serverFolderChain(bench.service, galleryId), QStringList{});
    }

    void failureKeepsFolder_data()
    {
        QTest::addColumn<bool>("isMove");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("pathPattern");
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("expectedText"); // empty: any text after the prefix

        const ScriptedAnswer serverError{500, "{\"error\":\"boom\"}", {}};
        ScriptedAnswer dropped;
        dropped.kind = ScriptedAnswer::Kind::CloseWithoutAnswer;

        QTest::newRow("move: the gallery update is refused")
            << true << QByteArray("PATCH") << QByteArray("/api/gallery/*") << serverError
            << QStringLiteral("Flytting feilet: Serverfeil (500)");
        QTest::newRow("move: a server folder cannot be made")
            << true << QByteArray("POST") << QByteArray("/api/folder")
            << ScriptedAnswer{403, "{\"error\":\"no\"}", {}}
            << QStringLiteral("Flytting feilet: ") + APIError::forbidden().localizedDescription();
        QTest::newRow("delete: the deletion is refused")
            << false << QByteArray("DELETE") << QByteArray("/api/gallery/*") << serverError
            << QStringLiteral("Sletting feilet: Serverfeil (500)");
        QTest::newRow("delete: the connection drops") << false << QByteArray("DELETE")
                                                      << QByteArray("/api/gallery/*") << dropped << QString();
    }
    void failureKeepsFolder()
    {
        QFETCH(bool, isMove);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, pathPattern);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, expectedText);

        Bench bench;
        const QString galleryId = bench.service.seedGallery(QStringLiteral("Sommer fest"));
        const SyncFolder folder = isMove ? movedFolder(galleryId, {"Ny"}) : removedPlaceholder(galleryId);
        bench.manager->setFolders({folder});
        bench.manager->setKnownGalleryIds({galleryId});
        bench.service.script(method, pathPattern, answer, answer.kind == ScriptedAnswer::Kind::Answer ? 1 : 2);
        LogCapture log;

        if (isMove)
            awaitTask(bench.manager->moveGalleryOnServer(folder));
        else
            awaitTask(bench.manager->deleteGalleryOnServer(folder));

        const QString prefix = isMove ? QStringLiteral("Flytting feilet: ") : QStringLiteral("Sletting feilet: ");
        QCOMPARE(bench.manager->folders().size(), 1);
        const SyncFolder &entry = bench.manager->folders().first();
        QCOMPARE(entry.status.kind(), SyncStatus::Case::failed);
        if (expectedText.isEmpty()) {
            QVERIFY2(entry.status.failureMessage().startsWith(prefix), qPrintable(entry.status.failureMessage()));
            QVERIFY(entry.status.failureMessage().size() > prefix.size());
        } else {
            QCOMPARE(entry.status.failureMessage(), expectedText);
        }
        QCOMPARE(entry.movedFrom, folder.movedFrom);
        QCOMPARE(entry.uploadedFiles, folder.uploadedFiles);
        QCOMPARE(bench.manager->knownGalleryIds(), QSet<QString>{galleryId});
        QVERIFY(bench.service.gallery(galleryId));
        QVERIFY(log.contains(syncCategory, isMove ? QStringLiteral("Failed to move Sommer fest: ")
                                                  : QStringLiteral("Failed to delete Vinter from server: ")));

    }

    // Deleting cannot be undone: only the live list's own removed-locally entry of that gallery may be deleted.
    void staleDeleteDoesNothing_data()
    {
        QTest::addColumn<int>("liveCase");
        QTest::newRow("the entry is gone") << 0;
        QTest::newRow("the entry failed meanwhile") << 1;
        QTest::newRow("the folder came back and is synced") << 2;
        QTest::newRow("the path now stands for another gallery") << 3;
    }
    void staleDeleteDoesNothing()
    {
        QFETCH(int, liveCase);

        Bench bench;
        const QString galleryId = bench.service.seedGallery(QStringLiteral("Vinter"));
        const SyncFolder stale = removedPlaceholder(galleryId);
        SyncFolder live = stale;
        QList<SyncFolder> liveList;
        switch (liveCase) {
        case 1:
            live.status = SyncStatus::failed(QStringLiteral("Sletting feilet: Serverfeil (500)"));
            liveList = {live};
            break;
        case 2:
            live.status = SyncStatus::synced(galleryId, QStringLiteral("vinter"), 3);
            liveList = {live};
            break;
        case 3:
            live.status = SyncStatus::removedLocally(QStringLiteral("gal-other"), QStringLiteral("annet"));
            liveList = {live};
            break;
        default:
            break;
        }
        bench.manager->setFolders(liveList);
        bench.manager->setKnownGalleryIds({galleryId});

        awaitTask(bench.manager->deleteGalleryOnServer(stale));

        QVERIFY(bench.service.requests("DELETE", "/api/gallery/*").isEmpty());
        QVERIFY(bench.service.gallery(galleryId));
        QCOMPARE(bench.manager->folders(), liveList);
        QCOMPARE(bench.manager->knownGalleryIds(), QSet<QString>{galleryId});
    }

    // What the state file keeps of each decision, read back by a new manager.
    void decisionsSurviveRestart_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QSet<QString>>("ignoredAfter");
        QTest::addColumn<bool>("galleryIdKnown");
        QTest::addColumn<bool>("galleryStays");

        const QString synced = QStringLiteral("/eksport/Sommer");
        QTest::newRow("ignore") << "ignore" << QSet<QString>{synced} << true << true;
        QTest::newRow("unignore") << "unignore" << QSet<QString>{} << true << true;
        QTest::newRow("forget") << "forget" << QSet<QString>{} << false << true;
        QTest::newRow("delete") << "delete" << QSet<QString>{} << false << false;
    }
    void decisionsSurviveRestart()
    {
        QFETCH(QString, action);
        QFETCH(QSet<QString>, ignoredAfter);
        QFETCH(bool, galleryIdKnown);
        QFETCH(bool, galleryStays);

        Bench bench;
        const QString galleryId = bench.service.seedGallery(QStringLiteral("Vinter"));
        QSet<QString> knownAfter{QStringLiteral("keep")};
        if (galleryIdKnown)
            knownAfter.insert(galleryId);

        SyncFolder synced;
        synced.path = QStringLiteral("/eksport/Sommer");
        synced.name = synced.displayName = synced.relativePath = QStringLiteral("Sommer");
        synced.status = SyncStatus::synced(QStringLiteral("keep"), QStringLiteral("sommer"), 1);
        synced.uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 10, 1.0}};
        const SyncFolder placeholder = removedPlaceholder(galleryId);
        // Reconcile can list a gallery's placeholder twice; both go.
        bench.manager->setFolders({synced, placeholder, placeholder});
        bench.manager->setKnownGalleryIds({QStringLiteral("keep"), galleryId});
        bench.manager->setIgnoredPaths(action == QLatin1String("unignore") ? QSet<QString>{synced.path}
                                                                           : QSet<QString>{});
        bench.manager->saveState(); // on disk before the action, so an action that does not save shows

        if (action == QLatin1String("ignore")) {
            bench.manager->ignoreFolder(synced);
            QCOMPARE(bench.manager->folders().first().status, SyncStatus::ignored());
        } else if (action == QLatin1String("unignore")) {
            bench.manager->unignoreFolder(synced);
            QCOMPARE(bench.manager->folders().first().status, SyncStatus::notSynced());
        } else if (action == QLatin1String("forget")) {
            bench.manager->forgetFolder(placeholder);
        } else {
            awaitTask(bench.manager->deleteGalleryOnServer(placeholder));
        }
        if (action == QLatin1String("forget") || action == QLatin1String("delete"))
            QCOMPARE(bench.manager->folders(), QList<SyncFolder>{synced});

        bench.restart();

        QCOMPARE(bench.manager->ignoredPaths(), ignoredAfter);
        QCOMPARE(bench.manager->knownGalleryIds(), knownAfter);
        // An ignored folder keeps no upload records; the others keep theirs.
        QCOMPARE(bench.manager->pendingFolderUploads().contains(synced.path), action != QLatin1String("ignore"));
        QCOMPARE(bool(bench.service.gallery(galleryId)), galleryStays);
        QCOMPARE(bench.service.requests("DELETE", "/api/gallery/*").size(), galleryStays ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestFolderActions)
#include "tst_folderactions.moc"
