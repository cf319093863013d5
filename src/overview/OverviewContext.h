#pragma once

#include <QString>

#include <functional>

class AuthManager;
class DirectoryChooser;
class QWidget;
class SyncManager;
class ThumbnailCache;
class UrlOpener;

// What the overview window borrows from the application; the application owns all of it and outlives the window.
struct OverviewContext {
    AuthManager *authManager = nullptr;
    SyncManager *syncManager = nullptr;
    ThumbnailCache *thumbnails = nullptr; // the shared cache when null
    UrlOpener *browser = nullptr;         // the desktop's browser when null
    DirectoryChooser *chooser = nullptr;  // the desktop's folder dialog when null
    // The sign-in view shown while signed out (it lives with the application); a plain notice when empty.
    std::function<QWidget *(QWidget *parent)> makeSignInView;
    // Shows a local folder in the file manager; the desktop's when empty.
    std::function<void(const QString &path)> revealFolder;
};
