#pragma once

// One line over the folder list: how many folders wait to be synced or updated, how many moved (a button that
// moves their galleries on the service, one after another) and how many were removed locally. Takes no room when
// there is nothing to report.

#include "overview/list/FolderCounters.h"

#include <QCoroTask>
#include <QMap>
#include <QWidget>

#include <functional>

class PlainButton;
class QLabel;

class QuickActionsBar : public QWidget
{
    Q_OBJECT
public:
    // Moves one folder's gallery to the place of its folder; never throws (the engine's moveGalleryOnServer).
    using MoveFolder = std::function<QCoro::Task<void>(SyncFolder)>;

    explicit QuickActionsBar(MoveFolder move, QWidget *parent = nullptr);

    void setFolders(const QList<SyncFolder> &folders);
    // The entry at index of the list last set was replaced (before: what it was): costs the entry alone.
    void setFolderEntry(qsizetype index, const SyncFolder &before, const SyncFolder &after);
    // The number of entries the bar counts, to tell whether an entry's notice fits the list it holds.
    qsizetype folderCount() const { return m_tally.size(); }
    qint64 entriesCounted() const { return m_tally.entriesCounted(); }
    // Pending-changes answers shared with other views of the same list (the bar keeps its own otherwise).
    void setPendingCache(std::shared_ptr<PendingChangesCache> pending) { m_pending = std::move(pending); }
    const FolderStatistics &statistics() const { return m_tally.counts(); }
    // The texts shown, in order (for tests and accessibility).
    QStringList shownTexts() const;
    PlainButton *moveButton() const { return m_moveButton; }

    // Moves every movable folder of the list as last shown, one at a time. A press while a run is under way does
    // nothing: two runs would create the same service folders twice. The button is disabled while no folder of the
    // list can be moved.
    void moveAllMovedFolders();
    bool isMoving() const { return m_moving; }

Q_SIGNALS:
    void movingChanged(bool moving);

private:
    QCoro::Task<void> runMoves(QList<SyncFolder> folders);
    void setMoving(bool moving);
    void redraw();

    MoveFolder m_move;
    // The folders a press moves, by place in the list: a failed move counts as moved, but only a synced folder can
    // be moved. Only these are kept, not the whole list, which would stay shared with the engine's.
    QMap<qsizetype, SyncFolder> m_movable;
    std::shared_ptr<PendingChangesCache> m_pending = std::make_shared<PendingChangesCache>();
    StatisticsTally m_tally;
    bool m_moving = false;
    QWidget *m_syncingGroup;
    QLabel *m_syncingText;
    QWidget *m_updatingGroup;
    QLabel *m_updatingText;
    PlainButton *m_moveButton;
    QLabel *m_removedText;
};
