#include "WindowManager.h"

#include "CheckForUpdatesViewModel.h"
#include "app/menubar/LoginView.h"
#include "app/settings/AboutWindow.h"
#include "app/settings/SettingsWindow.h"

#include "overview/SyncOverviewView.h"
#include "ui/WindowPlacement.h"
#include "platform/UrlOpener.h"

#include <QMenu>

namespace {

// Closing it hides it: the next opening finds its selection and collapsed folders as they were.
QWidget *createOverviewWindow(const AppContext &context, std::function<void()> openAbout)
{
    OverviewContext overview;
    overview.authManager = context.authManager;
    overview.syncManager = context.syncManager;
    overview.thumbnails = context.thumbnails;
    overview.browser = context.urlOpener;
    overview.makeSignInView = [auth = context.authManager, opener = context.urlOpener](QWidget *parent) -> QWidget * {
        static DesktopUrlOpener desktop;
        return new LoginView(*auth, opener ? *opener : desktop, parent);
    };
    auto *window = new SyncOverviewView(std::move(overview));
    QMenu *menu = window->applicationMenu();
    menu->addAction(QStringLiteral("Om Varnostima"), window, std::move(openAbout));
    if (context.updates && context.updates->updater())
        menu->addAction(new CheckForUpdatesView(*context.updates->updater(), menu));
    return window;
}

QWidget *createSettingsWindow(const AppContext &context)
{
    return new SettingsWindow(context);
}

QWidget *createAboutWindow(const AppContext &context)
{
    return new AboutWindow(context);
}

} // namespace

WindowManager::WindowManager(const AppContext &context, QObject *parent) : QObject(parent), m_context(context) {}

WindowManager::~WindowManager()
{
    for (const QPointer<QWidget> &window : m_windows)
        delete window.data();
}

QWidget *WindowManager::create(Window window)
{
    switch (window) {
    case Window::Overview:
        return createOverviewWindow(m_context, [this] { open(Window::About); });
    case Window::Settings:
        return createSettingsWindow(m_context);
    case Window::About:
        return createAboutWindow(m_context);
    }
    return nullptr;
}

QWidget *WindowManager::window(Window window) const
{
    return m_windows[static_cast<size_t>(window)].data();
}

void WindowManager::open(Window which)
{
    QPointer<QWidget> &slot = m_windows[static_cast<size_t>(which)];
    if (!slot)
        slot = create(which);
    if (!slot->isVisible())
        placeWithinScreen(slot);
    slot->show();
    slot->raise();
    slot->activateWindow();
}
