#pragma once

// Small drawing blocks the inspector's sections share.

#include "ui/Theme.h"

#include <QColor>
#include <QWidget>

#include <optional>

// One named symbol, square, in a foreground level of the palette or in a fixed colour (read when painted, so it
// follows a change of appearance).
class DetailSymbol : public QWidget
{
    Q_OBJECT
public:
    DetailSymbol(const QString &name, int side, QWidget *parent = nullptr);

    QString symbol() const { return m_name; }
    void setSymbol(const QString &name);
    void setForeground(Theme::Foreground level);
    void setColor(const QColor &colour);
    void setSystemColor(Theme::SystemColor colour);
    void setOpacity(qreal opacity);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    Theme::Foreground m_level = Theme::Foreground::Primary;
    std::optional<QColor> m_colour;
    std::optional<Theme::SystemColor> m_system;
    qreal m_opacity = 1.0;
};

// A capsule (or a rounded rectangle) filled with a faint light and outlined inside by a slightly stronger one:
// the frame of the counters, the folder-name chip and the strip of small buttons.
class GlassFrame : public QWidget
{
    Q_OBJECT
public:
    // radius < 0: a capsule.
    GlassFrame(qreal fillAlpha, qreal borderAlpha, qreal radius = -1, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_fillAlpha;
    qreal m_borderAlpha;
    qreal m_radius;
};

// The light the glass frames are drawn with: white on a dark window; on a light one white vanishes, so the
// window text stands in at the same strength.
QColor glassLight(const QPalette &palette);
