// The state file's writer: how saves turn into writes, and what reaches the disk.

#include "support/FileBytes.h"
#include "support/LogCapture.h"
#include "support/TempTree.h"
#include "sync/StateFileParser.h"
#include "sync/SyncStateStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <future>
#include <memory>
#include <optional>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::LogCapture;
using testsupport::readFile;
using testsupport::writeFile;
using testsupport::TempTree;

namespace {

SyncState stateWithGallery(const QString &id)
{
    SyncState state;
    state.knownGalleryIds = {id};
    return state;
}

// Past SyncStateStore::bytesPerInterval once written, so that the writer holds the next save longer.
SyncState largeStateWithGallery(const QString &id)
{
    SyncState state = stateWithGallery(id);
    FolderUploadList folders;
    for (int f = 0; f < 1000; ++f) {
        QList<UploadedFileMeta> files;
        for (int i = 0; i < 100; ++i)
            files.append({QStringLiteral("IMG_%1_%2.jpg").arg(f).arg(i), 1000000 + i, 7.5e8 + i});
        folders.append({QStringLiteral("/photos/Shoot %1").arg(f), files});
    }
    state.folderUploads = std::move(folders);
    return state;
}

QSet<QString> galleriesOnDisk(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeSyncState(file.readAll()).knownGalleryIds;
}

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// A decoded state or the error message, so that two readers can be compared whole.
QString outcome(SyncState (*decode)(const QByteArray &), const QByteArray &json)
{
    try {
        const SyncState state = decode(json);
        QStringList parts{state.watchFolder.value_or("<none>"), QString::number(state.version)};
        QStringList ignored(state.ignoredPaths.cbegin(), state.ignoredPaths.cend());
        QStringList known(state.knownGalleryIds.cbegin(), state.knownGalleryIds.cend());
        QStringList dismissed(state.dismissedGalleryIds.cbegin(), state.dismissedGalleryIds.cend());
        ignored.sort();
        known.sort();
        dismissed.sort();
        parts << ignored.join('|') << known.join('|') << dismissed.join('|');
        if (!state.folderUploads)
            parts << "<no uploads>";
        for (const auto &[path, files] : state.folderUploads.value_or(FolderUploadList())) {
            parts << path;
            for (const UploadedFileMeta &f : files) {
                parts << QStringLiteral("%1/%2/%3").arg(f.fileName).arg(f.fileSize).arg(
                    f.mtime ? QString::number(*f.mtime, 'g', 17) : "-");
            }
        }
        for (auto it = state.folderGalleryIds.cbegin(); it != state.folderGalleryIds.cend(); ++it)
            parts << it.key() + " -> " + it.value();
        for (auto it = state.uploadsInFlight.cbegin(); it != state.uploadsInFlight.cend(); ++it)
            parts << it.key() + " in flight to " + it->galleryId + ": " + it->fileNames.join('|');
        return parts.join('\n');
    } catch (const SyncDecodingError &error) {
        return "error: " + error.description();
    }
}

// Makes every write of the state file fail while alive: a folder where the writer puts its next file, or a limit on
// the size of the files this process may write (the failure a full disk gives).
class FailingWrites
{
public:
    FailingWrites(const QString &kind, const QString &statePath)
        : m_blocker(statePath + ".tmp")
    {
        if (kind == "folder in the way") {
            QDir().mkpath(m_blocker);
            m_folder = true;
            return;
        }
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = m_limit;
        tight.rlim_cur = 8;
        ::setrlimit(RLIMIT_FSIZE, &tight);
        m_limited = true;
    }
    ~FailingWrites() { lift(); }
    void lift()
    {
        if (m_folder)
            QDir(m_blocker).removeRecursively();
        if (m_limited) {
            ::setrlimit(RLIMIT_FSIZE, &m_limit);
            std::signal(SIGXFSZ, m_previousHandler);
        }
        m_folder = m_limited = false;
    }

private:
    QString m_blocker;
    bool m_folder = false;
    bool m_limited = false;
    rlimit m_limit{};
    void (*m_previousHandler)(int) = SIG_DFL;
};

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

} // namespace

class TestSyncStateStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void burstBecomesOneWritePerInterval()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        {
            SyncStateStore store(path, 1h);
            store.save(stateWithGallery("a"));
            QTRY_COMPARE(store.writeCount(), 1); // after a quiet spell: at once
            store.save(stateWithGallery("b"));
            store.save(stateWithGallery("c"));
            QCOMPARE(galleriesOnDisk(path), QSet<QString>{"a"}); // held until the interval has passed
            QCOMPARE(store.writeCount(), 1);
            store.flush(); // the newest, now
            QCOMPARE(galleriesOnDisk(path), QSet<QString>{"c"});
            QCOMPARE(store.writeCount(), 2);
            store.save(stateWithGallery("d"));
        } // destruction writes what is held
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"d"});
    }

    void heldSnapshotLandsWhenTheIntervalEnds()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        SyncStateStore store(path, 20ms);
        for (const QString id : {"a", "b", "c", "d"})
            store.save(stateWithGallery(id));
        QTRY_COMPARE(galleriesOnDisk(path), QSet<QString>{"d"}); // no flush: the writer's own timer
    }

    // After a file large enough to stretch the interval, the newest save still lands: by the writer's own timer,
    // at a flush and at destruction.
    void newestSaveLandsAfterALargeFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("writer's timer") << "timer";
        QTest::newRow("flush") << "flush";
        QTest::newRow("destruction") << "destruction";
    }

    void newestSaveLandsAfterALargeFile()
    {
        QFETCH(QString, how);
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        {
            SyncStateStore store(path, how == "timer" ? 20ms : 1h);
            store.save(largeStateWithGallery("a"));
            QTRY_COMPARE_WITH_TIMEOUT(store.writeCount(), 1, 30000);
            QVERIFY(QFileInfo(path).size() > SyncStateStore::bytesPerInterval);
            store.save(stateWithGallery("b"));
            store.save(stateWithGallery("c"));
            if (how == "timer")
                QTRY_COMPARE_WITH_TIMEOUT(galleriesOnDisk(path), QSet<QString>{"c"}, 30000);
            else if (how == "flush")
                store.flush();
        }
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"c"});
    }

    // Each state reaches the disk once: the file it replaces becomes the copy under a second name, and a state
    // equal to the one written writes nothing, unless the file was changed behind the store's back.
    void eachStateWrittenOnce()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        const QString copy = path + ".last-good";
        SyncStateStore store(path, 1h);
        store.save(stateWithGallery("a"));
        store.flush();
        QVERIFY(!QFile::exists(copy)); // nothing came before
        const ino_t first = inodeOf(path);
        const QByteArray a = readFile(path);

        store.save(stateWithGallery("b"));
        store.flush();
        QCOMPARE(inodeOf(copy), first);
        QCOMPARE(readFile(copy), a);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
        const ino_t second = inodeOf(path);

        store.save(stateWithGallery("b"));
        store.flush();
        QCOMPARE(store.writeCount(), 2);
        QCOMPARE(inodeOf(path), second);

        QVERIFY(writeFile(path, "{\"knownGalleryIds\":[\"x\"]}")); // not the store's: neither kept nor trusted
        store.save(stateWithGallery("b"));
        store.flush();
        QCOMPARE(store.writeCount(), 3);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
        QCOMPARE(readFile(copy), a);
    }

    // A start that changes nothing rewrites nothing: the loaded file is as good as one this store wrote.
    void loadedStateIsNotWrittenAgain()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        {
            SyncStateStore earlier(path, 1h);
            earlier.save(stateWithGallery("a"));
        }
        const ino_t first = inodeOf(path);
        SyncStateStore store(path, 1h);
        const std::optional<SyncState> loaded = store.load();
        QVERIFY(loaded);
        store.save(*loaded);
        store.flush();
        QCOMPARE(store.writeCount(), 0);
        QCOMPARE(inodeOf(path), first);
        store.save(stateWithGallery("b"));
        store.flush();
        QCOMPARE(store.writeCount(), 1);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
    }

    // A write cut short at any step leaves the file or its copy loadable, and the next write clears up after it.
    void crashBetweenSteps_data()
    {
        QTest::addColumn<QString>("left");
        QTest::newRow("next file half written") << "next";
        QTest::newRow("copy's second name made") << "copy name";
        QTest::newRow("copy in place, next file not yet") << "copy";
    }

    void crashBetweenSteps()
    {
        QFETCH(QString, left);
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        {
            SyncStateStore earlier(path, 1h);
            earlier.save(stateWithGallery("a"));
        }
        const QByteArray a = readFile(path);
        const QByteArray b = encodeSyncState(stateWithGallery("b"));
        if (left == "next")
            QVERIFY(writeFile(path + ".tmp", b.left(b.size() / 2)));
        if (left == "copy name")
            QVERIFY(::link(QFile::encodeName(path), QFile::encodeName(path + ".last-good.tmp")) == 0);
        if (left == "copy") {
            QVERIFY(::link(QFile::encodeName(path), QFile::encodeName(path + ".last-good")) == 0);
            QVERIFY(writeFile(path + ".tmp", b));
        }

        SyncStateStore store(path, 1h);
        QCOMPARE(store.load().value_or(SyncState()).knownGalleryIds, QSet<QString>{"a"});
        store.save(stateWithGallery("c"));
        store.flush();
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"c"});
        QCOMPARE(readFile(path + ".last-good"), a);
        QCOMPARE(QDir(dir.root()).entryList({"*.tmp"}, QDir::Files), QStringList());
    }

    // How long the writer holds the next save: after a file of that size, within a pass that had run that long, and
    // after failed writes.
    void writerPace_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<int>("passAgeMs"); // -1: outside a pass
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("holdMs");
        QTest::newRow("small file") << qint64(1000) << -1 << 0 << 1000;
        QTest::newRow("15 MB file") << qint64(15'000'000) << -1 << 0 << 3000;
        QTest::newRow("young pass: the interval") << qint64(15'000'000) << 2000 << 0 << 3000;
        QTest::newRow("old pass: its age") << qint64(15'000'000) << 64000 << 0 << 64000;
        QTest::newRow("first retry") << qint64(0) << -1 << 1 << 1000;
        QTest::newRow("fourth retry") << qint64(0) << -1 << 4 << 8000;
        QTest::newRow("retries level off") << qint64(0) << -1 << 40 << 60000;
    }

    void writerPace()
    {
        QFETCH(qint64, bytes);
        QFETCH(int, passAgeMs);
        QFETCH(int, failures);
        QFETCH(int, holdMs);
        const std::chrono::milliseconds interval = SyncStateStore::defaultMinInterval;
        std::chrono::milliseconds hold = SyncStateStore::intervalAfter(bytes, interval);
        if (passAgeMs >= 0)
            hold = SyncStateStore::holdInPass(bytes, interval, std::chrono::milliseconds(passAgeMs));
        if (failures > 0)
            hold = SyncStateStore::retryAfter(failures, interval);
        QCOMPARE(qint64(hold.count()), qint64(holdMs));
    }

    // Saves between two writes are never built: a burst of a thousand saves builds once, when its write is due.
    void burstOfSavesBuildsOnce()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        SyncStateStore store(path, 1h);
        const auto built = std::make_shared<std::atomic<int>>(0);
        const auto builder = [built](const QString &id) {
            return [built, id] {
                ++*built;
                return stateWithGallery(id);
            };
        };
        store.save(builder("a"));
        QTRY_COMPARE(store.writeCount(), 1); // after a quiet spell: at once
        for (int i = 0; i < 1000; ++i)
            store.save(builder(QString::number(i)), SyncStateStore::Contents::recordsOnly);
        QCOMPARE(built->load(), 1);
        QVERIFY(!store.flush());
        QCOMPARE(built->load(), 2);
        QCOMPARE(store.buildCount(), 2);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"999"});
    }

    // What a pass held is written when it ends, without a flush; a save taken back is never built or written.
    void passEndAndWithdrawnSave_data()
    {
        QTest::addColumn<bool>("withdrawn");
        QTest::newRow("held to the pass's end") << false;
        QTest::newRow("taken back") << true;
    }

    void passEndAndWithdrawnSave()
    {
        QFETCH(bool, withdrawn);
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        SyncStateStore store(path, 1h);
        store.save(stateWithGallery("a"));
        QTRY_COMPARE(store.writeCount(), 1);
        store.beginPass();
        store.save([] { return stateWithGallery("b"); }, SyncStateStore::Contents::recordsOnly);
        if (withdrawn) {
            QVERIFY(store.withdraw());
            QVERIFY(!store.withdraw()); // nothing left to take back
        }
        store.endPass();
        if (withdrawn) {
            QVERIFY(!store.flush());
            QCOMPARE(store.buildCount(), 0);
            QCOMPARE(galleriesOnDisk(path), QSet<QString>{"a"});
        } else {
            QTRY_COMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
            QCOMPARE(store.writeCount(), 2);
        }
    }

    // A write that fails leaves the file as it was and is tried again, with no later save, until it lands; a
    // flush, and the end of the process, say what is not on disk.
    void failedWrite_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("ending"); // "recovers", "flush" or "exit"
        for (const char *failure : {"folder in the way", "file size limit"}) {
            for (const char *ending : {"recovers", "flush", "exit"})
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(failure, ending))) << failure << ending;
        }
    }

    void failedWrite()
    {
        QFETCH(QString, failure);
        QFETCH(QString, ending);
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        LogCapture log;
        std::optional<SyncStateStore> store(std::in_place, path, 20ms);
        store->save(stateWithGallery("a"));
        QVERIFY(!store->flush());
        const QByteArray a = readFile(path);

        FailingWrites failing(failure, path);
        store->save(stateWithGallery("b"));
        QTRY_VERIFY_WITH_TIMEOUT(store->failedWriteCount() >= 3, 30000); // tried again by itself
        QCOMPARE(readFile(path), a);
        QVERIFY(log.contains(syncCategory, "Failed to save state: "));

        if (ending == "recovers") {
            failing.lift();
            QTRY_COMPARE_WITH_TIMEOUT(galleriesOnDisk(path), QSet<QString>{"b"}, 30000);
            QCOMPARE(store->writeCount(), 2);
            QVERIFY(log.contains(syncCategory, "State written after "));
            QVERIFY(!store->flush());
        } else if (ending == "flush") {
            const qint64 before = store->failedWriteCount();
            const std::optional<SyncStateStore::Unwritten> unwritten = store->flush();
            QVERIFY(unwritten);
            QVERIFY(store->failedWriteCount() > before); // tried now, not after the back-off
            QCOMPARE(unwritten->saves, 1);
            QVERIFY(unwritten->fileOf);
            QVERIFY(!unwritten->error.isEmpty());
            QVERIFY2(unwritten->describe().contains(", later saves not on disk: 1 ("), qPrintable(unwritten->describe()));
            failing.lift();
            QVERIFY(!store->flush());
            QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
        } else {
            store->save(stateWithGallery("c"));
            store.reset(); // the end of the process while the writes still fail
            failing.lift();
            QVERIFY(log.contains(syncCategory, "State not written at exit: the file holds the state of "));
            QVERIFY(log.contains(syncCategory, ", later saves not on disk: 2 ("));
            QCOMPARE(readFile(path), a);
        }
    }

    // Both readers give the same state or the same error; the writer's own shape takes the fast road.
    void readersAgree_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("plain");
        SyncState written;
        written.watchFolder = QStringLiteral("/home/fotograf/Eksport æøå");
        written.ignoredPaths = {"/e/a", "/e/Bryllup"};
        written.knownGalleryIds = {"g1", "g2"};
        written.dismissedGalleryIds = {"g3", "g0"};
        written.folderUploads = FolderUploadList{
            {"/e/z", {{"a.jpg", 1, 760000000.123456}, {"b.jpg", 0, std::nullopt}}},
            {"/e/\uFF21", {{"c.jpg", 9223372036854775807, 1.5}}},
            {"/e/\U0001F600", {}},
            {"/e/Å", {{"æ.webp", 3, -12.25}}},
        };
        QTest::newRow("as written") << encodeSyncState(written) << true;
        written.folderGalleryIds = {{"/e/z", "gal-1"}, {"/e/Å", "gal-2"}};
        written.uploadsInFlight = {{"/e/z", {"gal-1", {"a.jpg", "æ.jpg"}}}, {"/e/y", {"gal-3", {}}}};
        QTest::newRow("as written, with links and runs in flight") << encodeSyncState(written) << true;
        QTest::newRow("run in flight without names")
            << QByteArray(R"({"uploadsInFlight":{"/e":{"galleryId":"g"}}})") << false;
        QTest::newRow("link to a number") << QByteArray(R"({"folderGalleryIds":{"/e":1}})") << false;
        QTest::newRow("repeated link") << QByteArray(R"({"folderGalleryIds":{"/e":"a","/e":"b"}})") << false;
        QTest::newRow("empty object") << QByteArray("{}") << true;
        QTest::newRow("spaces and any order")
            << QByteArray(" {\n \"version\" : 2 ,\"folderUploads\":{ \"/e\" : [ {\"mtime\":null, \"fileSize\":7,"
                          "\"fileName\":\"x.jpg\"} ] }, \"watchFolder\": \"/e\"}\n")
            << true;
        QTest::newRow("nulls") << QByteArray(R"({"watchFolder":null,"ignoredPaths":null,"knownGalleryIds":null,)"
                                             R"("folderUploads":null,"version":null})")
                               << true;
        QTest::newRow("numbers") << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a","fileSize":-0,)"
                                               R"("mtime":12345678901234567890},{"fileName":"b","fileSize":0,)"
                                               R"("mtime":1E-7},{"fileName":"c","fileSize":5,"mtime":0.1e+2}]}})")
                                 << true;
        QTest::newRow("escapes") << QByteArray(R"({"watchFolder":"/e/"q"æ","ignoredPaths":["a\/b"]})")
                                 << false;
        QTest::newRow("dismissed ids null") << QByteArray(R"({"dismissedGalleryIds":null})") << true;
        QTest::newRow("dismissed ids as text") << QByteArray(R"({"dismissedGalleryIds":"g1"})") << false;
        QTest::newRow("unknown key") << QByteArray(R"({"other":[1,{}],"version":2})") << false;
        QTest::newRow("repeated key") << QByteArray(R"({"version":1,"version":2})") << false;
        QTest::newRow("repeated folder")
            << QByteArray(R"({"folderUploads":{"/e":[],"/e":[{"fileName":"a","fileSize":1}]}})") << false;
        QTest::newRow("whole number as float") << QByteArray(R"({"version":2.0})") << false;
        QTest::newRow("size with exponent")
            << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a","fileSize":1e3}]}})") << false;
        QTest::newRow("size missing") << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a"}]}})") << false;
        QTest::newRow("size fraction")
            << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a","fileSize":1.5}]}})") << false;
        QTest::newRow("size too big")
            << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a","fileSize":9223372036854775808}]}})") << false;
        QTest::newRow("size as text")
            << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a","fileSize":"1"}]}})") << false;
        QTest::newRow("name null")
            << QByteArray(R"({"folderUploads":{"/e":[{"fileName":null,"fileSize":1}]}})") << false;
        QTest::newRow("mtime as text")
            << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a","fileSize":1,"mtime":"x"}]}})") << false;
        QTest::newRow("records null") << QByteArray(R"({"folderUploads":{"/e":null}})") << false;
        QTest::newRow("uploads as list") << QByteArray(R"({"folderUploads":[]})") << false;
        QTest::newRow("leading zero") << QByteArray(R"({"version":02})") << false;
        QTest::newRow("bad utf-8") << QByteArray("{\"watchFolder\":\"/e/\xc3\x28\"}") << false;
        QTest::newRow("control character") << QByteArray("{\"watchFolder\":\"/e/\x01\"}") << false;
        QTest::newRow("trailing text") << QByteArray(R"({"version":2} x)") << false;
        QTest::newRow("cut short") << QByteArray(R"({"folderUploads":{"/e":[{"fileName":"a")") << false;
        QTest::newRow("not an object") << QByteArray("[]") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void readersAgree()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, plain);
        QCOMPARE(parsePlainSyncState(json).has_value(), plain);
        QCOMPARE(outcome(&decodeSyncState, json), outcome(&decodeSyncStateDocument, json));
    }

    // What an unreadable file still says about ignored folders: only whole paths, only from the list itself.
    void salvagedIgnoredPaths_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("cut inside the second path") << QByteArray("{\"ignoredPaths\":[\"/e/a\",\"/e/b")
                                                    << QStringList{"/e/a"};
        QTest::newRow("bad UTF-8 in one path") << QByteArray("{\"ignoredPaths\":[\"/e/\xff\",\"/e/c\"]")
                                               << QStringList{"/e/c"};
        QTest::newRow("the key inside a path")
            << QByteArray("{\"watchFolder\":\"/e/\\\"ignoredPaths\\\":[\\\"x\","
                          "\"ignoredPaths\":[\"/e/d\"],\"version\":\"2\"}")
            << QStringList{"/e/d"};
        QTest::newRow("no list") << QByteArray(R"({"ignoredPaths":"/e/a"})") << QStringList{};
    }

    void salvagedIgnoredPaths()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, paths);
        QCOMPARE(salvageIgnoredPaths(json), QSet<QString>(paths.cbegin(), paths.cend()));
    }

    // A snapshot the writer builds itself: the newest save lands, also when an older one was still being built.
    void newestSaveWinsOverOneBeingBuilt_data()
    {
        QTest::addColumn<QString>("first");  // "built" (held in its builder until the second save) or "state"
        QTest::addColumn<QString>("second"); // "built" or "state"
        QTest::newRow("state after a build") << "built" << "state";
        QTest::newRow("build after a build") << "built" << "built";
        QTest::newRow("build after a state") << "state" << "built";
    }

    void newestSaveWinsOverOneBeingBuilt()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        SyncStateStore store(path, 1h);
        const auto started = std::make_shared<std::atomic<bool>>(false);
        const auto release = std::make_shared<std::promise<void>>();
        const std::shared_future<void> released = release->get_future().share();
        if (first == "built") {
            store.save([started, released] {
                *started = true;
                released.wait();
                return stateWithGallery("a");
            });
            QTRY_VERIFY(started->load());
        } else {
            store.save(stateWithGallery("a"));
        }
        if (second == "built")
            store.save([] { return stateWithGallery("b"); });
        else
            store.save(stateWithGallery("b"));
        release->set_value();
        store.flush();
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
    }

    void flushWithNothingQueuedReturns()
    {
        TempTree dir;
        SyncStateStore store(dir.path("sync-state.json"), 1h);
        store.flush();
        QCOMPARE(store.writeCount(), 0);
        QVERIFY(!QFile::exists(dir.path("sync-state.json")));
    }
};

QTEST_GUILESS_MAIN(TestSyncStateStore)
#include "tst_syncstatestore.moc"
