#pragma once

#include <QWidget>

class DirectoryChooser;
class ProminentButton;
class SyncManager;

// Shown while signed in without an export folder: what the export folder is, and the button that chooses it.
class WatchFolderPromptView : public QWidget
{
    Q_OBJECT
public:
    // chooser: nullptr means the desktop's folder dialog.
    explicit WatchFolderPromptView(SyncManager &syncManager, DirectoryChooser *chooser = nullptr,
                                   QWidget *parent = nullptr);

    ProminentButton *chooseButton() const { return m_button; }

private:
    SyncManager &m_syncManager;
    DirectoryChooser *m_chooser;
    ProminentButton *m_button;
};
