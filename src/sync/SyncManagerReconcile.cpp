#include "SyncManager.h"

#include "SyncLogging.h"

#include <QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

QList<SyncFolder> scanWithMoves(const QString &exportFolder, const QSet<QString> &ignoredPaths,
                                const QList<SyncFolder> &previous)
{
    QList<SyncFolder> scanned = FolderScanner::scanFolderTree(exportFolder, ignoredPaths);
    FolderScanner::detectMovedFolders(scanned, previous);
    return scanned;
}

bool isReadableFolder(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isDir() && info.isReadable();
}

} // namespace

QCoro::Task<QList<SyncFolder>> SyncManager::scanForFullReconcile()
{
    // Copies taken here, on the UI thread: the worker sees the state as it was when the scan started.
    co_return co_await QtConcurrent::run(scanWithMoves, m_watchFolder, m_ignoredPaths, m_folders);
}

QCoro::Task<QList<SyncFolder>> SyncManager::scanForRefresh()
{
    co_return co_await QtConcurrent::run(FolderScanner::scanFolderTree, m_watchFolder, m_ignoredPaths);
}

// Scans the export folder and publishes what it found. Matching the folders with the service's galleries is not
// part of this run yet; it keeps every upload record waiting in pendingFolderUploads and saves nothing.
QCoro::Task<void> SyncManager::fullScanAndReconcile()
{
    if (!isReadableFolder(m_watchFolder)) {
        qCInfo(lcSync, "Cannot access watch folder — keeping existing state");
        co_return;
    }
    QPointer<SyncManager> self(this);
    const quint64 generation = m_watchFolderGeneration;
    setIsReconciling(true);
    setReconcileError(std::nullopt);
    QList<SyncFolder> scanned = co_await scanForFullReconcile();
    if (!self)
        co_return;
    if (generation != m_watchFolderGeneration) {
        qCInfo(lcSync, "The watch folder changed during the scan — discarding its result");
        setIsReconciling(false);
        co_return;
    }
    setFolders(scanned);
    setHasCompletedInitialReconcile(true);
    setIsReconciling(false);
}

QCoro::Task<void> SyncManager::runFullScanAndReconcile()
{
    QPointer<SyncManager> self(this);
    try {
        co_await fullScanAndReconcile();
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Full scan failed: %s", error.what());
        if (self)
            setIsReconciling(false);
    } catch (...) {
        qCCritical(lcSync, "Full scan failed");
        if (self)
            setIsReconciling(false);
    }
}
