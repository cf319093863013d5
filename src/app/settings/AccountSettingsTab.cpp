#include "AccountSettingsTab.h"

#include "SettingsForm.h"
#include "ui/Symbol.h"
#include "service/AuthManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QWidget *signedInValue(const QPalette &palette)
{
    const QColor green = Theme::systemColor(Theme::SystemColor::Green, palette);
    auto *box = new QWidget;
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    auto *icon = new QLabel;
    icon->setPixmap(Symbol::pixmap(QStringLiteral("checkmark.circle.fill"), green, QSize(14, 14), 2.0));
    auto *text = new QLabel(QStringLiteral("Innlogget"));
    text->setFont(Theme::font(Theme::TextStyle::Body));
    QPalette p = text->palette();
    p.setColor(QPalette::WindowText, green);
    text->setPalette(p);
    layout->addWidget(icon);
    layout->addWidget(text);
    return box;
}

} // namespace

AccountSettingsTab::AccountSettingsTab(AuthManager &auth, QWidget *parent) : QWidget(parent), m_auth(auth)
{
    auto *form = SettingsForm::formLayout(this);
    m_signedIn = new FormSection;
    m_signedIn->addRow(SettingsForm::labelledRow(QStringLiteral("Status"), signedInValue(palette())));
    auto *logout = SettingsForm::button(QStringLiteral("Logg ut"), true);
    m_signedIn->addRow(SettingsForm::plainRow(logout));
    form->addWidget(m_signedIn);

    m_signedOut = new FormSection;
    m_signedOut->addRow(
        SettingsForm::labelledRow(QStringLiteral("Status"), SettingsForm::secondaryLabel(QStringLiteral("Ikke innlogget"))));
    form->addWidget(m_signedOut);
    form->addStretch();

    connect(logout, &QPushButton::clicked, this, [this] { m_auth.logout(); });
    connect(&m_auth, &AuthManager::isAuthenticatedChanged, this, &AccountSettingsTab::refresh);
    refresh();
}

bool AccountSettingsTab::showsSignedIn() const
{
    return !m_signedIn->isHidden();
}

void AccountSettingsTab::refresh()
{
    m_signedIn->setHidden(!m_auth.isAuthenticated());
    m_signedOut->setHidden(m_auth.isAuthenticated());
}
