#pragma once

#include <QObject>
#include <QUrl>

class UrlOpener;

// Checks for a newer version of the application with its own user interface.
class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    using QObject::QObject;

    // Whether a check asked for by the user may start now.
    virtual bool canCheckForUpdates() const = 0;
    // Starts a check; reports nothing back.
    virtual void checkForUpdates() = 0;

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
};

// Sends the user to the project's download page; there is no update feed on this platform.
class DownloadPageUpdater final : public Updater
{
    Q_OBJECT
public:
    DownloadPageUpdater(QUrl downloadPage, UrlOpener &opener, QObject *parent = nullptr);

    // The page given at build time, by default the project's own; empty in a build configured without one.
    static QUrl defaultDownloadPage();

    bool canCheckForUpdates() const override;
    void checkForUpdates() override;

private:
    QUrl m_page;
    UrlOpener &m_opener;
};

// An updater whose state tests set by hand.
class FakeUpdater final : public Updater
{
    Q_OBJECT
public:
    using Updater::Updater;

    bool canCheckForUpdates() const override { return m_canCheck; }
    void checkForUpdates() override { ++checks; }

    void setCanCheckForUpdates(bool canCheck)
    {
        if (canCheck == m_canCheck)
            return;
        m_canCheck = canCheck;
        Q_EMIT canCheckForUpdatesChanged(canCheck);
    }

    int checks = 0;

private:
    bool m_canCheck = false;
};
