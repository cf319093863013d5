#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRectF>

// How a shape's design box is fitted into a rectangle: one uniform scale (the whole outline visible), centred on
// both axes. A rectangle without area gives the scale 0, so every point lands on its centre.
struct BrandFit {
    qreal scale = 0;
    QPointF offset; // where the design box's origin lands

    static BrandFit fit(const QRectF &designBox, const QRectF &rect);
    QPointF map(QPointF design) const { return offset + design * scale; }
};

// The house outline alone: the menu-bar icon.
struct VarnostimaHouseMark {
    static QRectF designBox();
    // Both polygons in one even-odd path.
    QPainterPath path(const QRectF &rect) const;
};

// The full mark: the house inside its frame.
struct VarnostimaMark {
    static QRectF designBox();
    QPainterPath path(const QRectF &rect) const;
    static constexpr qreal aspectRatio = 23.0 / 28.0;
};
