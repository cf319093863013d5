#include "DesktopNotifications.h"

#include "AppIcon.h"
#include "DesktopLogging.h"
#include "PlatformError.h"

#include <QCoroDBus>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QPointer>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");

QDBusMessage busCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, method);
}

} // namespace

QString DesktopNotifications::defaultAppIcon()
{
    const QString file = appIconFile();
    return file.isEmpty() ? QStringLiteral("varnostima") : file;
}

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QString appIcon, QObject *parent)
    : NotificationCenter(parent), m_bus(std::move(bus)), m_appIcon(std::move(appIcon))
{
    // Bound to the well-known name, so another client cannot fake answers to our notifications.
    m_bus.connect(ServiceName, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(ServiceName, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

QCoro::Task<bool> DesktopNotifications::serviceAvailable()
{
    QDBusMessage hasOwner = busCall(QStringLiteral("NameHasOwner"));
    hasOwner << ServiceName;
    const QDBusMessage ownerReply = co_await m_bus.asyncCall(hasOwner);
    if (ownerReply.type() == QDBusMessage::ReplyMessage && !ownerReply.arguments().isEmpty()
        && ownerReply.arguments().constFirst().toBool())
        co_return true;

    const QDBusMessage activatable = co_await m_bus.asyncCall(busCall(QStringLiteral("ListActivatableNames")));
    if (activatable.type() != QDBusMessage::ReplyMessage || activatable.arguments().isEmpty()) {
        qCWarning(lcDesktopNotifications, "Could not list activatable services: %s",
                  qUtf8Printable(activatable.errorMessage()));
        co_return false;
    }
    co_return activatable.arguments().constFirst().toStringList().contains(ServiceName);
}

QCoro::Task<NotificationAuthorizationStatus> DesktopNotifications::authorizationStatus()
{
    if (!m_bus.isConnected()) {
        qCWarning(lcDesktopNotifications, "No session bus: notifications are unavailable");
        co_return NotificationAuthorizationStatus::NoService;
    }
    const bool available = co_await serviceAvailable();
    co_return available ? NotificationAuthorizationStatus::Authorized : NotificationAuthorizationStatus::NoService;
}

QCoro::Task<bool> DesktopNotifications::requestAuthorization()
{
    const auto status = co_await authorizationStatus();
    co_return status == NotificationAuthorizationStatus::Authorized;
}

void DesktopNotifications::setCategories(const QList<NotificationCategory> &categories)
{
    m_categories.clear();
    for (const NotificationCategory &category : categories)
        m_categories.insert(category.identifier, category);
}

QCoro::Task<void> DesktopNotifications::add(NotificationContent content)
{
    QStringList actions;
    // The default action makes a click on the notification itself reach us.
    actions << DefaultActionIdentifier << QString();
    const auto category = m_categories.constFind(content.categoryIdentifier);
    if (category != m_categories.constEnd()) {
        for (const NotificationAction &action : category->actions)
            actions << action.identifier << action.title;
    }

    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("varnostima"));
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    if (content.sound)
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    else
        hints.insert(QStringLiteral("suppress-sound"), true);

    QDBusMessage notify = QDBusMessage::createMethodCall(ServiceName, kPath, kInterface, QStringLiteral("Notify"));
    notify << QStringLiteral("Varnostima") << uint(0) << m_appIcon << content.title << content.body
           << actions << hints << int(-1);

    QPointer<DesktopNotifications> self(this);
    const QDBusMessage reply = co_await m_bus.asyncCall(notify);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        throw PlatformError(reply.errorMessage().isEmpty() ? QStringLiteral("No answer from the notification service")
                                                           : reply.errorMessage());
    const uint id = reply.arguments().constFirst().toUInt();
    if (self)
        self->m_pending.insert(id, content.userInfo);
}

void DesktopNotifications::onActionInvoked(uint id, const QString &actionKey)
{
    const auto it = m_pending.constFind(id);
    if (it == m_pending.constEnd())
        return; // another application's notification
    const NotificationResponse response{actionKey, it.value()};
    qCDebug(lcDesktopNotifications, "Action %s on notification %u", qUtf8Printable(actionKey), id);
    Q_EMIT responseReceived(response);
}

void DesktopNotifications::onNotificationClosed(uint id, uint reason)
{
    if (m_pending.remove(id) > 0)
        qCDebug(lcDesktopNotifications, "Notification %u closed (reason %u)", id, reason);
}
