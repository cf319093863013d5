#include "AboutWindow.h"

#include "BuildNumber.h"

#include "app/CheckForUpdatesViewModel.h"
#include "ui/BrandViews.h"
#include "ui/CapsuleLabel.h"
#include "ui/Color.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "ui/WindowKeys.h"
#include "platform/Updater.h"
#include "platform/UserDesktop.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

using Theme::Foreground;

namespace {

constexpr int kLinkSpacing = 6;
constexpr int kArrowSize = 10;

std::optional<QString> buildValue(const char *value)
{
    const QString text = QString::fromUtf8(value).trimmed();
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

QLabel *textLabel(const QString &text, const QFont &font, Foreground level, const QPalette &palette)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter);
    QPalette p = palette;
    p.setColor(QPalette::WindowText, Theme::foreground(palette, level));
    label->setPalette(p);
    return label;
}

// A hairline across the stack, inset on both sides.
class Divider : public QWidget
{
public:
    Divider() { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Theme::withAlpha(palette().color(QPalette::WindowText), 0.12));
    }
};

} // namespace

AboutInfo AboutInfo::fromBuild()
{
    AboutInfo info;
    info.shortVersion = buildValue(VARNOSTIMA_VERSION);
    info.build = buildValue(VARNOSTIMA_BUILD_NUMBER);
    info.copyright = QString::fromUtf8(VARNOSTIMA_COPYRIGHT);
    info.homePage = QUrl(QString::fromUtf8(VARNOSTIMA_HOME_PAGE));
    info.feedbackMail = QString::fromUtf8(VARNOSTIMA_FEEDBACK_MAIL);
    return info;
}

// ---- the link row

AboutLink::AboutLink(const QString &title, std::optional<QString> url, std::function<void()> action, Opener opener,
                     QWidget *parent)
    : QAbstractButton(parent), m_url(std::move(url)), m_action(std::move(action)), m_opener(std::move(opener))
{
    setText(title);
    setFont(Theme::dmSans(12, QFont::Medium));
    // Qt keeps a cursor per widget: entering shows the hand, leaving gives back whatever was there.
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::clicked, this, &AboutLink::open);
}

void AboutLink::open()
{
    if (m_action) {
        m_action();
        return;
    }
    if (!m_url)
        return;
    const QUrl url(*m_url, QUrl::StrictMode);
    if (url.isValid() && !url.isRelative() && m_opener)
        m_opener(url);
}

QSize AboutLink::sizeHint() const
{
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()) + kLinkSpacing + kArrowSize + 2, std::max(fm.height(), kArrowSize) + 4};
}

void AboutLink::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colour = Color::brand();
    if (isDown())
        colour = Theme::withAlpha(colour, 0.6);
    const QFontMetrics fm(font());
    const int textWidth = fm.horizontalAdvance(text());
    const int x = (width() - (textWidth + kLinkSpacing + kArrowSize)) / 2;
    painter.setFont(font());
    painter.setPen(colour);
    painter.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    const QRectF arrow(x + textWidth + kLinkSpacing, (height() - kArrowSize) / 2.0, kArrowSize, kArrowSize);
    Symbol::paint(&painter, arrow, QStringLiteral("arrow.up.right"), colour);
    // Only a keyboard user needs to see where focus is.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setPen(QPen(Theme::withAlpha(colour, 0.5), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
}

// ---- the window

AboutWindow::AboutWindow(const AppContext &context, QWidget *parent)
    : AboutWindow(context, AboutInfo::fromBuild(), {}, parent)
{
}

AboutWindow::AboutWindow(const AppContext &context, const AboutInfo &info, AboutLink::Opener opener,
                         QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    closeWithCtrlW(this);
    setWindowTitle(QStringLiteral("Om Varnostima"));
    setFixedSize(kSize);
    if (!opener)
        opener = &AboutWindow::openWithDesktop;

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(32, 28, 32, 28);
    stack->setSpacing(20);

    stack->addWidget(new VarnostimaWordmark(VarnostimaWordmark::Size::Large), 0, Qt::AlignHCenter);
    stack->addWidget(textLabel(QStringLiteral("Last opp bilder rett fra skrivebordet"), Theme::dmSans(12),
                               Foreground::Secondary, palette()),
                     0, Qt::AlignHCenter);

    auto *version = new CapsuleLabel(versionText(info.shortVersion, info.build));
    version->setObjectName(QStringLiteral("version"));
    version->setFont(Theme::dmSans(11, QFont::Medium));
    version->setColor(Theme::foreground(palette(), Foreground::Secondary));
    version->setFill(Theme::foreground(palette(), Foreground::Quaternary));
    version->setPadding(QMargins(12, 4, 12, 4));
    stack->addWidget(version, 0, Qt::AlignHCenter);

    auto *divider = new QHBoxLayout;
    divider->setContentsMargins(40, 0, 40, 0);
    divider->addWidget(new Divider);
    stack->addLayout(divider);

    auto *links = new QVBoxLayout;
    links->setSpacing(8);
    links->addWidget(new AboutLink(homePageTitle(info.homePage), info.homePage.toString(), {}, opener), 0,
                     Qt::AlignHCenter);
    const QString mail = QStringLiteral("mailto:") + info.feedbackMail;
    links->addWidget(new AboutLink(QStringLiteral("Send tilbakemelding"), mail, {}, opener), 0, Qt::AlignHCenter);
    // The about window asks the updater directly, whether or not the menu command is enabled.
    QPointer<Updater> updater = context.updates ? context.updates->updater() : nullptr;
    links->addWidget(new AboutLink(QStringLiteral("Sjekk etter oppdateringer"), std::nullopt,
                                   [updater] {
                                       if (updater)
                                           updater->checkForUpdates();
                                   },
                                   opener),
                     0, Qt::AlignHCenter);
    stack->addLayout(links);

    stack->addStretch(1);
    auto *copyright = textLabel(info.copyright, Theme::dmSans(10), Foreground::Tertiary, palette());
    copyright->setObjectName(QStringLiteral("copyright"));
    stack->addWidget(copyright, 0, Qt::AlignHCenter);
}

QString AboutWindow::versionText(const std::optional<QString> &shortVersion, const std::optional<QString> &build)
{
    const auto shown = [](const std::optional<QString> &value) {
        return value && !value->isEmpty() ? *value : QStringLiteral("?");
    };
    return QStringLiteral("Versjon ") + shown(shortVersion) + QStringLiteral(" (build ") + shown(build)
           + QStringLiteral(")");
}

QString AboutWindow::homePageTitle(const QUrl &homePage)
{
    QString domain = homePage.host();
    if (domain.startsWith(QStringLiteral("www.")))
        domain = domain.mid(4);
    if (!domain.isEmpty())
        domain[0] = domain[0].toUpper();
    return QStringLiteral("Åpne ") + domain;
}

bool AboutWindow::openWithDesktop(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http") && scheme != QLatin1String("mailto"))
        return false;
    return openInUserDesktop(url);
}

void AboutWindow::keyPressEvent(QKeyEvent *event)
{
    if (!closeOnUnhandledEscape(this, event))
        QWidget::keyPressEvent(event);
}
