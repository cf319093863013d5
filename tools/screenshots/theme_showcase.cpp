// Renders every piece of the look and feel on one page: marks, symbols in every colour, the shared widgets and
// the text styles, in the light and the dark palette at scale 1 and 2.
// Usage: QT_QPA_PLATFORM=offscreen theme_showcase [output folder, default /tmp/theme-shots]

#include "ui/BrandMarks.h"
#include "ui/BrandViews.h"
#include "ui/Buttons.h"
#include "ui/CapsuleLabel.h"
#include "ui/Color.h"
#include "ui/ElidedLabel.h"
#include "ui/Fonts.h"
#include "ui/LineLimitedLabel.h"
#include "ui/RelativeDate.h"
#include "ui/Spinner.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "ui/UrlPaths.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

using Theme::Foreground;
using Theme::SystemColor;

QLabel *heading(const QString &text)
{
    auto *label = new QLabel(text);
    label->setFont(Theme::systemFont(11, QFont::Medium));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, Foreground::Secondary));
    label->setPalette(p);
    return label;
}

QLabel *text(const QString &content, const QFont &font, const QColor &colour = {})
{
    auto *label = new QLabel(content);
    label->setFont(font);
    if (colour.isValid()) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, colour);
        label->setPalette(p);
    }
    return label;
}

// A house mark filled in a fixed frame, as the menu bar draws it.
class HouseMarkView : public QWidget
{
public:
    explicit HouseMarkView(QSize size) { setFixedSize(size); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), Theme::foreground(palette(), Foreground::Quaternary));
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::WindowText));
        painter.drawPath(VarnostimaHouseMark().path(rect()));
    }
};

// Every symbol in every colour, one row per symbol.
class SymbolGrid : public QWidget
{
public:
    SymbolGrid(QStringList names, int side) : m_names(std::move(names)), m_side(side)
    {
        setFixedSize(kNameWidth + 9 * (side + 8), static_cast<int>(m_names.size()) * (side + 6));
    }

protected:
    static constexpr int kNameWidth = 190;

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setFont(Theme::systemFont(11));
        const QPalette pal = palette();
        const QList<QColor> colours{
            Theme::foreground(pal, Foreground::Primary),       Theme::foreground(pal, Foreground::Secondary),
            Color::brand(),                                    Theme::systemColor(SystemColor::Red, pal),
            Theme::systemColor(SystemColor::Orange, pal),      Theme::systemColor(SystemColor::Yellow, pal),
            Theme::systemColor(SystemColor::Green, pal),       Theme::systemColor(SystemColor::Blue, pal),
            Theme::systemColor(SystemColor::Purple, pal),
        };
        for (int row = 0; row < m_names.size(); ++row) {
            const int y = row * (m_side + 6);
            painter.setPen(Theme::foreground(pal, Symbol::isAvailable(m_names[row]) ? Foreground::Secondary
                                                                                     : Foreground::Tertiary));
            painter.drawText(QRect(0, y, kNameWidth - 8, m_side), Qt::AlignRight | Qt::AlignVCenter, m_names[row]);
            for (int c = 0; c < colours.size(); ++c)
                Symbol::paint(&painter, QRectF(kNameWidth + c * (m_side + 8), y, m_side, m_side), m_names[row],
                              colours[c]);
        }
    }

private:
    QStringList m_names;
    int m_side;
};

QWidget *brandSection()
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading(QStringLiteral("MERKER")));
    auto *marks = new QHBoxLayout;
    marks->setSpacing(16);
    marks->addWidget(new HouseMarkView({16, 18}));
    marks->addWidget(new HouseMarkView({32, 36}));
    for (const int h : {12, 28, 56}) {
        auto *logo = new VarnostimaLogo;
        logo->setFixedSize(qRound(h * VarnostimaMark::aspectRatio), h);
        marks->addWidget(logo);
    }
    auto *brandLogo = new VarnostimaLogo;
    brandLogo->setColor(Color::brand());
    brandLogo->setFixedSize(46, 56);
    marks->addWidget(brandLogo);
    auto *icon = new QLabel;
    icon->setPixmap(applicationIcon().pixmap(QSize(56, 56)));
    marks->addWidget(icon);
    marks->addStretch();
    layout->addLayout(marks);
    for (const auto size : {VarnostimaWordmark::Size::Small, VarnostimaWordmark::Size::Medium,
                            VarnostimaWordmark::Size::Large})
        layout->addWidget(new VarnostimaWordmark(size));
    return box;
}

QWidget *textSection()
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(heading(QStringLiteral("TEKSTSTILER")));
    const QList<std::pair<QString, Theme::TextStyle>> styles{
        {QStringLiteral("Caption 2 — Laster opp… 45%"), Theme::TextStyle::Caption2},
        {QStringLiteral("Caption — Klart — overvåker mappe"), Theme::TextStyle::Caption},
        {QStringLiteral("Subheadline — Varslinger"), Theme::TextStyle::Subheadline},
        {QStringLiteral("Callout — 12 bilder"), Theme::TextStyle::Callout},
        {QStringLiteral("Body — Ingen eksportmappe valgt"), Theme::TextStyle::Body},
        {QStringLiteral("Headline — IMG_0042.jpg"), Theme::TextStyle::Headline},
        {QStringLiteral("Title 2 — Kunne ikke laste bildet"), Theme::TextStyle::Title2},
        {QStringLiteral("Large title — Æøå"), Theme::TextStyle::LargeTitle},
    };
    for (const auto &[sample, style] : styles)
        layout->addWidget(text(sample, Theme::font(style)));
    layout->addWidget(text(QStringLiteral("DM Sans 13 — Last opp bilder rett fra skrivebordet"), Theme::dmSans(13)));
    layout->addWidget(text(QStringLiteral("DM Sans 13 kursiv — Legg ferdigredigerte bilder i undermapper"),
                           Theme::dmSans(13, QFont::Normal, true)));
    layout->addWidget(text(QStringLiteral("DM Sans 12 medium — Versjon 0.1.0 (1)"), Theme::dmSans(12, QFont::Medium)));
    layout->addWidget(text(QStringLiteral("Ingen mapper ennå"), Theme::bricolage(20)));
    auto *levels = new QHBoxLayout;
    for (const auto level : {Foreground::Primary, Foreground::Secondary, Foreground::Tertiary, Foreground::Quaternary}) {
        auto *label = new ElidedLabel(QStringLiteral("Forgrunn %1").arg(static_cast<int>(level) + 1), Qt::ElideRight);
        label->setFont(Theme::systemFont(12, QFont::Medium));
        label->setForeground(level);
        levels->addWidget(label);
    }
    layout->addLayout(levels);
    const QDateTime now = QDateTime::currentDateTime();
    layout->addWidget(text(QStringLiteral("12 bilder · ") + relativeAge(now.addSecs(-12 * 60), now) + QStringLiteral(
                                                                                                       "   ·   ") +
                               appendPath(QUrl(QStringLiteral("https://varnostima.no/app/")), QStringLiteral("/gallery/"),
                                          QStringLiteral("a/b c"))
                                   .toString(),
                           Theme::systemFont(10), Theme::foreground(box->palette(), Foreground::Secondary)));
    return box;
}

QWidget *widgetSection()
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(heading(QStringLiteral("KOMPONENTER")));

    auto *spinners = new QHBoxLayout;
    spinners->setSpacing(12);
    for (const auto size : {Spinner::Size::Mini, Spinner::Size::Small, Spinner::Size::Large})
        spinners->addWidget(new Spinner(size));
    auto *white = new Spinner(Spinner::Size::Large);
    white->setColor(Color::brand());
    spinners->addWidget(white);
    spinners->addWidget(text(QStringLiteral("Sjekker server…"), Theme::font(Theme::TextStyle::Caption),
                             Theme::foreground(box->palette(), Foreground::Secondary)));
    spinners->addStretch();
    layout->addLayout(spinners);

    auto *twoLines = new LineLimitedLabel(QStringLiteral(
        "Kunne ikke synkronisere — prøv igjen om litt. Tjenesten svarte ikke innen tidsfristen, og tre mapper "
        "venter fortsatt på opplasting til galleriet."));
    twoLines->setFont(Theme::font(Theme::TextStyle::Caption));
    twoLines->setFixedWidth(260);
    twoLines->setFixedHeight(twoLines->heightForWidth(260));
    layout->addWidget(twoLines);

    auto *path = new PathLabel(QStringLiteral("/home/fotograf/Bilder/Eksport/2024/Bryllup/Kari og Ola — utvalg"));
    path->setFont(Theme::font(Theme::TextStyle::Body));
    path->setForeground(Foreground::Secondary);
    path->setFixedWidth(260);
    layout->addWidget(path);

    auto *plainRow = new QHBoxLayout;
    for (const QString &label : {QStringLiteral("Logg ut"), QStringLiteral("Innstillinger"), QStringLiteral("Avslutt")}) {
        auto *button = new PlainButton(label);
        button->setFont(Theme::font(Theme::TextStyle::Caption));
        button->setForeground(Foreground::Secondary);
        plainRow->addWidget(button);
    }
    auto *link = new PlainButton(QStringLiteral("Nettside"));
    link->setFont(Theme::dmSans(12, QFont::Medium));
    link->setSymbol(QStringLiteral("arrow.up.right"));
    link->setSymbolSize(10);
    link->setColor(Color::brand());
    plainRow->addWidget(link);
    for (const auto &[label, symbol] : {std::pair{QStringLiteral("Filbehandler"), QStringLiteral("folder")},
                                        std::pair{QStringLiteral("Kopier"), QStringLiteral("link")},
                                        std::pair{QStringLiteral("Ignorer"), QStringLiteral("eye.slash")}}) {
        auto *compact = new PlainButton(label);
        compact->setFont(Theme::systemFont(9, QFont::Medium));
        compact->setSymbol(symbol);
        compact->setSymbolSize(14);
        compact->setStacked(true);
        compact->setSpacing(2);
        compact->setForeground(Foreground::Secondary);
        compact->setMinimumSize(56, 36);
        plainRow->addWidget(compact);
    }
    plainRow->addStretch();
    layout->addLayout(plainRow);

    auto *prominentRow = new QHBoxLayout;
    auto *login = new ProminentButton(QStringLiteral("Logg inn med Google"));
    login->setControlSize(ProminentButton::ControlSize::Large);
    prominentRow->addWidget(login);
    auto *retry = new ProminentButton(QStringLiteral("Prøv igjen"));
    retry->setSymbol(QStringLiteral("arrow.clockwise"));
    prominentRow->addWidget(retry);
    auto *remove = new ProminentButton(QStringLiteral("Slett fra server"));
    remove->setTint(Theme::systemColor(SystemColor::Red, box->palette()));
    remove->setSymbol(QStringLiteral("trash"));
    prominentRow->addWidget(remove);
    auto *disabled = new ProminentButton(QStringLiteral("Velg eksportmappe…"));
    disabled->setEnabled(false);
    prominentRow->addWidget(disabled);
    prominentRow->addStretch();
    layout->addLayout(prominentRow);

    auto *capsules = new QHBoxLayout;
    const QPalette pal = box->palette();
    const QList<std::pair<QString, QColor>> statuses{
        {QStringLiteral("Synkronisert"), Theme::systemColor(SystemColor::Green, pal)},
        {QStringLiteral("Laster opp 45%"), Theme::systemColor(SystemColor::Orange, pal)},
        {QStringLiteral("+3 / \u22122"), Theme::systemColor(SystemColor::Orange, pal)},
        {QStringLiteral("Flyttet"), Theme::systemColor(SystemColor::Purple, pal)},
        {QStringLiteral("Feilet"), Theme::systemColor(SystemColor::Red, pal)},
        {QStringLiteral("Ikke synkronisert"), Theme::systemColor(SystemColor::Blue, pal)},
        {QStringLiteral("Ignorert"), Theme::foreground(pal, Foreground::Secondary)},
    };
    for (const auto &[label, colour] : statuses)
        capsules->addWidget(new CapsuleLabel(label, colour));
    auto *version = new CapsuleLabel(QStringLiteral("Versjon 0.1.0 (1)"));
    version->setFont(Theme::dmSans(11, QFont::Medium));
    version->setPadding({12, 4, 12, 4});
    version->setFill(Theme::foreground(pal, Foreground::Quaternary));
    capsules->addWidget(version);
    capsules->addStretch();
    layout->addLayout(capsules);
    return box;
}

QWidget *buildPage()
{
    auto *page = new QWidget;
    page->setAutoFillBackground(true);
    auto *columns = new QHBoxLayout(page);
    columns->setContentsMargins(20, 20, 20, 20);
    columns->setSpacing(28);

    auto *left = new QVBoxLayout;
    left->setSpacing(20);
    left->addWidget(brandSection());
    left->addWidget(textSection());
    left->addWidget(widgetSection());
    left->addStretch();
    columns->addLayout(left);

    const QStringList names = Symbol::names();
    const auto half = (names.size() + 1) / 2;
    auto *symbols = new QVBoxLayout;
    symbols->setSpacing(8);
    symbols->addWidget(heading(QStringLiteral("SYMBOLER")));
    auto *grids = new QHBoxLayout;
    grids->addWidget(new SymbolGrid(names.mid(0, half), 16), 0, Qt::AlignTop);
    grids->addWidget(new SymbolGrid(names.mid(half), 16), 0, Qt::AlignTop);
    symbols->addLayout(grids);
    symbols->addStretch();
    columns->addLayout(symbols);
    return page;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/theme-shots");
    QDir().mkpath(out);

    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        std::unique_ptr<QWidget> page(buildPage());
        page->adjustSize();
        page->show(); // spinners draw their first frame only once shown
        for (const int scale : {1, 2}) {
            QImage image(page->size() * scale, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(scale);
            image.fill(Qt::transparent);
            page->render(&image);
            const QString name = QStringLiteral("%1/showcase-%2@%3x.png")
                                     .arg(out, appearance == Theme::Appearance::Light ? QStringLiteral("light")
                                                                                      : QStringLiteral("dark"))
                                     .arg(scale);
            if (!image.save(name))
                return 1;
            std::printf("%s\n", qPrintable(name));
        }
    }
    return 0;
}
