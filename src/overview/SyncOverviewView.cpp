#include "SyncOverviewView.h"

#include "EmptyFolderStateView.h"
#include "overview/detail/FolderDetailView.h"
#include "overview/list/FolderListView.h"
#include "FolderOpening.h"
#include "OverviewLogging.h"
#include "QuickActionsBar.h"
#include "ReconcileLoadingView.h"
#include "SyncStatusBar.h"
#include "WatchFolderPromptView.h"

#include "ui/BrandMarks.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "ui/UrlPaths.h"
#include "ui/WindowKeys.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "sync/SyncManager.h"

#include <QFrame>
#include <QHideEvent>
#include <QShowEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using Theme::Foreground;

QLabel *centredText(const QString &text, const QFont &font, Foreground level, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, level));
    label->setPalette(p);
    return label;
}

// The symbol above a title and a description, centred: the stand-in for content that is not there.
QWidget *unavailableContent(const QString &symbol, const QString &title, const QString &description, QWidget *parent)
{
    auto *page = new QWidget(parent);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(8);
    layout->addStretch(1);
    auto *icon = new QLabel(page);
    icon->setPixmap(Symbol::pixmap(symbol, Theme::foreground(page->palette(), Foreground::Tertiary), QSize(40, 40),
                                   page->devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    layout->addWidget(centredText(title, Theme::systemFont(17, QFont::DemiBold), Foreground::Primary, page));
    layout->addWidget(centredText(description, Theme::systemFont(13), Foreground::Secondary, page));
    layout->addStretch(1);
    return page;
}

QIcon logoIcon(const QPalette &palette)
{
    QPixmap pixmap(QSize(24, 24));
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::foreground(palette, Foreground::Primary));
    QPainterPath path = VarnostimaMark().path(QRectF(0, 0, 12, 12));
    path.setFillRule(Qt::OddEvenFill);
    painter.drawPath(path);
    return QIcon(pixmap);
}

QCoro::Task<void> runFullScan(QPointer<SyncManager> syncManager)
{
    try {
        if (syncManager)
            co_await syncManager->fullScanAndReconcile();
    } catch (...) {
        // A failed reconcile shows through the engine's reconcileError.
    }
}

QCoro::Task<void> moveOnServer(QPointer<SyncManager> syncManager, SyncFolder folder)
{
    if (syncManager)
        co_await syncManager->moveGalleryOnServer(std::move(folder));
}

} // namespace

// ---- inspector column

namespace {

FolderDetailContext detailContext(const OverviewContext &context)
{
    FolderDetailContext details;
    details.syncManager = context.syncManager;
    details.authManager = context.authManager;
    details.thumbnails = context.thumbnails;
    details.browser = context.browser;
    details.revealFolder = context.revealFolder;
    return details;
}

} // namespace

InspectorColumn::InspectorColumn(const OverviewContext &context, QWidget *parent)
    : QWidget(parent), m_stack(nullptr)
{
    Theme::useBaseBackground(*this); // before the children take their colours from the palette
    m_stack = new QStackedWidget(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    m_placeholder = unavailableContent(QStringLiteral("sidebar.right"), QStringLiteral("Velg en mappe"),
                                       QStringLiteral("Klikk på en mappe for å se detaljer"), this);
    m_details = new FolderDetailView(detailContext(context), this);
    m_stack->addWidget(m_placeholder);
    m_stack->addWidget(m_details);
    setMinimumWidth(SyncOverviewView::kInspectorMinimum);
    setMaximumWidth(SyncOverviewView::kInspectorMaximum);
}

void InspectorColumn::setFolder(const std::optional<SyncFolder> &folder)
{
    // Every change of any folder reaches here; the details redraw only when their own folder changed.
    if (folder && folder != m_shown)
        m_details->setFolder(*folder);
    m_shown = folder;
    m_stack->setCurrentWidget(folder ? static_cast<QWidget *>(m_details) : m_placeholder);
}

bool InspectorColumn::isShowingPlaceholder() const
{
    return m_stack->currentWidget() == m_placeholder;
}

QSize InspectorColumn::sizeHint() const
{
    return {SyncOverviewView::kInspectorIdeal, QWidget::sizeHint().height()};
}

// ---- window

SyncOverviewView::SyncOverviewView(OverviewContext context, QWidget *parent)
    : QMainWindow(parent), m_context(std::move(context)), m_scanTrigger([this] { startScan(); })
{
    Q_ASSERT(m_context.authManager && m_context.syncManager);
    if (!m_context.browser) {
        m_ownBrowser = std::make_unique<DesktopUrlOpener>();
        m_context.browser = m_ownBrowser.get();
    }
    setWindowTitle(QStringLiteral("Varnostima"));
    resize(kDefaultSize);
    closeWithCtrlW(this); // hides it, as the title bar's close does
    setUnifiedTitleAndToolBarOnMac(true);

    m_appMenu = menuBar()->addMenu(QStringLiteral("Varnostima"));
    buildToolbar();

    SyncManager &sync = *m_context.syncManager;
    m_pages = new QStackedWidget(this);
    m_signIn = m_context.makeSignInView ? m_context.makeSignInView(m_pages) : nullptr;
    if (!m_signIn)
        m_signIn = centredText(QStringLiteral("Logg inn fra menylinjen"), Theme::systemFont(13),
                               Foreground::Secondary, m_pages);
    m_prompt = new WatchFolderPromptView(sync, m_context.chooser, m_pages);
    m_loading = new ReconcileLoadingView(std::chrono::milliseconds(500), m_pages);
    m_browser = buildBrowser();
    m_empty = new EmptyFolderStateView(sync, m_context.chooser, m_pages);
    for (QWidget *page : {m_signIn, static_cast<QWidget *>(m_prompt), static_cast<QWidget *>(m_loading), m_browser,
                          static_cast<QWidget *>(m_empty)})
        m_pages->addWidget(page);
    // The content's own minimum: the menu bar and the toolbar come on top of it.
    m_pages->setMinimumSize(kMinimumSize);
    setCentralWidget(m_pages);

    AuthManager &auth = *m_context.authManager;
    connect(&auth, &AuthManager::isAuthenticatedChanged, this, &SyncOverviewView::refreshContent);
    connect(&sync, &SyncManager::watchFolderChanged, this, &SyncOverviewView::refreshContent);
    connect(&sync, &SyncManager::hasCompletedInitialReconcileChanged, this, &SyncOverviewView::refreshContent);
    // An entry changed in place costs that entry; a list that changed shape is taken whole.
    connect(&sync, &SyncManager::folderEntryChanged, this, &SyncOverviewView::refreshEntry);
    connect(&sync, &SyncManager::folderEntryAppended, this, [this] { m_foldersStale = true; });
    connect(&sync, &SyncManager::folderListReplaced, this, [this] { m_foldersStale = true; });
    connect(&sync, &SyncManager::foldersChanged, this, &SyncOverviewView::refreshFolders);
    refreshFolders();
}

SyncOverviewView::~SyncOverviewView() = default;

void SyncOverviewView::buildToolbar()
{
    auto *toolbar = addToolBar(QStringLiteral("Verktøylinje"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setVisible(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(12, 12));
    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    m_dashboardButton = new QToolButton(toolbar);
    m_dashboardButton->setText(QStringLiteral("Dashboard"));
    m_dashboardButton->setIcon(logoIcon(palette()));
    m_dashboardButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_dashboardButton->setToolTip(QStringLiteral("Åpne Varnostima i nettleseren"));
    connect(m_dashboardButton, &QToolButton::clicked, this, &SyncOverviewView::openDashboard);
    toolbar->addWidget(m_dashboardButton);

    m_detailsButton = new QToolButton(toolbar);
    m_detailsButton->setText(QStringLiteral("Detaljer"));
    m_detailsButton->setIcon(Symbol::icon(QStringLiteral("sidebar.trailing"),
                                          Theme::foreground(palette(), Foreground::Primary)));
    m_detailsButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_detailsButton->setCheckable(true);
    m_detailsButton->setChecked(true);
    m_detailsButton->setToolTip(QStringLiteral("Skjul detaljpanel"));
    connect(m_detailsButton, &QToolButton::clicked, this, [this] { setShowInspector(!m_showInspector); });
    toolbar->addWidget(m_detailsButton);
}

QWidget *SyncOverviewView::buildBrowser()
{
    SyncManager &sync = *m_context.syncManager;
    m_splitter = new QSplitter(Qt::Horizontal, m_pages);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(1);

    auto *column = new QWidget(m_splitter);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_quickActions = new QuickActionsBar(
        [syncManager = QPointer<SyncManager>(&sync)](SyncFolder folder) {
            return moveOnServer(syncManager, std::move(folder));
        },
        column);
    m_list = new FolderListView(column);
    // One set of pending-changes answers for the list and both bars: each folder's records are walked once.
    auto pending = std::make_shared<PendingChangesCache>();
    m_quickActions->setPendingCache(pending);
    m_list->setPendingCache(pending);
    m_list->setOnDoubleClick([this](const SyncFolder &folder) { openFolderInFinder(folder); });
    // The bar sits over the list with the list's own side padding.
    auto *barRow = new QHBoxLayout;
    barRow->setContentsMargins(12, 0, 12, 0);
    barRow->addWidget(m_quickActions);
    layout->addLayout(barRow);
    layout->addWidget(m_list, 1);
    auto *line = new QFrame(column);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette p = line->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, Foreground::Quaternary));
    line->setPalette(p);
    layout->addWidget(line);
    m_statusBar = new SyncStatusBar(sync, m_context.revealFolder, column, pending);
    layout->addWidget(m_statusBar);
    column->setMinimumWidth(kMinimumSize.width() - kInspectorMinimum - 1);

    m_inspector = new InspectorColumn(m_context, m_splitter);
    m_splitter->addWidget(column);
    m_splitter->addWidget(m_inspector);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setSizes({kDefaultSize.width() - kInspectorIdeal, kInspectorIdeal});

    connect(m_list, &FolderListView::selectedFolderIdChanged, this, &SyncOverviewView::refreshInspector);
    return m_splitter;
}

const std::optional<QString> &SyncOverviewView::selectedFolderId() const
{
    return m_list->selectedFolderId();
}

const QSet<QString> &SyncOverviewView::collapsedNodes() const
{
    return m_list->collapsedNodes();
}

void SyncOverviewView::setShowInspector(bool show)
{
    m_showInspector = show;
    m_inspector->setVisible(show);
    m_detailsButton->setChecked(show);
    m_detailsButton->setToolTip(show ? QStringLiteral("Skjul detaljpanel") : QStringLiteral("Vis detaljpanel"));
}

std::optional<SyncFolder> SyncOverviewView::inspectedFolder() const
{
    const std::optional<QString> &selected = m_list->selectedFolderId();
    if (!selected)
        return std::nullopt;
    // Looked up in the engine's table of paths: this runs at every edit of any entry.
    const qsizetype index = m_context.syncManager->folderIndex(*selected);
    if (index < 0)
        return std::nullopt;
    return m_context.syncManager->folders().at(index);
}

void SyncOverviewView::openDashboard()
{
    m_context.browser->openUrl(appendPath(m_context.authManager->baseURL(), QStringLiteral("/dashboard")));
}

void SyncOverviewView::openFolderInFinder(const SyncFolder &folder)
{
    openFolderInFileManager(folder, m_context.revealFolder);
}

void SyncOverviewView::refreshFolders()
{
    const QList<SyncFolder> &folders = m_context.syncManager->folders();
    m_loading->setFolderCount(folders.size());
    if (m_foldersStale || m_quickActions->folderCount() != folders.size()) {
        m_quickActions->setFolders(folders);
        m_list->setFolders(folders);
        m_foldersStale = false;
    }
    refreshInspector();
    refreshContent();
}

void SyncOverviewView::refreshEntry(qsizetype index, const SyncFolder &before)
{
    if (m_foldersStale)
        return;
    const SyncFolder &now = m_context.syncManager->folders().at(index);
    m_quickActions->setFolderEntry(index, before, now);
    if (!m_list->setFolderEntry(index, now))
        m_foldersStale = true;
}

void SyncOverviewView::refreshInspector()
{
    m_inspector->setFolder(inspectedFolder());
}

void SyncOverviewView::refreshContent()
{
    const AuthManager &auth = *m_context.authManager;
    const SyncManager &sync = *m_context.syncManager;
    m_content = overviewContent(auth.isAuthenticated(), sync.hasWatchFolder(), sync.hasCompletedInitialReconcile(),
                                sync.folders().size());
    QWidget *page = nullptr;
    switch (m_content) {
    case OverviewContent::SignIn:
        page = m_signIn;
        break;
    case OverviewContent::ExportFolderPrompt:
        page = m_prompt;
        break;
    case OverviewContent::Loading:
        page = m_loading;
        break;
    case OverviewContent::Browser:
        page = m_browser;
        break;
    case OverviewContent::Empty:
        page = m_empty;
        break;
    }
    m_pages->setCurrentWidget(page);
    m_scanTrigger.setState(auth.isAuthenticated(), sync.watchFolder());
}

void SyncOverviewView::startScan()
{
    qCDebug(lcOverview, "Overview starts a full scan (%s)", qUtf8Printable(m_scanTrigger.key()));
    runFullScan(m_context.syncManager);
}

void SyncOverviewView::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        m_scanTrigger.setShown(true);
}

void SyncOverviewView::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    if (!event->spontaneous())
        m_scanTrigger.setShown(false);
}
