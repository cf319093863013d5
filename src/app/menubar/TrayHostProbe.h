#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

// Waits, bounded, for a tray host: a StatusNotifierItem watcher with a host on the session bus, or an XEmbed tray
// on X11. Qt settles once per process whether it uses a StatusNotifierItem host, so nothing may ask Qt about the
// tray before this has decided. An application started at login often comes before the panel's tray.
class TrayHostProbe : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultLimit{10'000};
    static constexpr std::chrono::milliseconds kInterval{250};

    explicit TrayHostProbe(QObject *parent = nullptr);

    // Decides at once where no tray can exist (offscreen and similar platforms).
    void start(std::chrono::milliseconds limit = kDefaultLimit);
    bool isDecided() const { return m_decided; }

Q_SIGNALS:
    void decided(bool trayAvailable);

private:
    void check();
    void checkStatusNotifierHost();
    bool hasXEmbedTray() const;
    void finish(bool available);

    QTimer m_poll;
    QTimer m_deadline;
    bool m_decided = false;
    bool m_busQueryPending = false;
};
