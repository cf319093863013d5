#include "SyncStateStore.h"

#include "CompactJsonWriter.h"
#include "StrictJson.h"
#include "SyncLogging.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

#include <algorithm>

namespace {

void writeSortedStrings(CompactJsonWriter &out, const QSet<QString> &set)
{
    QStringList sorted(set.cbegin(), set.cend());
    std::sort(sorted.begin(), sorted.end());
    out.beginArray();
    for (const auto &s : sorted)
        out.string(s);
    out.endArray();
}

QSet<QString> readStringSet(const QJsonObject &root, QLatin1StringView key)
{
    const QJsonValue value = root.value(key);
    if (strictjson::isAbsent(value))
        return {};
    const QStringList list = strictjson::strings(value, strictjson::at(QStringLiteral("$"), key));
    return QSet<QString>(list.cbegin(), list.cend());
}

} // namespace

QByteArray encodeSyncState(const SyncState &state)
{
    CompactJsonWriter out;
    qsizetype records = 0;
    if (state.folderUploads) {
        for (const auto &entry : *state.folderUploads)
            records += entry.second.size();
    }
    out.reserve(256 + records * 96);
    out.beginObject();
    if (state.watchFolder) {
        out.key(u"watchFolder");
        out.string(*state.watchFolder);
    }
    out.key(u"ignoredPaths");
    writeSortedStrings(out, state.ignoredPaths);
    out.key(u"knownGalleryIds");
    writeSortedStrings(out, state.knownGalleryIds);
    if (state.folderUploads) {
        out.key(u"folderUploads");
        out.beginObject();
        for (const auto &[path, files] : *state.folderUploads) {
            out.key(path);
            out.beginArray();
            for (const auto &file : files)
                writeJson(out, file);
            out.endArray();
        }
        out.endObject();
    }
    out.key(u"version");
    out.integer(state.version);
    out.endObject();
    return out.bytes();
}

SyncState decodeSyncState(const QByteArray &json)
{
    using namespace strictjson;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw SyncDecodingError(QStringLiteral("The data is not valid JSON: %1 at offset %2")
                                    .arg(error.errorString())
                                    .arg(error.offset));
    const QString root = QStringLiteral("$");
    if (!document.isObject())
        fail(root, QStringLiteral("Expected an object"));
    const QJsonObject o = document.object();

    SyncState state;
    if (const QJsonValue folder = o.value(QLatin1StringView("watchFolder")); !isAbsent(folder))
        state.watchFolder = string(folder, at(root, QLatin1StringView("watchFolder")));
    state.ignoredPaths = readStringSet(o, QLatin1StringView("ignoredPaths"));
    state.knownGalleryIds = readStringSet(o, QLatin1StringView("knownGalleryIds"));
    if (const QJsonValue uploads = o.value(QLatin1StringView("folderUploads")); !isAbsent(uploads)) {
        const QString place = at(root, QLatin1StringView("folderUploads"));
        const QJsonObject byFolder = object(uploads, place);
        FolderUploadList list;
        list.reserve(byFolder.size());
        for (auto it = byFolder.constBegin(); it != byFolder.constEnd(); ++it) {
            const QString folderPlace = place + QStringLiteral("[\"") + it.key() + QStringLiteral("\"]");
            const QJsonArray items = array(it.value(), folderPlace);
            QList<UploadedFileMeta> files;
            files.reserve(items.size());
            for (qsizetype i = 0; i < items.size(); ++i)
                files.append(uploadedFileMetaFromJson(items.at(i), at(folderPlace, i)));
            list.append({it.key(), std::move(files)});
        }
        state.folderUploads = std::move(list);
    }
    const QJsonValue version = o.value(QLatin1StringView("version"));
    state.version = isAbsent(version) ? 1 : integer(version, at(root, QLatin1StringView("version")));
    return state;
}

SyncStateStore::SyncStateStore(QString filePath)
    : m_filePath(std::move(filePath))
{
    m_writer.setMaxThreadCount(1);
    m_writer.setExpiryTimeout(-1);
}

SyncStateStore::~SyncStateStore()
{
    flush();
}

std::optional<SyncState> SyncStateStore::load() const
{
    QFile file(m_filePath);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw SyncDecodingError(QStringLiteral("Could not read %1: %2").arg(m_filePath, file.errorString()));
    return decodeSyncState(file.readAll());
}

void SyncStateStore::save(SyncState snapshot)
{
    std::lock_guard lock(m_mutex);
    m_pending = std::move(snapshot);
    if (m_drainScheduled)
        return;
    m_drainScheduled = true;
    m_writer.start([this] { drain(); });
}

void SyncStateStore::flush()
{
    m_writer.waitForDone();
}

void SyncStateStore::drain()
{
    for (;;) {
        SyncState snapshot;
        {
            std::lock_guard lock(m_mutex);
            if (!m_pending) {
                m_drainScheduled = false;
                return;
            }
            snapshot = std::move(*m_pending);
            m_pending.reset();
        }
        try {
            const QByteArray bytes = encodeSyncState(snapshot);
            QSaveFile file(m_filePath);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
                qCCritical(lcSync, "Failed to save state: %s", qUtf8Printable(file.errorString()));
                continue;
            }
            qCDebug(lcSync, "Saved state (%lld bytes)", static_cast<long long>(bytes.size()));
        } catch (const std::exception &error) {
            qCCritical(lcSync, "Failed to save state: %s", error.what());
        }
    }
}
