// The upload history file: exact bytes, round trip, unreadable files left alone, atomic writes.

#include "support/FileBytes.h"
#include "support/LogCapture.h"
#include "sync/UploadHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.UploadHistory");

RecentUpload upload(const QString &galleryId, double secondsSince2001, std::optional<QUrl> baseURL = std::nullopt)
{
    return RecentUpload{galleryId,
                        QStringLiteral("slug-") + galleryId,
                        QStringLiteral("Bryllup «Åse» \"Ola\"\n"),
                        42,
                        QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(qint64(secondsSince2001 * 1000)),
                        QStringLiteral("/home/foto/Bryllup Åse"),
                        std::move(baseURL)};
}

} // namespace

class TestUploadHistoryStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }

    void firstStartWithoutFileIsSilent()
    {
        qputenv("XDG_DATA_HOME", m_dir->path().toUtf8());
        QCOMPARE(UploadHistoryStore().storeURL().toLocalFile(), m_dir->filePath("Varnostima/recent-uploads.json"));
        testsupport::LogCapture log;
        const UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QVERIFY(store.recentUploads().isEmpty());
        QVERIFY(log.lines(kCategory).isEmpty());
    }

    void fileBytesAndRoundTrip()
    {
        const QList<RecentUpload> uploads{upload("g1", 10, QUrl("https://staging.example.no")), upload("g2", 1.5)};
        {
            UploadHistoryStore store(QUrl::fromLocalFile(path()));
            store.setRecentUploads(uploads);
            store.save();
        }
        const QByteArray record = "\"title\":\"Bryllup «Åse» \\\"Ola\\\"\\n\",\"imageCount\":42,\"completedAt\":";
        QCOMPARE(readFile(path()),
                 R"([{"galleryId":"g1","gallerySlug":"slug-g1",)" + record
                     + R"(10,"folderPath":"/home/foto/Bryllup Åse","baseURL":"https://staging.example.no"},)"
                       R"({"galleryId":"g2","gallerySlug":"slug-g2",)" + record
                     + R"(1.5,"folderPath":"/home/foto/Bryllup Åse"}])");

        UploadHistoryStore reloaded(QUrl::fromLocalFile(path()));
        QCOMPARE(reloaded.recentUploads(), uploads);
        QCOMPARE(reloaded.recentUploads().at(0).id(), "https://staging.example.no|g1");
        QCOMPARE(reloaded.recentUploads().at(1).id(), "g2");

        // Saves in a row reach the disk in their order: the last one stays.
        reloaded.save();
        reloaded.setRecentUploads({});
        reloaded.save();
        reloaded.flush();
        QCOMPARE(readFile(path()), QByteArray("[]"));
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("loaded"); // -1: the file is unreadable
        QTest::addColumn<int>("skipped");
        const QByteArray good = encodeRecentUploads({upload("g1", 1)});
        const QByteArray three = encodeRecentUploads({upload("g1", 1), upload("g2", 2), upload("g3", 3)});
        QTest::newRow("null base URL, unknown key")
            << QByteArray(good).replace("}]", R"(,"baseURL":null,"x":[1]}])") << 1 << 0;
        QTest::newRow("not JSON") << QByteArray("{ not json") << -1 << 0;
        QTest::newRow("object, not array") << QByteArray("{}") << -1 << 0;
        // A damaged record is skipped alone.
        QTest::newRow("record without title") << QByteArray(good).replace("\"title\":", "\"heading\":") << 0 << 1;
        QTest::newRow("null slug") << QByteArray(three).replace("\"slug-g2\"", "null") << 2 << 1;
        QTest::newRow("fractional count")
            << QByteArray(good).replace("\"imageCount\":42", "\"imageCount\":4.5") << 0 << 1;
        QTest::newRow("empty record among good ones") << three.chopped(1) + ",{}]" << 3 << 1;
        QTest::newRow("number among records") << QByteArray(three).insert(1, "7,") << 3 << 1;
    }

    void reading()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, loaded);
        QFETCH(int, skipped);
        QVERIFY(writeFile(path(), contents));
        testsupport::LogCapture log;
        const UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QCOMPARE(store.recentUploads().size(), qMax(loaded, 0));
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to load recent uploads: ")), loaded < 0 ? 1 : 0);
        QCOMPARE(log.count(kCategory, QStringLiteral("Skipped a damaged recent upload: record ")), skipped);
        for (const RecentUpload &kept : store.recentUploads())
            QVERIFY(contents.contains(kept.galleryId.toUtf8()));
        QCOMPARE(readFile(path()), contents); // the file stays as it is until the next save
    }

    void failedWriteKeepsListAndFile()
    {
        // A folder where the file should be: the write cannot replace it, and leaves no temporary behind.
        QVERIFY(QDir().mkpath(path()));
        UploadHistoryStore store(QUrl::fromLocalFile(path()));
        const QList<RecentUpload> uploads{upload("g1", 1)};
        store.setRecentUploads(uploads);
        testsupport::LogCapture log;
        store.save();
        store.flush();
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to save recent uploads: ")), 1);
        QCOMPARE(store.recentUploads(), uploads);
        QVERIFY(QFileInfo(path()).isDir());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    void menuAndNotifications()
    {
        UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QSignalSpy spy(&store, &UploadHistoryStore::recentUploadsChanged);
        QList<RecentUpload> seven;
        for (int i = 0; i < 7; ++i)
            seven.append(upload(QString::number(i), i));
        store.setRecentUploads(seven);
        store.setRecentUploads(seven);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(store.recentUploadsForMenu(), seven.first(5));
        seven.first().completedAt = seven.first().completedAt.addMSecs(1);
        store.setRecentUploads(seven);
        QCOMPARE(spy.count(), 2);
    }

private:
    QString path() const { return m_dir->filePath(QStringLiteral("recent-uploads.json")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestUploadHistoryStore)
#include "tst_uploadhistorystore.moc"
