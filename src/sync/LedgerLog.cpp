#include "LedgerLog.h"

#include "SyncErrors.h"
#include "service/Json.h"

#include <algorithm>
#include <array>

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
            byFolder.objectWith(path, [&entry](json::ObjectWriter &inner) { writeUploadInFlight(inner, entry); });
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

// The changed keys' new values that differ from `from`, by path, and the paths they remove from it.
template<typename T>
std::pair<QList<std::pair<QString, T>>, QStringList> keyChange(const QHash<QString, T> &from,
                                                              const QHash<QString, std::optional<T>> &changes)
{
    QList<std::pair<QString, T>> changed;
    QStringList removed;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        const auto earlier = from.constFind(it.key());
        if (it.value()) {
            if (earlier == from.cend() || !(*earlier == *it.value()))
                changed.append({it.key(), *it.value()});
        } else if (earlier != from.cend()) {
            removed.append(it.key());
        }
    }
    std::sort(changed.begin(), changed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
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
    std::optional<bool> runsLost;
    std::optional<qint64> generation;
};

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
        batch.runs = readUploadsByFolder(in, u"runs");
        batch.runsEnded = strings(u"runsEnded");
        batch.replacements = readUploadsByFolder(in, u"replacements");
        batch.replacementsDone = strings(u"replacementsDone");
        batch.runsLost = in.optBoolean(u"runsLost");
        batch.generation = in.optInteger(u"generation");
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
    if (batch.runsLost)
        state.entries.runsLost = *batch.runsLost;
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

QByteArray ledgerlog::frameHead(const QByteArray &json)
{
    return QByteArray::number(crc32(json), 16).rightJustified(8, '0') + ' ';
}

QByteArray ledgerlog::frame(const QByteArray &json)
{
    return frameHead(json) + json + '\n';
}

bool ledgerlog::Changes::isEmpty() const
{
    return !watchFolder && !ignoredPaths && !knownGalleryIds && !dismissedGalleryIds && records.isEmpty()
           && links.isEmpty() && !entries;
}

void ledgerlog::Changes::applyTo(LedgerState &state) const
{
    if (watchFolder)
        state.watchFolder = *watchFolder;
    if (ignoredPaths)
        state.ignoredPaths = *ignoredPaths;
    if (knownGalleryIds)
        state.knownGalleryIds = *knownGalleryIds;
    if (dismissedGalleryIds)
        state.dismissedGalleryIds = *dismissedGalleryIds;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        if (it.value())
            state.records.insert(it.key(), *it.value());
        else
            state.records.remove(it.key());
    }
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        if (it.value())
            state.links.insert(it.key(), *it.value());
        else
            state.links.remove(it.key());
    }
    if (entries)
        state.entries = *entries;
}

ledgerlog::Changes ledgerlog::between(const LedgerState &from, const LedgerState &to)
{
    Changes changes;
    if (from.watchFolder != to.watchFolder)
        changes.watchFolder = to.watchFolder;
    if (from.ignoredPaths != to.ignoredPaths)
        changes.ignoredPaths = to.ignoredPaths;
    if (from.knownGalleryIds != to.knownGalleryIds)
        changes.knownGalleryIds = to.knownGalleryIds;
    if (from.dismissedGalleryIds != to.dismissedGalleryIds)
        changes.dismissedGalleryIds = to.dismissedGalleryIds;
    const auto [records, recordsRemoved] = mapChange(from.records, to.records);
    for (const auto &[path, list] : records)
        changes.records.insert(path, list);
    for (const QString &path : recordsRemoved)
        changes.records.insert(path, std::nullopt);
    const auto [links, linksRemoved] = mapChange(from.links, to.links);
    for (const auto &[path, id] : links)
        changes.links.insert(path, id);
    for (const QString &path : linksRemoved)
        changes.links.insert(path, std::nullopt);
    if (from.entries != to.entries)
        changes.entries = to.entries;
    return changes;
}

QByteArray ledgerlog::batch(const LedgerState &from, const LedgerState &to, quint64 seq)
{
    return from == to ? QByteArray() : batch(from, between(from, to), seq);
}

QByteArray ledgerlog::batch(const LedgerState &from, const Changes &changes, quint64 seq)
{
    json::ObjectWriter out;
    bool any = false;
    out.integer(u"seq", qint64(seq));
    if (changes.watchFolder && *changes.watchFolder != from.watchFolder) {
        if (*changes.watchFolder)
            out.string(u"watchFolder", **changes.watchFolder);
        else
            out.boolean(u"watchFolderCleared", true);
        any = true;
    }
    const auto setChange = [&out, &any](QStringView added, QStringView removed, const QSet<QString> &before,
                                        const std::optional<QSet<QString>> &after) {
        if (after && *after != before) {
            writeSetChange(out, added, removed, before, *after);
            any = true;
        }
    };
    setChange(u"ignoredAdded", u"ignoredRemoved", from.ignoredPaths, changes.ignoredPaths);
    setChange(u"knownAdded", u"knownRemoved", from.knownGalleryIds, changes.knownGalleryIds);
    setChange(u"dismissedAdded", u"dismissedRemoved", from.dismissedGalleryIds, changes.dismissedGalleryIds);
    const auto [records, recordsRemoved] = keyChange(from.records, changes.records);
    if (!records.isEmpty()) {
        out.objectWith(u"records", [&records](json::ObjectWriter &byFolder) {
            for (const auto &[path, list] : records)
                byFolder.objects(path, list);
        });
    }
    if (!recordsRemoved.isEmpty())
        out.strings(u"recordsRemoved", recordsRemoved);
    const auto [links, linksRemoved] = keyChange(from.links, changes.links);
    if (!links.isEmpty()) {
        out.objectWith(u"links", [&links](json::ObjectWriter &byFolder) {
            for (const auto &[path, id] : links)
                byFolder.string(path, id);
        });
    }
    if (!linksRemoved.isEmpty())
        out.strings(u"linksRemoved", linksRemoved);
    any = any || !records.isEmpty() || !recordsRemoved.isEmpty() || !links.isEmpty() || !linksRemoved.isEmpty();
    if (changes.entries && *changes.entries != from.entries) {
        const auto [runs, runsEnded] = mapChange(from.entries.runs, changes.entries->runs);
        writeEntries(out, u"runs", runs);
        if (!runsEnded.isEmpty())
            out.strings(u"runsEnded", runsEnded);
        const auto [replacements, done] = mapChange(from.entries.replacements, changes.entries->replacements);
        writeEntries(out, u"replacements", replacements);
        if (!done.isEmpty())
            out.strings(u"replacementsDone", done);
        if (changes.entries->runsLost != from.entries.runsLost)
            out.boolean(u"runsLost", changes.entries->runsLost);
        any = true;
    }
    return any ? out.finish() : QByteArray();
}

QByteArray ledgerlog::header(const LedgerState &state, quint64 seq, qint64 generation)
{
    json::ObjectWriter out;
    out.integer(u"seq", qint64(seq));
    out.boolean(u"reset", true);
    out.integer(u"generation", generation);
    if (state.entries.runsLost)
        out.boolean(u"runsLost", true);
    const auto [runs, unused] = mapChange(QMap<QString, UploadInFlight>(), state.entries.runs);
    writeEntries(out, u"runs", runs);
    const auto [replacements, none] = mapChange(QMap<QString, UploadInFlight>(), state.entries.replacements);
    writeEntries(out, u"replacements", replacements);
    return out.finish();
}

std::optional<qint64> ledgerlog::generationOf(const QByteArray &log)
{
    const qsizetype end = log.indexOf('\n');
    const std::optional<QByteArray> json = end < 0 ? std::nullopt : unframe(QByteArrayView(log).first(end));
    if (!json)
        return std::nullopt;
    try {
        const Batch first = parseBatch(*json);
        return first.reset ? first.generation : std::nullopt;
    } catch (const SyncDecodingError &) {
        return std::nullopt;
    }
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
            // The line has its newline: it was written whole, and changed since.
            result.end = Replay::End::damaged;
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
