#include "CapsuleLabel.h"

#include "Theme.h"

#include <QPainter>

CapsuleLabel::CapsuleLabel(const QString &text, const QColor &colour, QWidget *parent)
    : QWidget(parent), m_text(text), m_colour(colour)
{
    setFont(Theme::systemFont(11, QFont::Medium));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void CapsuleLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

void CapsuleLabel::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

void CapsuleLabel::setFill(const QColor &fill)
{
    m_fill = fill;
    update();
}

void CapsuleLabel::setBorder(const QColor &border)
{
    m_border = border;
    update();
}

void CapsuleLabel::setPadding(const QMargins &padding)
{
    m_padding = padding;
    updateGeometry();
    update();
}

QSize CapsuleLabel::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(m_text) + m_padding.left() + m_padding.right(),
            fm.height() + m_padding.top() + m_padding.bottom()};
}

QColor CapsuleLabel::textColour() const
{
    return m_colour.isValid() ? m_colour : Theme::foreground(palette(), Theme::Foreground::Secondary);
}

void CapsuleLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = textColour();
    const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = body.height() / 2;
    painter.setBrush(m_fill.isValid() ? m_fill : Theme::withAlpha(ink, 0.12));
    painter.setPen(m_border.isValid() ? QPen(m_border, 1) : QPen(Qt::NoPen));
    painter.drawRoundedRect(body, radius, radius);
    painter.setPen(ink);
    painter.drawText(rect().marginsRemoved(m_padding), Qt::AlignCenter | Qt::TextSingleLine, m_text);
}
