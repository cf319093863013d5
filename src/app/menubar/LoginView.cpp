#include "LoginView.h"

#include "ui/BrandViews.h"
#include "ui/Buttons.h"
#include "ui/Color.h"
#include "ui/Spinner.h"
#include "ui/Theme.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/WebLinks.h"

#include <QHBoxLayout>
#include <QLabel>
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
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(24);

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
}

void LoginView::openDeviceLogin()
{
    m_opener.openUrl(deviceLoginPageURL(m_auth.baseURL()));
}

bool LoginView::isShowingSpinner() const
{
    return !m_busy->isHidden();
}

QString LoginView::shownError() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}
