#pragma once

// The two small views of a folder's status and the capsule drawing the row delegate shares with them.

#include "FolderStatusPresentation.h"
#include "ui/CapsuleLabel.h"

#include <QWidget>

class QPainter;
class Spinner;

namespace statuscapsule {
// The status look: 11 px medium, padded 8 by 3, the colour at 12 % behind the text.
QFont font();
QSize size(const QString &text);
void paint(QPainter &painter, const QRect &rect, const QString &text, const QColor &colour);
} // namespace statuscapsule

// The coloured capsule with the folder's status text.
class FolderStatusLabel : public CapsuleLabel
{
    Q_OBJECT
public:
    explicit FolderStatusLabel(QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    void setPresentation(const FolderStatusPresentation &presentation);
    const FolderStatusPresentation &presentation() const { return m_presentation; }

protected:
    void changeEvent(QEvent *event) override;

private:
    FolderStatusPresentation m_presentation;
};

// The folder's status symbol in its colour, or a small spinner while it uploads. Its side follows the font's
// pixel size, so the place that shows it decides how big it is.
class FolderStatusIcon : public QWidget
{
    Q_OBJECT
public:
    explicit FolderStatusIcon(QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    void setPresentation(const FolderStatusPresentation &presentation);
    const FolderStatusPresentation &presentation() const { return m_presentation; }
    bool isShowingSpinner() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    FolderStatusPresentation m_presentation;
    Spinner *m_spinner;
};
