#pragma once

// The overview window's decisions that need no widget: which content it shows, and when it starts a full scan.

#include <QObject>
#include <QString>

#include <functional>

enum class OverviewContent { SignIn, ExportFolderPrompt, Loading, Browser, Empty };

// Tested in this order: signed out; no export folder; first reconcile not completed; folders; none.
OverviewContent overviewContent(bool isAuthenticated, bool hasWatchFolder, bool hasCompletedInitialReconcile,
                                qsizetype folderCount);

// "true-/path" or "false-" and the like: a scan starts when this changes while the window is shown.
QString scanTaskKey(bool isAuthenticated, const QString &watchFolder);

// The window's scan: whenever the window is shown, and whenever the key changes while it is shown, a new scan
// task starts (the previous one is no longer waited for); it scans only when signed in with an export folder.
class ScanTrigger : public QObject
{
    Q_OBJECT
public:
    explicit ScanTrigger(std::function<void()> scan, QObject *parent = nullptr);

    void setState(bool isAuthenticated, const QString &watchFolder);
    void setShown(bool shown);
    const QString &key() const { return m_key; }
    // Counts started tasks, scanning or not; a task's result matters only while it is the current one.
    quint64 generation() const { return m_generation; }

private:
    void start();

    std::function<void()> m_scan;
    bool m_authenticated = false;
    QString m_watchFolder;
    QString m_key;
    bool m_shown = false;
    quint64 m_generation = 0;
};
