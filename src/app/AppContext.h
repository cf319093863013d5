#pragma once

class AuthManager;
class CheckForUpdatesViewModel;
class LaunchAtLoginManager;
class NotificationManager;
class SyncManager;
class ThumbnailCache;
class UploadHistoryStore;
class UrlOpener;

// The application-wide objects a window reads and acts on. The delegate owns them; views only borrow them and
// never outlive the delegate.
struct AppContext {
    AuthManager *authManager = nullptr;
    SyncManager *syncManager = nullptr;
    UploadHistoryStore *uploadHistory = nullptr;
    LaunchAtLoginManager *launchAtLogin = nullptr;
    NotificationManager *notifications = nullptr;
    CheckForUpdatesViewModel *updates = nullptr;
    ThumbnailCache *thumbnails = nullptr;
    UrlOpener *urlOpener = nullptr; // the browser; the desktop's when null
};
