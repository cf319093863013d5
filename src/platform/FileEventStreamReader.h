#pragma once

#include "FileEventStreamWatches.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>

struct inotify_event;

// Watches one folder tree with inotify on a thread of its own and reports coalesced change batches.
// The thread sleeps in poll() until the kernel has events or a deadline is due, so an idle tree costs no CPU.
// Both callbacks run on the reader's thread. Destruction stops the thread and waits for it.
class FileEventStreamReader
{
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        std::string root; // native path, absolute, no trailing slash
        std::chrono::milliseconds latency{2000};
        std::chrono::milliseconds pollInterval{60000};
        int maxWatches = 0; // 0: up to the kernel's limit
        std::function<void()> beforeWalk; // tests: runs on the reader's thread before the first walk
    };
    // What one batch touched, as paths relative to the root ("" is the root itself).
    struct Batch {
        bool complete = true;           // false: events were lost or part of the tree is not watched
        std::set<std::string> folders; // folders whose own entries changed
        std::set<std::string> trees;   // folders that appeared, vanished or changed as a whole, with all below
    };
    struct Callbacks {
        std::function<void()> ready;          // the first walk has ended
        std::function<void(Batch)> changed;   // one batch
    };

    FileEventStreamReader(Settings settings, Callbacks callbacks);
    ~FileEventStreamReader();
    FileEventStreamReader(const FileEventStreamReader &) = delete;
    FileEventStreamReader &operator=(const FileEventStreamReader &) = delete;

    int watchCount() const { return m_watchCount.load(std::memory_order_relaxed); }
    std::uint64_t batchCount() const { return m_batchCount.load(std::memory_order_relaxed); }
    bool isPolling() const { return m_pollingFlag.load(std::memory_order_relaxed); }

    // Feeds the reader a queue overflow exactly as the kernel reports one. Any thread.
    void injectOverflow();

private:
    void run();
    void wake() const;
    void readEvents();
    void handle(const inotify_event &event);
    void runDeadlines();
    int pollTimeoutMs() const;

    bool watchTree(const std::string &top, std::unordered_set<int> *seen);
    int addWatch(const std::string &path);
    void dropTree(const std::string &path);
    void removeWatches(const std::vector<int> &wds);
    void rewalk();
    void loseRoot();
    void tryRecoverRoot();
    void fallBackToPolling(const char *reason);

    void markChanged();
    void noteFolder(const std::string &path);
    void noteTree(const std::string &path);
    void noteIncomplete() { m_batch.complete = false; }
    std::string relative(const std::string &path) const;
    void deliver();
    void publishCount() { m_watchCount.store(m_watches.size(), std::memory_order_relaxed); }

    const Settings m_settings;
    const Callbacks m_callbacks;

    int m_inotify = -1;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_overflowRequested{false};
    std::atomic<int> m_watchCount{0};
    std::atomic<std::uint64_t> m_batchCount{0};
    std::atomic<bool> m_pollingFlag{false};

    // Owned by the reader thread.
    FileEventStreamWatches m_watches;
    int m_rootWd = -1;
    int m_rootError = 0;
    bool m_rootLost = false;
    bool m_polling = false;
    std::optional<Clock::time_point> m_batchDeadline;
    Batch m_batch;
    Clock::time_point m_nextPoll;
    Clock::time_point m_nextRootCheck;

    std::thread m_thread; // last: starts after everything above exists
};
