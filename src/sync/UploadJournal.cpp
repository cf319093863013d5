#include "UploadJournal.h"

#include "SyncLogging.h"
#include "service/Json.h"

#include <algorithm>


namespace {

constexpr qint64 kVersion = 1;

void writeByFolder(json::ObjectWriter &out, QStringView key, const QMap<QString, UploadInFlight> &byFolder)
{
    if (byFolder.isEmpty())
        return;
    out.objectWith(key, [&byFolder](json::ObjectWriter &folders) {
        for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) {
            folders.objectWith(it.key(), [&it](json::ObjectWriter &entry) { writeUploadInFlight(entry, *it); });
        }
    });
}

} // namespace

void writeUploadInFlight(json::ObjectWriter &entry, const UploadInFlight &value)
{
    entry.string(u"galleryId", value.galleryId);
    entry.strings(u"fileNames", value.fileNames);
}

QMap<QString, UploadInFlight> readUploadsByFolder(const json::ObjectReader &in, QStringView key)
{
    QMap<QString, UploadInFlight> byFolder;
    if (const auto folders = in.optChild(key)) {
        for (const QString &path : folders->keys()) {
            const json::ObjectReader entry = folders->child(path);
            byFolder.insert(path, {entry.string(u"galleryId"), entry.strings(u"fileNames")});
        }
    }
    return byFolder;
}

QByteArray encodeUploadJournal(const UploadJournalEntries &entries, const QSet<QString> &ignoredPaths)
{
    json::ObjectWriter out;
    writeByFolder(out, u"runs", entries.runs);
    writeByFolder(out, u"replacements", entries.replacements);
    if (!ignoredPaths.isEmpty()) {
        QStringList sorted(ignoredPaths.cbegin(), ignoredPaths.cend());
        std::sort(sorted.begin(), sorted.end());
        out.strings(u"ignoredPaths", sorted);
    }
    out.integer(u"version", kVersion);
    return out.finish();
}

UploadJournalEntries decodeUploadJournal(const QByteArray &data, QSet<QString> *ignoredPaths)
{
    try {
        const json::ObjectReader in(json::parseObject(data));
        UploadJournalEntries entries{readUploadsByFolder(in, u"runs"), readUploadsByFolder(in, u"replacements")};
        const QStringList ignored = in.optStrings(u"ignoredPaths").value_or(QStringList());
        if (ignoredPaths)
            *ignoredPaths = QSet<QString>(ignored.cbegin(), ignored.cend());
        return entries;
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.logDescription());
    }
}

