#pragma once

#include "MenuBarStatus.h"
#include "RecentUploadsSection.h"
#include "app/AppContext.h"

#include <QWidget>

#include <functional>

class EmptyHistoryView;
class LineLimitedLabel;
class LoginView;
class PlainButton;
class QPushButton;
class Spinner;
class SymbolView;
class UrlOpener;

// What the panel's buttons ask of the rest of the application.
struct MenuBarActions {
    std::function<void()> openOverview;
    std::function<void()> openSettings;
    std::function<void()> quit;
    std::function<void()> openAbout; // the tray menu's "Om Varnostima"
};

// The one status line: reconcile error, uploads running, first check, or idle.
class MenuBarSyncStatusRow : public QWidget
{
    Q_OBJECT
public:
    explicit MenuBarSyncStatusRow(SyncManager &syncManager, QWidget *parent = nullptr);

    const MenuBarStatus &status() const { return m_status; }
    QString text() const;
    bool isShowingSpinner() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();

    SyncManager &m_syncManager;
    MenuBarStatus m_status;
    bool m_shown = false; // m_status has been drawn once
    SymbolView *m_symbol = nullptr;
    Spinner *m_spinner = nullptr;
    LineLimitedLabel *m_text = nullptr;
};

// The status row and the button that opens the overview.
class MenuBarStatusHeader : public QWidget
{
    Q_OBJECT
public:
    MenuBarStatusHeader(SyncManager &syncManager, std::function<void()> onOpenOverview, QWidget *parent = nullptr);

    MenuBarSyncStatusRow *statusRow() const { return m_row; }
    QPushButton *openOverviewButton() const { return m_button; }

private:
    MenuBarSyncStatusRow *m_row = nullptr;
    QPushButton *m_button = nullptr;
};

// "Logg ut" (signed in only), then "Innstillinger" and "Avslutt" at the trailing end.
class MenuBarFooter : public QWidget
{
    Q_OBJECT
public:
    MenuBarFooter(std::function<void()> onLogout, std::function<void()> openSettings, std::function<void()> quit,
                  QWidget *parent = nullptr);

    void setAuthenticated(bool isAuthenticated);
    PlainButton *logoutButton() const { return m_logout; }
    PlainButton *settingsButton() const { return m_settings; }
    PlainButton *quitButton() const { return m_quit; }

private:
    PlainButton *m_logout = nullptr;
    PlainButton *m_settings = nullptr;
    PlainButton *m_quit = nullptr;
};

// The tray panel's content, 300 px wide: the sign-in view while signed out; else the status header, the recent
// uploads (or the empty state); the footer always.
class MenuBarView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 300;

    MenuBarView(const AppContext &context, UrlOpener &opener, MenuBarActions actions, PanelClock clock = {},
                QWidget *parent = nullptr);

    LoginView *loginView() const { return m_loginView; }
    MenuBarStatusHeader *header() const { return m_header; }
    EmptyHistoryView *emptyHistory() const { return m_empty; }
    RecentUploadsSection *recentUploads() const { return m_recent; }
    MenuBarFooter *footer() const { return m_footer; }
    // The widgets shown from top to bottom, for checks of the composition.
    QList<QWidget *> shownParts() const;
    // Brings the recent uploads up to date when they changed while hidden; the panel calls it before it measures
    // itself for showing.
    void catchUp();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();
    void refreshHistory();
    void fillHistory();

    AppContext m_context;
    MenuBarActions m_actions;
    QWidget *m_login = nullptr;
    LoginView *m_loginView = nullptr;
    MenuBarStatusHeader *m_header = nullptr;
    QWidget *m_headerDivider = nullptr;
    EmptyHistoryView *m_empty = nullptr;
    RecentUploadsSection *m_recent = nullptr;
    QWidget *m_footerDivider = nullptr;
    MenuBarFooter *m_footer = nullptr;
    bool m_historyStale = false;
};
