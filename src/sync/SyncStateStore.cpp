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

// A free ".damaged-<time>" name beside the file.
QString asideName(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString aside = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    return aside;
}

// Equal but for the generation.
bool sameContent(const SyncState &a, SyncState b)
{
    b.generation = a.generation;
    return a == b;
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

} // namespace

namespace statefiles {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

static std::optional<SyncStateStore::FileStamp> stampOf(const QString &path)
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

bool syncFolderOf(const QString &path, QString *error)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        *error = systemText(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

void keepAside(const QString &path, const char *what)
{
    const QString aside = asideName(path);
    // rename(2) also moves a folder or a link that stands where the file should be.
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) == 0)
        qCWarning(lcSync, "Kept the unreadable %s as %s", what, qUtf8Printable(QFileInfo(aside).fileName()));
    else
        qCCritical(lcSync, "Could not move the unreadable %s %s aside: %s", what, qUtf8Printable(path),
                   qUtf8Printable(systemText(errno)));
}

void keepCopy(const QString &path, const char *what)
{
    const QString aside = asideName(path);
    if (QFile::copy(path, aside))
        qCWarning(lcSync, "Kept a copy of the damaged %s as %s", what, qUtf8Printable(QFileInfo(aside).fileName()));
    else
        qCCritical(lcSync, "Could not keep a copy of the damaged %s", what);
}

} // namespace statefiles

namespace {

// A damaged state file stays where it is until a write replaces it: a start killed before its first write leaves it
// for the next start, which then also knows that what was under way is lost. Anything but a plain file is moved.
void keepDamagedStateFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink()) {
        statefiles::keepAside(path, "state file");
        return;
    }
    statefiles::keepCopy(path, "state file");
}

} // namespace

using namespace statefiles;

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
    if (state.generation)
        out.integer(u"generation", *state.generation);
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
        state.generation = in.optInteger(u"generation");
        return state;
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.logDescription());
    }
}

SyncStateStore::SyncStateStore(QString filePath)
    : m_filePath(std::move(filePath))
    , m_lastGoodPath(m_filePath + QStringLiteral(".last-good"))
    , m_tempPath(m_filePath + QStringLiteral(".tmp"))
    , m_lastGoodTempPath(m_lastGoodPath + QStringLiteral(".tmp"))
{
}

std::optional<SyncState> SyncStateStore::load()
{
    if (!QFileInfo::exists(m_filePath))
        return std::nullopt;
    try {
        const std::optional<FileStamp> stamp = stampOf(m_filePath);
        SyncState state = readState(m_filePath);
        if (stamp == stampOf(m_filePath)) {
            m_vouched = stamp;
            m_lastWritten = state; // a start with nothing changed then writes nothing
            m_lastWrittenBytes = stamp ? stamp->size : 0;
        }
        m_generation = state.generation;
        return state;
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load state: %s", error.what());
    }
    m_loadedDamaged = true;
    QSet<QString> ignored = salvageIgnoredPaths(readBytes(m_filePath));
    keepDamagedStateFile(m_filePath);
    if (!QFileInfo::exists(m_lastGoodPath))
        return salvagedState(ignored);
    try {
        SyncState state = readState(m_lastGoodPath);
        qCWarning(lcSync, "Loaded the last good state from %s", qUtf8Printable(QFileInfo(m_lastGoodPath).fileName()));
        m_generation = state.generation;
        // The copy is older than the damaged file: a folder ignored since must not be published.
        state.ignoredPaths.unite(ignored);
        return state;
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load the last good state: %s", error.what());
    }
    ignored.unite(salvageIgnoredPaths(readBytes(m_lastGoodPath)));
    keepAside(m_lastGoodPath, "state file");
    return salvagedState(ignored);
}

QString SyncStateStore::Unwritten::describe() const
{
    const QString file = fileOf ? fileOf->toString(QStringLiteral("HH:mm:ss")) : QStringLiteral("an earlier start");
    return QStringLiteral("the file holds the state of %1, later saves not on disk: %2 (%3)").arg(file).arg(saves).arg(error);
}

void SyncStateStore::adoptEqual(const SyncState &snapshot)
{
    // The engine's state knows no generation: the file's stays.
    if (m_lastWritten && sameContent(*m_lastWritten, snapshot)) {
        const std::optional<qint64> generation = m_lastWritten->generation;
        m_lastWritten = snapshot;
        m_lastWritten->generation = generation;
    }
}

SyncStateStore::WriteOutcome SyncStateStore::write(const SyncState &snapshot, QString *failure)
{
    const std::optional<FileStamp> onDisk = stampOf(m_filePath);
    const bool fileIsOurs = onDisk && onDisk == m_vouched;
    if (fileIsOurs && m_lastWritten && sameContent(*m_lastWritten, snapshot)) {
        // Equal, but the snapshot shares its records with the live folder list, where the state read at start
        // holds copies of its own: keep the one that costs nothing. The file keeps its generation.
        m_lastWritten = snapshot;
        m_lastWritten->generation = m_generation;
        return WriteOutcome::unchanged;
    }
    // Let go of the state this write replaces (at the first write, all the records of the file read at start) before
    // the trim below, or its heap stays with the process.
    m_lastWritten.reset();
    try {
        QString error;
        qsizetype size = 0;
        {
            const QByteArray bytes = encodeSyncState(snapshot);
            size = bytes.size();
            if (!writeNewFile(m_tempPath, bytes, &error)) {
                qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(error));
                *failure = error;
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
            *failure = error;
            return WriteOutcome::failed;
        }
        qCDebug(lcSync, "Saved state (%lld bytes)", static_cast<long long>(size));
        const std::optional<FileStamp> written = stampOf(m_filePath);
        m_vouched = written;
        m_lastWrittenBytes = size;
        m_lastWritten = snapshot;
        m_generation = snapshot.generation;
        return WriteOutcome::written;
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Failed to save state: %s", error.what());
        *failure = QString::fromLocal8Bit(error.what());
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
