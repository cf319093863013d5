#include "ElidedLabel.h"

#include "PlainText.h"

#include <QPainter>

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget *parent) : QWidget(parent), m_mode(mode)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

ElidedLabel::ElidedLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent) : ElidedLabel(mode, parent)
{
    setText(text);
}

void ElidedLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    refreshToolTip();
    update();
}

void ElidedLabel::setForeground(Theme::Foreground level)
{
    m_level = level;
    m_colour = QColor();
    update();
}

void ElidedLabel::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

void ElidedLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

QString ElidedLabel::displayedText() const
{
    return fontMetrics().elidedText(m_text, m_mode, width());
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(m_text), fm.height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QStringLiteral("…")) * 3, fm.height()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_colour.isValid() ? m_colour : Theme::foreground(palette(), m_level));
    painter.drawText(rect(), static_cast<int>(m_alignment) | Qt::TextSingleLine, displayedText());
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    refreshToolTip();
}

void ElidedLabel::refreshToolTip()
{
    setToolTip(displayedText() == m_text ? QString() : plainToolTip(m_text));
}
