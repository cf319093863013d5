#include "LineLimitedLabel.h"

#include <QPainter>
#include <QTextLayout>

LineLimitedLabel::LineLimitedLabel(QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

LineLimitedLabel::LineLimitedLabel(const QString &text, QWidget *parent) : LineLimitedLabel(parent)
{
    setText(text);
}

void LineLimitedLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

void LineLimitedLabel::setMaximumLines(int lines)
{
    m_maxLines = std::max(1, lines);
    updateGeometry();
    update();
}

void LineLimitedLabel::setForeground(Theme::Foreground level)
{
    m_level = level;
    m_colour = QColor();
    update();
}

void LineLimitedLabel::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

void LineLimitedLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

QStringList LineLimitedLabel::linesForWidth(int width) const
{
    QStringList lines;
    if (m_text.isEmpty() || width <= 0)
        return lines;
    QTextLayout layout(m_text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == m_maxLines - 1) {
            // The last allowed line takes all that is left and gives way at its end.
            const QString rest = m_text.mid(line.textStart()).simplified();
            lines << fontMetrics().elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << m_text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

int LineLimitedLabel::heightForWidth(int width) const
{
    const qsizetype count = std::max<qsizetype>(1, linesForWidth(width).size());
    return static_cast<int>(count) * fontMetrics().lineSpacing();
}

QSize LineLimitedLabel::sizeHint() const
{
    const int width = std::min(fontMetrics().horizontalAdvance(m_text), 280);
    return {width, heightForWidth(std::max(width, 1))};
}

QSize LineLimitedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("……")), fontMetrics().lineSpacing()};
}

void LineLimitedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_colour.isValid() ? m_colour : Theme::foreground(palette(), m_level));
    const int spacing = fontMetrics().lineSpacing();
    int y = 0;
    for (const QString &line : linesForWidth(width())) {
        painter.drawText(QRect(0, y, width(), spacing), static_cast<int>(m_alignment & Qt::AlignHorizontal_Mask) |
                                                             Qt::AlignVCenter | Qt::TextSingleLine,
                         line);
        y += spacing;
    }
}
