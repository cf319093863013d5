#include "GeneralSettingsTab.h"

#include "SettingsForm.h"
#include "app/LaunchAtLoginManager.h"
#include "ui/Symbol.h"

#include <QCoroTask>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QShowEvent>
#include <QVBoxLayout>

using Theme::Foreground;

namespace {

QCoro::Task<void> readStatus(QPointer<GeneralSettingsTab> tab, NotificationCenter *center, quint64 read,
                             const quint64 *latestRead, std::function<void(NotificationAuthorizationStatus)> apply)
{
    NotificationAuthorizationStatus status = NotificationAuthorizationStatus::NotDetermined;
    try {
        status = co_await center->authorizationStatus();
    } catch (...) {
        co_return;
    }
    // An older read that ends after a newer one must not overwrite it.
    if (tab && read == *latestRead)
        apply(status);
}

QCoro::Task<void> askPermission(QPointer<GeneralSettingsTab> tab, QPointer<NotificationCenter> center)
{
    try {
        if (center)
            co_await center->requestAuthorization();
    } catch (...) {
        // The answer shows in the status read next.
    }
    if (tab)
        tab->refreshNotificationStatus();
}

QWidget *symbolAndText(const QString &symbol, const QString &text, const QColor &colour)
{
    auto *box = new QWidget;
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto *icon = new QLabel;
    icon->setPixmap(Symbol::pixmap(symbol, colour, QSize(14, 14), box->devicePixelRatioF()));
    auto *label = new QLabel(text);
    label->setFont(Theme::font(Theme::TextStyle::Body));
    label->setWordWrap(true);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    // The row's whole width, so the text wraps at the row's edge rather than at its own preferred width.
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHorizontalStretch(1);
    box->setSizePolicy(policy);
    return box;
}

} // namespace

GeneralSettingsTab::GeneralSettingsTab(LaunchAtLoginManager &launchAtLogin, NotificationCenter &notifications,
                                       std::function<void()> openNotificationSettings, QWidget *parent)
    : QWidget(parent), m_launchAtLogin(launchAtLogin), m_notifications(notifications),
      m_openNotificationSettings(std::move(openNotificationSettings))
{
    auto *form = SettingsForm::formLayout(this);

    auto *general = new FormSection;
    m_switch = new ToggleSwitch;
    m_switch->setAccessibleName(QStringLiteral("Start Varnostima ved innlogging"));
    general->addRow(SettingsForm::labelledRow(QStringLiteral("Start Varnostima ved innlogging"), m_switch));
    form->addWidget(general);

    m_notificationSection = new FormSection(QStringLiteral("Varslinger"));
    form->addWidget(m_notificationSection);
    form->addStretch();
    rebuildNotificationSection();

    connect(m_switch, &ToggleSwitch::toggled, this, &GeneralSettingsTab::setLaunchAtLoginEnabled);
}

void GeneralSettingsTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return; // the window came back from the desktop, the tab was not newly shown
    setLaunchAtLoginEnabled(m_launchAtLogin.isEnabled());
    refreshNotificationStatus();
}

void GeneralSettingsTab::setLaunchAtLoginEnabled(bool enabled)
{
    if (enabled == m_launchAtLoginEnabled)
        return;
    m_launchAtLoginEnabled = enabled;
    {
        const QSignalBlocker quiet(m_switch);
        m_switch->setChecked(enabled);
    }
    m_launchAtLogin.setEnabled(enabled);
    // A refused change springs the switch back to what the system really has.
    if (m_launchAtLogin.isEnabled() != enabled)
        setLaunchAtLoginEnabled(m_launchAtLogin.isEnabled());
}

void GeneralSettingsTab::refreshNotificationStatus()
{
    const quint64 read = ++m_statusReads;
    readStatus(QPointer<GeneralSettingsTab>(this), &m_notifications, read, &m_statusReads,
               [this](NotificationAuthorizationStatus status) { setNotificationStatus(status); });
}

void GeneralSettingsTab::requestNotificationPermission()
{
    askPermission(QPointer<GeneralSettingsTab>(this), QPointer<NotificationCenter>(&m_notifications));
}

void GeneralSettingsTab::setNotificationStatus(NotificationAuthorizationStatus status)
{
    if (status != m_notificationStatus) {
        m_notificationStatus = status;
        rebuildNotificationSection();
    }
    Q_EMIT notificationStatusRefreshed();
}

void GeneralSettingsTab::rebuildNotificationSection()
{
    m_notificationSection->clearRows();
    switch (m_notificationStatus) {
    case NotificationAuthorizationStatus::Authorized:
    case NotificationAuthorizationStatus::Provisional:
    case NotificationAuthorizationStatus::Ephemeral: {
        auto *row = SettingsForm::plainRow(symbolAndText(
            QStringLiteral("checkmark.circle.fill"),
            QStringLiteral("Varslinger er på — du får beskjed når et nytt galleri er lastet opp"),
            Theme::foreground(palette(), Foreground::Secondary)));
        m_notificationSection->addRow(row);
        break;
    }
    case NotificationAuthorizationStatus::NotDetermined: {
        auto *ask = SettingsForm::button(QStringLiteral("Be om tillatelse til varslinger"));
        connect(ask, &QPushButton::clicked, this, &GeneralSettingsTab::requestNotificationPermission);
        m_notificationSection->addRow(SettingsForm::plainRow(ask));
        break;
    }
    case NotificationAuthorizationStatus::Denied:
    case NotificationAuthorizationStatus::NoService: {
        const bool denied = m_notificationStatus == NotificationAuthorizationStatus::Denied;
        auto *stack = new QWidget;
        auto *layout = new QVBoxLayout(stack);
        layout->setContentsMargins(0, 4, 0, 4);
        layout->setSpacing(6);
        // Without a service the desktop's settings cannot bring notifications back: no button then.
        auto *text = new QLabel(denied ? QStringLiteral("Varslinger er av i Systeminnstillinger")
                                       : QStringLiteral("Ingen varslingstjeneste kjører på skrivebordet"));
        text->setFont(Theme::font(Theme::TextStyle::Callout));
        layout->addWidget(text);
        if (denied && m_openNotificationSettings) {
            auto *open = SettingsForm::button(QStringLiteral("Åpne Systeminnstillinger…"));
            connect(open, &QPushButton::clicked, this, [this] { m_openNotificationSettings(); });
            layout->addWidget(open, 0, Qt::AlignLeft);
        }
        m_notificationSection->addRow(SettingsForm::plainRow(stack));
        break;
    }
    default:
        break; // a status this tab does not know: the header alone
    }
    m_notificationSection->update();
}
