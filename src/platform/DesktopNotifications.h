#pragma once

#include "NotificationCenter.h"

#include <QDBusConnection>
#include <QHash>

// NotificationCenter over org.freedesktop.Notifications. Every call is asynchronous; the service's signals are
// broadcast to all clients, so only the ids this object posted are answered.
class DesktopNotifications final : public NotificationCenter
{
    Q_OBJECT
public:
    static inline const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");

    // appIcon: the icon file or theme name sent with every notification.
    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(), QString appIcon = defaultAppIcon(),
                                  QObject *parent = nullptr);

    // The icon file of this installation, or the theme name where no file is found.
    static QString defaultAppIcon();

    // Authorized when the service runs or the bus can start it, else NoService; there is nothing to ask the user.
    QCoro::Task<NotificationAuthorizationStatus> authorizationStatus() override;
    QCoro::Task<bool> requestAuthorization() override;
    void setCategories(const QList<NotificationCategory> &categories) override;
    QCoro::Task<void> add(NotificationContent content) override;

    // How many posted notifications still wait for an answer.
    qsizetype pendingCount() const { return m_pending.size(); }

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QCoro::Task<bool> serviceAvailable();

    QDBusConnection m_bus;
    QString m_appIcon;
    QHash<QString, NotificationCategory> m_categories;
    QHash<uint, QVariantMap> m_pending;
};
