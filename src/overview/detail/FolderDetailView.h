#pragma once

// The inspector of the overview window: everything about the selected folder, and the one place where its actions
// reach the engine, the browser, the clipboard and the file manager.
//
// Placement: construct it once with a FolderDetailContext, put it in the inspector column, and call setFolder()
// with the selected folder's current value whenever the selection or that folder's value changes.

#include "FolderDetailActions.h"
#include "FolderDetailPreview.h"
#include "sync/SyncFolder.h"

#include <QScrollArea>

#include <chrono>
#include <functional>
#include <optional>

class AuthManager;
class FolderDetailActions;
class FolderDetailChanges;
class FolderDetailHeader;
class FolderDetailInfo;
class SyncManager;
class ThumbnailCache;
class UrlOpener;

// The model objects the inspector borrows; the caller owns them and keeps them alive longer than the view.
struct FolderDetailContext {
    SyncManager *syncManager = nullptr;
    AuthManager *authManager = nullptr;  // its base URL, read when a link is copied or opened
    ThumbnailCache *thumbnails = nullptr; // the shared cache when null
    UrlOpener *browser = nullptr;         // the desktop's browser when null
    // Shows a folder in the file manager; the desktop's when empty.
    std::function<void(const QString &path)> revealFolder;
    // How long the copy button reads "Kopiert!".
    std::chrono::milliseconds copiedFor{2000};
    // The grid's and the sheet's loaders; the shared thumbnail loaders when empty.
    PreviewLoaders loaders;
};

class FolderDetailView : public QScrollArea
{
    Q_OBJECT
public:
    explicit FolderDetailView(FolderDetailContext context, QWidget *parent = nullptr);
    ~FolderDetailView() override;

    void setFolder(const SyncFolder &folder);
    const std::optional<SyncFolder> &folder() const { return m_folder; }

    // The gallery's page: the base URL with "/gallery/" and the id as one encoded path segment.
    QUrl galleryLink(const QString &galleryId) const;
    // True while "Kopiert!" shows; it belongs to the folder whose link was copied.
    bool isCopied() const;

    FolderDetailHeader *header() const { return m_header; }
    FolderDetailInfo *info() const { return m_info; }
    FolderDetailChanges *changes() const { return m_changes; }
    FolderDetailActions *actions() const { return m_actions; }
    FolderDetailPreview *preview() const { return m_preview; }
    // Whether the "Endringer" section shows.
    bool showsChanges() const;

private:
    FolderDetailCallbacks makeCallbacks();
    void copyLink(const QString &galleryId);
    void openGalleryPage(const QString &galleryId);
    void openInFileManager();
    QCoro::Task<void> runOperation(QCoro::Task<void> (SyncManager::*operation)(SyncFolder));

    FolderDetailContext m_context;
    std::unique_ptr<UrlOpener> m_ownBrowser;
    std::optional<SyncFolder> m_folder;
    std::optional<QString> m_copiedPath; // the folder whose link was copied, until the reset
    FolderDetailHeader *m_header;
    FolderDetailInfo *m_info;
    FolderDetailChanges *m_changes;
    FolderDetailActions *m_actions;
    FolderDetailPreview *m_preview;
};
