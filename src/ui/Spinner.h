#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

// The indeterminate activity indicator: twelve fading spokes. Turns only while visible.
class Spinner : public QWidget
{
    Q_OBJECT
public:
    enum class Size { Mini, Small, Large };

    explicit Spinner(Size size = Size::Small, QWidget *parent = nullptr);

    static int diameter(Size size);
    Size spinnerSize() const { return m_size; }
    void setSpinnerSize(Size size);
    // Absent: the palette's window text. The image preview tints it white.
    void setColor(const QColor &colour);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    Size m_size;
    QColor m_colour;
    int m_step = 0;
    QTimer m_timer;
};
