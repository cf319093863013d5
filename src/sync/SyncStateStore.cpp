#include "SyncStateStore.h"

#include "StateFileParser.h"
#include "SyncLogging.h"
#include "service/Json.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

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

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    // Private to its owner, like every file of the app; also mends a file an older version left readable.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
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
        if (const auto byFolder = in.optChild(u"folderUploads")) {
            const QStringList paths = byFolder->keys();
            FolderUploadList list;
            list.reserve(paths.size());
            for (const QString &path : paths)
                list.append({path, byFolder->objects<UploadedFileMeta>(path)});
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
        throw SyncDecodingError(error.localizedDescription());
    }
}

SyncStateStore::SyncStateStore(QString filePath, std::chrono::milliseconds minInterval)
    : m_filePath(std::move(filePath))
    , m_lastGoodPath(m_filePath + QStringLiteral(".last-good"))
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

std::optional<SyncState> SyncStateStore::load() const
{
    if (!QFileInfo::exists(m_filePath))
        return std::nullopt;
    try {
        return readState(m_filePath);
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load state: %s", error.what());
    }
    keepAside(m_filePath);
    if (!QFileInfo::exists(m_lastGoodPath))
        return std::nullopt;
    try {
        SyncState state = readState(m_lastGoodPath);
        qCWarning(lcSync, "Loaded the last good state from %s", qUtf8Printable(QFileInfo(m_lastGoodPath).fileName()));
        return state;
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load the last good state: %s", error.what());
    }
    keepAside(m_lastGoodPath);
    return std::nullopt;
}

void SyncStateStore::save(SyncState snapshot)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(snapshot);
    }
    m_wake.notify_all();
}

void SyncStateStore::flush()
{
    std::unique_lock lock(m_mutex);
    ++m_flushes;
    m_wake.notify_all();
    m_written.wait(lock, [this] { return !m_pending && !m_writing; });
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
        m_wake.wait(lock, [this] { return m_pending || m_stopping; });
        if (!m_pending)
            return; // stopping with nothing left to write
        // A burst of saves: hold the newest until the interval since the last write has passed.
        while (m_lastWriteEnd && m_flushes == 0 && !m_stopping) {
            const Clock::time_point due = *m_lastWriteEnd + m_minInterval;
            if (Clock::now() >= due)
                break;
            m_wake.wait_until(lock, due);
        }
        SyncState snapshot = std::move(*m_pending);
        m_pending.reset();
        m_writing = true;
        lock.unlock();
        const bool written = write(snapshot);
#ifdef __GLIBC__
        // The encoded file was one large block: give the heap it leaves behind back to the system.
        malloc_trim(0);
#endif
        lock.lock();
        m_writing = false;
        m_lastWriteEnd = Clock::now(); // from the end: files land at least an interval apart
        m_writeCount += written ? 1 : 0;
        if (!m_pending)
            m_written.notify_all();
    }
}

bool SyncStateStore::write(const SyncState &snapshot) const
{
    try {
        const QByteArray bytes = encodeSyncState(snapshot);
        // The copy first: whatever later happens to the state file, a good state stands beside it.
        QString error;
        if (!writeAtomically(m_lastGoodPath, bytes, &error))
            qCCritical(lcSync, "Failed to save the last good state: %s", qUtf8Printable(error));
        if (!writeAtomically(m_filePath, bytes, &error)) {
            qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(error));
            return false;
        }
        qCDebug(lcSync, "Saved state (%lld bytes)", static_cast<long long>(bytes.size()));
        return true;
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Failed to save state: %s", error.what());
        return false;
    }
}
