#pragma once

#include <QColor>
#include <QMargins>
#include <QWidget>

// A short text on a capsule: by default the status look (11 px medium, the colour on itself at 12 %).
class CapsuleLabel : public QWidget
{
    Q_OBJECT
public:
    explicit CapsuleLabel(const QString &text = {}, const QColor &colour = {}, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // Text colour; the fill follows it at 12 % unless a fill is set.
    void setColor(const QColor &colour);
    void setFill(const QColor &fill);
    void setBorder(const QColor &border);
    void setPadding(const QMargins &padding);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor textColour() const;

    QString m_text;
    QColor m_colour;
    QColor m_fill;
    QColor m_border;
    QMargins m_padding{8, 3, 8, 3};
};
