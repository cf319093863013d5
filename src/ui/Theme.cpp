#include "Theme.h"

#include "Color.h"
#include "Fonts.h"

#include <QApplication>
#include <QGuiApplication>
#include <QStyleFactory>
#include <QWidget>

#include <array>

namespace Theme {

namespace {

struct StyleMetrics {
    int pixelSize;
    QFont::Weight weight;
};

StyleMetrics metricsOf(TextStyle style)
{
    switch (style) {
    case TextStyle::Caption2: return {10, QFont::Normal};
    case TextStyle::Caption: return {10, QFont::Normal};
    case TextStyle::Subheadline: return {11, QFont::Normal};
    case TextStyle::Callout: return {12, QFont::Normal};
    case TextStyle::Body: return {13, QFont::Normal};
    case TextStyle::Headline: return {13, QFont::DemiBold};
    case TextStyle::Title2: return {17, QFont::Normal};
    case TextStyle::LargeTitle: return {26, QFont::Normal};
    }
    return {13, QFont::Normal};
}

struct NamedColour {
    QRgb light;
    QRgb dark;
};

constexpr std::array<NamedColour, 7> kSystemColours{{
    {0xFFFF3B30, 0xFFFF453A}, // red
    {0xFFFF9500, 0xFFFF9F0A}, // orange
    {0xFFFFCC00, 0xFFFFD60A}, // yellow
    {0xFF28CD41, 0xFF32D74B}, // green
    {0xFF007AFF, 0xFF0A84FF}, // blue
    {0xFFAF52DE, 0xFFBF5AF2}, // purple
    {0xFF8E8E93, 0xFF98989D}, // gray
}};

} // namespace

int pixelSize(TextStyle style)
{
    return metricsOf(style).pixelSize;
}

QFont::Weight weight(TextStyle style)
{
    return metricsOf(style).weight;
}

QFont font(TextStyle style)
{
    const StyleMetrics s = metricsOf(style);
    return systemFont(s.pixelSize, s.weight);
}

QFont systemFont(int pixelSize, QFont::Weight weight)
{
    QFont f = QGuiApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QFont dmSans(int pixelSize, QFont::Weight weight, bool italic)
{
    QFont f = systemFont(pixelSize, weight);
    f.setFamilies({QString::fromLatin1(kFamilyDMSans), QGuiApplication::font().family()});
    f.setItalic(italic);
    return f;
}

QFont bricolage(int pixelSize, QFont::Weight weight)
{
    QFont f = systemFont(pixelSize, weight);
    f.setFamilies({QString::fromLatin1(kFamilyBricolage), QGuiApplication::font().family()});
    return f;
}

QColor foreground(const QPalette &palette, Foreground level)
{
    static constexpr std::array<qreal, 4> kAlpha{1.0, 0.55, 0.33, 0.18};
    return withAlpha(palette.color(QPalette::WindowText), kAlpha[static_cast<size_t>(level)]);
}

QColor systemColor(SystemColor colour, const QPalette &palette)
{
    const NamedColour &named = kSystemColours[static_cast<size_t>(colour)];
    return QColor::fromRgba(isDark(palette) ? named.dark : named.light);
}

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(static_cast<float>(colour.alphaF() * alpha));
    return colour;
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QPalette palette(Appearance appearance)
{
    const bool dark = appearance == Appearance::Dark;
    const QColor window = dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(0xEC, 0xEC, 0xEC);
    const QColor base = dark ? QColor(0x28, 0x28, 0x28) : QColor(0xFF, 0xFF, 0xFF);
    const QColor text = dark ? QColor(0xF2, 0xF2, 0xF4) : QColor(0x1D, 0x1D, 0x1F);
    const QColor button = dark ? QColor(0x3A, 0x3A, 0x3C) : QColor(0xFB, 0xFB, 0xFB);

    QPalette p(window);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, dark ? QColor(0x2E, 0x2E, 0x30) : QColor(0xF4, 0xF4, 0xF6));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::ToolTipBase, dark ? QColor(0x32, 0x32, 0x34) : QColor(0xFF, 0xFF, 0xFF));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, foreground(p, Foreground::Tertiary));
    p.setColor(QPalette::Highlight, Color::brand());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, dark ? Color::brand().lighter(115) : Color::brand().darker(125));
    p.setColor(QPalette::LinkVisited, p.color(QPalette::Link));
    p.setColor(QPalette::Light, dark ? QColor(0x4A, 0x4A, 0x4C) : QColor(0xFF, 0xFF, 0xFF));
    p.setColor(QPalette::Midlight, dark ? QColor(0x40, 0x40, 0x42) : QColor(0xE0, 0xE0, 0xE2));
    p.setColor(QPalette::Mid, dark ? QColor(0x2A, 0x2A, 0x2C) : QColor(0xC4, 0xC4, 0xC6));
    p.setColor(QPalette::Dark, dark ? QColor(0x14, 0x14, 0x14) : QColor(0xA0, 0xA0, 0xA2));
    p.setColor(QPalette::Shadow, QColor(0, 0, 0, dark ? 160 : 90));

    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, foreground(p, Foreground::Tertiary));
    }
    p.setColor(QPalette::Disabled, QPalette::Highlight, withAlpha(Color::brand(), 0.4));
    return p;
}

void useBaseBackground(QWidget &widget)
{
    QPalette p = widget.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::Window, p.color(group, QPalette::Base));
    widget.setPalette(p);
    widget.setBackgroundRole(QPalette::Window);
    widget.setAutoFillBackground(true);
}

Appearance systemAppearance()
{
    return isDark(QGuiApplication::palette()) ? Appearance::Dark : Appearance::Light;
}

void apply(QApplication &app, Appearance appearance)
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    app.setPalette(palette(appearance));
}

} // namespace Theme
