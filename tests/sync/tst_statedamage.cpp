// A replacement under way (the old version deleted, the new one not yet confirmed) as the support folder stood at
// that moment, with one of the files that note it damaged or unwritable: the next start still finishes it, keeps a
// copy of the damaged file, and says in its log what was wrong. And a damaged state file that a start found and
// was killed before it wrote anything: the next start finds the damage again.
//
// Runs without CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH, so that permission bits count also for root.

#include "UploadTestFixture.h"

#include "support/FileCapabilities.h"
#include "support/FileBytes.h"
#include "support/LogCapture.h"
#include "sync/StateLedger.h"
#include "sync/UploadJournal.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::awaitTask;
using testsupport::LogCapture;
using testsupport::ScriptedAnswer;
using testsupport::TempTree;

namespace {

bool g_capabilitiesDropped = false;

void copyFiles(const QString &from, const QString &to)
{
    for (const QString &name : QDir(from).entryList(QDir::Files | QDir::Hidden))
        QVERIFY(QFile::copy(from + '/' + name, to + '/' + name));
}

// A kill once what was saved is on disk: the manager goes, and the support folder keeps the bytes of that moment.
void killAsItStands(uploadtest::Engine &e)
{
    StateLedger &ledger = e.manager->ledger();
    QTRY_VERIFY(ledger.isOnDisk(ledger.latestTicket()));
    TempTree stood;
    copyFiles(e.support.root(), stood.root());
    e.manager.reset();
    QVERIFY(QDir(e.support.root()).removeRecursively() && QDir().mkpath(e.support.root()));
    copyFiles(stood.root(), e.support.root());
}

// The folder the user ignored has no gallery; the other folder has its one.
void privateFolderStaysOff(const uploadtest::Engine &e)
{
    QVERIFY(e.entry("Privat").status.is(SyncStatus::Case::ignored));
    QVERIFY(e.galleryIds("Privat").isEmpty());
    QCOMPARE(e.galleryIds("Shoot").size(), 1);
}

// "deleted", "emptied", "garbage" (as long), "folder" (one in its place) or "lines fail" (every line after the
// first keeps its newline and loses its check).
void damageFile(const QString &path, const QString &how)
{
    QByteArray bytes = testsupport::readFile(path);
    QVERIFY(QFile::remove(path));
    if (how == "lines fail")
        for (qsizetype at = bytes.indexOf('\n') + 1; at > 0 && at < bytes.size(); at = bytes.indexOf('\n', at) + 1)
            bytes[at] = bytes.at(at) == '0' ? '1' : '0';
    if (how == "folder")
        QVERIFY(QDir().mkpath(path + "/x"));
    else if (how != "deleted")
        QVERIFY(testsupport::writeFile(path, how == "emptied" ? QByteArray()
                                             : how == "garbage" ? QByteArray(bytes.size(), '\x9c') : bytes));
}

// Shoot/a.jpg synced, and in the copy the state file falls back to; then what `change` does, noted in the log and,
// for the "state file", in the newest state file too; then a kill as the files stand, and that one file damaged.
void damagedAfter(uploadtest::Engine &e, const QString &file, const QString &damage, const std::function<void()> &change)
{
    e.tree.addFile("Shoot/a.jpg", 10);
    e.watch();
    e.pass();
    e.manager->flushState();
    change();
    if (file == "state file")
        e.manager->flushState();
    killAsItStands(e);
    damageFile(e.support.path(file == "state log" ? QString(StateLedger::logFileName)
                                                  : QString(StateLedger::stateFileName)),
               damage);
}

// A start whose reconcile cannot get the service's answer for every folder.
void startWithoutTheServicesAnswer(uploadtest::Engine &e)
{
    e.restart();
    e.manager->setWatchFolder(e.tree.root());
    QTRY_VERIFY(e.manager->hasCompletedInitialReconcile() && !e.manager->isReconciling());
    QVERIFY(e.manager->reconcileError());
}

} // namespace

class TestStateDamage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replacementSurvivesOneDamagedFile_data()
    {
        QTest::addColumn<QString>("file");   // "upload runs" or "state log"
        QTest::addColumn<QString>("damage"); // "cut", "emptied", "garbage", "folder" or "mode 000"
        QTest::addColumn<QString>("said");   // the reason the log gives; empty: the file is not taken for damaged
        QTest::newRow("upload runs cut") << "upload runs" << "cut" << "Failed to load upload runs: ";
        QTest::newRow("upload runs emptied") << "upload runs" << "emptied" << "Failed to load upload runs: the file is empty";
        QTest::newRow("upload runs garbage") << "upload runs" << "garbage" << "Failed to load upload runs: ";
        QTest::newRow("upload runs a folder")
            << "upload runs" << "folder" << "Failed to load upload runs: a folder stands in its place";
        QTest::newRow("upload runs unwritable") << "upload runs" << "mode 000" << "";
        QTest::newRow("state log cut") << "state log" << "cut" << "";
        QTest::newRow("state log emptied") << "state log" << "emptied" << "Failed to load state log: the file is empty";
        QTest::newRow("state log garbage") << "state log" << "garbage" << "Failed to load state log: line 1 ";
        QTest::newRow("state log a folder")
            << "state log" << "folder" << "Failed to load state log: a folder stands in its place";
    }

    void replacementSurvivesOneDamagedFile()
    {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(QString, said);
        if (damage == "mode 000" && ::geteuid() == 0 && !g_capabilitiesDropped)
            QSKIP("root with its capabilities: permission bits do not count");
        uploadtest::Engine e;
        e.service.setApiDeleteMarksDeleted(true);
        e.tree.addFile("Shoot/a.jpg", 10);
        e.tree.addFile("Shoot/b.jpg", 11);
        e.watch();
        e.pass();
        const QString id = e.entry("Shoot").status.galleryId();
        e.tree.addFile("Shoot/a.jpg", 99);
        e.refresh();

        // The old version is deleted; the new one's upload is held, and the files are taken as they stand then.
        ScriptedAnswer held{500, "{\"error\":\"held\"}"};
        held.held = true;
        const qsizetype puts = e.service.requests("PUT", "/store/*").size();
        e.service.script("PUT", "/store/*", held);
        auto pass = e.manager->runAutoSync();
        QTRY_COMPARE_WITH_TIMEOUT(e.service.requests("PUT", "/store/*").size(), puts + 1, 10000);
        TempTree stood;
        copyFiles(e.support.root(), stood.root());
        e.manager.reset();
        e.service.releaseHeld();
        awaitTask(std::move(pass));
        QCOMPARE(uploadtest::imageSizes(e.service, id), QStringList{"b.jpg=11"});
        QVERIFY(e.service.gallery(id)->deletedFileNames.contains("a.jpg"));
        QVERIFY(QDir(e.support.root()).removeRecursively() && QDir().mkpath(e.support.root()));
        copyFiles(stood.root(), e.support.root());

        const QString path = e.support.path(file == "upload runs" ? QString(UploadJournal::fileName)
                                                                  : QString(StateLedger::logFileName));
        QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
        const QByteArray bytes = testsupport::readFile(path);
        QFile::remove(path);
        if (damage == "cut")
            QVERIFY(testsupport::writeFile(path, bytes.left(bytes.size() / 2)));
        else if (damage == "emptied")
            QVERIFY(testsupport::writeFile(path, QByteArray()));
        else if (damage == "garbage")
            QVERIFY(testsupport::writeFile(path, QByteArray(bytes.size(), '\x9c')));
        else if (damage == "folder")
            QVERIFY(QDir().mkpath(path + "/x"));
        else if (damage == "mode 000")
            QVERIFY(testsupport::writeFile(path, bytes) && ::chmod(QFile::encodeName(path).constData(), 0) == 0);

        LogCapture log;
        e.restart();
        e.watch();
        e.pass();
        e.pass(); // nothing left: sends nothing
        QCOMPARE(uploadtest::imageSizes(e.service, id), (QStringList{"a.jpg=99", "b.jpg=11"}));
        if (!said.isEmpty()) {
            QVERIFY(log.contains(QStringLiteral("no.varnostima.mac.Sync"), said));
            const QStringList aside =
                QDir(e.support.root()).entryList({QFileInfo(path).fileName() + ".damaged-*"}, QDir::AllEntries);
            QCOMPARE(aside.size(), 1);
        }
        for (const auto &line : log.lines(QStringLiteral("no.varnostima.mac.Sync")))
            QVERIFY2(!line.message.contains("Ugyldig"), qPrintable(line.message)); // the log speaks English
        // And the same once more, with whatever this start wrote.
        e.restart();
        e.watch();
        e.pass();
        QCOMPARE(uploadtest::imageSizes(e.service, id), (QStringList{"a.jpg=99", "b.jpg=11"}));
    }

    // A damaged or missing file lost the record of an image the gallery holds, and the start cannot reach the
    // service's answer for every folder: the folder asks its gallery before it uploads the image that arrived
    // since, also after a start that wrote the state whole and was killed before a reconcile succeeded.
    void noImageSentTwiceAfterDamage_data()
    {
        QTest::addColumn<QString>("file");   // "state log" or "state file"
        QTest::addColumn<QString>("damage"); // "deleted", "garbage" or "lines fail"
        QTest::addColumn<int>("killedStarts"); // starts that wrote the state whole, then were killed
        QTest::newRow("log: lines whole but failing") << "state log" << "lines fail" << 0;
        QTest::newRow("log deleted") << "state log" << "deleted" << 0;
        QTest::newRow("log garbage") << "state log" << "garbage" << 0;
        QTest::newRow("log garbage, a start killed") << "state log" << "garbage" << 1;
        QTest::newRow("state file garbage") << "state file" << "garbage" << 0;
        QTest::newRow("state file garbage, a start killed") << "state file" << "garbage" << 1;
    }

    void noImageSentTwiceAfterDamage()
    {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(int, killedStarts);
        uploadtest::Engine e;
        QString id;
        damagedAfter(e, file, damage, [&] {
            id = e.entry("Shoot").status.galleryId();
            e.tree.addFile("Shoot/b.jpg", 11);
            e.refresh();
            e.pass();
            QCOMPARE(uploadtest::imageSizes(e.service, id), (QStringList{"a.jpg=10", "b.jpg=11"}));
        });
        QVERIFY(!id.isEmpty());

        // The start's question for every folder fails; a new image arrives.
        e.service.script("GET", "/api/sync/state", {500, R"({"error":"slow"})"}, -1);
        for (int i = 0; i < killedStarts; ++i) {
            startWithoutTheServicesAnswer(e);
            QVERIFY(!e.manager->flushState()); // the damaged file replaced
            killAsItStands(e);
        }
        e.tree.addFile("Shoot/c.jpg", 12);
        startWithoutTheServicesAnswer(e);
        awaitTask(e.manager->syncFolder(e.entry("Shoot")));
        QCOMPARE(uploadtest::imageSizes(e.service, id), (QStringList{"a.jpg=10", "b.jpg=11", "c.jpg=12"}));
    }

    // A folder the user ignored after the last whole write (only the log has it) or after the copy the state file
    // falls back to (only the newest state file has it) stays off the service when that one file is damaged.
    void ignoreSurvivesOneDamagedFile_data()
    {
        QTest::addColumn<QString>("file");   // "state log" or "state file"
        QTest::addColumn<QString>("damage"); // "garbage", "emptied" or "folder"
        QTest::newRow("state file garbage") << "state file" << "garbage";
        QTest::newRow("state file emptied") << "state file" << "emptied";
        QTest::newRow("a folder in the state file's place") << "state file" << "folder";
        QTest::newRow("log garbage") << "state log" << "garbage";
        QTest::newRow("log emptied") << "state log" << "emptied";
    }

    void ignoreSurvivesOneDamagedFile()
    {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        uploadtest::Engine e;
        damagedAfter(e, file, damage, [&] {
            e.tree.addFile("Privat/p.jpg", 20);
            e.refresh();
            e.manager->ignoreFolder(e.entry("Privat"));
        });
        e.restart();
        e.watch();
        e.pass();
        privateFolderStaysOff(e);
    }

    // A run whose confirmation the service carried out without an answer, a start that finds its image in the
    // gallery and then fails to delete an image's old version, and a start after that, none of them with the
    // service's answer for every folder: the image is sent once.
    void checkedRunEndsWithItsRecords()
    {
        uploadtest::Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.watch();
        e.pass();
        const QString id = e.entry("Shoot").status.galleryId();
        const auto start = [&] {
            startWithoutTheServicesAnswer(e);
            awaitTask(e.manager->syncFolder(e.entry("Shoot")));
        };

        e.tree.addFile("Shoot/b.jpg", 11);
        e.refresh();
        e.service.script("POST", "/api/gallery/*", {.kind = ScriptedAnswer::Kind::ActThenClose});
        e.pass();
        QCOMPARE(uploadtest::imageSizes(e.service, id), (QStringList{"a.jpg=10", "b.jpg=11"}));
        killAsItStands(e);

        e.service.script("GET", "/api/sync/state", {500, R"({"error":"slow"})"}, -1);
        e.service.script("DELETE", "/api/gallery/*", {500, R"({"error":"busy"})"}, -1);
        e.tree.addFile("Shoot/a.jpg", 99);
        start();
        QVERIFY(e.entry("Shoot").status.is(SyncStatus::Case::failed));
        killAsItStands(e);

        e.service.clearScripts();
        e.service.script("GET", "/api/sync/state", {500, R"({"error":"slow"})"}, -1);
        start();
        QCOMPARE(uploadtest::imageSizes(e.service, id), (QStringList{"a.jpg=99", "b.jpg=11"}));
    }

    // A state file found damaged at a start, and that start killed before it wrote anything: the start after it
    // still finds the damage, and what it salvaged then (the folder the user ignored) is salvaged again.
    void damageOutlivesAStartKilledBeforeItsFirstWrite_data()
    {
        QTest::addColumn<int>("killedStarts"); // starts killed right after they read the support folder
        QTest::newRow("next start runs") << 0;
        QTest::newRow("next start killed before it writes") << 1;
        QTest::newRow("two starts killed before they write") << 2;
    }

    void damageOutlivesAStartKilledBeforeItsFirstWrite()
    {
        QFETCH(int, killedStarts);
        uploadtest::Engine e;
        e.tree.addFile("Shoot/a.jpg", 10);
        e.tree.addFile("Privat/p.jpg", 20);
        e.watch();
        e.manager->ignoreFolder(e.entry("Privat"));
        e.pass();
        QVERIFY(e.entry("Shoot").status.is(SyncStatus::Case::synced));
        e.manager->flushState();
        e.manager.reset();

        // Cut right after the list of ignored folders: the records are gone, the ignored folder can be salvaged.
        const QString path = e.support.path(QString(StateLedger::stateFileName));
        const QByteArray bytes = testsupport::readFile(path);
        const qsizetype cut = bytes.indexOf("\"knownGalleryIds\"");
        QVERIFY(bytes.indexOf(QFile::encodeName(e.tree.path("Privat"))) < cut);
        QVERIFY(testsupport::writeFile(path, bytes.left(cut)));
        for (int i = 0; i < killedStarts; ++i) {
            e.restart();
            TempTree stood;
            copyFiles(e.support.root(), stood.root());
            e.manager.reset();
            QVERIFY(QDir(e.support.root()).removeRecursively() && QDir().mkpath(e.support.root()));
            copyFiles(stood.root(), e.support.root());
        }

        LogCapture log;
        e.restart();
        e.watch();
        e.pass();
        privateFolderStaysOff(e);
        QCOMPARE(uploadtest::imageSizes(e.service, e.galleryIds("Shoot").first()), QStringList{"a.jpg=10"});
        QVERIFY(log.contains(QStringLiteral("no.varnostima.mac.Sync"), "Failed to load state: "));
    }
};

int main(int argc, char *argv[])
{
    g_capabilitiesDropped = ::geteuid() == 0 && testsupport::dropFileAccessOverride();
    QCoreApplication app(argc, argv);
    TestStateDamage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_statedamage.moc"
