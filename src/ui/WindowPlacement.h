#pragma once

class QWidget;

// For a window about to be shown: a new one goes centred on the screen under the pointer, one shown before stays
// where it was; either way all of it, title bar included, lies within the screen's available area, and a window
// that may be resized is cut down to that area. Window managers that place windows themselves (under the pointer,
// say) do not keep them on the screen.
void placeWithinScreen(QWidget *window);
