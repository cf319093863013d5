#pragma once

#include "ui/Theme.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QWidget>

class QBoxLayout;
class QLabel;
class QVBoxLayout;

// The pieces every settings tab is built from: grouped sections of rows, a switch, and the text styles.
namespace SettingsForm {

// The margin around a tab's form.
inline constexpr int kMargin = 20;

// A page of the settings window: sections stacked top-down inside the standard margin.
QVBoxLayout *formLayout(QWidget *page);
// A row: a label on the leading side and a control or value on the trailing side.
QWidget *labelledRow(const QString &label, QWidget *value);
// A row holding one widget at its leading edge.
QWidget *plainRow(QWidget *content);
QLabel *secondaryLabel(const QString &text, const QFont &font = Theme::font(Theme::TextStyle::Body));
// A form button; destructive ones draw their title in red.
QPushButton *button(const QString &title, bool destructive = false);

} // namespace SettingsForm

// One group of a grouped form: an optional header above a rounded panel whose rows are split by hairlines.
class FormSection : public QWidget
{
    Q_OBJECT
public:
    explicit FormSection(const QString &header = {}, QWidget *parent = nullptr);

    void addRow(QWidget *row);
    // Removes and deletes every row, keeping the header.
    void clearRows();
    int rowCount() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_panel = nullptr;
    QVBoxLayout *m_rows = nullptr;
};

// An on/off switch: a capsule with a round knob, filled with the brand colour while on.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget *parent = nullptr);

    QSize sizeHint() const override { return {38, 22}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
};
