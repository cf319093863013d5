#include "FolderDetailPreview.h"

#include "DetailWidgets.h"
#include "thumbnails/ThumbnailCache.h"
#include "ui/Theme.h"

#include <QCoroFuture>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Where the tiles of the column layout stand at a width.
struct TileLayout {
    QHash<int, QRect> tiles; // by thumbnail position
    int height = 0;
};

TileLayout layoutTiles(const QList<Thumbnail> &thumbnails, int width)
{
    QList<QSizeF> sizes;
    sizes.reserve(thumbnails.size());
    for (const Thumbnail &t : thumbnails)
        sizes.append(QSizeF(t.image.size()));
    const QList<QList<qsizetype>> columns = distributeIntoColumns(sizes, FolderDetailPreview::kColumns);
    const qreal spacing = FolderDetailPreview::kSpacing;
    const qreal columnWidth = (width - spacing * (FolderDetailPreview::kColumns - 1)) / FolderDetailPreview::kColumns;
    TileLayout layout;
    for (int c = 0; c < columns.size(); ++c) {
        const qreal x = c * (columnWidth + spacing);
        qreal y = 0;
        for (const qsizetype i : columns.at(c)) {
            const QSizeF size = sizes.at(i);
            const qreal height = columnWidth * std::max(size.height(), 1.0) / std::max(size.width(), 1.0);
            layout.tiles.insert(int(i), QRectF(x, y, columnWidth, height).toAlignedRect());
            y += height + spacing;
        }
        layout.height = std::max(layout.height, int(std::ceil(y - spacing)));
    }
    return layout;
}

// Three columns of placeholder tiles, 3 in the middle one and 2 at the sides, 120 px high in all.
class PlaceholderTiles : public QWidget
{
public:
    explicit PlaceholderTiles(QWidget *parent) : QWidget(parent) { setFixedHeight(120); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withAlpha(Theme::foreground(palette(), Theme::Foreground::Quaternary), 0.5));
        const qreal spacing = FolderDetailPreview::kSpacing;
        const qreal columnWidth = (width() - 2 * spacing) / 3;
        for (int c = 0; c < 3; ++c) {
            const int count = c == 1 ? 3 : 2;
            // Shaped to fit: each tile keeps its aspect within its share of the column.
            const qreal slot = (height() - spacing * (count - 1)) / count;
            qreal y = 0;
            for (int r = 0; r < count; ++r) {
                const qreal aspect = (r % 2) == (c % 2) ? 1.3 : 0.8;
                QSizeF size = QSizeF(aspect, 1).scaled(QSizeF(columnWidth, slot), Qt::KeepAspectRatio);
                const qreal x = c * (columnWidth + spacing) + (columnWidth - size.width()) / 2;
                painter.drawRoundedRect(QRectF(QPointF(x, y), size), 3, 3);
                y += slot + spacing;
            }
        }
    }
};

QWidget *emptyState(QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 8, 0, 8);
    column->setSpacing(6);
    const QFont titleFont = Theme::font(Theme::TextStyle::Title2);
    auto *symbol = new DetailSymbol(QStringLiteral("photo.on.rectangle.angled"), QFontMetrics(titleFont).height(), box);
    symbol->setForeground(Theme::Foreground::Quaternary);
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    auto *text = new QLabel(QStringLiteral("Ingen bilder"), box);
    text->setFont(Theme::font(Theme::TextStyle::Caption));
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, Theme::foreground(palette, Theme::Foreground::Tertiary));
    text->setPalette(palette);
    column->addWidget(text, 0, Qt::AlignHCenter);
    return box;
}

} // namespace

// The thumbnails in their columns; a click on a tile reports the image's position in the folder's listing.
class MasonryGrid : public QWidget
{
    Q_OBJECT
public:
    explicit MasonryGrid(QWidget *parent) : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        setCursor(Qt::PointingHandCursor);
    }

    void setContent(const QList<Thumbnail> &thumbnails, const QHash<QUrl, int> &positions)
    {
        m_thumbnails = thumbnails;
        m_positions = positions;
        updateGeometry();
        update();
    }

    // By position in the listing; a thumbnail of another folder has none and shows nothing.
    QHash<int, QRect> tileRects() const
    {
        QHash<int, QRect> result;
        const TileLayout layout = layoutTiles(m_thumbnails, width());
        for (auto it = layout.tiles.cbegin(); it != layout.tiles.cend(); ++it) {
            const auto position = m_positions.constFind(m_thumbnails.at(it.key()).url);
            if (position != m_positions.cend())
                result.insert(*position, *it);
        }
        return result;
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return layoutTiles(m_thumbnails, width).height; }
    QSize sizeHint() const override { return {300, heightForWidth(300)}; }

Q_SIGNALS:
    void tileClicked(int position);

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const TileLayout layout = layoutTiles(m_thumbnails, width());
        for (auto it = layout.tiles.cbegin(); it != layout.tiles.cend(); ++it) {
            const Thumbnail &thumbnail = m_thumbnails.at(it.key());
            if (!m_positions.contains(thumbnail.url))
                continue;
            QPainterPath clip;
            clip.addRoundedRect(QRectF(*it), 3, 3);
            painter.save();
            painter.setClipPath(clip);
            painter.drawImage(QRectF(*it), thumbnail.image);
            painter.restore();
        }
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        const QHash<int, QRect> tiles = tileRects();
        for (auto it = tiles.cbegin(); it != tiles.cend(); ++it) {
            if (it->contains(event->position().toPoint())) {
                Q_EMIT tileClicked(it.key());
                return;
            }
        }
    }

private:
    QList<Thumbnail> m_thumbnails;
    QHash<QUrl, int> m_positions;
};

QList<QList<qsizetype>> distributeIntoColumns(const QList<QSizeF> &imageSizes, int columns)
{
    QList<QList<qsizetype>> result(std::max(columns, 0));
    QList<qreal> heights(result.size(), 0.0);
    if (result.isEmpty())
        return result;
    for (qsizetype i = 0; i < imageSizes.size(); ++i) {
        const QSizeF size = imageSizes.at(i);
        const qreal h = size.height() <= 1.0 ? 1.0 : size.height();
        const qreal ratio = size.width() / h;
        const qreal aspect = ratio <= 0.1 ? 0.1 : ratio;
        const auto shortest = std::min_element(heights.cbegin(), heights.cend()) - heights.cbegin();
        result[shortest].append(i);
        heights[shortest] += 1.0 / aspect;
    }
    return result;
}

FolderDetailPreview::FolderDetailPreview(ThumbnailCache *cache, PreviewLoaders loaders, QWidget *parent)
    : QWidget(parent), m_cache(cache ? cache : &ThumbnailCache::shared()), m_loaders(std::move(loaders)),
      m_placeholders(new PlaceholderTiles(this)), m_empty(emptyState(this)), m_grid(new MasonryGrid(this)),
      m_total(new QLabel(this))
{
    if (!m_loaders.listImages)
        m_loaders.listImages = listFolderImageVersionsInBackground;
    if (!m_loaders.loadBatch)
        m_loaders.loadBatch = loadThumbnails;
    if (!m_loaders.loadImage)
        m_loaders.loadImage = loadThumbnail;

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *placeholderBox = new QWidget(this);
    auto *placeholderRow = new QVBoxLayout(placeholderBox);
    placeholderRow->setContentsMargins(16, 0, 16, 0);
    m_placeholders->setParent(placeholderBox);
    placeholderRow->addWidget(m_placeholders);
    column->addWidget(placeholderBox);
    column->addWidget(m_empty);

    auto *gridBox = new QWidget(this);
    auto *gridColumn = new QVBoxLayout(gridBox);
    gridColumn->setContentsMargins(16, 0, 16, 0);
    gridColumn->setSpacing(4);
    m_grid->setParent(gridBox);
    gridColumn->addWidget(m_grid);
    m_total->setFont(Theme::font(Theme::TextStyle::Caption));
    QPalette palette = m_total->palette();
    palette.setColor(QPalette::WindowText, Theme::foreground(palette, Theme::Foreground::Tertiary));
    m_total->setPalette(palette);
    gridColumn->addWidget(m_total, 0, Qt::AlignHCenter);
    column->addWidget(gridBox);

    connect(m_grid, &MasonryGrid::tileClicked, this, &FolderDetailPreview::openPreview);
    refresh();
}

void FolderDetailPreview::setFolder(const SyncFolder &folder)
{
    Source source{folder.path, folder.imageCount, folder.cachedLocalFileMeta};
    if (m_source == source)
        return;
    // The same folder with other files, seen while shown: an export into it goes on, and what is on screen stays.
    const bool sameFolder = m_path == folder.path && !m_hiddenSinceLoad;
    m_source = std::move(source);
    m_path = folder.path;
    if (!sameFolder && m_sheet)
        m_sheet->reject(); // its images are of the folder left behind
    startLoading(!sameFolder);
}

void FolderDetailPreview::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Images added or deleted while the window was closed show as they are now; a restore from the taskbar
    // (spontaneous) hid nothing.
    if (m_hiddenSinceLoad && m_path)
        startLoading(true);
}

void FolderDetailPreview::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        m_hiddenSinceLoad = true;
}

FolderDetailPreview::State FolderDetailPreview::state() const
{
    if (m_isLoading)
        return State::Loading;
    return m_thumbnails.isEmpty() ? State::Empty : State::Grid;
}

QString FolderDetailPreview::totalText() const
{
    if (state() != State::Grid || m_allImageURLs.size() <= kMaxThumbnails)
        return {};
    return QString::number(m_allImageURLs.size()) + QStringLiteral(" bilder totalt");
}

QHash<int, QRect> FolderDetailPreview::tileRects() const
{
    return m_grid->tileRects();
}

void FolderDetailPreview::openPreview(int index)
{
    if (index < 0 || index >= m_allImageURLs.size())
        return;
    if (m_sheet)
        m_sheet->close();
    m_previewIndex = index;
    auto *sheet = new ImagePreviewSheet(m_listing, index, m_loaders.loadImage, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    m_sheet = sheet;
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (m_sheet == sheet)
            m_previewIndex.reset();
    });
    sheet->resize(sheet->sizeHint().boundedTo(window()->screen() ? window()->screen()->availableSize()
                                                                 : sheet->sizeHint()));
    sheet->open();
}

void FolderDetailPreview::startLoading(bool afresh)
{
    const quint64 generation = ++m_generation;
    if (afresh) {
        m_hiddenSinceLoad = false;
        m_isLoading = true;
        m_thumbnails.clear();
        m_allImageURLs.clear();
        m_listing.clear();
        m_shownURLs.clear();
        m_loadedVersions.clear();
        refresh();
    }

    // A placeholder of a removed folder has no directory; a relative path would be read from the working folder.
    if (!m_path || !QDir::isAbsolutePath(*m_path)) {
        m_isLoading = false;
        refresh();
        Q_EMIT loadFinished();
        return;
    }
    QString prefix = *m_path;
    while (prefix.size() > 1 && prefix.endsWith(u'/'))
        prefix.chop(1);
    // Decoded afresh each time the folder is shown; while it stays shown, the cache key tells a changed file.
    if (afresh)
        m_cache->removeAllWithPrefix(prefix);
    load(QUrl::fromLocalFile(prefix), generation);
}

QCoro::Task<void> FolderDetailPreview::load(QUrl folderURL, quint64 generation)
{
    QPointer<FolderDetailPreview> self(this);
    try {
        // Operands named first: g++ 12 destroys a temporary built inside a co_await operand twice.
        QFuture<QList<ListedImage>> listing = m_loaders.listImages(folderURL);
        QList<ListedImage> images = co_await listing;
        if (!self || generation != m_generation)
            co_return;

        m_listing = images;
        m_allImageURLs.clear();
        m_allImageURLs.reserve(images.size());
        for (const ListedImage &image : std::as_const(images))
            m_allImageURLs.append(image.url);
        m_shownURLs = m_allImageURLs.mid(0, kMaxThumbnails);

        // An image loaded from the version listed now stays as it is; new and changed ones load, and a changed one
        // shows its old thumbnail until the new one is in.
        QHash<QUrl, FileVersion> listed;
        QHash<QUrl, FileVersion> current;
        QList<QUrl> toLoad;
        for (qsizetype i = 0; i < m_shownURLs.size(); ++i) {
            const ListedImage &image = images.at(i);
            listed.insert(image.url, image.version);
            const auto loaded = m_loadedVersions.constFind(image.url);
            if (loaded != m_loadedVersions.cend() && *loaded == image.version)
                current.insert(image.url, image.version);
            else
                toLoad.append(image.url);
        }
        m_loadedVersions = current;
        mergeThumbnails({}, {});
        if (m_sheet)
            m_sheet->followImages(images);
        refresh();

        for (qsizetype start = 0; start < toLoad.size(); start += kBatchSize) {
            QList<QUrl> batchURLs = toLoad.mid(start, kBatchSize);
            QCoro::Task<QList<Thumbnail>> loading = m_loaders.loadBatch(batchURLs, kThumbnailSize);
            QList<Thumbnail> batch = co_await std::move(loading);
            // Another folder was selected, or this one listed again, meanwhile: the newer load owns the grid.
            if (!self || generation != m_generation)
                co_return;
            // An image that failed is not tried again until it changes.
            for (const QUrl &url : std::as_const(batchURLs))
                m_loadedVersions.insert(url, listed.value(url));
            mergeThumbnails(batch, batchURLs);
            m_isLoading = false;
            refresh();
        }
    } catch (const std::exception &error) {
        qCWarning(lcThumbnail, "Preview of %s failed: %s", qUtf8Printable(folderURL.toLocalFile()), error.what());
    } catch (...) {
        qCWarning(lcThumbnail, "Preview of %s failed", qUtf8Printable(folderURL.toLocalFile()));
    }
    if (!self || generation != m_generation)
        co_return;
    m_isLoading = false;
    refresh();
    Q_EMIT loadFinished();
}

void FolderDetailPreview::mergeThumbnails(const QList<Thumbnail> &loaded, const QList<QUrl> &asked)
{
    QHash<QUrl, QImage> images;
    images.reserve(m_thumbnails.size() + loaded.size());
    for (const Thumbnail &thumbnail : std::as_const(m_thumbnails))
        images.insert(thumbnail.url, thumbnail.image);
    for (const QUrl &url : asked)
        images.remove(url);
    for (const Thumbnail &thumbnail : loaded)
        images.insert(thumbnail.url, thumbnail.image);
    QList<Thumbnail> merged;
    merged.reserve(images.size());
    for (const QUrl &url : std::as_const(m_shownURLs)) {
        const auto image = images.constFind(url);
        if (image != images.cend())
            merged.append(Thumbnail{url, *image});
    }
    m_thumbnails = std::move(merged);
}

void FolderDetailPreview::refresh()
{
    const State current = state();
    m_placeholders->parentWidget()->setVisible(current == State::Loading);
    m_empty->setVisible(current == State::Empty);
    m_grid->parentWidget()->setVisible(current == State::Grid);
    QHash<QUrl, int> positions;
    positions.reserve(m_allImageURLs.size());
    for (int i = 0; i < m_allImageURLs.size(); ++i)
        positions.insert(m_allImageURLs.at(i), i);
    m_grid->setContent(m_thumbnails, positions);
    const QString total = totalText();
    m_total->setText(total);
    m_total->setVisible(!total.isEmpty());
    Q_EMIT stateChanged();
}

#include "FolderDetailPreview.moc"
