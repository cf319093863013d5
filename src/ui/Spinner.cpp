#include "Spinner.h"

#include <QPainter>

namespace {
constexpr int kSpokes = 12;
}

Spinner::Spinner(Size size, QWidget *parent) : QWidget(parent), m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

int Spinner::diameter(Size size)
{
    switch (size) {
    case Size::Mini: return 12;
    case Size::Small: return 16;
    case Size::Large: return 32;
    }
    return 16;
}

void Spinner::setSpinnerSize(Size size)
{
    if (size == m_size)
        return;
    m_size = size;
    updateGeometry();
    update();
}

void Spinner::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

QSize Spinner::sizeHint() const
{
    const int d = diameter(m_size);
    return {d, d};
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = m_colour.isValid() ? m_colour : palette().color(QPalette::WindowText);
    const qreal d = std::min(width(), height());
    const qreal outer = d / 2.0;
    const qreal inner = outer * 0.45;
    const qreal thickness = std::max<qreal>(1.0, d / 11.0);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at m_step is the head; the ones behind it fade out.
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor c = base;
        c.setAlphaF(base.alphaF() * static_cast<float>(1.0 - 0.75 * age / (kSpokes - 1)));
        painter.setPen(QPen(c, thickness, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + thickness / 2));
        painter.restore();
    }
}

void Spinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent *event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}
