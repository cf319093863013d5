#include "FolderStatusViews.h"

#include "ui/Spinner.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QFontInfo>
#include <QPainter>

namespace statuscapsule {

namespace {
constexpr QMargins kPadding{8, 3, 8, 3};
}

QFont font()
{
    return Theme::systemFont(11, QFont::Medium);
}

QSize size(const QString &text)
{
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text) + kPadding.left() + kPadding.right(),
            fm.height() + kPadding.top() + kPadding.bottom()};
}

void paint(QPainter &painter, const QRect &rect, const QString &text, const QColor &colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = body.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::withAlpha(colour, 0.12));
    painter.drawRoundedRect(body, radius, radius);
    painter.setFont(font());
    painter.setPen(colour);
    painter.drawText(rect.marginsRemoved(kPadding), Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.restore();
}

} // namespace statuscapsule

FolderStatusLabel::FolderStatusLabel(QWidget *parent) : CapsuleLabel({}, {}, parent)
{
    setPresentation(m_presentation);
}

void FolderStatusLabel::setFolder(const SyncFolder &folder)
{
    setPresentation(FolderStatusPresentation::of(folder));
}

void FolderStatusLabel::setPresentation(const FolderStatusPresentation &presentation)
{
    m_presentation = presentation;
    setText(presentation.text);
    setColor(presentation.color(palette()));
}

void FolderStatusLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        setColor(m_presentation.color(palette()));
    CapsuleLabel::changeEvent(event);
}

FolderStatusIcon::FolderStatusIcon(QWidget *parent) : QWidget(parent), m_spinner(new Spinner(Spinner::Size::Small, this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setPresentation(m_presentation);
}

void FolderStatusIcon::setFolder(const SyncFolder &folder)
{
    setPresentation(FolderStatusPresentation::of(folder));
}

void FolderStatusIcon::setPresentation(const FolderStatusPresentation &presentation)
{
    m_presentation = presentation;
    m_spinner->setVisible(presentation.showsSpinner());
    update();
}

bool FolderStatusIcon::isShowingSpinner() const
{
    return !m_spinner->isHidden();
}

QSize FolderStatusIcon::sizeHint() const
{
    const int side = std::max(QFontInfo(font()).pixelSize(), Spinner::diameter(Spinner::Size::Small));
    return {side, side};
}

void FolderStatusIcon::paintEvent(QPaintEvent *)
{
    if (m_presentation.showsSpinner())
        return;
    QPainter painter(this);
    const int side = std::min(width(), height());
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    Symbol::paint(&painter, square, m_presentation.symbol, m_presentation.color(palette()));
}

void FolderStatusIcon::resizeEvent(QResizeEvent *)
{
    const QSize spinner = m_spinner->sizeHint();
    m_spinner->move((width() - spinner.width()) / 2, (height() - spinner.height()) / 2);
    m_spinner->resize(spinner);
}
