#pragma once

#include <QObject>

#include <atomic>

// Tells everyone who waits to write again that the disk takes writes once more. A writer whose write failed and
// then succeeded calls noteWriteSucceededAfterFailure(); every write and run waiting for a back-off after a full
// disk is then tried at once instead of after its wait (up to minutes or an hour).
class DiskRecovery : public QObject
{
    Q_OBJECT

public:
    // The process's one notifier; it lives on the thread of the application object.
    static DiskRecovery &instance();

    // Any thread. A burst of calls before the UI thread gets to them gives one diskIsBack().
    static void noteWriteSucceededAfterFailure();

Q_SIGNALS:
    // On the UI thread, always queued: never inside the write that noted it.
    void diskIsBack();

private:
    DiskRecovery();
    void announce();

    std::atomic<bool> m_announcing{false};
};
