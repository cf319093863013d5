#include "WindowKeys.h"

#include <QKeyEvent>
#include <QShortcut>
#include <QWidget>

void closeWithCtrlW(QWidget *window)
{
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
}

bool closeOnUnhandledEscape(QWidget *window, QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier)
        return false;
    event->accept();
    window->close();
    return true;
}
