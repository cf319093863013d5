#pragma once

#include "Theme.h"

#include <QColor>
#include <QWidget>

// One line of text cut with an ellipsis where it does not fit (end, middle or start); the full text is the tooltip
// while it is cut. Drawn in a foreground level of the palette, or in a fixed colour.
class ElidedLabel : public QWidget
{
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget *parent = nullptr);
    ElidedLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    void setForeground(Theme::Foreground level);
    void setColor(const QColor &colour);
    void setAlignment(Qt::Alignment alignment);
    Qt::TextElideMode elideMode() const { return m_mode; }
    // The text as it is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void refreshToolTip();

    QString m_text;
    Qt::TextElideMode m_mode;
    Theme::Foreground m_level = Theme::Foreground::Primary;
    QColor m_colour;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

// A file-system path: the start gives way first, so the folder's own name stays visible.
class PathLabel : public ElidedLabel
{
    Q_OBJECT
public:
    explicit PathLabel(QWidget *parent = nullptr) : ElidedLabel(Qt::ElideLeft, parent) {}
    explicit PathLabel(const QString &path, QWidget *parent = nullptr) : ElidedLabel(path, Qt::ElideLeft, parent) {}
};
