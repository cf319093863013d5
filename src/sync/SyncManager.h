#pragma once

// The sync engine's one observable object: the views observe its properties and call its operations.
//
// It is a façade. Each algorithm lives in a file of its own, so a reader finds "what a scan does" in one place:
//   SyncFolder.*            the value records and the rules computed from them
//   StateLedger.*           what is on disk ("sync-state.json", its log, "upload-runs.json") and its writer
//   UploadRunBook.*         the runs in flight and the replacements under way
//   FolderScanner.*         the walk of the export folder and the per-folder file checks
//   SyncManager.cpp         construction, the observed state, the export folder and its bookmark, saving
//   SyncManagerReconcile.cpp  the full scan of the export folder
// Lives on the UI thread; disk work runs on other threads and comes back through co_await.

#include "platform/AtomicFile.h"
#include "FolderList.h"
#include "FolderScanner.h"
#include "FolderStatusCounts.h"
#include "RecentUpload.h"
#include "SyncFolder.h"
#include "StateLedger.h"
#include "UploadRunBook.h"
#include "UploadResults.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ExportFolderBookmark;
class GalleryCatalog;
class FileEventStream;
struct FileChanges;
class VarnostimaAPI;
struct SyncStateResponse;

// The waits of watching and automatic sync; tests make them short.
struct SyncDelays {
    std::chrono::milliseconds refresh{500};       // after a file-system change, before the rescan
    std::chrono::milliseconds autoSync{3000};     // after a rescan, before automatic sync runs
    std::chrono::milliseconds streamLatency{2000}; // the event stream's coalescing window
    std::chrono::milliseconds firstRetry{60000};  // before automatic sync retries a failed folder, doubling
    std::chrono::milliseconds maxRetry{3600000};  // up to this
    // An image written within this span may still be being written: it waits for a pass after it settles.
    std::chrono::milliseconds settle{2000};
    // The wall clock the settling is measured against, in seconds since the reference date; empty: the real one.
    std::function<double()> clock;
    // A pass's copy of the gallery list older than this is read again before a first sync makes a gallery the copy
    // lacks: a gallery made on the web meanwhile is adopted, at the cost of a read per this span of the pass.
    std::chrono::milliseconds galleryListMaxAge{30000};
};

class SyncManager : public QObject, private FolderList::Listener
{
    Q_OBJECT
    Q_PROPERTY(QList<SyncFolder> folders READ folders WRITE setFolders NOTIFY foldersChanged)
    Q_PROPERTY(QString watchFolder READ watchFolder NOTIFY watchFolderChanged)
    Q_PROPERTY(bool isReconciling READ isReconciling WRITE setIsReconciling NOTIFY isReconcilingChanged)
    Q_PROPERTY(bool hasCompletedInitialReconcile READ hasCompletedInitialReconcile
                   WRITE setHasCompletedInitialReconcile NOTIFY hasCompletedInitialReconcileChanged)
    Q_PROPERTY(QString reconcileError READ reconcileErrorText NOTIFY reconcileErrorChanged)
    Q_PROPERTY(bool isAccessingWatchFolder READ isAccessingWatchFolder NOTIFY isAccessingWatchFolderChanged)
    Q_PROPERTY(QSet<QString> ignoredPaths READ ignoredPaths WRITE setIgnoredPaths NOTIFY ignoredPathsChanged)
    Q_PROPERTY(QSet<QString> knownGalleryIds READ knownGalleryIds WRITE setKnownGalleryIds
                   NOTIFY knownGalleryIdsChanged)
    Q_PROPERTY(bool isAutoSyncing READ isAutoSyncing WRITE setIsAutoSyncing NOTIFY isAutoSyncingChanged)
    Q_PROPERTY(bool needsResyncAfterAutoSync READ needsResyncAfterAutoSync WRITE setNeedsResyncAfterAutoSync
                   NOTIFY needsResyncAfterAutoSyncChanged)
    Q_PROPERTY(PendingFolderUploads pendingFolderUploads READ pendingFolderUploads WRITE setPendingFolderUploads
                   NOTIFY pendingFolderUploadsChanged)

public:
    // Arguments in order: kind, gallery id, gallery slug, title (the folder's display name), images uploaded or
    // replaced, the folder's path. Closures that need their owner hold it through a QPointer.
    using UploadCompletedHandler = std::function<void(UploadKind, const QString &, const QString &, const QString &,
                                                      qint64, const QString &)>;
    using LocalFileMeta = ::LocalFileMeta;

    static constexpr QLatin1StringView stateFileName{"sync-state.json"};
    static constexpr QLatin1StringView bookmarkFileName{"watch-folder.bookmark"};

    // The application's one manager: its files in the application-support folder.
    explicit SyncManager(QObject *parent = nullptr);
    // Its files ("sync-state.json", "watch-folder.bookmark") in supportDirectory; tests pass a temporary folder
    // and short delays. Loads the stored state (the bookmark first); starts no scan, stream or timer.
    explicit SyncManager(const QString &supportDirectory, SyncDelays delays = {}, QObject *parent = nullptr);
    ~SyncManager() override;

    // ---- observed state
    const QList<SyncFolder> &folders() const { return m_folders.entries(); }
    void setFolders(const QList<SyncFolder> &folders);
    // The place of the entry with this path in folders() (the first, should two share it); -1 when none. Paths
    // compare exactly: names that differ only in Unicode normalisation are two folders on disk. Looked up in a
    // table kept beside the list, so a change of one entry does not walk the library.
    qsizetype folderIndex(const QString &path) const { return m_folders.indexOf(path); }
    // Replaces the entry at index (same path) as setFolders would replace the whole list: notifies only when it
    // differs, and costs the one entry.
    void setFolderEntry(qsizetype index, SyncFolder entry);
    // How many entries of folders() are in each status; kept with the list, so reading it costs nothing.
    const FolderStatusCounts &statusCounts() const { return m_folders.statusCounts(); }
    // The export folder's path; empty when none is set.
    const QString &watchFolder() const { return m_watchFolder; }
    bool hasWatchFolder() const { return !m_watchFolder.isEmpty(); }
    bool isReconciling() const { return m_isReconciling; }
    void setIsReconciling(bool value);
    bool hasCompletedInitialReconcile() const { return m_hasCompletedInitialReconcile; }
    void setHasCompletedInitialReconcile(bool value);
    const std::optional<QString> &reconcileError() const { return m_reconcileError; }
    QString reconcileErrorText() const { return m_reconcileError.value_or(QString()); }
    void setReconcileError(const std::optional<QString> &error);
    const UploadCompletedHandler &onUploadCompleted() const { return m_onUploadCompleted; }
    void setOnUploadCompleted(UploadCompletedHandler handler); // notifies on every write
    bool isAccessingWatchFolder() const { return m_isAccessingWatchFolder; }
    const QSet<QString> &ignoredPaths() const { return m_ignoredPaths; }
    void setIgnoredPaths(const QSet<QString> &paths);
    const QSet<QString> &knownGalleryIds() const { return m_knownGalleryIds; }
    void setKnownGalleryIds(const QSet<QString> &ids);
    // Galleries removed locally whose placeholder the user dismissed: no reconcile brings it back.
    const QSet<QString> &dismissedGalleryIds() const { return m_dismissedGalleryIds; }
    bool isAutoSyncing() const { return m_isAutoSyncing; }
    void setIsAutoSyncing(bool value);
    bool needsResyncAfterAutoSync() const { return m_needsResyncAfterAutoSync; }
    void setNeedsResyncAfterAutoSync(bool value);
    // Upload records read from the state file, waiting for a reconcile to attach them to scanned folders.
    const PendingFolderUploads &pendingFolderUploads() const { return m_pendingFolderUploads; }
    void setPendingFolderUploads(const PendingFolderUploads &uploads);

    const QString &stateFilePath() const { return m_stateFilePath; }
    const QString &bookmarkFilePath() const { return m_bookmarkFilePath; }
    const SyncDelays &delays() const { return m_delays; }

    // The service client every operation talks to: the process-wide one unless a test sets its own.
    VarnostimaAPI &api() const { return *m_api; }
    void setAPI(VarnostimaAPI &api) { m_api = &api; }

    // ---- the export folder
    // Adopts a newly chosen export folder: releases the old one, stores the new one, saves its bookmark and the
    // state, then starts a full scan. An empty path clears the export folder instead (see clearWatchFolder).
    void setWatchFolder(const QString &path);
    // Forgets the export folder: stops watching and automatic sync, removes the bookmark, empties the folder list
    // (keeping the folders' upload records for a later return of the same folder) and saves. Starts no scan.
    void clearWatchFolder();

    // ---- the state on disk
    // Hands the state to the ledger's writer; returns its ticket. Never fails to the caller.
    StateLedger::Ticket saveState();
    // Saves, and throws SyncManagerError::unsaved() unless everything saved so far reached the disk: awaited before
    // any request that acts on what the service told the app.
    QCoro::Task<void> ensureSaved();
    // Blocks until everything saved is on disk or the attempt to write it failed (for the end of the process and
    // for tests); says what of the state is not on disk.
    std::optional<SyncStateStore::Unwritten> flushState();
    StateLedger &ledger() const { return *m_ledger; }

    // ---- the full scan
    QCoro::Task<void> fullScanAndReconcile();

    // ---- scanning, off the UI thread
    struct TreeScan {
        QList<SyncFolder> folders;
        QStringList unreadable; // directories that exist but could not be read: their folders are unknown
    };
    // The scan of a full scan: the folder tree with moved folders marked against the current folder list.
    QCoro::Task<TreeScan> scanForFullReconcile();
    // The scan of a refresh after file-system changes: the folder tree alone, or only the parts the scope names.
    QCoro::Task<TreeScan> scanForRefresh(RefreshScope scope = RefreshScope::everything());

    // ---- file checks that need no instance (any thread unless noted)
    static void scanDirectory(const QString &directory, const QStringList &parentComponents,
                              const QSet<QString> &ignoredPaths, QList<SyncFolder> &result)
    {
        FolderScanner::scanDirectory(directory, parentComponents, ignoredPaths, result);
    }
    static QList<SyncFolder> scanFolderTree(const QString &exportFolder, const QSet<QString> &ignoredPaths)
    {
        return FolderScanner::scanFolderTree(exportFolder, ignoredPaths);
    }
    static void detectMovedFolders(QList<SyncFolder> &scanned, const QList<SyncFolder> &previous)
    {
        FolderScanner::detectMovedFolders(scanned, previous);
    }
    static QStringList listImages(const QString &folder) { return FolderScanner::listImages(folder); }
    static QStringList listImagesDetached(const QString &folder) { return FolderScanner::listImagesDetached(folder); }
    static LocalFileMetaMap localFileMetadata(const QStringList &images)
    {
        return FolderScanner::localFileMetadata(images);
    }
    static QList<UploadedFileMeta> uploadedMetaList(const QStringList &fileNames, const LocalFileMetaMap &metadata)
    {
        return FolderScanner::uploadedMetaList(fileNames, metadata);
    }
    static FolderScanner::FileChanges detectModifiedFiles(const QStringList &images, const LocalFileMetaMap &metadata,
                                                          const QList<UploadedFileMeta> &records)
    {
        return FolderScanner::detectModifiedFiles(images, metadata, records);
    }
    static std::optional<QString> mimeTypeForExtension(QStringView extension)
    {
        return ::mimeTypeForExtension(extension);
    }
    static const QSet<QString> &imageFileExtensions();

    // ---- what a save keeps beyond the folder records
    // The gallery the folder is linked to, as the next save writes it (or the state file at start); empty when none.
    QString storedGalleryId(const QString &folderPath) const;
    // A run whose confirmation may have reached the service: noted in the journal, on the disk, before the run asks
    // for its upload URLs, so that after a kill the next run asks the gallery what it holds.
    std::optional<UploadInFlight> uploadInFlight(const QString &folderPath) const;
    // "upload-runs.json" beside the state file.
    const QString &uploadJournalPath() const { return m_ledger->journalFilePath(); }
    // Notes on the disk that this app is about to delete the old version of the image to replace
    // it. Throws SyncManagerError when it cannot be written: the old version must then stay.
    QCoro::Task<void> noteReplacement(QString folderPath, QString galleryId, QString fileName);
    // The canonical names of the folder's images whose old version this app deleted and whose new version the
    // gallery does not hold yet: the service may list them as deleted, but the user did not delete them.
    QSet<QString> replacedNames(const QString &folderPath, const QString &galleryId) const;
    // The gallery holds these images (new versions, canonical names or not): their replacements are finished.
    void finishReplacements(const QString &folderPath, const QString &galleryId, const QStringList &fileNames);
    // True while what the gallery holds is unsure: a run whose confirmation got no answer, or records built from
    // the service's listing at a reconcile, which may predate a confirmation. The next upload of the folder asks
    // the gallery first.
    bool needsGalleryCheck(const QString &folderPath) const;
    // The gallery was asked: what it holds counts from here on.
    void galleryChecked(const QString &folderPath);
    // Saves the folder's new records, and with them the end of its confirmed run.
    StateLedger::Ticket saveRecords(const QString &folderPath);

    // ---- uploading: first sync, the upload pipeline, folder update (SyncManagerFirstSync.cpp,
    // SyncManagerUpload.cpp, SyncManagerUpdate.cpp)
    // Turns a folder without a gallery into one; never throws, every failure ends in the folder's status. Called
    // by the user, it also starts the retries of a failed folder afresh.
    QCoro::Task<void> syncFolder(SyncFolder folder);
    // Brings a synced folder's gallery up to date with the disk; never throws.
    QCoro::Task<void> updateFolder(SyncFolder folder);
    // How long automatic sync waits before it retries a folder that failed `failures` times in a row.
    std::chrono::milliseconds retryDelay(int failures) const;
    // True when the image's size or time changed too recently for it to be a finished file.
    bool isSettling(const LocalFileMeta &meta) const;
    // Puts the files (absolute paths) into the gallery, four at a time; records nothing. Throws.
    QCoro::Task<UploadBatchResult> uploadFiles(QStringList files, QString galleryId, SyncFolder folder);
    // One file to its presigned entry, failing when it no longer holds the size it was described with; never throws.
    QCoro::Task<FileUploadOutcome> uploadOneFile(PresignedResponse::PresignedURL entry, QString filePath,
                                                 std::optional<qint64> declaredSize = std::nullopt);
    // Test seam: called as the upload pipeline is about to describe its files, and again before it sends them.
    enum class UploadStep { describing, sending };
    using UploadStepHook = std::function<void(UploadStep, const QStringList &files)>;
    void setUploadStepHook(UploadStepHook hook) { m_uploadStepHook = std::move(hook); }
    // The first gallery, over all pages of the list, titled `title` (canonical equivalence). Throws, also when the
    // list repeats a cursor or runs past the page limit (tests set a small one).
    QCoro::Task<std::optional<Gallery>> findExistingGallery(QString title);
    // Every gallery of the list, in its order; throws as findExistingGallery does.
    QCoro::Task<QList<Gallery>> readGalleryList();
    // The gallery of that title a first sync of the folder at folderPath may adopt: for a run of automatic sync,
    // from the list the running pass read at its first use, read again when the answer would make a new gallery
    // and the copy is older than SyncDelays::galleryListMaxAge; from a walk of the list otherwise. Throws.
    QCoro::Task<std::optional<Gallery>> existingGallery(QString title, QString folderPath, bool fromPassList);
    // The gallery the folder at folderPath was linked to (its saved link, else the gallery of its run in flight) while
    // the list still holds it: from the running pass's list, as existingGallery; nothing, and no request, for a
    // folder never linked. Throws.
    QCoro::Task<std::optional<Gallery>> linkedGallery(QString folderPath, bool fromPassList);
    // Whether a folder other than the one at path holds the gallery: a synced one linked to it, or one whose run
    // made or adopted it and has not ended.
    bool galleryHeldByOtherFolder(const QString &path, const QString &galleryId) const;
    // A run's hold on the gallery it makes or adopts, from take() until the hold goes with the run.
    class GalleryHold
    {
    public:
        GalleryHold(SyncManager &manager, QString path) : m_manager(&manager), m_path(std::move(path)) {}
        ~GalleryHold();
        GalleryHold(const GalleryHold &) = delete;
        GalleryHold &operator=(const GalleryHold &) = delete;
        void take(const QString &galleryId);

    private:
        QPointer<SyncManager> m_manager;
        QString m_path;
        QString m_galleryId;
    };
    // What the running pass's list must know of galleries made, filled or deleted meanwhile.
    void noteGalleryCreated(const Gallery &gallery);
    void noteGalleryImages(const QString &galleryId, qint64 uploaded);
    void noteGalleryDeleted(const QString &galleryId);
    void setGalleryPageLimit(int pages) { m_galleryPageLimit = pages; }
    // The id of the deepest server folder of the folder's parent path, created where missing. Throws.
    QCoro::Task<std::optional<QString>> ensureRemoteFolder(SyncFolder folder);
    static QString folderNameForServer(const QString &component);

Q_SIGNALS:
    void foldersChanged();
    // Finer notices of the change that the next foldersChanged announces, for views that keep what they show an
    // entry at a time: the entry at index replaced in place (before: what it was), an entry appended at index, or
    // the whole list replaced.
    void folderEntryChanged(qsizetype index, const SyncFolder &before);
    void folderEntryAppended(qsizetype index);
    void folderListReplaced();
    void watchFolderChanged();
    void isReconcilingChanged();
    void hasCompletedInitialReconcileChanged();
    void reconcileErrorChanged();
    void onUploadCompletedChanged();
    void isAccessingWatchFolderChanged();
    void ignoredPathsChanged();
    void knownGalleryIdsChanged();
    void isAutoSyncingChanged();
    void needsResyncAfterAutoSyncChanged();
    void pendingFolderUploadsChanged();
    // Internal: the watches a full scan waits for are in place, or their stream was stopped.
    void watchSetupEnded();

private:
    // Stores the value and emits the signal only when it differs from what is stored.
    template<typename T>
    bool assign(T &field, const T &value, void (SyncManager::*changed)())
    {
        if (field == value)
            return false;
        field = value;
        Q_EMIT(this->*changed)();
        return true;
    }

    void setWatchFolderPath(const QString &path);
    void setIsAccessingWatchFolder(bool value);

    void loadState();
    std::optional<QString> restoreBookmark();
    void saveBookmark(const QString &folderPath);
    void stopAccessingWatchFolder();
    void stopWatchingAndAutoSync();
    // The run in flight: on the disk before the presigned request, with everything saved before it (throws
    // SyncManagerError when it cannot be written).
    QCoro::Task<void> noteUploadInFlight(QString folderPath, QString galleryId, QStringList fileNames);
    void updateGalleryLink(const SyncFolder &folder);
    void updateGalleryLinks(); // after the whole list changed
    void dropGalleryLinks(const std::function<bool(const QString &path)> &gone);
    QCoro::Task<void> runFullScanAndReconcile(); // the unawaited start: catches everything

    // What the manager keeps beside the folder list, and its notices, after each change of the list.
    void entryEdited(qsizetype index, const SyncFolder &before) override;
    void entryAppended(qsizetype index) override;
    void listReplaced(const QList<SyncFolder> &before) override;

    // Observed state.
    FolderList m_folders{*this};
    QString m_watchFolder;
    bool m_isReconciling = false;
    bool m_hasCompletedInitialReconcile = false;
    std::optional<QString> m_reconcileError;
    UploadCompletedHandler m_onUploadCompleted;
    bool m_isAccessingWatchFolder = false;
    QSet<QString> m_ignoredPaths;
    QSet<QString> m_knownGalleryIds;
    QSet<QString> m_dismissedGalleryIds;
    std::unique_ptr<FileEventStream> m_fsStream; // running only between a full scan and a change of folder
    QTimer m_fsDebounceTimer;                    // the pending refresh after file-system changes
    QTimer m_autoSyncTimer;                      // the pending automatic sync
    bool m_isAutoSyncing = false;
    bool m_needsResyncAfterAutoSync = false;
    PendingFolderUploads m_pendingFolderUploads;
    // Bumped on every change of export folder: a scan that started before it publishes nothing.
    quint64 m_watchFolderGeneration = 0;

    const QString m_stateFilePath;
    const QString m_bookmarkFilePath;
    const SyncDelays m_delays;
    VarnostimaAPI *m_api;
    std::unique_ptr<ExportFolderBookmark> m_bookmark;
    RetriedFileWrites m_bookmarkWrites; // a bookmark that failed to reach the disk is written again
    std::unique_ptr<StateLedger> m_ledger;
    UploadRunBook m_runBook;
    // By folder path.
    // Each folder's gallery: a synced folder's own, kept while its run is under way or failed; dropped with the
    // folder unless its records wait in m_pendingFolderUploads.
    QHash<QString, QString> m_galleryLinks;
    UploadStepHook m_uploadStepHook;
    int m_galleryPageLimit = 2000; // 100,000 galleries at 50 a page
    // The gallery list a running pass of automatic sync read once for all its first syncs; none between passes.
    std::shared_ptr<GalleryCatalog> m_passGalleries;
    // Reads the list into the pass's copy; a failure keeps the copy it had and is noted in it. Throws.
    QCoro::Task<void> readPassGalleries(std::shared_ptr<GalleryCatalog> catalog);
    // Walks the list page by page until visit returns true; throws as findExistingGallery does.
    QCoro::Task<void> walkGalleryList(std::function<bool(const Gallery &)> visit);

    // ---- folder actions (SyncManagerActions.cpp): the user's decisions on the entry a window shows. Each finds
    // the live entry by the passed folder's path and does nothing when it is gone; none throws.
public:
    void ignoreFolder(SyncFolder folder);
    void unignoreFolder(SyncFolder folder);
    // Moves a synced, moved folder's gallery into the server folders of its new parent path.
    QCoro::Task<void> moveGalleryOnServer(SyncFolder folder);
    // Accepts the local move: the gallery stays where it is on the service.
    void clearMovedFrom(SyncFolder folder);
    // Deletes the gallery of a folder removed locally, only while the live list still offers it for deletion and
    // no folder is linked to it.
    QCoro::Task<void> deleteGalleryOnServer(SyncFolder folder);
    // Forgets the gallery of a folder removed locally and leaves it on the service; not while a folder is linked
    // to it.
    void forgetFolder(SyncFolder folder);

private:
    void removeActionEntries(const QString &path, const QString &galleryId);
    // Whether a folder is linked to the gallery of the placeholder: then it is neither deleted nor forgotten, and
    // the placeholder, while listed, says why.
    bool keepsLinkedGallery(const SyncFolder &placeholder, const QString &galleryId, const char *action);

    QSet<QString> m_movesUnderWay; // paths of folders whose gallery move is on the way
    // ---- full scan and reconcile, watching and automatic sync (SyncManagerReconcile.cpp,
    // SyncManagerWatching.cpp)
public:
    // Links the scanned folders to the service's galleries and publishes the result in one step.
    void reconcileWithServer(QList<SyncFolder> scannedFolders, const SyncStateResponse &state);
    // The text a failed fetch of the service's state shows; nullptr stands for an error of unknown type.
    static QString reconcileErrorMessage(const std::exception *error);
    static QString noContactText();
    static QString noExportFolderAccessText();
    // Starts a full scan and reconcile, or asks the running one for another run after it.
    void requestFullScanAndReconcile();

    // (Re)starts the event stream on the export folder; only a full scan and reconcile calls it, before its scan.
    // Once the watches of a stream that no scan follows are in place, the whole export folder is refreshed.
    void startWatching();
    void stopWatching();
    bool isWatching() const;
    // Test seam: runs on the stream's own thread as each new stream is about to walk the tree and add its watches.
    void setBeforeWatchWalkHook(std::function<void()> hook) { m_beforeWatchWalk = std::move(hook); }
    bool isAutoSyncScheduled() const { return m_autoSyncTimer.isActive(); } // a pass waits to run
    // Rescans off the UI thread what changed since the last refresh (the whole export folder when the events could
    // not say) and merges the result; returns at once.
    void refreshFolders();
    QCoro::Task<void> refreshNow();
    // What the next refresh reads, gathered from the file-system events since the last one.
    const RefreshScope &pendingRefreshScope() const { return m_refreshScope; }
    // Merges a scan of the scope into the list; entries outside the scope are taken to be as the disk has them.
    void mergeRefreshedFolders(const QList<SyncFolder> &scanned, const QSet<QString> &knownPaths,
                               const RefreshScope &scope = RefreshScope::everything());
    void scheduleAutoSync();
    // One pass: the first sync of every new folder, then the update of every changed one. Never throws.
    QCoro::Task<void> runAutoSync();

private:
    QCoro::Task<void> scanAndReconcile(quint64 generation);
    void reconcileFailed(const std::exception *error, QList<SyncFolder> scanned);
    void finishReconcile(); // what every reconcile that got past its checks does at its end
    static bool isBelowAny(const QString &path, const QStringList &directories);
    // Entries and records of folders below unreadable directories, as they were: unknown is not removed.
    void keepUnreadable(QList<SyncFolder> &result, const QStringList &unreadable,
                        QSet<QString> *claimedGalleryIds) const;
    void wireWatching(); // once, from the constructor
    void fsEventCallback(const FileChanges &changes);
    void watchesReady();
    // Starts the stream when none runs on the export folder, and waits until its watches are in place.
    QCoro::Task<void> watchesInPlace();
    bool m_watchesReady = false; // the running stream's first walk of the tree has ended
    bool m_scanFollowsWatches = false; // a full scan waits for the running stream's watches
    std::function<void()> m_beforeWatchWalk;
    // changesFrom: where the changes of the listed paths from now on start in m_pathChanges.
    QCoro::Task<void> runRefresh(qsizetype changesFrom, quint64 generation, RefreshScope scope);
    // The paths the list held when a refresh began are known to it: those still listed, and those taken out since.
    // Rather than a copy of every path at each start, the paths that come and go are noted while a refresh runs.
    struct PathChange {
        QString path;
        bool left = false; // taken out of the list; otherwise added to it
    };
    QList<PathChange> m_pathChanges;
    int m_refreshesRunning = 0;
    void notePathChanges(const QList<SyncFolder> &before, const QList<SyncFolder> &after);
    // The paths listed at the change numbered `from` that have left the list since.
    QSet<QString> pathsLeftSince(qsizetype from) const;
    // The entries a refresh of the scope speaks for, in list order, when the scope names folders only and every
    // scanned folder is known; nothing otherwise (the whole list is compared then).
    std::optional<QList<SyncFolder>> coveredEntries(const RefreshScope &scope, const QList<SyncFolder> &scanned,
                                                    const QSet<QString> &knownPaths) const;
    RefreshScope m_refreshScope = RefreshScope::everything(); // changed since the last refresh began
    // What a rescan changes in the folder list: folders to append, and the entries whose images differ.
    struct RefreshChanges {
        struct CacheUpdate {
            QString path;
            qint64 imageCount = 0;
            std::optional<LocalFiles> files;
            SkippedEntries skipped;
        };
        QList<SyncFolder> newFolders; // in the order of the scan
        QList<CacheUpdate> updates;
        bool possibleMove = false; // a new folder bears the name of a synced one that vanished: it is left out
        bool linkedFolderGone = false; // a synced folder's directory is gone, not only emptied
    };
    static RefreshChanges refreshChanges(const QList<SyncFolder> &folders, const QList<SyncFolder> &scanned,
                                         const QSet<QString> &knownPaths, const RefreshScope &scope,
                                         const QStringList &unreadable);
    void applyRefreshChanges(const RefreshChanges &changes);
    // Whether automatic sync updates the folder; the answer about its images is kept until the entry changes.
    bool isAutoUpdateCandidate(const SyncFolder &folder);
    QHash<QString, bool> m_pendingChangeAnswers; // path -> its images differ from its records
    // Paths of the entries a pass may have work for: new folders, and synced ones not known to match their records.
    // Kept as entries and answers change, so that a pass looks at these alone; each is checked again when taken.
    QSet<QString> m_passWork;
    void notePassWork(const SyncFolder &entry);
    void rebuildPassWork();
    // The live entries at the paths of m_passWork, in list order; paths that no longer qualify are dropped.
    QList<qsizetype> passWorkPlaces();
    // Answers, off the UI thread, whether the images of the synced folders of m_passWork without an answer differ.
    QCoro::Task<void> answerPendingChanges();
    // Up to this much (folders and their images) is compared on the UI thread rather than sent to the pool.
    static constexpr qint64 inlineCheckWork = 2000;
    void forgetPendingChangeAnswers(const QList<SyncFolder> &before, const QList<SyncFolder> &after);
    std::optional<QString> relativeToWatchFolder(const QString &path) const;
    const SyncFolder *liveFolder(const QString &path) const; // the entry at the path now, or nullptr
    QCoro::Task<void> runAutoSyncTask();
    bool m_reconcileAgain = false; // a change arrived that the running reconcile may have missed
    // A change (a file-system event, a refresh, a pass that had to stand back) arrived while a reconcile ran: its
    // older scan may have overwritten it, so a refresh and a pass follow it.
    bool m_changedDuringReconcile = false;
    RefreshScope m_changesDuringReconcile; // what the events named while the reconcile ran
    // The pass a reconcile scheduled goes over every folder: the state is written whole at its end.
    bool m_wholePassDue = false;
    // A reconcile, a refresh or a pass holds for a moment far more than the list it leaves (the state file's records,
    // a scan of the tree, the service's answer); freed, that heap stays with the process, scattered between live
    // blocks, unless it is handed back once the work has settled. Handing it back walks the whole heap, so it waits
    // until the work since the last time (folders and images read) adds up to something worth it: one new image
    // in one folder does not.
    void trimHeapSoon(qint64 work);
    static constexpr qint64 heapTrimWork = 5000;
    qint64 m_workSinceHeapTrim = 0;
    qint64 m_passReadingWork = 0; // of the running pass
    QTimer m_heapTrimTimer;
    QSet<QString> m_deletedGalleryIds; // deleted on the service by this process: a stale answer brings none back
    QStringList m_unreadableFolders;   // found by the last scan or refresh

    // ---- runs of the first sync and the update, and their retries (SyncManagerRetry.cpp)
public:
    enum class RunOrigin { user, automatic };
    QCoro::Task<void> syncFolder(SyncFolder folder, RunOrigin origin);
    QCoro::Task<void> updateFolder(SyncFolder folder, RunOrigin origin);
    // At the end of the process: writes once more a bookmark whose write failed; false when it is still not on disk.
    bool retryBookmarkNow();
    // The service answered 404 for the gallery of the folder's running update: it was deleted on the web. Unlinks
    // the entry (its records of that gallery go with it) and runs a full scan and reconcile, after which the folder
    // is linked anew or synced into a new gallery with all its images. False, and nothing done, when the entry is
    // no longer the run's, or when this folder had its reconcile for this gallery id already: the run then fails as
    // any other and is retried with the usual back-off.
    bool galleryNotFound(const QString &path, const QString &galleryId);

private:
    struct RetryState {
        int failures = 0;
        std::optional<SyncStatus> linked; // the synced status to return to before an update is retried
        std::chrono::steady_clock::time_point due;
    };
    void noteRunEnded(const QString &path, const std::optional<SyncStatus> &linked);
    void armRetryTimer();
    QList<SyncFolder> dueRetries();
    // The disk takes writes again: a folder whose run failed because it could not note the run on the disk is
    // retried now, not after its back-off.
    void retryFoldersFailedForTheDisk();
    QHash<QString, RetryState> m_retries; // by path
    // (folder path, gallery id) whose 404 had its reconcile. One per pair bounds the reconciles of a service that
    // keeps answering 404 for a gallery it still lists, which would otherwise link the folder back and loop.
    QSet<std::pair<QString, QString>> m_galleriesNotFound;
    QTimer m_retryTimer;

    // A full scan and reconcile that failed is tried again with the same back-off: its error shows until one
    // succeeds, and nothing else may run one for a long while.
    void scheduleReconcileRetry(const std::exception *error);
    void reconcileSucceeded();
    void retryUnreachedFoldersNow();
    void retryReconcile();
    int m_reconcileFailures = 0; // in a row
    QTimer m_reconcileRetryTimer;
    bool m_retryingReconcile = false; // the run starting now is a retry: its error stays shown until it ends
};
