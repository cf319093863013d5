#include "TrayController.h"

#include "LoginView.h"
#include "MenuBarIcon.h"
#include "MenuBarPanel.h"
#include "app/CheckForUpdatesViewModel.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/WebLinks.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {
Q_LOGGING_CATEGORY(lcMenuBar, "no.varnostima.mac.MenuBar")
}

TrayController::TrayController(const AppContext &context, UrlOpener &opener, Updater &updater,
                               MenuBarActions actions, QObject *parent)
    : QObject(parent), m_context(context), m_opener(opener), m_updater(updater), m_actions(std::move(actions))
{
    connect(&m_probe, &TrayHostProbe::decided, this, &TrayController::onTrayDecided);
    buildMenu();
}

TrayController::~TrayController()
{
    delete m_panel.data();
}

void TrayController::start(std::chrono::milliseconds trayWait)
{
    m_probe.start(trayWait);
}

void TrayController::onTrayDecided(bool available)
{
    auto *content = new MenuBarView(m_context, m_opener, m_actions);
    m_panel = new MenuBarPanel(content, available ? MenuBarPanel::Mode::Popup : MenuBarPanel::Mode::Window);

    if (!available) {
        qCInfo(lcMenuBar, "Opening the panel as a window");
        m_panel->showNear(QRect());
        Q_EMIT ready(false);
        return;
    }

    m_icon = std::make_unique<QSystemTrayIcon>(MenuBarIcon::icon(m_panel->palette()));
    m_icon->setToolTip(QStringLiteral("Varnostima"));
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            togglePanel();
    });
    m_icon->show();
    qCInfo(lcMenuBar, "Tray icon shown");
    Q_EMIT ready(true);
}

void TrayController::togglePanel()
{
    if (!m_panel)
        return;
    if (m_panel->isVisible() || m_panel->wasJustDismissed()) {
        m_panel->hide();
        return;
    }
    showPanel();
}

void TrayController::showPanel()
{
    if (m_panel)
        m_panel->showNear(m_icon ? m_icon->geometry() : QRect());
}

void TrayController::buildMenu()
{
    m_menu = std::make_unique<QMenu>();
    const auto call = [](const std::function<void()> &action) {
        return [action] {
            if (action)
                action();
        };
    };
    m_signIn = m_menu->addAction(QStringLiteral("Logg inn med Google"), this, [this] {
        if (!m_panel)
            return;
        // Through the panel's sign-in view: where no browser takes the page, the panel comes up with its address.
        LoginView *login = m_panel->content()->loginView();
        // Unique: a click whose page a browser took leaves its connection behind, and the next must not add another.
        connect(login, &LoginView::linkShown, this, &TrayController::showPanel,
                Qt::ConnectionType(Qt::SingleShotConnection | Qt::UniqueConnection));
        login->openDeviceLogin();
    });
    m_overview = m_menu->addAction(QStringLiteral("Åpne oversikt"), this, call(m_actions.openOverview));
    m_menu->addAction(QStringLiteral("Vis panel"), this, &TrayController::showPanel);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Innstillinger"), this, call(m_actions.openSettings));
    m_menu->addAction(QStringLiteral("Om Varnostima"), this, call(m_actions.openAbout));
    m_menu->addAction(new CheckForUpdatesView(m_updater, m_menu.get()));
    m_menu->addSeparator();
    m_signOut = m_menu->addAction(QStringLiteral("Logg ut"), this, [this] { m_context.authManager->logout(); });
    m_menu->addAction(QStringLiteral("Avslutt"), this, call(m_actions.quit));

    connect(m_context.authManager, &AuthManager::isAuthenticatedChanged, this, &TrayController::refreshMenu);
    refreshMenu();
}

void TrayController::refreshMenu()
{
    const bool signedIn = m_context.authManager->isAuthenticated();
    m_signIn->setVisible(!signedIn);
    m_overview->setVisible(signedIn);
    m_signOut->setVisible(signedIn);
}
