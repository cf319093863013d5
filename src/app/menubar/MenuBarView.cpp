#include "MenuBarView.h"

#include "LoginView.h"
#include "PanelWidgets.h"
#include "ui/Buttons.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Spinner.h"
#include "ui/Symbol.h"
#include "ui/Theme.h"
#include "service/AuthManager.h"
#include "sync/SyncManager.h"
#include "sync/UploadHistoryStore.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLoggingCategory>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
Q_LOGGING_CATEGORY(lcMenuBar, "no.varnostima.mac.MenuBar")

PlainButton *footerButton(const QString &text, QWidget *parent)
{
    auto *button = new PlainButton(text, parent);
    button->setFont(Theme::font(Theme::TextStyle::Caption));
    button->setForeground(Theme::Foreground::Secondary);
    return button;
}
} // namespace

// ---- MenuBarSyncStatusRow

MenuBarSyncStatusRow::MenuBarSyncStatusRow(SyncManager &syncManager, QWidget *parent)
    : QWidget(parent), m_syncManager(syncManager)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    // The symbol and the spinner share one slot, so the text does not move when one replaces the other.
    auto *leading = new QWidget(this);
    leading->setFixedSize(14, 14);
    auto *slot = new QGridLayout(leading);
    slot->setContentsMargins(0, 0, 0, 0);
    m_symbol = new SymbolView(QString(), 14, leading);
    m_spinner = new Spinner(Spinner::Size::Mini, leading);
    slot->addWidget(m_symbol, 0, 0, Qt::AlignCenter);
    slot->addWidget(m_spinner, 0, 0, Qt::AlignCenter);
    m_text = new LineLimitedLabel(this);
    m_text->setMaximumLines(2);
    m_text->setFont(Theme::font(Theme::TextStyle::Caption));
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    layout->addWidget(leading, 0, Qt::AlignVCenter);
    layout->addWidget(m_text, 1, Qt::AlignVCenter);

    connect(&m_syncManager, &SyncManager::foldersChanged, this, &MenuBarSyncStatusRow::refresh);
    connect(&m_syncManager, &SyncManager::reconcileErrorChanged, this, &MenuBarSyncStatusRow::refresh);
    connect(&m_syncManager, &SyncManager::hasCompletedInitialReconcileChanged, this, &MenuBarSyncStatusRow::refresh);
    connect(&m_syncManager, &SyncManager::watchFolderChanged, this, &MenuBarSyncStatusRow::refresh);
    refresh();
}

void MenuBarSyncStatusRow::refresh()
{
    // Every edit of a folder entry lands here: most change nothing that the row shows.
    MenuBarStatus status = MenuBarStatus::of(m_syncManager);
    if (m_shown && status == m_status)
        return;
    // During a pass most edits change the counts in the text alone: the symbol is set only when it changes.
    const bool symbolChanged = !m_shown || status.showsSpinner() != m_status.showsSpinner()
                               || status.showsWarning() != m_status.showsWarning();
    m_shown = true;
    m_status = std::move(status);
    if (symbolChanged) {
        m_spinner->setVisible(m_status.showsSpinner());
        m_symbol->setVisible(!m_status.showsSpinner());
        if (m_status.showsWarning()) {
            m_symbol->setSymbol(QStringLiteral("exclamationmark.triangle.fill"));
            m_symbol->setColor(Theme::systemColor(Theme::SystemColor::Yellow, palette()));
        } else {
            m_symbol->setSymbol(QStringLiteral("checkmark.circle.fill"));
            m_symbol->setColor(Theme::systemColor(Theme::SystemColor::Green, palette()));
        }
    }
    m_text->setText(m_status.text);
    m_text->setForeground(m_status.isPrimaryText() ? Theme::Foreground::Primary : Theme::Foreground::Secondary);
}

void MenuBarSyncStatusRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        m_shown = false; // the symbol's colour comes from the palette
        refresh();
    }
}

QString MenuBarSyncStatusRow::text() const
{
    return m_text->text();
}

bool MenuBarSyncStatusRow::isShowingSpinner() const
{
    return !m_spinner->isHidden();
}

// ---- MenuBarStatusHeader

MenuBarStatusHeader::MenuBarStatusHeader(SyncManager &syncManager, std::function<void()> onOpenOverview,
                                         QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    m_row = new MenuBarSyncStatusRow(syncManager, this);
    layout->addWidget(m_row);

    // The blank keeps the text off the symbol; the accessible name goes without it.
    m_button = new QPushButton(QStringLiteral(" Åpne oversikt"), this);
    m_button->setAccessibleName(QStringLiteral("Åpne oversikt"));
    m_button->setFont(Theme::font(Theme::TextStyle::Subheadline));
    m_button->setIcon(Symbol::icon(QStringLiteral("rectangle.stack"), palette().color(QPalette::ButtonText)));
    m_button->setIconSize(QSize(12, 12));
    m_button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(m_button);
    connect(m_button, &QPushButton::clicked, this, [onOpenOverview] {
        if (onOpenOverview)
            onOpenOverview();
    });
}

// ---- MenuBarFooter

MenuBarFooter::MenuBarFooter(std::function<void()> onLogout, std::function<void()> openSettings,
                             std::function<void()> quit, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    m_logout = footerButton(QStringLiteral("Logg ut"), this);
    m_settings = footerButton(QStringLiteral("Innstillinger"), this);
    m_quit = footerButton(QStringLiteral("Avslutt"), this);
    layout->addWidget(m_logout);
    layout->addStretch(1);
    layout->addWidget(m_settings);
    layout->addWidget(m_quit);

    const auto call = [](const std::function<void()> &action) {
        return [action] {
            if (action)
                action();
        };
    };
    connect(m_logout, &QAbstractButton::clicked, this, call(onLogout));
    connect(m_settings, &QAbstractButton::clicked, this, call(openSettings));
    connect(m_quit, &QAbstractButton::clicked, this, call(quit));
}

void MenuBarFooter::setAuthenticated(bool isAuthenticated)
{
    m_logout->setVisible(isAuthenticated);
}

// ---- MenuBarView

MenuBarView::MenuBarView(const AppContext &context, UrlOpener &opener, MenuBarActions actions, PanelClock clock,
                         QWidget *parent)
    : QWidget(parent), m_context(context), m_actions(std::move(actions))
{
    setFixedWidth(kWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_login = new QWidget(this);
    auto *loginLayout = new QVBoxLayout(m_login);
    loginLayout->setContentsMargins(12, 12, 12, 12);
    m_loginView = new LoginView(*context.authManager, opener, m_login);
    loginLayout->addWidget(m_loginView);
    layout->addWidget(m_login);

    m_header = new MenuBarStatusHeader(*context.syncManager, m_actions.openOverview, this);
    layout->addWidget(m_header);
    m_headerDivider = new Divider(this);
    layout->addWidget(m_headerDivider);
    m_empty = new EmptyHistoryView(this);
    layout->addWidget(m_empty);
    const QPointer<AuthManager> account(context.authManager);
    m_recent = new RecentUploadsSection(
        opener, [account] { return account ? account->baseURL() : QUrl(); }, std::move(clock), this);
    layout->addWidget(m_recent);

    m_footerDivider = new Divider(this);
    layout->addWidget(m_footerDivider);
    AuthManager *auth = context.authManager;
    m_footer = new MenuBarFooter([auth] { auth->logout(); }, m_actions.openSettings, m_actions.quit, this);
    layout->addWidget(m_footer);

    connect(context.authManager, &AuthManager::isAuthenticatedChanged, this, &MenuBarView::refresh);
    connect(context.uploadHistory, &UploadHistoryStore::recentUploadsChanged, this, &MenuBarView::refreshHistory);
    refresh();
}

void MenuBarView::refresh()
{
    const bool signedIn = m_context.authManager->isAuthenticated();
    m_login->setVisible(!signedIn);
    m_header->setVisible(signedIn);
    m_headerDivider->setVisible(signedIn);
    m_footer->setAuthenticated(signedIn);
    refreshHistory();
}

void MenuBarView::refreshHistory()
{
    // Hidden, the rows would be laid out again for nobody at every upload.
    if (!isVisible())
        m_historyStale = true;
    else
        fillHistory();
}

void MenuBarView::catchUp()
{
    if (m_historyStale)
        fillHistory();
}

void MenuBarView::showEvent(QShowEvent *event)
{
    catchUp();
    QWidget::showEvent(event);
}

void MenuBarView::fillHistory()
{
    m_historyStale = false;
    const bool signedIn = m_context.authManager->isAuthenticated();
    const QList<RecentUpload> &all = m_context.uploadHistory->recentUploads();
    const bool empty = all.isEmpty();
    m_empty->setVisible(signedIn && empty);
    m_recent->setVisible(signedIn && !empty);
    if (!signedIn || empty)
        return;
    const QList<RecentUpload> shown = m_context.uploadHistory->recentUploadsForMenu();
    m_recent->setUploads(shown);
    QStringList titles;
    for (const RecentUpload &upload : shown)
        titles.append(upload.title);
    qCDebug(lcMenuBar, "Panel lists recent uploads: %s", qUtf8Printable(titles.join(QStringLiteral(", "))));
}

QList<QWidget *> MenuBarView::shownParts() const
{
    QList<QWidget *> parts;
    for (QWidget *part : {m_login, static_cast<QWidget *>(m_header), m_headerDivider,
                          static_cast<QWidget *>(m_empty), static_cast<QWidget *>(m_recent), m_footerDivider,
                          static_cast<QWidget *>(m_footer)}) {
        if (!part->isHidden())
            parts.append(part);
    }
    return parts;
}
