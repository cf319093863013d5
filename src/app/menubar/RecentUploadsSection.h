#pragma once

#include "sync/RecentUpload.h"

#include <QAbstractButton>
#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>

class ElidedLabel;
class QVBoxLayout;
class UrlOpener;

using PanelClock = std::function<QDateTime()>;
// The service's base URL as it is now. Links are built from it when they are opened, so a service that moved to
// another address is found there, whatever address an entry was recorded under.
using BaseURLSource = std::function<QUrl()>;

// A gallery's 32-pixel picture, or a grey square with a photo symbol while there is none.
class RecentUploadThumbnail : public QWidget
{
    Q_OBJECT
public:
    explicit RecentUploadThumbnail(QWidget *parent = nullptr);

    QImage image() const { return m_image; }
    void setImage(const QImage &image);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};

// One recent upload: thumbnail, title, "<n> bilder · <age>". A click opens the gallery's page.
class RecentUploadRow : public QAbstractButton
{
    Q_OBJECT
public:
    RecentUploadRow(const RecentUpload &upload, BaseURLSource baseURL, UrlOpener &opener, PanelClock clock,
                    QWidget *parent = nullptr);

    const RecentUpload &upload() const { return m_upload; }
    // A new state of the same entry; the thumbnail is loaded again when the folder changed. Each time the row is
    // shown it loads the thumbnail afresh, so a folder that was empty or not mounted gets its picture later.
    void setUpload(const RecentUpload &upload);
    // Recomputes the age against the current moment.
    void refreshAge();

    QUrl galleryURL() const;
    QString detailText() const;
    bool hasThumbnail() const { return !m_thumbnail->image().isNull(); }
    bool isHovering() const { return m_hovering; }

Q_SIGNALS:
    // A load of the thumbnail ended; the picture stays as it was when the folder held no image.
    void thumbnailLoaded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void startThumbnailLoad();
    QCoro::Task<void> loadThumbnail(QString folderPath, quint64 generation);

    RecentUpload m_upload;
    BaseURLSource m_baseURL;
    UrlOpener &m_opener;
    PanelClock m_clock;
    RecentUploadThumbnail *m_thumbnail = nullptr;
    ElidedLabel *m_title = nullptr;
    ElidedLabel *m_detail = nullptr;
    bool m_hovering = false;
    quint64 m_generation = 0;
};

// "SISTE OPPLASTINGER" and one row per entry. Rows are kept by the entry's identity, so a row that stays in the
// list keeps its thumbnail and hover state when the list changes. Ages advance while the section is shown.
class RecentUploadsSection : public QWidget
{
    Q_OBJECT
public:
    // Ages in seconds change every second; older ones are redrawn every half minute.
    static constexpr int kAgeRefreshMs = 30'000;
    static constexpr int kYoungAgeRefreshMs = 1'000;

    RecentUploadsSection(UrlOpener &opener, BaseURLSource baseURL, PanelClock clock = {}, QWidget *parent = nullptr);

    void setUploads(const QList<RecentUpload> &uploads);
    QList<RecentUploadRow *> rows() const { return m_rows; }

    // How soon the ages are redrawn next while the section is shown.
    int ageRefreshInterval() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refreshAges();

    UrlOpener &m_opener;
    BaseURLSource m_baseURL;
    PanelClock m_clock;
    QVBoxLayout *m_rowsLayout = nullptr;
    QList<RecentUploadRow *> m_rows;
    QTimer m_ageTimer;
};

// In place of the list while nothing has been uploaded.
class EmptyHistoryView : public QWidget
{
    Q_OBJECT
public:
    explicit EmptyHistoryView(QWidget *parent = nullptr);
};
