#include "SettingsWindow.h"

#include "AccountSettingsTab.h"
#include "FolderWatchSettingsTab.h"
#include "GeneralSettingsTab.h"
#include "app/NotificationManager.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "ui/WindowKeys.h"
#include "platform/NotificationSettings.h"

#include <QTabWidget>
#include <QVBoxLayout>

SettingsEnvironment SettingsEnvironment::desktop()
{
    SettingsEnvironment environment;
    if (const std::optional<DesktopCommand> command = notificationSettingsCommand())
        environment.openNotificationSettings = [command = *command] { startDetached(command); };
    return environment;
}

SettingsWindow::SettingsWindow(const AppContext &context, QWidget *parent)
    : SettingsWindow(context, SettingsEnvironment::desktop(), parent)
{
}

SettingsWindow::SettingsWindow(const AppContext &context, const SettingsEnvironment &environment, QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    closeWithCtrlW(this);
    setWindowTitle(QStringLiteral("Innstillinger"));
    setFixedSize(kSize);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 8, 6, 6);
    m_tabs = new QTabWidget;
    m_tabs->setDocumentMode(false);
    m_tabs->setIconSize(QSize(14, 14));
    layout->addWidget(m_tabs);

    const QColor tint = Theme::foreground(palette(), Theme::Foreground::Primary);
    m_tabs->addTab(new GeneralSettingsTab(*context.launchAtLogin, context.notifications->center(),
                                          environment.openNotificationSettings),
                   Symbol::icon(QStringLiteral("gear"), tint), QStringLiteral("Generelt"));
    m_tabs->addTab(new FolderWatchSettingsTab(*context.syncManager, environment.chooser),
                   Symbol::icon(QStringLiteral("folder.badge.gearshape"), tint), QStringLiteral("Eksportmappe"));
    m_tabs->addTab(new AccountSettingsTab(*context.authManager), Symbol::icon(QStringLiteral("person.circle"), tint),
                   QStringLiteral("Konto"));
}

void SettingsWindow::keyPressEvent(QKeyEvent *event)
{
    if (!closeOnUnhandledEscape(this, event))
        QWidget::keyPressEvent(event);
}
