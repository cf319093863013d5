#pragma once

#include "DirectoryChooser.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class SyncManager;

// Shown while the export folder holds no folders: where images belong, the export folder's name, and the two ways
// on (scan again, choose another folder). The chooser and the rescan are shared with every window that offers them.
class EmptyFolderStateView : public QWidget
{
    Q_OBJECT
public:
    // chooser: nullptr means the desktop's folder dialog.
    explicit EmptyFolderStateView(SyncManager &syncManager, DirectoryChooser *chooser = nullptr,
                                  QWidget *parent = nullptr);

    // Asks for a folder and makes it the export folder. Returns at once: the dialog stays open over `parent`
    // until the user answers. A cancelled dialog changes nothing; a folder that cannot be read is refused with the
    // engine's message and changes nothing either.
    static void chooseFolder(SyncManager &syncManager, QWidget *parent = nullptr);
    static void chooseFolder(SyncManager &syncManager, DirectoryChooser &chooser, QWidget *parent);
    // The dialog's texts; it opens in the export folder, or in the Pictures folder while none is set, or in the
    // nearest folder above that exists.
    static DirectoryRequest folderRequest(const SyncManager &syncManager);

    // Starts one full scan and reconcile; its outcome shows in the sync manager's observed state.
    static void retryScan(SyncManager &syncManager);

    // The hint's second line: the export folder's own name between guillemets.
    static QString folderLine(const QString &watchFolder);

private:
    void refresh();

    SyncManager &m_syncManager;
    DirectoryChooser &m_chooser;
    QLabel *m_folderLine = nullptr;
};
