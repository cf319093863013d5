// The first sync of a folder against the stand-in service: server folders, adopting, failures and their records.

#include "UploadTestFixture.h"

#include "sync/GalleryCatalog.h"
#include "sync/SyncErrors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace uploadtest;
using testsupport::ScriptedAnswer;

namespace {

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList operator-(QStringList list, const QString &removed)
{
    list.removeOne(removed);
    return list;
}

} // namespace

class TestFirstSync : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    struct {
        int calls = 0;
        UploadKind kind = UploadKind::updated;
        qint64 count = 0;
        QString path;
    } m_completion;

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<Fixture>();
        m_completion = {};
        f->manager.setOnUploadCompleted([this](UploadKind kind, const QString &, const QString &, const QString &,
                                               qint64 count, const QString &path) {
            m_completion = {m_completion.calls + 1, kind, count, path};
        });
    }
    void cleanup() { f.reset(); }

    void nestedFolderBecomesGalleryInServerFolders()
    {
        const QString top = f->service.seedFolder("Reiser 2024");
        QHash<QString, QByteArray> contents;
        for (const QString name : {"a.jpg", "b.png", "c.webp"})
            contents.insert(name, f->writeImage("Reiser_2024/Vår-tur/Album/" + QString(name)));
        const SyncFolder folder = f->scan("Reiser_2024/Vår-tur/Album");

        finish(f->manager.syncFolder(folder));

        const SyncFolder entry = f->entry("Reiser_2024/Vår-tur/Album");
        QVERIFY(entry.status.is(SyncStatus::Case::synced));
        QCOMPARE(entry.status.uploadedCount(), 3);
        QCOMPARE(recordNames(entry), (QStringList{"a.jpg", "b.png", "c.webp"}));
        QCOMPARE(f->service.requests("POST", "/api/folder").size(), 1);
        const auto folders = f->service.folders();
        QCOMPARE(folders.size(), 2);
        QCOMPARE(folders.last().name, QString("Vår tur"));
        QCOMPARE(folders.last().parentId, std::optional<QString>(top));

        const auto gallery = f->service.gallery(entry.status.galleryId());
        QCOMPARE(gallery->title, QString("Album"));
        QCOMPARE(gallery->folderId, std::optional<QString>(folders.last().id));
        QCOMPARE(gallery->images.size(), 3);
        for (const auto &image : gallery->images)
            QCOMPARE(image.sha256, sha256Hex(contents.value(image.fileName)));

        QCOMPARE(m_completion.calls, 1);
        QCOMPARE(m_completion.kind, UploadKind::created);
        QCOMPARE(m_completion.count, 3);
        QCOMPARE(m_completion.path, folder.path);
        f->manager.flushState();
        QCOMPARE(SyncManager(f->support.root()).pendingFolderUploads().value(folder.path).size(), 3);
    }

    void adoptsGalleryOfSameTitle_data()
    {
        QTest::addColumn<QString>("serverTitle");
        QTest::addColumn<bool>("adopted");
        QTest::newRow("NFD on the second page") << QString::fromUtf8("Cafe\u0301 kveld") << true;
        QTest::newRow("other letter case") << QString::fromUtf8("café kveld") << false;
    }

    void adoptsGalleryOfSameTitle()
    {
        QFETCH(QString, serverTitle);
        QFETCH(bool, adopted);
        f->service.setGalleryPageSize(1);
        f->service.seedGallery("Annet");
        const QString existing = f->service.seedGallery(serverTitle);
        f->service.seedImageOfSize(existing, "x.jpg", 10);
        f->writeImage(QString::fromUtf8("Caf\u00e9_kveld/a.jpg"));
        const SyncFolder folder = f->scan(QString::fromUtf8("Caf\u00e9_kveld"));

        finish(f->manager.syncFolder(folder));

        const SyncFolder entry = f->entry(folder.relativePath);
        QVERIFY(entry.status.is(SyncStatus::Case::synced));
        QCOMPARE(entry.status.galleryId() == existing, adopted);
        QCOMPARE(f->service.requests("PUT", "/store/*").size(), 1);
        if (adopted) {
            // The adopted gallery lacked the folder's image: it is brought up to date in the same pass.
            QCOMPARE(f->serverNames(existing), (QStringList{"a.jpg", "x.jpg"}));
            QCOMPARE(uploadtest::recordNames(entry), QStringList{"a.jpg"});
            QCOMPARE(m_completion.kind, UploadKind::updated);
            QCOMPARE(m_completion.count, 1);
        }
    }

    // A gallery list that never ends is cut off with an error instead of holding the pass.
    void galleryListPaging_data()
    {
        QTest::addColumn<QStringList>("cursors"); // scripted pages' cursors in order; empty: the service's own pages
        QTest::addColumn<int>("pageLimit");
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("found");
        QTest::newRow("same cursor every time") << QStringList{"c"} << 100 << 2 << false;
        QTest::newRow("cursors in a circle") << QStringList{"a", "b", "a"} << 100 << 3 << false;
        QTest::newRow("past the page limit") << QStringList() << 3 << 3 << false;
        QTest::newRow("at the page limit") << QStringList() << 5 << 5 << true;
    }
    void galleryListPaging()
    {
        QFETCH(QStringList, cursors);
        QFETCH(int, pageLimit);
        QFETCH(int, requests);
        QFETCH(bool, found);
        f->manager.setGalleryPageLimit(pageLimit);
        f->service.setGalleryPageSize(1);
        for (const QString title : {"A", "B", "C", "D", "Målet"})
            f->service.seedGallery(title);
        for (qsizetype i = 0; i < cursors.size(); ++i) {
            const QByteArray page =
                "{\"galleries\":[],\"hasMore\":true,\"nextCursor\":\"" + cursors.at(i).toUtf8() + "\"}";
            f->service.script("GET", "/api/gallery/list", {200, page}, i + 1 == cursors.size() ? -1 : 1);
        }

        const auto failure = testsupport::awaitFailure(f->manager.findExistingGallery("Målet"));

        QCOMPARE(!failure, found);
        QCOMPARE(f->service.requests("GET", "/api/gallery/list").size(), requests);
        if (failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const APIError &error) {
                QCOMPARE(error.errorCase(), APIError::Case::invalidResponse);
            } catch (...) {
                QFAIL("not an answer error");
            }
        }
    }

    // A pass over many new folders reads the gallery list once and shares it; what it adopts stays as a walk of
    // the list for each folder would have it.
    void passReadsGalleryListOnce_data()
    {
        QTest::addColumn<QStringList>("existing");  // titles on the service before the pass, in its order
        QTest::addColumn<QStringList>("folders");   // new folders, one image each
        QTest::addColumn<int>("failedPresigns");    // the first n upload requests of the pass fail
        QTest::addColumn<int>("failedLists");       // the first n list requests fail; -1: every one
        QTest::addColumn<int>("listRequests");      // pages of the list read in the pass
        QTest::addColumn<QStringList>("titles");    // every gallery on the service afterwards, sorted
        QTest::addColumn<QStringList>("adopted");   // folders linked to a gallery that was there before the pass

        QStringList others;
        for (int i = 1; i <= 7; ++i)
            others.append(QString("Annet %1").arg(i));
        QStringList many;
        for (int i = 10; i < 34; ++i)
            many.append(QString("Mappe %1").arg(i));
        QTest::newRow("24 new folders") << others << many << 0 << 0 << 4 << sorted(others + many) << QStringList();
        const QStringList withMatch = others.mid(0, 6) + QStringList{"Mappe 12"};
        QTest::newRow("adopts from the last page")
            << withMatch << many.mid(0, 5) << 0 << 0 << 4 << sorted(withMatch + many.mid(0, 5) - QString("Mappe 12"))
            << QStringList{"Mappe 12"};
        QTest::newRow("two folders, one gallery of their title")
            << QStringList{"Fest"} << QStringList{"2023/Fest", "2024/Fest"} << 0 << 0 << 1
            << QStringList{"Fest", "Fest"} << QStringList{"2023/Fest"};
        QTest::newRow("two folders of one title, made in the pass")
            << QStringList() << QStringList{"2023/Fest", "2024/Fest"} << 0 << 0 << 1 << QStringList{"Fest", "Fest"}
            << QStringList();
        // The first folder made the gallery and then failed: the second finds it free, as on the service.
        QTest::newRow("adopts a gallery made earlier in the pass")
            << QStringList() << QStringList{"2023/Fest", "2024/Fest"} << 1 << 0 << 1 << QStringList{"Fest"}
            << QStringList();
        QTest::newRow("list fails once, the next folder reads it")
            << others.mid(0, 3) << many.mid(0, 3) << 0 << 1 << 3 << sorted(others.mid(0, 3) + many.mid(1, 2))
            << QStringList();
        QTest::newRow("list always fails") << others << many.mid(0, 6) << 0 << -1 << 4 << others << QStringList();
    }

    void passReadsGalleryListOnce()
    {
        QFETCH(QStringList, existing);
        QFETCH(QStringList, folders);
        QFETCH(int, failedPresigns);
        QFETCH(int, failedLists);
        QFETCH(int, listRequests);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, adopted);
        f->service.setGalleryPageSize(2);
        QHash<QString, QString> seeded; // title -> id
        for (const QString &title : existing)
            seeded.insert(title, f->service.seedGallery(title));
        for (const QString &folder : folders)
            f->writeImage(folder + "/a.jpg");
        f->manager.setFolders(SyncManager::scanFolderTree(f->exportTree.root(), {}));
        if (failedPresigns > 0)
            f->service.script("POST", "/api/upload/presigned", {500, R"({"error":"boom"})"}, failedPresigns);
        if (failedLists != 0)
            f->service.script("GET", "/api/gallery/list", {500, R"({"error":"boom"})"}, failedLists);

        finish(f->manager.runAutoSync());

        QCOMPARE(f->service.requests("GET", "/api/gallery/list").size(), listRequests);
        QStringList made;
        for (const auto &gallery : f->service.galleries())
            made.append(gallery.title);
        QCOMPARE(sorted(made), titles);
        int synced = 0;
        for (const QString &folder : folders) {
            const SyncFolder entry = f->entry(folder);
            if (!entry.status.is(SyncStatus::Case::synced))
                continue;
            ++synced;
            const bool fromBefore = seeded.value(entry.displayName) == entry.status.galleryId();
            QCOMPARE(fromBefore, adopted.contains(folder));
            // Every synced folder's image is in its gallery, adopted or made.
            QCOMPARE(f->serverNames(entry.status.galleryId()), QStringList{"a.jpg"});
        }
        QCOMPARE(synced, folders.size() - failedPresigns - (failedLists < 0 ? folders.size() : failedLists));
    }

    // Folders synced before and found again unsynced (the state could not be read, say) go back to their own
    // galleries through the pass's one reading of the list, not a walk of it each.
    void linkedFoldersShareThePassList()
    {
        f->service.setGalleryPageSize(2);
        QHash<QString, QString> linked; // folder -> gallery id
        for (int i = 10; i < 16; ++i) {
            const QString title = QString("Mappe %1").arg(i);
            linked.insert(title, f->service.seedGallery(title));
            f->writeImage(title + "/a.jpg");
        }
        const QList<SyncFolder> folders = SyncManager::scanFolderTree(f->exportTree.root(), {});
        QList<SyncFolder> synced = folders;
        for (SyncFolder &folder : synced)
            folder.status = SyncStatus::synced(linked.value(folder.displayName), folder.displayName, 0);
        f->manager.setFolders(synced); // links the folders
        f->manager.setFolders(folders);

        finish(f->manager.runAutoSync());

        QCOMPARE(f->service.requests("GET", "/api/gallery/list").size(), 3); // 6 galleries, 2 a page, read once
        for (const SyncFolder &folder : folders)
            QCOMPARE(f->entry(folder.displayName).status.galleryId(), linked.value(folder.displayName));
    }

    // What the web does after the pass read its list, as the first folder's images go up, is seen by the next
    // folder once the pass's copy is older than the max age; a young copy serves a long pass with one read.
    void passListReadAgainWhenOld_data()
    {
        QTest::addColumn<int>("maxAgeMs");
        QTest::addColumn<QString>("web");      // "made", "renamed" (from "Annet"), "made, list fails", "none"
        QTest::addColumn<int>("folders");      // "Mappe 10", "Mappe 11", ..., one image each
        QTest::addColumn<int>("listRequests");
        QTest::addColumn<QString>("second");   // the second folder: "adopted" the web's gallery, "made" one, "failed"
        QTest::newRow("gallery made on the web after the pass read its list") << 0 << "made" << 3 << 3 << "adopted";
        QTest::newRow("renamed to the folder's title after the read") << 0 << "renamed" << 2 << 2 << "adopted";
        QTest::newRow("the list cannot be read again") << 0 << "made, list fails" << 2 << 2 << "failed";
        QTest::newRow("long pass, young copy") << 3600000 << "none" << 20 << 1 << "made";
    }
    void passListReadAgainWhenOld()
    {
        QFETCH(int, maxAgeMs);
        QFETCH(QString, web);
        QFETCH(int, folders);
        QFETCH(int, listRequests);
        QFETCH(QString, second);
        f = std::make_unique<Fixture>(
            SyncDelays{.autoSync = 1h, .settle = 0ms, .galleryListMaxAge = std::chrono::milliseconds(maxAgeMs)});
        const QString renamed = f->service.seedGallery("Annet");
        for (int i = 0; i < folders; ++i)
            f->writeImage(QString("Mappe %1/a.jpg").arg(10 + i));
        f->manager.setFolders(SyncManager::scanFolderTree(f->exportTree.root(), {}));
        QString fromWeb;
        f->manager.setUploadStepHook([&](SyncManager::UploadStep step, const QStringList &files) {
            if (step != SyncManager::UploadStep::describing || !files.first().contains("/Mappe 10/"))
                return;
            if (web == "renamed") {
                f->service.renameGallery(renamed, "Mappe 11");
                fromWeb = renamed;
            } else if (web.startsWith("made")) {
                fromWeb = f->service.seedGallery("Mappe 11");
            }
            if (web.endsWith("list fails"))
                f->service.script("GET", "/api/gallery/list", {500, R"({"error":"boom"})"});
        });

        finish(f->manager.runAutoSync());

        int titled = 0;
        for (const auto &gallery : f->service.galleries())
            titled += gallery.title == "Mappe 11" ? 1 : 0;
        QCOMPARE(titled, 1);
        const SyncFolder entry = f->entry("Mappe 11");
        QCOMPARE(entry.status.is(SyncStatus::Case::failed), second == "failed");
        QCOMPARE(!fromWeb.isEmpty() && entry.status.galleryId() == fromWeb, second == "adopted");
        QVERIFY(f->entry("Mappe 10").status.is(SyncStatus::Case::synced));
        QCOMPARE(f->service.requests("GET", "/api/gallery/list").size(), listRequests);
    }

    // The pass's list, kept up to date with what the pass does: steps "load:" (the service's list, id=title
    // pairs), "add:" (made in the pass), "remove:" (deleted in the pass), then the gallery a title finds.
    void passGalleryList_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("found"); // id; empty: none
        const QString nfd = QString::fromUtf8("Cafe\u0301");
        QTest::newRow("first of two in list order") << QStringList{"load:a=Fest,b=Fest"} << "Fest" << "a";
        QTest::newRow("canonical title") << QStringList{"load:a=" + nfd} << QString::fromUtf8("Caf\u00e9") << "a";
        QTest::newRow("letter case counts") << QStringList{"load:a=fest"} << "Fest" << "";
        QTest::newRow("made in the pass, after the listed") << QStringList{"add:c=Fest", "load:a=Fest"} << "Fest"
                                                             << "a";
        QTest::newRow("made in the pass, none listed") << QStringList{"load:a=Annet", "add:c=Fest"} << "Fest" << "c";
        QTest::newRow("deleted: the next of its title")
            << QStringList{"load:a=Fest,b=Fest", "remove:a"} << "Fest" << "b";
        QTest::newRow("deleted before the list came") << QStringList{"remove:a", "load:a=Fest"} << "Fest" << "";
        QTest::newRow("made and listed: where listed") << QStringList{"add:b=Fest", "load:b=Fest,a=Fest"} << "Fest"
                                                        << "b";
        QTest::newRow("read again: deleted on the web") << QStringList{"load:a=Fest", "load:b=Annet"} << "Fest" << "";
        QTest::newRow("read again: made in the pass, not listed yet")
            << QStringList{"load:a=Annet", "add:c=Fest", "load:a=Annet"} << "Fest" << "c";
    }
    void passGalleryList()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, title);
        QFETCH(QString, found);
        const auto gallery = [](const QString &pair) {
            Gallery made;
            made.id = pair.section('=', 0, 0);
            made.title = pair.section('=', 1);
            return made;
        };
        GalleryCatalog list;
        for (const QString &step : steps) {
            const QString argument = step.section(':', 1);
            if (step.startsWith("load:")) {
                QList<Gallery> listed;
                for (const QString &pair : argument.split(','))
                    listed.append(gallery(pair));
                list.load(listed);
            } else if (step.startsWith("add:")) {
                list.add(gallery(argument));
            } else {
                list.remove(argument);
            }
        }
        QCOMPARE(list.find(title).value_or(Gallery()).id, found);
    }

    void failuresRecordOnlyWhatIsOnTheService_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("text");  // of a failed status
        QTest::addColumn<int>("recorded"); // uploaded files recorded; -1: none recorded at all
        QTest::newRow("413 on presign") << "413" << true << APIError::quotaExceeded().localizedDescription() << -1;
        QTest::newRow("fewer slots") << "withhold" << true << "Server-svar matchet ikke antall filer (2/3)" << -1;
        QTest::newRow("confirmation fails") << "confirm" << true << APIError::serverError(500).localizedDescription()
                                            << -1;
        QTest::newRow("gallery creation fails") << "gallery" << true << "Kunne ikke opprette galleri" << -1;
        QTest::newRow("folder creation fails") << "folder" << true << "Kunne ikke opprette mappe" << -1;
        QTest::newRow("dropped connection") << "drop" << false << QString() << 2;
        QTest::newRow("expired slots") << "expired" << false << QString() << 0;
    }

    void failuresRecordOnlyWhatIsOnTheService()
    {
        QFETCH(QString, fault);
        QFETCH(bool, failed);
        QFETCH(QString, text);
        QFETCH(int, recorded);
        for (const QString name : {"a.jpg", "b.jpg", "c.jpg"})
            f->writeImage("Tur/Dag/" + QString(name));
        const SyncFolder folder = f->scan("Tur/Dag");
        auto &s = f->service;
        if (fault == "413")
            s.script("POST", "/api/upload/presigned", {413, R"({"error":"too large"})"});
        else if (fault == "withhold")
            s.withholdSlotsOnNextPresign(1);
        else if (fault == "confirm")
            s.script("POST", "/api/gallery/*", {500, R"({"error":"boom"})"});
        else if (fault == "gallery")
            s.script("POST", "/api/gallery", {500, R"({"error":"boom"})"});
        else if (fault == "folder")
            s.script("POST", "/api/folder", {500, R"({"error":"boom"})"});
        else if (fault == "expired")
            s.setSlotLifetime(0ms);
        else if (fault == "drop") {
            s.overrideSlotUrlOnNextPresign(s.baseUrl().toString() + "/store/dropped", 1);
            s.script("PUT", "/store/dropped", {0, {}, {}, 0, ScriptedAnswer::Kind::CloseWithoutAnswer}, 2);
        }

        finish(f->manager.syncFolder(folder));

        const SyncFolder entry = f->entry("Tur/Dag");
        QCOMPARE(entry.status.is(SyncStatus::Case::failed), failed);
        if (failed) {
            QCOMPARE(entry.status.failureMessage(), text);
            QVERIFY(!entry.uploadedFiles);
        } else {
            QVERIFY(entry.status.is(SyncStatus::Case::synced));
            QCOMPARE(entry.status.uploadedCount(), recorded);
            QCOMPARE(recordNames(entry), f->serverNames(entry.status.galleryId()));
            QCOMPARE(m_completion.calls, recorded > 0 ? 1 : 0);
            // Failed uploads reach the confirmation by their slot keys.
            const auto confirm = QJsonDocument::fromJson(s.requests("POST", "/api/gallery/*").last().body).object();
            const QStringList keys = confirm.value("failedKeys").toVariant().toStringList();
            QCOMPARE(keys.size(), 3 - recorded);
            for (const QString &key : keys)
                QVERIFY2(key.startsWith("uploads/" + entry.status.galleryId() + "/"), qPrintable(key));
        }
        QCOMPARE(recordNames(entry).size(), std::max(recorded, 0));
    }

    // A gallery is held from the moment a folder's run makes or adopts it until the run ends: a folder of the same
    // title synced by the user meanwhile makes a gallery of its own, as beside a synced folder.
    void galleryOfARunUnderWayStaysItsOwn_data()
    {
        QTest::addColumn<bool>("updating"); // x/Fest is synced and updating; otherwise on its first sync
        QTest::newRow("first sync uploading") << false;
        QTest::newRow("update uploading") << true;
    }

    void galleryOfARunUnderWayStaysItsOwn()
    {
        QFETCH(bool, updating);
        f->writeImage("x/Fest/a.jpg");
        f->writeImage("y/Fest/b.jpg");
        f->manager.setFolders(SyncManager::scanFolderTree(f->exportTree.root(), {}));
        if (updating) {
            finish(f->manager.syncFolder(f->entry("x/Fest")));
            f->writeImage("x/Fest/c.jpg");
            f->manager.mergeRefreshedFolders(SyncManager::scanFolderTree(f->exportTree.root(), {}), {});
        }
        // x/Fest's upload waits at its presigned request while y/Fest syncs.
        const ScriptedAnswer held{200, {}, {}, 0, ScriptedAnswer::Kind::AnswerAsUsual, true};
        f->service.script("POST", "/api/upload/presigned", held);
        const int presignsBefore = f->service.requests("POST", "/api/upload/presigned").size();
        auto x = updating ? f->manager.updateFolder(f->entry("x/Fest")) : f->manager.syncFolder(f->entry("x/Fest"));
        QTRY_COMPARE(f->service.requests("POST", "/api/upload/presigned").size(), presignsBefore + 1);
        finish(f->manager.syncFolder(f->entry("y/Fest")));
        f->service.releaseHeld();
        finish(std::move(x));

        const SyncStatus xs = f->entry("x/Fest").status;
        const SyncStatus ys = f->entry("y/Fest").status;
        QVERIFY(xs.is(SyncStatus::Case::synced) && ys.is(SyncStatus::Case::synced) && xs.galleryId() != ys.galleryId());
        QCOMPARE(f->serverNames(xs.galleryId()), updating ? QStringList({"a.jpg", "c.jpg"}) : QStringList{"a.jpg"});
        QCOMPARE(f->serverNames(ys.galleryId()), QStringList{"b.jpg"});
    }

    void secondSyncOfTheSameFolderDoesNothing()
    {
        f->writeImage("Album/a.jpg");
        const SyncFolder folder = f->scan("Album");
        auto first = f->manager.syncFolder(folder);
        auto second = f->manager.syncFolder(folder);
        finish(std::move(second));
        finish(std::move(first));
        QCOMPARE(f->service.galleries().size(), 1);
        QVERIFY(f->entry("Album").status.is(SyncStatus::Case::synced));
    }

    void fileRewrittenDuringUploadCountsAsModified()
    {
        f->writeImage("Album/a.jpg");
        const QString path = f->exportTree.path("Album/a.jpg");
        testsupport::TempTree::setMtime(path, 1'600'000'000);
        const SyncFolder folder = f->scan("Album");
        bool touched = false;
        connect(&f->manager, &SyncManager::foldersChanged, this, [&] {
            const SyncStatus status = f->entry("Album").status;
            if (!touched && status.is(SyncStatus::Case::syncing) && status.progress() > 0) {
                touched = true;
                testsupport::TempTree::setMtime(path, 1'700'000'000);
            }
        });

        finish(f->manager.syncFolder(folder));

        QVERIFY(touched);
        const SyncFolder entry = f->entry("Album");
        const QStringList images = SyncManager::listImages(entry.path);
        const auto changes = SyncManager::detectModifiedFiles(images, SyncManager::localFileMetadata(images),
                                                              *entry.uploadedFiles);
        QCOMPARE(changes.modifiedImages, QStringList{path});
    }

    // The service made the gallery but its answer was lost: the pass fails, and the next one finds that gallery.
    void lostAnswerLeavesOneGallery()
    {
        f->writeImage("Album/a.jpg");
        const SyncFolder folder = f->scan("Album");
        f->service.script("POST", "/api/gallery", {0, {}, {}, 0, ScriptedAnswer::Kind::ActThenClose}, -1);

        finish(f->manager.syncFolder(folder));

        QCOMPARE(f->entry("Album").status.failureMessage(), QString("Kunne ikke opprette galleri"));
        QCOMPARE(f->service.requests("POST", "/api/gallery").size(), 1);
        f->service.clearScripts();
        finish(f->manager.syncFolder(f->entry("Album")));
        QCOMPARE(f->service.galleries().size(), 1);
        QCOMPARE(f->entry("Album").status.galleryId(), f->service.galleries().first().id);
    }

    void folderWithoutImagesSendsNothing()
    {
        SyncFolder folder;
        folder.path = f->exportTree.addDir("Tom");
        folder.name = folder.displayName = "Tom";
        f->manager.setFolders({folder});
        finish(f->manager.syncFolder(folder));
        QVERIFY(f->manager.folders().first().status.is(SyncStatus::Case::notSynced));
        QVERIFY(f->service.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFirstSync)
#include "tst_firstsync.moc"
