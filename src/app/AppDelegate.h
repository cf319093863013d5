#pragma once

#include "AppContext.h"
#include "CallbackUrlHandler.h"
#include "platform/LoginItemService.h"
#include "platform/NotificationCenter.h"
#include "platform/Updater.h"
#include "platform/UrlOpener.h"
#include "service/SecureStorage.h"
#include "sync/RecentUpload.h"
#include "sync/SyncManager.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class AuthManager;
class CheckForUpdatesViewModel;
class CrashReportSender;
class LaunchAtLoginManager;
class NotificationManager;
class SingleInstance;
class UploadHistoryStore;
class VarnostimaAPI;

// What the delegate builds the application on. desktop() gives the real desktop services; tests hand in fakes,
// a temporary folder and their own clock.
struct AppPlatform {
    QString supportDirectory;            // every file the application writes
    VarnostimaAPI *api = nullptr;        // not owned; the shared client when null
    std::unique_ptr<NotificationCenter> notificationCenter;
    std::unique_ptr<UrlOpener> urlOpener;
    std::unique_ptr<LoginItemService> loginItems;
    std::unique_ptr<Updater> updater;
    std::function<QDateTime()> clock;    // the current moment
    SyncDelays syncDelays;
    bool restoreSignInAtStart = true;
    // Starts crash reporting at launch; absent in tests (it installs process-wide signal handlers).
    std::function<std::unique_ptr<CrashReportSender>()> startCrashReporting;

    static AppPlatform desktop();
};

// The composition root: owns the application-wide objects for the life of the process, wires the callbacks through
// which the account and the sync engine report back, and decides when a full scan starts. UI thread only.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kActivationScanInterval = 30;      // seconds
    static constexpr qint64 kMergeWindow = 1800;               // seconds
    static constexpr qsizetype kHistoryLimit = 10;

    explicit AppDelegate(AppPlatform platform, QObject *parent = nullptr);
    ~AppDelegate() override;

    // What every window borrows.
    AppContext context() const;
    UrlOpener &urlOpener() const { return *m_platform.urlOpener; }
    Updater &updater() const { return *m_platform.updater; }
    AuthManager &authManager() const { return *m_authManager; }
    SyncManager &syncManager() const { return *m_syncManager; }
    UploadHistoryStore &historyStore() const { return *m_historyStore; }
    QDateTime lastScanTime() const { return m_lastScanTime; }

    // Fonts, crash reporting and the URL hand-over from later launches (instance may be null).
    void applicationWillFinishLaunching(SingleInstance *instance);
    // The URLs this process was started with.
    void handleLaunchArguments(const QStringList &arguments);
    void applicationDidFinishLaunching();
    // A full scan when the last one started this way is more than 30 s old.
    void applicationDidBecomeActive();
    // Writes what is still on its way to disk, and once more every small file whose write failed and waits for its
    // retry (the disk may have room again); the process is about to end.
    void applicationWillTerminate();

    // A URL handed to the application, as text exactly as it came.
    void handleURLEvent(const QString &text);

    // Adds an upload to the history (merging a recent one of the same gallery) and announces a new gallery.
    void recordUpload(UploadKind kind, const QString &galleryId, const QString &gallerySlug, const QString &title,
                      qint64 imageCount, const QString &folderPath);

    // The history after an upload: the newest entry of the same gallery is replaced when it is younger than
    // the merge window, else every entry of the gallery goes and the list is cut to the limit.
    static QList<RecentUpload> mergedHistory(QList<RecentUpload> history, const RecentUpload &upload);

private:
    void startFullScan(const char *reason);
    void handleCallbackURL(const QUrl &url);
    QDateTime now() const;
    void retryUnwrittenFiles();

    AppPlatform m_platform;
    SecureStorage m_storage; // the account's files; copies share their retries
    std::unique_ptr<CrashReportSender> m_crashSender;
    std::unique_ptr<AuthManager> m_authManager;
    std::unique_ptr<SyncManager> m_syncManager;
    std::unique_ptr<UploadHistoryStore> m_historyStore;
    std::unique_ptr<NotificationManager> m_notificationManager;
    std::unique_ptr<LaunchAtLoginManager> m_launchAtLoginManager;
    std::unique_ptr<CheckForUpdatesViewModel> m_updates;
    QDateTime m_lastScanTime;
    CallbackUrlHandler m_callbackUrls;
};
