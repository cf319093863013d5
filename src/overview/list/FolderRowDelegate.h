#pragma once

// Paints the folder list's rows: a folder as a card with its symbol, name and status capsule; a tree node as a
// header with its chevron, name, status summary and folder count. Reads the rows from FolderRowModel.

#include <QStyledItemDelegate>

#include <QRectF>
#include <QString>

#include <optional>

class FolderRowModel;

class FolderRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // Row heights and gaps, in logical pixels.
    static constexpr int kListPadding = 12;  // around the whole list
    static constexpr int kIndentPerLevel = 20;
    static constexpr int kLeafHeight = 44;   // the card
    static constexpr int kLeafGap = 8;       // the row's bottom padding and the list's spacing
    static constexpr int kHeaderHeight = 28;
    static constexpr int kHeaderGap = 10;
    // The narrowest a row gets from its indent: room for its symbols, some of its name and its status.
    static constexpr int kMinimumRowWidth = 260;

    // A row's indent: 20 per level, but never so much that the row gets narrower than kMinimumRowWidth.
    static int indent(int depth, int viewWidth);

    // Where a folder row's parts stand in its item rectangle, and its status text as it fits.
    struct LeafGeometry {
        QRectF card;
        QRectF symbol;
        QRectF name;
        QRect capsule;
        QString status;
    };
    static LeafGeometry leafGeometry(const QRect &item, int depth, const QString &status);
    // Where a node header's parts stand, from the widths of its summary and folder count.
    struct HeaderGeometry {
        QRectF chevron;
        QRectF symbol;
        QRectF name;
        QRectF summary;
        QRectF count;
    };
    static HeaderGeometry headerGeometry(const QRect &item, int depth, int summaryWidth, int countWidth);

    explicit FolderRowDelegate(const FolderRowModel *model, QObject *parent = nullptr);

    void setSelectedPath(const std::optional<QString> &path) { m_selected = path; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    void paintLeaf(QPainter &painter, const QStyleOptionViewItem &option, int row) const;
    void paintHeader(QPainter &painter, const QStyleOptionViewItem &option, int row) const;

    const FolderRowModel *m_model;
    std::optional<QString> m_selected;
};
