#pragma once

class QKeyEvent;
class QWidget;

// Ctrl+W closes the window, as desktop users expect of any window. A window of its own (a dialog) keeps its own.
void closeWithCtrlW(QWidget *window);

// For a window's keyPressEvent: an Escape that no widget inside took (a menu, a field) closes the window.
// Returns whether it did.
bool closeOnUnhandledEscape(QWidget *window, QKeyEvent *event);
