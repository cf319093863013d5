#include "FolderWatchSettingsTab.h"

#include "SettingsForm.h"
#include "ui/ElidedLabel.h"
#include "overview/EmptyFolderStateView.h"
#include "sync/SyncManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

FolderWatchSettingsTab::FolderWatchSettingsTab(SyncManager &syncManager, DirectoryChooser *chooser,
                                               QWidget *parent)
    : QWidget(parent), m_syncManager(syncManager), m_chooser(chooser)
{
    auto *form = SettingsForm::formLayout(this);
    // With an export folder.
    m_withFolder = new FormSection;
    m_path = new PathLabel;
    m_path->setForeground(Theme::Foreground::Secondary);
    m_path->setFont(Theme::font(Theme::TextStyle::Body));
    m_path->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_withFolder->addRow(SettingsForm::labelledRow(QStringLiteral("Eksportmappe"), m_path));
    auto *change = SettingsForm::button(QStringLiteral("Bytt mappe…"));
    m_withFolder->addRow(SettingsForm::plainRow(change));
    auto *remove = SettingsForm::button(QStringLiteral("Fjern mappe"), true);
    m_withFolder->addRow(SettingsForm::plainRow(remove));
    form->addWidget(m_withFolder);

    // Without one.
    m_withoutFolder = new FormSection;
    m_withoutFolder->addRow(SettingsForm::plainRow(SettingsForm::secondaryLabel(QStringLiteral("Ingen eksportmappe valgt"))));
    auto *choose = SettingsForm::button(QStringLiteral("Velg mappe…"));
    m_withoutFolder->addRow(SettingsForm::plainRow(choose));
    form->addWidget(m_withoutFolder);
    form->addStretch();

    connect(change, &QPushButton::clicked, this, &FolderWatchSettingsTab::chooseFolder);
    connect(choose, &QPushButton::clicked, this, &FolderWatchSettingsTab::chooseFolder);
    // Removing forgets the folder without scanning anything; the folders' records stay for its return.
    connect(remove, &QPushButton::clicked, this, [this] { m_syncManager.clearWatchFolder(); });
    connect(&m_syncManager, &SyncManager::watchFolderChanged, this, &FolderWatchSettingsTab::refresh);
    refresh();
}

bool FolderWatchSettingsTab::showsFolder() const
{
    return !m_withFolder->isHidden();
}

QString FolderWatchSettingsTab::shownPath() const
{
    return showsFolder() ? m_path->text() : QString();
}

void FolderWatchSettingsTab::refresh()
{
    const QString folder = m_syncManager.watchFolder();
    m_path->setText(folder);
    m_withFolder->setHidden(folder.isEmpty());
    m_withoutFolder->setHidden(!folder.isEmpty());
}

void FolderWatchSettingsTab::chooseFolder()
{
    if (m_chooser)
        EmptyFolderStateView::chooseFolder(m_syncManager, *m_chooser, window());
    else
        EmptyFolderStateView::chooseFolder(m_syncManager, window());
}
