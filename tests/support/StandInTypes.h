#pragma once

// Value types of the stand-in service: what it recorded, how a test scripts an answer, and what it holds.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace testsupport {

// One request as the stand-in received it. `path` is the raw request path (still percent-encoded, no query).
struct RecordedRequest {
    QByteArray method;
    QByteArray path;
    QByteArray rawQuery;
    QList<QPair<QByteArray, QByteArray>> headers; // sorted by name, case-insensitively
    QByteArray body;       // the whole body when it is small (see StandInService::kKeptBodyLimit), else empty
    qint64 bodySize = 0;   // always the full size that arrived
    QByteArray bodySha256; // hex, of the full body
    int peerPort = 0;      // the client's end of the connection: tells one connection from another

    QByteArray header(const QByteArray &nameCaseInsensitive) const;
    bool hasHeader(const QByteArray &nameCaseInsensitive) const;
};

struct ScriptedAnswer {
    enum class Kind {
        Answer,                // status, headers and body below, after reading the whole request body
        Hang,                  // never answers; released only when the service is destroyed
        CloseWithoutAnswer,    // reads the request, then closes the connection without a byte of answer
        RedirectToOtherOrigin, // 307 (or `status` when it is 3xx) to the same path and query on another port
        AnswerBeforeBody,      // answers without reading the request body, then closes the connection
        ActThenClose,          // does what the request asks, then closes the connection without answering
        AnswerAsUsual,         // does what the request asks and answers as always, only later (delay, hold)
    };
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Waited after the body was read, before the answer (or the close); an ActThenClose or AnswerAsUsual acts only
    // after it (and after the release when held), also when the client has gone meanwhile.
    int delayMs = 0;
    Kind kind = Kind::Answer;
    bool held = false; // before the delay, waits until StandInService::releaseHeld() (or the service's end)
};

struct StandInImage {
    QString id;
    QString fileName;
    qint64 fileSize = 0;
    QByteArray sha256; // hex of the stored bytes; empty for an image seeded by size only
};

struct StandInGallery {
    QString id;
    QString slug;
    QString title;
    std::optional<QString> folderId;
    QString status;
    QString createdAt;
    QList<StandInImage> images;   // active images, in upload order
    QStringList deletedFileNames; // deleted on the web side
};

struct StandInFolder {
    QString id;
    QString name;
    std::optional<QString> parentId;
    qint64 sortOrder = 0;
    QString createdAt;
};

struct StandInAccount {
    QString userId;
    std::optional<QString> email;
};

} // namespace testsupport
