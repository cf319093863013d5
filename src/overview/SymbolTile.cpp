#include "SymbolTile.h"

#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QPainter>

SymbolTile::SymbolTile(const QString &symbol, QWidget *parent) : QWidget(parent), m_symbol(symbol)
{
    setFixedSize(80, 80);
}

void SymbolTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::foreground(palette(), Theme::Foreground::Quaternary));
    painter.drawRoundedRect(QRectF(rect()), 16, 16);
    Symbol::paint(&painter, QRectF(22, 22, 36, 36), m_symbol, Theme::foreground(palette(), Theme::Foreground::Secondary));
}
