#pragma once

#include "MenuBarPanel.h"
#include "MenuBarView.h"
#include "TrayHostProbe.h"
#include "app/AppContext.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QMenu;
class QSystemTrayIcon;
class Updater;
class UrlOpener;

// The application's presence on the desktop: the tray icon, whose click shows or hides the panel and whose menu
// offers the panel's actions for trays that only show menus. Without a tray host the panel is a normal window.
class TrayController : public QObject
{
    Q_OBJECT
public:
    TrayController(const AppContext &context, UrlOpener &opener, Updater &updater, MenuBarActions actions,
                   QObject *parent = nullptr);
    ~TrayController() override;

    // Waits (bounded) for a tray host, then shows the icon, or the panel as a window.
    void start(std::chrono::milliseconds trayWait = TrayHostProbe::kDefaultLimit);

    MenuBarPanel *panel() const { return m_panel; }
    QSystemTrayIcon *trayIcon() const { return m_icon.get(); }
    QMenu *menu() const { return m_menu.get(); }
    void togglePanel();
    // Shows the panel (by the icon, or as the window) and brings it forward.
    void showPanel();

Q_SIGNALS:
    // The icon is shown (true) or the panel opened as a window (false).
    void ready(bool hasTray);

private:
    void onTrayDecided(bool available);
    void buildMenu();
    void refreshMenu();

    AppContext m_context;
    UrlOpener &m_opener;
    Updater &m_updater;
    MenuBarActions m_actions;
    TrayHostProbe m_probe;
    std::unique_ptr<QMenu> m_menu; // outlives the icon that shows it
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QPointer<MenuBarPanel> m_panel;
    QAction *m_signIn = nullptr;
    QAction *m_overview = nullptr;
    QAction *m_signOut = nullptr;
};
