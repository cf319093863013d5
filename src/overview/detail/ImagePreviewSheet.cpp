#include "ImagePreviewSheet.h"

#include "thumbnails/ThumbnailLoader.h"
#include "ui/Buttons.h"
#include "ui/Spinner.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QFrame>
#include <QHash>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

Q_LOGGING_CATEGORY(lcPreview, "no.varnostima.mac.Preview")

// Black ground with, above it, the spinner, the image fitted with 8 px around it, or the error state.
class PreviewImageArea : public QWidget
{
public:
    explicit PreviewImageArea(QWidget *parent) : QWidget(parent), m_spinner(new Spinner(Spinner::Size::Large, this))
    {
        m_spinner->setColor(Qt::white);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    void show(ImagePreviewSheet::Content content, const QImage &image)
    {
        m_content = content;
        m_image = image;
        m_spinner->setVisible(content == ImagePreviewSheet::Content::Spinner);
        update();
    }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        const QSize side = m_spinner->sizeHint();
        m_spinner->setGeometry(QRect(QPoint((width() - side.width()) / 2, (height() - side.height()) / 2), side));
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (m_content == ImagePreviewSheet::Content::Image) {
            const QRectF box = QRectF(rect()).adjusted(8, 8, -8, -8);
            QSizeF size = QSizeF(m_image.size()).scaled(box.size(), Qt::KeepAspectRatio);
            painter.drawImage(QRectF(box.center() - QPointF(size.width() / 2, size.height() / 2), size), m_image);
        } else if (m_content == ImagePreviewSheet::Content::Error) {
            const QFont titleFont = Theme::font(Theme::TextStyle::LargeTitle);
            const int side = QFontMetrics(titleFont).height();
            const QFont textFont = Theme::font(Theme::TextStyle::Body);
            const int textHeight = QFontMetrics(textFont).height();
            const int top = (height() - side - 8 - textHeight) / 2;
            painter.setOpacity(0.5);
            Symbol::paint(&painter, QRectF((width() - side) / 2.0, top, side, side),
                          QStringLiteral("exclamationmark.triangle"), Qt::white);
            painter.setOpacity(0.7);
            painter.setFont(textFont);
            painter.setPen(Qt::white);
            painter.drawText(QRect(0, top + side + 8, width(), textHeight), Qt::AlignCenter,
                             QStringLiteral("Kunne ikke laste bildet"));
        }
    }

private:
    Spinner *m_spinner;
    ImagePreviewSheet::Content m_content = ImagePreviewSheet::Content::Spinner;
    QImage m_image;
};

namespace {

PlainButton *stepButton(const QString &title, const QString &symbol, QWidget *parent)
{
    auto *button = new PlainButton(title, parent);
    button->setSymbol(symbol);
    button->setFont(Theme::font(Theme::TextStyle::Body));
    button->setFocusPolicy(Qt::NoFocus); // the arrow keys belong to the sheet
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QPushButton *makeDoneButton(QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("Ferdig"), parent);
    button->setAutoDefault(false);
    return button;
}

QList<ListedImage> withoutVersions(const QList<QUrl> &urls)
{
    QList<ListedImage> images;
    images.reserve(urls.size());
    for (const QUrl &url : urls)
        images.append({url, {}});
    return images;
}

} // namespace

ImagePreviewSheet::ImagePreviewSheet(QList<QUrl> imageURLs, int startIndex, ImageLoader loader, QWidget *parent)
    : ImagePreviewSheet(withoutVersions(imageURLs), startIndex, std::move(loader), parent)
{
}

ImagePreviewSheet::ImagePreviewSheet(QList<ListedImage> images, int startIndex, ImageLoader loader, QWidget *parent)
    : QDialog(parent), m_images(std::move(images)),
      m_currentIndex(startIndex),
      m_loader(loader ? std::move(loader) : ImageLoader(loadThumbnail)),
      m_previous(stepButton(QStringLiteral("Forrige"), QStringLiteral("chevron.left"), this)),
      m_next(stepButton(QStringLiteral("Neste"), QStringLiteral("chevron.right"), this)),
      m_done(makeDoneButton(this)), m_fileName(new QLabel(this)),
      m_position(new QLabel(this)), m_titleBlock(new QWidget(this)), m_area(new PreviewImageArea(this))
{
    setWindowTitle(QStringLiteral("Forhåndsvisning"));
    setMinimumSize(800, 600);
    setFocusPolicy(Qt::StrongFocus);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *bar = new QWidget(this);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 10, 16, 10);
    row->addWidget(m_previous);
    row->addStretch(1);
    auto *titles = new QVBoxLayout(m_titleBlock);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(2);
    m_fileName->setFont(Theme::font(Theme::TextStyle::Headline));
    m_fileName->setTextFormat(Qt::PlainText);
    m_fileName->setAlignment(Qt::AlignCenter);
    titles->addWidget(m_fileName);
    m_position->setFont(Theme::font(Theme::TextStyle::Caption));
    m_position->setAlignment(Qt::AlignCenter);
    QPalette secondary = m_position->palette();
    secondary.setColor(QPalette::WindowText, Theme::foreground(secondary, Theme::Foreground::Secondary));
    m_position->setPalette(secondary);
    titles->addWidget(m_position);
    row->addWidget(m_titleBlock);
    row->addStretch(1);
    row->addWidget(m_next);
    column->addWidget(bar);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    divider->setStyleSheet(QStringLiteral("color: palette(mid);"));
    column->addWidget(divider);
    column->addWidget(m_area, 1);

    auto *footer = new QWidget(this);
    auto *footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(16, 10, 16, 10);
    footerRow->addStretch(1);
    m_done->setFocusPolicy(Qt::NoFocus);
    footerRow->addWidget(m_done);
    column->addWidget(footer);

    connect(m_previous, &QAbstractButton::clicked, this, &ImagePreviewSheet::showPrevious);
    connect(m_next, &QAbstractButton::clicked, this, &ImagePreviewSheet::showNext);
    connect(m_done, &QAbstractButton::clicked, this, &QDialog::reject);
    auto *closeShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(closeShortcut, &QShortcut::activated, this, &QDialog::reject);

    refresh();
    loadCurrentImage();
}

ImagePreviewSheet::Content ImagePreviewSheet::content() const
{
    if (m_isLoading)
        return Content::Spinner;
    return m_currentImage.isNull() ? Content::Error : Content::Image;
}

QString ImagePreviewSheet::fileNameText() const
{
    return m_titleBlock->isVisibleTo(this) ? m_fileName->text() : QString();
}

QString ImagePreviewSheet::positionText() const
{
    return m_titleBlock->isVisibleTo(this) ? m_position->text() : QString();
}

void ImagePreviewSheet::showPrevious()
{
    if (m_currentIndex >= 1)
        setCurrentIndex(m_currentIndex - 1);
}

void ImagePreviewSheet::showNext()
{
    if (m_currentIndex < m_images.size() - 1)
        setCurrentIndex(m_currentIndex + 1);
}

void ImagePreviewSheet::followImages(const QList<ListedImage> &images)
{
    if (images.isEmpty()) {
        qCInfo(lcPreview, "Closing the preview: no image left in the folder");
        m_images.clear();
        ++m_generation; // a load still running has nothing left to show
        reject();
        return;
    }
    QHash<QUrl, int> positions;
    positions.reserve(images.size());
    for (int i = 0; i < images.size(); ++i)
        positions.insert(images.at(i).url, i);

    // The image shown, else the first one after it that is still there, else the nearest before it.
    const QList<ListedImage> old = m_images;
    const bool wasValid = m_currentIndex >= 0 && m_currentIndex < old.size();
    std::optional<int> next;
    if (wasValid) {
        for (int i = m_currentIndex; i < old.size() && !next; ++i)
            if (const auto found = positions.constFind(old.at(i).url); found != positions.cend())
                next = *found;
        for (int i = m_currentIndex - 1; i >= 0 && !next; --i)
            if (const auto found = positions.constFind(old.at(i).url); found != positions.cend())
                next = *found;
    }
    const int index = next.value_or(std::clamp(m_currentIndex, 0, int(images.size()) - 1));
    const bool sameImage = wasValid && images.at(index).url == old.at(m_currentIndex).url;

    m_images = images;
    m_currentIndex = index;
    if (sameImage && m_shownVersion == m_images.at(index).version) {
        refresh(); // only its place in the list may have moved
        return;
    }
    if (sameImage)
        qCInfo(lcPreview, "%s changed on disk: loading it again", qUtf8Printable(m_images.at(index).url.fileName()));
    loadCurrentImage();
}

void ImagePreviewSheet::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left: showPrevious(); break;
    case Qt::Key_Right: showNext(); break;
    case Qt::Key_Escape: reject(); break;
    default: QDialog::keyPressEvent(event); return;
    }
    event->accept();
}

void ImagePreviewSheet::setCurrentIndex(int index)
{
    if (index == m_currentIndex)
        return;
    m_currentIndex = index;
    loadCurrentImage();
}

void ImagePreviewSheet::refresh()
{
    const bool valid = m_currentIndex >= 0 && m_currentIndex < m_images.size();
    m_titleBlock->setVisible(valid);
    if (valid) {
        m_fileName->setText(m_images.at(m_currentIndex).url.fileName());
        m_position->setText(QStringLiteral("%1 av %2").arg(m_currentIndex + 1).arg(m_images.size()));
    }
    m_previous->setEnabled(m_currentIndex > 0);
    m_next->setEnabled(m_currentIndex < m_images.size() - 1);
    m_area->show(content(), m_currentImage);
}

void ImagePreviewSheet::loadCurrentImage()
{
    const quint64 generation = ++m_generation;
    if (m_currentIndex < 0 || m_currentIndex >= m_images.size()) {
        qCCritical(lcPreview, "Image index %ld out of bounds (count: %ld)", long(m_currentIndex),
                   long(m_images.size()));
        m_isLoading = false;
        refresh();
        return;
    }
    // The image shown stays until the new one is in; the spinner covers it meanwhile.
    m_isLoading = true;
    m_shownVersion = m_images.at(m_currentIndex).version;
    refresh();
    load(m_images.at(m_currentIndex).url, generation);
}

QCoro::Task<void> ImagePreviewSheet::load(QUrl url, quint64 generation)
{
    QPointer<ImagePreviewSheet> self(this);
    QImage image;
    try {
        // Named first: g++ 12 destroys a temporary built inside a co_await operand twice.
        QCoro::Task<QImage> loading = m_loader(url, kMaxPixelSize);
        image = co_await std::move(loading);
    } catch (...) {
        image = QImage();
    }
    // A step, or a change of the folder, made while this ran owns the state now. The list may have moved the
    // image to another position meanwhile: the generation alone tells.
    if (!self || generation != m_generation)
        co_return;
    if (image.isNull())
        qCCritical(lcPreview, "Failed to load image: %s", qUtf8Printable(url.fileName()));
    m_currentImage = std::move(image);
    m_isLoading = false;
    refresh();
    Q_EMIT imageSettled();
}
