// Makes a small export folder for trying the app by hand: a few gallery folders, some under parent folders, each
// with real JPEG photographs of made-up landscapes.
//   varnostima-sample-export <folder>
// The folder must not exist yet or be empty. The same images come out on every run.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTextStream>

namespace {

struct GalleryFolder {
    const char *path;
    const char *prefix;
    int images;
};

constexpr GalleryFolder kGalleries[] = {
    {"Bryllup på Solstrand", "DSC_", 6},
    {"Portretter/Studio januar", "IMG_", 4},
    {"Portretter/Konfirmasjon/Familien Berg", "IMG_", 5},
    {"Reiser/Lofoten 2026", "DSC_", 7},
};

constexpr QSize kImageSize{1600, 1067};

struct Palette {
    QColor skyTop, skyHorizon, sun, land;
};

constexpr Palette kPalettes[] = {
    {{38, 76, 140}, {236, 170, 120}, {255, 236, 200}, {40, 52, 60}},   // dusk
    {{70, 140, 210}, {200, 228, 245}, {255, 252, 235}, {46, 90, 62}},   // day
    {{18, 24, 58}, {84, 72, 130}, {240, 240, 255}, {14, 18, 34}},      // night
    {{250, 190, 150}, {255, 236, 196}, {255, 250, 230}, {96, 70, 84}}, // dawn
};

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Sky, a sun, ridges that fade into the haze and a lake that mirrors the sky.
QImage landscape(quint32 seed)
{
    QRandomGenerator random(seed);
    const Palette &palette = kPalettes[random.bounded(int(std::size(kPalettes)))];
    const int w = kImageSize.width();
    const int h = kImageSize.height();
    const double horizon = h * (0.55 + random.bounded(0.2));

    QImage image(kImageSize, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, palette.skyTop);
    sky.setColorAt(1, palette.skyHorizon);
    painter.fillRect(QRectF(0, 0, w, horizon), sky);
    QLinearGradient lake(0, horizon, 0, h);
    lake.setColorAt(0, palette.skyHorizon.darker(115));
    lake.setColorAt(1, palette.skyTop.darker(140));
    painter.fillRect(QRectF(0, horizon, w, h - horizon), lake);

    const QPointF sun(w * (0.15 + random.bounded(0.7)), horizon * (0.25 + random.bounded(0.45)));
    const double radius = 40 + random.bounded(50);
    QRadialGradient glow(sun, radius * 4);
    glow.setColorAt(0, palette.sun);
    glow.setColorAt(0.25, QColor(palette.sun.red(), palette.sun.green(), palette.sun.blue(), 90));
    glow.setColorAt(1, Qt::transparent);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(sun, radius * 4, radius * 4);
    painter.setBrush(palette.sun);
    painter.drawEllipse(sun, radius, radius);

    const int ridges = 3 + random.bounded(2);
    for (int ridge = 0; ridge < ridges; ++ridge) {
        const double nearness = double(ridge + 1) / ridges;
        const QColor colour = mix(palette.skyHorizon, palette.land, 0.3 + 0.7 * nearness);
        double y = horizon - h * (0.28 - 0.2 * nearness) * (0.6 + random.bounded(0.8));
        QPainterPath ridgePath(QPointF(0, horizon));
        for (int x = 0; x <= w; x += 20) {
            y += random.bounded(2 * 24.0 * (1.2 - nearness)) - 24.0 * (1.2 - nearness);
            y = std::clamp(y, horizon * 0.35, horizon - 4);
            ridgePath.lineTo(x, y);
        }
        ridgePath.lineTo(w, horizon);
        ridgePath.closeSubpath();
        painter.setBrush(colour);
        painter.drawPath(ridgePath);
        // The mirror image in the lake, darker and squashed.
        QTransform mirror;
        mirror.translate(0, horizon).scale(1, -0.5).translate(0, -horizon);
        painter.setBrush(colour.darker(130));
        painter.setOpacity(0.55);
        painter.drawPath(mirror.map(ridgePath));
        painter.setOpacity(1);
    }
    // Film grain, so the files have the size and texture of photographs rather than of flat drawings.
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int noise = int(random.bounded(17)) - 8;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + noise, 0, 255), std::clamp(qGreen(p) + noise, 0, 255),
                           std::clamp(qBlue(p) + noise, 0, 255));
        }
    }
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        err << "usage: varnostima-sample-export <folder>\n";
        return 2;
    }
    const QDir root(arguments.at(1));
    if (root.exists() && !root.isEmpty()) {
        err << "varnostima-sample-export: " << root.path() << " is not empty\n";
        return 2;
    }
    quint32 seed = 1;
    int written = 0;
    for (const GalleryFolder &gallery : kGalleries) {
        const QString folder = root.filePath(QString::fromUtf8(gallery.path));
        if (!QDir().mkpath(folder)) {
            err << "varnostima-sample-export: cannot create " << folder << '\n';
            return 1;
        }
        for (int i = 0; i < gallery.images; ++i, ++seed) {
            const QString file = QStringLiteral("%1/%2%3.jpg").arg(folder, QLatin1String(gallery.prefix)).arg(
                1000 + 7 * int(seed), 4, 10, QLatin1Char('0'));
            QImageWriter writer(file, "jpeg");
            writer.setQuality(88);
            if (!writer.write(landscape(seed))) {
                err << "varnostima-sample-export: cannot write " << file << ": " << writer.errorString() << '\n';
                return 1;
            }
            ++written;
        }
    }
    QTextStream(stdout) << written << " images in " << int(std::size(kGalleries)) << " galleries under "
                        << root.absolutePath() << '\n';
    return 0;
}
