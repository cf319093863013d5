// The runs and replacements end to end against the stand-in service and real folders: a run is on the disk (in the
// state log) before its presigned request without a rewrite of the large state file, what a start finds is acted
// on, and an image whose old version was deleted for a replacement reaches the gallery whichever way its upload was
// cut off, while an image the user deleted on the web stays deleted.

#include "UploadTestFixture.h"

#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncErrors.h"
#include "sync/SyncManager.h"
#include "sync/StateLedger.h"
#include "sync/UploadJournal.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace std::chrono_literals;
using testsupport::awaitTask;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;
using testsupport::TempTree;

namespace {


QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One version of a file on disk.
QPair<qint64, qint64> stamp(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {0, 0};
    return {qint64(st.st_ino), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}


enum class Cut { none, killedAfterDelete, killedBeforeDelete, uploadRefused, presignRefused, deletedOnWeb };

// The shared engine, and what this file looks at besides: the journal's bytes and the gallery's images.
struct Engine : uploadtest::Engine {
    QByteArray journal() const { return contents(support.path(QString(UploadJournal::fileName))); }
    QByteArray log() const { return contents(support.path(QString(StateLedger::logFileName))); }
    QStringList images(const QString &galleryId) const { return uploadtest::imageSizes(service, galleryId); }
};

} // namespace

Q_DECLARE_METATYPE(Cut)

class TestUploadJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void journalFile_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected"); // the entries as text, or "error"
        UploadJournalEntries entries;
        entries.runs = {{"/e/Bryllup æøå", {"gal-1", {"a.jpg", "b.jpg"}}}, {"/e/y", {"gal-2", {}}}};
        entries.replacements = {{"/e/Bryllup æøå", {"gal-1", {"c.jpg"}}}};
        QTest::newRow("as written") << encodeUploadJournal(entries)
                                    << "run /e/Bryllup æøå gal-1 a.jpg|b.jpg; run /e/y gal-2 ; "
                                       "replacement /e/Bryllup æøå gal-1 c.jpg";
        QTest::newRow("nothing noted, as written") << encodeUploadJournal({}) << "";
        QTest::newRow("empty object") << QByteArray("{}") << "";
        QTest::newRow("null maps") << QByteArray("{\"runs\":null,\"replacements\":null}") << "";
        QTest::newRow("run without names") << QByteArray("{\"runs\":{\"/e\":{\"galleryId\":\"g\"}}}") << "error";
        QTest::newRow("gallery id a number")
            << QByteArray("{\"replacements\":{\"/e\":{\"galleryId\":1,\"fileNames\":[]}}}") << "error";
        QTest::newRow("cut short") << encodeUploadJournal(entries).left(30) << "error";
        QTest::newRow("not an object") << QByteArray("[]") << "error";
    }

    void journalFile()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QString text;
        try {
            const UploadJournalEntries entries = decodeUploadJournal(json);
            QStringList parts;
            for (auto it = entries.runs.cbegin(); it != entries.runs.cend(); ++it)
                parts << QStringLiteral("run %1 %2 %3").arg(it.key(), it->galleryId, it->fileNames.join('|'));
            for (auto it = entries.replacements.cbegin(); it != entries.replacements.cend(); ++it)
                parts << QStringLiteral("replacement %1 %2 %3").arg(it.key(), it->galleryId, it->fileNames.join('|'));
            text = parts.join("; ");
        } catch (const SyncDecodingError &) {
            text = "error";
        }
        QCOMPARE(text, expected);
    }

    // One new image: its run is in the log when the presigned request arrives, the large state file was not
    // rewritten for it, and once the run is recorded the state file has the image and no run.
    void runIsNotedWithoutRewritingTheStateFile()
    {
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass();
        e.manager->flushState();
        const auto before = stamp(e.manager->stateFilePath());
        e.tree.addFile("Shoot/new.jpg", 20);
        e.refresh();
        // Looked at once the presigned answer is in, as the image is about to be sent.
        QByteArray log;
        QPair<qint64, qint64> atSending;
        e.manager->setUploadStepHook([&](SyncManager::UploadStep step, const QStringList &) {
            if (step != SyncManager::UploadStep::sending)
                return;
            log = e.log();
            atSending = stamp(e.manager->stateFilePath());
        });
        e.pass();
        QVERIFY2(log.contains("\"runs\"") && log.contains("new.jpg"), log.constData());
        QCOMPARE(atSending, before);
        QVERIFY(!e.journal().contains("new.jpg"));
        e.manager->flushState();
        QVERIFY(contents(e.manager->stateFilePath()).contains("new.jpg"));
        QVERIFY(!contents(e.manager->stateFilePath()).contains("uploadsInFlight"));
        QVERIFY(!e.log().contains("new.jpg"));
        QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::synced);
    }

    // Where a start finds a run that may have been applied, the folder's gallery is asked before its next upload.
    void runFoundAtStartIsChecked_data()
    {
        QTest::addColumn<QString>("noted");
        QTest::addColumn<bool>("checked");
        QTest::newRow("in the log") << "log" << true;
        QTest::newRow("in the journal of an older version") << "journal" << true;
        QTest::newRow("in a state file of an older version") << "state file" << true;
        QTest::newRow("journal of an older version unreadable") << "damaged" << true;
        QTest::newRow("nothing noted") << "none" << false;
    }

    void runFoundAtStartIsChecked()
    {
        QFETCH(QString, noted);
        QFETCH(bool, checked);
        Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass();
        const QString path = e.tree.path("Shoot");
        const QString id = e.entry("Shoot").status.galleryId();
        e.manager->flushState();
        e.manager.reset();
        const QString journalPath = e.support.path(QString(UploadJournal::fileName));
        const QString statePath = e.support.path(QString(SyncManager::stateFileName));
        const QByteArray run = QStringLiteral("{\"%1\":{\"galleryId\":\"%2\",\"fileNames\":[\"a.jpg\"]}}")
                                   .arg(path, id)
                                   .toUtf8();
        const QString logPath = e.support.path(QString(StateLedger::logFileName));
        QFile::remove(journalPath);
        if (noted != "none")
            QFile::remove(logPath); // an older version kept no log
        if (noted == "log") {
            LedgerState withRun;
            withRun.entries.runs.insert(path, {id, {"a.jpg"}});
            QFile file(logPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ledgerlog::frame(ledgerlog::header({}, 1, 0)) + ledgerlog::frame(ledgerlog::batch({}, withRun, 2)));
        } else if (noted == "journal") {
            QFile file(journalPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"runs\":" + run + "}");
        } else if (noted == "state file") {
            QByteArray state = contents(statePath);
            state.insert(state.lastIndexOf("\"version\""), "\"uploadsInFlight\":" + run + ",");
            QFile file(statePath);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(state);
        } else if (noted == "damaged") {
            QFile file(journalPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{\"runs\":{\"/");
        }
        e.restart();
        if (noted == "state file") {
            // Kept in the log once the state file is written without it.
            QVERIFY(e.manager->uploadInFlight(path));
            e.manager->saveState();
            e.manager->flushState();
            QVERIFY(!contents(statePath).contains("uploadsInFlight"));
            QVERIFY(e.log().contains("a.jpg"));
        }
        e.watch();
        QCOMPARE(e.manager->needsGalleryCheck(path), checked);
        QCOMPARE(e.entry("Shoot").status.galleryId(), id);
    }

    // A changed image is replaced by deleting its old version and uploading the new one. However that is cut off,
    // after a start the gallery holds the new version once; an image the user deleted on the web stays deleted.
    void replacedImageReachesTheGallery_data()
    {
        QTest::addColumn<Cut>("cut");
        QTest::addColumn<bool>("marksDeleted"); // the service lists names deleted through the API as deleted
        QTest::addColumn<bool>("replaced");     // the new version is in the gallery at the end
        QTest::newRow("nothing cut") << Cut::none << true << true;
        QTest::newRow("killed after the deletion, listed as deleted") << Cut::killedAfterDelete << true << true;
        QTest::newRow("killed after the deletion, not listed") << Cut::killedAfterDelete << false << true;
        QTest::newRow("killed before the deletion") << Cut::killedBeforeDelete << true << true;
        QTest::newRow("upload refused, then a start, listed as deleted") << Cut::uploadRefused << true << true;
        QTest::newRow("upload refused, then a start, not listed") << Cut::uploadRefused << false << true;
        QTest::newRow("presigned request refused, then a start") << Cut::presignRefused << true << true;
        QTest::newRow("deleted on the web, then changed") << Cut::deletedOnWeb << true << false;
    }

    void replacedImageReachesTheGallery()
    {
        QFETCH(Cut, cut);
        QFETCH(bool, marksDeleted);
        QFETCH(bool, replaced);
        Engine e;
        e.service.setApiDeleteMarksDeleted(marksDeleted);
        e.tree.addFile("Shoot/a.jpg", 10);
        e.tree.addFile("Shoot/b.jpg", 11);
        e.watch();
        e.pass();
        const QString id = e.entry("Shoot").status.galleryId();
        QCOMPARE(e.images(id), (QStringList{"a.jpg=10", "b.jpg=11"}));
        // Deleted on the web by the user: whatever happens to a.jpg, b.jpg is never sent again.
        QVERIFY(e.service.deleteImageOnWeb(id, "b.jpg"));
        if (cut == Cut::deletedOnWeb)
            QVERIFY(e.service.deleteImageOnWeb(id, "a.jpg"));
        e.tree.addFile("Shoot/a.jpg", 99);
        e.refresh();

        ScriptedAnswer held{500, "{\"error\":\"held\"}"};
        held.held = true;
        switch (cut) {
        case Cut::none:
        case Cut::deletedOnWeb:
            e.pass();
            break;
        case Cut::killedAfterDelete:
        case Cut::killedBeforeDelete: {
            const QByteArray method = cut == Cut::killedAfterDelete ? "PUT" : "DELETE";
            const QByteArray where = cut == Cut::killedAfterDelete ? "/store/*" : "/api/gallery/*";
            const qsizetype earlier = e.service.requests(method, where).size();
            e.service.script(method, where, held);
            auto pass = e.manager->runAutoSync();
            QTRY_COMPARE_WITH_TIMEOUT(e.service.requests(method, where).size(), earlier + 1, 10000);
            // Noted in both places before the deletion went out.
            if (cut == Cut::killedAfterDelete) {
                QVERIFY2(e.journal().contains("\"replacements\"") && e.journal().contains("a.jpg"),
                         e.journal().constData());
                QVERIFY2(e.log().contains("\"replacements\"") && e.log().contains("a.jpg"), e.log().constData());
            }
            e.manager.reset(); // the process ends here; its requests are answered after it has gone
            e.service.releaseHeld();
            awaitTask(std::move(pass));
            e.restart();
            break;
        }
        case Cut::uploadRefused:
            e.service.script("PUT", "/store/*", {403, "<Error><Code>AccessDenied</Code></Error>"});
            e.pass();
            QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::failed);
            e.restart();
            break;
        case Cut::presignRefused:
            e.service.script("POST", "/api/upload/presigned", {500, "{\"error\":\"busy\"}"});
            e.pass();
            QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::failed);
            e.restart();
            break;
        }
        e.watch();
        e.pass();
        e.pass(); // nothing left to do: a second pass sends nothing
        QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::synced);
        QCOMPARE(e.images(id), replaced ? QStringList{"a.jpg=99"} : QStringList{});
        QVERIFY(e.service.gallery(id)->deletedFileNames.contains("b.jpg"));
        QTRY_VERIFY(!e.journal().contains("a.jpg"));
        // And so after one more start.
        e.restart();
        e.watch();
        e.pass();
        QCOMPARE(e.images(id), replaced ? QStringList{"a.jpg=99"} : QStringList{});
    }

    // What must be noted cannot be written: nothing is asked of the service that a kill could leave unnoted (no
    // deletion of an old version, no presigned request); the folder fails, and a later run does the work. A folder
    // in place of "upload-runs.json" stops only a replacement: the runs are noted in the log.
    void unwritableNoteStopsTheRun_data()
    {
        QTest::addColumn<QString>("blocker"); // "disk" (no file may grow) or "journal folder"
        QTest::addColumn<QString>("image");   // written over a.jpg (a changed image) or as a new one
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("disk refuses, changed image") << "disk" << "a.jpg" << true << QStringList{"a.jpg=99"};
        QTest::newRow("disk refuses, new image") << "disk" << "n.jpg" << true << QStringList{"a.jpg=10", "n.jpg=99"};
        QTest::newRow("folder for upload runs, changed image")
            << "journal folder" << "a.jpg" << true << QStringList{"a.jpg=99"};
        QTest::newRow("folder for upload runs, new image")
            << "journal folder" << "n.jpg" << false << QStringList{"a.jpg=10", "n.jpg=99"};
    }

    void unwritableNoteStopsTheRun()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, image);
        QFETCH(bool, stopped);
        QFETCH(QStringList, after);
        Engine e;
        e.service.setApiDeleteMarksDeleted(true);
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass();
        const QString id = e.entry("Shoot").status.galleryId();
        e.tree.addFile("Shoot/" + image, 99);
        e.refresh();
        e.manager->flushState();
        const QString journalPath = e.support.path(QString(UploadJournal::fileName));
        std::optional<uploadtest::FileSizeLimit> limit;
        if (blocker == "disk") {
            limit.emplace(8);
        } else {
            QFile::remove(journalPath);
            QVERIFY(QDir().mkpath(journalPath + "/x"));
        }
        const qsizetype deletions = e.service.requests("DELETE", "/api/gallery/*").size();
        const qsizetype presigned = e.service.requests("POST", "/api/upload/presigned").size();
        e.pass();
        limit.reset();
        if (stopped) {
            QCOMPARE(e.entry("Shoot").status.kind(), SyncStatus::Case::failed);
            QCOMPARE(e.entry("Shoot").status.failureMessage(), SyncManagerError::unsaved().localizedDescription());
            QCOMPARE(e.service.requests("DELETE", "/api/gallery/*").size(), deletions);
            QCOMPARE(e.service.requests("POST", "/api/upload/presigned").size(), presigned);
            QCOMPARE(e.images(id), QStringList{"a.jpg=10"});
        }
        if (blocker != "disk")
            QVERIFY(QDir(journalPath).removeRecursively());
        e.restart();
        e.watch();
        e.pass();
        QCOMPARE(e.images(id), after);
    }
};

QTEST_GUILESS_MAIN(TestUploadJournal)
#include "tst_uploadjournal.moc"
