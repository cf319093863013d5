#include "SettingsForm.h"

#include "ui/Color.h"
#include "ui/ElidedLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

using Theme::Foreground;

namespace SettingsForm {

namespace {
constexpr int kRowHeight = 34;
constexpr int kRowPadding = 10;
} // namespace

QVBoxLayout *formLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(kMargin, kMargin - 4, kMargin, kMargin - 4);
    layout->setSpacing(10);
    return layout;
}

QWidget *labelledRow(const QString &label, QWidget *value)
{
    auto *row = new QWidget;
    row->setMinimumHeight(kRowHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(kRowPadding, 0, kRowPadding, 0);
    layout->setSpacing(12);
    auto *title = new QLabel(label);
    title->setFont(Theme::font(Theme::TextStyle::Body));
    layout->addWidget(title, 0);
    if (qobject_cast<ElidedLabel *>(value)) {
        // Takes all the room left and cuts itself to it.
        layout->addWidget(value, 1, Qt::AlignVCenter);
    } else {
        layout->addStretch(1);
        layout->addWidget(value, 0, Qt::AlignVCenter);
    }
    return row;
}

QWidget *plainRow(QWidget *content)
{
    auto *row = new QWidget;
    row->setMinimumHeight(kRowHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(kRowPadding, 4, kRowPadding, 4);
    layout->addWidget(content, 0, Qt::AlignVCenter);
    layout->addStretch();
    return row;
}

QLabel *secondaryLabel(const QString &text, const QFont &font)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, Foreground::Secondary));
    label->setPalette(p);
    return label;
}

QPushButton *button(const QString &title, bool destructive)
{
    auto *b = new QPushButton(title);
    b->setFont(Theme::font(Theme::TextStyle::Body));
    // Fusion sets the title tight against the bevel; give it the room of a desktop button.
    const QSize hint = b->sizeHint();
    b->setMinimumSize(hint.width() + 14, std::max(hint.height(), 26));
    if (destructive) {
        QPalette p = b->palette();
        p.setColor(QPalette::ButtonText, Theme::systemColor(Theme::SystemColor::Red, p));
        b->setPalette(p);
    }
    return b;
}

} // namespace SettingsForm

FormSection::FormSection(const QString &header, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        auto *title = new QLabel(header);
        title->setFont(Theme::font(Theme::TextStyle::Headline));
        title->setContentsMargins(SettingsForm::kMargin / 2, 0, 0, 0);
        layout->addWidget(title);
    }
    m_panel = new QWidget;
    m_rows = new QVBoxLayout(m_panel);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(1); // the hairline between rows
    layout->addWidget(m_panel);
}

void FormSection::addRow(QWidget *row)
{
    m_rows->addWidget(row);
    row->show(); // a row added while the section is on screen shows at once, not on the next event round

}

void FormSection::clearRows()
{
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

int FormSection::rowCount() const
{
    return m_rows->count();
}

void FormSection::paintEvent(QPaintEvent *)
{
    if (m_rows->count() == 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = QRectF(m_panel->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool dark = Theme::isDark(palette());
    painter.setPen(QPen(Theme::withAlpha(palette().color(QPalette::WindowText), dark ? 0.12 : 0.08), 1));
    painter.setBrush(dark ? Theme::withAlpha(QColor(Qt::white), 0.05) : palette().color(QPalette::Base));
    painter.drawRoundedRect(panel, 8, 8);

    painter.setPen(QPen(Theme::withAlpha(palette().color(QPalette::WindowText), 0.1), 1));
    for (int i = 1; i < m_rows->count(); ++i) {
        const QWidget *row = m_rows->itemAt(i)->widget();
        if (!row || !row->isVisible())
            continue;
        const qreal y = m_panel->y() + row->y() - 0.5;
        painter.drawLine(QPointF(panel.left() + 10, y), QPointF(panel.right() - 10, y));
    }
}

ToggleSwitch::ToggleSwitch(QWidget *parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(0, 0, 38, 22).translated((width() - 38) / 2.0, (height() - 22) / 2.0);
    QColor fill = isChecked() ? Color::brand() : Theme::foreground(palette(), Foreground::Quaternary);
    if (!isEnabled())
        fill = Theme::withAlpha(fill, 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, 11, 11);

    const qreal knob = 18;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QRectF(x, track.top() + 2.5, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    // Only a keyboard user needs to see where focus is.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(Theme::withAlpha(Color::brand(), 0.5), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), 12, 12);
    }
}
