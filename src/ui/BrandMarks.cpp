#include "BrandMarks.h"

#include <QPolygonF>

#include <algorithm>
#include <initializer_list>

namespace {

using Polygon = std::initializer_list<QPointF>;

const Polygon kHouseOutline{
    {11.1504, 3.13672}, {2.23145, 12.0566}, {2.23145, 25.0137}, {20.0791, 25.0137}, {20.0791, 13.4131},
    {15.3945, 13.4131}, {15.3945, 19.7441}, {6.91602, 19.7441}, {6.91602, 11.1826}, {20.0791, 11.1826},
    {20.0791, 8.98828},
};

const Polygon kDoor{
    {9.14746, 13.4131}, {9.14746, 17.5127}, {13.1631, 17.5127}, {13.1631, 13.4131},
};

// Near-equal neighbours (22.3096/22.3105, 0/0.000976562, ...) are separate vertices on purpose.
const Polygon kFramedOutline{
    {18.5762, 7.41309}, {17.002, 8.98828}, {11.1504, 3.13672}, {2.23145, 12.0566}, {2.23145, 25.0137},
    {20.0791, 25.0137}, {20.0791, 13.4131}, {15.3945, 13.4131}, {15.3945, 19.7441}, {6.91602, 19.7441},
    {6.91602, 11.1826}, {22.3096, 11.1826}, {22.3096, 11.4893}, {22.3105, 11.4893}, {22.3105, 26.1025},
    {22.3096, 26.1025}, {22.3096, 27.2451}, {0, 27.2451}, {0, 25.0137}, {0.000976562, 25.0137},
    {0.000976562, 11.1553}, {0, 11.1543}, {11.1553, 0}, {11.1592, 0.00390625}, {11.1631, 0},
};

void addPolygon(QPainterPath &path, const BrandFit &fit, const Polygon &polygon)
{
    auto it = polygon.begin();
    path.moveTo(fit.map(*it));
    for (++it; it != polygon.end(); ++it)
        path.lineTo(fit.map(*it));
    path.closeSubpath();
}

QPainterPath build(const QRectF &designBox, const QRectF &rect, std::initializer_list<const Polygon *> polygons)
{
    const BrandFit fit = BrandFit::fit(designBox, rect);
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const Polygon *polygon : polygons)
        addPolygon(path, fit, *polygon);
    return path;
}

} // namespace

BrandFit BrandFit::fit(const QRectF &designBox, const QRectF &rect)
{
    const qreal scale =
        std::max<qreal>(0.0, std::min(rect.width() / designBox.width(), rect.height() / designBox.height()));
    const QPointF offset(rect.left() + (rect.width() - scale * designBox.width()) / 2 - scale * designBox.left(),
                         rect.top() + (rect.height() - scale * designBox.height()) / 2 - scale * designBox.top());
    return {scale, offset};
}

QRectF VarnostimaHouseMark::designBox()
{
    return {2.23145, 3.13672, 17.84765, 21.87698};
}

QPainterPath VarnostimaHouseMark::path(const QRectF &rect) const
{
    return build(designBox(), rect, {&kHouseOutline, &kDoor});
}

QRectF VarnostimaMark::designBox()
{
    return {0, 0, 23, 28};
}

QPainterPath VarnostimaMark::path(const QRectF &rect) const
{
    return build(designBox(), rect, {&kFramedOutline, &kDoor});
}
