#pragma once

// The scrolling folder tree: node headers that collapse on click, folder rows that select on click and open on
// double click or Return, Up and Down moving the selection among the visible folders (never onto a header).
// The selection is a folder path, so it survives the folder vanishing and coming back.

#include "FolderRowModel.h"

#include <QListView>

#include <functional>
#include <optional>

class FolderRowDelegate;

class FolderListView : public QListView
{
    Q_OBJECT
public:
    using OpenHandler = std::function<void(const SyncFolder &)>;

    explicit FolderListView(QWidget *parent = nullptr);

    void setFolders(const QList<SyncFolder> &folders);
    // One entry replaced in place; false when the whole list must be set (FolderRowModel::setFolderEntry).
    bool setFolderEntry(qsizetype index, const SyncFolder &folder) { return m_model->setFolderEntry(index, folder); }
    const QList<SyncFolder> &folders() const { return m_model->folders(); }

    const std::optional<QString> &selectedFolderId() const { return m_selected; }
    void setSelectedFolderId(const std::optional<QString> &path);
    const QSet<QString> &collapsedNodes() const { return m_model->collapsedNodes(); }
    void setCollapsedNodes(const QSet<QString> &collapsed);
    // What opening a folder does (double click, Return); without one they only select.
    void setOnDoubleClick(OpenHandler handler) { m_onDoubleClick = std::move(handler); }

    FolderRowModel *rowModel() const { return m_model; }
    void setPendingCache(std::shared_ptr<PendingChangesCache> pending) { m_model->setPendingCache(std::move(pending)); }

    void selectFolder(const SyncFolder &folder);
    void toggleNode(const QString &nodeId);
    void openSelectedFolder();
    void moveSelection(int step);

Q_SIGNALS:
    void selectedFolderIdChanged();
    void collapsedNodesChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void activateRow(const QModelIndex &index, bool open);
    void scrollToSelection();

    FolderRowModel *m_model;
    FolderRowDelegate *m_delegate;
    std::optional<QString> m_selected;
    OpenHandler m_onDoubleClick;
};
