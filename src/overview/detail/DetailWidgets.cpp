#include "DetailWidgets.h"

#include "ui/Symbol.h"

#include <QPainter>

DetailSymbol::DetailSymbol(const QString &name, int side, QWidget *parent) : QWidget(parent), m_name(name)
{
    setFixedSize(side, side);
}

void DetailSymbol::setSymbol(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    update();
}

void DetailSymbol::setForeground(Theme::Foreground level)
{
    m_level = level;
    m_colour.reset();
    m_system.reset();
    update();
}

void DetailSymbol::setColor(const QColor &colour)
{
    m_colour = colour;
    m_system.reset();
    update();
}

void DetailSymbol::setSystemColor(Theme::SystemColor colour)
{
    m_system = colour;
    m_colour.reset();
    update();
}

void DetailSymbol::setOpacity(qreal opacity)
{
    m_opacity = opacity;
    update();
}

void DetailSymbol::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    QColor tint = m_colour ? *m_colour
                 : m_system ? Theme::systemColor(*m_system, palette())
                            : Theme::foreground(palette(), m_level);
    Symbol::paint(&painter, QRectF(rect()), m_name, tint);
}

GlassFrame::GlassFrame(qreal fillAlpha, qreal borderAlpha, qreal radius, QWidget *parent)
    : QWidget(parent), m_fillAlpha(fillAlpha), m_borderAlpha(borderAlpha), m_radius(radius)
{
}

void GlassFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = m_radius < 0 ? box.height() / 2 : m_radius;
    const QColor light = glassLight(palette());
    painter.setBrush(Theme::withAlpha(light, m_fillAlpha));
    painter.setPen(QPen(Theme::withAlpha(light, m_borderAlpha), 1));
    painter.drawRoundedRect(box, radius, radius);
}

QColor glassLight(const QPalette &palette)
{
    return Theme::isDark(palette) ? QColor(Qt::white) : Theme::foreground(palette, Theme::Foreground::Primary);
}
