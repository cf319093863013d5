#include "OverviewState.h"

OverviewContent overviewContent(bool isAuthenticated, bool hasWatchFolder, bool hasCompletedInitialReconcile,
                                qsizetype folderCount)
{
    if (!isAuthenticated)
        return OverviewContent::SignIn;
    if (!hasWatchFolder)
        return OverviewContent::ExportFolderPrompt;
    if (!hasCompletedInitialReconcile)
        return OverviewContent::Loading;
    return folderCount > 0 ? OverviewContent::Browser : OverviewContent::Empty;
}

QString scanTaskKey(bool isAuthenticated, const QString &watchFolder)
{
    return (isAuthenticated ? QStringLiteral("true-") : QStringLiteral("false-")) + watchFolder;
}

ScanTrigger::ScanTrigger(std::function<void()> scan, QObject *parent)
    : QObject(parent), m_scan(std::move(scan)), m_key(scanTaskKey(false, {}))
{
}

void ScanTrigger::setState(bool isAuthenticated, const QString &watchFolder)
{
    m_authenticated = isAuthenticated;
    m_watchFolder = watchFolder;
    const QString key = scanTaskKey(isAuthenticated, watchFolder);
    if (key == m_key)
        return;
    m_key = key;
    if (m_shown)
        start();
}

void ScanTrigger::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (shown)
        start();
    else
        ++m_generation; // a hidden window's task is cancelled
}

void ScanTrigger::start()
{
    ++m_generation;
    if (m_watchFolder.isEmpty() || !m_authenticated)
        return;
    if (m_scan)
        m_scan();
}
