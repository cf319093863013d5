#include "FlowLayout.h"

#include <QWidget>

FlowLayout::FlowLayout(QWidget *parent, int horizontalSpacing, int verticalSpacing)
    : QLayout(parent), m_hSpacing(horizontalSpacing), m_vSpacing(verticalSpacing)
{
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
}

QLayoutItem *FlowLayout::takeAt(int index)
{
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

int FlowLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QSize FlowLayout::sizeHint() const
{
    // Everything on one line.
    int width = 0;
    int height = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        width += (width ? m_hSpacing : 0) + item->sizeHint().width();
        height = std::max(height, item->sizeHint().height());
    }
    const QMargins m = contentsMargins();
    return {width + m.left() + m.right(), height + m.top() + m.bottom()};
}

QSize FlowLayout::minimumSize() const
{
    QSize size;
    for (QLayoutItem *item : m_items) {
        if (!item->isEmpty())
            size = size.expandedTo(item->minimumSize());
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect &rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    int y = area.y();
    qsizetype lineStart = 0;
    while (lineStart < m_items.size()) {
        // Fill one line, then place it centred on its tallest item.
        int x = area.x();
        int lineHeight = 0;
        bool placed = false;
        qsizetype end = lineStart;
        for (; end < m_items.size(); ++end) {
            QLayoutItem *item = m_items.at(end);
            if (item->isEmpty())
                continue;
            const int w = item->sizeHint().width();
            if (x > area.x() && x + w > area.x() + area.width())
                break;
            x += w + m_hSpacing;
            lineHeight = std::max(lineHeight, item->sizeHint().height());
            placed = true;
        }
        if (apply) {
            int px = area.x();
            for (qsizetype i = lineStart; i < end; ++i) {
                QLayoutItem *item = m_items.at(i);
                if (item->isEmpty())
                    continue;
                const QSize s = item->sizeHint();
                item->setGeometry(QRect(QPoint(px, y + (lineHeight - s.height()) / 2), s));
                px += s.width() + m_hSpacing;
            }
        }
        if (!placed) // only hidden items left
            break;
        y += lineHeight + m_vSpacing;
        lineStart = end;
    }
    const int used = y > area.y() ? y - m_vSpacing - area.y() : 0;
    const QMargins m = contentsMargins();
    return used + m.top() + m.bottom();
}
