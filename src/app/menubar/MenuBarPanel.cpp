#include "MenuBarPanel.h"

#include "MenuBarView.h"
#include "ui/Theme.h"
#include "ui/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace {
constexpr int kGap = 4;
constexpr int kScreenMargin = 8;
constexpr qint64 kDismissGraceMs = 300;
} // namespace

MenuBarPanel::MenuBarPanel(MenuBarView *content, Mode mode, QWidget *parent)
    : QWidget(parent), m_content(content), m_mode(mode)
{
    if (m_mode == Mode::Popup) {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    } else {
        setWindowFlags(Qt::Window);
    }
    setWindowTitle(QStringLiteral("Varnostima"));
    // The panel takes the focus itself: no button should open with a focus ring.
    setFocusPolicy(Qt::StrongFocus);
    auto *layout = new QVBoxLayout(this);
    const int border = m_mode == Mode::Popup ? 1 : 0;
    layout->setContentsMargins(border, border, border, border);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    content->setParent(this);
    layout->addWidget(content);

    // Signing in or out hides the button just pressed, and Qt hands the focus to the next button, which then shows
    // a focus ring nobody asked for: the panel takes the focus back instead.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (old && now && isAncestorOf(old) && isAncestorOf(now) && !old->isVisibleTo(this))
            setFocus(Qt::OtherFocusReason);
    });
}

QPoint MenuBarPanel::placement(const QRect &iconGeometry, const QSize &size, const QRect &available)
{
    const int minX = available.left() + kScreenMargin;
    const int maxX = std::max(minX, available.right() + 1 - kScreenMargin - size.width());
    if (!iconGeometry.isValid() || iconGeometry.isEmpty())
        return {maxX, available.top() + kScreenMargin};
    const int x = std::clamp(iconGeometry.center().x() - size.width() / 2, minX, maxX);
    const bool iconInUpperHalf = iconGeometry.center().y() < available.center().y();
    const int y = iconInUpperHalf ? iconGeometry.bottom() + 1 + kGap : iconGeometry.top() - kGap - size.height();
    // Right by the icon, but never over the panel that holds it.
    return {x, std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()))};
}

void MenuBarPanel::showNear(const QRect &iconGeometry)
{
    m_content->catchUp();
    adjustSize();
    if (m_mode == Mode::Popup) {
        const QScreen *screen = iconGeometry.isValid() ? QGuiApplication::screenAt(iconGeometry.center()) : nullptr;
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen)
            move(placement(iconGeometry, size(), screen->availableGeometry()));
    } else if (!isVisible()) {
        placeWithinScreen(this);
    }
    show();
    raise();
    activateWindow();
}

bool MenuBarPanel::wasJustDismissed() const
{
    return m_dismissed.isValid() && m_dismissed.elapsed() < kDismissGraceMs;
}

void MenuBarPanel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && m_mode == Mode::Popup && isVisible() && !isActiveWindow()) {
        m_dismissed.start();
        hide();
    }
    QWidget::changeEvent(event);
}

void MenuBarPanel::keyPressEvent(QKeyEvent *event)
{
    // Like any popup: Escape puts it away. The window form stays, as the app's only way in without a tray.
    if (m_mode == Mode::Popup && event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MenuBarPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}

void MenuBarPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (m_mode == Mode::Popup) {
        painter.setPen(Theme::foreground(palette(), Theme::Foreground::Quaternary));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
