// The state ledger: what a start rebuilds from the snapshot and the log as they stand on disk, whatever moment a
// kill chose, and how a failing disk is retried.

#include "support/FileBytes.h"
#include "support/LogCapture.h"
#include "support/TempTree.h"
#include "sync/StateLedger.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include <sys/resource.h>

using testsupport::LogCapture;
using testsupport::readFile;
using testsupport::TempTree;
using testsupport::writeFile;

namespace {

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

// Three saves in a row: a folder synced, a second one and a run, the first one's records changed and its run ended.
QList<StateSources> threeSaves()
{
    const auto folder = [](const QString &path, const QList<UploadedFileMeta> &records, const QString &gallery) {
        SyncFolder entry;
        entry.path = path;
        entry.uploadedFiles = records;
        entry.status = SyncStatus::synced(gallery, "slug", records.size());
        return entry;
    };
    StateSources first;
    first.watchFolder = "/e";
    first.knownGalleryIds = {"g1"};
    first.folders = {folder("/e/A", {{"a.jpg", 1, 2.0}}, "g1")};
    first.galleryLinks = {{"/e/A", "g1"}};
    StateSources second = first;
    second.knownGalleryIds = {"g1", "g2"};
    second.folders.append(folder("/e/B", {{"b.jpg", 3, 4.0}}, "g2"));
    second.galleryLinks.insert("/e/B", "g2");
    second.entries.runs.insert("/e/A", {"g1", {"n.jpg"}});
    second.entries.replacements.insert("/e/B", {"g2", {"b.jpg"}});
    StateSources third = second;
    third.folders[0].uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 1, 2.0}, {"n.jpg", 5, 6.0}};
    third.entries.runs.clear();
    third.ignoredPaths = {"/e/C"};
    return {first, second, third};
}

LedgerState stateOf(const StateSources &sources)
{
    LedgerState state = LedgerState::of(sources.build());
    state.entries = sources.entries;
    return state;
}

QByteArray logOf(const QList<StateSources> &saves)
{
    QByteArray log = ledgerlog::frame(ledgerlog::header({}, 0, 0));
    LedgerState previous;
    for (qsizetype i = 0; i < saves.size(); ++i) {
        const LedgerState next = stateOf(saves.at(i));
        log += ledgerlog::frame(ledgerlog::batch(previous, next, quint64(i + 1)));
        previous = next;
    }
    return log;
}

// One edit of the engine's state, as "what path": the entry is copied, changed and put back as the engine does.
// Returns the places of the list it changed, as the engine notes them; nothing when the list changed shape.
std::optional<QList<qsizetype>> edit(StateSources &s, const QString &step)
{
    const QString what = step.section(' ', 0, 0);
    const QString path = step.section(' ', 1);
    const auto at = [&s](const QString &p) {
        for (qsizetype i = 0; i < s.folders.size(); ++i) {
            if (s.folders.at(i).path == p)
                return i;
        }
        return qsizetype(-1);
    };
    const UploadRecords records = QList<UploadedFileMeta>{{"x.jpg", 7, 8.0}, {step + ".jpg", 9, std::nullopt}};
    SyncFolder entry;
    if (at(path) >= 0)
        entry = s.folders.at(at(path));
    const qsizetype place = at(path);
    if (what == "records" || what == "unrecord" || what == "rename" || what == "same") {
        if (what == "records")
            entry.uploadedFiles = records;
        else if (what == "unrecord")
            entry.uploadedFiles.reset();
        else if (what == "same") // equal records, built anew
            entry.uploadedFiles = entry.uploadedFiles->toList();
        else
            entry.path += "2";
        s.folders[place] = entry;
        return QList<qsizetype>{place};
    } else if (what == "add" || what == "twice") {
        entry.path = path;
        entry.uploadedFiles = records;
        s.folders.append(entry);
        return std::nullopt;
    } else if (what == "remove") {
        s.folders.removeAt(place); // its link stays in the engine's map; the save leaves it out
        return std::nullopt;
    } else if (what == "reverse") {
        std::reverse(s.folders.begin(), s.folders.end());
        return std::nullopt;
    } else if (what == "link") {
        s.galleryLinks.insert(path, "g-" + step);
    } else if (what == "unlink") {
        s.galleryLinks.remove(path);
    } else if (what == "run") {
        s.entries.runs.insert(path, {"g1", {"n.jpg"}});
    } else if (what == "end") {
        s.entries.runs.remove(path);
    } else if (what == "replace") {
        s.entries.replacements.insert(path, {"g2", {"b.jpg"}});
    } else if (what == "replaced") {
        s.entries.replacements.remove(path);
    } else if (what == "ignore") {
        s.ignoredPaths.insert(path);
    } else if (what == "known") {
        s.knownGalleryIds.insert(path);
    } else if (what == "dismiss") {
        s.dismissedGalleryIds.insert(path);
    } else if (what == "wait") {
        s.pendingUploads.insert(path, records);
    } else if (what == "unwait") {
        s.pendingUploads.remove(path);
    } else if (what == "watch") {
        s.watchFolder = path;
    } else {
        QTest::qFail(qPrintable("unknown step " + step), __FILE__, __LINE__);
    }
    return QList<qsizetype>();
}

// What a start rebuilds from the files as they stand.
LedgerState stateOnDisk(const TempTree &dir)
{
    const LedgerState snapshot = LedgerState::of(decodeSyncState(readFile(dir.path("sync-state.json"))));
    return ledgerlog::replay(readFile(dir.path("sync-state.log")), snapshot).state;
}

// The place of the n-th line (0: the header).
qsizetype lineStart(const QByteArray &log, int n)
{
    qsizetype at = 0;
    for (int i = 0; i < n; ++i)
        at = log.indexOf('\n', at) + 1;
    return at;
}

} // namespace

class TestStateLedger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A log as a kill or damage left it, replayed over an empty snapshot at a start.
    void replayAtStart_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("saves"); // the saves whose state the start rebuilds
        QTest::addColumn<QString>("damage"); // what the log says of a damaged log; empty: nothing
        QTest::newRow("whole") << "none" << 3 << "";
        QTest::newRow("last line cut") << "cut" << 2 << "";
        QTest::newRow("last line fails its check") << "last flipped" << 2 << "line 4 fails its check";
        QTest::newRow("garbage after the last line") << "garbage" << 3 << "";
        QTest::newRow("a bad line in the middle") << "middle flipped" << 1 << "line 3 fails its check";
        QTest::newRow("the first line fails its check") << "first flipped" << 0 << "line 1 fails its check";
        QTest::newRow("emptied") << "emptied" << 0 << "the file is empty";
    }

    void replayAtStart()
    {
        QFETCH(QString, change);
        QFETCH(int, saves);
        QFETCH(QString, damage);
        const bool runsLost = !damage.isEmpty();
        const QList<StateSources> all = threeSaves();
        QByteArray log = logOf(all);
        if (change == "cut")
            log.chop(7);
        else if (change == "last flipped")
            log[log.size() - 5] = log.at(log.size() - 5) == 'x' ? 'y' : 'x';
        else if (change == "middle flipped")
            log[lineStart(log, 2) + 12] = '#';
        else if (change == "first flipped")
            log[12] = '#';
        else if (change == "garbage")
            log += QByteArray("\0\0\0\0\0\0", 6);
        else if (change == "emptied")
            log.clear();
        TempTree dir;
        QVERIFY(writeFile(dir.path("sync-state.log"), log));
        LogCapture capture;
        StateLedger::Loaded loaded;
        {
            StateLedger ledger(dir.root());
            loaded = ledger.load();
        }
        QVERIFY(loaded.state);
        LedgerState rebuilt = LedgerState::of(*loaded.state);
        rebuilt.entries = loaded.entries;
        LedgerState expected = saves > 0 ? stateOf(all.at(saves - 1)) : LedgerState();
        expected.entries.runsLost = runsLost;
        QCOMPARE(rebuilt, expected);
        QCOMPARE(loaded.runsLost, runsLost);
        const bool copied = !QDir(dir.root()).entryList({"sync-state.log.damaged-*"}).isEmpty();
        QCOMPARE(copied, runsLost);
        if (runsLost)
            QVERIFY(capture.contains(syncCategory, "Failed to load state log: " + damage));
        // What the start wrote (a cut line taken off, a damaged log replaced) reads back the same.
        StateLedger again(dir.root());
        const StateLedger::Loaded reloaded = again.load();
        QVERIFY(reloaded.state);
        QCOMPARE(*reloaded.state, *loaded.state);
        QCOMPARE(reloaded.runsLost, runsLost); // until a reconcile succeeds
    }

    // Each save appends only what changed, found without a walk of the whole state; the lines on disk still give
    // exactly the state the save describes. A save while the writer is busy leaves the engine's list its own: an
    // edit of it then copies nothing.
    void linesCarryEveryChange_data()
    {
        QTest::addColumn<QStringList>("steps"); // one save after each
        QTest::addColumn<bool>("held");         // the saves wait for a writer busy writing the state whole
        QTest::addColumn<bool>("placed");       // each save names the places of the list that changed
        const auto row = [](const char *name, const QStringList &steps, bool held = false, bool placed = false) {
            QTest::newRow(name) << steps << held << placed;
        };
        row("a folder's records", {"records /e/B", "records /e/B"});
        row("records dropped", {"unrecord /e/A"});
        row("the same records, built anew", {"same /e/A", "records /e/A"});
        row("folder added", {"add /e/D", "records /e/D"});
        row("folder removed, its link left", {"remove /e/B", "records /e/C"});
        row("renamed", {"rename /e/A", "records /e/A2"});
        row("reordered", {"reverse", "records /e/C"});
        row("a path listed twice", {"twice /e/A", "records /e/A", "remove /e/A"});
        row("links", {"link /e/C", "unlink /e/A", "link /e/gone"});
        row("a run noted and ended", {"run /e/A", "records /e/A", "end /e/A"});
        row("a replacement", {"replace /e/B", "replaced /e/B"});
        row("ignored, known and dismissed", {"ignore /e/X", "known g7", "dismiss g8"});
        row("records of a folder not listed", {"wait /e/P", "link /e/P", "records /e/A", "unwait /e/P", "wait /e/A"});
        row("records waiting for a folder listed later", {"wait /e/Q", "add /e/Q"});
        row("the export folder", {"watch ", "watch /f"});
        row("held: records, links and runs", {"records /e/B", "link /e/C", "run /e/C", "records /e/C", "end /e/C"},
            true);
        row("held: folder added and removed", {"add /e/D", "remove /e/A"}, true);
        row("placed: records, renamed, dropped",
            {"records /e/B", "rename /e/A", "records /e/C", "unrecord /e/B", "same /e/C"}, false, true);
        row("placed: added, removed, waiting",
            {"add /e/D", "records /e/D", "remove /e/A", "wait /e/P", "records /e/B"}, false, true);
        row("placed: a path listed twice", {"twice /e/A", "records /e/A"}, false, true);
    }

    void linesCarryEveryChange()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, held);
        QFETCH(bool, placed);
        StateSources sources = threeSaves().at(1);
        sources.folders.append(sources.folders.first());
        sources.folders.last().path = "/e/C";
        sources.galleryLinks.insert("/e/C", "g3");
        TempTree dir;
        StateLedger ledger(dir.root());
        ledger.load();
        ledger.save(sources);
        QVERIFY(!ledger.flush());

        std::mutex mutex;
        std::condition_variable changed;
        bool holding = false;
        bool release = false;
        std::thread flusher;
        bool copied = false;
        if (held) {
            edit(sources, "known g5");
            ledger.save(sources); // a line in the log, for the flush to write whole
            ledger.setCompactionHook([&] {
                std::unique_lock lock(mutex);
                holding = true;
                changed.notify_all();
                changed.wait(lock, [&] { return release; });
            });
            flusher = std::thread([&ledger] { ledger.flush(); });
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return holding; });
        }
        for (const QString &step : std::as_const(steps)) {
            const std::optional<QList<qsizetype>> places = edit(sources, step);
            if (placed)
                sources.changedPlaces = places;
            const StateLedger::Ticket ticket = ledger.save(sources);
            if (held) {
                const SyncFolder *list = sources.folders.constData();
                sources.folders[0].imageCount += 1; // an edit of the engine's list while the save waits
                copied = copied || sources.folders.constData() != list;
                continue;
            }
            QFuture<bool> written = ledger.whenOnDisk(ticket);
            written.waitForFinished();
            QVERIFY(written.result());
            QCOMPARE(stateOnDisk(dir), stateOf(sources));
        }
        if (held) {
            {
                std::lock_guard lock(mutex);
                release = true;
            }
            changed.notify_all();
            flusher.join();
            ledger.setCompactionHook({});
            QVERIFY(!copied);
            QFuture<bool> written = ledger.whenOnDisk(ledger.latestTicket());
            written.waitForFinished();
            QVERIFY(written.result());
            QCOMPARE(stateOnDisk(dir), stateOf(sources));
        }
    }

    // A kill at any step of writing the state whole: the files as they stood then give the state of the last save.
    void killDuringCompaction_data()
    {
        QTest::addColumn<QString>("moment");
        QTest::newRow("snapshot written, log not yet replaced") << "hook";
        QTest::newRow("all done") << "after";
    }

    void killDuringCompaction()
    {
        QFETCH(QString, moment);
        const QList<StateSources> all = threeSaves();
        TempTree dir;
        TempTree stood;
        {
            StateLedger ledger(dir.root());
            ledger.load();
            for (const StateSources &sources : all)
                ledger.save(sources);
            ledger.setCompactionHook([&] {
                for (const QString &name : QDir(dir.root()).entryList(QDir::Files))
                    QFile::copy(dir.path(name), stood.path(name));
            });
            QVERIFY(QDir(stood.root()).isEmpty());
            QVERIFY(!ledger.flush());
        }
        if (moment == "after") {
            QDir(stood.root()).removeRecursively();
            QDir().mkpath(stood.root());
            for (const QString &name : QDir(dir.root()).entryList(QDir::Files))
                QFile::copy(dir.path(name), stood.path(name));
        }
        StateLedger ledger(stood.root());
        const StateLedger::Loaded loaded = ledger.load();
        QVERIFY(loaded.state);
        LedgerState rebuilt = LedgerState::of(*loaded.state);
        rebuilt.entries = loaded.entries;
        QCOMPARE(rebuilt, stateOf(all.last()));
        QCOMPARE(rebuilt.entries.replacements.value("/e/B").fileNames, QStringList{"b.jpg"});
    }

    // The files as they stood at a moment someone else or a kill chose: a start rebuilds the last state that was
    // reported on disk, never replays a log over a newer snapshot, and marks the runs lost when a file is missing.
    void filesAsTheyStood_data()
    {
        QTest::addColumn<QString>("moment");
        QTest::addColumn<bool>("runsLost");
        QTest::newRow("killed in the whole write after a damaged log") << "whole after damage" << true;
        QTest::newRow("the log missing beside its snapshot") << "log missing" << true;
        QTest::newRow("the log replaced by an older copy") << "older log" << false;
    }

    void filesAsTheyStood()
    {
        QFETCH(QString, moment);
        QFETCH(bool, runsLost);
        QList<StateSources> all = threeSaves();
        StateSources fourth = all.last(); // the first folder's records as they were, and one more ignore
        fourth.folders[0].uploadedFiles = all.first().folders[0].uploadedFiles;
        fourth.ignoredPaths.insert("/e/X");
        all.append(fourth);
        TempTree dir;
        TempTree stood;
        const auto keep = [&] {
            for (const QString &name : QDir(dir.root()).entryList(QDir::Files))
                QVERIFY(QFile::copy(dir.path(name), stood.path(name)));
        };
        const auto saveOnDisk = [](StateLedger &ledger, const StateSources &sources) {
            QFuture<bool> written = ledger.whenOnDisk(ledger.save(sources));
            written.waitForFinished();
            QVERIFY(written.result());
        };
        {
            StateLedger ledger(dir.root());
            ledger.load();
            saveOnDisk(ledger, all.at(0));
            QVERIFY(!ledger.flush());
            saveOnDisk(ledger, all.at(1));
            const QByteArray older = readFile(dir.path("sync-state.log"));
            saveOnDisk(ledger, all.at(2));
            if (moment == "whole after damage") { // the files as they stand, the log with lines and one damaged
                keep();
                const QByteArray damaged = ledgerlog::frame("{\"seq\":9}").replace("{", "[");
                QVERIFY(writeFile(stood.path("sync-state.log"), readFile(stood.path("sync-state.log")) + damaged));
            }
            if (moment == "older log") {
                QVERIFY(writeFile(dir.path("older"), older)); // renamed over the log by another process
                QVERIFY(::rename(qPrintable(dir.path("older")), qPrintable(dir.path("sync-state.log"))) == 0);
                saveOnDisk(ledger, all.at(3));
                keep();
            }
        }
        if (moment == "whole after damage") {
            QVERIFY(QDir(dir.root()).removeRecursively() && QDir().rename(stood.root(), dir.root()));
            QVERIFY(QDir().mkpath(stood.root()));
            StateLedger ledger(dir.root());
            ledger.load();
            ledger.save(all.at(2));
            ledger.setCompactionHook(keep);
            ledger.save(all.at(3));
            ledger.flush();
        } else if (moment == "log missing") {
            QVERIFY(QFile::remove(dir.path("sync-state.log")));
            keep();
            all.removeLast(); // the state the snapshot holds
        }
        StateLedger ledger(stood.root());
        const StateLedger::Loaded loaded = ledger.load();
        QVERIFY(loaded.state);
        LedgerState rebuilt = LedgerState::of(*loaded.state);
        rebuilt.entries = loaded.entries;
        LedgerState expected = stateOf(all.last());
        if (moment == "log missing")
            expected.entries.runs.clear(); // only the log noted them; the replacements have a second place
        expected.entries.runsLost = runsLost;
        QCOMPARE(rebuilt, expected);
        QCOMPARE(loaded.runsLost, runsLost);
    }

    // A disk that refuses writes: the ledger says so, tries again by itself, and a flush and the end of the
    // process say what is not on disk.
    void failedWrite_data()
    {
        QTest::addColumn<QString>("ending"); // "recovers", "flush" or "exit"
        QTest::newRow("recovers") << "recovers";
        QTest::newRow("flush") << "flush";
        QTest::newRow("exit") << "exit";
    }

    void failedWrite()
    {
        QFETCH(QString, ending);
        const QList<StateSources> all = threeSaves();
        TempTree dir;
        LogCapture log;
        std::optional<StateLedger> ledger(std::in_place, dir.root());
        ledger->load();
        ledger->save(all.at(0));
        QVERIFY(!ledger->flush());
        const QByteArray snapshot = readFile(dir.path("sync-state.json"));

        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = limit;
        tight.rlim_cur = 8;
        ::setrlimit(RLIMIT_FSIZE, &tight);
        const auto lift = [&] {
            ::setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, previous);
        };
        const StateLedger::Ticket ticket = ledger->save(all.at(1));
        QFuture<bool> written = ledger->whenOnDisk(ticket);
        written.waitForFinished();
        QVERIFY(!written.result());
        QVERIFY(!ledger->isOnDisk(ticket));
        QTRY_VERIFY_WITH_TIMEOUT(ledger->figures().failures >= 2, 30000); // tried again by itself
        QVERIFY(log.contains(syncCategory, "Failed to save state: "));

        if (ending == "recovers") {
            lift();
            ledger->retryNow();
            QTRY_VERIFY_WITH_TIMEOUT(ledger->isOnDisk(ticket), 30000);
            QVERIFY(log.contains(syncCategory, "State written after "));
        } else if (ending == "flush") {
            const std::optional<SyncStateStore::Unwritten> unwritten = ledger->flush();
            lift();
            QVERIFY(unwritten);
            QCOMPARE(unwritten->saves, 1);
            QVERIFY(unwritten->fileOf);
            QVERIFY2(unwritten->describe().contains(", later saves not on disk: 1 ("), qPrintable(unwritten->describe()));
            QVERIFY(!ledger->flush());
        } else {
            ledger->save(all.at(2));
            ledger.reset(); // the end of the process while the writes still fail
            lift();
            QVERIFY(log.contains(syncCategory, "State not written at exit: "));
            QCOMPARE(readFile(dir.path("sync-state.json")), snapshot);
            return;
        }
        ledger.reset();
        StateLedger reloaded(dir.root());
        const StateLedger::Loaded loaded = reloaded.load();
        QVERIFY(loaded.state);
        QCOMPARE(loaded.state->knownGalleryIds, (QSet<QString>{"g1", "g2"}));
    }
};

QTEST_GUILESS_MAIN(TestStateLedger)
#include "tst_stateledger.moc"
