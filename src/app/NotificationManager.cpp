#include "NotificationManager.h"

#include "platform/PlatformError.h"
#include "platform/UrlOpener.h"

#include <QLoggingCategory>
#include <QPointer>

namespace {
Q_LOGGING_CATEGORY(lcNotifications, "no.varnostima.mac.Notifications")

QString describe(const std::exception &error)
{
    if (const auto *platform = dynamic_cast<const PlatformError *>(&error))
        return platform->localizedDescription();
    return QString::fromUtf8(error.what());
}
} // namespace

NotificationManager::NotificationManager(NotificationCenter &center, UrlOpener &opener, QObject *parent)
    : QObject(parent), m_center(center), m_opener(opener)
{
    connect(&m_center, &NotificationCenter::responseReceived, this, &NotificationManager::handleNotificationResponse);
    registerCategories();
}

void NotificationManager::registerCategories()
{
    const NotificationAction openGallery{OpenGalleryActionIdentifier, QStringLiteral("Gå til galleri")};
    m_center.setCategories({NotificationCategory{CategoryIdentifier, {openGallery}}});
}

QString NotificationManager::bodyText(qint64 imageCount)
{
    if (imageCount == 1)
        return QStringLiteral("1 bilde lastet opp til Varnostima");
    return QString::number(imageCount) + QStringLiteral(" bilder lastet opp til Varnostima");
}

QCoro::Task<void> NotificationManager::requestAuthorization()
{
    QPointer<NotificationManager> self(this);
    const auto status = co_await m_center.authorizationStatus();
    if (!self)
        co_return;
    qCInfo(lcNotifications, "Notification status before request: %d", int(status));
    if (status != NotificationAuthorizationStatus::NotDetermined) {
        qCInfo(lcNotifications, "Skipping authorization request — status already determined");
        co_return;
    }
    try {
        const bool granted = co_await m_center.requestAuthorization();
        qCInfo(lcNotifications, "Notification authorization granted: %s", granted ? "true" : "false");
    } catch (const std::exception &error) {
        qCCritical(lcNotifications, "Notification authorization failed: %s", qUtf8Printable(describe(error)));
    }
}

QCoro::Task<void> NotificationManager::notifyNewUpload(QString title, qint64 imageCount, QUrl previewURL)
{
    QPointer<NotificationManager> self(this);
    const auto status = co_await m_center.authorizationStatus();
    if (!self)
        co_return;
    qCInfo(lcNotifications, "notifyNewUpload status=%d", int(status));
    if (status != NotificationAuthorizationStatus::Authorized && status != NotificationAuthorizationStatus::Provisional) {
        qCCritical(lcNotifications, "Skipping notification — not authorized");
        co_return;
    }

    NotificationContent content;
    content.title = title;
    content.body = bodyText(imageCount);
    content.sound = true;
    content.categoryIdentifier = CategoryIdentifier;
    content.userInfo.insert(PreviewURLKey, previewURL.toString(QUrl::FullyEncoded));
    try {
        co_await m_center.add(content);
        qCInfo(lcNotifications, "Notification queued: %s", qUtf8Printable(title));
    } catch (const std::exception &error) {
        qCCritical(lcNotifications, "Failed to deliver notification: %s", qUtf8Printable(describe(error)));
    }
}

void NotificationManager::handleNotificationResponse(const NotificationResponse &response)
{
    if (response.actionIdentifier != NotificationCenter::DefaultActionIdentifier
        && response.actionIdentifier != OpenGalleryActionIdentifier)
        return;
    const QVariant value = response.userInfo.value(PreviewURLKey);
    if (value.typeId() != QMetaType::QString)
        return;
    const QUrl url(value.toString(), QUrl::StrictMode);
    // Only web pages: the address came back from outside the process.
    if (!UrlOpener::isWebUrl(url)) {
        qCWarning(lcNotifications, "Not opening notification link with scheme %s", qUtf8Printable(url.scheme()));
        return;
    }
    m_opener.openUrl(url);
}
