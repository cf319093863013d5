#include "DetailSection.h"

#include "ui/ElidedLabel.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The primary foreground at 4 %, rounded 8 px.
class SectionPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withAlpha(Theme::foreground(palette(), Theme::Foreground::Primary), 0.04));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

class SymbolLabel : public QWidget
{
public:
    SymbolLabel(QString name, int side, QWidget *parent) : QWidget(parent), m_name(std::move(name))
    {
        setFixedSize(side, side);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        Symbol::paint(&painter, QRectF(rect()), m_name, Theme::foreground(palette(), Theme::Foreground::Secondary));
    }

private:
    QString m_name;
};

} // namespace

DetailSection::DetailSection(const QString &title, const QString &symbol, QWidget *parent)
    : QWidget(parent), m_panel(new SectionPanel(this)), m_content(new QVBoxLayout(m_panel))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 0, 16, 0);
    outer->setSpacing(0);

    if (!title.isEmpty()) {
        m_header = new QWidget(this);
        auto *row = new QHBoxLayout(m_header);
        row->setContentsMargins(12, 0, 12, 6);
        row->setSpacing(4);
        const QFont font = Theme::systemFont(11, QFont::Medium);
        if (!symbol.isEmpty())
            row->addWidget(new SymbolLabel(symbol, QFontMetrics(font).ascent(), m_header));
        // Shown in upper case; the stored title keeps its own case.
        m_title = new ElidedLabel(QLocale(QLocale::NorwegianBokmal).toUpper(title), Qt::ElideRight, m_header);
        m_title->setFont(font);
        m_title->setForeground(Theme::Foreground::Secondary);
        row->addWidget(m_title);
        row->addStretch(1);
        outer->addWidget(m_header);
    }

    m_content->setContentsMargins(10, 8, 10, 8);
    m_content->setSpacing(8);
    m_content->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addWidget(m_panel);
}

QString DetailSection::displayedTitle() const
{
    return m_title ? m_title->text() : QString();
}
