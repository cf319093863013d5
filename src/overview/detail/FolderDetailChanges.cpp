#include "FolderDetailChanges.h"

#include "DetailWidgets.h"
#include "ui/ElidedLabel.h"
#include "ui/Symbol.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {

const QChar kMinusSign(0x2212);

// The group's label: a chevron when it discloses, the group's symbol, the text; all in the group's colour.
class GroupLabel : public QAbstractButton
{
public:
    GroupLabel(const ChangesGroup &group, ChangesGroup::Kind kind, QWidget *parent)
        : QAbstractButton(parent), m_disclosure(group.form == ChangesGroup::Form::Disclosure), m_kind(kind)
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
        const QColor colour = Theme::systemColor(
            m_kind == ChangesGroup::Kind::New ? Theme::SystemColor::Blue : Theme::SystemColor::Red, palette());
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
        Symbol::paint(&painter, QRectF(x, (height() - side) / 2, side, side),
                      m_kind == ChangesGroup::Kind::New ? QStringLiteral("plus.circle.fill")
                                                        : QStringLiteral("minus.circle.fill"),
                      colour);
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
    const QString word = kind == Kind::New ? QStringLiteral("nye") : QStringLiteral("fjernet");
    if (!names.isEmpty()) {
        group.form = Form::Disclosure;
        group.label = QString::number(names.size()) + u' ' + word;
        group.rows = names.mid(0, kMaxRows);
        if (names.size() > kMaxRows)
            group.moreRow = QStringLiteral("… og %1 til").arg(names.size() - kMaxRows);
    } else if (count >= 1) {
        group.form = Form::Count;
        group.label = (kind == Kind::New ? QStringLiteral("+") : QString(kMinusSign)) + QString::number(count) + u' '
                    + word;
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

FolderDetailChanges::FolderDetailChanges(QWidget *parent)
    : DetailSection(QStringLiteral("Endringer"), QStringLiteral("arrow.triangle.2.circlepath"), parent)
{
}

void FolderDetailChanges::setFolder(const SyncFolder &folder)
{
    ChangesGroup newGroup = ChangesGroup::newFiles(folder);
    ChangesGroup removedGroup = ChangesGroup::removedFiles(folder);
    if (m_groups && newGroup.label == m_new.label && newGroup.rows == m_new.rows
        && removedGroup.label == m_removed.label && removedGroup.rows == m_removed.rows)
        return; // keeps open groups open while the folder's other values change
    m_new = std::move(newGroup);
    m_removed = std::move(removedGroup);

    delete m_groups;
    m_groups = new QWidget(panel());
    auto *column = new QVBoxLayout(m_groups);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    if (m_new.form != ChangesGroup::Form::Absent)
        column->addWidget(buildGroup(m_new, ChangesGroup::Kind::New));
    if (m_removed.form != ChangesGroup::Form::Absent)
        column->addWidget(buildGroup(m_removed, ChangesGroup::Kind::Removed));
    m_groups->setVisible(column->count() > 0);
    contentLayout()->addWidget(m_groups);
}

QWidget *FolderDetailChanges::buildGroup(const ChangesGroup &group, ChangesGroup::Kind kind)
{
    auto *box = new QWidget(m_groups);
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto *label = new GroupLabel(group, kind, box);
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
