#pragma once

#include <QWidget>

class DirectoryChooser;
class FormSection;
class PathLabel;
class SyncManager;

// "Eksportmappe": the export folder, with ways to choose another one or to remove it. Follows the engine's
// export folder whoever changes it.
class FolderWatchSettingsTab : public QWidget
{
    Q_OBJECT
public:
    // chooser: nullptr means the desktop's folder dialog.
    explicit FolderWatchSettingsTab(SyncManager &syncManager, DirectoryChooser *chooser = nullptr,
                                    QWidget *parent = nullptr);

    bool showsFolder() const;
    QString shownPath() const;

private:
    void refresh();
    void chooseFolder();

    SyncManager &m_syncManager;
    DirectoryChooser *m_chooser;
    FormSection *m_withFolder = nullptr;
    FormSection *m_withoutFolder = nullptr;
    PathLabel *m_path = nullptr;
};
