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
const QString kKey = QStringLiteral("api-token");
constexpr auto kPrivateBits = QFileDevice::Permissions(0x7077);
} // namespace

class TestSecureStorage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_DATA_HOME", m_home.path().toUtf8()); }

    void folderAndFilesArePrivateAndNamed()
    {
        LogCapture log;
        const QString dir = appSupportDirectory();
        QCOMPARE(dir, m_home.path() + QStringLiteral("/Varnostima"));
        QCOMPARE(QFile::permissions(dir) & kPrivateBits,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

        SecureStorage storage(dir);
        storage.write(kKey, QStringLiteral("first value"));
        storage.write(kKey, QStringLiteral("second"));
        QFile file(dir + QStringLiteral("/.api-token"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("second")); // replaced, never appended
        QCOMPARE(file.permissions() & kPrivateBits, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral(".api-token")});
        storage.remove(kKey);
        QVERIFY(!file.exists());
        QVERIFY(log.lines().isEmpty());
    }

    void readsExactly_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("logLines");
        QTest::newRow("no file") << QByteArray() << false << QString() << 0;
        QTest::newRow("empty file is a value") << QByteArray("") << true << QString() << 0;
        QTest::newRow("white space and line break kept") << QByteArray(" tok\t\n") << true << QStringLiteral(" tok\t\n") << 0;
        QTest::newRow("utf-8") << QByteArray("bl\xc3\xa5") << true << QStringLiteral("blå") << 0;
        QTest::newRow("invalid utf-8") << QByteArray("ab\xff") << false << QString() << 1;
    }
    void readsExactly()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, present);
        QFETCH(QString, value);
        QFETCH(int, logLines);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral(".api-token")));
        if (!bytes.isNull()) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
            file.close();
        }
        LogCapture log;
        const auto read = SecureStorage(dir.path()).read(kKey);
        QCOMPARE(read.has_value(), present);
        if (present)
            QCOMPARE(*read, value);
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to read api-token: ")), logLines);
        SecureStorage(dir.path()).remove(kKey);
        QCOMPARE(log.lines(kStorage).size(), logLines); // deleting an absent key is silent too
    }

    // CI runs as root: a folder where the file should be is what makes these fail.
    void failuresAreLoggedAndSwallowed()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral(".api-token")));
        SecureStorage storage(dir.path());
        SecureStorage missingFolder(dir.filePath(QStringLiteral("missing")));
        LogCapture log;
        QVERIFY(!storage.read(kKey));
        storage.write(kKey, QStringLiteral("x"));
        storage.remove(kKey);
        QVERIFY(!missingFolder.read(kKey));
        missingFolder.write(kKey, QStringLiteral("x"));
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to read api-token: ")), 1);
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to write api-token: ")), 2);
        QCOMPARE(log.count(kStorage, QStringLiteral("Failed to delete api-token: ")), 1);
        QVERIFY(QFileInfo(storage.filePath(kKey)).isDir());
    }
};

QTEST_GUILESS_MAIN(TestSecureStorage)
#include "tst_securestorage.moc"
