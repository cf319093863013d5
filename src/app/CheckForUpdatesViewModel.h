#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>

#include "platform/Updater.h"

// Follows whether the updater can start a check. False until the updater's state has reached the UI thread.
class CheckForUpdatesViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    explicit CheckForUpdatesViewModel(Updater &updater, QObject *parent = nullptr);

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    Updater *updater() const { return m_updater; }

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);

private:
    void refresh();

    bool m_canCheckForUpdates = false;
    QPointer<Updater> m_updater;
};

// The "Se etter oppdateringer…" menu command; enabled while its model says a check may start.
class CheckForUpdatesView : public QAction
{
    Q_OBJECT
public:
    explicit CheckForUpdatesView(Updater &updater, QObject *parent = nullptr);

    CheckForUpdatesViewModel &viewModel() { return m_viewModel; }

private:
    CheckForUpdatesViewModel m_viewModel;
};
