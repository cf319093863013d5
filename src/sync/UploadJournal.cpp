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
            folders.objectWith(it.key(), [&it](json::ObjectWriter &entry) {
                entry.string(u"galleryId", it->galleryId);
                entry.strings(u"fileNames", it->fileNames);
            });
        }
    });
}

QMap<QString, UploadInFlight> readByFolder(const json::ObjectReader &in, QStringView key)
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

} // namespace

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
        return {readByFolder(in, u"runs"), readByFolder(in, u"replacements")};
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.logDescription());
    }
}

