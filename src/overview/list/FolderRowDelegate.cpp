#include "FolderRowDelegate.h"

#include "FolderRowModel.h"
#include "FolderStatusViews.h"

#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

using Theme::Foreground;
using Theme::SystemColor;

QRectF squareAt(qreal left, const QRectF &band, qreal frameWidth, qreal side)
{
    return {left + (frameWidth - side) / 2, band.center().y() - side / 2, side, side};
}

} // namespace

FolderRowDelegate::FolderRowDelegate(const FolderRowModel *model, QObject *parent)
    : QStyledItemDelegate(parent), m_model(model)
{
}

QSize FolderRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool header = m_model->rowAt(index.row()).row.isHeader();
    return {option.rect.width(), header ? kHeaderHeight + kHeaderGap : kLeafHeight + kLeafGap};
}

void FolderRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (m_model->rowAt(index.row()).row.isHeader())
        paintHeader(*painter, option, index.row());
    else
        paintLeaf(*painter, option, index.row());
    painter->restore();
}

int FolderRowDelegate::indent(int depth, int viewWidth)
{
    // Past the cap every deeper level lines up with the last one that fitted.
    const int room = std::max(0, viewWidth - 2 * kListPadding - kMinimumRowWidth);
    return std::min(std::max(depth, 0) * kIndentPerLevel, room);
}

FolderRowDelegate::LeafGeometry FolderRowDelegate::leafGeometry(const QRect &item, int depth, const QString &status)
{
    LeafGeometry g;
    g.card = QRectF(item).adjusted(kListPadding + indent(depth, item.width()), 0, -kListPadding, -kLeafGap);
    const QRectF content = g.card.adjusted(14, 12, -14, -12);
    g.symbol = squareAt(content.left(), content, 28, 18);

    // A long failure message gives way before the name does: the capsule takes at most 60 % of the row.
    const int capsuleLimit = std::max(0, static_cast<int>((content.width() - 40) * 0.6));
    g.status = status;
    QSize capsule = statuscapsule::size(g.status);
    if (capsule.width() > capsuleLimit) {
        g.status = QFontMetrics(statuscapsule::font()).elidedText(g.status, Qt::ElideRight, capsuleLimit - 16);
        capsule = statuscapsule::size(g.status);
    }
    g.capsule = QRect(static_cast<int>(content.right()) - capsule.width(),
                      static_cast<int>(content.center().y() - capsule.height() / 2.0), capsule.width(),
                      capsule.height());
    const qreal nameLeft = content.left() + 28 + 12;
    g.name = QRectF(nameLeft, content.top(), std::max<qreal>(0, g.capsule.left() - 12 - nameLeft), content.height());
    return g;
}

FolderRowDelegate::HeaderGeometry FolderRowDelegate::headerGeometry(const QRect &item, int depth, int summaryWidth,
                                                                    int countWidth)
{
    HeaderGeometry g;
    const QRectF band = QRectF(item).adjusted(kListPadding + indent(depth, item.width()), 0, -kListPadding,
                                              -kHeaderGap);
    const QRectF content = band.adjusted(8, 6, -8, -6);
    g.chevron = squareAt(content.left(), content, 12, 9);
    const qreal x = content.left() + 12 + 8;
    g.symbol = squareAt(x, content, 14, 14);
    // From the right: the folder count, then the summary; the name takes what is left.
    g.count = QRectF(content.right() - countWidth, content.top(), countWidth, content.height());
    qreal right = g.count.left() - 8;
    g.summary = QRectF(right - summaryWidth, content.top(), summaryWidth, content.height());
    if (summaryWidth > 0)
        right -= summaryWidth + 8;
    const qreal nameLeft = x + 14 + 8;
    g.name = QRectF(nameLeft, content.top(), std::max<qreal>(0, right - nameLeft), content.height());
    return g;
}

void FolderRowDelegate::paintLeaf(QPainter &painter, const QStyleOptionViewItem &option, int row) const
{
    const FolderRowModel::Row &r = m_model->rowAt(row);
    const QPalette &palette = option.palette;
    const bool selected = m_selected && *m_selected == r.row.folder.path;
    const LeafGeometry g = leafGeometry(option.rect, r.row.depth, r.presentation.text);

    const QColor accent = palette.color(QPalette::Highlight);
    const QColor primary = Theme::foreground(palette, Foreground::Primary);
    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? Theme::withAlpha(accent, 0.10) : Theme::withAlpha(primary, 0.03));
    painter.drawRoundedRect(g.card, 10, 10);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(selected ? Theme::withAlpha(accent, 0.30) : Theme::withAlpha(primary, 0.08), 1));
    painter.drawRoundedRect(g.card.adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);

    Symbol::paint(&painter, g.symbol, QStringLiteral("folder.fill"),
                  Theme::withAlpha(Theme::systemColor(SystemColor::Orange, palette), 0.85));
    statuscapsule::paint(painter, g.capsule, g.status, r.presentation.color(palette));

    const QFont nameFont = Theme::systemFont(13, QFont::Medium);
    painter.setFont(nameFont);
    painter.setPen(primary);
    const QString name = QFontMetrics(nameFont).elidedText(r.row.folder.displayName, Qt::ElideRight,
                                                           static_cast<int>(g.name.width()));
    painter.drawText(g.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, name);
}

void FolderRowDelegate::paintHeader(QPainter &painter, const QStyleOptionViewItem &option, int row) const
{
    const FolderRowModel::Row &r = m_model->rowAt(row);
    const QPalette &palette = option.palette;
    const QColor faint = Theme::foreground(palette, Foreground::Quaternary);

    const QFont countFont = Theme::systemFont(11);
    const QString count = QString::number(r.counts.total);
    const QFont summaryFont = Theme::systemFont(10, QFont::Medium);
    const QFontMetrics summaryMetrics(summaryFont);
    int summaryWidth = 0;
    for (const NodeSummaryPart &part : r.summary)
        summaryWidth += summaryMetrics.horizontalAdvance(part.separator + part.text);
    const HeaderGeometry g = headerGeometry(option.rect, r.row.depth, summaryWidth,
                                            QFontMetrics(countFont).horizontalAdvance(count));

    // Chevron, pointing down while expanded.
    painter.save();
    painter.translate(g.chevron.center());
    if (r.expanded)
        painter.rotate(90);
    Symbol::paint(&painter, g.chevron.translated(-g.chevron.center()), QStringLiteral("chevron.right"), faint);
    painter.restore();

    Symbol::paint(&painter, g.symbol, QStringLiteral("folder.fill"),
                  Theme::withAlpha(Theme::systemColor(SystemColor::Orange, palette), 0.60));

    painter.setFont(countFont);
    painter.setPen(faint);
    painter.drawText(g.count, Qt::AlignRight | Qt::AlignVCenter, count);

    painter.setFont(summaryFont);
    qreal sx = g.summary.left();
    for (const NodeSummaryPart &part : r.summary) {
        const int sepWidth = summaryMetrics.horizontalAdvance(part.separator);
        const int textWidth = summaryMetrics.horizontalAdvance(part.text);
        painter.setPen(faint);
        painter.drawText(QRectF(sx, g.summary.top(), sepWidth, g.summary.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         part.separator);
        painter.setPen(Theme::withAlpha(statusToneColor(part.tone, palette), 0.70));
        painter.drawText(QRectF(sx + sepWidth, g.summary.top(), textWidth, g.summary.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, part.text);
        sx += sepWidth + textWidth;
    }

    const QFont nameFont = Theme::systemFont(12, QFont::Medium);
    painter.setFont(nameFont);
    painter.setPen(Theme::foreground(palette, Foreground::Secondary));
    painter.drawText(g.name, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(nameFont).elidedText(r.row.node.displayName, Qt::ElideRight,
                                                       static_cast<int>(g.name.width())));
}
