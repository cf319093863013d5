#include "service/AppSupport.h"
#include "service/SecureStorage.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using testsupport::LogCapture;

namespace {
const QString kStorage = QStringLiteral("no.varnostima.mac.Storage");

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

class TestSecureStorage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", m_home.path().toUtf8());
    }

    void folderIsPrivateAndNamed()
    {
        LogCapture log;
        const QString dir = appSupportDirectory();
        QCOMPARE(dir, m_home.path() + QStringLiteral("/Varnostima"));
        QCOMPARE(QFile::permissions(dir) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(log.lines(QStringLiteral("no.varnostima.mac.AppSupport")).isEmpty());

        SecureStorage storage(dir);
        storage.write(QStringLiteral("api-token"), QStringLiteral("abc"));
        QVERIFY(QFile::exists(dir + QStringLiteral("/.api-token")));
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral(".api-token")});
    }

    void readsExactly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("value");
        QTest::newRow("empty file is a value") << QByteArray("") << true << QString();
        QTest::newRow("trailing line break kept") << QByteArray("tok\n") << true << QStringLiteral("tok\n");
        QTest::newRow("white space kept") << QByteArray("  tok \t") << true << QStringLiteral("  tok \t");
        QTest::newRow("utf-8") << QByteArray("bl\xc3\xa5") << true << QStringLiteral("blå");
        QTest::newRow("invalid utf-8") << QByteArray("ab\xff") << false << QString();
    }
    void readsExactly()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, present);
        QFETCH(QString, value);
        QTemporaryDir dir;
        put(dir.filePath(QStringLiteral(".api-token")), bytes);
        LogCapture log;
        const auto read = SecureStorage(dir.path()).read(QStringLiteral("api-token"));
        QCOMPARE(read.has_value(), present);
        if (present) {
            QCOMPARE(*read, value);
            QVERIFY(!read->isNull() || value.isNull());
            QVERIFY(log.lines(kStorage).isEmpty());
        } else {
            QCOMPARE(log.count(kStorage, QStringLiteral("Failed to read api-token: ")), 1);
        }
    }

    void absentKeyIsSilent()
    {
        QTemporaryDir dir;
        LogCapture log;
        SecureStorage storage(dir.path());
        QVERIFY(!storage.read(QStringLiteral("base-url")));
        storage.remove(QStringLiteral("base-url"));
        QVERIFY(log.lines(kStorage).isEmpty());
    }

    void writeReplacesAndIsPrivate()
    {
        QTemporaryDir dir;
        SecureStorage storage(dir.path());
        storage.write(QStringLiteral("api-token"), QStringLiteral("first value"));
        storage.write(QStringLiteral("api-token"), QStringLiteral("second"));
        QFile file(storage.filePath(QStringLiteral("api-token")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("second"));
        QCOMPARE(file.permissions() & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        storage.remove(QStringLiteral("api-token"));
        QVERIFY(!file.exists());
    }

    // CI runs as root: a folder where the file should be is what makes these fail.
    void failuresAreLoggedAndSwallowed()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral(".api-token")));
        SecureStorage storage(dir.path());
        LogCapture log;
        QVERIFY(!storage.read(QStringLiteral("api-token")));
        storage.write(QStringLiteral("api-token"), QStringLiteral("x"));
        storage.remove(QStringLiteral("api-token"));
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to read api-token: ")), 1);
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to write api-token: ")), 1);
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to delete api-token: ")), 1);
        QVERIFY(QFileInfo(storage.filePath(QStringLiteral("api-token"))).isDir());
    }

    void missingFolderFailsWritesQuietlyForReads()
    {
        QTemporaryDir dir;
        SecureStorage storage(dir.filePath(QStringLiteral("missing")));
        LogCapture log;
        QVERIFY(!storage.read(QStringLiteral("api-token")));
        QVERIFY(log.lines(kStorage).isEmpty());
        storage.write(QStringLiteral("api-token"), QStringLiteral("x"));
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to write api-token")), 1);
    }
};

QTEST_GUILESS_MAIN(TestSecureStorage)
#include "tst_securestorage.moc"
