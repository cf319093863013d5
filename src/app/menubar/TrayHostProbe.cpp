#include "TrayHostProbe.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>

#include <xcb/xcb.h>

#include <memory>

namespace {
Q_LOGGING_CATEGORY(lcMenuBar, "no.varnostima.mac.MenuBar")

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
} // namespace

TrayHostProbe::TrayHostProbe(QObject *parent) : QObject(parent)
{
    m_poll.setInterval(kInterval);
    connect(&m_poll, &QTimer::timeout, this, &TrayHostProbe::check);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        qCWarning(lcMenuBar, "No tray host appeared; showing the panel as a window");
        finish(false);
    });
}

void TrayHostProbe::start(std::chrono::milliseconds limit)
{
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland"))) {
        qCInfo(lcMenuBar, "No tray on the %s platform", qUtf8Printable(platform));
        QMetaObject::invokeMethod(this, [this] { finish(false); }, Qt::QueuedConnection);
        return;
    }
    m_deadline.start(limit);
    m_poll.start();
    check();
}

void TrayHostProbe::check()
{
    if (m_decided)
        return;
    if (hasXEmbedTray()) {
        qCInfo(lcMenuBar, "XEmbed tray found");
        finish(true);
        return;
    }
    checkStatusNotifierHost();
}

void TrayHostProbe::checkStatusNotifierHost()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (m_busQueryPending || !bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    message << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    m_busQueryPending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, int(kInterval.count()) * 4), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        m_busQueryPending = false;
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (m_decided || reply.isError())
            return;
        if (reply.value().variant().toBool()) {
            qCInfo(lcMenuBar, "StatusNotifierItem host found");
            finish(true);
        }
    });
}

bool TrayHostProbe::hasXEmbedTray() const
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    const QByteArray name = QByteArrayLiteral("_NET_SYSTEM_TRAY_S0");
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()),
                              nullptr),
        &free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&free)> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr), &free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

void TrayHostProbe::finish(bool available)
{
    if (m_decided)
        return;
    m_decided = true;
    m_poll.stop();
    m_deadline.stop();
    Q_EMIT decided(available);
}
