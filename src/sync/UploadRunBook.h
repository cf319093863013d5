#pragma once

// What the engine knows of the runs in flight and the replacements under way, and which folders must ask their
// gallery before their next upload. The ledger (StateLedger.h) puts the entries on disk with every save:
//   - a run is noted before its presigned request and ends with its confirmation's answer. A confirmed run stays
//     noted until the save that carries the folder's new records: both reach the disk in one batch, so a kill
//     leaves either the run (the gallery is asked) or the records.
//   - a replacement (the old version deleted, the new one not yet confirmed) is noted before the deletion: the
//     service may list that name as deleted, and it is not taken for the user's deletion.

#include "SyncStateStore.h"
#include "UploadJournal.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class UploadRunBook
{
public:
    void load(const UploadJournalEntries &entries, bool lost);
    UploadJournalEntries entries() const;

    std::optional<UploadInFlight> run(const QString &folderPath) const;
    // Returns what was noted before, for restore() when the note cannot reach the disk.
    std::optional<UploadInFlight> noteRun(const QString &folderPath, const QString &galleryId,
                                          const QStringList &fileNames);
    void restoreRun(const QString &folderPath, const std::optional<UploadInFlight> &earlier);
    enum class Outcome { notApplied, confirmed, unknown };
    void endRun(const QString &folderPath, Outcome outcome);
    // The folder's records are in the save being made: its confirmed run ends with them.
    void recordsSaved(const QString &folderPath);

    bool needsGalleryCheck(const QString &folderPath) const;
    void galleryChecked(const QString &folderPath);
    void checkGallery(const QString &folderPath) { m_galleryChecks.insert(folderPath); }

    std::optional<UploadInFlight> noteReplacement(const QString &folderPath, const QString &galleryId,
                                                  const QString &fileName);
    void restoreReplacement(const QString &folderPath, const std::optional<UploadInFlight> &earlier);
    QSet<QString> replacedNames(const QString &folderPath, const QString &galleryId) const;
    void finishReplacements(const QString &folderPath, const QString &galleryId, const QStringList &fileNames);

    // After a reconcile: the runs and checks of folders gone are dropped; a replacement is finished once its
    // gallery holds the name again, and dropped with its folder or gallery, unless a run under way (busy) keeps it.
    // What was under way was lost (a damaged or missing file): every folder asks its gallery before it uploads
    // until then, and the mark stays on disk; the folders synced then go on asking once each.
    using GalleryNames = std::function<const QStringList *(const QString &galleryId)>; // nullptr: gone
    void afterReconcile(const QSet<QString> &listed, const QSet<QString> &busy, const QSet<QString> &synced,
                        const GalleryNames &galleryNames);

private:
    QHash<QString, UploadInFlight> m_runs;
    QSet<QString> m_confirmed; // runs whose confirmation was answered, until their records are saved
    QHash<QString, UploadInFlight> m_replacements;
    QSet<QString> m_galleryChecks;
    bool m_lost = false;
};
