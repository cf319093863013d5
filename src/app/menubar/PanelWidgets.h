#pragma once

#include "ui/Theme.h"

#include <QColor>
#include <QString>
#include <QWidget>

// One named symbol in a square, tinted with a foreground level or a fixed colour.
class SymbolView : public QWidget
{
    Q_OBJECT
public:
    SymbolView(const QString &name, int side, QWidget *parent = nullptr);

    QString symbol() const { return m_name; }
    void setSymbol(const QString &name);
    void setForeground(Theme::Foreground level);
    void setColor(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    Theme::Foreground m_level = Theme::Foreground::Primary;
    QColor m_colour;
};

// A one-pixel separator line across the panel.
class Divider : public QWidget
{
    Q_OBJECT
public:
    explicit Divider(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
