#include "FolderDetailActions.h"

#include "overview/list/FolderStatusPresentation.h"
#include "DetailWidgets.h"
#include "ui/Buttons.h"
#include "ui/Color.h"
#include "ui/LineLimitedLabel.h"
#include "ui/Spinner.h"
#include "ui/Symbol.h"
#include "sync/IsolatedName.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcInspector, "no.varnostima.mac.Inspector")

namespace {

enum class ActionStyle { Tinted, Prominent, Secondary, Destructive };

// A large button of the primary row. Bordered styles fill faintly with their tint and draw the text in it; the
// filled styles draw white on the tint. While its action runs a spinner takes the symbol's place.
class ActionButton : public QAbstractButton
{
public:
    ActionButton(const FolderActionLook &look, ActionStyle style, std::optional<Theme::SystemColor> tint,
                 QWidget *parent)
        : QAbstractButton(parent), m_symbol(look.symbol), m_style(style), m_tint(tint),
          m_spinner(new Spinner(Spinner::Size::Small, this))
    {
        setText(look.title);
        setFont(Theme::systemFont(13, QFont::Medium));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_spinner->hide();
    }

    void setWorking(bool working)
    {
        m_working = working;
        m_spinner->setColor(filled() ? QColor(Qt::white) : QColor());
        m_spinner->setVisible(working);
        placeSpinner();
        update();
    }
    bool isWorking() const { return m_working; }

    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text()) + font().pixelSize() + 6 + 32, 30};
    }
    QSize minimumSizeHint() const override { return {0, 30}; }

protected:
    void resizeEvent(QResizeEvent *) override { placeSpinner(); }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor tint = tintColour();
        QColor fill;
        QColor ink;
        QColor border = Qt::transparent;
        if (filled()) {
            fill = tint;
            ink = Qt::white;
        } else if (m_style == ActionStyle::Tinted) {
            fill = Theme::withAlpha(tint, Theme::isDark(palette()) ? 0.22 : 0.14);
            ink = tint;
        } else {
            fill = palette().color(QPalette::Button);
            ink = palette().color(QPalette::ButtonText);
            border = Theme::withAlpha(palette().color(QPalette::WindowText), 0.15);
        }
        if (isDown())
            fill = fill.darker(115);
        else if (m_hovered && isEnabled())
            fill = fill.lighter(106);
        if (!isEnabled()) {
            fill.setAlphaF(fill.alphaF() * 0.5F);
            ink.setAlphaF(ink.alphaF() * 0.6F);
        }
        const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(border.alpha() ? QPen(border, 1) : Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(body, 7, 7);
        if (hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Theme::withAlpha(tint, 0.5), 2));
            painter.drawRoundedRect(body.adjusted(1, 1, -1, -1), 6, 6);
        }

        const QFontMetrics fm = fontMetrics();
        const int side = font().pixelSize();
        const int contentWidth = side + 6 + fm.horizontalAdvance(text());
        const int x = (width() - contentWidth) / 2;
        if (!m_working)
            Symbol::paint(&painter, QRectF(x, (height() - side) / 2.0, side, side), m_symbol, ink);
        painter.setPen(ink);
        painter.drawText(QRect(x + side + 6, 0, width() - x - side - 6, height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }

    void enterEvent(QEnterEvent *event) override
    {
        m_hovered = true;
        update();
        QAbstractButton::enterEvent(event);
    }
    void leaveEvent(QEvent *event) override
    {
        m_hovered = false;
        update();
        QAbstractButton::leaveEvent(event);
    }

private:
    bool filled() const { return m_style == ActionStyle::Prominent || m_style == ActionStyle::Destructive; }

    QColor tintColour() const
    {
        if (m_style == ActionStyle::Prominent)
            return Color::brand();
        if (m_style == ActionStyle::Destructive)
            return Theme::systemColor(Theme::SystemColor::Red, palette());
        if (m_tint)
            return Theme::systemColor(*m_tint, palette());
        return palette().color(QPalette::ButtonText);
    }

    void placeSpinner()
    {
        const QSize spinner = m_spinner->sizeHint();
        const int side = font().pixelSize();
        const int contentWidth = side + 6 + fontMetrics().horizontalAdvance(text());
        const int x = (width() - contentWidth) / 2 + (side - spinner.width()) / 2;
        m_spinner->setGeometry(QRect(QPoint(x, (height() - spinner.height()) / 2), spinner));
    }

    QString m_symbol;
    ActionStyle m_style;
    std::optional<Theme::SystemColor> m_tint;
    Spinner *m_spinner;
    bool m_working = false;
    bool m_hovered = false;
};

// A small button of the strip: the symbol at 14 px above its title at 9 px, sharing the row equally.
PlainButton *compactButton(const FolderActionLook &look, QWidget *parent)
{
    auto *button = new PlainButton(look.title, parent);
    button->setSymbol(look.symbol);
    button->setSymbolSize(14);
    button->setStacked(true);
    button->setSpacing(2);
    button->setFont(Theme::systemFont(9, QFont::Medium));
    button->setForeground(Theme::Foreground::Secondary);
    button->setToolTip(look.toolTip());
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(36);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

QLabel *captionText(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(Theme::font(Theme::TextStyle::Caption));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return label;
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

FolderActionPlan FolderActionPlan::of(const SyncFolder &folder)
{
    using A = FolderAction;
    FolderActionPlan plan;
    switch (folder.status.kind()) {
    case SyncStatus::Case::synced:
        plan.secondary = {A::OpenFinder, A::OpenDashboard, A::CopyLink};
        if (folder.movedFrom) {
            plan.primary = Primary::Move;
            plan.secondary.append(A::ClearMoved);
        } else if (hasPendingChanges(folder)) {
            plan.primary = Primary::Update;
        } else {
            plan.secondary.append(A::Ignore);
        }
        break;
    case SyncStatus::Case::syncing:
        plan.secondary = {A::OpenFinder};
        break;
    case SyncStatus::Case::failed:
        plan.message = folder.status.failureMessage();
        // Retrying a placeholder would make a folder that is gone "not synced"; its gallery still waits for the
        // user's decision.
        if (folder.removedGalleryId()) {
            plan.primary = Primary::RemovedFailure;
            plan.secondary = {A::OpenFinder, A::DismissRemoved};
        } else {
            plan.primary = Primary::Failure;
            plan.secondary = {A::OpenFinder};
        }
        break;
    case SyncStatus::Case::removedLocally:
        plan.primary = Primary::Removed;
        plan.secondary = {A::OpenFinder, A::DismissRemoved};
        break;
    case SyncStatus::Case::notSynced:
        plan.primary = Primary::Waiting;
        plan.secondary = {A::OpenFinder, A::Ignore};
        break;
    case SyncStatus::Case::ignored:
        plan.primary = Primary::Unignore;
        plan.secondary = {A::OpenFinder};
        break;
    }
    return plan;
}

std::optional<FolderAction> FolderActionPlan::primaryAction() const
{
    switch (primary) {
    case Primary::Move: return FolderAction::Move;
    case Primary::Update: return FolderAction::Update;
    case Primary::Failure: return FolderAction::Sync;
    case Primary::Removed:
    case Primary::RemovedFailure: return FolderAction::DeleteFromServer;
    case Primary::Unignore: return FolderAction::Unignore;
    case Primary::None:
    case Primary::Waiting: break;
    }
    return std::nullopt;
}

FolderActionLook FolderActionLook::of(FolderAction action, bool copied)
{
    switch (action) {
    case FolderAction::OpenFinder:
        return {QStringLiteral("Filbehandler"), QStringLiteral("folder"), QStringLiteral("Vis i filbehandler")};
    case FolderAction::OpenDashboard: return {QStringLiteral("Dashboard"), QStringLiteral("arrow.up.right.square")};
    case FolderAction::CopyLink:
        return copied ? FolderActionLook{QStringLiteral("Kopiert!"), QStringLiteral("checkmark")}
                      : FolderActionLook{QStringLiteral("Kopier"), QStringLiteral("link")};
    case FolderAction::Sync: return {QStringLiteral("Prøv igjen"), QStringLiteral("arrow.clockwise")};
    case FolderAction::Update:
        return {QStringLiteral("Oppdater galleri"), QStringLiteral("arrow.triangle.2.circlepath")};
    case FolderAction::Ignore: return {QStringLiteral("Ignorer"), QStringLiteral("eye.slash")};
    case FolderAction::Unignore: return {QStringLiteral("Gjenopprett"), QStringLiteral("eye")};
    case FolderAction::Move: return {QStringLiteral("Flytt på server"), QStringLiteral("arrow.triangle.branch")};
    case FolderAction::ClearMoved: return {QStringLiteral("Behold"), QStringLiteral("xmark")};
    case FolderAction::DeleteFromServer: return {QStringLiteral("Slett fra server"), QStringLiteral("trash")};
    case FolderAction::DismissRemoved: return {QStringLiteral("Avvis"), QStringLiteral("xmark")};
    }
    return {};
}

FolderDetailActions::FolderDetailActions(FolderDetailCallbacks callbacks, QWidget *parent)
    : QWidget(parent), m_callbacks(std::move(callbacks)), m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(16, 0, 16, 0);
    m_layout->setSpacing(10);
    rebuild();
}

void FolderDetailActions::setFolder(const SyncFolder &folder)
{
    const bool wasWorking = isWorking();
    m_folder = folder;
    // Progress updates arrive many times a second while a folder uploads; its buttons stay as they are.
    if (FolderActionPlan::of(m_folder) == m_plan && isWorking() == wasWorking && m_secondary)
        return;
    rebuild();
}

void FolderDetailActions::setCopied(bool copied)
{
    if (m_copied == copied)
        return;
    m_copied = copied;
    if (auto *copy = qobject_cast<PlainButton *>(button(FolderAction::CopyLink))) {
        const FolderActionLook look = FolderActionLook::of(FolderAction::CopyLink, copied);
        copy->setText(look.title);
        copy->setSymbol(look.symbol);
        copy->setToolTip(look.toolTip());
    }
}

QAbstractButton *FolderDetailActions::button(FolderAction action) const
{
    return m_buttons.value(action);
}

void FolderDetailActions::trigger(FolderAction action)
{
    if (QAbstractButton *target = button(action); target && target->isEnabled())
        target->click();
}

void FolderDetailActions::rebuild()
{
    m_plan = FolderActionPlan::of(m_folder);
    m_buttons.clear();
    // A row may be rebuilt from inside its own button's click: the old rows go once the click has returned.
    for (QWidget *old : {m_primary, m_secondary}) {
        if (old) {
            old->hide();
            m_layout->removeWidget(old);
            old->deleteLater();
        }
    }
    m_primary = buildPrimary();
    m_secondary = buildSecondary();
    if (m_primary)
        m_layout->addWidget(m_primary);
    m_layout->addWidget(m_secondary);
}

QWidget *FolderDetailActions::buildPrimary()
{
    using P = FolderActionPlan::Primary;
    if (m_plan.primary == P::None)
        return nullptr;
    auto *row = new QWidget(this);
    auto *column = new QVBoxLayout(row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    if (m_plan.primary == P::Waiting) {
        auto *line = new QWidget(row);
        auto *layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 8, 0, 8);
        layout->setSpacing(8);
        layout->addStretch(1);
        layout->addWidget(new Spinner(Spinner::Size::Small, line));
        auto *text = new QLabel(QStringLiteral("Synkroniseres snart…"), line);
        text->setFont(Theme::font(Theme::TextStyle::Callout));
        setTextColour(text, Theme::foreground(palette(), Theme::Foreground::Secondary));
        layout->addWidget(text);
        layout->addStretch(1);
        column->addWidget(line);
        return row;
    }
    if (m_plan.primary == P::Failure || m_plan.primary == P::RemovedFailure) {
        auto *message = captionText(m_plan.message, row);
        message->setObjectName(QStringLiteral("failureMessage"));
        setTextColour(message, Theme::systemColor(Theme::SystemColor::Red, palette()));
        column->addWidget(message);
    } else if (m_plan.primary == P::Removed) {
        auto *message = captionText(QStringLiteral("Mappen er fjernet lokalt, men galleriet finnes på serveren."), row);
        setTextColour(message, Theme::foreground(palette(), Theme::Foreground::Secondary));
        column->addWidget(message);
    }

    const FolderAction action = *m_plan.primaryAction();
    ActionStyle style = ActionStyle::Secondary;
    std::optional<Theme::SystemColor> tint;
    switch (action) {
    case FolderAction::Move: style = ActionStyle::Tinted; tint = Theme::SystemColor::Purple; break;
    case FolderAction::Update: style = ActionStyle::Tinted; tint = Theme::SystemColor::Orange; break;
    case FolderAction::Sync: style = ActionStyle::Prominent; break;
    case FolderAction::DeleteFromServer: style = ActionStyle::Destructive; break;
    default: break;
    }
    auto *button = new ActionButton(FolderActionLook::of(action), style, tint, row);
    if (action != FolderAction::Unignore) {
        button->setWorking(isWorking());
        button->setEnabled(!isWorking());
    }
    connect(button, &QAbstractButton::clicked, this, [this, action] { run(action); });
    m_buttons.insert(action, button);
    column->addWidget(button);
    return row;
}

QWidget *FolderDetailActions::buildSecondary()
{
    auto *strip = new GlassFrame(0.08, 0.12, 8, this);
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(0);
    for (const FolderAction action : std::as_const(m_plan.secondary)) {
        auto *button = compactButton(FolderActionLook::of(action, m_copied), strip);
        connect(button, &QAbstractButton::clicked, this, [this, action] { run(action); });
        m_buttons.insert(action, button);
        row->addWidget(button, 1);
    }
    return strip;
}

void FolderDetailActions::run(FolderAction action)
{
    const QString galleryId = m_folder.status.galleryId();
    auto call = [](const std::function<void()> &callback) {
        if (callback)
            callback();
    };
    switch (action) {
    case FolderAction::OpenFinder: call(m_callbacks.onOpenFinder); break;
    case FolderAction::OpenDashboard:
        if (m_callbacks.onOpenDashboard)
            m_callbacks.onOpenDashboard(galleryId);
        break;
    case FolderAction::CopyLink:
        if (m_callbacks.onCopyLink)
            m_callbacks.onCopyLink(galleryId);
        break;
    case FolderAction::Ignore: call(m_callbacks.onIgnore); break;
    case FolderAction::Unignore: call(m_callbacks.onUnignore); break;
    case FolderAction::ClearMoved: call(m_callbacks.onClearMoved); break;
    case FolderAction::DismissRemoved: call(m_callbacks.onDismissRemoved); break;
    case FolderAction::Sync: startAsync(m_callbacks.onSync); break;
    case FolderAction::Update: startAsync(m_callbacks.onUpdate); break;
    case FolderAction::Move: startAsync(m_callbacks.onMove); break;
    case FolderAction::DeleteFromServer: confirmDeleteFromServer(); break;
    }
}

void FolderDetailActions::confirmDeleteFromServer()
{
    if (!m_callbacks.onDeleteFromServer || isWorking() || m_deleteConfirmation)
        return;
    const QString gallery = unicodenames::isolated(m_folder.displayName);
    const QString images = m_folder.imageCount == 1 ? QStringLiteral("1 bilde")
                                                    : QStringLiteral("%1 bilder").arg(m_folder.imageCount);
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Slett fra server"),
                                QStringLiteral("Vil du slette galleriet «%1» fra serveren?").arg(gallery),
                                QMessageBox::NoButton, window());
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(
        QStringLiteral("Galleriet har %1. Mappen finnes ikke lenger på disken, så galleriet kan ha den siste kopien "
                       "av bildene. Slettingen kan ikke angres.")
            .arg(images));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *cancel = box->addButton(QStringLiteral("Avbryt"), QMessageBox::RejectRole);
    QPushButton *remove = box->addButton(QStringLiteral("Slett"), QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    m_deleteConfirmation = box;

    const QString path = m_folder.path;
    connect(box, &QMessageBox::buttonClicked, this, [this, path, remove](QAbstractButton *clicked) {
        // Only the folder asked about, and only while it still offers the deletion.
        if (clicked == remove && path == m_folder.path && m_plan.primaryAction() == FolderAction::DeleteFromServer)
            startAsync(m_callbacks.onDeleteFromServer);
    });
    box->open();
}

void FolderDetailActions::startAsync(const std::function<QCoro::Task<void>()> &callback)
{
    if (!callback || isWorking())
        return;
    const QString path = m_folder.path;
    m_workingPaths.insert(path);
    rebuild();
    Q_EMIT workingChanged();
    awaitAction(path, callback()); // runs on by itself; clears the flag at its end
}

QCoro::Task<void> FolderDetailActions::awaitAction(QString path, QCoro::Task<void> task)
{
    QPointer<FolderDetailActions> self(this);
    try {
        co_await std::move(task);
    } catch (const std::exception &error) {
        qCWarning(lcInspector, "Folder action failed: %s", error.what());
    } catch (...) {
        qCWarning(lcInspector, "Folder action failed");
    }
    if (!self)
        co_return;
    m_workingPaths.remove(path);
    if (path == m_folder.path) {
        rebuild();
        Q_EMIT workingChanged();
    }
}
