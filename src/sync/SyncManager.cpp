#include "SyncManager.h"

#include "SyncLogging.h"
#include "platform/ExportFolderBookmark.h"
#include "platform/FileEventStream.h"
#include "service/AppSupport.h"
#include "service/VarnostimaAPI.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString lastComponent(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

SyncManager::SyncManager(QObject *parent)
    : SyncManager(appSupportDirectory(), SyncDelays{}, parent)
{
}

SyncManager::SyncManager(const QString &supportDirectory, SyncDelays delays, QObject *parent)
    : QObject(parent)
    , m_stateFilePath(supportDirectory + QLatin1Char('/') + stateFileName)
    , m_bookmarkFilePath(supportDirectory + QLatin1Char('/') + bookmarkFileName)
    , m_delays(delays)
    , m_api(&VarnostimaAPI::shared())
    , m_bookmark(std::make_unique<ExportFolderBookmark>(m_bookmarkFilePath))
    , m_stateStore(std::make_unique<SyncStateStore>(m_stateFilePath, delays.stateWrites))
{
    m_fsDebounceTimer.setSingleShot(true);
    m_fsDebounceTimer.setTimerType(Qt::PreciseTimer);
    m_fsDebounceTimer.setInterval(m_delays.refresh);
    m_autoSyncTimer.setSingleShot(true);
    m_autoSyncTimer.setTimerType(Qt::PreciseTimer);
    m_autoSyncTimer.setInterval(m_delays.autoSync);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &SyncManager::scheduleAutoSync);
    wireWatching();
    loadState();
}

// The state store's destructor writes the last snapshot before the manager is gone.
SyncManager::~SyncManager() = default;

const QSet<QString> &SyncManager::imageFileExtensions()
{
    static const QSet<QString> extensions{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                          QStringLiteral("webp")};
    return extensions;
}

// ---- observed state

void SyncManager::setFolders(const QList<SyncFolder> &folders)
{
    assign(m_folders, folders, &SyncManager::foldersChanged);
}

void SyncManager::setWatchFolderPath(const QString &path)
{
    assign(m_watchFolder, path, &SyncManager::watchFolderChanged);
}

void SyncManager::setIsReconciling(bool value)
{
    assign(m_isReconciling, value, &SyncManager::isReconcilingChanged);
}

void SyncManager::setHasCompletedInitialReconcile(bool value)
{
    assign(m_hasCompletedInitialReconcile, value, &SyncManager::hasCompletedInitialReconcileChanged);
}

void SyncManager::setReconcileError(const std::optional<QString> &error)
{
    assign(m_reconcileError, error, &SyncManager::reconcileErrorChanged);
}

void SyncManager::setOnUploadCompleted(UploadCompletedHandler handler)
{
    m_onUploadCompleted = std::move(handler);
    Q_EMIT onUploadCompletedChanged();
}

void SyncManager::setIsAccessingWatchFolder(bool value)
{
    assign(m_isAccessingWatchFolder, value, &SyncManager::isAccessingWatchFolderChanged);
}

void SyncManager::setIgnoredPaths(const QSet<QString> &paths)
{
    assign(m_ignoredPaths, paths, &SyncManager::ignoredPathsChanged);
}

void SyncManager::setKnownGalleryIds(const QSet<QString> &ids)
{
    assign(m_knownGalleryIds, ids, &SyncManager::knownGalleryIdsChanged);
}

void SyncManager::setIsAutoSyncing(bool value)
{
    assign(m_isAutoSyncing, value, &SyncManager::isAutoSyncingChanged);
}

void SyncManager::setNeedsResyncAfterAutoSync(bool value)
{
    assign(m_needsResyncAfterAutoSync, value, &SyncManager::needsResyncAfterAutoSyncChanged);
}

void SyncManager::setPendingFolderUploads(const PendingFolderUploads &uploads)
{
    assign(m_pendingFolderUploads, uploads, &SyncManager::pendingFolderUploadsChanged);
}

// ---- loading

void SyncManager::loadState()
{
    // The bookmark comes first: a restored bookmark wins over the state file's path.
    const std::optional<QString> restored = restoreBookmark();
    if (restored)
        setWatchFolderPath(*restored);

    const std::optional<SyncState> state = m_stateStore->load();
    if (!state)
        return;

    setIgnoredPaths(state->ignoredPaths);
    setKnownGalleryIds(state->knownGalleryIds);
    PendingFolderUploads pending;
    if (state->folderUploads) {
        for (const auto &[path, files] : *state->folderUploads)
            pending.insert(path, files);
    }
    setPendingFolderUploads(pending);

    // A path from the state file comes without access of its own; the full scan checks it can be read.
    if (!restored && state->watchFolder && !state->watchFolder->isEmpty())
        setWatchFolderPath(*state->watchFolder);
}

std::optional<QString> SyncManager::restoreBookmark()
{
    QString error;
    const std::optional<QByteArray> data = m_bookmark->read(&error);
    if (!data) {
        qCCritical(lcSync, "Failed to read bookmark data: %s", qUtf8Printable(error));
        return std::nullopt;
    }
    const std::optional<ExportFolderBookmark::Resolved> resolved = ExportFolderBookmark::resolve(*data, &error);
    if (!resolved) {
        qCCritical(lcSync, "Failed to resolve bookmark: %s", qUtf8Printable(error));
        return std::nullopt;
    }
    if (resolved->isStale)
        saveBookmark(resolved->path);
    // Access on this platform is plain file permission: it is granted, and the scan finds out if it reads.
    setIsAccessingWatchFolder(true);
    qCInfo(lcSync, "Restored security-scoped access to %s", qUtf8Printable(lastComponent(resolved->path)));
    return resolved->path;
}

// ---- the export folder

void SyncManager::saveBookmark(const QString &folderPath)
{
    QString error;
    const std::optional<QByteArray> data = ExportFolderBookmark::create(folderPath, &error);
    if (!data || !m_bookmark->write(*data, &error)) {
        qCCritical(lcSync, "Failed to save bookmark: %s", qUtf8Printable(error));
        return;
    }
    qCInfo(lcSync, "Saved security-scoped bookmark for %s", qUtf8Printable(lastComponent(folderPath)));
}

void SyncManager::stopAccessingWatchFolder()
{
    if (!m_isAccessingWatchFolder || m_watchFolder.isEmpty())
        return;
    setIsAccessingWatchFolder(false);
}

void SyncManager::stopWatchingAndAutoSync()
{
    if (m_fsStream)
        m_fsStream->stop();
    m_fsStream.reset();
    m_fsDebounceTimer.stop();
    m_autoSyncTimer.stop();
    m_retryTimer.stop();
    m_retries.clear();
    setNeedsResyncAfterAutoSync(false);
}

void SyncManager::setWatchFolder(const QString &path)
{
    if (path.isEmpty()) {
        // An empty path would read as the working directory: removing the folder is what the caller means.
        clearWatchFolder();
        return;
    }
    stopAccessingWatchFolder();
    ++m_watchFolderGeneration;
    setWatchFolderPath(path);
    saveBookmark(path);
    saveState();
    runFullScanAndReconcile();
}

void SyncManager::clearWatchFolder()
{
    stopWatchingAndAutoSync();
    stopAccessingWatchFolder();

    // The records go back to waiting, so choosing the same folder again finds them.
    PendingFolderUploads pending = m_pendingFolderUploads;
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        if (folder.uploadedFiles)
            pending.insert(folder.path, *folder.uploadedFiles);
    }
    setPendingFolderUploads(pending);
    ++m_watchFolderGeneration;
    setFolders({});
    setWatchFolderPath(QString());

    if (QFile::exists(m_bookmarkFilePath) && !QFile::remove(m_bookmarkFilePath))
        qCCritical(lcSync, "Failed to remove bookmark %s", qUtf8Printable(m_bookmarkFilePath));
    qCInfo(lcSync, "Cleared the watch folder");
    saveState();
}

// ---- saving

SyncState SyncManager::stateSnapshot() const
{
    FolderUploadList uploads;
    QHash<QString, qsizetype> indexOfPath; // path -> entry
    QSet<QString> listedPaths;
    for (const SyncFolder &folder : m_folders) {
        const QString &key = folder.path;
        listedPaths.insert(key);
        if (!folder.uploadedFiles)
            continue;
        const auto found = indexOfPath.constFind(key);
        if (found != indexOfPath.cend()) {
            uploads[*found].second = *folder.uploadedFiles; // a later folder of the same path wins
        } else {
            indexOfPath.insert(key, uploads.size());
            uploads.append({folder.path, *folder.uploadedFiles});
        }
    }
    // Records not yet attached to a scanned folder must survive a save (a save before the first reconcile, or
    // while the export folder's disk is away).
    for (auto it = m_pendingFolderUploads.cbegin(); it != m_pendingFolderUploads.cend(); ++it) {
        if (!listedPaths.contains(it.key()))
            uploads.append({it.key(), it.value()});
    }

    SyncState state;
    if (!m_watchFolder.isEmpty())
        state.watchFolder = m_watchFolder;
    state.ignoredPaths = m_ignoredPaths;
    state.knownGalleryIds = m_knownGalleryIds;
    if (!uploads.isEmpty())
        state.folderUploads = std::move(uploads);
    return state;
}

void SyncManager::saveState()
{
    m_stateStore->save(stateSnapshot());
}

void SyncManager::flushState()
{
    m_stateStore->flush();
}
