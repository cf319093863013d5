#pragma once

// "upload-runs.json": the replacements under way (the old versions this app deleted to replace an image, whose
// new version is not confirmed yet), a second place beside the state log, so that no single damaged file loses
// one. Older versions kept the runs in flight here as well; such files are still read.

#include "SyncStateStore.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringView>

namespace json {
class ObjectReader;
class ObjectWriter;
} // namespace json

struct UploadJournalEntries {
    QMap<QString, UploadInFlight> runs;         // folder path -> its run in flight
    QMap<QString, UploadInFlight> replacements; // folder path -> the gallery and the names of old versions deleted
    // What was under way is unknown (a damaged or missing file): every synced folder asks its gallery before it
    // uploads, until a reconcile succeeds. Kept in the state log, not in this file.
    bool runsLost = false;

    bool isEmpty() const { return runs.isEmpty() && replacements.isEmpty(); }
    bool operator==(const UploadJournalEntries &) const = default;
};

// {"runs":{path:{"galleryId":…,"fileNames":[…]}},"replacements":{…},"ignoredPaths":[…],"version":1}; empty maps
// and lists are left out. The ignored folders are a second place for them too, beside the state log.
QByteArray encodeUploadJournal(const UploadJournalEntries &entries, const QSet<QString> &ignoredPaths = {});
// Every key optional; anything of the wrong type fails the whole file. Throws SyncDecodingError.
UploadJournalEntries decodeUploadJournal(const QByteArray &json, QSet<QString> *ignoredPaths = nullptr);

// One folder's entry, {"galleryId":…,"fileNames":[…]}, as this file and the state log both write it.
void writeUploadInFlight(json::ObjectWriter &entry, const UploadInFlight &value);
// The entries under key by folder path, none when the key is absent. Throws DecodingError.
QMap<QString, UploadInFlight> readUploadsByFolder(const json::ObjectReader &in, QStringView key);

struct UploadJournal {
    static constexpr QLatin1StringView fileName{"upload-runs.json"};
};
