#include "Buttons.h"

#include "Color.h"
#include "Symbol.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

PlainButton::PlainButton(const QString &text, QWidget *parent) : QAbstractButton(parent)
{
    setText(text);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void PlainButton::setSymbol(const QString &name)
{
    m_symbol = name;
    updateGeometry();
    update();
}

void PlainButton::setSymbolSize(int pixels)
{
    m_symbolSize = pixels;
    updateGeometry();
    update();
}

void PlainButton::setForeground(Theme::Foreground level)
{
    m_level = level;
    m_colour = QColor();
    update();
}

void PlainButton::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

void PlainButton::setStacked(bool stacked)
{
    m_stacked = stacked;
    updateGeometry();
    update();
}

void PlainButton::setSpacing(int pixels)
{
    m_spacing = pixels;
    updateGeometry();
    update();
}

int PlainButton::symbolSide() const
{
    if (m_symbol.isEmpty())
        return 0;
    if (m_symbolSize > 0)
        return m_symbolSize;
    const int px = font().pixelSize();
    return px > 0 ? px : fontMetrics().height();
}

QSize PlainButton::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int textWidth = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
    const int side = symbolSide();
    const int gap = (side > 0 && textWidth > 0) ? m_spacing : 0;
    if (m_stacked)
        return {std::max(textWidth, side), side + gap + (text().isEmpty() ? 0 : fm.height())};
    return {side + gap + textWidth, std::max(side, fm.height())};
}

QColor PlainButton::currentColor() const
{
    QColor c = m_colour.isValid() ? m_colour : Theme::foreground(palette(), m_level);
    if (!isEnabled())
        c.setAlphaF(c.alphaF() * 0.4F);
    else if (isDown())
        c.setAlphaF(c.alphaF() * 0.55F);
    else if (m_hovered)
        c.setAlphaF(std::min(1.0F, c.alphaF() * 1.3F));
    return c;
}

void PlainButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor colour = currentColor();
    const QFontMetrics fm = fontMetrics();
    const QSize content = sizeHint();
    const int side = symbolSide();
    const QRect box(QPoint((width() - content.width()) / 2, (height() - content.height()) / 2), content);
    painter.setPen(colour);
    if (m_stacked) {
        if (side > 0)
            Symbol::paint(&painter, QRectF((width() - side) / 2.0, box.top(), side, side), m_symbol, colour);
        const int top = box.top() + side + (side > 0 ? m_spacing : 0);
        painter.drawText(QRect(0, top, width(), fm.height()), Qt::AlignHCenter | Qt::AlignVCenter, text());
    } else {
        int x = box.left();
        if (side > 0) {
            Symbol::paint(&painter, QRectF(x, (height() - side) / 2.0, side, side), m_symbol, colour);
            x += side + m_spacing;
        }
        painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         text());
    }
    if (hasFocus() && focusPolicy() != Qt::NoFocus) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Theme::withAlpha(Color::brand(), 0.6), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }
}

void PlainButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PlainButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

ProminentButton::ProminentButton(const QString &text, QWidget *parent)
    : QAbstractButton(parent), m_tint(Color::brand())
{
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFont(Theme::systemFont(13, QFont::Medium));
}

void ProminentButton::setTint(const QColor &tint)
{
    m_tint = tint;
    update();
}

void ProminentButton::setControlSize(ControlSize size)
{
    m_size = size;
    setFont(Theme::systemFont(size == ControlSize::Small ? 11 : 13, QFont::Medium));
    updateGeometry();
    update();
}

void ProminentButton::setSymbol(const QString &name)
{
    m_symbol = name;
    updateGeometry();
    update();
}

int ProminentButton::height_() const
{
    switch (m_size) {
    case ControlSize::Small: return 20;
    case ControlSize::Regular: return 24;
    case ControlSize::Large: return 30;
    }
    return 24;
}

QSize ProminentButton::sizeHint() const
{
    const int padding = m_size == ControlSize::Large ? 16 : 10;
    const int symbol = m_symbol.isEmpty() ? 0 : font().pixelSize() + 6;
    return {fontMetrics().horizontalAdvance(text()) + symbol + 2 * padding, height_()};
}

void ProminentButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_tint;
    if (isDown())
        fill = fill.darker(118);
    else if (m_hovered)
        fill = fill.lighter(106);
    QColor ink = Qt::white;
    if (!isEnabled()) {
        fill.setAlphaF(fill.alphaF() * 0.4F);
        ink.setAlphaF(0.7F);
    }
    const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = m_size == ControlSize::Large ? 7 : 5;
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(body, radius, radius);
    // A faint top light gives the filled face some depth on flat palettes.
    QLinearGradient sheen(body.topLeft(), body.bottomLeft());
    sheen.setColorAt(0, QColor(255, 255, 255, 28));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    painter.setBrush(sheen);
    painter.drawRoundedRect(body, radius, radius);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Theme::withAlpha(m_tint, 0.5), 2));
        painter.drawRoundedRect(body.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    const QFontMetrics fm = fontMetrics();
    const int side = m_symbol.isEmpty() ? 0 : font().pixelSize();
    const int gap = side > 0 ? 6 : 0;
    const int contentWidth = side + gap + fm.horizontalAdvance(text());
    int x = (width() - contentWidth) / 2;
    if (side > 0) {
        Symbol::paint(&painter, QRectF(x, (height() - side) / 2.0, side, side), m_symbol, ink);
        x += side + gap;
    }
    painter.setPen(ink);
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     text());
}

void ProminentButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ProminentButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}
