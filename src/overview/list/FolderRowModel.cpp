#include "FolderRowModel.h"

#include "ui/PlainText.h"

#include <algorithm>

FolderRowModel::FolderRowModel(QObject *parent) : QAbstractListModel(parent) {}

void FolderRowModel::setFolders(const QList<SyncFolder> &folders)
{
    if (updateInPlace(folders))
        return;
    // A copy of its own, changed in place from here on: sharing the engine's list would make the engine copy
    // every entry at its next change of one.
    m_folders = QList<SyncFolder>(folders.cbegin(), folders.cend());
    rebuild();
}

void FolderRowModel::setCollapsedNodes(const QSet<QString> &collapsed)
{
    if (collapsed == m_collapsed)
        return;
    m_collapsed = collapsed;
    rebuild();
}

std::optional<int> FolderRowModel::rowOfId(const QString &id) const
{
    const auto it = m_rowOfId.constFind(id);
    return it == m_rowOfId.cend() ? std::nullopt : std::optional<int>(*it);
}

int FolderRowModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant FolderRowModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return r.row.isHeader() ? r.row.node.displayName : r.row.folder.displayName;
    case Qt::ToolTipRole:
        return r.row.isHeader() ? QVariant() : QVariant(plainToolTip(r.presentation.text));
    case RowIdRole:
        return r.id;
    case IsHeaderRole:
        return r.row.isHeader();
    case DepthRole:
        return r.row.depth;
    case FolderPathRole:
        return r.row.isHeader() ? QVariant() : QVariant(r.row.folder.path);
    case StatusTextRole:
        return r.row.isHeader() ? QVariant(nodeStatusSummaryText(r.counts)) : QVariant(r.presentation.text);
    case IsExpandedRole:
        return r.row.isHeader() ? QVariant(r.expanded) : QVariant();
    default:
        return {};
    }
}

const FolderTree &FolderRowModel::tree() const
{
    if (m_treeStale) {
        m_tree = buildFolderTree(m_folders);
        m_treeStale = false;
    }
    return m_tree;
}

FolderRowModel::FolderState FolderRowModel::classify(const SyncFolder &folder) const
{
    const FolderDisplayState state = statusDisplayState(folder, [this](const SyncFolder &f) { return (*m_pending)(f); });
    return {folder, state, FolderStatusPresentation::of(folder, state)};
}

NodeCounts FolderRowModel::countNode(const FolderTreeNode &node)
{
    NodeCounts c;
    for (const SyncFolder &folder : node.leafFolders)
        c.add(stateOf(folder.path).statusState);
    for (const FolderTreeNode &child : node.childNodes)
        c += countNode(child);
    m_nodeCounts.insert(node.id, c);
    return c;
}

const FolderRowModel::FolderState &FolderRowModel::stateOf(const QString &path) const
{
    static const FolderState none{};
    const auto it = m_states.constFind(path);
    return it == m_states.cend() ? none : *it;
}

void FolderRowModel::refreshStates()
{
    // Entries are updated where they stand: rebuilding the table on every change of shape costs more than the
    // classifications it saves.
    m_pending->forgetBeyond(m_folders.size());
    m_states.reserve(m_folders.size());
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        const auto it = m_states.find(folder.path);
        if (it == m_states.end())
            m_states.insert(folder.path, classify(folder));
        else if (!(it->folder == folder))
            *it = classify(folder);
    }
    if (m_states.size() > m_folders.size()) {
        QSet<QString> live;
        live.reserve(m_folders.size());
        for (const SyncFolder &folder : std::as_const(m_folders))
            live.insert(folder.path);
        m_states.removeIf([&live](const auto &entry) { return !live.contains(entry.key()); });
    }
}

bool FolderRowModel::updateInPlace(const QList<SyncFolder> &folders)
{
    if (m_rows.isEmpty() || folders.size() != m_folders.size())
        return false;
    QList<std::pair<qsizetype, SyncFolder>> changed;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const SyncFolder &now = folders.at(i);
        const SyncFolder &before = m_folders.at(i);
        if (now == before)
            continue;
        if (now.path != before.path || now.parentComponents != before.parentComponents)
            return false;
        changed.append({i, now});
    }
    applyChanged(changed);
    return true;
}

bool FolderRowModel::setFolderEntry(qsizetype index, const SyncFolder &folder)
{
    if (m_rows.isEmpty() || index < 0 || index >= m_folders.size())
        return false;
    const SyncFolder &before = m_folders.at(index);
    if (before == folder)
        return true;
    if (folder.path != before.path || folder.parentComponents != before.parentComponents)
        return false;
    applyChanged({{index, folder}});
    return true;
}

void FolderRowModel::applyChanged(const QList<std::pair<qsizetype, SyncFolder>> &changed)
{
    QList<int> rows;
    for (const auto &[i, folder] : changed) {
        const FolderState previous = stateOf(folder.path);
        const FolderState now = classify(folder);
        m_states.insert(folder.path, now);
        if (const auto row = rowOfId(folder.path)) {
            Row &r = m_rows[*row];
            r.row.folder = folder;
            r.presentation = now.presentation;
            rows.append(*row);
        }
        if (now.statusState == previous.statusState)
            continue;
        QString nodeId;
        for (const QString &component : folder.parentComponents) {
            nodeId = nodeId.isEmpty() ? component : nodeId + QLatin1Char('/') + component;
            NodeCounts &counts = m_nodeCounts[nodeId];
            counts.remove(previous.statusState);
            counts.add(now.statusState);
            if (const auto row = rowOfId(QStringLiteral("node-") + nodeId)) {
                Row &r = m_rows[*row];
                r.counts = counts;
                r.summary = nodeStatusSummary(counts);
                rows.append(*row);
            }
        }
    }
    if (changed.isEmpty())
        return;
    for (const auto &[i, folder] : changed)
        m_folders[i] = folder;
    m_treeStale = true;
    announceChanged(std::move(rows));
}

void FolderRowModel::announceChanged(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
            ++j;
        Q_EMIT dataChanged(index(rows.at(i)), index(rows.at(j)));
        i = j + 1;
    }
}

namespace {

bool sameContent(const FolderRowModel::Row &a, const FolderRowModel::Row &b)
{
    if (a.row.isHeader())
        return a.expanded == b.expanded && a.counts == b.counts && a.row.depth == b.row.depth
               && a.row.node.displayName == b.row.node.displayName;
    return a.row.depth == b.row.depth && a.presentation == b.presentation && a.row.folder == b.row.folder;
}

} // namespace

void FolderRowModel::rebuild()
{
    refreshStates();

    m_tree = buildFolderTree(m_folders);
    m_treeStale = false;
    m_nodeCounts.clear();
    for (const FolderTreeNode &node : std::as_const(m_tree.nodes))
        countNode(node);

    const QList<FlatTreeRow> flat = flattenFolderTree(m_tree, m_collapsed);
    QList<Row> rows;
    rows.reserve(flat.size());
    for (const FlatTreeRow &f : flat) {
        Row r{f, f.id(), {}, {}, {}, true};
        if (f.isHeader()) {
            r.counts = m_nodeCounts.value(f.node.id);
            r.summary = nodeStatusSummary(r.counts);
            r.expanded = !m_collapsed.contains(f.node.id);
        } else {
            r.presentation = stateOf(f.folder.path).presentation;
        }
        rows.append(std::move(r));
    }

    // Rows keep their place where the ids agree at both ends; only the middle that differs is replaced.
    const qsizetype oldCount = m_rows.size();
    const qsizetype newCount = rows.size();
    qsizetype head = 0;
    while (head < oldCount && head < newCount && m_rows.at(head).id == rows.at(head).id)
        ++head;
    qsizetype tail = 0;
    while (tail < oldCount - head && tail < newCount - head
           && m_rows.at(oldCount - 1 - tail).id == rows.at(newCount - 1 - tail).id)
        ++tail;

    // Changed rows among those that stay, by their new position.
    QList<int> changed;
    for (qsizetype i = 0; i < head; ++i) {
        if (!sameContent(m_rows.at(i), rows.at(i)))
            changed.append(static_cast<int>(i));
    }
    for (qsizetype k = 0; k < tail; ++k) {
        if (!sameContent(m_rows.at(oldCount - 1 - k), rows.at(newCount - 1 - k)))
            changed.append(static_cast<int>(newCount - 1 - k));
    }

    const int first = static_cast<int>(head);
    if (oldCount - tail > head) {
        beginRemoveRows({}, first, static_cast<int>(oldCount - tail - 1));
        m_rows.remove(head, oldCount - tail - head);
        endRemoveRows();
    }
    if (newCount - tail > head) {
        beginInsertRows({}, first, static_cast<int>(newCount - tail - 1));
        m_rows = std::move(rows);
        endInsertRows();
    } else {
        m_rows = std::move(rows);
    }
    m_rowOfId.clear();
    m_rowOfId.reserve(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i)
        m_rowOfId.insert(m_rows.at(i).id, i);
    announceChanged(std::move(changed));
}
