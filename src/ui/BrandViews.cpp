#include "BrandViews.h"

#include "BrandMarks.h"
#include "Theme.h"

#include <QIcon>
#include <QPainter>

namespace {
const QString kProductName = QStringLiteral("varnostima");
}

VarnostimaLogo::VarnostimaLogo(QWidget *parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void VarnostimaLogo::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

QSize VarnostimaLogo::sizeHint() const
{
    return {23, 28};
}

int VarnostimaLogo::heightForWidth(int width) const
{
    return qRound(width / VarnostimaMark::aspectRatio);
}

void VarnostimaLogo::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_colour.isValid() ? m_colour : palette().color(QPalette::WindowText));
    painter.drawPath(VarnostimaMark().path(rect()));
}

VarnostimaWordmark::VarnostimaWordmark(Size size, QWidget *parent) : QWidget(parent), m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int VarnostimaWordmark::logoHeight(Size size)
{
    switch (size) {
    case Size::Small: return 18;
    case Size::Medium: return 24;
    case Size::Large: return 32;
    }
    return 24;
}

int VarnostimaWordmark::textPixelSize(Size size)
{
    switch (size) {
    case Size::Small: return 16;
    case Size::Medium: return 20;
    case Size::Large: return 26;
    }
    return 20;
}

QFont VarnostimaWordmark::textFont() const
{
    QFont f = Theme::bricolage(textPixelSize(m_size), QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
    return f;
}

void VarnostimaWordmark::setColor(const QColor &colour)
{
    m_colour = colour;
    update();
}

QSize VarnostimaWordmark::sizeHint() const
{
    const QFontMetricsF fm(textFont());
    const qreal width = logoHeight(m_size) * VarnostimaMark::aspectRatio + kSpacing + fm.horizontalAdvance(kProductName);
    return {qCeil(width), qCeil(std::max<qreal>(logoHeight(m_size), fm.height()))};
}

QRectF VarnostimaWordmark::logoRect() const
{
    const qreal h = logoHeight(m_size);
    return {0, (height() - h) / 2.0, h * VarnostimaMark::aspectRatio, h};
}

QRectF VarnostimaWordmark::textRect() const
{
    // Fractional on purpose: rounding the logo's width up would widen the 8-point gap.
    const QFontMetricsF fm(textFont());
    return {logoRect().right() + kSpacing, (height() - fm.height()) / 2, fm.horizontalAdvance(kProductName),
            fm.height()};
}

void VarnostimaWordmark::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = m_colour.isValid() ? m_colour : palette().color(QPalette::WindowText);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(VarnostimaMark().path(logoRect()));
    painter.setPen(ink);
    painter.setFont(textFont());
    painter.drawText(textRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, kProductName);
}

QIcon applicationIcon()
{
    return QIcon(QStringLiteral(":/icons/varnostima.svg"));
}
