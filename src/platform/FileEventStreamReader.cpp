#include "FileEventStreamReader.h"

#include "PlatformLogging.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <utility>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Everything that can change what a scan of the tree finds: names, sizes and modification times.
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM
    | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

constexpr std::uint32_t kRootGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// The scan skips hidden entries at every level, so nothing inside them can change its result.
bool isHidden(const char *name)
{
    return name[0] == '.';
}

bool isDirectory(int dirFd, const dirent &entry)
{
    if (entry.d_type == DT_DIR)
        return true;
    if (entry.d_type != DT_UNKNOWN)
        return false; // symbolic links included: the scan does not follow them
    struct stat st {};
    return fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

void appendSubfolders(const std::string &dir, std::vector<std::string> &out)
{
    DIR *stream = opendir(dir.c_str());
    if (!stream)
        return; // gone or unreadable: its parent's events still cover it
    const int fd = dirfd(stream);
    while (const dirent *entry = readdir(stream)) {
        if (isHidden(entry->d_name) || !isDirectory(fd, *entry))
            continue; // also skips "." and ".."
        out.push_back(dir + '/' + entry->d_name);
    }
    closedir(stream);
}

} // namespace

FileEventStreamReader::FileEventStreamReader(Settings settings, Callbacks callbacks)
    : m_settings(std::move(settings))
    , m_callbacks(std::move(callbacks))
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const int initError = errno;
    m_thread = std::thread([this, initError] {
        pthread_setname_np(pthread_self(), "FileEvents");
        if (m_inotify < 0) {
            errno = initError;
            fallBackToPolling("no inotify instance left");
        }
        run();
    });
}

FileEventStreamReader::~FileEventStreamReader()
{
    m_stopRequested.store(true);
    wake();
    m_thread.join();
    if (m_inotify >= 0)
        close(m_inotify); // drops every watch at once
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void FileEventStreamReader::injectOverflow()
{
    m_overflowRequested.store(true);
    wake();
}

void FileEventStreamReader::wake() const
{
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0 && write(m_wakeFd, &one, sizeof one) < 0 && errno != EAGAIN)
        qCWarning(lcFileEvents, "Cannot wake the event reader: %s", strerror(errno));
}

void FileEventStreamReader::run()
{
    if (m_settings.beforeWalk)
        m_settings.beforeWalk();
    if (m_inotify >= 0) {
        const auto begun = Clock::now();
        watchTree(m_settings.root, nullptr);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
        if (m_stopRequested.load())
            return; // stopped during the walk: what it found means nothing
        if (m_rootWd < 0 && !m_polling) {
            qCWarning(lcFileEvents, "Cannot watch %s (%s); waiting for it to appear", m_settings.root.c_str(),
                strerror(m_rootError));
            m_rootLost = true;
            m_nextRootCheck = Clock::now() + m_settings.pollInterval;
        } else {
            qCDebug(lcFileEvents, "Watching %d folders under %s (set up in %lld ms)", m_watches.size(),
                m_settings.root.c_str(), static_cast<long long>(took.count()));
        }
    }
    if (m_stopRequested.load())
        return;
    m_callbacks.ready();

    while (!m_stopRequested.load()) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_inotify, POLLIN, 0}};
        const nfds_t count = m_inotify >= 0 ? 2 : 1;
        if (poll(fds, count, pollTimeoutMs()) < 0 && errno != EINTR) {
            qCCritical(lcFileEvents, "Event reader stopped: poll failed: %s", strerror(errno));
            return;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto ignored = read(m_wakeFd, &drained, sizeof drained);
        }
        if (m_stopRequested.load())
            return;
        if (m_overflowRequested.exchange(false)) {
            inotify_event overflow {};
            overflow.wd = -1;
            overflow.mask = IN_Q_OVERFLOW;
            handle(overflow);
        }
        if (count == 2 && (fds[1].revents & POLLIN))
            readEvents();
        runDeadlines();
    }
}

void FileEventStreamReader::readEvents()
{
    // One read per wake-up: a storm of events cannot starve the deadlines, poll() returns again at once.
    alignas(inotify_event) char buffer[64 * 1024];
    const ssize_t length = read(m_inotify, buffer, sizeof buffer);
    if (length <= 0)
        return;
    for (const char *p = buffer; p < buffer + length;) {
        const auto *event = reinterpret_cast<const inotify_event *>(p);
        handle(*event);
        p += sizeof(inotify_event) + event->len;
    }
}

void FileEventStreamReader::handle(const inotify_event &event)
{
    if (event.mask & IN_Q_OVERFLOW) {
        qCInfo(lcFileEvents, "Event queue overflowed; walking %s again", m_settings.root.c_str());
        rewalk();
        noteIncomplete();
        markChanged();
        return;
    }
    if (event.wd == m_rootWd && (event.mask & kRootGone)) {
        loseRoot();
        noteIncomplete();
        markChanged();
        return;
    }
    if (event.mask & IN_UNMOUNT) {
        noteIncomplete(); // a file system below the root went away and names nothing of what it held
        markChanged();
        return;
    }
    if (event.mask & IN_IGNORED) {
        const std::string *known = m_watches.pathOf(event.wd);
        if (!known)
            return; // a watch we removed ourselves
        // The kernel dropped a watch we still held: the folder went before its parent told us, or cannot be
        // watched any more.
        const std::string path = *known;
        m_watches.erase(event.wd);
        publishCount();
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            noteIncomplete();
            watchTree(path, nullptr);
        } else {
            noteTree(path);
        }
        markChanged();
        return;
    }
    const std::string *parent = m_watches.pathOf(event.wd);
    if (!parent || event.len == 0 || event.name[0] == '\0')
        return; // a folder no longer watched, or news about a folder that its parent reports by name
    if (isHidden(event.name))
        return;
    const std::string parentPath = *parent; // copy: the table changes below
    if (event.mask & IN_ISDIR) {
        const std::string path = parentPath + '/' + event.name;
        if (event.mask & (IN_DELETE | IN_MOVED_FROM))
            dropTree(path);
        // mkdir -p and moved-in trees have children before their watch exists: walk them now. A folder whose
        // attributes changed may have become readable.
        if ((event.mask & (IN_CREATE | IN_MOVED_TO)) || ((event.mask & IN_ATTRIB) && !m_watches.containsPath(path)))
            watchTree(path, nullptr);
        noteTree(path);
    }
    noteFolder(parentPath);
    markChanged();
}

bool FileEventStreamReader::watchTree(const std::string &top, std::unordered_set<int> *seen)
{
    std::unordered_set<int> local;
    if (!seen)
        seen = &local;
    std::vector<std::string> pending{top};
    while (!pending.empty() && !m_stopRequested.load(std::memory_order_relaxed)) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        const int wd = addWatch(dir);
        if (wd < 0) {
            if (dir == m_settings.root)
                m_rootError = errno;
            if (errno == ENOSPC) {
                fallBackToPolling("watch limit reached");
                publishCount();
                return false;
            }
            if (errno != ENOENT && errno != ENOTDIR)
                noteIncomplete(); // there but unwatched: what changes in it goes unreported
            continue; // vanished meanwhile, or not a folder
        }
        if (!seen->insert(wd).second)
            continue; // reached twice in one walk: a bind mount loops back
        if (const std::string *was = m_watches.pathOf(wd); was && *was != dir)
            noteIncomplete(); // the folder moved without its parents telling us
        if (const int displaced = m_watches.insert(wd, dir); displaced >= 0) {
            inotify_rm_watch(m_inotify, displaced); // the old folder went elsewhere unseen: stop following it
            noteIncomplete();
        }
        if (dir == m_settings.root)
            m_rootWd = wd;
        appendSubfolders(dir, pending);
    }
    publishCount();
    return pending.empty();
}

int FileEventStreamReader::addWatch(const std::string &path)
{
    if (m_settings.maxWatches > 0 && m_watches.size() >= m_settings.maxWatches && !m_watches.containsPath(path)) {
        errno = ENOSPC;
        return -1;
    }
    // The root may be a link to the real export folder (a scan follows it too); nothing below it is followed.
    const std::uint32_t mask = path == m_settings.root ? kWatchMask & ~IN_DONT_FOLLOW : kWatchMask;
    return inotify_add_watch(m_inotify, path.c_str(), mask);
}

void FileEventStreamReader::dropTree(const std::string &path)
{
    removeWatches(m_watches.takeSubtree(path));
}

void FileEventStreamReader::removeWatches(const std::vector<int> &wds)
{
    for (const int wd : wds)
        inotify_rm_watch(m_inotify, wd); // fails harmlessly for folders the kernel already dropped
    publishCount();
}

void FileEventStreamReader::rewalk()
{
    if (m_rootLost || m_inotify < 0)
        return;
    // Events were lost: folders may have come, gone or moved without notice. Watch what is there now
    // and drop what the walk no longer reaches.
    std::unordered_set<int> seen;
    if (!watchTree(m_settings.root, &seen))
        return;
    if (!seen.count(m_rootWd)) {
        loseRoot();
        return;
    }
    removeWatches(m_watches.takeAllExcept(seen));
}

void FileEventStreamReader::loseRoot()
{
    qCInfo(lcFileEvents, "Watched folder %s vanished", m_settings.root.c_str());
    removeWatches(m_watches.takeAll());
    m_rootWd = -1;
    m_rootLost = true;
    m_nextRootCheck = Clock::now() + m_settings.pollInterval;
}

void FileEventStreamReader::tryRecoverRoot()
{
    struct stat st {};
    if (stat(m_settings.root.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        watchTree(m_settings.root, nullptr);
        if (m_rootWd >= 0) {
            qCInfo(lcFileEvents, "Watched folder %s is back; watching %d folders", m_settings.root.c_str(),
                m_watches.size());
            m_rootLost = false;
            noteIncomplete();
            markChanged();
            return;
        }
    }
    m_nextRootCheck = Clock::now() + m_settings.pollInterval;
}

void FileEventStreamReader::fallBackToPolling(const char *reason)
{
    const int error = errno;
    if (m_polling)
        return;
    m_polling = true;
    m_pollingFlag.store(true);
    m_nextPoll = Clock::now() + m_settings.pollInterval;
    qCWarning(lcFileEvents,
        "Cannot watch every folder under %s (%s: %s, %d watches in use); also checking every %g s. "
        "Raise fs.inotify.max_user_watches to watch the whole tree.",
        m_settings.root.c_str(), reason, strerror(error), m_watches.size(),
        std::chrono::duration<double>(m_settings.pollInterval).count());
}

void FileEventStreamReader::markChanged()
{
    // The first change after a quiet spell opens the window; later ones ride along in the same batch.
    if (!m_batchDeadline)
        m_batchDeadline = Clock::now() + m_settings.latency;
}

std::string FileEventStreamReader::relative(const std::string &path) const
{
    // Every watched path is the root or lies below it.
    return path.size() > m_settings.root.size() ? path.substr(m_settings.root.size() + 1) : std::string();
}

void FileEventStreamReader::noteFolder(const std::string &path)
{
    if (m_batch.complete)
        m_batch.folders.insert(relative(path));
}

void FileEventStreamReader::noteTree(const std::string &path)
{
    if (m_batch.complete)
        m_batch.trees.insert(relative(path));
}

void FileEventStreamReader::runDeadlines()
{
    const auto now = Clock::now();
    if (m_rootLost && now >= m_nextRootCheck)
        tryRecoverRoot();
    if ((m_batchDeadline && now >= *m_batchDeadline) || (m_polling && now >= m_nextPoll))
        deliver();
}

void FileEventStreamReader::deliver()
{
    m_batchDeadline.reset();
    m_nextPoll = Clock::now() + m_settings.pollInterval;
    m_batchCount.fetch_add(1, std::memory_order_relaxed);
    Batch batch = std::exchange(m_batch, Batch{});
    if (m_polling)
        batch.complete = false; // some folders are not watched
    if (!batch.complete) {
        batch.folders.clear();
        batch.trees.clear();
    }
    m_callbacks.changed(std::move(batch));
}

int FileEventStreamReader::pollTimeoutMs() const
{
    std::optional<Clock::time_point> next = m_batchDeadline;
    const auto consider = [&next](Clock::time_point at) {
        if (!next || at < *next)
            next = at;
    };
    if (m_polling)
        consider(m_nextPoll);
    if (m_rootLost)
        consider(m_nextRootCheck);
    if (m_wakeFd < 0)
        consider(Clock::now() + std::chrono::milliseconds(250)); // nobody can wake us: look for stop() now and then
    if (!next)
        return -1; // nothing due: sleep until the kernel or the owner wakes us
    const long long wait = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, std::numeric_limits<int>::max()));
}
