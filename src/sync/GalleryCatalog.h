#pragma once

// The service's gallery list as one pass of automatic sync read it, with the galleries made and deleted since.
// A pass over many new folders looks each title up here instead of reading every page of the list once a folder.

#include "service/GalleryRecords.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <exception>
#include <optional>

class GalleryCatalog
{
public:
    using Clock = std::chrono::steady_clock;

    // A list that could not be read is asked for again by the pass's next first sync, this many times in all; the
    // folders after that fail with the last error and wait for their retry.
    static constexpr int maxReads = 4;

    bool isLoaded() const { return m_loaded; }
    // The list in the service's order; only what a first sync needs of each gallery is kept. A list read again
    // replaces the one before but keeps what the pass knows better, as a list read while it worked may predate it:
    // the galleries the pass made (the list may lack them or count fewer images), and none it deleted.
    // `readStarted`: when its first page was asked for.
    void load(const QList<Gallery> &galleries, Clock::time_point readStarted = {});
    // A gallery made on the web after the list was read is missing from it: a copy this old is read again before a
    // title it lacks makes a new gallery.
    bool isOlderThan(std::chrono::milliseconds age, Clock::time_point now) const
    {
        return now - m_readStarted >= age;
    }
    // The first gallery, in list order, titled `title` under canonical equivalence.
    std::optional<Gallery> find(const QString &title) const;
    // The gallery with this id, as the copy knows it.
    std::optional<Gallery> findId(const QString &galleryId) const;
    // A gallery made while the pass runs comes after those the service listed, as the service lists it.
    void add(const Gallery &gallery);
    void remove(const QString &galleryId);
    void addImages(const QString &galleryId, qint64 count);

    // Reads of the list in this pass that failed, and the last failure.
    bool mayRead() const { return m_failedReads < maxReads; }
    void noteFailure(std::exception_ptr error)
    {
        ++m_failedReads;
        m_lastFailure = std::move(error);
    }
    std::exception_ptr lastFailure() const { return m_lastFailure; }
    bool isReading() const { return m_reading; }
    void setReading(bool reading) { m_reading = reading; }

private:
    Gallery *byId(const QString &galleryId);
    void insert(const Gallery &gallery);

    QHash<QString, QList<Gallery>> m_byTitle; // canonical title -> galleries in list order
    QHash<QString, QString> m_titleById;      // id -> canonical title
    QSet<QString> m_made;                     // made while the pass runs: a list read before lacks them
    QSet<QString> m_removed;                  // deleted while the pass runs: a list read before still holds them
    Clock::time_point m_readStarted;
    bool m_loaded = false;
    bool m_reading = false;
    int m_failedReads = 0;
    std::exception_ptr m_lastFailure;
};
