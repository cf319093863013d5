#include "AppDelegate.h"

#include "CheckForUpdatesViewModel.h"
#include "CrashReporting.h"
#include "LaunchAtLoginManager.h"
#include "NotificationManager.h"
#include "ui/Fonts.h"
#include "thumbnails/ThumbnailCache.h"
#include "platform/CrashReportDsn.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItemService.h"
#include "platform/UrlOpener.h"
#include "platform/Updater.h"
#include "platform/UserDesktop.h"
#include "service/AppSupport.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "service/WebLinks.h"
#include "sync/UploadHistoryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>

namespace {
Q_LOGGING_CATEGORY(lcAppDelegate, "no.varnostima.mac.AppDelegate")

bool sameGallery(const RecentUpload &existing, const RecentUpload &upload)
{
    if (existing.galleryId != upload.galleryId)
        return false;
    // An entry from an older history file has no base URL: it stands for the gallery under any address.
    return !existing.baseURL || !upload.baseURL || *existing.baseURL == *upload.baseURL;
}
} // namespace

AppPlatform AppPlatform::desktop()
{
    AppPlatform platform;
    platform.supportDirectory = appSupportDirectory();
    platform.notificationCenter = std::make_unique<DesktopNotifications>();
    platform.urlOpener = std::make_unique<DesktopUrlOpener>();
    // Started at login, the app is to find the data folder it runs with now (a trial's, say), not the default one.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    const QProcessEnvironment user = userDesktopEnvironment();
    const QString xdgDataHome = QStringLiteral("XDG_DATA_HOME");
    platform.loginItems = std::make_unique<AutostartEntry>(
        AutostartEntry::defaultEntryPath(), QCoreApplication::applicationFilePath(),
        QDir::isAbsolutePath(dataHome) ? QDir::cleanPath(dataHome) : QString(),
        user.contains(xdgDataHome) ? std::optional(user.value(xdgDataHome)) : std::nullopt);
    platform.updater = std::make_unique<DownloadPageUpdater>(DownloadPageUpdater::defaultDownloadPage(),
                                                             *platform.urlOpener);
    platform.clock = [] { return QDateTime::currentDateTime(); };
    platform.startCrashReporting = [] { return CrashReporting::start(CrashReportDsn::defaultDsn(), true); };
    return platform;
}

AppDelegate::AppDelegate(AppPlatform platform, QObject *parent)
    : QObject(parent), m_platform(std::move(platform)), m_storage(m_platform.supportDirectory)
{
    VarnostimaAPI &api = m_platform.api ? *m_platform.api : VarnostimaAPI::shared();
    const QString &folder = m_platform.supportDirectory;

    m_authManager = std::make_unique<AuthManager>(api, m_storage,
                                                  m_platform.restoreSignInAtStart ? AuthManager::StartupRestore::Scheduled
                                                                                  : AuthManager::StartupRestore::Manual);
    m_syncManager = std::make_unique<SyncManager>(folder, m_platform.syncDelays);
    if (&api != &VarnostimaAPI::shared())
        m_syncManager->setAPI(api);
    m_historyStore =
        std::make_unique<UploadHistoryStore>(QUrl::fromLocalFile(folder + QStringLiteral("/recent-uploads.json")));
    m_notificationManager = std::make_unique<NotificationManager>(*m_platform.notificationCenter, *m_platform.urlOpener);
    m_launchAtLoginManager = std::make_unique<LaunchAtLoginManager>(*m_platform.loginItems);
    m_updates = std::make_unique<CheckForUpdatesViewModel>(*m_platform.updater);
    m_lastScanTime = QDateTime(); // the distant past: the first activation always scans

    QPointer<AppDelegate> weak(this);
    m_syncManager->setOnUploadCompleted([weak](UploadKind kind, const QString &galleryId, const QString &slug,
                                               const QString &title, qint64 count, const QString &path) {
        if (weak)
            weak->recordUpload(kind, galleryId, slug, title, count, path);
    });
    m_authManager->onAuthenticated = [weak] {
        // After the sign-in has settled, not inside the account manager's own update.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak] {
                if (weak)
                    weak->startFullScan("signed in");
            },
            Qt::QueuedConnection);
    };
    m_authManager->onLoggedOut = [weak] {
        if (!weak)
            return;
        weak->m_historyStore->setRecentUploads({});
        weak->m_historyStore->save();
    };

    connect(&m_callbackUrls, &CallbackUrlHandler::callbackURLReceived, this, &AppDelegate::handleCallbackURL);
}

AppDelegate::~AppDelegate()
{
    // The engine's callbacks reach into this object; they go first.
    m_syncManager->setOnUploadCompleted({});
    m_authManager->onAuthenticated = nullptr;
    m_authManager->onLoggedOut = nullptr;
}

AppContext AppDelegate::context() const
{
    AppContext context;
    context.authManager = m_authManager.get();
    context.syncManager = m_syncManager.get();
    context.uploadHistory = m_historyStore.get();
    context.launchAtLogin = m_launchAtLoginManager.get();
    context.notifications = m_notificationManager.get();
    context.updates = m_updates.get();
    context.thumbnails = &ThumbnailCache::shared();
    context.urlOpener = m_platform.urlOpener.get();
    return context;
}

QDateTime AppDelegate::now() const
{
    return m_platform.clock ? m_platform.clock() : QDateTime::currentDateTime();
}

void AppDelegate::applicationWillFinishLaunching(SingleInstance *instance)
{
    registerBundledFonts();
    if (m_platform.startCrashReporting)
        m_crashSender = m_platform.startCrashReporting();
    if (instance)
        m_callbackUrls.listen(*instance); // logs "Registered URL scheme handler"
    else
        qCInfo(lcAppDelegate, "Registered URL scheme handler");
}

void AppDelegate::handleLaunchArguments(const QStringList &arguments)
{
    m_callbackUrls.handleArguments(arguments);
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_notificationManager->requestAuthorization();
    if (m_authManager->isAuthenticated())
        startFullScan("launch");
}

void AppDelegate::applicationDidBecomeActive()
{
    // Signed out, a scan can only fail at the service and leave its error behind; signing in starts one anyway.
    if (!m_authManager->isAuthenticated())
        return;
    const QDateTime current = now();
    const bool due = !m_lastScanTime.isValid()
                     || m_lastScanTime.msecsTo(current) > kActivationScanInterval * 1000;
    if (!due)
        return;
    m_lastScanTime = current;
    startFullScan("activation");
}

void AppDelegate::applicationWillTerminate()
{
    retryUnwrittenFiles();
    if (const std::optional<SyncStateStore::Unwritten> unwritten = m_syncManager->flushState())
        qCCritical(lcAppDelegate, "State not written: %s; quitting", qUtf8Printable(unwritten->describe()));
    else
        qCInfo(lcAppDelegate, "State written; quitting");
}

void AppDelegate::retryUnwrittenFiles()
{
    // A file waiting for its back-off would be lost with the process, though the disk may have room by now.
    QStringList unwritten = m_storage.retryNow();
    if (!m_syncManager->retryBookmarkNow())
        unwritten.append(QString(SyncManager::bookmarkFileName));
    if (!m_historyStore->saveIfUnwritten())
        unwritten.append(QFileInfo(m_historyStore->storeURL().toLocalFile()).fileName());
    for (const QString &name : std::as_const(unwritten))
        qCCritical(lcAppDelegate, "Could not write %s before quitting", qUtf8Printable(name));
}

void AppDelegate::handleURLEvent(const QString &text)
{
    m_callbackUrls.handleURLEvent(text);
}

void AppDelegate::handleCallbackURL(const QUrl &url)
{
    // Any web page or local program can send this URL; taking it would move automatic sync to another account.
    if (m_authManager->isAuthenticated()) {
        qCWarning(lcAppDelegate, "Ignored sign-in callback: already signed in (sign out first to switch accounts)");
        return;
    }
    if (m_authManager->isCheckingStoredSignIn()) {
        qCWarning(lcAppDelegate, "Ignored sign-in callback: the stored sign-in is being checked");
        return;
    }
    m_authManager->handleCallbackURL(url);
}

void AppDelegate::startFullScan(const char *reason)
{
    qCInfo(lcAppDelegate, "Starting full scan (%s)", reason);
    m_syncManager->fullScanAndReconcile();
}

QList<RecentUpload> AppDelegate::mergedHistory(QList<RecentUpload> history, const RecentUpload &upload)
{
    const auto first = std::find_if(history.begin(), history.end(),
                                    [&](const RecentUpload &entry) { return sameGallery(entry, upload); });
    if (first != history.end() && first->completedAt.msecsTo(upload.completedAt) < kMergeWindow * 1000) {
        history.erase(first);
        history.prepend(upload);
        return history;
    }
    history.removeIf([&](const RecentUpload &entry) { return sameGallery(entry, upload); });
    history.prepend(upload);
    if (history.size() > kHistoryLimit)
        history.resize(kHistoryLimit);
    return history;
}

void AppDelegate::recordUpload(UploadKind kind, const QString &galleryId, const QString &gallerySlug,
                               const QString &title, qint64 imageCount, const QString &folderPath)
{
    const QUrl baseURL = m_authManager->baseURL();
    RecentUpload upload;
    upload.galleryId = galleryId;
    upload.gallerySlug = gallerySlug;
    upload.title = title;
    upload.imageCount = imageCount;
    upload.completedAt = now();
    upload.folderPath = folderPath;
    upload.baseURL = baseURL;

    m_historyStore->setRecentUploads(mergedHistory(m_historyStore->recentUploads(), upload));
    m_historyStore->save();

    if (kind == UploadKind::created)
        m_notificationManager->notifyNewUpload(title, imageCount, previewPageURL(baseURL, galleryId));
}
