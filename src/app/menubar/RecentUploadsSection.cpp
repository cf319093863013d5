#include "RecentUploadsSection.h"

#include "PanelWidgets.h"
#include "ui/ElidedLabel.h"
#include "ui/PlainText.h"
#include "ui/RelativeDate.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "thumbnails/ThumbnailLoader.h"
#include "platform/UrlOpener.h"
#include "service/WebLinks.h"
#include "sync/IsolatedName.h"

#include <QCoroFuture>
#include <QHBoxLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
Q_LOGGING_CATEGORY(lcMenuBar, "no.varnostima.mac.MenuBar")

constexpr int kThumbnailSide = 32;
constexpr double kThumbnailPixels = 64;
constexpr qreal kCornerRadius = 4;

QColor hoverFill(const QPalette &palette)
{
    return Theme::withAlpha(palette.color(QPalette::WindowText), 0.06);
}
} // namespace

// ---- RecentUploadThumbnail

RecentUploadThumbnail::RecentUploadThumbnail(QWidget *parent) : QWidget(parent)
{
    setFixedSize(kThumbnailSide, kThumbnailSide);
}

void RecentUploadThumbnail::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void RecentUploadThumbnail::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);

    if (m_image.isNull()) {
        painter.fillPath(clip, hoverFill(palette()));
        const QRectF symbol(QPointF(0, 0), QSizeF(12, 12));
        Symbol::paint(&painter, symbol.translated(QRectF(rect()).center() - symbol.center()), QStringLiteral("photo"),
                      Theme::foreground(palette(), Theme::Foreground::Secondary));
        return;
    }
    // Fill the square, keep the aspect ratio and crop what overflows.
    const QSizeF scaled = QSizeF(m_image.size()).scaled(QSizeF(rect().size()), Qt::KeepAspectRatioByExpanding);
    const QRectF target(QRectF(rect()).center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
    painter.setClipPath(clip);
    painter.drawImage(target, m_image);
}

// ---- RecentUploadRow

RecentUploadRow::RecentUploadRow(const RecentUpload &upload, BaseURLSource baseURL, UrlOpener &opener,
                                 PanelClock clock, QWidget *parent)
    : QAbstractButton(parent), m_upload(upload), m_baseURL(std::move(baseURL)), m_opener(opener),
      m_clock(std::move(clock))
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(10);
    m_thumbnail = new RecentUploadThumbnail(this);
    layout->addWidget(m_thumbnail, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    m_title = new ElidedLabel(Qt::ElideRight, this);
    m_title->setFont(Theme::systemFont(12, QFont::Medium));
    m_detail = new ElidedLabel(Qt::ElideRight, this);
    m_detail->setFont(Theme::systemFont(10));
    m_detail->setForeground(Theme::Foreground::Secondary);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);
    layout->addLayout(texts, 1);

    for (QWidget *child : {static_cast<QWidget *>(m_thumbnail), static_cast<QWidget *>(m_title),
                           static_cast<QWidget *>(m_detail)})
        child->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(this, &QAbstractButton::clicked, this, [this] { m_opener.openUrl(galleryURL()); });

    setUpload(upload);
}

void RecentUploadRow::setUpload(const RecentUpload &upload)
{
    const bool folderChanged = upload.folderPath != m_upload.folderPath;
    m_upload = upload;
    m_title->setText(upload.title);
    const QString tip = QStringLiteral("Åpne ") + unicodenames::isolated(upload.title) + QStringLiteral(" i dashboard");
    setToolTip(plainToolTip(tip));
    setAccessibleName(tip);
    refreshAge();
    if (folderChanged && isVisible())
        startThumbnailLoad();
}

QString RecentUploadRow::detailText() const
{
    const QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTime();
    return QString::number(m_upload.imageCount) + QStringLiteral(" bilder · ") + relativeAge(m_upload.completedAt, now);
}

void RecentUploadRow::refreshAge()
{
    m_detail->setText(detailText());
}

QUrl RecentUploadRow::galleryURL() const
{
    // The address an entry was recorded under only tells entries apart; the gallery is where the service is now.
    return galleryPageURL(m_baseURL ? m_baseURL() : QUrl(), m_upload.galleryId);
}

void RecentUploadRow::startThumbnailLoad()
{
    loadThumbnail(m_upload.folderPath, ++m_generation);
}

QCoro::Task<void> RecentUploadRow::loadThumbnail(QString folderPath, quint64 generation)
{
    QPointer<RecentUploadRow> self(this);
    try {
        const QUrl folderURL = QUrl::fromLocalFile(folderPath);
        const QList<QUrl> images = co_await listFolderImagesForPreviewInBackground(folderURL);
        if (!self || generation != m_generation)
            co_return;
        if (!images.isEmpty()) {
            const QUrl first = images.first();
            // From the shared cache while the file is unchanged.
            const QImage image = co_await ::loadThumbnail(first, kThumbnailPixels);
            if (!self || generation != m_generation)
                co_return;
            m_thumbnail->setImage(image);
        }
        Q_EMIT thumbnailLoaded();
    } catch (const std::exception &error) {
        qCWarning(lcMenuBar, "Thumbnail of a recent upload failed: %s", error.what());
    } catch (...) {
        qCWarning(lcMenuBar, "Thumbnail of a recent upload failed");
    }
}

void RecentUploadRow::paintEvent(QPaintEvent *)
{
    if (!m_hovering)
        return;
    QPainter painter(this);
    painter.fillRect(rect(), hoverFill(palette()));
}

void RecentUploadRow::showEvent(QShowEvent *event)
{
    QAbstractButton::showEvent(event);
    if (!event->spontaneous())
        startThumbnailLoad();
}

void RecentUploadRow::enterEvent(QEnterEvent *event)
{
    m_hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void RecentUploadRow::leaveEvent(QEvent *event)
{
    m_hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---- RecentUploadsSection

RecentUploadsSection::RecentUploadsSection(UrlOpener &opener, BaseURLSource baseURL, PanelClock clock,
                                           QWidget *parent)
    : QWidget(parent), m_opener(opener), m_baseURL(std::move(baseURL)), m_clock(std::move(clock))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(0);

    auto *header = new QLabel(QStringLiteral("SISTE OPPLASTINGER"), this);
    header->setFont(Theme::systemFont(10, QFont::DemiBold));
    header->setContentsMargins(12, 10, 12, 4);
    QPalette palette = header->palette();
    palette.setColor(QPalette::WindowText, Theme::foreground(palette, Theme::Foreground::Secondary));
    header->setPalette(palette);
    layout->addWidget(header);

    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(0);
    layout->addLayout(m_rowsLayout);

    m_ageTimer.setSingleShot(true);
    connect(&m_ageTimer, &QTimer::timeout, this, &RecentUploadsSection::refreshAges);
}

int RecentUploadsSection::ageRefreshInterval() const
{
    const QDateTime now = m_clock ? m_clock() : QDateTime::currentDateTime();
    const bool young = std::any_of(m_rows.cbegin(), m_rows.cend(), [&](const RecentUploadRow *row) {
        return row->upload().completedAt.secsTo(now) < 60;
    });
    return young ? kYoungAgeRefreshMs : kAgeRefreshMs;
}

void RecentUploadsSection::refreshAges()
{
    for (RecentUploadRow *row : std::as_const(m_rows))
        row->refreshAge();
    if (isVisible())
        m_ageTimer.start(ageRefreshInterval());
}

void RecentUploadsSection::setUploads(const QList<RecentUpload> &uploads)
{
    QMultiHash<QString, RecentUploadRow *> previous;
    for (RecentUploadRow *row : std::as_const(m_rows)) {
        m_rowsLayout->removeWidget(row);
        previous.insert(row->upload().id(), row);
    }
    m_rows.clear();
    for (const RecentUpload &upload : uploads) {
        RecentUploadRow *row = nullptr;
        const auto found = previous.find(upload.id());
        if (found != previous.end()) {
            row = found.value();
            previous.erase(found);
            row->setUpload(upload);
        } else {
            row = new RecentUploadRow(upload, m_baseURL, m_opener, m_clock, this);
        }
        m_rowsLayout->addWidget(row);
        m_rows.append(row);
    }
    for (RecentUploadRow *gone : std::as_const(previous))
        delete gone;
    if (isVisible())
        m_ageTimer.start(ageRefreshInterval());
}

void RecentUploadsSection::showEvent(QShowEvent *event)
{
    refreshAges();
    QWidget::showEvent(event);
}

void RecentUploadsSection::hideEvent(QHideEvent *event)
{
    m_ageTimer.stop();
    QWidget::hideEvent(event);
}

// ---- EmptyHistoryView

EmptyHistoryView::EmptyHistoryView(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 18, 0, 18);
    layout->setSpacing(6);
    auto *symbol = new SymbolView(QStringLiteral("tray"), 22, this);
    symbol->setForeground(Theme::Foreground::Secondary);
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    auto *text = new QLabel(QStringLiteral("Ingen opplastinger ennå"), this);
    text->setFont(Theme::font(Theme::TextStyle::Caption));
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, Theme::foreground(palette, Theme::Foreground::Secondary));
    text->setPalette(palette);
    layout->addWidget(text, 0, Qt::AlignHCenter);
}
