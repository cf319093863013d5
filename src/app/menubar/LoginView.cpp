#include "LoginView.h"

#include "ui/BrandViews.h"
#include "ui/Buttons.h"
#include "ui/Color.h"
#include "ui/Spinner.h"
#include "ui/Theme.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/WebLinks.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

namespace {
QLabel *wrappedLabel(const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}
} // namespace

LoginView::LoginView(AuthManager &auth, UrlOpener &opener, QWidget *parent)
    : QWidget(parent), m_auth(auth), m_opener(opener)
{
    // One stack held together in the middle: a window larger than the stack gives the room around it, not
    // between its items.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 32, 32, 32);
    outer->setSpacing(0);
    outer->addStretch(1);
    auto *layout = new QVBoxLayout;
    layout->setSpacing(24);
    outer->addLayout(layout);
    outer->addStretch(1);

    auto *wordmark = new VarnostimaWordmark(VarnostimaWordmark::Size::Large, this);
    layout->addWidget(wordmark, 0, Qt::AlignHCenter);

    auto *tagline = wrappedLabel(Theme::dmSans(13), Theme::foreground(palette(), Theme::Foreground::Secondary), this);
    tagline->setText(QStringLiteral("Last opp bilder rett fra skrivebordet"));
    layout->addWidget(tagline);

    m_busy = new QWidget(this);
    auto *busyLayout = new QHBoxLayout(m_busy);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyLayout->setSpacing(6);
    busyLayout->addWidget(new Spinner(Spinner::Size::Small, m_busy));
    auto *busyText = new QLabel(QStringLiteral("Logger inn…"), m_busy);
    busyText->setFont(Theme::font(Theme::TextStyle::Callout));
    busyLayout->addWidget(busyText);
    layout->addWidget(m_busy, 0, Qt::AlignHCenter);

    m_button = new ProminentButton(QStringLiteral("Logg inn med Google"), this);
    m_button->setControlSize(ProminentButton::ControlSize::Large);
    m_button->setTint(Color::brand());
    connect(m_button, &QAbstractButton::clicked, this, &LoginView::openDeviceLogin);
    layout->addWidget(m_button, 0, Qt::AlignHCenter);

    m_error = wrappedLabel(Theme::dmSans(11), Theme::systemColor(Theme::SystemColor::Red, palette()), this);
    m_error->setTextFormat(Qt::PlainText);
    layout->addWidget(m_error);

    // Where no browser takes the page: its address, to copy into one.
    m_fallback = new QWidget(this);
    auto *fallback = new QVBoxLayout(m_fallback);
    fallback->setContentsMargins(0, 0, 0, 0);
    fallback->setSpacing(8);
    auto *explanation =
        wrappedLabel(Theme::dmSans(11), Theme::foreground(palette(), Theme::Foreground::Secondary), m_fallback);
    explanation->setText(QStringLiteral("Fant ingen nettleser som kunne åpne innloggingssiden. Kopier lenken og åpne "
                                        "den i en nettleser:"));
    fallback->addWidget(explanation);
    auto *linkRow = new QHBoxLayout;
    linkRow->setSpacing(6);
    m_link = new QLineEdit(m_fallback);
    m_link->setReadOnly(true);
    m_link->setFont(Theme::font(Theme::TextStyle::Caption));
    m_link->setAccessibleName(QStringLiteral("Lenke til innlogging"));
    linkRow->addWidget(m_link, 1);
    auto *copy = new PlainButton(QStringLiteral("Kopier"), m_fallback);
    copy->setSymbol(QStringLiteral("link"));
    copy->setFont(Theme::font(Theme::TextStyle::Caption));
    copy->setCursor(Qt::PointingHandCursor);
    connect(copy, &QAbstractButton::clicked, this, [this] {
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->setText(m_link->text());
        m_link->selectAll();
    });
    linkRow->addWidget(copy);
    fallback->addLayout(linkRow);
    m_fallback->hide();
    // As wide as the panel allows, and no wider in the overview window. Centred by a row rather than by an
    // alignment: the stack measures an aligned item's wrapped text at its own full width, one line in a wide
    // window, and cut off the lines the narrower block needs.
    m_fallback->setMaximumWidth(420);
    m_fallback->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    auto *fallbackRow = new QHBoxLayout;
    fallbackRow->setSpacing(0);
    fallbackRow->addStretch(1);
    fallbackRow->addWidget(m_fallback, 1000);
    fallbackRow->addStretch(1);
    layout->addLayout(fallbackRow);

    connect(&m_auth, &AuthManager::isLoadingChanged, this, &LoginView::refresh);
    connect(&m_auth, &AuthManager::loginErrorChanged, this, &LoginView::refresh);
    connect(&m_auth, &AuthManager::isAuthenticatedChanged, this, &LoginView::refresh);
    refresh();
}

void LoginView::refresh()
{
    const bool loading = m_auth.isLoading();
    m_busy->setVisible(loading);
    m_button->setVisible(!loading);
    const QString error = (loading || m_auth.isAuthenticated()) ? QString() : m_auth.loginError();
    m_error->setText(error);
    m_error->setVisible(!error.isEmpty());
    if (m_auth.isAuthenticated())
        m_fallback->hide();
}

void LoginView::openDeviceLogin()
{
    const QUrl page = deviceLoginPageURL(m_auth.baseURL());
    m_fallback->hide();
    QPointer<LoginView> self(this);
    m_opener.openUrl(page, [self, page] {
        if (self)
            self->showLink(page);
    });
}

void LoginView::showLink(const QUrl &link)
{
    m_link->setText(link.toString(QUrl::FullyEncoded));
    m_link->setCursorPosition(0);
    m_fallback->show();
    Q_EMIT linkShown();
}

QString LoginView::shownLink() const
{
    return m_fallback->isHidden() ? QString() : m_link->text();
}

bool LoginView::isShowingSpinner() const
{
    return !m_busy->isHidden();
}

QString LoginView::shownError() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}
