#include "SyncManager.h"

#include "SyncErrors.h"
#include "SyncLogging.h"
#include "UnicodeNames.h"
#include "platform/DiskRecovery.h"
#include "platform/ExportFolderBookmark.h"
#include "platform/FileEventStream.h"
#include "service/AppSupport.h"
#include "service/VarnostimaAPI.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

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
    , m_bookmarkWrites([](const QString &, const QString &error) {
        qCCritical(lcSync, "Failed to save bookmark: %s", qUtf8Printable(error));
    })
    , m_ledger(std::make_unique<StateLedger>(supportDirectory))
{
    m_fsDebounceTimer.setSingleShot(true);
    m_fsDebounceTimer.setTimerType(Qt::PreciseTimer);
    m_fsDebounceTimer.setInterval(m_delays.refresh);
    m_autoSyncTimer.setSingleShot(true);
    m_autoSyncTimer.setTimerType(Qt::PreciseTimer);
    m_autoSyncTimer.setInterval(m_delays.autoSync);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &SyncManager::scheduleAutoSync);
    m_reconcileRetryTimer.setSingleShot(true);
    connect(&m_reconcileRetryTimer, &QTimer::timeout, this, &SyncManager::retryReconcile);
    connect(&DiskRecovery::instance(), &DiskRecovery::diskIsBack, this, &SyncManager::retryFoldersFailedForTheDisk);
    connect(&DiskRecovery::instance(), &DiskRecovery::diskIsBack, this, [this] { m_ledger->retryNow(); });
    wireWatching();
    loadState();
}

// The ledger's destructor writes what is held before the manager is gone.
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
    if (m_folders.replace(folders))
        Q_EMIT foldersChanged();
}

void SyncManager::setFolderEntry(qsizetype index, SyncFolder entry)
{
    if (m_folders.edit(index, std::move(entry)))
        Q_EMIT foldersChanged();
}

void SyncManager::entryEdited(qsizetype index, const SyncFolder &before)
{
    const SyncFolder &entry = m_folders.at(index);
    m_pendingChangeAnswers.remove(entry.path);
    updateGalleryLink(entry);
    notePassWork(entry);
    Q_EMIT folderEntryChanged(index, before);
}

void SyncManager::entryAppended(qsizetype index)
{
    const SyncFolder &entry = m_folders.at(index);
    if (m_refreshesRunning > 0)
        m_pathChanges.append({entry.path, false});
    updateGalleryLink(entry);
    notePassWork(entry);
    Q_EMIT folderEntryAppended(index);
}

void SyncManager::listReplaced(const QList<SyncFolder> &before)
{
    forgetPendingChangeAnswers(before, m_folders);
    notePathChanges(before, m_folders);
    rebuildPassWork();
    updateGalleryLinks();
    Q_EMIT folderListReplaced();
}

// Keeps the answers of the entries that stayed as they were; comparing them costs little, as an entry that did
// not change shares its records and caches with its earlier self.
void SyncManager::forgetPendingChangeAnswers(const QList<SyncFolder> &before, const QList<SyncFolder> &after)
{
    if (m_pendingChangeAnswers.isEmpty())
        return;
    const auto samePlaces = [&] {
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (before.at(i).path != after.at(i).path)
                return false;
        }
        return true;
    };
    if (before.size() == after.size() && samePlaces()) {
        // The common case: one entry's status or records changed in place.
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (!(before.at(i) == after.at(i)))
                m_pendingChangeAnswers.remove(after.at(i).path);
        }
        return;
    }
    QHash<QString, const SyncFolder *> beforeByPath;
    beforeByPath.reserve(before.size());
    for (const SyncFolder &folder : before)
        beforeByPath.insert(folder.path, &folder);
    QHash<QString, bool> kept;
    for (const SyncFolder &folder : after) {
        const auto answer = m_pendingChangeAnswers.constFind(folder.path);
        if (answer == m_pendingChangeAnswers.cend())
            continue;
        const SyncFolder *earlier = beforeByPath.value(folder.path);
        if (earlier && *earlier == folder)
            kept.insert(folder.path, *answer);
    }
    m_pendingChangeAnswers = std::move(kept);
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
    if (!assign(m_pendingFolderUploads, uploads, &SyncManager::pendingFolderUploadsChanged))
        return;
    dropGalleryLinks([this](const QString &path) {
        return folderIndex(path) < 0 && !m_pendingFolderUploads.contains(path);
    });
}

// ---- loading

void SyncManager::loadState()
{
    // The bookmark comes first: a restored bookmark wins over the state file's path.
    const std::optional<QString> restored = restoreBookmark();
    if (restored)
        setWatchFolderPath(*restored);

    const StateLedger::Loaded loaded = m_ledger->load();
    m_runBook.load(loaded.entries, loaded.runsLost);
    const std::optional<SyncState> &state = loaded.state;
    if (!state)
        return;

    setIgnoredPaths(state->ignoredPaths);
    setKnownGalleryIds(state->knownGalleryIds);
    m_dismissedGalleryIds = state->dismissedGalleryIds;
    PendingFolderUploads pending;
    if (state->folderUploads) {
        for (const auto &[path, files] : *state->folderUploads)
            pending.insert(path, files);
    }
    setPendingFolderUploads(pending);
    for (auto it = state->folderGalleryIds.cbegin(); it != state->folderGalleryIds.cend(); ++it)
        m_galleryLinks.insert(it.key(), it.value());

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
    if (!data) {
        qCCritical(lcSync, "Failed to save bookmark: %s", qUtf8Printable(error));
        return;
    }
    if (!m_bookmarkWrites.write(m_bookmarkFilePath, *data))
        return; // logged, and tried again until it is on disk
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
    stopWatching();
    m_autoSyncTimer.stop();
    m_retryTimer.stop();
    m_retries.clear();
    m_reconcileRetryTimer.stop();
    m_reconcileFailures = 0;
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

    m_bookmarkWrites.forget(m_bookmarkFilePath);
    if (QFile::exists(m_bookmarkFilePath) && !QFile::remove(m_bookmarkFilePath))
        qCCritical(lcSync, "Failed to remove bookmark %s", qUtf8Printable(m_bookmarkFilePath));
    qCInfo(lcSync, "Cleared the watch folder");
    saveState();
}

// ---- saving

StateLedger::Ticket SyncManager::saveState()
{
    return m_ledger->save({m_watchFolder, m_ignoredPaths, m_knownGalleryIds, m_dismissedGalleryIds, m_folders,
                           m_pendingFolderUploads, m_galleryLinks, m_runBook.entries(), m_folders.takePlacesToSave()});
}

StateLedger::Ticket SyncManager::saveRecords(const QString &folderPath)
{
    m_runBook.recordsSaved(folderPath);
    return saveState();
}

QCoro::Task<void> SyncManager::ensureSaved()
{
    QFuture<bool> written = m_ledger->whenOnDisk(saveState());
    if (!co_await written)
        throw SyncManagerError::unsaved();
}

// The ledger keeps a copy of the links it saved: a write, even of the same value, would copy every link.
void SyncManager::updateGalleryLink(const SyncFolder &folder)
{
    // A folder whose run is under way or failed keeps the link it had.
    if (folder.status.is(SyncStatus::Case::synced)) {
        const auto found = m_galleryLinks.constFind(folder.path);
        if (found == m_galleryLinks.cend() || *found != folder.status.galleryId())
            m_galleryLinks.insert(folder.path, folder.status.galleryId());
    } else if (folder.status.is(SyncStatus::Case::removedLocally) && m_galleryLinks.contains(folder.path)) {
        m_galleryLinks.remove(folder.path);
    }
}

void SyncManager::updateGalleryLinks()
{
    QSet<QString> listed;
    listed.reserve(m_folders.size());
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        listed.insert(folder.path);
        updateGalleryLink(folder);
    }
    dropGalleryLinks([this, &listed](const QString &path) {
        return !listed.contains(path) && !m_pendingFolderUploads.contains(path);
    });
}

void SyncManager::dropGalleryLinks(const std::function<bool(const QString &path)> &gone)
{
    QStringList paths;
    for (auto it = m_galleryLinks.cbegin(); it != m_galleryLinks.cend(); ++it) {
        if (gone(it.key()))
            paths.append(it.key());
    }
    for (const QString &path : std::as_const(paths))
        m_galleryLinks.remove(path);
}

QString SyncManager::storedGalleryId(const QString &folderPath) const
{
    return m_galleryLinks.value(folderPath);
}

std::optional<UploadInFlight> SyncManager::uploadInFlight(const QString &folderPath) const
{
    return m_runBook.run(folderPath);
}

bool SyncManager::needsGalleryCheck(const QString &folderPath) const
{
    return m_runBook.needsGalleryCheck(folderPath);
}

void SyncManager::galleryChecked(const QString &folderPath)
{
    m_runBook.galleryChecked(folderPath);
}

QCoro::Task<void> SyncManager::noteUploadInFlight(QString folderPath, QString galleryId, QStringList fileNames)
{
    const std::optional<UploadInFlight> earlier = m_runBook.noteRun(folderPath, galleryId, fileNames);
    QPointer<SyncManager> self(this);
    QFuture<bool> written = m_ledger->whenOnDisk(saveState());
    if (co_await written)
        co_return;
    // Not on the disk: the run does not start, so a kill cannot leave an unnoted confirmation behind.
    if (self)
        self->m_runBook.restoreRun(folderPath, earlier);
    throw SyncManagerError::unsaved();
}

QCoro::Task<void> SyncManager::noteReplacement(QString folderPath, QString galleryId, QString fileName)
{
    const std::optional<UploadInFlight> earlier = m_runBook.noteReplacement(folderPath, galleryId, fileName);
    QPointer<SyncManager> self(this);
    QFuture<bool> written = m_ledger->whenOnDisk(saveState());
    if (co_await written)
        co_return;
    if (self)
        self->m_runBook.restoreReplacement(folderPath, earlier);
    throw SyncManagerError::unsaved();
}

QSet<QString> SyncManager::replacedNames(const QString &folderPath, const QString &galleryId) const
{
    return m_runBook.replacedNames(folderPath, galleryId);
}

void SyncManager::finishReplacements(const QString &folderPath, const QString &galleryId,
                                     const QStringList &fileNames)
{
    m_runBook.finishReplacements(folderPath, galleryId, fileNames);
}

std::optional<SyncStateStore::Unwritten> SyncManager::flushState()
{
    return m_ledger->flush();
}
