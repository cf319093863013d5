#pragma once

// The folder list's rows: the flattened folder tree with what each row draws worked out once per change (status
// presentation of a folder row, counts and summary of a node header). A new folder list with the same row ids
// (progress, a status change) only emits dataChanged for the rows that changed; a changed set of ids replaces the
// rows that differ with row removals and insertions, never a reset.

#include "FolderCounters.h"
#include "FolderStatusPresentation.h"
#include "FolderTree.h"

#include <QAbstractListModel>
#include <QHash>
#include <QSet>

#include <optional>

class FolderRowModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        RowIdRole = Qt::UserRole + 1,
        IsHeaderRole,
        DepthRole,
        FolderPathRole,
        StatusTextRole,
        IsExpandedRole,
    };

    struct Row {
        FlatTreeRow row;
        QString id;
        FolderStatusPresentation presentation; // leaf
        NodeCounts counts;                     // header
        QList<NodeSummaryPart> summary;        // header
        bool expanded = true;                  // header
    };

    explicit FolderRowModel(QObject *parent = nullptr);

    void setFolders(const QList<SyncFolder> &folders);
    // The entry at index replaced in the list last set, in place: costs the entry and its nodes. False when it
    // changes the list's shape (another path or parent path): the caller sets the whole list then.
    bool setFolderEntry(qsizetype index, const SyncFolder &folder);
    const QList<SyncFolder> &folders() const { return m_folders; }
    void setCollapsedNodes(const QSet<QString> &collapsed);
    // Pending-changes answers shared with other views of the same list (the model keeps its own otherwise).
    void setPendingCache(std::shared_ptr<PendingChangesCache> pending) { m_pending = std::move(pending); }
    const QSet<QString> &collapsedNodes() const { return m_collapsed; }

    // The tree of the current folders (built again on demand after in-place updates).
    const FolderTree &tree() const;
    const Row &rowAt(int row) const { return m_rows.at(row); }
    std::optional<int> rowOfId(const QString &id) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    struct FolderState {
        SyncFolder folder;
        FolderDisplayState statusState;
        FolderStatusPresentation presentation;
    };

    void rebuild();
    // A new list with the same folders in the same places: updates the changed rows and their nodes' headers.
    bool updateInPlace(const QList<SyncFolder> &folders);
    void applyChanged(const QList<std::pair<qsizetype, SyncFolder>> &changed);
    void announceChanged(QList<int> rows);
    FolderState classify(const SyncFolder &folder) const;
    const FolderState &stateOf(const QString &path) const;
    void refreshStates();
    NodeCounts countNode(const FolderTreeNode &node);

    std::shared_ptr<PendingChangesCache> m_pending = std::make_shared<PendingChangesCache>();
    QList<SyncFolder> m_folders;
    QSet<QString> m_collapsed;
    mutable FolderTree m_tree;
    mutable bool m_treeStale = false;
    QList<Row> m_rows;
    QHash<QString, int> m_rowOfId;
    QHash<QString, NodeCounts> m_nodeCounts; // every node, shown or not
    // Each folder as last classified: an unchanged folder is not classified again (that walks its file records).
    QHash<QString, FolderState> m_states;
};
