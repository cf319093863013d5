#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QApplication;
class QWidget;

// The one place that knows sizes, colours and text styles. Sizes are logical pixels: the design's points map one
// to one onto device-independent pixels, so fonts are set with pixel sizes, never point sizes.
namespace Theme {

enum class TextStyle {
    Caption2,   // 10
    Caption,    // 10
    Subheadline, // 11
    Callout,    // 12
    Body,       // 13
    Headline,   // 13 semibold
    Title2,     // 17
    LargeTitle, // 26
};

int pixelSize(TextStyle style);
QFont::Weight weight(TextStyle style);

// The platform's UI font in a text style, or at a size and weight.
QFont font(TextStyle style);
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The bundled families; when they were not registered Qt falls back to the UI font at the same size and weight.
QFont dmSans(int pixelSize, QFont::Weight weight = QFont::Normal, bool italic = false);
QFont bricolage(int pixelSize, QFont::Weight weight = QFont::Bold);

// Hierarchical foreground: the window text at full strength, 55 %, 33 % and 18 %.
enum class Foreground { Primary, Secondary, Tertiary, Quaternary };
QColor foreground(const QPalette &palette, Foreground level);

enum class SystemColor { Red, Orange, Yellow, Green, Blue, Purple, Gray };
// The named colour, in its light or dark variant to match the palette.
QColor systemColor(SystemColor colour, const QPalette &palette);
QColor withAlpha(QColor colour, qreal alpha);

// Fills the widget with the palette's Base colour (the colour of content areas such as the inspector column) by
// making it the Window colour of the widget and its children. A background role of Base would instead hand the
// children the Text role, and every caption set in a secondary WindowText would draw in the primary Text colour.
void useBaseBackground(QWidget &widget);

enum class Appearance { Light, Dark };
bool isDark(const QPalette &palette);
QPalette palette(Appearance appearance);
// Light or dark, as the desktop's own palette is at start-up.
Appearance systemAppearance();
// The Fusion style with our palette: every window then looks the same on any desktop, tinted with the brand colour.
void apply(QApplication &app, Appearance appearance);

} // namespace Theme
