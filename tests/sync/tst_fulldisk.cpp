// A write that cannot reach the disk (a full file system, here a file-size limit) leaves the file it would have
// replaced exactly as it was, and what still matters is written once the disk takes it again: at once when a later
// write succeeds, and at the latest when the app quits.

#include "UploadTestFixture.h"

#include "app/AppDelegate.h"
#include "platform/ExportFolderBookmark.h"
#include "platform/LoginItemService.h"
#include "platform/PlatformError.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "sync/RecentUpload.h"
#include "sync/SyncErrors.h"
#include "sync/SyncManager.h"
#include "sync/UploadHistoryStore.h"

#include "support/FileCapabilities.h"
#include "support/FileBytes.h"

#include <QGuiApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// While it lives, no file of this process may grow: every write fails as on a full disk.
class FullDisk
{
public:
    FullDisk()
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = m_saved;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FullDisk() { end(); }
    void end()
    {
        if (m_ended)
            return;
        m_ended = true;
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_ended = false;
};

// Files beside path that a write of it left behind (a temporary copy).
QStringList leftovers(const QString &path)
{
    const QFileInfo info(path);
    QStringList names = QDir(info.absolutePath())
                            .entryList({info.fileName() + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    names.removeAll(info.fileName());
    return names;
}

RecentUpload upload(const QString &id)
{
    return {id, id + QStringLiteral("-slug"), QStringLiteral("Galleri ") + id, 3,
            QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC), QStringLiteral("/e/") + id, std::nullopt};
}

constexpr int kRetryWait = 60000; // the first retry comes after 5 s; the rest is room for a loaded machine
constexpr auto kNoRetry = 1h;      // a back-off no test outlasts: only the disk coming back explains a write

struct NoLoginItems final : LoginItemService {
    bool isEnabled() const override { return false; }
    void registerItem() override {}
    void unregisterItem() override {}
};

// The composition root over the stand-in service, signed out, its files in support.
std::unique_ptr<AppDelegate> makeDelegate(const QString &support, VarnostimaAPI &api)
{
    AppPlatform platform;
    platform.supportDirectory = support;
    platform.api = &api;
    platform.notificationCenter = std::make_unique<FakeNotificationCenter>();
    platform.urlOpener = std::make_unique<RecordingUrlOpener>();
    platform.loginItems = std::make_unique<NoLoginItems>();
    platform.updater = std::make_unique<FakeUpdater>();
    platform.restoreSignInAtStart = false;
    return std::make_unique<AppDelegate>(std::move(platform));
}

} // namespace

class TestFullDisk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failedWriteKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("retried"); // written once the disk takes it again
        QTest::newRow("token") << QStringLiteral("token") << true;
        QTest::newRow("recent uploads") << QStringLiteral("recent uploads") << true;
        QTest::newRow("export-folder bookmark") << QStringLiteral("bookmark") << true;
        QTest::newRow("autostart entry") << QStringLiteral("autostart") << false;
    }

    void failedWriteKeepsTheOldFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, retried);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path();

        QString path;
        QByteArray oldBytes;
        QByteArray newBytes;
        std::function<void()> writeNew;
        std::function<QByteArray()> seenByOwner; // what the owner reads back meanwhile

        SecureStorage storage(folder);
        std::unique_ptr<UploadHistoryStore> history;
        VarnostimaAPI nowhere; // the scan that follows a new export folder is refused at once, on this machine
        nowhere.setCredentials(QUrl(QStringLiteral("http://127.0.0.1:1")), QStringLiteral("t"));
        std::unique_ptr<SyncManager> manager;
        std::unique_ptr<AutostartEntry> autostart;
        QTemporaryDir exportA;
        QTemporaryDir exportB;

        if (kind == u"token") {
            path = storage.filePath(QStringLiteral("api-token"));
            storage.write(QStringLiteral("api-token"), QStringLiteral("gammel"));
            oldBytes = "gammel";
            newBytes = "ny-token";
            writeNew = [&] { storage.write(QStringLiteral("api-token"), QString::fromUtf8(newBytes)); };
            seenByOwner = [&] { return storage.read(QStringLiteral("api-token")).value_or(QString()).toUtf8(); };
        } else if (kind == u"recent uploads") {
            path = folder + QStringLiteral("/recent-uploads.json");
            history = std::make_unique<UploadHistoryStore>(QUrl::fromLocalFile(path));
            history->setRecentUploads({upload(QStringLiteral("a"))});
            history->save();
            history->flush();
            oldBytes = encodeRecentUploads({upload(QStringLiteral("a"))});
            newBytes = encodeRecentUploads({upload(QStringLiteral("b")), upload(QStringLiteral("a"))});
            writeNew = [&] {
                history->setRecentUploads({upload(QStringLiteral("b")), upload(QStringLiteral("a"))});
                history->save();
                history->flush();
            };
        } else if (kind == u"bookmark") {
            manager = std::make_unique<SyncManager>(folder);
            manager->setAPI(nowhere);
            path = manager->bookmarkFilePath();
            manager->setWatchFolder(exportA.path());
            oldBytes = exportA.path().toUtf8();
            newBytes = exportB.path().toUtf8();
            writeNew = [&] { manager->setWatchFolder(exportB.path()); };
        } else {
            path = folder + QStringLiteral("/varnostima.desktop");
            autostart = std::make_unique<AutostartEntry>(path, QStringLiteral("/usr/bin/varnostima"));
            autostart->registerItem();
            oldBytes = testsupport::readFile(path);
            writeNew = [&] { QVERIFY_THROWS_EXCEPTION(PlatformError, autostart->registerItem()); };
        }
        QCOMPARE(testsupport::readFile(path), oldBytes);

        FullDisk full;
        writeNew();
        QCOMPARE(testsupport::readFile(path), oldBytes);
        QCOMPARE(leftovers(path), QStringList());
        if (seenByOwner)
            QCOMPARE(seenByOwner(), newBytes);
        full.end();

        if (retried)
            QTRY_COMPARE_WITH_TIMEOUT(testsupport::readFile(path), newBytes, kRetryWait);
        else
            QCOMPARE(testsupport::readFile(path), oldBytes);
    }

    // A file its owner may not write (mode 000) is replaced all the same: only its folder must be writable.
    void unwritableFileIsReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("token") << QStringLiteral("token");
        QTest::newRow("recent uploads") << QStringLiteral("recent uploads");
        QTest::newRow("export-folder bookmark") << QStringLiteral("bookmark");
    }

    void unwritableFileIsReplaced()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QTemporaryDir exportFolder;
        SecureStorage storage(dir.path());
        UploadHistoryStore history(QUrl::fromLocalFile(dir.filePath(QStringLiteral("recent-uploads.json"))));
        VarnostimaAPI nowhere; // the scan that follows a new export folder is refused at once
        nowhere.setCredentials(QUrl(QStringLiteral("http://127.0.0.1:1")), QStringLiteral("t"));
        SyncManager manager(dir.path());
        manager.setAPI(nowhere);
        const QString path = kind == u"token"           ? storage.filePath(QStringLiteral("api-token"))
                             : kind == u"recent uploads" ? history.storeURL().toLocalFile()
                                                         : manager.bookmarkFilePath();
        QVERIFY(testsupport::writeFile(path, "old"));
        QVERIFY(QFile::setPermissions(path, {}));
        QVERIFY(!QFileInfo(path).isWritable());

        QByteArray expected = exportFolder.path().toUtf8();
        if (kind == u"token") {
            storage.write(QStringLiteral("api-token"), QString::fromUtf8(expected));
        } else if (kind == u"recent uploads") {
            history.setRecentUploads({upload(QStringLiteral("a"))});
            history.save();
            history.flush();
            expected = encodeRecentUploads(history.recentUploads());
        } else {
            manager.setWatchFolder(exportFolder.path());
        }
        QCOMPARE(testsupport::readFile(path), expected);
        QCOMPARE(QFileInfo(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                    | QFileDevice::ReadUser | QFileDevice::WriteUser);
        QCOMPARE(leftovers(path), QStringList());
        manager.flushState();
    }

    // A write that succeeds after failures starts at once every write and run that waits for the disk, long before
    // its back-off.
    void diskBackStartsWhatWaits_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("token") << QStringLiteral("token");
        QTest::newRow("recent uploads") << QStringLiteral("recent uploads");
        QTest::newRow("folder failed for the disk") << QStringLiteral("folder");
    }

    void diskBackStartsWhatWaits()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        SecureStorage waiting(dir.path(), kNoRetry);
        UploadHistoryStore history(QUrl::fromLocalFile(dir.filePath(QStringLiteral("recent-uploads.json"))), nullptr,
                                   kNoRetry);
        std::unique_ptr<uploadtest::Engine> engine;
        if (kind == u"folder") {
            engine = std::make_unique<uploadtest::Engine>(
                SyncDelays{.refresh = 50ms, .autoSync = 50ms, .streamLatency = 100ms, .firstRetry = kNoRetry,
                           .maxRetry = kNoRetry, .settle = 0ms});
            engine->tree.addFile(QStringLiteral("Shoot/a.jpg"), 10);
        }
        QTemporaryDir other;
        SecureStorage writer(other.path()); // the later write
        std::function<bool()> done;

        FullDisk full;
        writer.write(QStringLiteral("base-url"), QStringLiteral("http://127.0.0.1:1"));
        if (kind == u"token") {
            waiting.write(QStringLiteral("api-token"), QStringLiteral("token"));
            done = [&] { return testsupport::readFile(waiting.filePath(QStringLiteral("api-token"))) == "token"; };
        } else if (kind == u"recent uploads") {
            history.setRecentUploads({upload(QStringLiteral("a"))});
            history.save();
            history.flush();
            done = [&] { return !testsupport::readFile(history.storeURL().toLocalFile()).isEmpty(); };
        } else {
            engine->watch();
            QTRY_COMPARE_WITH_TIMEOUT(engine->entry(QStringLiteral("Shoot")).status.failureMessage(),
                                      SyncManagerError::unsaved().localizedDescription(), kRetryWait);
            done = [&] { return engine->entry(QStringLiteral("Shoot")).status.is(SyncStatus::Case::synced); };
        }
        QVERIFY(!done());
        full.end();
        writer.write(QStringLiteral("base-url"), QStringLiteral("http://127.0.0.1:2"));
        QTRY_VERIFY_WITH_TIMEOUT(done(), kRetryWait);
        if (engine)
            engine->manager->flushState();
    }

    // At quit every small file waiting for its retry is written once more: the disk had room again by then.
    void quitWritesWhatWaits_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("sign-in") << QStringLiteral("token");
        QTest::newRow("recent uploads") << QStringLiteral("recent uploads");
        QTest::newRow("export-folder bookmark") << QStringLiteral("bookmark");
    }

    void quitWritesWhatWaits()
    {
        QFETCH(QString, kind);
        testsupport::StandInService service;
        service.addAccount("quit-token");
        VarnostimaAPI api;
        api.setTimeouts({3s, 3s, 10s});
        QTemporaryDir support;
        QTemporaryDir exportFolder;
        SecureStorage(support.path()).write(QStringLiteral("base-url"), service.baseUrl().toString());
        const std::unique_ptr<AppDelegate> delegate = makeDelegate(support.path(), api);
        if (kind == u"bookmark") // signed in, so the scan after the new export folder goes to the stand-in
            api.setCredentials(service.baseUrl(), QStringLiteral("quit-token"));

        QString path;
        QByteArray expected;
        {
            FullDisk full;
            if (kind == u"token") {
                testsupport::awaitTask(delegate->authManager().login(QStringLiteral("quit-token")));
                QVERIFY(delegate->authManager().isAuthenticated());
                path = SecureStorage(support.path()).filePath(QStringLiteral("api-token"));
                expected = "quit-token";
            } else if (kind == u"recent uploads") {
                delegate->recordUpload(UploadKind::updated, QStringLiteral("g1"), QStringLiteral("s"),
                                       QStringLiteral("T"), 2, exportFolder.path());
                delegate->historyStore().flush();
                path = delegate->historyStore().storeURL().toLocalFile();
                expected = encodeRecentUploads(delegate->historyStore().recentUploads());
            } else {
                delegate->syncManager().setWatchFolder(exportFolder.path());
                path = delegate->syncManager().bookmarkFilePath();
                expected = exportFolder.path().toUtf8();
            }
        }
        QVERIFY(testsupport::readFile(path) != expected);
        delegate->applicationWillTerminate();
        QCOMPARE(testsupport::readFile(path), expected);
        QTRY_VERIFY(!delegate->syncManager().isReconciling());
    }

    // A removal wins over a write still waiting for its retry: a sign-out is never undone by the disk coming back.
    void removalCancelsTheRetry()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        SecureStorage storage(dir.path());
        {
            FullDisk full;
            storage.write(QStringLiteral("api-token"), QStringLiteral("token"));
        }
        storage.remove(QStringLiteral("api-token"));
        QVERIFY(!storage.read(QStringLiteral("api-token")));
        storage.write(QStringLiteral("base-url"), QStringLiteral("http://127.0.0.1:1"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(storage.filePath(QStringLiteral("base-url"))), kRetryWait);
        QTest::qWait(6000); // past the first retry
        QVERIFY(!QFile::exists(storage.filePath(QStringLiteral("api-token"))));
    }
};

int main(int argc, char *argv[])
{
    if (!testsupport::dropFileAccessOverride())
        qFatal("capset failed");
    QGuiApplication app(argc, argv);
    TestFullDisk test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fulldisk.moc"
