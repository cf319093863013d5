#include "QuickActionsBar.h"

#include "FlowLayout.h"
#include "OverviewLogging.h"

#include "ui/Buttons.h"
#include "ui/Spinner.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>

#include <algorithm>

namespace {

QLabel *smallText(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setFont(Theme::systemFont(11, QFont::Medium));
    return label;
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

QWidget *spinnerGroup(QWidget *parent, QLabel *&text)
{
    auto *group = new QWidget(parent);
    auto *layout = new QHBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(new Spinner(Spinner::Size::Mini, group), 0, Qt::AlignVCenter);
    text = smallText(group);
    layout->addWidget(text, 0, Qt::AlignVCenter);
    return group;
}

} // namespace

QuickActionsBar::QuickActionsBar(MoveFolder move, QWidget *parent) : QWidget(parent), m_move(std::move(move))
{
    // Wraps in a narrow column rather than clipping an item.
    auto *layout = new FlowLayout(this, 12, 4);
    // The list's top padding comes with the bar, so that a hidden bar leaves no gap.
    layout->setContentsMargins(4, 12, 4, 0);
    m_syncingGroup = spinnerGroup(this, m_syncingText);
    m_updatingGroup = spinnerGroup(this, m_updatingText);
    m_moveButton = new PlainButton(QString(), this);
    m_moveButton->setFont(Theme::systemFont(11, QFont::Medium));
    m_moveButton->setCursor(Qt::PointingHandCursor);
    connect(m_moveButton, &QAbstractButton::clicked, this, &QuickActionsBar::moveAllMovedFolders);
    m_removedText = smallText(this);
    layout->addWidget(m_syncingGroup);
    layout->addWidget(m_updatingGroup);
    layout->addWidget(m_moveButton);
    layout->addWidget(m_removedText);
    setFolders({});
}

void QuickActionsBar::setFolders(const QList<SyncFolder> &folders)
{
    m_movable.clear();
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (isMovableFolder(folders.at(i)))
            m_movable.insert(i, folders.at(i));
    }
    m_tally.reset(folders, *m_pending);
    redraw();
}

void QuickActionsBar::setFolderEntry(qsizetype index, const SyncFolder &before, const SyncFolder &after)
{
    m_movable.remove(index);
    if (isMovableFolder(after))
        m_movable.insert(index, after);
    m_tally.replace(index, before, after, *m_pending);
    redraw();
}

void QuickActionsBar::redraw()
{
    const FolderStatistics &s = m_tally.counts();

    setTextColour(m_syncingText, Theme::foreground(palette(), Theme::Foreground::Secondary));
    setTextColour(m_updatingText, Theme::foreground(palette(), Theme::Foreground::Secondary));
    setTextColour(m_removedText, Theme::systemColor(Theme::SystemColor::Red, palette()));
    m_moveButton->setColor(Theme::systemColor(Theme::SystemColor::Purple, palette()));

    m_syncingText->setText(QStringLiteral("%1 synkroniseres…").arg(s.syncingCount));
    m_updatingText->setText(QStringLiteral("%1 oppdateres…").arg(s.updatingCount));
    m_moveButton->setText(QStringLiteral("%1 flyttet — Flytt").arg(s.movedCount));
    m_removedText->setText(QStringLiteral("%1 fjernet lokalt").arg(s.removedCount));
    m_syncingGroup->setVisible(s.syncingCount > 0);
    m_updatingGroup->setVisible(s.updatingCount > 0);
    m_moveButton->setVisible(s.movedCount > 0);
    m_moveButton->setEnabled(!m_movable.isEmpty() && !m_moving);
    m_removedText->setVisible(s.removedCount > 0);
    setVisible(!s.isEmpty());
}

QStringList QuickActionsBar::shownTexts() const
{
    QStringList texts;
    if (!m_syncingGroup->isHidden())
        texts << m_syncingText->text();
    if (!m_updatingGroup->isHidden())
        texts << m_updatingText->text();
    if (!m_moveButton->isHidden())
        texts << m_moveButton->text();
    if (!m_removedText->isHidden())
        texts << m_removedText->text();
    return texts;
}

void QuickActionsBar::moveAllMovedFolders()
{
    if (m_moving) {
        qCInfo(lcOverview, "Moves already under way; ignoring the second press");
        return;
    }
    if (m_movable.isEmpty() || !m_move)
        return;
    setMoving(true);
    runMoves(m_movable.values());
}

QCoro::Task<void> QuickActionsBar::runMoves(QList<SyncFolder> folders)
{
    QPointer<QuickActionsBar> self(this);
    const MoveFolder move = m_move; // the bar may go away while a move runs
    for (const SyncFolder &folder : folders) {
        try {
            co_await move(folder);
        } catch (...) {
            qCWarning(lcOverview, "Moving %s ended with an exception", qUtf8Printable(folder.path));
        }
    }
    if (self)
        self->setMoving(false);
}

void QuickActionsBar::setMoving(bool moving)
{
    if (moving == m_moving)
        return;
    m_moving = moving;
    m_moveButton->setEnabled(!m_movable.isEmpty() && !moving);
    Q_EMIT movingChanged(moving);
}
