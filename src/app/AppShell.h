#pragma once

#include "AppDelegate.h"

#include <QObject>
#include <QStringList>

#include <memory>

class SingleInstance;
class TrayController;
class WindowManager;

// The running application: the delegate with its objects, the windows and the tray, started in the order the
// delegate expects. Lives from the moment this process knows it is the only copy until the event loop ends.
class AppShell : public QObject
{
    Q_OBJECT
public:
    AppShell(AppPlatform platform, SingleInstance *instance, const QStringList &launchArguments,
             QObject *parent = nullptr);
    ~AppShell() override;

    AppDelegate &delegate() const { return *m_delegate; }
    WindowManager &windows() const { return *m_windows; }
    TrayController &tray() const { return *m_tray; }

    // "Avslutt", and the quit signals: the event loop ends, then the state on its way to disk is written.
    static void quit();

private:
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<WindowManager> m_windows;
    std::unique_ptr<TrayController> m_tray;
};
