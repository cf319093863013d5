#pragma once

#include "platform/NotificationCenter.h"

#include <QCoroTask>
#include <QObject>
#include <QUrl>

class UrlOpener;

// Tells the user about a new gallery and opens its preview page when the notification is clicked.
class NotificationManager : public QObject
{
    Q_OBJECT
public:
    static inline const QString CategoryIdentifier = QStringLiteral("no.varnostima.upload.new");
    static inline const QString OpenGalleryActionIdentifier = QStringLiteral("no.varnostima.action.openGallery");
    static inline const QString PreviewURLKey = QStringLiteral("previewURL");

    NotificationManager(NotificationCenter &center, UrlOpener &opener, QObject *parent = nullptr);

    void registerCategories();
    // Asks the user only while they have not decided yet.
    QCoro::Task<void> requestAuthorization();
    QCoro::Task<void> notifyNewUpload(QString title, qint64 imageCount, QUrl previewURL);

    // Opens the preview page for a click on the notification or on "Gå til galleri".
    void handleNotificationResponse(const NotificationResponse &response);

    static QString bodyText(qint64 imageCount);

    // The settings window reads and asks for the permission on the service itself.
    NotificationCenter &center() const { return m_center; }

private:
    NotificationCenter &m_center;
    UrlOpener &m_opener;
};
