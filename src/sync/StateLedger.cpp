#include "StateLedger.h"

#include "SyncErrors.h"
#include "SyncLogging.h"
#include "platform/DiskRecovery.h"
#include "service/Json.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace statefiles;

// ---- the sources of a save

SyncState StateSources::build() const
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

LedgerState LedgerState::of(const SyncState &state)
{
    LedgerState result;
    result.watchFolder = state.watchFolder;
    result.ignoredPaths = state.ignoredPaths;
    result.knownGalleryIds = state.knownGalleryIds;
    result.dismissedGalleryIds = state.dismissedGalleryIds;
    if (state.folderUploads) {
        result.records.reserve(state.folderUploads->size());
        for (const auto &[path, records] : *state.folderUploads)
            result.records.insert(path, records);
    }
    for (auto it = state.folderGalleryIds.cbegin(); it != state.folderGalleryIds.cend(); ++it)
        result.links.insert(it.key(), it.value());
    result.entries.runs = state.uploadsInFlight; // a file of an older version
    return result;
}

SyncState LedgerState::toSyncState() const
{
    SyncState state;
    state.watchFolder = watchFolder;
    state.ignoredPaths = ignoredPaths;
    state.knownGalleryIds = knownGalleryIds;
    state.dismissedGalleryIds = dismissedGalleryIds;
    if (!records.isEmpty()) {
        QStringList paths = records.keys();
        std::sort(paths.begin(), paths.end());
        FolderUploadList uploads;
        uploads.reserve(paths.size());
        for (const QString &path : std::as_const(paths))
            uploads.append({path, records.value(path)});
        state.folderUploads = std::move(uploads);
    }
    for (auto it = links.cbegin(); it != links.cend(); ++it)
        state.folderGalleryIds.insert(it.key(), it.value());
    return state;
}

// ---- the log's lines

namespace {

quint32 crc32(QByteArrayView bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QStringList sortedList(const QSet<QString> &set)
{
    QStringList list(set.cbegin(), set.cend());
    std::sort(list.begin(), list.end());
    return list;
}

void writeSetChange(json::ObjectWriter &out, QStringView added, QStringView removed, const QSet<QString> &from,
                    const QSet<QString> &to)
{
    if (from == to)
        return;
    const QSet<QString> plus = QSet<QString>(to).subtract(from);
    const QSet<QString> minus = QSet<QString>(from).subtract(to);
    if (!plus.isEmpty())
        out.strings(added, sortedList(plus));
    if (!minus.isEmpty())
        out.strings(removed, sortedList(minus));
}

void writeEntries(json::ObjectWriter &out, QStringView key, const QList<std::pair<QString, UploadInFlight>> &entries)
{
    if (entries.isEmpty())
        return;
    out.objectWith(key, [&entries](json::ObjectWriter &byFolder) {
        for (const auto &[path, entry] : entries) {
            byFolder.objectWith(path, [&entry](json::ObjectWriter &inner) {
                inner.string(u"galleryId", entry.galleryId);
                inner.strings(u"fileNames", entry.fileNames);
            });
        }
    });
}

// The entries of `to` that differ from `from`, and the keys `to` lacks.
template<typename Map>
std::pair<QList<std::pair<QString, typename Map::mapped_type>>, QStringList> mapChange(const Map &from, const Map &to)
{
    QList<std::pair<QString, typename Map::mapped_type>> changed;
    QStringList removed;
    for (auto it = to.cbegin(); it != to.cend(); ++it) {
        const auto earlier = from.constFind(it.key());
        if (earlier == from.cend() || !(*earlier == it.value()))
            changed.append({it.key(), it.value()});
    }
    for (auto it = from.cbegin(); it != from.cend(); ++it) {
        if (!to.contains(it.key()))
            removed.append(it.key());
    }
    std::sort(removed.begin(), removed.end());
    return {changed, removed};
}

struct Batch {
    bool reset = false;
    std::optional<std::optional<QString>> watchFolder;
    QStringList ignoredAdded, ignoredRemoved, knownAdded, knownRemoved, dismissedAdded, dismissedRemoved;
    QList<std::pair<QString, UploadRecords>> records;
    QStringList recordsRemoved;
    QList<std::pair<QString, QString>> links;
    QStringList linksRemoved;
    QMap<QString, UploadInFlight> runs;
    QStringList runsEnded;
    QMap<QString, UploadInFlight> replacements;
    QStringList replacementsDone;
};

QMap<QString, UploadInFlight> readEntries(const json::ObjectReader &in, QStringView key)
{
    QMap<QString, UploadInFlight> entries;
    if (const auto byFolder = in.optChild(key)) {
        for (const QString &path : byFolder->keys()) {
            const json::ObjectReader entry = byFolder->child(path);
            entries.insert(path, {entry.string(u"galleryId"), entry.strings(u"fileNames")});
        }
    }
    return entries;
}

Batch parseBatch(const QByteArray &json)
{
    try {
        const json::ObjectReader in(json::parseObject(json));
        Batch batch;
        batch.reset = in.optBoolean(u"reset").value_or(false);
        if (const auto folder = in.optString(u"watchFolder"))
            batch.watchFolder = std::optional<QString>(*folder);
        if (in.optBoolean(u"watchFolderCleared").value_or(false))
            batch.watchFolder = std::optional<QString>();
        const auto strings = [&in](QStringView key) { return in.optStrings(key).value_or(QStringList()); };
        batch.ignoredAdded = strings(u"ignoredAdded");
        batch.ignoredRemoved = strings(u"ignoredRemoved");
        batch.knownAdded = strings(u"knownAdded");
        batch.knownRemoved = strings(u"knownRemoved");
        batch.dismissedAdded = strings(u"dismissedAdded");
        batch.dismissedRemoved = strings(u"dismissedRemoved");
        if (const auto byFolder = in.optChild(u"records")) {
            for (const QString &path : byFolder->keys())
                batch.records.append({path, UploadRecords(byFolder->objects<UploadedFileMeta>(path))});
        }
        batch.recordsRemoved = strings(u"recordsRemoved");
        if (const auto byFolder = in.optChild(u"links")) {
            for (const QString &path : byFolder->keys())
                batch.links.append({path, byFolder->string(path)});
        }
        batch.linksRemoved = strings(u"linksRemoved");
        batch.runs = readEntries(in, u"runs");
        batch.runsEnded = strings(u"runsEnded");
        batch.replacements = readEntries(in, u"replacements");
        batch.replacementsDone = strings(u"replacementsDone");
        return batch;
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.logDescription());
    }
}

void apply(const Batch &batch, LedgerState &state)
{
    if (batch.reset)
        state.entries = {};
    if (batch.watchFolder)
        state.watchFolder = *batch.watchFolder;
    const auto change = [](QSet<QString> &set, const QStringList &added, const QStringList &removed) {
        for (const QString &item : added)
            set.insert(item);
        for (const QString &item : removed)
            set.remove(item);
    };
    change(state.ignoredPaths, batch.ignoredAdded, batch.ignoredRemoved);
    change(state.knownGalleryIds, batch.knownAdded, batch.knownRemoved);
    change(state.dismissedGalleryIds, batch.dismissedAdded, batch.dismissedRemoved);
    for (const auto &[path, records] : batch.records)
        state.records.insert(path, records);
    for (const QString &path : batch.recordsRemoved)
        state.records.remove(path);
    for (const auto &[path, id] : batch.links)
        state.links.insert(path, id);
    for (const QString &path : batch.linksRemoved)
        state.links.remove(path);
    for (auto it = batch.runs.cbegin(); it != batch.runs.cend(); ++it)
        state.entries.runs.insert(it.key(), it.value());
    for (const QString &path : batch.runsEnded)
        state.entries.runs.remove(path);
    for (auto it = batch.replacements.cbegin(); it != batch.replacements.cend(); ++it)
        state.entries.replacements.insert(it.key(), it.value());
    for (const QString &path : batch.replacementsDone)
        state.entries.replacements.remove(path);
}

// The JSON of a framed line, or nothing when the line fails its check.
std::optional<QByteArray> unframe(QByteArrayView line)
{
    if (line.size() < 10 || line.at(8) != ' ')
        return std::nullopt;
    bool ok = false;
    const quint32 stored = QByteArray(line.first(8).data(), 8).toUInt(&ok, 16);
    const QByteArrayView json = line.sliced(9);
    if (!ok || stored != crc32(json))
        return std::nullopt;
    return json.toByteArray();
}

} // namespace

QByteArray ledgerlog::frame(const QByteArray &json)
{
    return QByteArray::number(crc32(json), 16).rightJustified(8, '0') + ' ' + json + '\n';
}

QByteArray ledgerlog::batch(const LedgerState &from, const LedgerState &to, quint64 seq)
{
    if (from == to)
        return {};
    json::ObjectWriter out;
    out.integer(u"seq", qint64(seq));
    if (from.watchFolder != to.watchFolder) {
        if (to.watchFolder)
            out.string(u"watchFolder", *to.watchFolder);
        else
            out.boolean(u"watchFolderCleared", true);
    }
    writeSetChange(out, u"ignoredAdded", u"ignoredRemoved", from.ignoredPaths, to.ignoredPaths);
    writeSetChange(out, u"knownAdded", u"knownRemoved", from.knownGalleryIds, to.knownGalleryIds);
    writeSetChange(out, u"dismissedAdded", u"dismissedRemoved", from.dismissedGalleryIds, to.dismissedGalleryIds);
    const auto [records, recordsRemoved] = mapChange(from.records, to.records);
    if (!records.isEmpty()) {
        out.objectWith(u"records", [&records](json::ObjectWriter &byFolder) {
            for (const auto &[path, list] : records)
                byFolder.objects(path, list);
        });
    }
    if (!recordsRemoved.isEmpty())
        out.strings(u"recordsRemoved", recordsRemoved);
    const auto [links, linksRemoved] = mapChange(from.links, to.links);
    if (!links.isEmpty()) {
        out.objectWith(u"links", [&links](json::ObjectWriter &byFolder) {
            for (const auto &[path, id] : links)
                byFolder.string(path, id);
        });
    }
    if (!linksRemoved.isEmpty())
        out.strings(u"linksRemoved", linksRemoved);
    const auto [runs, runsEnded] = mapChange(from.entries.runs, to.entries.runs);
    writeEntries(out, u"runs", runs);
    if (!runsEnded.isEmpty())
        out.strings(u"runsEnded", runsEnded);
    const auto [replacements, done] = mapChange(from.entries.replacements, to.entries.replacements);
    writeEntries(out, u"replacements", replacements);
    if (!done.isEmpty())
        out.strings(u"replacementsDone", done);
    return out.finish();
}

QByteArray ledgerlog::header(const LedgerState &state, quint64 seq)
{
    json::ObjectWriter out;
    out.integer(u"seq", qint64(seq));
    out.boolean(u"reset", true);
    const auto [runs, unused] = mapChange(QMap<QString, UploadInFlight>(), state.entries.runs);
    writeEntries(out, u"runs", runs);
    const auto [replacements, none] = mapChange(QMap<QString, UploadInFlight>(), state.entries.replacements);
    writeEntries(out, u"replacements", replacements);
    return out.finish();
}

ledgerlog::Replay ledgerlog::replay(const QByteArray &log, LedgerState state)
{
    Replay result;
    if (log.isEmpty()) {
        // A log is never empty: it starts whole, with its header line.
        result.end = Replay::End::damaged;
        result.reason = QStringLiteral("the file is empty");
    }
    qsizetype at = 0;
    while (at < log.size()) {
        const qsizetype end = log.indexOf('\n', at);
        if (end < 0) {
            result.end = result.lines == 0 ? Replay::End::damaged : Replay::End::cut;
            result.reason = result.lines == 0 ? QStringLiteral("line 1 is cut short")
                                              : QStringLiteral("the last line is cut short");
            break;
        }
        const std::optional<QByteArray> json = unframe(QByteArrayView(log).sliced(at, end - at));
        std::optional<Batch> batch;
        if (json) {
            try {
                batch = parseBatch(*json);
            } catch (const SyncDecodingError &error) {
                result.reason = QStringLiteral("line %1 cannot be read: %2").arg(result.lines + 1).arg(error.what());
            }
        } else {
            result.reason = QStringLiteral("line %1 fails its check").arg(result.lines + 1);
        }
        if (!batch) {
            // The last batch may be half written (a kill): one that good lines follow was damaged afterwards. The
            // first line is written whole, by a rename: bad, it is damage too.
            bool goodFollows = false;
            for (qsizetype next = end + 1; next < log.size() && !goodFollows;) {
                const qsizetype nextEnd = log.indexOf('\n', next);
                if (nextEnd < 0)
                    break;
                goodFollows = unframe(QByteArrayView(log).sliced(next, nextEnd - next)).has_value();
                next = nextEnd + 1;
            }
            result.end = goodFollows || result.lines == 0 ? Replay::End::damaged : Replay::End::cut;
            break;
        }
        apply(*batch, state);
        ++result.lines;
        at = end + 1;
        result.goodBytes = at;
    }
    result.state = std::move(state);
    return result;
}

// ---- the ledger

namespace {

enum class Read { absent, read, unreadable };

Read readFile(const QString &path, QByteArray *bytes, QString *reason)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return Read::absent;
        *reason = systemText(errno);
        return Read::unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        *reason = S_ISDIR(st.st_mode) ? QStringLiteral("a folder stands in its place")
                                      : QStringLiteral("it is not a regular file");
        return Read::unreadable;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return Read::unreadable;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return Read::unreadable;
    }
    return Read::read;
}

// Copies a damaged file under a ".damaged-<time>" name and leaves it in place, for the next write to replace.
void keepCopy(const QString &path, const char *what)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString aside = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (QFile::copy(path, aside))
        qCWarning(lcSync, "Kept a copy of the damaged %s as %s", what, qUtf8Printable(QFileInfo(aside).fileName()));
    else
        qCCritical(lcSync, "Could not keep a copy of the damaged %s", what);
}

// Adds the names the other place noted for the same gallery.
void uniteReplacements(QMap<QString, UploadInFlight> &into, const QMap<QString, UploadInFlight> &other)
{
    for (auto it = other.cbegin(); it != other.cend(); ++it) {
        const auto found = into.find(it.key());
        if (found == into.end()) {
            into.insert(it.key(), it.value());
            continue;
        }
        if (found->galleryId != it->galleryId)
            continue;
        for (const QString &name : it->fileNames) {
            if (!found->fileNames.contains(name))
                found->fileNames.append(name);
        }
    }
}

std::chrono::milliseconds retryAfter(int failures)
{
    std::chrono::milliseconds wait = StateLedger::firstRetry;
    for (int i = 1; i < failures && wait < StateLedger::maxRetry; ++i)
        wait *= 2;
    return std::min(wait, StateLedger::maxRetry);
}

} // namespace

StateLedger::StateLedger(const QString &supportDirectory, qint64 compactionFloor)
    : m_logPath(supportDirectory + QLatin1Char('/') + logFileName)
    , m_journalPath(supportDirectory + QLatin1Char('/') + UploadJournal::fileName)
    , m_compactionFloor(compactionFloor)
    , m_snapshot(supportDirectory + QLatin1Char('/') + stateFileName)
{
}

StateLedger::~StateLedger()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    if (m_logFd >= 0)
        ::close(m_logFd);
}

StateLedger::Loaded StateLedger::load()
{
    Loaded loaded;
    const std::optional<SyncState> snapshot = m_snapshot.load();
    // An older copy or nothing stands in for the snapshot: records uploaded since may be missing.
    loaded.runsLost = m_snapshot.loadedDamaged();
    LedgerState state = snapshot ? LedgerState::of(*snapshot) : LedgerState();
    // The snapshot that stood for a damaged file is written at once; one of an older version at the next flush.
    m_logNeedsRewrite = loaded.runsLost;
    m_snapshotDue = !snapshot || !snapshot->uploadsInFlight.isEmpty() || snapshot->version != SyncState::currentVersion;
    // An older version may have left them readable by others, or not even writable by their owner.
    for (const QString &path : {stateFilePath(), m_logPath, m_journalPath}) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(path);
        if (::lstat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) != 0600)
            ::chmod(native.constData(), 0600);
    }

    QByteArray bytes;
    QString reason;
    const Read log = readFile(m_logPath, &bytes, &reason);
    if (log == Read::unreadable) {
        qCCritical(lcSync, "Failed to load state log: %s", qUtf8Printable(reason));
        keepAside(m_logPath, "state log");
        loaded.runsLost = true;
        m_logNeedsRewrite = true;
    } else if (log == Read::read) {
        ledgerlog::Replay replay = ledgerlog::replay(bytes, std::move(state));
        state = std::move(replay.state);
        m_logSize = replay.goodBytes;
        m_logDirty = replay.lines > 1;
        if (replay.end == ledgerlog::Replay::End::damaged) {
            qCCritical(lcSync, "Failed to load state log: %s", qUtf8Printable(replay.reason));
            keepCopy(m_logPath, "state log");
            loaded.runsLost = true;
            m_logNeedsRewrite = true;
        } else if (replay.end == ledgerlog::Replay::End::cut) {
            // The trace of a kill: that batch was never reported on disk, so nothing acted on it.
            qCInfo(lcSync, "The state log ends in a batch that was not finished (%s)", qUtf8Printable(replay.reason));
            if (::truncate(QFile::encodeName(m_logPath).constData(), replay.goodBytes) != 0)
                m_logNeedsRewrite = true;
        }
    }

    UploadJournalEntries journal;
    const Read journalRead = readFile(m_journalPath, &bytes, &reason);
    if (journalRead == Read::read) {
        try {
            journal = decodeUploadJournal(bytes);
        } catch (const SyncDecodingError &error) {
            reason = bytes.isEmpty() ? QStringLiteral("the file is empty") : QString::fromUtf8(error.what());
            qCCritical(lcSync, "Failed to load upload runs: %s", qUtf8Printable(reason));
            keepAside(m_journalPath, "upload runs");
            // Without a log (a file of an older version) the runs were only there.
            loaded.runsLost = loaded.runsLost || log == Read::absent;
        }
    } else if (journalRead == Read::unreadable) {
        qCCritical(lcSync, "Failed to load upload runs: %s", qUtf8Printable(reason));
        keepAside(m_journalPath, "upload runs");
        loaded.runsLost = loaded.runsLost || log == Read::absent;
    }
    if (log == Read::absent) {
        for (auto it = journal.runs.cbegin(); it != journal.runs.cend(); ++it)
            state.entries.runs.insert(it.key(), it.value());
    }
    uniteReplacements(state.entries.replacements, journal.replacements);
    m_journaled.replacements = journal.replacements;

    if (log == Read::read && !m_logNeedsRewrite) {
        m_logFd = ::open(QFile::encodeName(m_logPath).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (m_logFd < 0)
            m_logNeedsRewrite = true; // replaced by the first write
    }
    if (snapshot || log == Read::read)
        loaded.state = state.toSyncState();
    loaded.entries = state.entries;
    m_logged = std::move(state);
    m_writer = std::thread([this] { run(); });
    return loaded;
}

StateLedger::Ticket StateLedger::save(StateSources sources)
{
    Ticket ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        ticket = ++m_saves;
        m_pending = Pending{std::move(sources), ticket};
    }
    m_wake.notify_all();
    return ticket;
}

StateLedger::Ticket StateLedger::latestTicket() const
{
    std::lock_guard lock(m_mutex);
    return m_saves;
}

bool StateLedger::isOnDisk(Ticket ticket) const
{
    std::lock_guard lock(m_mutex);
    return ticket <= m_onDisk;
}

QFuture<bool> StateLedger::whenOnDisk(Ticket ticket)
{
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    QFuture<bool> future = promise->future();
    std::lock_guard lock(m_mutex);
    // While the disk refuses, the answer is no at once; the writer still tries again by itself.
    if (ticket <= m_onDisk || ticket <= m_failedUpTo || m_failuresInRow > 0) {
        promise->addResult(ticket <= m_onDisk);
        promise->finish();
    } else {
        m_waiting.append({ticket, promise});
    }
    return future;
}

void StateLedger::retryNow()
{
    {
        std::lock_guard lock(m_mutex);
        m_retryAsked = true;
    }
    m_wake.notify_all();
}

StateLedger::Phase StateLedger::phase() const
{
    std::lock_guard lock(m_mutex);
    return m_phase;
}

StateLedger::Figures StateLedger::figures() const
{
    std::lock_guard lock(m_mutex);
    return m_figures;
}

void StateLedger::setCompactionHook(std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_compactionHook = std::move(hook);
}

std::optional<SyncStateStore::Unwritten> StateLedger::flush()
{
    std::unique_lock lock(m_mutex);
    if (!m_writer.joinable())
        return std::nullopt;
    const Ticket ticket = m_saves;
    m_flushAsked = true;
    m_wake.notify_all();
    m_settled.wait(lock, [this] { return !m_flushAsked; });
    if (ticket <= m_onDisk && m_failuresInRow == 0)
        return std::nullopt;
    return SyncStateStore::Unwritten{m_lastError, qint64(m_saves - m_onDisk), m_writtenAt};
}

void StateLedger::settle(Ticket ticket, bool ok)
{
    if (ok)
        m_onDisk = std::max(m_onDisk, ticket);
    else
        m_failedUpTo = std::max(m_failedUpTo, ticket);
    for (qsizetype i = 0; i < m_waiting.size();) {
        if (m_waiting.at(i).first > ticket) {
            ++i;
            continue;
        }
        const std::shared_ptr<QPromise<bool>> promise = m_waiting.takeAt(i).second;
        promise->addResult(ok);
        promise->finish();
    }
}

void StateLedger::run()
{
    std::optional<std::pair<LedgerState, Ticket>> failed; // the state of a failed write, to try again
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_flushAsked || m_retryAsked || m_pending || failed; });
        if (m_failuresInRow > 0 && !m_stopping && !m_flushAsked && !m_retryAsked) {
            const Clock::time_point due = m_lastFailure + retryAfter(m_failuresInRow);
            if (Clock::now() < due) {
                m_phase = Phase::waitingToRetry;
                m_wake.wait_until(lock, due);
                continue;
            }
        }
        m_retryAsked = false;
        const bool stopping = m_stopping;
        const bool flushing = m_flushAsked || stopping; // the end writes the state whole, as a flush does
        std::optional<Pending> job = std::move(m_pending);
        m_pending.reset();
        if (!job && !failed && !flushing) {
            if (m_stopping)
                break;
            m_phase = Phase::idle;
            continue;
        }
        Ticket ticket = job ? job->ticket : failed ? failed->second : m_onDisk;
        m_phase = Phase::appending;
        lock.unlock();

        LedgerState next;
        if (job) {
            next = LedgerState::of(job->sources.build());
            next.entries = job->sources.entries;
            job.reset(); // lets go of the lists it shares
        } else if (failed) {
            next = failed->first;
        } else {
            next = m_logged;
        }
        failed.reset();
        QString error;
        bool ok = true;
        try {
            ok = write(next, ticket, flushing, &error);
        } catch (const std::exception &e) {
            ok = false;
            error = QString::fromLocal8Bit(e.what());
        }

        lock.lock();
        if (ok) {
            if (m_failuresInRow > 0) {
                qCInfo(lcSync, "State written after %d failed attempts", m_failuresInRow);
                DiskRecovery::noteWriteSucceededAfterFailure();
            }
            m_failuresInRow = 0;
            m_writtenAt = QDateTime::currentDateTime();
        } else {
            qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(error));
            ++m_failuresInRow;
            ++m_figures.failures;
            m_lastFailure = Clock::now();
            m_lastError = error;
            if (!m_pending)
                failed = std::pair(std::move(next), ticket);
        }
        settle(ticket, ok);
        if (flushing)
            m_flushAsked = false;
        m_phase = Phase::idle;
        m_settled.notify_all();
        if (stopping && !m_pending) {
            if (!ok) {
                const SyncStateStore::Unwritten unwritten{error, qint64(m_saves - m_onDisk), m_writtenAt};
                qCCritical(lcSync, "State not written at exit: %s", qUtf8Printable(unwritten.describe()));
            }
            break;
        }
    }
    m_phase = Phase::stopped;
    for (const auto &[ticket, promise] : std::as_const(m_waiting)) {
        promise->addResult(false);
        promise->finish();
    }
    m_waiting.clear();
    m_settled.notify_all();
}

bool StateLedger::write(const LedgerState &next, Ticket ticket, bool compactNow, QString *error)
{
    // The second place for the replacements, before the line that lets a deletion go out.
    if (next.entries.replacements != m_journaled.replacements && !writeJournal(next.entries, error))
        return false;
    if (m_logNeedsRewrite)
        return compact(next, ticket, true, error);
    // No log yet (a first start, or the files of an older version): a header over the snapshot on disk starts one.
    if (m_logFd < 0 && !compact(m_logged, ticket, false, error))
        return false;
    const QByteArray body = ledgerlog::batch(m_logged, next, ticket);
    if (!body.isEmpty()) {
        if (!append(ledgerlog::frame(body), error)) {
            qCWarning(lcSync, "Could not append to the state log (%s): writing the state whole",
                      qUtf8Printable(*error));
            return compact(next, ticket, true, error);
        }
        m_logged = next;
    }
    const qint64 share = std::max(m_compactionFloor, m_snapshot.lastWrittenBytes() / 2);
    if (m_logSize > share || (compactNow && (m_logDirty || m_snapshotDue))) {
        QString compactionError;
        if (!compact(m_logged, ticket, true, &compactionError))
            qCCritical(lcSync, "Failed to write the state whole: %s", qUtf8Printable(compactionError));
    }
    return true;
}

bool StateLedger::append(const QByteArray &line, QString *error)
{
    bool ok = true;
    int failure = 0;
    for (qsizetype done = 0; ok && done < line.size();) {
        const ssize_t n = ::write(m_logFd, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno != EINTR) {
            ok = false;
            failure = errno;
        }
        done += std::max<ssize_t>(n, 0);
    }
    if (ok && ::fdatasync(m_logFd) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        *error = systemText(failure);
        // A part of a line followed by later lines would read as damage.
        if (::ftruncate(m_logFd, m_logSize) != 0)
            m_logNeedsRewrite = true;
        return false;
    }
    m_logSize += line.size();
    m_logDirty = true;
    std::lock_guard lock(m_mutex);
    m_figures.logBytes += line.size();
    ++m_figures.appends;
    return true;
}

bool StateLedger::compact(const LedgerState &state, Ticket ticket, bool withSnapshot, QString *error)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(m_mutex);
        m_phase = Phase::compacting;
        hook = m_compactionHook;
    }
    if (withSnapshot) {
        const SyncStateStore::WriteOutcome outcome = m_snapshot.write(state.toSyncState(), error);
        if (outcome == SyncStateStore::WriteOutcome::failed)
            return false;
        m_snapshotDue = false;
        if (outcome == SyncStateStore::WriteOutcome::written) {
            std::lock_guard lock(m_mutex);
            m_figures.snapshotBytes += m_snapshot.lastWrittenBytes();
        }
    }
    if (withSnapshot && hook)
        hook();
    const QByteArray line = ledgerlog::frame(ledgerlog::header(state, ticket));
    const QString temp = m_logPath + QStringLiteral(".tmp");
    if (!writeNewFile(temp, line, error))
        return false;
    if (!renameOver(temp, m_logPath, error)) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    if (!syncFolderOf(m_logPath, error))
        qCWarning(lcSync, "Could not sync the support folder: %s", qUtf8Printable(*error));
    if (m_logFd >= 0)
        ::close(m_logFd);
    m_logFd = ::open(QFile::encodeName(m_logPath).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    m_logSize = line.size();
    m_logDirty = false;
    m_logNeedsRewrite = m_logFd < 0;
    m_logged = state;
    std::lock_guard lock(m_mutex);
    m_figures.snapshotBytes += line.size();
    ++m_figures.compactions;
    return true;
}

bool StateLedger::writeJournal(const UploadJournalEntries &entries, QString *error)
{
    // Replaced by a rename, also where the file stands unwritable or something else stands in its place.
    UploadJournalEntries kept;
    kept.replacements = entries.replacements;
    const QByteArray bytes = encodeUploadJournal(kept);
    const QString temp = m_journalPath + QStringLiteral(".tmp");
    if (!writeNewFile(temp, bytes, error))
        return false;
    if (!renameOver(temp, m_journalPath, error)) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    m_journaled = kept;
    std::lock_guard lock(m_mutex);
    m_figures.journalBytes += bytes.size();
    return true;
}
