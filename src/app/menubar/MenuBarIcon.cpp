#include "MenuBarIcon.h"

#include "ui/BrandMarks.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>

namespace MenuBarIcon {

namespace {
constexpr QSizeF kFrame(16, 18);
}

QImage render(const QColor &colour, qreal scale)
{
    const QSize pixels = (kFrame * scale).toSize();
    if (pixels.isEmpty())
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path = VarnostimaHouseMark().path(QRectF(QPointF(0, 0), kFrame));
    path.setFillRule(Qt::OddEvenFill);
    painter.fillPath(path, colour);
    return image;
}

QIcon icon(const QPalette &palette)
{
    static const QIcon once = [&palette] {
        const QColor colour = Theme::isDark(palette) ? QColor(Qt::white) : QColor(Qt::black);
        const QScreen *screen = QGuiApplication::primaryScreen();
        const qreal scale = screen ? screen->devicePixelRatio() : 2.0;
        const QImage image = render(colour, scale);
        if (!image.isNull())
            return QIcon(QPixmap::fromImage(image));
        if (Symbol::isAvailable(QStringLiteral("house.fill")))
            return Symbol::icon(QStringLiteral("house.fill"), colour);
        return QIcon();
    }();
    return once;
}

} // namespace MenuBarIcon
