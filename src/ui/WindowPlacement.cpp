#include "WindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace {

int keptWithin(int start, int length, int areaStart, int areaLength)
{
    return std::max(areaStart, std::min(start, areaStart + areaLength - length));
}

// The decoration around the window: known once it has been shown, the style's title bar until then.
QMargins frameMargins(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                frame.bottom() - inner.bottom()};
    const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    return {border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window), border, border};
}

const QScreen *screenFor(const QWidget *window, bool placedBefore)
{
    const QScreen *screen = placedBefore ? window->screen() : QGuiApplication::screenAt(QCursor::pos());
    return screen ? screen : QGuiApplication::primaryScreen();
}

// The frame moved the least distance that puts all of it on `available`; one larger than the area keeps its
// top-left corner on it, so the title bar stays within reach.
QRect keptWithin(const QRect &frame, const QRect &available)
{
    return {keptWithin(frame.x(), frame.width(), available.x(), available.width()),
            keptWithin(frame.y(), frame.height(), available.y(), available.height()), frame.width(), frame.height()};
}

} // namespace

void placeWithinScreen(QWidget *window)
{
    // Placed here before: it keeps its place (where the user may have dragged it) as far as the screen allows.
    const bool placedBefore = window->testAttribute(Qt::WA_Moved);
    const QScreen *screen = screenFor(window, placedBefore);
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QMargins margins = frameMargins(window);

    const QSize room = available.marginsRemoved(margins).size();
    const QSize size = window->size().boundedTo(room).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);

    // A window's position is its frame's.
    QRect frame(window->pos(), size.grownBy(margins));
    if (!placedBefore)
        frame.moveCenter(available.center());
    window->move(keptWithin(frame, available).topLeft());
}
