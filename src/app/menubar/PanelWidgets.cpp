#include "PanelWidgets.h"

#include "ui/Symbol.h"

#include <QPainter>

SymbolView::SymbolView(const QString &name, int side, QWidget *parent) : QWidget(parent), m_name(name)
{
    setFixedSize(side, side);
}

void SymbolView::setSymbol(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

void SymbolView::setForeground(Theme::Foreground level)
{
    m_level = level;
    m_colour = QColor();
    update();
}

void SymbolView::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor tint = m_colour.isValid() ? m_colour : Theme::foreground(palette(), m_level);
    Symbol::paint(&painter, rect(), m_name, tint);
}

Divider::Divider(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Theme::foreground(palette(), Theme::Foreground::Quaternary));
}
