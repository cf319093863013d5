#include "UploadRunBook.h"

#include "UnicodeNames.h"

void UploadRunBook::load(const UploadJournalEntries &entries, bool lost)
{
    for (auto it = entries.runs.cbegin(); it != entries.runs.cend(); ++it)
        m_runs.insert(it.key(), it.value());
    for (auto it = entries.replacements.cbegin(); it != entries.replacements.cend(); ++it)
        m_replacements.insert(it.key(), it.value());
    m_lost = lost || entries.runsLost;
}

UploadJournalEntries UploadRunBook::entries() const
{
    UploadJournalEntries entries;
    for (auto it = m_runs.cbegin(); it != m_runs.cend(); ++it)
        entries.runs.insert(it.key(), it.value());
    for (auto it = m_replacements.cbegin(); it != m_replacements.cend(); ++it)
        entries.replacements.insert(it.key(), it.value());
    entries.runsLost = m_lost;
    return entries;
}

std::optional<UploadInFlight> UploadRunBook::run(const QString &folderPath) const
{
    const auto found = m_runs.constFind(folderPath);
    return found == m_runs.cend() ? std::nullopt : std::optional(*found);
}

std::optional<UploadInFlight> UploadRunBook::noteRun(const QString &folderPath, const QString &galleryId,
                                                     const QStringList &fileNames)
{
    const std::optional<UploadInFlight> earlier = run(folderPath);
    m_runs.insert(folderPath, {galleryId, fileNames});
    m_confirmed.remove(folderPath);
    return earlier;
}

void UploadRunBook::restoreRun(const QString &folderPath, const std::optional<UploadInFlight> &earlier)
{
    if (earlier)
        m_runs.insert(folderPath, *earlier);
    else
        m_runs.remove(folderPath);
}

void UploadRunBook::endRun(const QString &folderPath, Outcome outcome)
{
    switch (outcome) {
    case Outcome::notApplied:
        m_runs.remove(folderPath);
        break;
    case Outcome::confirmed:
        m_confirmed.insert(folderPath);
        break;
    case Outcome::unknown:
        m_galleryChecks.insert(folderPath); // and the run stays noted: a start after a kill asks the gallery too
        break;
    }
}

void UploadRunBook::recordsSaved(const QString &folderPath)
{
    if (m_confirmed.remove(folderPath))
        m_runs.remove(folderPath);
}

bool UploadRunBook::needsGalleryCheck(const QString &folderPath) const
{
    return m_lost || m_galleryChecks.contains(folderPath) || m_runs.contains(folderPath);
}

void UploadRunBook::galleryChecked(const QString &folderPath)
{
    m_galleryChecks.remove(folderPath);
    m_confirmed.remove(folderPath);
    m_runs.remove(folderPath);
}

std::optional<UploadInFlight> UploadRunBook::noteReplacement(const QString &folderPath, const QString &galleryId,
                                                             const QString &fileName)
{
    const auto found = m_replacements.constFind(folderPath);
    const std::optional<UploadInFlight> earlier = found == m_replacements.cend() ? std::nullopt : std::optional(*found);
    const bool known = replacedNames(folderPath, galleryId).contains(unicodenames::canonical(fileName));
    UploadInFlight &entry = m_replacements[folderPath];
    if (entry.galleryId != galleryId)
        entry = {galleryId, {}}; // the folder's gallery changed: what was noted for the old one is moot
    if (!known)
        entry.fileNames.append(fileName);
    return earlier;
}

void UploadRunBook::restoreReplacement(const QString &folderPath, const std::optional<UploadInFlight> &earlier)
{
    if (earlier)
        m_replacements.insert(folderPath, *earlier);
    else
        m_replacements.remove(folderPath);
}

QSet<QString> UploadRunBook::replacedNames(const QString &folderPath, const QString &galleryId) const
{
    QSet<QString> names;
    const auto found = m_replacements.constFind(folderPath);
    if (found != m_replacements.cend() && found->galleryId == galleryId) {
        for (const QString &name : found->fileNames)
            names.insert(unicodenames::canonical(name));
    }
    return names;
}

void UploadRunBook::finishReplacements(const QString &folderPath, const QString &galleryId,
                                       const QStringList &fileNames)
{
    const auto found = m_replacements.find(folderPath);
    if (found == m_replacements.end() || found->galleryId != galleryId)
        return;
    QSet<QString> names;
    for (const QString &name : fileNames)
        names.insert(unicodenames::canonical(name));
    found->fileNames.removeIf([&](const QString &name) { return names.contains(unicodenames::canonical(name)); });
    if (found->fileNames.isEmpty())
        m_replacements.erase(found);
}

void UploadRunBook::afterReconcile(const QSet<QString> &listed, const QSet<QString> &busy,
                                   const QSet<QString> &synced, const GalleryNames &galleryNames)
{
    m_runs.removeIf([&listed](const auto &run) { return !listed.contains(run.key()); });
    m_confirmed.intersect(listed);
    m_galleryChecks.intersect(listed);
    for (auto it = m_replacements.begin(); it != m_replacements.end();) {
        const QStringList *held = galleryNames(it->galleryId);
        const bool kept = busy.contains(it.key());
        if (!kept && held && listed.contains(it.key())) {
            QSet<QString> names;
            for (const QString &name : *held)
                names.insert(unicodenames::canonical(name));
            it->fileNames.removeIf([&names](const QString &name) { return names.contains(unicodenames::canonical(name)); });
        }
        if (!kept && (!held || !listed.contains(it.key()) || it->fileNames.isEmpty()))
            it = m_replacements.erase(it);
        else
            ++it;
    }
    if (m_lost) {
        // What the journal held is unknown: any folder may have a run whose confirmation was applied.
        m_galleryChecks.unite(synced);
        m_lost = false;
    }
}
