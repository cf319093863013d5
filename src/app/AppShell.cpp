#include "AppShell.h"

#include "WindowManager.h"
#include "app/menubar/TrayController.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QGuiApplication>

AppShell::AppShell(AppPlatform platform, SingleInstance *instance, const QStringList &launchArguments,
                   QObject *parent)
    : QObject(parent)
{
    m_delegate = std::make_unique<AppDelegate>(std::move(platform));
    m_delegate->applicationWillFinishLaunching(instance);

    m_windows = std::make_unique<WindowManager>(m_delegate->context());
    WindowManager *windows = m_windows.get();
    MenuBarActions actions;
    actions.openOverview = [windows] { windows->open(WindowManager::Window::Overview); };
    actions.openSettings = [windows] { windows->open(WindowManager::Window::Settings); };
    actions.openAbout = [windows] { windows->open(WindowManager::Window::About); };
    actions.quit = &AppShell::quit;
    m_tray = std::make_unique<TrayController>(m_delegate->context(), m_delegate->urlOpener(), m_delegate->updater(),
                                              std::move(actions));

    AppDelegate *delegate = m_delegate.get();
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [delegate](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            delegate->applicationDidBecomeActive();
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [delegate] { delegate->applicationWillTerminate(); });

    // Starting the application again while it runs brings its panel forward: the way back to a closed window.
    if (instance)
        connect(instance, &SingleInstance::handOverReceived, m_tray.get(), &TrayController::showPanel);
    m_tray->start();
    m_delegate->handleLaunchArguments(launchArguments);
    m_delegate->applicationDidFinishLaunching();
}

AppShell::~AppShell()
{
    // Views borrow the delegate's objects: they go first.
    m_tray.reset();
    m_windows.reset();
}

void AppShell::quit()
{
    QCoreApplication::quit();
}
