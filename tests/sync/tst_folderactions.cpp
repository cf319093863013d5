// The user's folder actions end to end: the stand-in service over real HTTP, a real support folder for the state
// file, and a second manager that reads it back.

#include "UploadTestFixture.h"

#include "support/LogCapture.h"
#include "sync/SyncErrors.h"

#include <QDir>
#include <QTest>

#include <algorithm>

Q_DECLARE_METATYPE(testsupport::ScriptedAnswer)

using namespace uploadtest;
using testsupport::LogCapture;
using testsupport::ScriptedAnswer;

namespace {

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

SyncFolder movedFolder(const QString &galleryId, const QStringList &parentComponents)
{
    SyncFolder f;
    f.name = "Sommer_fest";
    f.displayName = "Sommer fest";
    f.parentComponents = parentComponents;
    f.relativePath = (parentComponents + QStringList{f.name}).join('/');
    f.path = "/eksport/" + f.relativePath;
    f.status = SyncStatus::synced(galleryId, "sommer-fest", 2);
    f.uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 10, 1.0}, {"b.jpg", 20, 2.0}};
    f.movedFrom = "Gammelt/Sommer_fest";
    return f;
}

// The entry reconcile makes for a gallery whose local folder is gone.
SyncFolder removedPlaceholder(const QString &galleryId)
{
    SyncFolder f;
    f.path = "__removed__/" + galleryId;
    f.name = f.displayName = f.relativePath = "Vinter";
    f.status = SyncStatus::removedLocally(galleryId, "vinter");
    return f;
}

// The names of the server folders from the top down to the gallery's folder; empty at the top level.
QStringList serverFolderChain(const testsupport::StandInService &service, const QString &galleryId)
{
    QStringList chain;
    std::optional<QString> id = service.gallery(galleryId)->folderId;
    const auto folders = service.folders();
    while (id) {
        const auto it = std::find_if(folders.cbegin(), folders.cend(), [&](const auto &f) { return f.id == *id; });
        if (it == folders.cend())
            return {"<dangling>"};
        chain.prepend(it->name);
        id = it->parentId;
    }
    return chain;
}

} // namespace

class TestFolderActions : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;

private Q_SLOTS:
    void init() { f = std::make_unique<Fixture>(); }
    void cleanup() { f.reset(); }

    void moveGallery_data()
    {
        QTest::addColumn<QStringList>("existingChain"); // server folders before, the gallery in the deepest
        QTest::addColumn<QStringList>("parentComponents");
        QTest::addColumn<QStringList>("expectedChain");
        QTest::addColumn<int>("foldersCreated");
        QTest::newRow("into new nested folders") << QStringList{} << QStringList{"Bryllup_2024", "Kirke-og-fest"}
                                                 << QStringList{"Bryllup 2024", "Kirke og fest"} << 2;
        // The existing folder's name is decomposed (e + combining acute): still the same folder.
        QTest::newRow("below an existing folder")
            << QStringList{QString::fromUtf8("Kafe\u0301")} << QStringList{QString::fromUtf8("Kaf\u00e9"), "Inne"}
            << QStringList{QString::fromUtf8("Kafe\u0301"), "Inne"} << 1;
        QTest::newRow("to the top level") << QStringList{"Gammelt"} << QStringList{} << QStringList{} << 0;
    }
    void moveGallery()
    {
        QFETCH(QStringList, existingChain);
        QFETCH(QStringList, parentComponents);
        QFETCH(QStringList, expectedChain);
        QFETCH(int, foldersCreated);
        std::optional<QString> parent;
        for (const QString &name : existingChain)
            parent = f->service.seedFolder(name, parent);
        const QString galleryId = f->service.seedGallery("Sommer fest", parent);
        const SyncFolder folder = movedFolder(galleryId, parentComponents);
        f->manager.setFolders({folder});
        LogCapture log;

        finish(f->manager.moveGalleryOnServer(folder));

        QCOMPARE(serverFolderChain(f->service, galleryId), expectedChain);
        QCOMPARE(f->service.requests("POST", "/api/folder").size(), foldersCreated);
        const auto patches = f->service.requests("PATCH", "/api/gallery/" + galleryId.toUtf8());
        QCOMPARE(patches.size(), 1);
        if (parentComponents.isEmpty())
            QCOMPARE(patches.first().body, QByteArray("{}"));
        SyncFolder expected = folder;
        expected.movedFrom.reset();
        QCOMPARE(f->manager.folders(), QList<SyncFolder>{expected});
        QVERIFY(log.contains(syncCategory, "Moved Sommer fest to folder on server"));
    }

    // A second press while the first move is on the way must not create the server folders twice.
    void secondMoveWhileFirstRuns()
    {
        const QString galleryId = f->service.seedGallery("Sommer fest");
        const SyncFolder folder = movedFolder(galleryId, {"A", "B"});
        f->manager.setFolders({folder});

        auto first = f->manager.moveGalleryOnServer(folder);
        finish(f->manager.moveGalleryOnServer(folder));
        finish(std::move(first));

        QCOMPARE(f->service.folders().size(), 2);
        QCOMPARE(f->service.requests("PATCH", "/api/gallery/*").size(), 1);
        QCOMPARE(serverFolderChain(f->service, galleryId), (QStringList{"A", "B"}));

        // Once it has ended, the folder can be moved again.
        SyncFolder again = folder;
        again.parentComponents = {};
        f->manager.setFolders({again});
        finish(f->manager.moveGalleryOnServer(again));
        QCOMPARE(serverFolderChain(f->service, galleryId), QStringList{});
    }

    void failureKeepsFolder_data()
    {
        QTest::addColumn<bool>("isMove");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("text");
        const ScriptedAnswer serverError{500, R"({"error":"boom"})", {}};
        QTest::newRow("move: the gallery update is refused")
            << true << QByteArray("PATCH") << QByteArray("/api/gallery/*") << serverError
            << "Flytting feilet: " + APIError::serverError(500).localizedDescription();
        QTest::newRow("move: a server folder cannot be made")
            << true << QByteArray("POST") << QByteArray("/api/folder") << ScriptedAnswer{403, R"({"error":"no"})", {}}
            << "Flytting feilet: " + APIError::forbidden().localizedDescription();
        QTest::newRow("delete: the deletion is refused")
            << false << QByteArray("DELETE") << QByteArray("/api/gallery/*") << serverError
            << "Sletting feilet: " + APIError::serverError(500).localizedDescription();
    }
    void failureKeepsFolder()
    {
        QFETCH(bool, isMove);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, text);
        const QString galleryId = f->service.seedGallery("Sommer fest");
        const SyncFolder folder = isMove ? movedFolder(galleryId, {"Ny"}) : removedPlaceholder(galleryId);
        f->manager.setFolders({folder});
        f->manager.setKnownGalleryIds({galleryId});
        f->service.script(method, path, answer);
        LogCapture log;

        finish(isMove ? f->manager.moveGalleryOnServer(folder) : f->manager.deleteGalleryOnServer(folder));

        QCOMPARE(f->manager.folders().size(), 1);
        const SyncFolder &entry = f->manager.folders().first();
        QVERIFY(entry.status.is(SyncStatus::Case::failed));
        QCOMPARE(entry.status.failureMessage(), text);
        QCOMPARE(entry.movedFrom, folder.movedFrom);
        QCOMPARE(entry.uploadedFiles, folder.uploadedFiles);
        QCOMPARE(f->manager.knownGalleryIds(), QSet<QString>{galleryId});
        QVERIFY(f->service.gallery(galleryId));
        QVERIFY(log.contains(syncCategory, isMove ? "Failed to move Sommer fest: " : "Failed to delete Vinter from server: "));
    }

    // Deleting cannot be undone: only the live list's own removed-locally entry of that gallery may be deleted.
    void staleDeleteDoesNothing_data()
    {
        QTest::addColumn<QString>("live"); // what the live list holds at the stale copy's path
        QTest::newRow("the entry is gone") << "gone";
        QTest::newRow("the folder came back") << "synced";
        QTest::newRow("the path holds another gallery") << "other";
    }
    void staleDeleteDoesNothing()
    {
        QFETCH(QString, live);
        const QString galleryId = f->service.seedGallery("Vinter");
        const SyncFolder stale = removedPlaceholder(galleryId);
        QList<SyncFolder> liveList{stale};
        if (live == "gone")
            liveList.clear();
        else if (live == "synced")
            liveList.first().status = SyncStatus::synced(galleryId, "vinter", 3);
        else
            liveList.first().status = SyncStatus::removedLocally("gal-other", "annet");
        f->manager.setFolders(liveList);
        f->manager.setKnownGalleryIds({galleryId});

        finish(f->manager.deleteGalleryOnServer(stale));

        QVERIFY(f->service.requests("DELETE", "/api/gallery/*").isEmpty());
        QCOMPARE(f->manager.folders(), liveList);
        QCOMPARE(f->manager.knownGalleryIds(), QSet<QString>{galleryId});
    }

    // A folder removed on disk and filled again under its name links to its gallery again: the placeholder its
    // removal left goes at once. Deleting or forgetting that gallery is refused while a folder is linked to it,
    // also from a window's older copy, and a deletion on its way keeps the gallery from being adopted.
    void placeholderOfALinkedGallery_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("folder back, no action") << "";
        QTest::newRow("folder back, then delete") << "delete";
        QTest::newRow("folder back, then forget") << "forget";
        QTest::newRow("folder back while the deletion is on its way") << "delete first";
        QTest::newRow("folder gone during its first upload, then delete") << "delete during run";
    }
    void placeholderOfALinkedGallery()
    {
        QFETCH(QString, action);
        Engine e;
        const ScriptedAnswer held{200, {}, {}, 0, ScriptedAnswer::Kind::AnswerAsUsual, true};
        e.tree.addFile("2024/Fest/a.jpg", 10);
        e.watch();
        std::optional<QCoro::Task<void>> run;
        if (action == "delete during run") {
            e.service.script("POST", "/api/upload/presigned", held);
            run = e.manager->syncFolder(e.entry("2024/Fest"));
            QTRY_COMPARE(e.service.requests("POST", "/api/upload/presigned").size(), 1);
        } else {
            e.pass();
        }
        const QString galleryId = e.galleryIds("Fest").value(0);
        QVERIFY(!galleryId.isEmpty());
        QVERIFY(QDir(e.tree.path("2024/Fest")).removeRecursively());
        e.reconcile(); // or the one the watcher started, when it runs already
        const auto placeholderNow = [&] { return folderAt(*e.manager, SyncFolder::placeholderPath(galleryId)); };
        QTRY_VERIFY(placeholderNow() && !e.manager->isReconciling());
        const SyncFolder placeholder = *placeholderNow(); // as a window holds it

        if (action == "delete during run") {
            // The run that made the gallery still uploads into it: the placeholder says why it stays.
            finish(e.manager->deleteGalleryOnServer(placeholder));
            QVERIFY(e.service.gallery(galleryId));
            QCOMPARE(placeholderNow()->status.failureMessage(), SyncManagerError::linked().localizedDescription());
            e.service.releaseHeld();
            finish(std::move(*run));
            finish(e.manager->deleteGalleryOnServer(*placeholderNow()));
            QVERIFY(!e.service.gallery(galleryId));
            return;
        }

        std::optional<QCoro::Task<void>> deletion;
        if (action == "delete first") {
            e.service.script("DELETE", "/api/gallery/" + galleryId.toUtf8(), held);
            deletion = e.manager->deleteGalleryOnServer(placeholder);
            QTRY_COMPARE(e.service.requests("DELETE", "/api/gallery/*").size(), 1);
        }
        e.tree.addFile("2024/Fest/a.jpg", 10);
        e.tree.addFile("2024/Fest/b.jpg", 11);
        e.refresh();
        e.pass();
        if (deletion) {
            e.service.releaseHeld();
            finish(std::move(*deletion));
        } else if (action == "delete") {
            finish(e.manager->deleteGalleryOnServer(placeholder));
        } else if (action == "forget") {
            e.manager->forgetFolder(placeholder);
        }

        const SyncFolder folder = e.entry("2024/Fest");
        QVERIFY(folder.status.is(SyncStatus::Case::synced));
        const QString linked = folder.status.galleryId();
        QCOMPARE(linked == galleryId, action != "delete first");
        QCOMPARE(e.names(linked), (QStringList{"a.jpg", "b.jpg"}));
        QCOMPARE(e.manager->statusCounts().count(SyncStatus::Case::removedLocally), 0);
        QCOMPARE(e.manager->folders().size(), 1);
        QCOMPARE(e.manager->knownGalleryIds().contains(galleryId), linked == galleryId);
        QVERIFY(!e.manager->dismissedGalleryIds().contains(linked));
        e.reconcile();
        QCOMPARE(e.manager->folders().size(), 1);
        QCOMPARE(e.entry("2024/Fest").status.galleryId(), linked);
    }

    // A placeholder whose deletion failed still stands for its gallery: deleting again or forgetting it works.
    void failedPlaceholderStaysActionable_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::newRow("delete again") << true;
        QTest::newRow("forget") << false;
    }
    void failedPlaceholderStaysActionable()
    {
        QFETCH(bool, remove);
        const QString galleryId = f->service.seedGallery("Vinter");
        SyncFolder failed = removedPlaceholder(galleryId);
        failed.status = SyncStatus::failed("Sletting feilet: x");
        f->manager.setFolders({failed});
        f->manager.setKnownGalleryIds({galleryId});

        if (remove)
            finish(f->manager.deleteGalleryOnServer(failed));
        else
            f->manager.forgetFolder(failed);

        QVERIFY(f->manager.folders().isEmpty());
        QVERIFY(f->manager.knownGalleryIds().isEmpty());
        QCOMPARE(bool(f->service.gallery(galleryId)), !remove);
    }

    // What the state file keeps of each decision, read back by a second manager.
    void decisionsSurviveRestart_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("ignoredAfter");
        QTest::addColumn<bool>("galleryIdKnown");
        QTest::addColumn<bool>("galleryStays");
        QTest::newRow("ignore") << "ignore" << true << true << true;
        QTest::newRow("unignore") << "unignore" << false << true << true;
        QTest::newRow("forget") << "forget" << false << false << true;
        QTest::newRow("delete") << "delete" << false << false << false;
    }
    void decisionsSurviveRestart()
    {
        QFETCH(QString, action);
        QFETCH(bool, ignoredAfter);
        QFETCH(bool, galleryIdKnown);
        QFETCH(bool, galleryStays);
        const QString galleryId = f->service.seedGallery("Vinter");
        SyncFolder synced;
        synced.path = "/eksport/Sommer";
        synced.name = synced.displayName = synced.relativePath = "Sommer";
        synced.status = SyncStatus::synced("keep", "sommer", 1);
        synced.uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 10, 1.0}};
        const SyncFolder placeholder = removedPlaceholder(galleryId);
        // Reconcile can list a gallery's placeholder twice; both go.
        f->manager.setFolders({synced, placeholder, placeholder});
        f->manager.setKnownGalleryIds({"keep", galleryId});
        f->manager.setIgnoredPaths(action == "unignore" ? QSet<QString>{synced.path} : QSet<QString>{});
        f->manager.saveState(); // on disk before the action, so an action that does not save shows

        if (action == "ignore")
            f->manager.ignoreFolder(synced);
        else if (action == "unignore")
            f->manager.unignoreFolder(synced);
        else if (action == "forget")
            f->manager.forgetFolder(placeholder);
        else
            finish(f->manager.deleteGalleryOnServer(placeholder));
        if (action == "forget" || action == "delete")
            QCOMPARE(f->manager.folders(), QList<SyncFolder>{synced});
        else
            QCOMPARE(f->manager.folders().first().status,
                     action == "ignore" ? SyncStatus::ignored() : SyncStatus::notSynced());

        f->manager.flushState();
        const SyncManager restarted(f->support.root());
        QCOMPARE(restarted.ignoredPaths().contains(synced.path), ignoredAfter);
        QCOMPARE(restarted.knownGalleryIds().contains(galleryId), galleryIdKnown);
        QVERIFY(restarted.knownGalleryIds().contains("keep"));
        // An ignored folder keeps no upload records; the others keep theirs.
        QCOMPARE(restarted.pendingFolderUploads().contains(synced.path), action != "ignore");
        QCOMPARE(bool(f->service.gallery(galleryId)), galleryStays);
    }
};

QTEST_GUILESS_MAIN(TestFolderActions)
#include "tst_folderactions.moc"
