#pragma once

#include <QColor>

namespace Color {

// The brand colour (sRGB 0.0, 0.784, 0.588): tints highlights, prominent buttons and links.
const QColor &brand();

} // namespace Color
