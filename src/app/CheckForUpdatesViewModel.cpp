#include "CheckForUpdatesViewModel.h"

#include "platform/Updater.h"

CheckForUpdatesViewModel::CheckForUpdatesViewModel(Updater &updater, QObject *parent)
    : QObject(parent), m_updater(&updater)
{
    // The updater may report from any thread; the value is read again on ours. Queued calls to this object die
    // with it.
    connect(&updater, &Updater::canCheckForUpdatesChanged, this, &CheckForUpdatesViewModel::refresh,
            Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &CheckForUpdatesViewModel::refresh, Qt::QueuedConnection);
}

void CheckForUpdatesViewModel::refresh()
{
    const bool canCheck = m_updater && m_updater->canCheckForUpdates();
    if (canCheck == m_canCheckForUpdates)
        return;
    m_canCheckForUpdates = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

CheckForUpdatesView::CheckForUpdatesView(Updater &updater, QObject *parent)
    : QAction(QStringLiteral("Se etter oppdateringer…"), parent), m_viewModel(updater)
{
    setMenuRole(QAction::ApplicationSpecificRole);
    setEnabled(m_viewModel.canCheckForUpdates());
    connect(&m_viewModel, &CheckForUpdatesViewModel::canCheckForUpdatesChanged, this, &QAction::setEnabled);
    connect(this, &QAction::triggered, this, [this] {
        if (Updater *target = m_viewModel.updater())
            target->checkForUpdates();
    });
}
