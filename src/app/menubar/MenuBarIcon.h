#pragma once

#include <QIcon>
#include <QImage>
#include <QPalette>

// The tray image: the house mark in a 16 x 18 frame, black on a light panel palette and white on a dark one (Linux
// trays do not tint images). Rendered once per process on first use, at the primary screen's scale (2 without a
// screen); the house symbol, then an empty icon, stand in when rendering fails.
namespace MenuBarIcon {

QIcon icon(const QPalette &palette);

// The drawing itself, for any colour and scale; a null image when it cannot be drawn.
QImage render(const QColor &colour, qreal scale);

} // namespace MenuBarIcon
