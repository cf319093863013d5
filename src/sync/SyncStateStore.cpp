#include "SyncStateStore.h"

#include "SyncLogging.h"
#include "service/Json.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

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
    out.integer(u"version", state.version);
    return out.finish();
}

SyncState decodeSyncState(const QByteArray &data)
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
        state.version = in.optInteger(u"version").value_or(1);
        return state;
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.localizedDescription());
    }
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
