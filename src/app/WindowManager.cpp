#include "WindowManager.h"

#include "app/settings/AboutWindow.h"
#include "app/settings/SettingsWindow.h"
#include "app/theme/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

// Stands in for a window whose content is still to come.
QWidget *placeholderWindow(const QString &title, QSize size)
{
    auto *window = new QWidget;
    window->setWindowTitle(title);
    auto *layout = new QVBoxLayout(window);
    auto *label = new QLabel(QStringLiteral("Kommer snart"), window);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(Theme::font(Theme::TextStyle::Body));
    layout->addWidget(label);
    window->resize(size);
    return window;
}

QWidget *createOverviewWindow(const AppContext &)
{
    return placeholderWindow(QStringLiteral("Varnostima"), QSize(920, 560));
}

QWidget *createSettingsWindow(const AppContext &context)
{
    return new SettingsWindow(context);
}

QWidget *createAboutWindow(const AppContext &context)
{
    return new AboutWindow(context);
}

} // namespace

WindowManager::WindowManager(const AppContext &context, QObject *parent) : QObject(parent), m_context(context) {}

WindowManager::~WindowManager()
{
    for (const QPointer<QWidget> &window : m_windows)
        delete window.data();
}

QWidget *WindowManager::create(Window window) const
{
    switch (window) {
    case Window::Overview:
        return createOverviewWindow(m_context);
    case Window::Settings:
        return createSettingsWindow(m_context);
    case Window::About:
        return createAboutWindow(m_context);
    }
    return nullptr;
}

QWidget *WindowManager::window(Window window) const
{
    return m_windows[static_cast<size_t>(window)].data();
}

void WindowManager::open(Window which)
{
    QPointer<QWidget> &slot = m_windows[static_cast<size_t>(which)];
    if (!slot)
        slot = create(which);
    slot->show();
    slot->raise();
    slot->activateWindow();
}
