// The composition root over fakes: a stand-in service, a recording browser and notification centre, and a clock
// the test moves by hand.

#include "app/AppDelegate.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"
#include "sync/UploadHistoryStore.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::LogCapture;

namespace {

const QString kDelegate = QStringLiteral("no.varnostima.mac.AppDelegate");
const QByteArray kToken = "delegate-token";

struct NoLoginItems final : LoginItemService {
    bool isEnabled() const override { return false; }
    void registerItem() override {}
    void unregisterItem() override {}
};

// "g1@a:10" is gallery g1 under base URL a, uploaded ten minutes before the new upload; "-" stands for no base URL.
RecentUpload entry(const QString &text, const QDateTime &now)
{
    const QStringList idAndRest = text.split(QLatin1Char('@'));
    const QStringList baseAndAge = idAndRest.value(1).split(QLatin1Char(':'));
    RecentUpload upload;
    upload.galleryId = idAndRest.value(0);
    upload.title = upload.galleryId;
    upload.imageCount = 1;
    if (baseAndAge.value(0) != QLatin1String("-"))
        upload.baseURL = QUrl(QStringLiteral("https://") + baseAndAge.value(0) + QStringLiteral(".example"));
    upload.completedAt = now.addSecs(-qint64(baseAndAge.value(1).toDouble() * 60));
    return upload;
}

QString describe(const QList<RecentUpload> &uploads)
{
    QStringList parts;
    for (const RecentUpload &upload : uploads)
        parts.append(upload.galleryId + QLatin1Char('@')
                     + (upload.baseURL ? upload.baseURL->host().section(QLatin1Char('.'), 0, 0) : QStringLiteral("-")));
    return parts.join(QLatin1Char(','));
}

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::StandInService> m_service;
    std::unique_ptr<VarnostimaAPI> m_api;
    std::unique_ptr<testsupport::TempTree> m_support;
    QDateTime m_now;
    FakeNotificationCenter *m_center = nullptr;
    RecordingUrlOpener *m_opener = nullptr;

    std::unique_ptr<AppDelegate> makeDelegate(bool restoreSignIn = false)
    {
        AppPlatform platform;
        platform.supportDirectory = m_support->root();
        platform.api = m_api.get();
        auto center = std::make_unique<FakeNotificationCenter>();
        m_center = center.get();
        platform.notificationCenter = std::move(center);
        auto opener = std::make_unique<RecordingUrlOpener>();
        m_opener = opener.get();
        platform.urlOpener = std::move(opener);
        platform.loginItems = std::make_unique<NoLoginItems>();
        platform.updater = std::make_unique<FakeUpdater>();
        platform.clock = [this] { return m_now; };
        platform.restoreSignInAtStart = restoreSignIn;
        return std::make_unique<AppDelegate>(std::move(platform));
    }

    static void signIn(AppDelegate &delegate)
    {
        testsupport::awaitTask(delegate.authManager().login(QString::fromLatin1(kToken)));
        QVERIFY(delegate.authManager().isAuthenticated());
    }

private Q_SLOTS:
    void init()
    {
        m_service = std::make_unique<testsupport::StandInService>();
        m_service->addAccount(kToken);
        m_api = std::make_unique<VarnostimaAPI>();
        m_api->setTimeouts({3s, 3s, 10s});
        m_support = std::make_unique<testsupport::TempTree>();
        SecureStorage(m_support->root()).write(QStringLiteral("base-url"), m_service->baseUrl().toString());
        m_now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    }
    void cleanup()
    {
        m_api.reset();
        m_service.reset();
        m_support.reset();
    }

    void wiresCallbacksAndLaunchesInOrder()
    {
        LogCapture log;
        auto delegate = makeDelegate();
        const AppContext context = delegate->context();
        QVERIFY(context.launchAtLogin && context.notifications && context.updates && context.thumbnails);

        delegate->applicationWillFinishLaunching(nullptr);
        QVERIFY(log.contains(kDelegate, QStringLiteral("Registered URL scheme handler")));
        // Signed out at launch: permission is asked, no scan starts.
        delegate->applicationDidFinishLaunching();
        QTRY_COMPARE(m_center->requests, 1);
        QCOMPARE(log.count(kDelegate, QStringLiteral("Starting full scan")), 0);

        // A sign-in starts a scan once the account manager has settled.
        signIn(*delegate);
        QTRY_COMPARE(log.count(kDelegate, QStringLiteral("Starting full scan (signed in)")), 1);
        // Signed in at launch: a scan starts at once.
        delegate->applicationDidFinishLaunching();
        QCOMPARE(log.count(kDelegate, QStringLiteral("Starting full scan (launch)")), 1);

        // Signing out empties the history and writes the empty list.
        delegate->recordUpload(UploadKind::updated, QStringLiteral("g1"), QStringLiteral("s"), QStringLiteral("T"),
                               2, m_support->root());
        QCOMPARE(delegate->historyStore().recentUploads().size(), 1);
        delegate->authManager().logout();
        QVERIFY(delegate->historyStore().recentUploads().isEmpty());
        delegate->historyStore().flush();
        QFile file(m_support->path(QStringLiteral("recent-uploads.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().trimmed(), QByteArray("[]"));
    }

    // At quit the log says whether the state reached the disk, and what did not.
    void quitSaysWhetherTheStateWasWritten_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("written") << false;
        QTest::newRow("the disk refuses it") << true;
    }

    void quitSaysWhetherTheStateWasWritten()
    {
        QFETCH(bool, refused);
        LogCapture log;
        auto delegate = makeDelegate();
        SyncManager &manager = delegate->syncManager();
        // Where the next state file and the new log go; the log does not exist yet, so its start is refused too.
        const QStringList blockers{manager.stateFilePath() + QStringLiteral(".tmp"),
                                   manager.ledger().logFilePath() + QStringLiteral(".tmp")};
        QVERIFY(!QFile::exists(manager.ledger().logFilePath()));
        for (const QString &blocker : blockers) {
            if (refused)
                QVERIFY(QDir().mkpath(blocker));
        }
        manager.setIgnoredPaths({QStringLiteral("/e/privat")});
        manager.saveState();
        delegate->applicationWillTerminate();
        QCOMPARE(log.contains(kDelegate, QStringLiteral("State written; quitting")), !refused);
        QCOMPARE(log.contains(kDelegate, QStringLiteral("State not written: the file holds the state of an earlier "
                                                        "start, later saves not on disk: ")),
                 refused);
        QCOMPARE(QFile::exists(manager.stateFilePath()), !refused);
        for (const QString &blocker : blockers)
            QDir(blocker).removeRecursively();
    }

    // The stored sign-in is checked only after construction, so its outcome reaches the callbacks installed there.
    void restoredSignInReachesTheCallbacks_data()
    {
        QTest::addColumn<QByteArray>("storedToken");
        QTest::addColumn<int>("scans");
        QTest::addColumn<int>("historyLeft");
        QTest::newRow("accepted") << kToken << 1 << 1;
        QTest::newRow("refused") << QByteArray("revoked") << 0 << 0;
    }
    void restoredSignInReachesTheCallbacks()
    {
        QFETCH(QByteArray, storedToken);
        QFETCH(int, scans);
        QFETCH(int, historyLeft);
        LogCapture log;
        SecureStorage(m_support->root()).write(QStringLiteral("api-token"), QString::fromLatin1(storedToken));
        {
            UploadHistoryStore history(QUrl::fromLocalFile(m_support->path(QStringLiteral("recent-uploads.json"))));
            history.setRecentUploads({entry(QStringLiteral("g1@a:5"), m_now)});
            history.save();
        }
        auto delegate = makeDelegate(true);
        QCOMPARE(delegate->historyStore().recentUploads().size(), 1);
        const QString auth = QStringLiteral("no.varnostima.mac.Auth");
        QTRY_VERIFY(log.contains(auth, QStringLiteral("Session restored"))
                    || log.contains(auth, QStringLiteral("Stored token invalid")));
        QTRY_COMPARE(log.count(kDelegate, QStringLiteral("Starting full scan (signed in)")), scans);
        QCOMPARE(delegate->historyStore().recentUploads().size(), historyLeft);
    }

    void activationScansAfterThirtySeconds_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QList<int>>("activationSeconds");
        QTest::addColumn<int>("scans");
        QTest::newRow("first activation") << true << QList<int>{0} << 1;
        QTest::newRow("20 s later") << true << QList<int>{0, 20} << 1;
        QTest::newRow("exactly 30 s later") << true << QList<int>{0, 30} << 1;
        QTest::newRow("31 s later") << true << QList<int>{0, 31} << 2;
        QTest::newRow("counted from the last scan") << true << QList<int>{0, 20, 31, 50, 62} << 3;
        QTest::newRow("signed out: never") << false << QList<int>{0, 31} << 0;
    }
    void activationScansAfterThirtySeconds()
    {
        QFETCH(bool, signedIn);
        QFETCH(QList<int>, activationSeconds);
        QFETCH(int, scans);
        LogCapture log;
        auto delegate = makeDelegate();
        if (signedIn)
            signIn(*delegate);
        const QDateTime start = m_now;
        for (const int seconds : activationSeconds) {
            m_now = start.addSecs(seconds);
            delegate->applicationDidBecomeActive();
        }
        QCOMPARE(log.count(kDelegate, QStringLiteral("Starting full scan (activation)")), scans);
    }

    // The scheme rules themselves are tst_callbackurl's; here only that the delegate applies them.
    void callbackURLsReachTheAccountOnlyByTheirScheme_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("reaches");
        QTest::newRow("own scheme") << "varnostima://auth?token=abc" << true;
        QTest::newRow("scheme in capitals") << "VARNOSTIMA://auth?token=abc" << false;
        QTest::newRow("not a URL") << "" << false;
    }
    void callbackURLsReachTheAccountOnlyByTheirScheme()
    {
        QFETCH(QString, url);
        QFETCH(bool, reaches);
        auto delegate = makeDelegate();
        QSignalSpy loading(&delegate->authManager(), &AuthManager::isLoadingChanged);
        delegate->handleURLEvent(url);
        QCOMPARE(!loading.isEmpty(), reaches);
        if (reaches)
            QTRY_VERIFY(!delegate->authManager().isLoading()); // the refused token has been checked
    }

    // Any page can send the link: while the user counts as signed in (a stored sign-in still being checked too), it
    // must not switch accounts.
    void callbackWhileSignedInIsIgnored_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("signed in") << "signed in";
        QTest::newRow("at launch, stored sign-in not checked yet") << "launch";
        QTest::newRow("stored sign-in being checked") << "checking";
    }
    void callbackWhileSignedInIsIgnored()
    {
        QFETCH(QString, when);
        LogCapture log;
        m_service->addAccount("other-account");
        const QString link = QStringLiteral("varnostima://auth?token=other-account");
        std::unique_ptr<AppDelegate> delegate;
        if (when == QLatin1String("signed in")) {
            delegate = makeDelegate();
            signIn(*delegate);
            delegate->handleURLEvent(link);
        } else {
            SecureStorage(m_support->root()).write(QStringLiteral("api-token"), QString::fromLatin1(kToken));
            testsupport::ScriptedAnswer late{200, "{}"};
            late.held = when == QLatin1String("checking");
            m_service->script("GET", "/api/auth/me", late);
            delegate = makeDelegate(true);
            if (late.held)
                QTRY_VERIFY(!m_service->requests("GET", "/api/auth/me").isEmpty());
            delegate->handleURLEvent(link);
            m_service->releaseHeld();
            QTRY_VERIFY(delegate->authManager().isAuthenticated());
            QTRY_VERIFY(!delegate->authManager().isLoading());
        }
        QVERIFY(log.contains(kDelegate, QStringLiteral("Ignored sign-in callback")));
        for (const auto &request : m_service->requests("GET", "/api/auth/me"))
            QCOMPARE(request.header("Authorization"), "Bearer " + kToken);
        QCOMPARE(m_api->authToken(), std::optional<QString>(QString::fromLatin1(kToken)));
        QCOMPARE(SecureStorage(m_support->root()).read(QStringLiteral("api-token")), QString::fromLatin1(kToken));

        // Signing out first still switches accounts.
        delegate->authManager().logout();
        delegate->handleURLEvent(link);
        QTRY_COMPARE(m_api->authToken(), std::optional<QString>(QStringLiteral("other-account")));
        QTRY_VERIFY(delegate->authManager().isAuthenticated());
    }

    void mergedHistory_data()
    {
        QTest::addColumn<QStringList>("history");
        QTest::addColumn<QString>("upload");
        QTest::addColumn<QString>("expected");
        QTest::newRow("same gallery 10 min apart") << QStringList{"g2@a:5", "g1@a:10"} << "g1@a" << "g1@a,g2@a";
        QTest::newRow("newest match 31 min old")
            << QStringList{"g1@a:31", "g2@a:40", "g1@a:50"} << "g1@a" << "g1@a,g2@a";
        QTest::newRow("exactly 30 min old is not merged")
            << QStringList{"g1@a:30", "g1@a:45"} << "g1@a" << "g1@a";
        QTest::newRow("merge keeps older entries of the gallery")
            << QStringList{"g1@a:10", "g1@a:40"} << "g1@a" << "g1@a,g1@a";
        QTest::newRow("entry without base URL matches any")
            << QStringList{"g1@-:10", "g2@a:20"} << "g1@a" << "g1@a,g2@a";
        QTest::newRow("other base URL is another gallery")
            << QStringList{"g1@b:10"} << "g1@a" << "g1@a,g1@b";
        const QStringList ten{"g1@a:1", "g2@a:2", "g3@a:3", "g4@a:4", "g5@a:5",
                              "g6@a:6", "g7@a:7", "g8@a:8", "g9@a:9", "g10@a:10"};
        QTest::newRow("eleventh gallery drops the oldest")
            << ten << "g11@a" << "g11@a,g1@a,g2@a,g3@a,g4@a,g5@a,g6@a,g7@a,g8@a,g9@a";
        QStringList withEleventh = ten.mid(0, 9);
        withEleventh.prepend(QStringLiteral("g11@a:3"));
        QTest::newRow("second upload to it keeps ten")
            << withEleventh << "g11@a" << "g11@a,g1@a,g2@a,g3@a,g4@a,g5@a,g6@a,g7@a,g8@a,g9@a";
        QStringList twelve = ten;
        twelve << "g12@a:11" << "g13@a:12";
        QTest::newRow("merge does not cut") << twelve << "g5@a" << "g5@a,g1@a,g2@a,g3@a,g4@a,g6@a,g7@a,g8@a,g9@a,g10@a,g12@a,g13@a";
    }
    void mergedHistory()
    {
        QFETCH(QStringList, history);
        QFETCH(QString, upload);
        QFETCH(QString, expected);
        QList<RecentUpload> entries;
        for (const QString &text : history)
            entries.append(entry(text, m_now));
        const RecentUpload added = entry(upload + QStringLiteral(":0"), m_now);
        const QList<RecentUpload> result = AppDelegate::mergedHistory(entries, added);
        QCOMPARE(describe(result), expected);
        QCOMPARE(result.first().completedAt, m_now);
    }

    void recordUploadSavesAndAnnouncesNewGalleries_data()
    {
        QTest::addColumn<UploadKind>("kind");
        QTest::addColumn<int>("notifications");
        QTest::newRow("created") << UploadKind::created << 1;
        QTest::newRow("updated") << UploadKind::updated << 0;
    }
    void recordUploadSavesAndAnnouncesNewGalleries()
    {
        QFETCH(UploadKind, kind);
        QFETCH(int, notifications);
        auto delegate = makeDelegate();
        m_center->status = NotificationAuthorizationStatus::Authorized;
        // Through the engine's callback, as a finished upload calls it.
        delegate->syncManager().onUploadCompleted()(kind, QStringLiteral("gal-7"), QStringLiteral("bryllup"),
                                                    QStringLiteral("Bryllup"), 12, QStringLiteral("/bilder/Bryllup"));
        const RecentUpload &top = delegate->historyStore().recentUploads().value(0);
        QCOMPARE(top.galleryId, QStringLiteral("gal-7"));
        QCOMPARE(top.imageCount, 12);
        QCOMPARE(top.completedAt, m_now);
        QCOMPARE(top.baseURL, std::optional<QUrl>(m_service->baseUrl()));
        delegate->historyStore().flush();
        QCOMPARE(UploadHistoryStore(delegate->historyStore().storeURL()).recentUploads().size(), 1);
        QTRY_COMPARE(m_center->posted.size(), notifications);
        if (notifications) {
            QCOMPARE(m_center->posted.first().title, QStringLiteral("Bryllup"));
            QCOMPARE(m_center->posted.first().userInfo.value(QStringLiteral("previewURL")).toString(),
                     m_service->baseUrl().toString() + QStringLiteral("/preview/gal-7"));
        }
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
