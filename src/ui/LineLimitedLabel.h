#pragma once

#include "Theme.h"

#include <QColor>
#include <QWidget>

// Wrapped text that stops after a number of lines (two unless told), the last one cut with an ellipsis.
class LineLimitedLabel : public QWidget
{
    Q_OBJECT
public:
    explicit LineLimitedLabel(QWidget *parent = nullptr);
    explicit LineLimitedLabel(const QString &text, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    int maximumLines() const { return m_maxLines; }
    void setMaximumLines(int lines);
    void setForeground(Theme::Foreground level);
    void setColor(const QColor &colour);
    void setAlignment(Qt::Alignment alignment);
    // The lines as drawn at a width, the last one elided when text remains.
    QStringList linesForWidth(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    int m_maxLines = 2;
    Theme::Foreground m_level = Theme::Foreground::Primary;
    QColor m_colour;
    Qt::Alignment m_alignment = Qt::AlignLeft;
};
