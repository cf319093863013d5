#include "FolderDetailView.h"

#include "FolderDetailActions.h"
#include "FolderDetailChanges.h"
#include "FolderDetailHeader.h"
#include "overview/FolderOpening.h"
#include "overview/list/FolderStatusPresentation.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/WebLinks.h"
#include "sync/SyncManager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

Q_DECLARE_LOGGING_CATEGORY(lcInspector)

namespace {

QCoro::Task<void> nothingToDo()
{
    co_return;
}

} // namespace

FolderDetailView::FolderDetailView(FolderDetailContext context, QWidget *parent)
    : QScrollArea(parent), m_context(std::move(context))
{
    if (!m_context.browser) {
        m_ownBrowser = std::make_unique<DesktopUrlOpener>();
        m_context.browser = m_ownBrowser.get();
    }
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    auto *content = new QWidget(this);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 20);
    column->setSpacing(16);
    m_header = new FolderDetailHeader(content);
    m_info = new FolderDetailInfo(content);
    m_changes = new FolderDetailChanges(content);
    m_actions = new FolderDetailActions(makeCallbacks(), content);
    m_preview = new FolderDetailPreview(m_context.thumbnails, m_context.loaders, content);
    column->addWidget(m_header);
    column->addWidget(m_info);
    column->addWidget(m_changes);
    column->addWidget(m_actions);
    column->addWidget(m_preview);
    column->addStretch(1);
    m_changes->hide();
    setWidget(content);
}

FolderDetailView::~FolderDetailView() = default;

void FolderDetailView::setFolder(const SyncFolder &folder)
{
    m_folder = folder;
    m_header->setFolder(folder);
    m_info->setFolder(folder);
    const bool pending = folder.status.is(SyncStatus::Case::synced) && hasPendingChanges(folder);
    if (pending)
        m_changes->setFolder(folder);
    // A section with nothing to list would be an empty box.
    m_changes->setVisible(pending && !m_changes->groups().isEmpty());
    m_actions->setFolder(folder);
    m_actions->setCopied(isCopied());
    m_preview->setFolder(folder);
}

bool FolderDetailView::showsChanges() const
{
    return m_changes->isVisibleTo(this);
}

bool FolderDetailView::isCopied() const
{
    return m_copiedPath && m_folder && *m_copiedPath == m_folder->path;
}

QUrl FolderDetailView::galleryLink(const QString &galleryId) const
{
    const QUrl base = m_context.authManager ? m_context.authManager->baseURL() : QUrl();
    return galleryPageURL(base, galleryId);
}

FolderDetailCallbacks FolderDetailView::makeCallbacks()
{
    FolderDetailCallbacks callbacks;
    callbacks.onCopyLink = [this](const QString &galleryId) { copyLink(galleryId); };
    callbacks.onOpenDashboard = [this](const QString &galleryId) { openGalleryPage(galleryId); };
    callbacks.onOpenFinder = [this] { openInFileManager(); };
    callbacks.onSync = [this] { return runOperation(&SyncManager::syncFolder); };
    callbacks.onUpdate = [this] { return runOperation(&SyncManager::updateFolder); };
    callbacks.onMove = [this] { return runOperation(&SyncManager::moveGalleryOnServer); };
    callbacks.onDeleteFromServer = [this] { return runOperation(&SyncManager::deleteGalleryOnServer); };
    auto immediate = [this](void (SyncManager::*operation)(SyncFolder)) {
        return [this, operation] {
            if (m_context.syncManager && m_folder)
                (m_context.syncManager->*operation)(*m_folder);
        };
    };
    callbacks.onIgnore = immediate(&SyncManager::ignoreFolder);
    callbacks.onUnignore = immediate(&SyncManager::unignoreFolder);
    callbacks.onClearMoved = immediate(&SyncManager::clearMovedFrom);
    callbacks.onDismissRemoved = immediate(&SyncManager::forgetFolder);
    return callbacks;
}

QCoro::Task<void> FolderDetailView::runOperation(QCoro::Task<void> (SyncManager::*operation)(SyncFolder))
{
    if (!m_context.syncManager || !m_folder)
        return nothingToDo();
    // The folder value shown when the button was pressed; the engine finds its own entry by path.
    return (m_context.syncManager->*operation)(*m_folder);
}

void FolderDetailView::copyLink(const QString &galleryId)
{
    if (!m_folder)
        return;
    const QUrl link = galleryLink(galleryId);
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(link.toString(QUrl::FullyEncoded));
    }
    m_copiedPath = m_folder->path;
    m_actions->setCopied(true);
    // Each copy lowers the flag after its own wait; an earlier copy's reset is not cancelled by a later copy.
    QTimer::singleShot(m_context.copiedFor, this, [this] {
        m_copiedPath.reset();
        m_actions->setCopied(false);
    });
}

void FolderDetailView::openGalleryPage(const QString &galleryId)
{
    const QUrl link = galleryLink(galleryId);
    if (!m_context.browser->openUrl(link))
        qCWarning(lcInspector, "Could not open %s", qUtf8Printable(link.toString()));
}

void FolderDetailView::openInFileManager()
{
    if (m_folder)
        openFolderInFileManager(*m_folder, m_context.revealFolder);
}
