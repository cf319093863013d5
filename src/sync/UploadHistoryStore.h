#pragma once

#include "RecentUpload.h"
#include "platform/AtomicFile.h"

#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <QUrl>

#include <atomic>
#include <chrono>

// The recent uploads, newest first, kept in "recent-uploads.json" in the application-support folder.
// Lives on the UI thread. It only loads, holds and saves the list: whoever sets the list decides its order,
// merges and length, and calls save() afterwards. Failures of the file are logged and never reach the caller.
class UploadHistoryStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<RecentUpload> recentUploads READ recentUploads WRITE setRecentUploads NOTIFY recentUploadsChanged)

public:
    // An empty storeURL means "recent-uploads.json" in the application-support folder. Loads the file at once.
    // firstRetry: the first back-off after a failed save (tests make it long).
    explicit UploadHistoryStore(const QUrl &storeURL = {}, QObject *parent = nullptr,
                                std::chrono::milliseconds firstRetry = kFirstRetry);

    const QList<RecentUpload> &recentUploads() const { return m_recentUploads; }
    // An equal list is taken without a change notification.
    void setRecentUploads(const QList<RecentUpload> &uploads);

    // What the menu-bar window shows: at most the five newest.
    QList<RecentUpload> recentUploadsForMenu() const;

    QUrl storeURL() const { return m_storeURL; }

    // Writes the list atomically and returns at once: the write, which waits for the disk, runs on a thread of
    // the store's own, in the order of the saves. On failure the file keeps its previous contents and the list is
    // saved again after a back-off, until a save succeeds, or at once when the disk is back (DiskRecovery).
    // Destruction waits for the writes.
    void save() const;
    // At the end of the process: waits for the saves under way and, when the last one failed, writes the list once
    // more and waits for it. False when the file still does not hold the list.
    bool saveIfUnwritten() const;
    // Blocks until every save so far is on disk (for tests).
    void flush() const;

    static constexpr std::chrono::milliseconds kFirstRetry = RetriedFileWrites::firstRetry;
    static constexpr std::chrono::milliseconds kLongestRetry = RetriedFileWrites::longestRetry;

Q_SIGNALS:
    void recentUploadsChanged();

private:
    void load();
    void saveEnded(quint64 save, bool written);
    void retryNow();

    QList<RecentUpload> m_recentUploads;
    const QUrl m_storeURL;
    mutable QTimer m_retry; // the next try after a failed save
    const std::chrono::milliseconds m_firstRetry;
    mutable std::chrono::milliseconds m_retryDelay;
    mutable std::atomic<bool> m_lastWriteFailed{false}; // written on the writer's thread
    mutable quint64 m_saves = 0;
    mutable QThreadPool m_writer; // one thread; last, so that it is waited for before the rest goes
};
