// The state file: how a snapshot replaces the file, and how the readers take what is on disk.

#include "support/FileBytes.h"
#include "support/TempTree.h"
#include "sync/StateFileParser.h"
#include "sync/SyncStateStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <memory>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
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

} // namespace

class TestSyncStateStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each state reaches the disk once: the file it replaces becomes the copy under a second name, and a state
    // equal to the one written writes nothing, unless the file was changed behind the store's back.
    void eachStateWrittenOnce()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        const QString copy = path + ".last-good";
        SyncStateStore store(path);
        QString error;
        QCOMPARE(store.write(stateWithGallery("a"), &error), SyncStateStore::WriteOutcome::written);
        QVERIFY(!QFile::exists(copy)); // nothing came before
        const ino_t first = inodeOf(path);
        const QByteArray a = readFile(path);

        QCOMPARE(store.write(stateWithGallery("b"), &error), SyncStateStore::WriteOutcome::written);
        QCOMPARE(inodeOf(copy), first);
        QCOMPARE(readFile(copy), a);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
        const ino_t second = inodeOf(path);

        QCOMPARE(store.write(stateWithGallery("b"), &error), SyncStateStore::WriteOutcome::unchanged);
        QCOMPARE(inodeOf(path), second);

        QVERIFY(writeFile(path, "{\"knownGalleryIds\":[\"x\"]}")); // not the store's: neither kept nor trusted
        QCOMPARE(store.write(stateWithGallery("b"), &error), SyncStateStore::WriteOutcome::written);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"b"});
        QCOMPARE(readFile(copy), a);
    }

    // A start that changes nothing rewrites nothing: the loaded file is as good as one this store wrote.
    void loadedStateIsNotWrittenAgain()
    {
        TempTree dir;
        const QString path = dir.path("sync-state.json");
        QString error;
        QCOMPARE(SyncStateStore(path).write(stateWithGallery("a"), &error), SyncStateStore::WriteOutcome::written);
        const ino_t first = inodeOf(path);
        SyncStateStore store(path);
        const std::optional<SyncState> loaded = store.load();
        QVERIFY(loaded);
        QCOMPARE(store.write(*loaded, &error), SyncStateStore::WriteOutcome::unchanged);
        QCOMPARE(inodeOf(path), first);
        QCOMPARE(store.write(stateWithGallery("b"), &error), SyncStateStore::WriteOutcome::written);
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
        QString error;
        QCOMPARE(SyncStateStore(path).write(stateWithGallery("a"), &error), SyncStateStore::WriteOutcome::written);
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

        SyncStateStore store(path);
        QCOMPARE(store.load().value_or(SyncState()).knownGalleryIds, QSet<QString>{"a"});
        QCOMPARE(store.write(stateWithGallery("c"), &error), SyncStateStore::WriteOutcome::written);
        QCOMPARE(galleriesOnDisk(path), QSet<QString>{"c"});
        QCOMPARE(readFile(path + ".last-good"), a);
        QCOMPARE(QDir(dir.root()).entryList({"*.tmp"}, QDir::Files), QStringList());
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

};

QTEST_GUILESS_MAIN(TestSyncStateStore)
#include "tst_syncstatestore.moc"
