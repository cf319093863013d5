#pragma once

#include <QColor>
#include <QWidget>

// The full mark, filled even-odd in the foreground (or a given colour), as large as fits at 23:28.
class VarnostimaLogo : public QWidget
{
    Q_OBJECT
public:
    explicit VarnostimaLogo(QWidget *parent = nullptr);

    void setColor(const QColor &colour);
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour;
};

// The logo beside the lower-case product name in Bricolage Grotesque bold, in three sizes.
class VarnostimaWordmark : public QWidget
{
    Q_OBJECT
public:
    enum class Size { Small, Medium, Large };

    explicit VarnostimaWordmark(Size size = Size::Medium, QWidget *parent = nullptr);

    Size wordmarkSize() const { return m_size; }
    static int logoHeight(Size size);
    static int textPixelSize(Size size);
    static constexpr int kSpacing = 8;
    QFont textFont() const;
    // Where the logo and the text sit inside the widget.
    QRectF logoRect() const;
    QRectF textRect() const;

    void setColor(const QColor &colour);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Size m_size;
    QColor m_colour;
};

// The application icon, drawn from the brand outline.
QIcon applicationIcon();
