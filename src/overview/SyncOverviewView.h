#pragma once

// The overview window: every folder of the export folder with its state, the selected folder's details beside
// them, a status bar, and a toolbar. Shows one of five contents (sign-in, export-folder prompt, loading, folder
// browser, empty state) as the account and the engine change, and starts a full scan when it is shown or its
// sign-in state or export folder changes. Closing hides it: the selection, the collapsed nodes and the inspector's
// visibility are there again when it is reopened.

#include "OverviewContext.h"
#include "OverviewState.h"
#include "sync/SyncFolder.h"

#include <QMainWindow>

#include <optional>

class EmptyFolderStateView;
class FolderDetailView;
class FolderListView;
class InspectorColumn;
class QAction;
class QMenu;
class QSplitter;
class QStackedWidget;
class QToolButton;
class QuickActionsBar;
class ReconcileLoadingView;
class SyncStatusBar;
class UrlOpener;
class WatchFolderPromptView;

class SyncOverviewView : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr QSize kDefaultSize{920, 560};
    static constexpr QSize kMinimumSize{700, 400};
    static constexpr int kInspectorMinimum = 320;
    static constexpr int kInspectorIdeal = 480;
    static constexpr int kInspectorMaximum = 700;

    explicit SyncOverviewView(OverviewContext context, QWidget *parent = nullptr);
    ~SyncOverviewView() override;

    OverviewContent content() const { return m_content; }

    const std::optional<QString> &selectedFolderId() const;
    const QSet<QString> &collapsedNodes() const;
    bool showInspector() const { return m_showInspector; }
    void setShowInspector(bool show);
    // The folder the inspector shows: the first folder whose path is the selection.
    std::optional<SyncFolder> inspectedFolder() const;

    void openDashboard();
    void openFolderInFinder(const SyncFolder &folder);

    // The application's own menu; the application adds its commands ("Om Varnostima", "Se etter oppdateringer…").
    QMenu *applicationMenu() const { return m_appMenu; }

    FolderListView *folderList() const { return m_list; }
    QuickActionsBar *quickActions() const { return m_quickActions; }
    SyncStatusBar *statusBar() const { return m_statusBar; }
    ReconcileLoadingView *loadingView() const { return m_loading; }
    InspectorColumn *inspector() const { return m_inspector; }
    QToolButton *dashboardButton() const { return m_dashboardButton; }
    QToolButton *detailsButton() const { return m_detailsButton; }
    const ScanTrigger &scanTrigger() const { return m_scanTrigger; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildToolbar();
    QWidget *buildBrowser();
    void refreshContent();
    void refreshFolders();
    void refreshEntry(qsizetype index, const SyncFolder &before);
    void refreshInspector();
    void startScan();

    OverviewContext m_context;
    std::unique_ptr<UrlOpener> m_ownBrowser;
    ScanTrigger m_scanTrigger;
    OverviewContent m_content = OverviewContent::SignIn;
    bool m_showInspector = true;
    // The list and the quick-actions bar take the engine's list whole at its next change, not entry by entry.
    bool m_foldersStale = true;

    QMenu *m_appMenu = nullptr;
    QToolButton *m_dashboardButton = nullptr;
    QToolButton *m_detailsButton = nullptr;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_signIn = nullptr;
    WatchFolderPromptView *m_prompt = nullptr;
    ReconcileLoadingView *m_loading = nullptr;
    QWidget *m_browser = nullptr;
    EmptyFolderStateView *m_empty = nullptr;
    QSplitter *m_splitter = nullptr;
    QuickActionsBar *m_quickActions = nullptr;
    FolderListView *m_list = nullptr;
    SyncStatusBar *m_statusBar = nullptr;
    InspectorColumn *m_inspector = nullptr;
};

// The inspector column: the selected folder's details, or a placeholder while no folder is selected (or the
// selected one is gone).
class InspectorColumn : public QWidget
{
    Q_OBJECT
public:
    explicit InspectorColumn(const OverviewContext &context, QWidget *parent = nullptr);

    void setFolder(const std::optional<SyncFolder> &folder);
    bool isShowingPlaceholder() const;
    FolderDetailView *details() const { return m_details; }
    QSize sizeHint() const override;

private:
    QStackedWidget *m_stack;
    QWidget *m_placeholder;
    FolderDetailView *m_details;
    std::optional<SyncFolder> m_shown; // what the details were last given
};
