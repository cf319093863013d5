#include "ReconcileLoadingView.h"

#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QConicalGradient>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace {

using Theme::Foreground;

// The pulsing ring and the spinning arc around the folder symbol; moves only while shown.
class LoadingRing : public QWidget
{
public:
    explicit LoadingRing(QWidget *parent) : QWidget(parent)
    {
        setFixedSize(72, 72);
        m_frame.setInterval(16);
        connect(&m_frame, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    }

protected:
    void showEvent(QShowEvent *) override
    {
        m_clock.start();
        m_frame.start();
    }
    void hideEvent(QHideEvent *) override { m_frame.stop(); }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre = QRectF(rect()).center();
        const qreal seconds = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0;

        // Swells by 15 % while fading from half to nothing, every 1.6 s.
        const qreal pulse = std::fmod(seconds, 1.6) / 1.6;
        const qreal eased = 0.5 - 0.5 * std::cos(pulse * M_PI);
        QColor ring = Theme::foreground(palette(), Foreground::Quaternary);
        ring.setAlphaF(static_cast<float>(ring.alphaF() * 0.5 * (1 - eased)));
        painter.setPen(QPen(ring, 2));
        const qreal radius = 27 * (1 + 0.15 * eased);
        painter.drawEllipse(centre, radius, radius);

        // A third of a circle with its bright head leading, once round a second.
        const qreal angle = std::fmod(seconds, 1.0) * 360;
        const QColor accent = palette().color(QPalette::Highlight);
        QConicalGradient gradient(centre, -angle);
        QColor clear = accent;
        clear.setAlphaF(0);
        gradient.setColorAt(0, accent);
        gradient.setColorAt(0.3, clear);
        gradient.setColorAt(1, clear);
        QPen arc(QBrush(gradient), 2.5);
        arc.setCapStyle(Qt::RoundCap);
        painter.setPen(arc);
        const QRectF circle(centre.x() - 21, centre.y() - 21, 42, 42);
        // Clockwise turn: the head leads, the tail trails counter-clockwise behind it.
        painter.drawArc(circle, static_cast<int>(-angle * 16), static_cast<int>(0.3 * 360 * 16));

        Symbol::paint(&painter, QRectF(centre.x() - 9, centre.y() - 9, 18, 18), QStringLiteral("folder.fill"),
                      Theme::foreground(palette(), Foreground::Secondary));
    }

private:
    QTimer m_frame;
    QElapsedTimer m_clock;
};

QLabel *text(const QFont &font, Foreground level, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setFont(font);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, level));
    label->setPalette(p);
    return label;
}

} // namespace

ReconcileLoadingView::ReconcileLoadingView(std::chrono::milliseconds dotInterval, QWidget *parent)
    : QWidget(parent), m_ring(new LoadingRing(this))
{
    m_dots.setInterval(dotInterval);
    connect(&m_dots, &QTimer::timeout, this, &ReconcileLoadingView::advanceDots);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(20);
    layout->addStretch(1);
    layout->addWidget(m_ring, 0, Qt::AlignHCenter);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    m_title = text(Theme::systemFont(13, QFont::Medium), Foreground::Primary, this);
    // Wide enough for three dots, aligned to the leading edge: the words stay put while dots come and go.
    m_title->setFixedWidth(std::max(140, QFontMetrics(m_title->font()).horizontalAdvance(
                                             QStringLiteral("Sjekker mapper...")) + 4));
    texts->addWidget(m_title, 0, Qt::AlignHCenter);
    m_count = text(Theme::systemFont(11), Foreground::Tertiary, this);
    texts->addWidget(m_count, 0, Qt::AlignHCenter);
    layout->addLayout(texts);
    layout->addStretch(1);
    m_title->setText(titleText());
    setFolderCount(0);
}

void ReconcileLoadingView::setFolderCount(qint64 count)
{
    m_folderCount = count;
    m_count->setText(countText());
    // Keeps its room while hidden, so the title does not jump when the line comes.
    QSizePolicy policy = m_count->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_count->setSizePolicy(policy);
    m_count->setVisible(count >= 1);
}

QString ReconcileLoadingView::titleText() const
{
    return QStringLiteral("Sjekker mapper") + QString(m_dotCount, QLatin1Char('.'));
}

QString ReconcileLoadingView::countText() const
{
    return m_folderCount >= 1 ? QStringLiteral("Fant %1 mapper — sjekker status").arg(m_folderCount) : QString();
}

void ReconcileLoadingView::advanceDots()
{
    m_dotCount = m_dotCount % 3 + 1;
    m_title->setText(titleText());
}

void ReconcileLoadingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_dotCount = 0;
    m_title->setText(titleText());
    m_dots.start();
}

void ReconcileLoadingView::hideEvent(QHideEvent *event)
{
    m_dots.stop();
    QWidget::hideEvent(event);
}
