#include "UploadJournal.h"

#include "SyncLogging.h"
#include "service/Json.h"


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

QByteArray encodeUploadJournal(const UploadJournalEntries &entries)
{
    json::ObjectWriter out;
    writeByFolder(out, u"runs", entries.runs);
    writeByFolder(out, u"replacements", entries.replacements);
    out.integer(u"version", kVersion);
    return out.finish();
}

UploadJournalEntries decodeUploadJournal(const QByteArray &data)
{
    try {
        const json::ObjectReader in(json::parseObject(data));
        return {readUploadsByFolder(in, u"runs"), readUploadsByFolder(in, u"replacements")};
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.logDescription());
    }
}

