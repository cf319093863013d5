#include "FolderDetailChanges.h"

#include "DetailWidgets.h"
#include "ui/ElidedLabel.h"
#include "ui/Symbol.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QChar kMinusSign(0x2212);

struct GroupLook {
    QString symbol;
    QColor colour;
};

GroupLook lookOf(ChangesGroup::Kind kind, const QPalette &palette)
{
    using Theme::SystemColor;
    switch (kind) {
    case ChangesGroup::Kind::New:
        return {QStringLiteral("plus.circle.fill"), Theme::systemColor(SystemColor::Blue, palette)};
    case ChangesGroup::Kind::Removed:
        return {QStringLiteral("minus.circle.fill"), Theme::systemColor(SystemColor::Red, palette)};
    case ChangesGroup::Kind::Modified:
        return {QStringLiteral("exclamationmark.triangle.fill"), Theme::systemColor(SystemColor::Orange, palette)};
    case ChangesGroup::Kind::Checked:
        break;
    }
    return {QStringLiteral("checkmark.circle"), Theme::foreground(palette, Theme::Foreground::Secondary)};
}

// The group's label: a chevron when it discloses, the group's symbol, the text; all in the group's colour.
class GroupLabel : public QAbstractButton
{
public:
    GroupLabel(const ChangesGroup &group, QWidget *parent)
        : QAbstractButton(parent), m_disclosure(group.form == ChangesGroup::Form::Disclosure), m_kind(group.kind)
    {
        setText(group.label);
        setFont(Theme::font(Theme::TextStyle::Callout));
        setCheckable(m_disclosure);
        setCursor(m_disclosure ? Qt::PointingHandCursor : Qt::ArrowCursor);
        setFocusPolicy(m_disclosure ? Qt::TabFocus : Qt::NoFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics fm = fontMetrics();
        return {chevronWidth() + fm.height() + 4 + fm.horizontalAdvance(text()), fm.height() + 4};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const GroupLook look = lookOf(m_kind, palette());
        const QColor &colour = look.colour;
        const QFontMetrics fm = fontMetrics();
        const qreal side = fm.height() - 2;
        qreal x = 0;
        if (m_disclosure) {
            const qreal chevron = side * 0.75;
            const QRectF box(x, (height() - chevron) / 2, chevron, chevron);
            painter.save();
            if (isChecked()) { // open: the chevron points down
                painter.translate(box.center());
                painter.rotate(90);
                painter.translate(-box.center());
            }
            Symbol::paint(&painter, box, QStringLiteral("chevron.right"),
                          Theme::foreground(palette(), Theme::Foreground::Secondary));
            painter.restore();
            x += chevronWidth();
        }
        Symbol::paint(&painter, QRectF(x, (height() - side) / 2, side, side), look.symbol, colour);
        x += side + 4;
        painter.setPen(colour);
        painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    int chevronWidth() const { return m_disclosure ? fontMetrics().height() : 0; }

    bool m_disclosure;
    ChangesGroup::Kind m_kind;
};

} // namespace

ChangesGroup ChangesGroup::of(Kind kind, const QStringList &names, qint64 count)
{
    ChangesGroup group;
    group.kind = kind;
    if (!names.isEmpty() && kind != Kind::Checked) {
        const QString word = kind == Kind::New       ? QStringLiteral("nye")
                             : kind == Kind::Removed ? QStringLiteral("fjernet")
                                                     : QStringLiteral("endret");
        group.form = Form::Disclosure;
        group.label = QString::number(names.size()) + u' ' + word;
        group.rows = names.mid(0, kMaxRows);
        if (names.size() > kMaxRows)
            group.moreRow = QStringLiteral("… og %1 til").arg(names.size() - kMaxRows);
        return group;
    }
    if (count < 1)
        return group;
    group.form = Form::Count;
    switch (kind) {
    case Kind::New:
        group.label = QStringLiteral("+%1 nye").arg(count);
        break;
    case Kind::Removed:
        group.label = QString(kMinusSign) + QStringLiteral("%1 fjernet").arg(count);
        break;
    case Kind::Modified:
        group.label = QStringLiteral("%1 endret").arg(count);
        break;
    case Kind::Checked:
        group.label = (count == 1 ? QStringLiteral("1 bilde") : QStringLiteral("%1 bilder").arg(count))
                      + QStringLiteral(" kontrolleres mot galleriet");
        break;
    }
    return group;
}

ChangesGroup ChangesGroup::newFiles(const SyncFolder &folder)
{
    return of(Kind::New, folder.newFileNames(), folder.newFileCount());
}

ChangesGroup ChangesGroup::removedFiles(const SyncFolder &folder)
{
    return of(Kind::Removed, folder.removedFileNames(), folder.removedFileCount());
}

ChangesGroup ChangesGroup::modifiedFiles(const SyncFolder &folder)
{
    const QStringList names = folder.modifiedFileNames();
    return of(Kind::Modified, names, names.size());
}

ChangesGroup ChangesGroup::checkedFiles(const SyncFolder &folder)
{
    return of(Kind::Checked, {}, folder.metadataBaselineCount());
}

FolderDetailChanges::FolderDetailChanges(QWidget *parent)
    : DetailSection(QStringLiteral("Endringer"), QStringLiteral("arrow.triangle.2.circlepath"), parent)
{
}

QStringList FolderDetailChanges::labels() const
{
    QStringList labels;
    for (const ChangesGroup &group : m_groups)
        labels << group.label;
    return labels;
}

void FolderDetailChanges::setFolder(const SyncFolder &folder)
{
    QList<ChangesGroup> groups;
    for (ChangesGroup group : {ChangesGroup::newFiles(folder), ChangesGroup::removedFiles(folder),
                               ChangesGroup::modifiedFiles(folder), ChangesGroup::checkedFiles(folder)}) {
        if (group.form != ChangesGroup::Form::Absent)
            groups.append(std::move(group));
    }
    if (m_box && groups == m_groups)
        return; // keeps open groups open while the folder's other values change
    m_groups = std::move(groups);

    delete m_box;
    m_box = new QWidget(panel());
    auto *column = new QVBoxLayout(m_box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    for (const ChangesGroup &group : std::as_const(m_groups))
        column->addWidget(buildGroup(group));
    m_box->setVisible(!m_groups.isEmpty());
    contentLayout()->addWidget(m_box);
}

QWidget *FolderDetailChanges::buildGroup(const ChangesGroup &group)
{
    auto *box = new QWidget(m_box);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto *label = new GroupLabel(group, box);
    column->addWidget(label);
    if (group.form != ChangesGroup::Form::Disclosure)
        return box;

    auto *list = new QWidget(box);
    auto *rows = new QVBoxLayout(list);
    rows->setContentsMargins(4, 0, 0, 0);
    rows->setSpacing(2);
    const QFont font = Theme::systemFont(11);
    for (const QString &name : group.rows) {
        auto *row = new ElidedLabel(name, Qt::ElideMiddle, list);
        row->setFont(font);
        row->setForeground(Theme::Foreground::Secondary);
        rows->addWidget(row);
    }
    if (!group.moreRow.isEmpty()) {
        auto *more = new ElidedLabel(group.moreRow, Qt::ElideRight, list);
        more->setFont(font);
        more->setForeground(Theme::Foreground::Tertiary);
        rows->addWidget(more);
    }
    list->setVisible(false); // collapsed at first
    column->addWidget(list);
    QObject::connect(label, &QAbstractButton::toggled, list, &QWidget::setVisible);
    return box;
}
