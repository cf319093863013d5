#include "support/LogCapture.h"
#include "sync/UploadHistoryStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kCategory = QStringLiteral("no.varnostima.mac.UploadHistory");

RecentUpload upload(const QString &galleryId, std::optional<QUrl> baseURL = std::nullopt)
{
    RecentUpload u;
    u.galleryId = galleryId;
    u.gallerySlug = QStringLiteral("slug-") + galleryId;
    u.title = QStringLiteral("Bryllup «Åse» \"Ola\"\n");
    u.imageCount = 42;
    u.completedAt = QDateTime::fromMSecsSinceEpoch(1718000000123LL, Qt::UTC);
    u.folderPath = QStringLiteral("/home/foto/Eksport/Bryllup Åse");
    u.baseURL = std::move(baseURL);
    return u;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestUploadHistoryStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    }

    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }

    void defaultLocationIsAppSupportFolder()
    {
        const UploadHistoryStore store;
        QCOMPARE(store.storeURL().toLocalFile(), m_home.path() + QStringLiteral("/Varnostima/recent-uploads.json"));
    }

    void firstStartWithoutFileIsSilent()
    {
        testsupport::LogCapture log;
        const UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QVERIFY(store.recentUploads().isEmpty());
        QVERIFY(log.lines(kCategory).isEmpty());
    }

    void roundTrip()
    {
        const QList<RecentUpload> uploads{upload(QStringLiteral("g1"), QUrl(QStringLiteral("https://staging.example.no"))),
                                          upload(QStringLiteral("g2"))};
        {
            UploadHistoryStore store(QUrl::fromLocalFile(path()));
            store.setRecentUploads(uploads);
            store.save();
        }
        const UploadHistoryStore reloaded(QUrl::fromLocalFile(path()));
        QCOMPARE(reloaded.recentUploads(), uploads);
        QCOMPARE(reloaded.recentUploads().at(0).id(), QStringLiteral("https://staging.example.no|g1"));
        QCOMPARE(reloaded.recentUploads().at(1).id(), QStringLiteral("g2"));
    }

    void fileFormat()
    {
        RecentUpload withBase = upload(QStringLiteral("g1"), QUrl(QStringLiteral("https://staging.example.no")));
        withBase.completedAt = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 10), Qt::UTC);
        RecentUpload withoutBase = upload(QStringLiteral("g2"));
        withoutBase.completedAt = QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC);
        UploadHistoryStore store(QUrl::fromLocalFile(path()));
        store.setRecentUploads({withBase, withoutBase});
        store.save();

        const QByteArray bytes = readFile(path());
        // Keys in field order, compact, no key for an absent base URL.
        QVERIFY(bytes.startsWith("[{\"galleryId\":\"g1\",\"gallerySlug\":\"slug-g1\",\"title\":"));
        QVERIFY(bytes.contains(",\"imageCount\":42,\"completedAt\":10,\"folderPath\":"));
        QVERIFY(bytes.contains("\"baseURL\":\"https://staging.example.no\"}"));
        QVERIFY(bytes.contains("\"completedAt\":1.5,"));
        QCOMPARE(bytes.count("baseURL"), 1);
        QVERIFY(!bytes.contains('\n')); // compact, and the title's line break escaped
        const QJsonArray array = QJsonDocument::fromJson(bytes).array();
        QCOMPARE(array.size(), 2);
        QCOMPARE(array.at(0).toObject().keys().size(), 7);
        QCOMPARE(array.at(1).toObject().keys().size(), 6);
        QCOMPARE(array.at(0).toObject().value(QStringLiteral("title")).toString(), withBase.title);
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QByteArray>("contents");
        const QByteArray good = encodeRecentUploads({upload(QStringLiteral("g1"))});
        QTest::newRow("not JSON") << QByteArray("{ not json");
        QTest::newRow("object, not array") << QByteArray("{}");
        QTest::newRow("record without title") << QByteArray(good).replace("\"title\":", "\"heading\":");
        QTest::newRow("null slug") << QByteArray("[{\"galleryId\":\"g\",\"gallerySlug\":null,\"title\":\"t\","
                                                 "\"imageCount\":1,\"completedAt\":1,\"folderPath\":\"/f\"}]");
        QTest::newRow("fractional count") << QByteArray(good).replace("\"imageCount\":42", "\"imageCount\":4.5");
        QTest::newRow("one bad record of two") << QByteArray("[") + good.mid(1, good.size() - 2) + ",{}]";
    }

    void unreadableFile()
    {
        QFETCH(QByteArray, contents);
        writeFile(path(), contents);
        testsupport::LogCapture log;
        const UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QVERIFY(store.recentUploads().isEmpty());
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to load recent uploads: ")), 1);
        // The file is left for the next save to replace.
        QCOMPARE(readFile(path()), contents);
    }

    void lenientReading()
    {
        writeFile(path(), "[{\"galleryId\":\"g\",\"gallerySlug\":\"s\",\"title\":\"t\",\"imageCount\":3,"
                          "\"completedAt\":7.25,\"folderPath\":\"/f\",\"baseURL\":null,\"extra\":[1]}]");
        const UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QCOMPARE(store.recentUploads().size(), 1);
        const RecentUpload &u = store.recentUploads().first();
        QVERIFY(!u.baseURL);
        QCOMPARE(u.imageCount, 3);
        QCOMPARE(u.completedAt, QDateTime(QDate(2001, 1, 1), QTime(0, 0, 7, 250), Qt::UTC));
    }

    void failedWriteKeepsListAndFile()
    {
        // A folder where the file should be: the write cannot replace it.
        QVERIFY(QDir().mkpath(path()));
        UploadHistoryStore store(QUrl::fromLocalFile(path()));
        const QList<RecentUpload> uploads{upload(QStringLiteral("g1"))};
        store.setRecentUploads(uploads);
        testsupport::LogCapture log;
        store.save();
        QCOMPARE(log.count(kCategory, QStringLiteral("Failed to save recent uploads: ")), 1);
        QCOMPARE(store.recentUploads(), uploads);
        QVERIFY(QFileInfo(path()).isDir());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    void emptyListSavesEmptyArray()
    {
        writeFile(path(), encodeRecentUploads({upload(QStringLiteral("g1"))}));
        UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QCOMPARE(store.recentUploads().size(), 1);
        store.setRecentUploads({});
        store.save();
        QCOMPARE(readFile(path()), QByteArray("[]"));
    }

    void notifiesOnlyOnChange()
    {
        UploadHistoryStore store(QUrl::fromLocalFile(path()));
        QSignalSpy spy(&store, &UploadHistoryStore::recentUploadsChanged);
        const QList<RecentUpload> uploads{upload(QStringLiteral("g1"))};
        store.setRecentUploads(uploads);
        store.setRecentUploads(uploads);
        QCOMPARE(spy.count(), 1);
        RecentUpload later = uploads.first();
        later.completedAt = later.completedAt.addMSecs(1);
        store.setRecentUploads({later});
        QCOMPARE(spy.count(), 2);
    }

private:
    QString path() const { return m_dir->filePath(QStringLiteral("recent-uploads.json")); }

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestUploadHistoryStore)
#include "tst_uploadhistorystore.moc"
