#pragma once

// Paints the folder list's rows: a folder as a card with its symbol, name and status capsule; a tree node as a
// header with its chevron, name, status summary and folder count. Reads the rows from FolderRowModel.

#include <QStyledItemDelegate>

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
