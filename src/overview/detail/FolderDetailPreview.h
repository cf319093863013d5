#pragma once

// The images of the selected folder: the first 50 as thumbnails in three columns of unequal height, loaded six at a
// time off the UI thread; a click opens the large preview.

#include "ImagePreviewSheet.h"
#include "thumbnails/ThumbnailLoader.h"
#include "sync/SyncFolder.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>

class QLabel;
class ThumbnailCache;

// For each column, left to right, the positions of the thumbnails placed in it: each goes to the column that is
// shortest so far (the leftmost on a tie), counting a thumbnail as 1 / aspect high, with heights below 1 counted as
// 1 and aspects below 0.1 as 0.1.
QList<QList<qsizetype>> distributeIntoColumns(const QList<QSizeF> &imageSizes, int columns);

// Where the grid's slow work comes from; tests replace them.
struct PreviewLoaders {
    std::function<QFuture<QList<ListedImage>>(QUrl)> listImages;        // listFolderImageVersionsInBackground
    std::function<QCoro::Task<QList<Thumbnail>>(QList<QUrl>, double)> loadBatch; // loadThumbnails
    ImageLoader loadImage;                                                // loadThumbnail, for the sheet
};

class FolderDetailPreview : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kColumns = 3;
    static constexpr qreal kSpacing = 2;
    static constexpr qsizetype kMaxThumbnails = 50;
    static constexpr qsizetype kBatchSize = 6;
    static constexpr double kThumbnailSize = 400;

    // cache: the shared cache when null.
    explicit FolderDetailPreview(ThumbnailCache *cache = nullptr, PreviewLoaders loaders = {},
                                 QWidget *parent = nullptr);

    // Another folder is listed and decoded afresh. For the same folder with other image files (as the last scan
    // found them), only new and changed images load while the others stay as they are, and an open sheet follows
    // the new listing. Shown again after being hidden, the grid loads the folder afresh.
    void setFolder(const SyncFolder &folder);

    enum class State { Loading, Empty, Grid };
    State state() const;
    const QList<Thumbnail> &thumbnails() const { return m_thumbnails; }
    const QList<QUrl> &allImageURLs() const { return m_allImageURLs; }
    // "120 bilder totalt" below a grid of a folder with more than 50 images; empty otherwise.
    QString totalText() const;
    // The position in allImageURLs of the image whose sheet is open.
    std::optional<int> previewIndex() const { return m_previewIndex; }
    ImagePreviewSheet *sheet() const { return m_sheet; }
    // The rectangle of each tile in the grid, by position in allImageURLs; for tests and the screenshots.
    QHash<int, QRect> tileRects() const;

    // Opens the sheet on an image, as a click on its tile does.
    void openPreview(int index);

Q_SIGNALS:
    // The folder's listing and every batch are in (or the folder changed meanwhile: then nothing is emitted).
    void loadFinished();
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // What of a folder the grid depends on.
    struct Source {
        QString path;
        qint64 imageCount = 0;
        std::optional<LocalFiles> files;
        bool operator==(const Source &) const = default;
    };

    // afresh: the placeholders show and every thumbnail decodes again; else only what changed on disk loads.
    void startLoading(bool afresh);
    QCoro::Task<void> load(QUrl folderURL, quint64 generation);
    // Thumbnails of the first images of the listing in its order, the new ones taking the place of the old.
    void mergeThumbnails(const QList<Thumbnail> &loaded, const QList<QUrl> &asked);
    void refresh();

    ThumbnailCache *m_cache;
    PreviewLoaders m_loaders;
    std::optional<QString> m_path;
    std::optional<Source> m_source;
    bool m_hiddenSinceLoad = false; // the folder may have changed unseen: load again when shown
    quint64 m_generation = 0;
    bool m_isLoading = true;
    QList<Thumbnail> m_thumbnails;
    QList<QUrl> m_allImageURLs;
    QList<ListedImage> m_listing;
    QList<QUrl> m_shownURLs;                  // the first kMaxThumbnails of the listing
    QHash<QUrl, FileVersion> m_loadedVersions; // what each shown image was loaded from, decoded or not
    std::optional<int> m_previewIndex;
    QPointer<ImagePreviewSheet> m_sheet;

    QWidget *m_placeholders;
    QWidget *m_empty;
    class MasonryGrid *m_grid;
    QLabel *m_total;
};
