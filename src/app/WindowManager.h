#pragma once

#include "AppContext.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <array>

// Opens the overview, settings and about windows, each at most once: asking again shows and raises the one
// that is open.
class WindowManager : public QObject
{
    Q_OBJECT
public:
    enum class Window { Overview, Settings, About };

    explicit WindowManager(const AppContext &context, QObject *parent = nullptr);
    ~WindowManager() override;

    void open(Window window);
    // The window when it has been opened and not destroyed since.
    QWidget *window(Window window) const;

private:
    QWidget *create(Window window);

    AppContext m_context;
    std::array<QPointer<QWidget>, 3> m_windows;
};
