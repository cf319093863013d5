#pragma once

// "upload-runs.json": the few small facts that must be on disk before the service is asked for something, kept
// apart from the large state file so that noting one costs a few hundred bytes, not a rewrite of the library:
//   - the runs in flight: noted before a run's presigned request, dropped once its confirmation's answer is known.
//     A run still noted at a start may have been applied: its gallery is asked before the folder's next upload.
//   - the old versions this app deleted to replace an image: noted before the deletion, dropped once the new
//     version's upload is confirmed. The service may list such a name among the gallery's deleted files; noted
//     here, it is not taken for an image the user deleted on the web, and the replacement is finished.

#include "SyncStateStore.h"

#include <QByteArray>
#include <QFuture>
#include <QLatin1StringView>
#include <QMap>
#include <QString>
#include <QThreadPool>

struct UploadJournalEntries {
    QMap<QString, UploadInFlight> runs;         // folder path -> its run in flight
    QMap<QString, UploadInFlight> replacements; // folder path -> the gallery and the names of old versions deleted

    bool isEmpty() const { return runs.isEmpty() && replacements.isEmpty(); }
    bool operator==(const UploadJournalEntries &) const = default;
};

// {"runs":{path:{"galleryId":…,"fileNames":[…]}},"replacements":{…},"version":1}; empty maps are left out.
QByteArray encodeUploadJournal(const UploadJournalEntries &entries);
// Both maps optional; anything of the wrong type fails the whole file. Throws SyncDecodingError.
UploadJournalEntries decodeUploadJournal(const QByteArray &json);

class UploadJournal
{
public:
    static constexpr QLatin1StringView fileName{"upload-runs.json"};

    explicit UploadJournal(QString filePath);
    ~UploadJournal(); // the writes queued before reach the disk first

    UploadJournal(const UploadJournal &) = delete;
    UploadJournal &operator=(const UploadJournal &) = delete;

    const QString &filePath() const { return m_filePath; }

    struct Loaded {
        UploadJournalEntries entries;
        bool lost = false; // a file was there but could not be read: what it held is unknown
    };
    // Nothing noted when there is no file. A file that cannot be read is logged ("Failed to load upload runs: %s").
    Loaded load() const;

    // Replaces the file with the entries on the journal's own thread, after every write queued before; the future
    // tells whether they are on the disk. A failure is logged ("Failed to save upload runs: %s") and leaves the
    // file as the last successful write left it.
    QFuture<bool> write(const UploadJournalEntries &entries);
    // Blocks until the writes queued so far are done.
    void waitForWrites();

private:
    const QString m_filePath;
    QThreadPool m_writer; // one thread: writes land in the order they were queued
};
