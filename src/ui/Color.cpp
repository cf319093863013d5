#include "Color.h"

namespace Color {

const QColor &brand()
{
    static const QColor colour = QColor::fromRgbF(0.0F, 0.784F, 0.588F, 1.0F);
    return colour;
}

} // namespace Color
