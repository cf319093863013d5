#pragma once

#include <QByteArrayList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class FileEventStreamReader;

// What one batch of changes touched, as paths relative to the watched root in the file system's own bytes ("" is
// the root itself). Only a complete batch names everything that changed; otherwise events were lost or part of the
// tree is not watched, and nothing short of a walk of the whole tree is sure.
struct FileChanges {
    bool complete = true;
    QByteArrayList folders; // folders whose own entries were added, removed, renamed, written or touched
    QByteArrayList trees;   // folders that appeared, vanished or changed as a whole, with everything below them
};
Q_DECLARE_METATYPE(FileChanges)

// Reports changes anywhere in one folder tree, coalesced: the first change after a quiet spell opens a window of
// `latency()`, and everything that changes until it closes arrives as one changed() signal on this object's thread.
// A lost event queue, a lost watch and the root folder vanishing (or coming back) are changes that name nothing. Hidden folders are not
// watched and changes to hidden names are not reported: a scan of the tree skips them anyway.
//
// When the watch limit is reached, the stream logs it once and also emits changed() every `pollInterval()`, so
// its owner degrades to polling instead of missing changes; its batches are then never complete.
//
// The kernel is read on a thread of the stream's own that sleeps while nothing happens. After stop(), a restart or
// destruction, no signal of the earlier run is delivered, not even one already queued.
class FileEventStream : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultLatency{2000};
    static constexpr std::chrono::milliseconds defaultPollInterval{60000};

    explicit FileEventStream(QObject *parent = nullptr);
    ~FileEventStream() override;

    // Replaces any running watch with one over rootPath. A missing root is watched for until it appears.
    // Returns false (and watches nothing) only for an empty path.
    bool start(const QString &rootPath);
    void stop();
    bool isRunning() const { return m_reader != nullptr; }
    QString rootPath() const { return m_rootPath; }

    // The settings below take effect at the next start().
    void setLatency(std::chrono::milliseconds latency) { m_latency = latency; }
    std::chrono::milliseconds latency() const { return m_latency; }
    void setPollInterval(std::chrono::milliseconds interval) { m_pollInterval = interval; }
    std::chrono::milliseconds pollInterval() const { return m_pollInterval; }
    // Caps the folders watched, leaving the rest of the user's inotify budget to other programs; past the cap
    // the stream polls as at the kernel's limit. 0 (the default) means no cap of our own.
    void setMaxWatches(int count) { m_maxWatches = count; }

    // Thread-safe snapshots of the running reader; 0 / false when stopped.
    int watchCount() const;
    quint64 batchCount() const; // batches handed over since start(), whether delivered or not
    bool isPolling() const;

    // Feeds the running reader a queue overflow through the same path as the kernel's.
    void injectOverflowForTesting();
    // Test seam, from the next start() on: runs on the reader's thread just before it walks the tree.
    void setBeforeWalkHook(std::function<void()> hook) { m_beforeWalk = std::move(hook); }

Q_SIGNALS:
    // One coalesced batch of changes.
    void changed(const FileChanges &changes);
    // The watches of a start() are in place; changes from now on are reported.
    void ready();

private:
    void postReady(quint64 generation);
    void postChanged(quint64 generation, FileChanges changes);

    std::unique_ptr<FileEventStreamReader> m_reader;
    quint64 m_generation = 0;
    QString m_rootPath;
    std::chrono::milliseconds m_latency = defaultLatency;
    std::chrono::milliseconds m_pollInterval = defaultPollInterval;
    int m_maxWatches = 0;
    std::function<void()> m_beforeWalk;
};
