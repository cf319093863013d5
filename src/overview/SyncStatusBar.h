#pragma once

// The strip under the folder list: the last reconcile error with "Prøv igjen", then one row of counters over the
// whole export folder, ending in a button that shows the export folder in the file manager.

#include "overview/list/FolderCounters.h"

#include <QWidget>

#include <functional>
#include <optional>

class ElidedLabel;
class PlainButton;
class QHBoxLayout;
class QLabel;
class SyncManager;

class SyncStatusBar : public QWidget
{
    Q_OBJECT
public:
    // pending: answers shared with other views of the same list; the bar keeps its own without one.
    SyncStatusBar(SyncManager &syncManager, std::function<void(const QString &)> revealFolder = {},
                  QWidget *parent = nullptr, std::shared_ptr<PendingChangesCache> pending = {});

    // Runs the shared retry: one full scan and reconcile.
    void retry();
    void openExportFolder();

    bool isShowingError() const;
    QString errorText() const;
    // The counter labels shown, in order ("12 mapper", "340 bilder", "10 syncet", ...).
    QStringList counterTexts() const;
    const StatusBarCounts &counts() const { return m_tally.counts(); }
    qint64 entriesCounted() const { return m_tally.entriesCounted(); }
    PlainButton *retryButton() const { return m_retry; }
    PlainButton *folderButton() const { return m_folderButton; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void recount();
    void countEntry(qsizetype index, const SyncFolder &before);
    void countAppended(qsizetype index);
    void refresh();
    void refreshBanner();
    void refreshFolderButton();

    SyncManager &m_syncManager;
    std::function<void(const QString &)> m_reveal;
    std::shared_ptr<PendingChangesCache> m_pending;
    // Kept an edit at a time from the engine's notices; the labels are redrawn when the counts they show change.
    StatusBarTally m_tally;
    std::optional<StatusBarCounts> m_shown;
    QWidget *m_banner;
    ElidedLabel *m_errorText;
    PlainButton *m_retry;
    QWidget *m_bannerDivider;
    PlainButton *m_folders;
    PlainButton *m_images;
    PlainButton *m_synced;
    PlainButton *m_new;
    PlainButton *m_moved;
    PlainButton *m_changed = nullptr; // the last built: set once the row exists
    PlainButton *m_folderButton;
};
