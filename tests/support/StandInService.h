#pragma once

// A stand-in for the gallery service and its object store, served over real HTTP/1.1 on 127.0.0.1 by threads of
// its own, so uploads stream and the code under test keeps its event loop to itself. Every control is thread-safe
// and may be called from the test's thread while requests are in flight.
//
// Choices the client's contract leaves open, made as a real service would make them:
// - Every "/api/" route wants "Authorization: Bearer <token>" with a token added by addAccount(); otherwise 401
//   {"error":"unauthorized"}. All accounts share one library of galleries and folders.
// - Unknown route: 404; known path with another method: 405; body that is not the expected JSON: 400; unknown
//   gallery or folder id in the path: 404, in a body: 400. Errors carry {"error": text}.
// - POST "/api/gallery" and POST "/api/folder" answer 201; the other successes answer 200.
// - The gallery list and the sync state list galleries in creation (seeding) order, folders likewise. A page holds
//   setGalleryPageSize() galleries (50 by default); its "nextCursor" is the id of its last gallery and is present
//   only while "hasMore" is true. An empty cursor asks for the first page; an unknown one gives 400.
// - Slugs are made from the title (ASCII letters and digits, marks dropped, runs of others as "-"), made unique
//   with "-2", "-3", ...; titles may repeat. Ids are "gal-N", "fld-N" and "img-N".
// - New folders get the sort order one above the highest among their siblings.
// - DELETE ".../images" removes the images for good; only deleteImageOnWeb() adds to "deletedFileNames", unless
//   setApiDeleteMarksDeleted(true) makes the API's deletions count there too (the interface leaves it open). An
//   image uploaded under a name in "deletedFileNames" takes the name out of that list. Names may repeat in a gallery.
// - Presigned slots are "<baseUrl>/store/<slot>?expires=<unix seconds>&signature=<hex>", keys "uploads/<gallery
//   id>/<slot>". The store reads the whole body before it answers, also when it refuses: a wrong signature or an
//   unknown slot gives 403 "SignatureDoesNotMatch" / 404 "NoSuchKey", an expired slot 403 with "ExpiredToken",
//   and a PUT that carries "Authorization" 400 "InvalidArgument" (a store refuses a second auth mechanism). A
//   second PUT to a slot replaces its bytes. Success answers 200 with an ETag.
// - Each presigned request opens a run of the gallery. Confirm closes the run that the gallery's latest presigned
//   request opened (at the moment the confirmation is acted on): it adds, in slot order, every slot of that run
//   that holds bytes, is not yet confirmed and whose key is not in "failedKeys"; each becomes an image with the
//   slot's file name and the stored size. Slots without bytes are dropped. Slots of an earlier run that was never
//   confirmed are abandoned, as a store expires unconfirmed uploads: they never become images. The counts in the
//   body are checked for type only.
// - Qt resends a request once when the connection closes without an answer: a CloseWithoutAnswer script with
//   times = 1 lets that resend through to the normal behaviour; times = 2 makes the client see the closed
//   connection. An ActThenClose script acts on every request it catches, the resent one included, after its delay
//   (or release, when held): a client killed meanwhile still has its request carried out. A Hang is cut when the service is destroyed; Qt then reports a closed or refused connection.
//   An AnswerAsUsual script only makes the normal behaviour wait: the request is acted on and answered after its
//   delay (or release, when held), as the library stands then.
// - maxPutsInFlight() counts PUTs to "/store/" from their headers to their answer, scripted ones included.
// - GET "/auth/device-login", "/dashboard", "/gallery/<id or slug>" and "/preview/<id or slug>" are the web pages
//   the app opens in the browser (StandInPages.h); they need no token.
// - SIGPIPE is ignored in the process (the server writes to sockets that scripts have shut down).

#include "StandInTypes.h"

#include <QUrl>

#include <chrono>
#include <memory>

namespace testsupport {

class StandInService {
public:
    static constexpr qint64 kKeptBodyLimit = 1 << 20;

    StandInService(); // on a free port
    explicit StandInService(quint16 port); // throws std::runtime_error when the port cannot be bound
    ~StandInService(); // stops without waiting for hanging requests
    StandInService(const StandInService &) = delete;
    StandInService &operator=(const StandInService &) = delete;

    QUrl baseUrl() const; // "http://127.0.0.1:<port>"
    quint16 port() const;

    // Recording
    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QByteArray &method, const QByteArray &path) const; // path as script()
    void clearRequests();

    // Scripting: the next `times` requests (-1: every one until cleared) whose method equals `method` and whose
    // raw path equals `pathPattern` (or starts with it when it ends in "*") get `answer` instead of the normal
    // behaviour. The earliest script that still has uses wins.
    void script(const QByteArray &method, const QByteArray &pathPattern, ScriptedAnswer answer, int times = 1);
    void clearScripts();
    // Lets every held answer go on, now and from now on: orders an answer after what the test did meanwhile.
    void releaseHeld();

    // What the second origin, which RedirectToOtherOrigin points at, received; it answers 200 "{}".
    QList<RecordedRequest> otherOriginRequests() const;

    // Accounts
    void addAccount(const QByteArray &token, const QString &userId = QStringLiteral("user-1"),
                    const std::optional<QString> &email = QStringLiteral("fotograf@example.no"));
    // The token the device-login page's callback link carries; none by default.
    void setDeviceLoginToken(const QByteArray &token);

    // Seeding the library
    QString seedFolder(const QString &name, const std::optional<QString> &parentId = std::nullopt,
                       std::optional<qint64> sortOrder = std::nullopt);
    QString seedGallery(const QString &title, const std::optional<QString> &folderId = std::nullopt);
    QString seedImage(const QString &galleryId, const QString &fileName, const QByteArray &bytes);
    QString seedImageOfSize(const QString &galleryId, const QString &fileName, qint64 fileSize);
    bool deleteImageOnWeb(const QString &galleryId, const QString &fileName); // first active image of that name

    // Behaviour
    void setGalleryPageSize(int size);
    void setSyncStateReversed(bool reversed); // the sync state lists galleries newest first
    void setIdsDescending(bool descending); // each new id sorts before those handed out earlier
    // Each "/api/" request waits this long before it is acted on, as over a slower network; 0 by default.
    void setApiLatency(std::chrono::milliseconds latency);
    void setApiDeleteMarksDeleted(bool marks); // DELETE ".../images" adds the names to "deletedFileNames"
    bool renameGallery(const QString &galleryId, const QString &title); // as the web does
    bool deleteGalleryOnWeb(const QString &galleryId); // as the web does: from now on its id answers 404
    void setSlotLifetime(std::chrono::milliseconds lifetime); // default 15 minutes
    void expireSlots();                                       // every slot handed out so far
    void withholdSlotsOnNextPresign(int count);               // the next answer lists `count` slots too few
    void overrideSlotUrlOnNextPresign(const QString &url, int index = -1); // -1: every slot of that answer

    // The library (folders, galleries, images) as bytes to keep, and back; see StandInState::saveLibrary.
    QByteArray saveLibrary() const;
    bool loadLibrary(const QByteArray &saved);

    // Inspection
    QList<StandInGallery> galleries() const;
    std::optional<StandInGallery> gallery(const QString &id) const;
    QList<StandInFolder> folders() const;
    int putsInFlight() const;
    int maxPutsInFlight() const;
    QList<int> putsInFlightAtArrival() const; // per PUT to "/store/", in arrival order, itself included

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace testsupport
