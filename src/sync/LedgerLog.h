#pragma once

// The state as the ledger (StateLedger.h) keeps it by key, and the lines of its log: each line holds absolute
// values per key, so any prefix of the log replayed in order gives the state as of that prefix.

#include "SyncStateStore.h"
#include "UploadJournal.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

using PendingFolderUploads = QHash<QString, UploadRecords>;

// What a save writes: the engine's containers as they stand at the save.
struct StateSources {
    QString watchFolder;
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    QSet<QString> dismissedGalleryIds;
    QList<SyncFolder> folders;
    PendingFolderUploads pendingUploads;
    QHash<QString, QString> galleryLinks;
    UploadJournalEntries entries; // the runs in flight and the replacements under way
    // The places of `folders` whose entries may differ from the list of the save before, when the caller knows;
    // without them every entry is compared.
    std::optional<QList<qsizetype>> changedPlaces;

    SyncState build() const;
};

// The state by key, as the log changes it and a replay rebuilds it.
struct LedgerState {
    std::optional<QString> watchFolder;
    QSet<QString> ignoredPaths;
    QSet<QString> knownGalleryIds;
    QSet<QString> dismissedGalleryIds;
    QHash<QString, UploadRecords> records;
    QHash<QString, QString> links;
    UploadJournalEntries entries;

    static LedgerState of(const SyncState &state);
    SyncState toSyncState() const; // records by path order; runs and replacements left out
    bool operator==(const LedgerState &) const = default;
};

namespace ledgerlog {
// New values by key over a state; a key left out keeps its value, a key that maps to nothing is removed.
struct Changes {
    std::optional<std::optional<QString>> watchFolder;
    std::optional<QSet<QString>> ignoredPaths;
    std::optional<QSet<QString>> knownGalleryIds;
    std::optional<QSet<QString>> dismissedGalleryIds;
    QHash<QString, std::optional<UploadRecords>> records;
    QHash<QString, std::optional<QString>> links;
    std::optional<UploadJournalEntries> entries;

    bool isEmpty() const;
    void applyTo(LedgerState &state) const;
};
// Every key where `to` differs from `from`.
Changes between(const LedgerState &from, const LedgerState &to);

// The line that turns `from` into `to`; empty when they are equal.
QByteArray batch(const LedgerState &from, const LedgerState &to, quint64 seq);
// The line that applies the changes to `from`; empty when none of them changes a value.
QByteArray batch(const LedgerState &from, const Changes &changes, quint64 seq);
// The line a new log starts with: the runs and replacements, replacing whatever came before, and the generation
// of the snapshot the log continues.
QByteArray header(const LedgerState &state, quint64 seq, qint64 generation);
// "<crc32 as 8 hex digits> <json>\n"
QByteArray frame(const QByteArray &json);
// What comes before the json in its framed line: a large line is written in its parts rather than copied whole.
QByteArray frameHead(const QByteArray &json);

struct Replay {
    enum class End { clean, cut, damaged };
    LedgerState state;
    End end = End::clean;
    qint64 goodBytes = 0; // the length of the lines replayed
    int lines = 0;
    QString reason;       // of a cut or damage
};
// The generation its header names; none for a log written before the number was kept, or a header that fails.
std::optional<qint64> generationOf(const QByteArray &log);
// Applies the log's lines over the state in order; stops at the first line that is cut or fails its check. Only a
// last line without its newline is a cut (the trace of a kill); a whole line that fails is damage.
Replay replay(const QByteArray &log, LedgerState state);
} // namespace ledgerlog
