#include "DiskRecovery.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

namespace {
Q_LOGGING_CATEGORY(lcDisk, "no.varnostima.mac.Disk")
}

DiskRecovery::DiskRecovery()
{
    // Whoever asks first, the signal is emitted where the application's objects live.
    if (const QCoreApplication *app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
}

DiskRecovery &DiskRecovery::instance()
{
    static DiskRecovery recovery;
    return recovery;
}

void DiskRecovery::noteWriteSucceededAfterFailure()
{
    DiskRecovery &self = instance();
    if (self.m_announcing.exchange(true))
        return; // an announcement is already on its way
    QMetaObject::invokeMethod(&self, &DiskRecovery::announce, Qt::QueuedConnection);
}

void DiskRecovery::announce()
{
    m_announcing = false;
    qCInfo(lcDisk, "A write succeeded after a failure; retrying what waited for the disk");
    Q_EMIT diskIsBack();
}
