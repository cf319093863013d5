#include "SyncStateStore.h"

#include "StateFileParser.h"
#include "SyncLogging.h"
#include "service/Json.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Sorted, so that equal states give equal bytes.
QStringList sorted(const QSet<QString> &set)
{
    QStringList list(set.cbegin(), set.cend());
    std::sort(list.begin(), list.end());
    return list;
}

QSet<QString> stringSet(const json::ObjectReader &in, QStringView key)
{
    const QStringList list = in.optStrings(key).value_or(QStringList());
    return QSet<QString>(list.cbegin(), list.cend());
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<SyncStateStore::FileStamp> stampOf(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return SyncStateStore::FileStamp{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
                                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Writes the bytes to a file of its own, on the disk before it returns. A file left there by a write that never
// finished is overwritten.
bool writeNewFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = systemText(errno);
        return false;
    }
    // Private to its owner, like every file of the app, whatever mode a leftover had.
    bool ok = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            ok = false;
        done += std::max<ssize_t>(n, 0);
    }
    ok = ok && ::fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        *error = systemText(failure);
        ::unlink(native.constData());
    }
    return ok;
}

bool renameOver(const QString &from, const QString &to, QString *error)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *error = systemText(errno);
    return false;
}

SyncState readState(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SyncDecodingError(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SyncDecodingError(QStringLiteral("Could not read %1: %2").arg(path, file.errorString()));
    return decodeSyncState(bytes);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What is left of two unreadable files: the folders the user ignores, or nothing.
std::optional<SyncState> salvagedState(const QSet<QString> &ignoredPaths)
{
    if (ignoredPaths.isEmpty())
        return std::nullopt;
    qCWarning(lcSync, "Kept %lld ignored folders from the unreadable state file", qint64(ignoredPaths.size()));
    SyncState state;
    state.ignoredPaths = ignoredPaths;
    return state;
}

// Moves a file that cannot be read out of the way, under a name no other copy has, so that no save overwrites it.
void keepAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString aside = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (QFile::rename(path, aside))
        qCWarning(lcSync, "Kept the unreadable state file as %s", qUtf8Printable(QFileInfo(aside).fileName()));
    else
        qCCritical(lcSync, "Could not move the unreadable state file %s aside", qUtf8Printable(path));
}

} // namespace

QByteArray encodeSyncState(const SyncState &state)
{
    json::ObjectWriter out;
    qsizetype records = 0;
    if (state.folderUploads) {
        for (const auto &entry : *state.folderUploads)
            records += entry.second.size();
    }
    out.reserve(256 + records * 96);
    out.optString(u"watchFolder", state.watchFolder);
    out.strings(u"ignoredPaths", sorted(state.ignoredPaths));
    out.strings(u"knownGalleryIds", sorted(state.knownGalleryIds));
    if (!state.dismissedGalleryIds.isEmpty())
        out.strings(u"dismissedGalleryIds", sorted(state.dismissedGalleryIds));
    if (state.folderUploads) {
        out.objectWith(u"folderUploads", [&state](json::ObjectWriter &byFolder) {
            for (const auto &[path, files] : *state.folderUploads)
                byFolder.objects(path, files);
        });
    }
    if (!state.folderGalleryIds.isEmpty()) {
        out.objectWith(u"folderGalleryIds", [&state](json::ObjectWriter &byFolder) {
            for (auto it = state.folderGalleryIds.cbegin(); it != state.folderGalleryIds.cend(); ++it)
                byFolder.string(it.key(), it.value());
        });
    }
    if (!state.uploadsInFlight.isEmpty()) {
        out.objectWith(u"uploadsInFlight", [&state](json::ObjectWriter &byFolder) {
            for (auto it = state.uploadsInFlight.cbegin(); it != state.uploadsInFlight.cend(); ++it) {
                byFolder.objectWith(it.key(), [&it](json::ObjectWriter &run) {
                    run.string(u"galleryId", it->galleryId);
                    run.strings(u"fileNames", it->fileNames);
                });
            }
        });
    }
    out.integer(u"version", state.version);
    return out.finish();
}

SyncState decodeSyncState(const QByteArray &data)
{
    if (std::optional<SyncState> plain = parsePlainSyncState(data))
        return std::move(*plain);
    return decodeSyncStateDocument(data);
}

SyncState decodeSyncStateDocument(const QByteArray &data)
{
    try {
        const json::ObjectReader in(json::parseObject(data));
        SyncState state;
        state.watchFolder = in.optString(u"watchFolder");
        state.ignoredPaths = stringSet(in, u"ignoredPaths");
        state.knownGalleryIds = stringSet(in, u"knownGalleryIds");
        state.dismissedGalleryIds = stringSet(in, u"dismissedGalleryIds");
        if (const auto byFolder = in.optChild(u"folderUploads")) {
            const QStringList paths = byFolder->keys();
            FolderUploadList list;
            list.reserve(paths.size());
            for (const QString &path : paths)
                list.append({path, UploadRecords(byFolder->objects<UploadedFileMeta>(path))});
            state.folderUploads = std::move(list);
        }
        if (const auto byFolder = in.optChild(u"folderGalleryIds")) {
            for (const QString &path : byFolder->keys())
                state.folderGalleryIds.insert(path, byFolder->string(path));
        }
        if (const auto byFolder = in.optChild(u"uploadsInFlight")) {
            for (const QString &path : byFolder->keys()) {
                const json::ObjectReader run = byFolder->child(path);
                state.uploadsInFlight.insert(path, {run.string(u"galleryId"), run.strings(u"fileNames")});
            }
        }
        state.version = in.optInteger(u"version").value_or(1);
        return state;
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.logDescription());
    }
}

SyncStateStore::SyncStateStore(QString filePath, std::chrono::milliseconds minInterval)
    : m_filePath(std::move(filePath))
    , m_lastGoodPath(m_filePath + QStringLiteral(".last-good"))
    , m_tempPath(m_filePath + QStringLiteral(".tmp"))
    , m_lastGoodTempPath(m_lastGoodPath + QStringLiteral(".tmp"))
    , m_minInterval(minInterval)
    , m_writer([this] { run(); })
{
}

SyncStateStore::~SyncStateStore()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_writer.join();
}

std::optional<SyncState> SyncStateStore::load()
{
    if (!QFileInfo::exists(m_filePath))
        return std::nullopt;
    try {
        const std::optional<FileStamp> stamp = stampOf(m_filePath);
        SyncState state = readState(m_filePath);
        if (stamp == stampOf(m_filePath)) {
            std::lock_guard lock(m_mutex);
            m_vouched = stamp;
            // A start with nothing changed then writes nothing; only while the writer is idle, as it owns this.
            if (isIdle())
                m_lastWritten = state;
        }
        return state;
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load state: %s", error.what());
    }
    QSet<QString> ignored = salvageIgnoredPaths(readBytes(m_filePath));
    keepAside(m_filePath);
    if (!QFileInfo::exists(m_lastGoodPath))
        return salvagedState(ignored);
    try {
        SyncState state = readState(m_lastGoodPath);
        qCWarning(lcSync, "Loaded the last good state from %s", qUtf8Printable(QFileInfo(m_lastGoodPath).fileName()));
        // The copy is older than the damaged file: a folder ignored since must not be published.
        state.ignoredPaths.unite(ignored);
        return state;
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load the last good state: %s", error.what());
    }
    ignored.unite(salvageIgnoredPaths(readBytes(m_lastGoodPath)));
    keepAside(m_lastGoodPath);
    return salvagedState(ignored);
}

std::chrono::milliseconds SyncStateStore::intervalAfter(qint64 bytesWritten, std::chrono::milliseconds minInterval)
{
    const double stretch = std::max(1.0, double(bytesWritten) / double(bytesPerInterval));
    return std::chrono::duration_cast<std::chrono::milliseconds>(minInterval * stretch);
}

void SyncStateStore::save(SyncState snapshot)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_saves;
        m_building.reset();
        m_pending = std::move(snapshot);
    }
    m_wake.notify_all();
}

void SyncStateStore::save(SnapshotBuilder build)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_saves;
        m_building = std::move(build);
    }
    m_wake.notify_all();
}

bool SyncStateStore::isIdle() const
{
    return !m_building && !m_preparing && !m_pending && !m_writing;
}

void SyncStateStore::flush()
{
    std::unique_lock lock(m_mutex);
    ++m_flushes;
    m_wake.notify_all();
    m_written.wait(lock, [this] { return isIdle(); });
    --m_flushes;
}

qint64 SyncStateStore::writeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_writeCount;
}

void SyncStateStore::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_building || m_pending || m_stopping; });
        if (m_building) {
            // Built at once, not when it is written, so that it lets go of the lists it shares with the caller.
            const SnapshotBuilder build = std::move(*m_building);
            m_building.reset();
            const quint64 save = m_saves;
            m_preparing = true;
            lock.unlock();
            std::optional<SyncState> built;
            try {
                built = build();
            } catch (const std::exception &error) {
                qCCritical(lcSync, "Failed to save state: %s", error.what());
            }
            lock.lock();
            m_preparing = false;
            if (built && save == m_saves) // else a newer save replaced it meanwhile
                m_pending = std::move(built);
            if (isIdle())
                m_written.notify_all();
            continue;
        }
        if (!m_pending)
            return; // stopping with nothing left to write
        // A burst of saves: hold the newest until the interval since the last write has passed.
        while (m_nextWriteDue && m_flushes == 0 && !m_stopping && !m_building) {
            if (Clock::now() >= *m_nextWriteDue)
                break;
            m_wake.wait_until(lock, *m_nextWriteDue);
        }
        if (m_building)
            continue; // a newer snapshot: built first, it replaces this one
        SyncState snapshot = std::move(*m_pending);
        m_pending.reset();
        m_writing = true;
        lock.unlock();
        const WriteOutcome outcome = write(snapshot);
        lock.lock();
        m_writing = false;
        // From the end: files land at least an interval apart; after a failed write the next waits the shortest one.
        if (outcome != WriteOutcome::unchanged)
            m_nextWriteDue = Clock::now()
                + intervalAfter(outcome == WriteOutcome::written ? m_lastWrittenBytes : 0, m_minInterval);
        m_writeCount += outcome == WriteOutcome::written ? 1 : 0;
        if (isIdle())
            m_written.notify_all();
    }
}

SyncStateStore::WriteOutcome SyncStateStore::write(const SyncState &snapshot)
{
    const std::optional<FileStamp> onDisk = stampOf(m_filePath);
    std::optional<FileStamp> vouched;
    {
        std::lock_guard lock(m_mutex);
        vouched = m_vouched;
    }
    const bool fileIsOurs = onDisk && onDisk == vouched;
    if (fileIsOurs && m_lastWritten == snapshot)
        return WriteOutcome::unchanged;
    try {
        QString error;
        qsizetype size = 0;
        {
            const QByteArray bytes = encodeSyncState(snapshot);
            size = bytes.size();
            if (!writeNewFile(m_tempPath, bytes, &error)) {
                qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(error));
                return WriteOutcome::failed;
            }
        }
#ifdef __GLIBC__
        // The encoded file was one large block: give the heap it leaves behind back to the system.
        malloc_trim(0);
#endif
        // The file being replaced is the last good state: it stays, as the copy, until the next write.
        if (fileIsOurs)
            keepAsLastGood();
        if (!renameOver(m_tempPath, m_filePath, &error)) {
            qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(error));
            ::unlink(QFile::encodeName(m_tempPath).constData());
            return WriteOutcome::failed;
        }
        qCDebug(lcSync, "Saved state (%lld bytes)", static_cast<long long>(size));
        const std::optional<FileStamp> written = stampOf(m_filePath);
        {
            std::lock_guard lock(m_mutex);
            m_vouched = written;
        }
        m_lastWritten = snapshot;
        m_lastWrittenBytes = size;
        return WriteOutcome::written;
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Failed to save state: %s", error.what());
        return WriteOutcome::failed;
    }
}

void SyncStateStore::keepAsLastGood()
{
    const QByteArray file = QFile::encodeName(m_filePath);
    const QByteArray temp = QFile::encodeName(m_lastGoodTempPath);
    ::unlink(temp.constData()); // left by a write that never finished
    QString error;
    // A second name for the same bytes; only where the file system has no hard links are they copied.
    const bool kept = ::link(file.constData(), temp.constData()) == 0
        || (QFile::copy(m_filePath, m_lastGoodTempPath) && ::chmod(temp.constData(), 0600) == 0);
    if (!kept)
        error = systemText(errno);
    if (!kept || !renameOver(m_lastGoodTempPath, m_lastGoodPath, &error)) {
        qCCritical(lcSync, "Failed to save the last good state: %s", qUtf8Printable(error));
        ::unlink(temp.constData());
        return;
    }
    // Renaming a name onto another name of the same file does nothing (a copy made by a write cut short).
    ::unlink(temp.constData());
    // An older version may have left the file readable by others; the copy is as private as the file.
    ::chmod(QFile::encodeName(m_lastGoodPath).constData(), 0600);
}
