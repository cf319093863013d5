#pragma once

#include <QCoroTask>
#include <QDialog>
#include <QImage>
#include <QList>
#include <QUrl>

#include "thumbnails/ThumbnailLoader.h"

#include <functional>

class QAbstractButton;
class QLabel;
class PreviewImageArea;

// Loads one image at a size; a null image when it cannot be decoded.
using ImageLoader = std::function<QCoro::Task<QImage>(QUrl, double)>;

// One image of a folder at a time, large on a black ground, with its name and place in the list; steps with the
// buttons and the arrow keys (no wrap at either end) and closes with Escape, Ctrl+W or "Ferdig".
class ImagePreviewSheet : public QDialog
{
    Q_OBJECT
public:
    static constexpr double kMaxPixelSize = 2400;

    // loader: the shared thumbnail loader unless a test passes its own.
    ImagePreviewSheet(QList<QUrl> imageURLs, int startIndex, ImageLoader loader = {}, QWidget *parent = nullptr);
    // With the version of each file as listed, so that followImages can tell a replaced image from an unchanged one.
    ImagePreviewSheet(QList<ListedImage> images, int startIndex, ImageLoader loader = {}, QWidget *parent = nullptr);

    // The folder as it is now. The image shown keeps its place; replaced on disk, it loads again; deleted, the
    // image after it shows (or the one before, at the end), and the sheet closes when no image is left.
    void followImages(const QList<ListedImage> &images);

    int currentIndex() const { return m_currentIndex; }
    bool isLoading() const { return m_isLoading; }
    const QImage &currentImage() const { return m_currentImage; }
    // What shows in the image area now.
    enum class Content { Spinner, Image, Error };
    Content content() const;
    // Empty when the position is not in the list.
    QString fileNameText() const;
    QString positionText() const;
    QAbstractButton *previousButton() const { return m_previous; }
    QAbstractButton *nextButton() const { return m_next; }
    QAbstractButton *doneButton() const { return m_done; }

    void showPrevious();
    void showNext();

    QSize sizeHint() const override { return {1100, 800}; }

Q_SIGNALS:
    // A load has ended for the position shown (not for one stepped past).
    void imageSettled();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setCurrentIndex(int index);
    void refresh();
    void loadCurrentImage();
    QCoro::Task<void> load(QUrl url, quint64 generation);

    QList<ListedImage> m_images; // a version of size -1 where not known
    FileVersion m_shownVersion;    // of the file whose load is the latest
    int m_currentIndex;
    QImage m_currentImage;
    bool m_isLoading = true;
    quint64 m_generation = 0;
    ImageLoader m_loader;
    QAbstractButton *m_previous;
    QAbstractButton *m_next;
    QAbstractButton *m_done;
    QLabel *m_fileName;
    QLabel *m_position;
    QWidget *m_titleBlock;
    PreviewImageArea *m_area;
};
