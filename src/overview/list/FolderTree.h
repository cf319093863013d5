#pragma once

// The folder tree the overview shows, built on demand from the engine's flat folder list: one node per distinct
// parent path, folders as leaves under the node of their parent path. Pure values and functions, no widgets.

#include "FolderStatusPresentation.h"
#include "sync/SyncFolder.h"

#include <QList>
#include <QSet>
#include <QString>

struct FolderTreeNode {
    QString id;          // the raw names from the top down, joined by "/"
    QString displayName; // the node's own name, cleaned for display
    QList<FolderTreeNode> childNodes; // sorted by name
    QList<SyncFolder> leafFolders;    // folders whose parent path is exactly this node's, in input order

    bool operator==(const FolderTreeNode &) const = default;
};

struct FolderTree {
    QList<FolderTreeNode> nodes;
    QList<SyncFolder> topLevelFolders;
};

// One visible row: a node's header, or a folder.
struct FlatTreeRow {
    enum class Kind { NodeHeader, Leaf };

    Kind kind = Kind::Leaf;
    int depth = 0; // 0 at the top level
    FolderTreeNode node; // NodeHeader
    SyncFolder folder;   // Leaf

    static FlatTreeRow nodeHeader(FolderTreeNode node, int depth) { return {Kind::NodeHeader, depth, std::move(node), {}}; }
    static FlatTreeRow leaf(SyncFolder folder, int depth) { return {Kind::Leaf, depth, {}, std::move(folder)}; }

    bool isHeader() const { return kind == Kind::NodeHeader; }
    // "node-" and the node's id for a header, the folder's path for a leaf: unique among the rows of one tree.
    QString id() const { return isHeader() ? QStringLiteral("node-") + node.id : folder.path; }
};

FolderTree buildFolderTree(const QList<SyncFolder> &folders);
// `depth` is the index into parentComponents that decides the level below this node.
FolderTreeNode buildFolderTreeNode(const QString &name, const QList<SyncFolder> &folders, int depth,
                                   const QString &parentPath);
QList<FlatTreeRow> flattenFolderTree(const FolderTree &tree, const QSet<QString> &collapsedNodes);
// Appends the shown folders of the node's subtree in display order: child nodes' folders, then its own.
void collectVisibleFolders(const FolderTreeNode &node, const QSet<QString> &collapsedNodes, QList<SyncFolder> &out);
// The folder rows in screen order: every top-level node's visible folders, then the top-level folders.
QList<SyncFolder> visibleFolders(const FolderTree &tree, const QSet<QString> &collapsedNodes);

// Group keys in the order a file manager lists names: case-insensitive, digits compared as numbers.
void sortNodeNames(QStringList &names);

// The folders of a node's whole subtree by kind. Syncing and ignored folders count only in the total.
struct NodeCounts {
    qint64 total = 0;
    qint64 synced = 0;   // synced without pending changes
    qint64 changed = 0;  // synced with pending changes
    qint64 unsynced = 0; // not synced or failed
    qint64 removed = 0;  // removed locally

    // By status alone (statusDisplayState): a moved folder counts by the status it has.
    void add(FolderDisplayState statusState, qint64 by = 1);
    void remove(FolderDisplayState statusState) { add(statusState, -1); }
    NodeCounts &operator+=(const NodeCounts &other);
    bool operator==(const NodeCounts &) const = default;
};
NodeCounts nodeCounts(const FolderTreeNode &node);
qint64 totalFolderCount(const FolderTreeNode &node);
qint64 syncedFolderCount(const FolderTreeNode &node);
qint64 changedFolderCount(const FolderTreeNode &node);
qint64 unsyncedFolderCount(const FolderTreeNode &node);
qint64 removedFolderCount(const FolderTreeNode &node);

// The header's status summary: "Synkronisert" alone when everything is clean and synced, else up to four parts
// ("3/5", "2 nye", "1 endret", "1 fjernet"), each after " · " when an earlier part stands before it.
struct NodeSummaryPart {
    QString separator;
    QString text;
    StatusTone tone;
    bool operator==(const NodeSummaryPart &) const = default;
};
QList<NodeSummaryPart> nodeStatusSummary(const NodeCounts &counts);
// The parts as one text, for tests and accessibility.
QString nodeStatusSummaryText(const NodeCounts &counts);
