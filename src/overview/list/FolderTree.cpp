#include "FolderTree.h"

#include "sync/UnicodeNames.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

#include <algorithm>

namespace {

const QCollator &nameCollator()
{
    // The C locale compares code points and ignores numeric mode: fall back to the app's own language.
    static const QCollator collator = [] {
        const QLocale locale = QLocale().language() == QLocale::C
                                   ? QLocale(QLocale::NorwegianBokmal, QLocale::Norway)
                                   : QLocale();
        QCollator c(locale);
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

// Groups folders (positions in `all`) by their parent component at `depth`, keeping input order within a group;
// the rest are leaves. Positions, not copies: a folder is copied once, into the node that holds it.
struct Grouping {
    QStringList keys;
    QHash<QString, QList<qsizetype>> groups;
    QList<SyncFolder> leaves;
};

Grouping groupByComponent(const QList<SyncFolder> &all, const QList<qsizetype> &members, int depth)
{
    Grouping g;
    for (const qsizetype i : members) {
        const SyncFolder &folder = all.at(i);
        if (folder.parentComponents.size() > depth) {
            const QString &key = folder.parentComponents.at(depth);
            auto it = g.groups.find(key);
            if (it == g.groups.end()) {
                it = g.groups.insert(key, {});
                g.keys.append(key);
            }
            it->append(i);
        } else {
            g.leaves.append(folder);
        }
    }
    sortNodeNames(g.keys);
    return g;
}

QList<qsizetype> allPositions(const QList<SyncFolder> &folders)
{
    QList<qsizetype> positions(folders.size());
    for (qsizetype i = 0; i < folders.size(); ++i)
        positions[i] = i;
    return positions;
}

FolderTreeNode buildNode(const QString &name, const QList<SyncFolder> &all, const QList<qsizetype> &members,
                         int depth, const QString &parentPath)
{
    FolderTreeNode node;
    node.id = parentPath.isEmpty() ? name : parentPath + QLatin1Char('/') + name;
    node.displayName = unicodenames::displayName(name);
    Grouping g = groupByComponent(all, members, depth);
    node.leafFolders = std::move(g.leaves);
    node.childNodes.reserve(g.keys.size());
    for (const QString &key : std::as_const(g.keys))
        node.childNodes.append(buildNode(key, all, g.groups.value(key), depth + 1, node.id));
    return node;
}

void flattenNode(const FolderTreeNode &node, int depth, const QSet<QString> &collapsed, QList<FlatTreeRow> &rows)
{
    rows.append(FlatTreeRow::nodeHeader(node, depth));
    if (collapsed.contains(node.id))
        return;
    for (const FolderTreeNode &child : node.childNodes)
        flattenNode(child, depth + 1, collapsed, rows);
    for (const SyncFolder &folder : node.leafFolders)
        rows.append(FlatTreeRow::leaf(folder, depth + 1));
}

} // namespace

void sortNodeNames(QStringList &names)
{
    const QCollator &collator = nameCollator();
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
}

FolderTree buildFolderTree(const QList<SyncFolder> &folders)
{
    FolderTree tree;
    Grouping g = groupByComponent(folders, allPositions(folders), 0);
    tree.topLevelFolders = std::move(g.leaves);
    tree.nodes.reserve(g.keys.size());
    for (const QString &key : std::as_const(g.keys))
        tree.nodes.append(buildNode(key, folders, g.groups.value(key), 1, QString()));
    return tree;
}

FolderTreeNode buildFolderTreeNode(const QString &name, const QList<SyncFolder> &folders, int depth,
                                   const QString &parentPath)
{
    return buildNode(name, folders, allPositions(folders), depth, parentPath);
}

QList<FlatTreeRow> flattenFolderTree(const FolderTree &tree, const QSet<QString> &collapsedNodes)
{
    QList<FlatTreeRow> rows;
    for (const FolderTreeNode &node : tree.nodes)
        flattenNode(node, 0, collapsedNodes, rows);
    for (const SyncFolder &folder : tree.topLevelFolders)
        rows.append(FlatTreeRow::leaf(folder, 0));
    return rows;
}

void collectVisibleFolders(const FolderTreeNode &node, const QSet<QString> &collapsedNodes, QList<SyncFolder> &out)
{
    if (collapsedNodes.contains(node.id))
        return;
    for (const FolderTreeNode &child : node.childNodes)
        collectVisibleFolders(child, collapsedNodes, out);
    out.append(node.leafFolders);
}

QList<SyncFolder> visibleFolders(const FolderTree &tree, const QSet<QString> &collapsedNodes)
{
    QList<SyncFolder> out;
    for (const FolderTreeNode &node : tree.nodes)
        collectVisibleFolders(node, collapsedNodes, out);
    out.append(tree.topLevelFolders);
    return out;
}

// ---- counts

void NodeCounts::add(FolderDisplayState state, qint64 by)
{
    total += by;
    switch (state) {
    case FolderDisplayState::Synced:
    case FolderDisplayState::Emptied:
        synced += by;
        break;
    case FolderDisplayState::PendingChanges:
        changed += by;
        break;
    case FolderDisplayState::NotSynced:
    case FolderDisplayState::Failed:
        unsynced += by;
        break;
    case FolderDisplayState::RemovedLocally:
        removed += by;
        break;
    default:
        break;
    }
}

NodeCounts &NodeCounts::operator+=(const NodeCounts &other)
{
    total += other.total;
    synced += other.synced;
    changed += other.changed;
    unsynced += other.unsynced;
    removed += other.removed;
    return *this;
}

NodeCounts nodeCounts(const FolderTreeNode &node)
{
    NodeCounts counts;
    for (const SyncFolder &folder : node.leafFolders)
        counts.add(statusDisplayState(folder));
    for (const FolderTreeNode &child : node.childNodes)
        counts += nodeCounts(child);
    return counts;
}

qint64 totalFolderCount(const FolderTreeNode &node) { return nodeCounts(node).total; }
qint64 syncedFolderCount(const FolderTreeNode &node) { return nodeCounts(node).synced; }
qint64 changedFolderCount(const FolderTreeNode &node) { return nodeCounts(node).changed; }
qint64 unsyncedFolderCount(const FolderTreeNode &node) { return nodeCounts(node).unsynced; }
qint64 removedFolderCount(const FolderTreeNode &node) { return nodeCounts(node).removed; }

QList<NodeSummaryPart> nodeStatusSummary(const NodeCounts &c)
{
    if (c.synced == c.total && c.changed == 0 && c.removed == 0)
        return {{QString(), QStringLiteral("Synkronisert"), StatusTone::Green}};
    QList<NodeSummaryPart> parts;
    const auto separator = [&parts] { return parts.isEmpty() ? QString() : QStringLiteral(" \u00B7 "); };
    if (c.synced >= 1)
        parts.append({separator(), QStringLiteral("%1/%2").arg(c.synced).arg(c.total), StatusTone::Green});
    if (c.unsynced >= 1)
        parts.append({separator(), QStringLiteral("%1 nye").arg(c.unsynced), StatusTone::Blue});
    if (c.changed >= 1)
        parts.append({separator(), QStringLiteral("%1 endret").arg(c.changed), StatusTone::Orange});
    if (c.removed >= 1)
        parts.append({separator(), QStringLiteral("%1 fjernet").arg(c.removed), StatusTone::Red});
    return parts;
}

QString nodeStatusSummaryText(const NodeCounts &counts)
{
    QString text;
    for (const NodeSummaryPart &part : nodeStatusSummary(counts))
        text += part.separator + part.text;
    return text;
}
