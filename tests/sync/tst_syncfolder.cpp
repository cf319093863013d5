// The folder model's derived values, the modification rule and the JSON forms.

#include "sync/SyncFolder.h"
#include "sync/UnicodeNames.h"

#include <QTest>

#include <functional>

using Files = QList<UploadedFileMeta>;
using Names = QSet<QString>;
using OptFiles = std::optional<Files>;
using OptNames = std::optional<Names>;

Q_DECLARE_METATYPE(UploadedFileMeta)
Q_DECLARE_METATYPE(LocalFileMeta)
Q_DECLARE_METATYPE(OptFiles)
Q_DECLARE_METATYPE(std::function<void(SyncFolder &)>)
Q_DECLARE_METATYPE(OptNames)
Q_DECLARE_METATYPE(LocalFileMetaMap)

namespace {

UploadedFileMeta rec(const QString &name, qint64 size = 0, std::optional<double> mtime = std::nullopt)
{
    return {name, size, mtime};
}

const QString nfd = QStringLiteral("Bla\u030A.jpg"); // "Blå.jpg" with a combining ring
const QString nfc = QStringLiteral("Bl\u00E5.jpg");

QByteArray folderJson(const QByteArray &status, const QByteArray &tail = {})
{
    return R"({"path":"p","name":"n","displayName":"n","relativePath":"n","parentComponents":[],"imageCount":2,)"
           R"("status":)" + status + tail + "}";
}

} // namespace

class TestSyncFolder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void counters_data()
    {
        QTest::addColumn<SyncStatus>("status");
        QTest::addColumn<qint64>("imageCount");
        QTest::addColumn<OptFiles>("uploaded");
        QTest::addColumn<OptNames>("local");
        QTest::addColumn<QString>("expected"); // new names:new count:removed names:removed count:baseline

        const auto synced = SyncStatus::synced("g", "s", 10);
        QTest::newRow("no records, synced: counts from numbers")
            << synced << qint64(7) << OptFiles() << OptNames(Names{"a.jpg"}) << ":0::3:0";
        QTest::newRow("no records, synced, more images")
            << SyncStatus::synced("g", "s", 2) << qint64(5) << OptFiles() << OptNames() << ":3::0:0";
        QTest::newRow("no records, not synced: zero")
            << SyncStatus::notSynced() << qint64(7) << OptFiles() << OptNames() << ":0::0:0";
        QTest::newRow("records without cache: all removed")
            << synced << qint64(0) << OptFiles(Files{rec("b.jpg", 5), rec("a.jpg", 5)}) << OptNames()
            << ":0:a.jpg,b.jpg:2:0";
        QTest::newRow("empty records, three local, scalar order")
            << synced << qint64(3) << OptFiles(Files{}) << OptNames(Names{"c.jpg", "a.jpg", "B.jpg"})
            << "B.jpg,a.jpg,c.jpg:3::0:0";
        QTest::newRow("legacy entries need a baseline")
            << synced << qint64(1) << OptFiles(Files{rec("a.jpg"), rec("a.jpg")}) << OptNames(Names{"a.jpg"})
            << ":0::0:1";
        QTest::newRow("size 0 with a time needs no baseline")
            << synced << qint64(1) << OptFiles(Files{rec("a.jpg", 0, 5.0)}) << OptNames(Names{"a.jpg"}) << ":0::0:0";
        QTest::newRow("canonically equal names match")
            << synced << qint64(1) << OptFiles(Files{rec(nfc, 5)}) << OptNames(Names{nfd}) << ":0::0:0";
        QTest::newRow("duplicate removed record counts once")
            << synced << qint64(0) << OptFiles(Files{rec("x.jpg", 1), rec("x.jpg", 2)}) << OptNames(Names{})
            << ":0:x.jpg:1:0";
    }

    void counters()
    {
        SyncFolder folder;
        QFETCH(SyncStatus, status);
        folder.status = status;
        QFETCH(qint64, imageCount);
        folder.imageCount = imageCount;
        QFETCH(OptFiles, uploaded);
        folder.uploadedFiles = uploaded;
        QFETCH(OptNames, local);
        if (local)
            folder.cachedLocalFileMeta = LocalFiles::fromNames(*local);
        const QString got = QStringLiteral("%1:%2:%3:%4:%5")
                                .arg(folder.newFileNames().join(','))
                                .arg(folder.newFileCount())
                                .arg(folder.removedFileNames().join(','))
                                .arg(folder.removedFileCount())
                                .arg(int(folder.needsMetadataBaseline()));
        QTEST(got, "expected");
    }

    void modificationRule_data()
    {
        QTest::addColumn<UploadedFileMeta>("recorded");
        QTest::addColumn<LocalFileMeta>("local");
        QTest::addColumn<bool>("modified");
        QTest::newRow("recorded 0 bytes") << rec("a", 0, 100.0) << LocalFileMeta{500, 100.0} << false;
        QTest::newRow("500 vs 501") << rec("a", 500) << LocalFileMeta{501, std::nullopt} << true;
        QTest::newRow("1.0 s apart") << rec("a", 500, 100.0) << LocalFileMeta{500, 101.0} << false;
        QTest::newRow("1.5 s apart") << rec("a", 500, 100.0) << LocalFileMeta{500, 98.5} << true;
        QTest::newRow("local time absent") << rec("a", 500, 100.0) << LocalFileMeta{500, std::nullopt} << false;
        QTest::newRow("recorded time absent") << rec("a", 500) << LocalFileMeta{500, 900.0} << false;
        QTest::newRow("unreadable local") << rec("a", 500) << LocalFileMeta{} << true;
        QTest::newRow("legacy record") << rec("a") << LocalFileMeta{} << false;
        QTest::newRow("size 0 with time, by time") << rec("a", 0, 10.0) << LocalFileMeta{7, 12.0} << true;
    }

    void modificationRule()
    {
        QFETCH(UploadedFileMeta, recorded);
        QFETCH(LocalFileMeta, local);
        QTEST(isModified(recorded, local), "modified");
    }

    void hasModifiedFiles()
    {
        SyncFolder folder;
        folder.uploadedFiles = Files{rec("gone.jpg", 10), rec(nfc, 10)};
        folder.cachedLocalFileMeta = LocalFileMetaMap{{nfd, LocalFileMeta{10, std::nullopt}}};
        QVERIFY2(!folder.hasModifiedFiles(), "a record without a local file is removed, not modified");
        folder.cachedLocalFileMeta = LocalFileMetaMap{{nfd, LocalFileMeta{11, std::nullopt}}};
        QVERIFY(folder.hasModifiedFiles());
        folder.cachedLocalFileMeta.reset();
        QVERIFY(!folder.hasModifiedFiles());
    }

    // Records and cache of a folder, held in one name store once they meet: the values, the counters and the
    // JSON stay what they were, and an edit on either side after sharing leaves the other side as it was.
    void sharedNames_data()
    {
        QTest::addColumn<Files>("records");
        QTest::addColumn<LocalFileMetaMap>("local");
        const LocalFileMeta m1{10, 1.0};
        QTest::newRow("names match") << Files{rec("a.jpg", 10, 1.0), rec("b.jpg", 20)}
                                     << LocalFileMetaMap{{"b.jpg", {20, std::nullopt}}, {"a.jpg", m1}};
        QTest::newRow("removed, new and twice") << Files{rec("gone.jpg", 5, 2.0), rec("a.jpg", 10, 1.0), rec("gone.jpg", 6)}
                                                << LocalFileMetaMap{{"a.jpg", {11, 1.0}}, {"new.jpg", {}}};
        QTest::newRow("other Unicode form on disk") << Files{rec(nfc, 10, 1.0), rec("x.jpg", 0)}
                                                    << LocalFileMetaMap{{nfd, {10, 3.0}}, {"x.jpg", {}}};
        QTest::newRow("no records, empty disk") << Files{} << LocalFileMetaMap{};
        QTest::newRow("time zero is a time") << Files{rec("a.jpg", 0, 0.0), rec("b.jpg", 0, -0.0)}
                                             << LocalFileMetaMap{{"a.jpg", {0, std::nullopt}}, {"b.jpg", {0, 0.0}}};
    }

    void sharedNames()
    {
        QFETCH(Files, records);
        QFETCH(LocalFileMetaMap, local);
        SyncFolder folder;
        folder.status = SyncStatus::synced("g", "s", records.size());
        folder.uploadedFiles = records;
        folder.cachedLocalFileMeta = local;
        const SyncFolder apart = folder;
        const auto counters = [](const SyncFolder &f) {
            return QStringList{f.newFileNames().join(','), f.removedFileNames().join(','),
                               QString::number(f.hasModifiedFiles()), QString::number(f.needsMetadataBaseline())};
        };

        folder.shareNames();
        QVERIFY(!folder.needsSharedNames());
        QCOMPARE(folder.uploadedFiles->toList(), records);
        QCOMPARE(folder.cachedLocalFileMeta->toMap(), local);
        QCOMPARE(folder.cachedLocalFileNames(), Names(local.keyBegin(), local.keyEnd()));
        QVERIFY(folder == apart);
        QCOMPARE(counters(folder), counters(apart));
        QCOMPARE(encodeSyncFolder(folder), encodeSyncFolder(apart));
        QCOMPARE(decodeSyncFolder(encodeSyncFolder(folder)).uploadedFiles, OptFiles(records));

        SyncFolder editedRecords = folder;
        editedRecords.uploadedFiles->append(rec("late.jpg", 7, 9.0));
        if (!records.isEmpty())
            editedRecords.uploadedFiles->replace(0, rec("first.jpg", 1));
        Files expected = records;
        expected.append(rec("late.jpg", 7, 9.0));
        if (!expected.isEmpty() && !records.isEmpty())
            expected[0] = rec("first.jpg", 1);
        QCOMPARE(editedRecords.uploadedFiles->toList(), expected);
        QCOMPARE(editedRecords.cachedLocalFileMeta->toMap(), local);
        QCOMPARE(folder.uploadedFiles->toList(), records);

        SyncFolder editedCache = folder;
        editedCache.cachedLocalFileMeta->insert("added.jpg", {3, 4.0});
        LocalFileMetaMap grown = local;
        grown.insert("added.jpg", {3, 4.0});
        QCOMPARE(editedCache.cachedLocalFileMeta->toMap(), grown);
        QCOMPARE(editedCache.uploadedFiles->toList(), records);
        QCOMPARE(folder.cachedLocalFileMeta->toMap(), local);
        editedCache.shareNames();
        QCOMPARE(editedCache.uploadedFiles->toList(), records);
        QCOMPARE(editedCache.cachedLocalFileMeta->toMap(), grown);
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("display");
        QTest::newRow("underscore") << "Summer_2024" << "Summer 2024";
        QTest::newRow("spaced hyphen: one pass") << "A - B" << "A  B";
        QTest::newRow("edges") << "_Party_" << "Party";
        QTest::newRow("tab trimmed") << "\tX " << "X";
        QTest::newRow("line break kept") << "Trip\n" << "Trip\n";
    }

    void displayName()
    {
        QFETCH(QString, name);
        QTEST(unicodenames::displayName(name), "display");
    }

    // Each member tells two entries apart; a copy, and an entry built alike with texts of its own, are equal.
    void equality_data()
    {
        using Edit = std::function<void(SyncFolder &)>;
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<bool>("equal");
        QTest::newRow("copy") << Edit([](SyncFolder &) {}) << true;
        QTest::newRow("texts of its own") << Edit([](SyncFolder &f) {
            f.path = QString(f.path.constData(), f.path.size());
            f.displayName = QString(f.displayName.constData(), f.displayName.size());
            f.movedFrom = QString(f.movedFrom->constData(), f.movedFrom->size());
            f.status = SyncStatus::synced(QStringLiteral("g1"), QStringLiteral("s1"), 2);
        }) << true;
        QTest::newRow("path") << Edit([](SyncFolder &f) { f.path += u'x'; }) << false;
        QTest::newRow("name") << Edit([](SyncFolder &f) { f.name += u'x'; }) << false;
        QTest::newRow("display name") << Edit([](SyncFolder &f) { f.displayName += u'x'; }) << false;
        QTest::newRow("relative path") << Edit([](SyncFolder &f) { f.relativePath += u'x'; }) << false;
        QTest::newRow("parents") << Edit([](SyncFolder &f) { f.parentComponents.append("y"); }) << false;
        QTest::newRow("image count") << Edit([](SyncFolder &f) { ++f.imageCount; }) << false;
        QTest::newRow("gallery") << Edit([](SyncFolder &f) { f.status = SyncStatus::synced("g2", "s1", 2); }) << false;
        QTest::newRow("slug") << Edit([](SyncFolder &f) { f.status = SyncStatus::synced("g1", "s2", 2); }) << false;
        QTest::newRow("count") << Edit([](SyncFolder &f) { f.status = SyncStatus::synced("g1", "s1", 3); }) << false;
        QTest::newRow("progress") << Edit([](SyncFolder &f) { f.status = SyncStatus::syncing(0.5); }) << false;
        QTest::newRow("message") << Edit([](SyncFolder &f) { f.status = SyncStatus::failed("x"); }) << false;
        QTest::newRow("records") << Edit([](SyncFolder &f) { f.uploadedFiles.reset(); }) << false;
        QTest::newRow("moved from") << Edit([](SyncFolder &f) { f.movedFrom.reset(); }) << false;
        QTest::newRow("cache") << Edit([](SyncFolder &f) { f.cachedLocalFileMeta.reset(); }) << false;
        QTest::newRow("skipped") << Edit([](SyncFolder &f) { ++f.skippedEntries.invalidNames; }) << false;
    }

    void equality()
    {
        QFETCH(std::function<void(SyncFolder &)>, edit);
        QFETCH(bool, equal);
        SyncFolder folder;
        folder.path = QStringLiteral("/e/2024/Sommer");
        folder.name = QStringLiteral("Sommer");
        folder.displayName = QStringLiteral("Sommer");
        folder.relativePath = QStringLiteral("2024/Sommer");
        folder.parentComponents = {QStringLiteral("2024")};
        folder.imageCount = 2;
        folder.status = SyncStatus::synced(QStringLiteral("g1"), QStringLiteral("s1"), 2);
        folder.uploadedFiles = Files{{QStringLiteral("a.jpg"), 1, 2.0}};
        folder.movedFrom = QStringLiteral("Sommer");
        folder.cachedLocalFileMeta = LocalFileMetaMap{{QStringLiteral("a.jpg"), {1, 2.0}}};
        SyncFolder other = folder;
        edit(other);
        QCOMPARE(other == folder, equal);
        QCOMPARE(folder == other, equal);
    }

    void folderJsonBytes()
    {
        SyncFolder folder;
        folder.path = "/e/2024/Bryllup";
        folder.name = "Bryllup";
        folder.displayName = "Bryllup";
        folder.relativePath = "2024/Bryllup";
        folder.parentComponents = {"2024"};
        folder.imageCount = 2;
        folder.status = SyncStatus::failed("Opplasting feilet \"x\"");
        folder.uploadedFiles = Files{rec("a.jpg", 12, 760000000.5), rec("b.jpg", 3)};
        folder.movedFrom = "2023/Bryllup";
        folder.cachedLocalFileMeta = LocalFiles::fromNames(Names{"a.jpg"}); // caches are never written
        const QByteArray expected =
            R"({"path":"/e/2024/Bryllup","name":"Bryllup","displayName":"Bryllup","relativePath":"2024/Bryllup",)"
            // An ordinary literal: moc misreads a raw string holding a backslash before a quote.
            "\"parentComponents\":[\"2024\"],\"imageCount\":2,\"status\":{\"failed\":{\"_0\":\"Opplasting feilet \\\"x\\\"\"}},"
            R"("uploadedFiles":[{"fileName":"a.jpg","fileSize":12,"mtime":760000000.5},)"
            R"({"fileName":"b.jpg","fileSize":3}],"movedFrom":"2023/Bryllup"})";
        QCOMPARE(encodeSyncFolder(folder), expected);
        folder.cachedLocalFileMeta.reset();
        QCOMPARE(decodeSyncFolder(expected), folder);
    }

    void statusJson_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error"); // empty: decodes and survives a round trip
        const QString keys = QStringLiteral("Invalid number of keys found, expected one.");
        QTest::newRow("no case key") << QByteArray(R"({"other":{}})") << keys;
        QTest::newRow("two case keys") << QByteArray(R"({"ignored":{},"notSynced":{}})") << keys;
        QTest::newRow("extra key ignored") << QByteArray(R"({"ignored":{},"extra":1})") << QString();
        QTest::newRow("failed with _0") << QByteArray(R"({"failed":{"_0":"Feil"}})") << QString();
        QTest::newRow("failed with a bare string") << QByteArray(R"({"failed":"Feil"})") << "Expected an object";
        QTest::newRow("synced missing count") << QByteArray(R"({"synced":{"galleryId":"g","gallerySlug":"s"}})")
                                              << "Missing required key";
        QTest::newRow("tiny progress") << QByteArray(R"({"syncing":{"progress":0.0000001}})") << QString();
        QTest::newRow("progress as text") << QByteArray(R"({"syncing":{"progress":"1"}})")
                                          << "Expected a number at $.status.syncing.progress";
    }

    void statusJson()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        try {
            const SyncFolder decoded = decodeSyncFolder(folderJson(json));
            QVERIFY2(error.isEmpty(), "decoded where it should fail");
            QCOMPARE(decodeSyncFolder(encodeSyncFolder(decoded)), decoded);
        } catch (const SyncDecodingError &e) {
            QVERIFY2(!error.isEmpty() && e.description().contains(error), e.what());
        }
    }

    void legacyNames()
    {
        const QByteArray legacy = folderJson(R"({"notSynced":{}})", R"(,"uploadedFileNames":["a.jpg","b.jpg","a.jpg"])");
        const SyncFolder folder = decodeSyncFolder(legacy);
        QCOMPARE(folder.uploadedFiles->size(), 2);
        QVERIFY(folder.needsMetadataBaseline());
        const QByteArray again = encodeSyncFolder(folder);
        QVERIFY(!again.contains("uploadedFileNames"));
        QVERIFY2(again.contains(R"({"fileName":"a.jpg","fileSize":0})"), again);

        const QByteArray both = folderJson(R"({"notSynced":{}})", R"(,"uploadedFiles":[{"fileName":"z.jpg","fileSize":4}],)"
                                                                  R"("uploadedFileNames":["a.jpg"])");
        QCOMPARE(decodeSyncFolder(both).uploadedFiles, OptFiles(Files{rec("z.jpg", 4)}));
    }
};

QTEST_GUILESS_MAIN(TestSyncFolder)
#include "tst_syncfolder.moc"
