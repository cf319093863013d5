#include "GalleryCatalog.h"

#include "UnicodeNames.h"

#include <algorithm>

namespace {

Gallery trimmed(const Gallery &gallery)
{
    Gallery kept;
    kept.id = gallery.id;
    kept.slug = gallery.slug;
    kept.title = gallery.title;
    kept.imageCount = gallery.imageCount;
    return kept;
}

} // namespace

void GalleryCatalog::load(const QList<Gallery> &galleries, Clock::time_point readStarted)
{
    QList<Gallery> made; // as the pass knows them, each title's in the order of the copy
    for (const QList<Gallery> &sameTitle : std::as_const(m_byTitle)) {
        for (const Gallery &gallery : sameTitle) {
            if (m_made.contains(gallery.id))
                made.append(gallery);
        }
    }
    m_byTitle.clear();
    m_titleById.clear();
    for (const Gallery &gallery : galleries)
        insert(gallery);
    for (const Gallery &gallery : std::as_const(made)) {
        if (Gallery *listed = byId(gallery.id))
            listed->imageCount = std::max(listed->imageCount, gallery.imageCount);
        else
            insert(gallery);
    }
    m_readStarted = readStarted;
    m_loaded = true;
}

std::optional<Gallery> GalleryCatalog::find(const QString &title) const
{
    const auto found = m_byTitle.constFind(unicodenames::canonical(title));
    if (found == m_byTitle.cend() || found->isEmpty())
        return std::nullopt;
    return found->first();
}

std::optional<Gallery> GalleryCatalog::findId(const QString &galleryId) const
{
    // byId only looks; it is not const because the pass also edits what it finds.
    if (const Gallery *gallery = const_cast<GalleryCatalog *>(this)->byId(galleryId))
        return *gallery;
    return std::nullopt;
}

void GalleryCatalog::add(const Gallery &gallery)
{
    m_made.insert(gallery.id);
    insert(gallery);
}

void GalleryCatalog::insert(const Gallery &gallery)
{
    if (m_titleById.contains(gallery.id) || m_removed.contains(gallery.id))
        return;
    const QString title = unicodenames::canonical(gallery.title);
    m_byTitle[title].append(trimmed(gallery));
    m_titleById.insert(gallery.id, title);
}

void GalleryCatalog::remove(const QString &galleryId)
{
    m_removed.insert(galleryId);
    const auto title = m_titleById.constFind(galleryId);
    if (title == m_titleById.cend())
        return;
    const auto list = m_byTitle.find(*title);
    if (list != m_byTitle.end()) {
        list->removeIf([&](const Gallery &gallery) { return gallery.id == galleryId; });
        if (list->isEmpty())
            m_byTitle.erase(list);
    }
    m_titleById.erase(title);
}

void GalleryCatalog::addImages(const QString &galleryId, qint64 count)
{
    if (Gallery *gallery = byId(galleryId))
        gallery->imageCount += count;
}

Gallery *GalleryCatalog::byId(const QString &galleryId)
{
    const auto title = m_titleById.constFind(galleryId);
    if (title == m_titleById.cend())
        return nullptr;
    const auto list = m_byTitle.find(*title);
    if (list == m_byTitle.end())
        return nullptr;
    for (Gallery &gallery : *list) {
        if (gallery.id == galleryId)
            return &gallery;
    }
    return nullptr;
}
