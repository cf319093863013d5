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
    , m_stateStore(std::make_shared<SyncStateStore>(m_stateFilePath, delays.stateWrites))
    , m_journal(std::make_unique<UploadJournal>(supportDirectory + QLatin1Char('/') + UploadJournal::fileName))
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
    wireWatching();
    loadState();
}

// The state store's destructor writes the last snapshot before the manager is gone.
SyncManager::~SyncManager()
{
    if (m_saveOwed)
        saveState();
}

const QSet<QString> &SyncManager::imageFileExtensions()
{
    static const QSet<QString> extensions{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                          QStringLiteral("webp")};
    return extensions;
}

// ---- observed state

void SyncManager::setFolders(const QList<SyncFolder> &folders)
{
    // Records that came from the state file or from an upload keep names of their own until they meet the scan's
    // cache: from here on each name is stored once.
    const bool unshared = std::any_of(folders.cbegin(), folders.cend(),
                                      [](const SyncFolder &folder) { return folder.needsSharedNames(); });
    QList<SyncFolder> shared;
    if (unshared) {
        shared = folders;
        for (SyncFolder &folder : shared) {
            if (folder.needsSharedNames())
                folder.shareNames();
        }
    }
    const QList<SyncFolder> &next = unshared ? shared : folders;
    if (m_folders == next)
        return;
    forgetPendingChangeAnswers(m_folders, next);
    notePathChanges(m_folders, next);
    m_folders = next;
    m_folderIndexStale = true;
    m_relativeIndexStale = true;
    m_statusCounts = FolderStatusCounts(m_folders);
    rebuildPassWork();
    updateGalleryLinks();
    Q_EMIT foldersChanged();
}

qsizetype SyncManager::folderIndex(const QString &path) const
{
    if (m_folderIndexStale) {
        m_folderIndex.clear();
        m_folderIndex.reserve(m_folders.size());
        for (qsizetype i = m_folders.size() - 1; i >= 0; --i) // the first of equal paths wins
            m_folderIndex.insert(m_folders.at(i).path, i);
        m_folderIndexStale = false;
    }
    return m_folderIndex.value(path, -1);
}

void SyncManager::setFolderEntry(qsizetype index, SyncFolder entry)
{
    Q_ASSERT(index >= 0 && index < m_folders.size() && m_folders.at(index).path == entry.path);
    if (entry.needsSharedNames())
        entry.shareNames();
    if (m_folders.at(index) == entry)
        return;
    m_pendingChangeAnswers.remove(entry.path);
    takeBackHeldSave();
    updateGalleryLink(entry);
    m_statusCounts.replace(m_folders.at(index), entry);
    if (m_folders.at(index).relativePath != entry.relativePath)
        m_relativeIndexStale = true;
    m_folders[index] = std::move(entry);
    notePassWork(m_folders.at(index));
    Q_EMIT foldersChanged();
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
    if (!assign(m_isAutoSyncing, value, &SyncManager::isAutoSyncingChanged))
        return;
    // A pass over the library saves once a folder: the writer paces those saves by the pass's length.
    if (value) {
        m_stateStore->beginPass();
        return;
    }
    if (m_saveOwed)
        saveState();
    m_stateStore->endPass();
}

void SyncManager::setNeedsResyncAfterAutoSync(bool value)
{
    assign(m_needsResyncAfterAutoSync, value, &SyncManager::needsResyncAfterAutoSyncChanged);
}

void SyncManager::setPendingFolderUploads(const PendingFolderUploads &uploads)
{
    if (!assign(m_pendingFolderUploads, uploads, &SyncManager::pendingFolderUploadsChanged))
        return;
    m_galleryLinks.removeIf([this](const auto &link) {
        return folderIndex(link.key()) < 0 && !m_pendingFolderUploads.contains(link.key());
    });
}

// ---- loading

void SyncManager::loadState()
{
    // The bookmark comes first: a restored bookmark wins over the state file's path.
    const std::optional<QString> restored = restoreBookmark();
    if (restored)
        setWatchFolderPath(*restored);

    const UploadJournal::Loaded journal = m_journal->load();
    m_journalLost = journal.lost;
    for (auto it = journal.entries.runs.cbegin(); it != journal.entries.runs.cend(); ++it)
        m_uploadsInFlight.insert(it.key(), it.value());
    for (auto it = journal.entries.replacements.cbegin(); it != journal.entries.replacements.cend(); ++it)
        m_replacements.insert(it.key(), it.value());

    const std::optional<SyncState> state = m_stateStore->load();
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
    // Runs that an older version kept in the state file move to the journal before a save drops them from there.
    bool moved = false;
    for (auto it = state->uploadsInFlight.cbegin(); it != state->uploadsInFlight.cend(); ++it) {
        if (!m_uploadsInFlight.contains(it.key())) {
            m_uploadsInFlight.insert(it.key(), it.value());
            moved = true;
        }
    }
    if (moved && !m_journal->write(journalEntries()).result()) {
        // The next save drops them from the state file: every gallery is asked before its next upload instead.
        qCCritical(lcSync, "Failed to move the runs in flight into the journal");
        m_journalLost = true;
    }

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

namespace {

// What a save writes, as shared copies of the manager's containers taken at the save; built when its write is due.
struct StateSources {
    QString watchFolder;
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    QSet<QString> dismissedGalleryIds;
    QList<SyncFolder> folders;
    PendingFolderUploads pendingUploads;
    QHash<QString, QString> galleryLinks;

    SyncState build() const
    {
        FolderUploadList uploads;
        QHash<QString, qsizetype> indexOfPath; // path -> entry
        QSet<QString> listedPaths;
        listedPaths.reserve(folders.size());
        for (const SyncFolder &folder : folders) {
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
        for (auto it = pendingUploads.cbegin(); it != pendingUploads.cend(); ++it) {
            if (!listedPaths.contains(it.key()))
                uploads.append({it.key(), it.value()});
        }

        SyncState state;
        if (!watchFolder.isEmpty())
            state.watchFolder = watchFolder;
        state.ignoredPaths = ignoredPaths;
        state.knownGalleryIds = knownGalleryIds;
        state.dismissedGalleryIds = dismissedGalleryIds;
        if (!uploads.isEmpty())
            state.folderUploads = std::move(uploads);
        // A folder gone from the list takes its link with it, unless its records wait for it.
        for (auto it = galleryLinks.cbegin(); it != galleryLinks.cend(); ++it) {
            if (listedPaths.contains(it.key()) || pendingUploads.contains(it.key()))
                state.folderGalleryIds.insert(it.key(), it.value());
        }
        return state;
    }
};

} // namespace

void SyncManager::saveState()
{
    m_saveOwed = false;
    // Records and links a reconcile gives back may wait for the writer's pace during a pass; anything else that
    // changed is written promptly.
    const bool decisions = !m_lastSaved || m_lastSaved->watchFolder != m_watchFolder
                           || m_lastSaved->ignoredPaths != m_ignoredPaths
                           || m_lastSaved->knownGalleryIds != m_knownGalleryIds
                           || m_lastSaved->dismissedGalleryIds != m_dismissedGalleryIds;
    m_lastSaved = SavedDecisions{m_watchFolder, m_ignoredPaths, m_knownGalleryIds, m_dismissedGalleryIds};
    // The writer builds the state on its thread, when its write is due, from shared copies of the lists as they
    // are now: a save costs the UI thread nothing in proportion to the library. The runs in flight are the
    // journal's: a run costs a few hundred bytes, not this file.
    const StateSources sources{m_watchFolder, m_ignoredPaths,         m_knownGalleryIds, m_dismissedGalleryIds,
                               m_folders,     m_pendingFolderUploads, m_galleryLinks};
    m_stateStore->save([sources] { return sources.build(); },
                       decisions ? SyncStateStore::Contents::decisions : SyncStateStore::Contents::recordsOnly);
}

void SyncManager::takeBackHeldSave()
{
    // A save waiting for its write shares the list: editing it would copy the whole library. The save is taken
    // back and made again once this turn of the event loop is over.
    if (m_folders.isDetached() || !m_stateStore->withdraw())
        return;
    if (std::exchange(m_saveOwed, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_saveOwed)
                saveState();
        },
        Qt::QueuedConnection);
}

void SyncManager::updateGalleryLink(const SyncFolder &folder)
{
    // A folder whose run is under way or failed keeps the link it had.
    if (folder.status.is(SyncStatus::Case::synced))
        m_galleryLinks.insert(folder.path, folder.status.galleryId());
    else if (folder.status.is(SyncStatus::Case::removedLocally))
        m_galleryLinks.remove(folder.path);
}

void SyncManager::updateGalleryLinks()
{
    QSet<QString> listed;
    listed.reserve(m_folders.size());
    for (const SyncFolder &folder : std::as_const(m_folders)) {
        listed.insert(folder.path);
        updateGalleryLink(folder);
    }
    m_galleryLinks.removeIf([this, &listed](const auto &link) {
        return !listed.contains(link.key()) && !m_pendingFolderUploads.contains(link.key());
    });
}

QString SyncManager::storedGalleryId(const QString &folderPath) const
{
    return m_galleryLinks.value(folderPath);
}

std::optional<UploadInFlight> SyncManager::uploadInFlight(const QString &folderPath) const
{
    const auto found = m_uploadsInFlight.constFind(folderPath);
    return found == m_uploadsInFlight.cend() ? std::nullopt : std::optional(*found);
}

bool SyncManager::needsGalleryCheck(const QString &folderPath) const
{
    return m_galleryChecks.contains(folderPath) || m_uploadsInFlight.contains(folderPath);
}

void SyncManager::galleryChecked(const QString &folderPath)
{
    m_galleryChecks.remove(folderPath);
    if (m_uploadsInFlight.remove(folderPath))
        writeJournal();
}

// ---- the journal

UploadJournalEntries SyncManager::journalEntries() const
{
    UploadJournalEntries entries;
    for (auto it = m_uploadsInFlight.cbegin(); it != m_uploadsInFlight.cend(); ++it)
        entries.runs.insert(it.key(), it.value());
    for (auto it = m_replacements.cbegin(); it != m_replacements.cend(); ++it)
        entries.replacements.insert(it.key(), it.value());
    return entries;
}

void SyncManager::writeJournal()
{
    m_journal->write(journalEntries());
}

QCoro::Task<void> SyncManager::noteUploadInFlight(QString folderPath, QString galleryId, QStringList fileNames)
{
    const std::optional<UploadInFlight> earlier = uploadInFlight(folderPath);
    m_uploadsInFlight.insert(folderPath, {galleryId, fileNames});
    QPointer<SyncManager> self(this);
    QFuture<bool> written = m_journal->write(journalEntries());
    if (co_await written)
        co_return;
    // Not on the disk: the run does not start, so a kill cannot leave an unnoted confirmation behind.
    if (self && earlier)
        self->m_uploadsInFlight.insert(folderPath, *earlier);
    else if (self)
        self->m_uploadsInFlight.remove(folderPath);
    throw SyncManagerError::unsaved();
}

void SyncManager::endUploadInFlight(const QString &folderPath, bool outcomeKnown)
{
    if (outcomeKnown) {
        if (m_uploadsInFlight.remove(folderPath))
            writeJournal();
        return;
    }
    // The run stays in the journal: a start after a kill asks the gallery too.
    m_galleryChecks.insert(folderPath);
}

QCoro::Task<void> SyncManager::noteReplacement(QString folderPath, QString galleryId, QString fileName)
{
    const std::optional<UploadInFlight> earlier =
        m_replacements.contains(folderPath) ? std::optional(m_replacements.value(folderPath)) : std::nullopt;
    UploadInFlight &entry = m_replacements[folderPath];
    if (entry.galleryId != galleryId)
        entry = {galleryId, {}}; // the folder's gallery changed: what was noted for the old one is moot
    if (!replacedNames(folderPath, galleryId).contains(unicodenames::canonical(fileName)))
        entry.fileNames.append(fileName);
    QPointer<SyncManager> self(this);
    QFuture<bool> written = m_journal->write(journalEntries());
    if (co_await written)
        co_return;
    if (self && earlier)
        self->m_replacements.insert(folderPath, *earlier);
    else if (self)
        self->m_replacements.remove(folderPath);
    throw SyncManagerError::unsaved();
}

QSet<QString> SyncManager::replacedNames(const QString &folderPath, const QString &galleryId) const
{
    QSet<QString> names;
    const auto found = m_replacements.constFind(folderPath);
    if (found != m_replacements.cend() && found->galleryId == galleryId) {
        for (const QString &name : found->fileNames)
            names.insert(unicodenames::canonical(name));
    }
    return names;
}

bool SyncManager::dropReplacedNames(const QString &folderPath, const QString &galleryId,
                                    const QSet<QString> &canonicalNames)
{
    const auto found = m_replacements.find(folderPath);
    if (found == m_replacements.end() || found->galleryId != galleryId)
        return false;
    const qsizetype removed = found->fileNames.removeIf(
        [&](const QString &name) { return canonicalNames.contains(unicodenames::canonical(name)); });
    if (found->fileNames.isEmpty())
        m_replacements.erase(found);
    return removed > 0;
}

void SyncManager::finishReplacements(const QString &folderPath, const QString &galleryId,
                                     const QStringList &fileNames)
{
    QSet<QString> names;
    for (const QString &name : fileNames)
        names.insert(unicodenames::canonical(name));
    if (dropReplacedNames(folderPath, galleryId, names))
        writeJournal();
}

std::optional<SyncStateStore::Unwritten> SyncManager::flushState()
{
    if (m_saveOwed)
        saveState();
    m_journal->waitForWrites();
    return m_stateStore->flush();
}
