#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

// The named symbols the windows show ("folder", "checkmark.circle.fill", ...), drawn from bundled vector outlines
// and tinted at run time. Drawing is vector all the way, so a symbol is sharp at any size and device pixel ratio.
// When an outline is missing (assets not fetched) a faint ring stands in, and the gap is logged once per name.
// Main thread only.
class Symbol
{
public:
    static QStringList names();
    // Whether the name is known and its outline is bundled.
    static bool isAvailable(const QString &name);

    static void paint(QPainter *painter, const QRectF &rect, const QString &name, const QColor &tint);
    static QPixmap pixmap(const QString &name, const QColor &tint, QSize logicalSize, qreal devicePixelRatio);
    // An icon for buttons and labels; disabled mode fades the tint.
    static QIcon icon(const QString &name, const QColor &tint);
};
