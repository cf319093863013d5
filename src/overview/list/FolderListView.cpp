#include "FolderListView.h"

#include "FolderRowDelegate.h"

#include <QKeyEvent>
#include <QMouseEvent>

FolderListView::FolderListView(QWidget *parent)
    : QListView(parent), m_model(new FolderRowModel(this)), m_delegate(new FolderRowDelegate(m_model, this))
{
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setViewportMargins(0, FolderRowDelegate::kListPadding, 0, FolderRowDelegate::kListPadding - 8);
    setBackgroundRole(QPalette::Window);
    viewport()->setBackgroundRole(QPalette::Window);
    setAttribute(Qt::WA_MacShowFocusRect, false);
}

void FolderListView::setFolders(const QList<SyncFolder> &folders)
{
    m_model->setFolders(folders);
}

void FolderListView::setSelectedFolderId(const std::optional<QString> &path)
{
    if (path == m_selected)
        return;
    m_selected = path;
    m_delegate->setSelectedPath(path);
    viewport()->update();
    Q_EMIT selectedFolderIdChanged();
}

void FolderListView::setCollapsedNodes(const QSet<QString> &collapsed)
{
    if (collapsed == m_model->collapsedNodes())
        return;
    m_model->setCollapsedNodes(collapsed);
    Q_EMIT collapsedNodesChanged();
}

void FolderListView::selectFolder(const SyncFolder &folder)
{
    setSelectedFolderId(folder.path);
}

void FolderListView::toggleNode(const QString &nodeId)
{
    QSet<QString> collapsed = m_model->collapsedNodes();
    if (!collapsed.remove(nodeId))
        collapsed.insert(nodeId);
    setCollapsedNodes(collapsed);
}

void FolderListView::openSelectedFolder()
{
    if (!m_selected)
        return;
    // Any folder, also one hidden under a collapsed node.
    for (const SyncFolder &folder : m_model->folders()) {
        if (folder.path == *m_selected) {
            if (m_onDoubleClick)
                m_onDoubleClick(folder);
            return;
        }
    }
}

void FolderListView::moveSelection(int step)
{
    const QList<SyncFolder> visible = visibleFolders(m_model->tree(), m_model->collapsedNodes());
    if (visible.isEmpty())
        return;
    qsizetype position = -1;
    if (m_selected) {
        for (qsizetype i = 0; i < visible.size(); ++i) {
            if (visible.at(i).path == *m_selected) {
                position = i;
                break;
            }
        }
    }
    if (position < 0) {
        setSelectedFolderId(visible.first().path);
    } else {
        const qsizetype next = position + step;
        if (next < 0 || next >= visible.size())
            return;
        setSelectedFolderId(visible.at(next).path);
    }
    scrollToSelection();
}

void FolderListView::scrollToSelection()
{
    if (!m_selected)
        return;
    if (const auto row = m_model->rowOfId(*m_selected))
        scrollTo(m_model->index(*row));
}

void FolderListView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        openSelectedFolder();
        break;
    case Qt::Key_Down:
        moveSelection(+1);
        break;
    case Qt::Key_Up:
        moveSelection(-1);
        break;
    default:
        QListView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void FolderListView::activateRow(const QModelIndex &index, bool open)
{
    if (!index.isValid())
        return;
    const FolderRowModel::Row &r = m_model->rowAt(index.row());
    if (r.row.isHeader()) {
        toggleNode(r.row.node.id);
        return;
    }
    const SyncFolder folder = r.row.folder; // the rows may be rebuilt by what the handler does
    selectFolder(folder);
    if (open && m_onDoubleClick)
        m_onDoubleClick(folder);
}

void FolderListView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton)
        activateRow(indexAt(event->position().toPoint()), false);
    event->accept();
}

void FolderListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click: a header toggles again, as two clicks on it would.
    if (event->button() == Qt::LeftButton)
        activateRow(indexAt(event->position().toPoint()), true);
    event->accept();
}

void FolderListView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept(); // no drag selection
}

void FolderListView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}
