#include "FolderDetailHeader.h"

#include "overview/list/FolderStatusPresentation.h"
#include "overview/list/FolderStatusViews.h"
#include "DetailWidgets.h"
#include "ui/Color.h"
#include "ui/ElidedLabel.h"
#include "ui/LineLimitedLabel.h"
#include "ui/PlainText.h"
#include "ui/Theme.h"
#include "sync/IsolatedName.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

bool isTrimmedBlank(QChar c)
{
    return c.isSpace() && c != u'\n' && c != u'\r' && c != QChar(0x2028) && c != QChar(0x2029) && c != u'\v'
        && c != u'\f' && c != QChar(0x85);
}

// A capsule holding a symbol, a value and its label: one counter of the folder.
class StatBadge : public GlassFrame
{
public:
    StatBadge(const QString &symbol, const QString &label, const QString &value, QWidget *parent)
        : GlassFrame(0.1, 0.2, -1, parent), m_text(label + u' ' + value)
    {
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(10, 6, 10, 6);
        row->setSpacing(6);
        const QFont caption = Theme::font(Theme::TextStyle::Caption);
        auto *icon = new DetailSymbol(symbol, QFontMetrics(caption).height(), this);
        icon->setForeground(Theme::Foreground::Secondary);
        row->addWidget(icon);
        auto *valueText = new QLabel(value, this);
        QFont bold = Theme::font(Theme::TextStyle::Callout);
        bold.setWeight(QFont::Bold);
        valueText->setFont(bold);
        row->addWidget(valueText);
        auto *labelText = new QLabel(label, this);
        labelText->setFont(caption);
        QPalette secondary = labelText->palette();
        secondary.setColor(QPalette::WindowText, Theme::foreground(secondary, Theme::Foreground::Secondary));
        labelText->setPalette(secondary);
        row->addWidget(labelText);
    }
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

} // namespace

class InfoProgressBar : public QWidget
{
public:
    explicit InfoProgressBar(QWidget *parent) : QWidget(parent)
    {
        setFixedHeight(6);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    void setValue(double value)
    {
        m_value = value;
        update();
    }
    double value() const { return m_value; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QRectF track = QRectF(rect()).adjusted(0, 1, 0, -1);
        const qreal radius = track.height() / 2;
        painter.setBrush(Theme::withAlpha(Theme::foreground(palette(), Theme::Foreground::Primary), 0.1));
        painter.drawRoundedRect(track, radius, radius);
        QRectF done = track;
        done.setWidth(std::max(track.height(), track.width() * std::clamp(m_value, 0.0, 1.0)));
        painter.setBrush(Color::brand());
        painter.drawRoundedRect(done, radius, radius);
    }

private:
    double m_value = 0;
};

QString cleanedPathComponent(const QString &component)
{
    QString text = component;
    text.replace(u'_', u' ');
    text.replace(u'-', u' ');
    text.replace(QStringLiteral("  "), QStringLiteral(" "));
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isTrimmedBlank(text.at(start)))
        ++start;
    while (end > start && isTrimmedBlank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

QString parentPathText(const QStringList &parentComponents)
{
    QStringList cleaned;
    for (const QString &component : parentComponents)
        cleaned.append(unicodenames::isolated(cleanedPathComponent(component)));
    return cleaned.join(QStringLiteral(" \u203A "));
}

double progressBarValue(double progress)
{
    if (!std::isfinite(progress) || progress <= 0.02)
        return 0.02;
    return std::min(progress, 1.0);
}

QString uploadProgressText(double progress)
{
    return QStringLiteral("Laster opp… %1%").arg(progressPercent(progress));
}

QString skippedEntriesText(const SkippedEntries &skipped)
{
    if (skipped.total() == 0)
        return {};
    QStringList lines{QStringLiteral("Ikke lest av skanningen, og derfor ikke lastet opp:")};
    if (skipped.invalidNames > 0)
        lines.append(QStringLiteral("%1 med et navn som ikke er gyldig UTF-8").arg(skipped.invalidNames));
    if (skipped.tooLongPaths > 0)
        lines.append(QStringLiteral("%1 med en sti som er lengre enn systemet tillater").arg(skipped.tooLongPaths));
    return lines.join(u'\n');
}

FolderDetailHeader::FolderDetailHeader(QWidget *parent)
    : QWidget(parent), m_icon(new FolderStatusIcon(this)), m_title(new LineLimitedLabel(this)),
      m_parentPath(new ElidedLabel(Qt::ElideMiddle, this)), m_status(new FolderStatusLabel(this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 24, 20, 16);
    column->setSpacing(12);
    m_icon->setFont(Theme::systemFont(32));
    column->addWidget(m_icon, 0, Qt::AlignHCenter);
    m_title->setFont(Theme::bricolage(20, QFont::Bold));
    m_title->setMaximumLines(2);
    m_title->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_title);
    m_parentPath->setFont(Theme::dmSans(11));
    m_parentPath->setForeground(Theme::Foreground::Tertiary);
    m_parentPath->setAlignment(Qt::AlignCenter);
    column->addWidget(m_parentPath);
    column->addWidget(m_status, 0, Qt::AlignHCenter);
}

void FolderDetailHeader::setFolder(const SyncFolder &folder)
{
    m_icon->setFolder(folder);
    m_title->setText(folder.displayName);
    const QString parents = parentPathText(folder.parentComponents);
    m_parentPath->setText(parents);
    m_parentPath->setVisible(!folder.parentComponents.isEmpty());
    m_status->setFolder(folder);
}

QString FolderDetailHeader::title() const
{
    return m_title->text();
}

QString FolderDetailHeader::parentPath() const
{
    return m_parentPath->isVisibleTo(this) ? m_parentPath->text() : QString();
}

QString FolderDetailHeader::statusText() const
{
    return m_status->text();
}

FolderDetailInfo::FolderDetailInfo(QWidget *parent)
    : QWidget(parent), m_badges(new QWidget(this)), m_skippedRow(new QWidget(this)),
      m_chip(new GlassFrame(0.1, 0.2, -1, this)),
      m_chipName(new ElidedLabel(Qt::ElideMiddle, m_chip)), m_progress(new QWidget(this)),
      m_bar(new InfoProgressBar(m_progress)), m_progressText(new QLabel(m_progress))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 0, 16, 0);
    column->setSpacing(10);

    auto *badgeRow = new QHBoxLayout(m_badges);
    badgeRow->setContentsMargins(0, 0, 0, 0);
    badgeRow->setSpacing(8);
    column->addWidget(m_badges, 0, Qt::AlignHCenter);
    auto *skippedLine = new QHBoxLayout(m_skippedRow);
    skippedLine->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_skippedRow, 0, Qt::AlignHCenter);
    m_skippedRow->hide();

    auto *chipRow = new QHBoxLayout(m_chip);
    chipRow->setContentsMargins(10, 5, 10, 5);
    chipRow->setSpacing(6);
    const QFont caption = Theme::font(Theme::TextStyle::Caption);
    auto *folderSymbol = new DetailSymbol(QStringLiteral("folder"), QFontMetrics(caption).height(), m_chip);
    folderSymbol->setForeground(Theme::Foreground::Tertiary);
    chipRow->addWidget(folderSymbol);
    m_chipName->setFont(caption);
    m_chipName->setForeground(Theme::Foreground::Secondary);
    // The whole chip shows the path on hover, not the name's own tooltip of a shortened name.
    m_chipName->setAttribute(Qt::WA_TransparentForMouseEvents);
    chipRow->addWidget(m_chipName, 1);
    m_chip->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    column->addWidget(m_chip, 0, Qt::AlignHCenter);

    auto *progressColumn = new QVBoxLayout(m_progress);
    progressColumn->setContentsMargins(0, 0, 0, 0);
    progressColumn->setSpacing(4);
    progressColumn->addWidget(m_bar);
    m_progressText->setFont(Theme::font(Theme::TextStyle::Caption2));
    m_progressText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    progressColumn->addWidget(m_progressText);
    column->addWidget(m_progress);
}

void FolderDetailInfo::setFolder(const SyncFolder &folder)
{
    const bool badgesChanged = m_folder.imageCount != folder.imageCount || m_folder.status != folder.status
                            || m_folder.skippedEntries != folder.skippedEntries
                            || m_badges->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).isEmpty();
    m_folder = folder;
    if (badgesChanged) {
        for (QWidget *old : m_badges->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            delete old;
        auto *row = static_cast<QHBoxLayout *>(m_badges->layout());
        row->addWidget(new StatBadge(QStringLiteral("photo"), QStringLiteral("Bilder"),
                                     QString::number(folder.imageCount), m_badges));
        if (folder.status.is(SyncStatus::Case::synced))
            row->addWidget(new StatBadge(QStringLiteral("arrow.up.circle"), QStringLiteral("Lastet opp"),
                                         QString::number(folder.status.uploadedCount()), m_badges));
        delete m_skipped;
        if (folder.skippedEntries.total() > 0) {
            m_skipped = new StatBadge(QStringLiteral("exclamationmark.triangle"), QStringLiteral("Hoppet over"),
                                      QString::number(folder.skippedEntries.total()), m_skippedRow);
            m_skipped->setToolTip(skippedEntriesText(folder.skippedEntries)); // counts and fixed words only
            m_skippedRow->layout()->addWidget(m_skipped);
        }
        m_skippedRow->setVisible(m_skipped);
    }

    m_chipName->setText(folder.name);
    // A few pixels of slack: text drawn at a higher device pixel ratio can run a little wider than measured.
    m_chipName->setMinimumWidth(std::min(m_chipName->fontMetrics().horizontalAdvance(folder.name) + 6, 220));
    m_chip->setToolTip(plainToolTip(folder.path));

    const bool syncing = folder.status.is(SyncStatus::Case::syncing);
    m_progress->setVisible(syncing);
    if (syncing) {
        m_bar->setValue(progressBarValue(folder.status.progress()));
        m_progressText->setText(uploadProgressText(folder.status.progress()));
        QPalette palette = m_progressText->palette();
        palette.setColor(QPalette::WindowText, Theme::foreground(this->palette(), Theme::Foreground::Secondary));
        m_progressText->setPalette(palette);
    }
}

QStringList FolderDetailInfo::badgeTexts() const
{
    QStringList texts;
    for (const QWidget *child : m_badges->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        texts.append(static_cast<const StatBadge *>(child)->text());
    if (m_skipped)
        texts.append(static_cast<const StatBadge *>(m_skipped.data())->text());
    return texts;
}

QString FolderDetailInfo::skippedToolTip() const
{
    return m_skipped ? m_skipped->toolTip() : QString();
}

QString FolderDetailInfo::chipText() const
{
    return m_chipName->text();
}

QString FolderDetailInfo::chipToolTip() const
{
    return m_chip->toolTip();
}

QString FolderDetailInfo::progressText() const
{
    return m_progress->isVisibleTo(this) ? m_progressText->text() : QString();
}

double FolderDetailInfo::progressValue() const
{
    return m_bar->value();
}
