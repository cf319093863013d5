#pragma once

#include "Theme.h"

#include <QAbstractButton>
#include <QColor>

// A button without bezel: an optional symbol and a text in a foreground level or colour; pressing dims it.
// Side by side (symbol before text) or stacked (symbol above text, for compact toolbars).
class PlainButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit PlainButton(const QString &text = {}, QWidget *parent = nullptr);

    void setSymbol(const QString &name);
    QString symbol() const { return m_symbol; }
    // Side of the symbol's square; 0 follows the font's pixel size.
    void setSymbolSize(int pixels);
    void setForeground(Theme::Foreground level);
    void setColor(const QColor &colour);
    void setStacked(bool stacked);
    void setSpacing(int pixels);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int symbolSide() const;
    QColor currentColor() const;

    QString m_symbol;
    int m_symbolSize = 0;
    Theme::Foreground m_level = Theme::Foreground::Primary;
    QColor m_colour;
    bool m_stacked = false;
    int m_spacing = 4;
    bool m_hovered = false;
};

// The filled, prominent push button, tinted with the brand colour unless told otherwise; white text.
class ProminentButton : public QAbstractButton
{
    Q_OBJECT
public:
    enum class ControlSize { Small, Regular, Large };

    explicit ProminentButton(const QString &text = {}, QWidget *parent = nullptr);

    void setTint(const QColor &tint);
    QColor tint() const { return m_tint; }
    void setControlSize(ControlSize size);
    void setSymbol(const QString &name);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int height_() const;

    QColor m_tint;
    ControlSize m_size = ControlSize::Regular;
    QString m_symbol;
    bool m_hovered = false;
};
