#pragma once

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

// What the application may do with user notifications. The numbers are part of the log lines.
enum class NotificationAuthorizationStatus {
    NotDetermined = 0,
    Denied = 1,
    Authorized = 2,
    Provisional = 3,
    Ephemeral = 4,
    // This desktop's own: no notification service runs on the session bus, and none can be started there.
    NoService = 5,
};

struct NotificationAction {
    QString identifier;
    QString title;
};

// A named set of actions that notifications refer to by identifier.
struct NotificationCategory {
    QString identifier;
    QList<NotificationAction> actions;
};

struct NotificationContent {
    QString title;
    QString body;
    bool sound = false;
    QString categoryIdentifier;
    // Travels with the notification and comes back in its response.
    QVariantMap userInfo;
};

// The user clicked a notification or chose one of its actions.
struct NotificationResponse {
    QString actionIdentifier;
    QVariantMap userInfo;
};

Q_DECLARE_METATYPE(NotificationResponse)

// The desktop's notification service.
class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    // The action identifier of a click on the notification itself.
    static inline const QString DefaultActionIdentifier = QStringLiteral("default");

    using QObject::QObject;

    virtual QCoro::Task<NotificationAuthorizationStatus> authorizationStatus() = 0;
    // True when notifications may be shown afterwards. Throws PlatformError when the service fails.
    virtual QCoro::Task<bool> requestAuthorization() = 0;
    virtual void setCategories(const QList<NotificationCategory> &categories) = 0;
    // Shows the notification at once. Throws PlatformError when the service refuses it.
    virtual QCoro::Task<void> add(NotificationContent content) = 0;

Q_SIGNALS:
    // Only for notifications this center posted.
    void responseReceived(const NotificationResponse &response);
};

// A notification service whose answers tests set by hand: a request grants or refuses as told and then reports
// the matching status.
class FakeNotificationCenter final : public NotificationCenter
{
    Q_OBJECT
public:
    using NotificationCenter::NotificationCenter;

    QCoro::Task<NotificationAuthorizationStatus> authorizationStatus() override
    {
        ++statusReads;
        co_return status;
    }
    QCoro::Task<bool> requestAuthorization() override
    {
        ++requests;
        if (status == NotificationAuthorizationStatus::NotDetermined)
            status = grantOnRequest ? NotificationAuthorizationStatus::Authorized : NotificationAuthorizationStatus::Denied;
        co_return status == NotificationAuthorizationStatus::Authorized;
    }
    void setCategories(const QList<NotificationCategory> &) override {}
    QCoro::Task<void> add(NotificationContent content) override
    {
        posted.append(content);
        co_return;
    }

    NotificationAuthorizationStatus status = NotificationAuthorizationStatus::NotDetermined;
    bool grantOnRequest = true;
    int statusReads = 0;
    int requests = 0;
    QList<NotificationContent> posted;
};
