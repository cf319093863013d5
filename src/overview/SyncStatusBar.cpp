#include "SyncStatusBar.h"

#include "EmptyFolderStateView.h"
#include "FlowLayout.h"
#include "FolderOpening.h"

#include "ui/Buttons.h"
#include "ui/ElidedLabel.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "sync/SyncManager.h"

#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

using Theme::Foreground;
using Theme::SystemColor;

constexpr int kFolderNameWidth = 160; // pixels

// A symbol before a text, not pressable: the counters of the row.
PlainButton *counterLabel(const QString &symbol, QWidget *parent)
{
    auto *label = new PlainButton(QString(), parent);
    label->setSymbol(symbol);
    label->setFont(Theme::font(Theme::TextStyle::Caption));
    label->setForeground(Foreground::Secondary);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette p = line->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, Foreground::Quaternary));
    line->setPalette(p);
    return line;
}

// Yellow at 10 % behind the error line.
class Banner : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Theme::withAlpha(Theme::systemColor(SystemColor::Yellow, palette()), 0.1));
    }
};

// The yellow triangle beside the error.
class WarningMark : public QWidget
{
public:
    explicit WarningMark(QWidget *parent) : QWidget(parent) { setFixedSize(12, 12); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        Symbol::paint(&painter, rect(), QStringLiteral("exclamationmark.triangle.fill"),
                      Theme::systemColor(SystemColor::Yellow, palette()));
    }
};

} // namespace

SyncStatusBar::SyncStatusBar(SyncManager &syncManager, std::function<void(const QString &)> revealFolder,
                             QWidget *parent, std::shared_ptr<PendingChangesCache> pending)
    : QWidget(parent)
    , m_syncManager(syncManager)
    , m_reveal(std::move(revealFolder))
    , m_pending(pending ? std::move(pending) : std::make_shared<PendingChangesCache>())
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_banner = new Banner(this);
    auto *bannerRow = new QHBoxLayout(m_banner);
    bannerRow->setContentsMargins(16, 6, 16, 6);
    bannerRow->setSpacing(6);
    bannerRow->addWidget(new WarningMark(m_banner), 0, Qt::AlignVCenter);
    m_errorText = new ElidedLabel(Qt::ElideRight, m_banner);
    m_errorText->setFont(Theme::font(Theme::TextStyle::Caption));
    bannerRow->addWidget(m_errorText, 1);
    m_retry = new PlainButton(QStringLiteral("Prøv igjen"), m_banner);
    m_retry->setFont(Theme::font(Theme::TextStyle::Caption));
    m_retry->setColor(palette().color(QPalette::Highlight));
    m_retry->setCursor(Qt::PointingHandCursor);
    connect(m_retry, &QAbstractButton::clicked, this, &SyncStatusBar::retry);
    bannerRow->addWidget(m_retry, 0, Qt::AlignVCenter);
    column->addWidget(m_banner);
    m_bannerDivider = divider(this);
    column->addWidget(m_bannerDivider);

    auto *strip = new QWidget(this);
    auto *stripRow = new QHBoxLayout(strip);
    stripRow->setContentsMargins(16, 8, 16, 8);
    stripRow->setSpacing(16);
    auto *counters = new QWidget(strip);
    // Wraps in a narrow column rather than clipping a counter.
    auto *row = new FlowLayout(counters, 16, 4);
    row->setContentsMargins(0, 0, 0, 0);
    m_folders = counterLabel(QStringLiteral("folder"), counters);
    m_images = counterLabel(QStringLiteral("photo"), counters);
    m_synced = counterLabel(QStringLiteral("checkmark.circle"), counters);
    m_new = counterLabel(QStringLiteral("arrow.up.circle"), counters);
    m_moved = counterLabel(QStringLiteral("arrow.triangle.branch"), counters);
    m_changed = counterLabel(QStringLiteral("exclamationmark.triangle"), counters);
    for (PlainButton *label : {m_folders, m_images, m_synced, m_new, m_moved, m_changed})
        row->addWidget(label);
    stripRow->addWidget(counters, 1);
    m_folderButton = new PlainButton(QString(), strip);
    m_folderButton->setSymbol(QStringLiteral("folder"));
    m_folderButton->setFont(Theme::font(Theme::TextStyle::Caption));
    m_folderButton->setForeground(Foreground::Secondary);
    m_folderButton->setToolTip(QStringLiteral("Åpne i filbehandler"));
    m_folderButton->setCursor(Qt::PointingHandCursor);
    connect(m_folderButton, &QAbstractButton::clicked, this, &SyncStatusBar::openExportFolder);
    // At the trailing edge, level with the first line of counters.
    stripRow->addWidget(m_folderButton, 0, Qt::AlignTop);
    column->addWidget(strip);

    connect(&m_syncManager, &SyncManager::folderListReplaced, this, &SyncStatusBar::recount);
    connect(&m_syncManager, &SyncManager::folderEntryChanged, this, &SyncStatusBar::countEntry);
    connect(&m_syncManager, &SyncManager::folderEntryAppended, this, &SyncStatusBar::countAppended);
    connect(&m_syncManager, &SyncManager::foldersChanged, this, &SyncStatusBar::refresh);
    connect(&m_syncManager, &SyncManager::reconcileErrorChanged, this, &SyncStatusBar::refreshBanner);
    connect(&m_syncManager, &SyncManager::watchFolderChanged, this, &SyncStatusBar::refreshFolderButton);
    recount();
    refresh();
    refreshBanner();
    refreshFolderButton();
}

void SyncStatusBar::retry()
{
    EmptyFolderStateView::retryScan(m_syncManager);
}

void SyncStatusBar::openExportFolder()
{
    if (m_syncManager.hasWatchFolder())
        openPathInFileManager(m_syncManager.watchFolder(), m_reveal);
}

bool SyncStatusBar::isShowingError() const
{
    return !m_banner->isHidden();
}

QString SyncStatusBar::errorText() const
{
    return isShowingError() ? m_errorText->text() : QString();
}

QStringList SyncStatusBar::counterTexts() const
{
    QStringList texts;
    for (const PlainButton *label : {m_folders, m_images, m_synced, m_new, m_moved, m_changed}) {
        if (!label->isHidden())
            texts << label->text();
    }
    return texts;
}

void SyncStatusBar::recount()
{
    m_tally.reset(m_syncManager.folders(), *m_pending);
}

void SyncStatusBar::countEntry(qsizetype index, const SyncFolder &before)
{
    m_tally.replace(index, before, m_syncManager.folders().at(index), *m_pending);
}

void SyncStatusBar::countAppended(qsizetype index)
{
    if (index == m_tally.size())
        m_tally.append(m_syncManager.folders().at(index), *m_pending);
}

void SyncStatusBar::refresh()
{
    // A list that changed without a notice of how is counted whole.
    if (m_tally.size() != m_syncManager.folders().size())
        recount();
    const StatusBarCounts &c = m_tally.counts();
    if (m_shown == c)
        return;
    m_shown = c;
    m_folders->setText(QStringLiteral("%1 mapper").arg(c.folderCount));
    m_images->setText(QStringLiteral("%1 bilder").arg(c.imageCount));
    const struct {
        PlainButton *label;
        qint64 count;
        const char *format;
        SystemColor colour;
    } coloured[] = {
        {m_synced, c.syncedCount, "%1 syncet", SystemColor::Green},
        {m_new, c.newCount, "%1 nye", SystemColor::Blue},
        {m_moved, c.movedCount, "%1 flyttet", SystemColor::Purple},
        {m_changed, c.changedCount, "%1 endret", SystemColor::Orange},
    };
    for (const auto &entry : coloured) {
        entry.label->setText(QString::fromLatin1(entry.format).arg(entry.count));
        entry.label->setColor(Theme::systemColor(entry.colour, palette()));
        entry.label->setVisible(entry.count != 0);
    }
}

void SyncStatusBar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_changed) {
        m_shown.reset(); // the counters' colours come from the palette
        refresh();
    }
}

void SyncStatusBar::refreshBanner()
{
    const std::optional<QString> &error = m_syncManager.reconcileError();
    m_errorText->setText(error.value_or(QString()));
    m_banner->setVisible(error.has_value());
    m_bannerDivider->setVisible(error.has_value());
}

void SyncStatusBar::refreshFolderButton()
{
    const QString &folder = m_syncManager.watchFolder();
    // A long name is shortened in its middle, so that it cannot widen the window past its narrowest size.
    m_folderButton->setText(m_folderButton->fontMetrics().elidedText(QFileInfo(folder).fileName(), Qt::ElideMiddle,
                                                                     kFolderNameWidth));
    m_folderButton->setVisible(!folder.isEmpty());
}
