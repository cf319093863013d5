#include "FolderRowDelegate.h"

#include "FolderRowModel.h"
#include "FolderStatusViews.h"

#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

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

void FolderRowDelegate::paintLeaf(QPainter &painter, const QStyleOptionViewItem &option, int row) const
{
    const FolderRowModel::Row &r = m_model->rowAt(row);
    const QPalette &palette = option.palette;
    const bool selected = m_selected && *m_selected == r.row.folder.path;
    const QRectF card = QRectF(option.rect).adjusted(kListPadding + r.row.depth * kIndentPerLevel, 0, -kListPadding,
                                                     -kLeafGap);

    const QColor accent = palette.color(QPalette::Highlight);
    const QColor primary = Theme::foreground(palette, Foreground::Primary);
    painter.setPen(Qt::NoPen);
    painter.setBrush(selected ? Theme::withAlpha(accent, 0.10) : Theme::withAlpha(primary, 0.03));
    painter.drawRoundedRect(card, 10, 10);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(selected ? Theme::withAlpha(accent, 0.30) : Theme::withAlpha(primary, 0.08), 1));
    painter.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);

    const QRectF content = card.adjusted(14, 12, -14, -12);
    Symbol::paint(&painter, squareAt(content.left(), content, 28, 18), QStringLiteral("folder.fill"),
                  Theme::withAlpha(Theme::systemColor(SystemColor::Orange, palette), 0.85));

    // A long failure message gives way before the name does: the capsule takes at most 60 % of the row.
    const int capsuleLimit = static_cast<int>((content.width() - 40) * 0.6);
    QString status = r.presentation.text;
    QSize capsule = statuscapsule::size(status);
    if (capsule.width() > capsuleLimit) {
        status = QFontMetrics(statuscapsule::font()).elidedText(status, Qt::ElideRight, capsuleLimit - 16);
        capsule = statuscapsule::size(status);
    }
    const QRect capsuleRect(static_cast<int>(content.right()) - capsule.width(),
                            static_cast<int>(content.center().y() - capsule.height() / 2.0), capsule.width(),
                            capsule.height());
    statuscapsule::paint(painter, capsuleRect, status, r.presentation.color(palette));

    const QFont nameFont = Theme::systemFont(13, QFont::Medium);
    const qreal nameLeft = content.left() + 28 + 12;
    const qreal nameWidth = std::max<qreal>(0, capsuleRect.left() - 12 - nameLeft);
    painter.setFont(nameFont);
    painter.setPen(primary);
    const QString name = QFontMetrics(nameFont).elidedText(r.row.folder.displayName, Qt::ElideRight,
                                                           static_cast<int>(nameWidth));
    painter.drawText(QRectF(nameLeft, content.top(), nameWidth, content.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, name);
}

void FolderRowDelegate::paintHeader(QPainter &painter, const QStyleOptionViewItem &option, int row) const
{
    const FolderRowModel::Row &r = m_model->rowAt(row);
    const QPalette &palette = option.palette;
    const QRectF band = QRectF(option.rect).adjusted(kListPadding + r.row.depth * kIndentPerLevel, 0, -kListPadding,
                                                     -kHeaderGap);
    const QRectF content = band.adjusted(8, 6, -8, -6);
    const QColor faint = Theme::foreground(palette, Foreground::Quaternary);

    // Chevron, pointing down while expanded.
    const QRectF chevron = squareAt(content.left(), content, 12, 9);
    painter.save();
    painter.translate(chevron.center());
    if (r.expanded)
        painter.rotate(90);
    Symbol::paint(&painter, chevron.translated(-chevron.center()), QStringLiteral("chevron.right"), faint);
    painter.restore();

    qreal x = content.left() + 12 + 8;
    Symbol::paint(&painter, squareAt(x, content, 14, 14), QStringLiteral("folder.fill"),
                  Theme::withAlpha(Theme::systemColor(SystemColor::Orange, palette), 0.60));
    x += 14 + 8;

    // From the right: the folder count, then the summary; the name takes what is left.
    const QFont countFont = Theme::systemFont(11);
    const QString count = QString::number(r.counts.total);
    const int countWidth = QFontMetrics(countFont).horizontalAdvance(count);
    painter.setFont(countFont);
    painter.setPen(faint);
    painter.drawText(QRectF(content.right() - countWidth, content.top(), countWidth, content.height()),
                     Qt::AlignRight | Qt::AlignVCenter, count);
    qreal right = content.right() - countWidth - 8;

    const QFont summaryFont = Theme::systemFont(10, QFont::Medium);
    const QFontMetrics summaryMetrics(summaryFont);
    int summaryWidth = 0;
    for (const NodeSummaryPart &part : r.summary)
        summaryWidth += summaryMetrics.horizontalAdvance(part.separator + part.text);
    painter.setFont(summaryFont);
    qreal sx = right - summaryWidth;
    for (const NodeSummaryPart &part : r.summary) {
        const int sepWidth = summaryMetrics.horizontalAdvance(part.separator);
        const int textWidth = summaryMetrics.horizontalAdvance(part.text);
        painter.setPen(faint);
        painter.drawText(QRectF(sx, content.top(), sepWidth, content.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         part.separator);
        painter.setPen(Theme::withAlpha(statusToneColor(part.tone, palette), 0.70));
        painter.drawText(QRectF(sx + sepWidth, content.top(), textWidth, content.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, part.text);
        sx += sepWidth + textWidth;
    }
    if (summaryWidth > 0)
        right -= summaryWidth + 8;

    const QFont nameFont = Theme::systemFont(12, QFont::Medium);
    const qreal nameWidth = std::max<qreal>(0, right - x);
    painter.setFont(nameFont);
    painter.setPen(Theme::foreground(palette, Foreground::Secondary));
    painter.drawText(QRectF(x, content.top(), nameWidth, content.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(nameFont).elidedText(r.row.node.displayName, Qt::ElideRight,
                                                       static_cast<int>(nameWidth)));
}
