#include "StandInState.h"

#include "StandInPages.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>

namespace testsupport::standin {

namespace {

ApiReply json(int status, const QJsonObject &object)
{
    ApiReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

ApiReply error(int status, const QString &message)
{
    return json(status, QJsonObject{{QStringLiteral("error"), message}});
}

ApiReply storeError(int status, const char *code, const char *message)
{
    ApiReply reply;
    reply.status = status;
    reply.contentType = "application/xml";
    reply.body = QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>") + code + "</Code><Message>"
        + message + "</Message></Error>";
    return reply;
}

std::optional<QJsonObject> parseObject(const QByteArray &body)
{
    QJsonParseError parseError {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

bool isInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && std::trunc(number) == number && std::abs(number) < 9.2e18;
}

// Missing and null both mean "no value"; anything but text is a bad request.
bool readOptionalText(const QJsonObject &object, const QString &key, std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

QJsonArray textArray(const QStringList &texts)
{
    QJsonArray array;
    for (const QString &text : texts)
        array.append(text);
    return array;
}

QJsonObject galleryJson(const StandInGallery &gallery, const std::optional<QString> &address)
{
    QJsonObject object{
        {QStringLiteral("id"), gallery.id},
        {QStringLiteral("slug"), gallery.slug},
        {QStringLiteral("title"), gallery.title},
        {QStringLiteral("status"), gallery.status},
        {QStringLiteral("imageCount"), qint64(gallery.images.size())},
        {QStringLiteral("createdAt"), gallery.createdAt},
    };
    if (address)
        object.insert(QStringLiteral("address"), *address);
    if (gallery.folderId)
        object.insert(QStringLiteral("folderId"), *gallery.folderId);
    return object;
}

QJsonObject folderJson(const StandInFolder &folder)
{
    QJsonObject object{
        {QStringLiteral("id"), folder.id},
        {QStringLiteral("name"), folder.name},
        {QStringLiteral("createdAt"), folder.createdAt},
    };
    if (folder.parentId)
        object.insert(QStringLiteral("parentId"), *folder.parentId);
    return object;
}

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char &c : raw)
        c = char(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

} // namespace

QString StandInState::now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QString StandInState::nextId(const char *prefix)
{
    const int n = ++m_counters[prefix];
    // Fixed width, so that whichever way the ids run they compare as their numbers do.
    return QStringLiteral("%1-%2").arg(QLatin1String(prefix)).arg(idsDescending ? 999999 - n : n, idsDescending ? 6 : 0,
                                                                  10, QLatin1Char('0'));
}

StandInState::Gallery *StandInState::findGallery(const QString &id)
{
    for (Gallery &gallery : m_galleries) {
        if (gallery.value.id == id)
            return &gallery;
    }
    return nullptr;
}

const StandInState::Gallery *StandInState::findGallery(const QString &id) const
{
    return const_cast<StandInState *>(this)->findGallery(id);
}

bool StandInState::hasFolder(const QString &id) const
{
    return std::any_of(m_folders.cbegin(), m_folders.cend(), [&](const StandInFolder &f) { return f.id == id; });
}

QString StandInState::uniqueSlug(const QString &title) const
{
    QString base;
    bool pendingDash = false;
    for (const QChar c : title.normalized(QString::NormalizationForm_KD)) {
        if (c.isMark())
            continue;
        const QChar lower = c.toLower();
        if ((lower >= u'a' && lower <= u'z') || (lower >= u'0' && lower <= u'9')) {
            if (pendingDash && !base.isEmpty())
                base += u'-';
            base += lower;
            pendingDash = false;
        } else {
            pendingDash = true;
        }
    }
    if (base.isEmpty())
        base = QStringLiteral("galleri");
    QString slug = base;
    for (int n = 2; std::any_of(m_galleries.cbegin(), m_galleries.cend(),
                                [&](const Gallery &g) { return g.value.slug == slug; });
         ++n)
        slug = QStringLiteral("%1-%2").arg(base).arg(n);
    return slug;
}

void StandInState::addAccount(const QByteArray &token, StandInAccount account)
{
    m_accounts.insert(token, std::move(account));
}

QString StandInState::seedFolder(const QString &name, const std::optional<QString> &parentId,
                                 std::optional<qint64> sortOrder)
{
    StandInFolder folder;
    folder.id = nextId("fld");
    folder.name = name;
    folder.parentId = parentId;
    folder.createdAt = now();
    if (sortOrder) {
        folder.sortOrder = *sortOrder;
    } else {
        qint64 highest = -1;
        for (const StandInFolder &sibling : std::as_const(m_folders)) {
            if (sibling.parentId == parentId)
                highest = std::max(highest, sibling.sortOrder);
        }
        folder.sortOrder = highest + 1;
    }
    m_folders.append(folder);
    return folder.id;
}

QString StandInState::seedGallery(const QString &title, const std::optional<QString> &folderId)
{
    Gallery gallery;
    gallery.value.id = nextId("gal");
    gallery.value.slug = uniqueSlug(title);
    gallery.value.title = title;
    gallery.value.folderId = folderId;
    gallery.value.status = QStringLiteral("active");
    gallery.value.createdAt = now();
    m_galleries.append(gallery);
    return gallery.value.id;
}

QString StandInState::seedImage(const QString &galleryId, const QString &fileName, qint64 size,
                                const QByteArray &sha256)
{
    Gallery *gallery = findGallery(galleryId);
    if (!gallery)
        return {};
    StandInImage image{nextId("img"), fileName, size, sha256};
    gallery->value.images.append(image);
    gallery->value.deletedFileNames.removeAll(fileName);
    return image.id;
}

bool StandInState::deleteImageOnWeb(const QString &galleryId, const QString &fileName)
{
    Gallery *gallery = findGallery(galleryId);
    if (!gallery)
        return false;
    auto &images = gallery->value.images;
    const auto it = std::find_if(images.begin(), images.end(),
                                 [&](const StandInImage &image) { return image.fileName == fileName; });
    if (it == images.end())
        return false;
    images.erase(it);
    if (!gallery->value.deletedFileNames.contains(fileName))
        gallery->value.deletedFileNames.append(fileName);
    return true;
}

void StandInState::expireSlots()
{
    const QDateTime past = QDateTime::currentDateTimeUtc().addSecs(-1);
    for (Slot &slot : m_slots)
        slot.expiresAt = past;
}

QList<StandInGallery> StandInState::galleries() const
{
    QList<StandInGallery> list;
    for (const Gallery &gallery : m_galleries)
        list.append(gallery.value);
    return list;
}

std::optional<StandInGallery> StandInState::gallery(const QString &id) const
{
    if (const Gallery *found = findGallery(id))
        return found->value;
    return std::nullopt;
}

ApiReply StandInState::handleApi(const ApiRequest &request)
{
    QStringList segments;
    const QList<QByteArray> rawSegments = request.rawPath.split('/');
    for (qsizetype i = 1; i < rawSegments.size(); ++i)
        segments.append(QUrl::fromPercentEncoding(rawSegments.at(i)));
    if (segments.value(0) != QLatin1String("api"))
        return page(request, segments);

    const QByteArray prefix = "Bearer ";
    if (!request.authorization || !request.authorization->startsWith(prefix)
        || !m_accounts.contains(request.authorization->mid(prefix.size())))
        return error(401, QStringLiteral("unauthorized"));
    return route(request, segments);
}

ApiReply StandInState::page(const ApiRequest &request, const QStringList &segments) const
{
    const std::optional<WebPage> found =
        request.method == "GET" ? webPage(segments, WebLibrary{galleries(), m_folders, deviceLoginToken})
                                : std::nullopt;
    if (!found)
        return error(404, QStringLiteral("not found"));
    ApiReply reply;
    reply.status = found->status;
    reply.body = found->html;
    reply.contentType = "text/html; charset=utf-8";
    return reply;
}

ApiReply StandInState::route(const ApiRequest &request, const QStringList &segments)
{
    const QByteArray &method = request.method;
    const auto is = [&](std::initializer_list<const char *> expected) {
        if (qsizetype(expected.size()) != segments.size())
            return false;
        qsizetype i = 0;
        for (const char *part : expected) {
            if (*part != '*' && segments.at(i) != QLatin1String(part))
                return false;
            ++i;
        }
        return true;
    };
    const auto methodNotAllowed = [] { return error(405, QStringLiteral("method not allowed")); };

    if (is({"api", "auth", "me"})) {
        if (method != "GET")
            return methodNotAllowed();
        const StandInAccount &account = m_accounts.value(request.authorization->mid(7));
        QJsonObject user{{QStringLiteral("id"), account.userId}};
        if (account.email)
            user.insert(QStringLiteral("email"), *account.email);
        return json(200, QJsonObject{{QStringLiteral("user"), user}});
    }
    if (is({"api", "sync", "state"}))
        return method == "GET" ? syncState() : methodNotAllowed();
    if (is({"api", "gallery", "list"}) && method == "GET")
        return listGalleries(request.rawQuery);
    if (is({"api", "gallery"}))
        return method == "POST" ? createGallery(request.body) : methodNotAllowed();
    if (is({"api", "gallery", "*"})) {
        if (method == "PATCH")
            return updateGallery(segments.at(2), request.body);
        if (method == "DELETE")
            return deleteGallery(segments.at(2), request.body);
        return methodNotAllowed();
    }
    if (is({"api", "gallery", "*", "images"})) {
        if (method == "GET")
            return galleryImages(segments.at(2));
        if (method == "DELETE")
            return deleteImages(segments.at(2), request.body);
        return methodNotAllowed();
    }
    if (is({"api", "gallery", "*", "confirm"}))
        return method == "POST" ? confirm(segments.at(2), request.body) : methodNotAllowed();
    if (is({"api", "folder"})) {
        if (method == "GET")
            return listFolders();
        if (method == "POST")
            return createFolder(request.body);
        return methodNotAllowed();
    }
    if (is({"api", "upload", "presigned"}))
        return method == "POST" ? presign(request.body) : methodNotAllowed();
    return error(404, QStringLiteral("not found"));
}

ApiReply StandInState::listGalleries(const QByteArray &rawQuery) const
{
    const QUrlQuery query(QString::fromUtf8(rawQuery));
    qsizetype start = 0;
    if (query.hasQueryItem(QStringLiteral("cursor"))) {
        const QString cursor = query.queryItemValue(QStringLiteral("cursor"), QUrl::FullyDecoded);
        if (!cursor.isEmpty()) {
            const auto it = std::find_if(m_galleries.cbegin(), m_galleries.cend(),
                                         [&](const Gallery &g) { return g.value.id == cursor; });
            if (it == m_galleries.cend())
                return error(400, QStringLiteral("invalid cursor"));
            start = (it - m_galleries.cbegin()) + 1;
        }
    }
    const qsizetype end = std::min(m_galleries.size(), start + qsizetype(std::max(1, galleryPageSize)));
    QJsonArray page;
    for (qsizetype i = start; i < end; ++i)
        page.append(galleryJson(m_galleries.at(i).value, m_galleries.at(i).address));
    const bool hasMore = end < m_galleries.size();
    QJsonObject object{{QStringLiteral("galleries"), page}, {QStringLiteral("hasMore"), hasMore}};
    if (hasMore)
        object.insert(QStringLiteral("nextCursor"), m_galleries.at(end - 1).value.id);
    return json(200, object);
}

ApiReply StandInState::galleryImages(const QString &galleryId) const
{
    const Gallery *gallery = findGallery(galleryId);
    if (!gallery)
        return error(404, QStringLiteral("gallery not found"));
    QJsonArray images;
    QJsonArray withSize;
    for (const StandInImage &image : gallery->value.images) {
        images.append(QJsonObject{{QStringLiteral("id"), image.id}, {QStringLiteral("fileName"), image.fileName}});
        withSize.append(QJsonObject{{QStringLiteral("id"), image.id},
                                    {QStringLiteral("fileName"), image.fileName},
                                    {QStringLiteral("fileSize"), image.fileSize}});
    }
    return json(200, QJsonObject{{QStringLiteral("images"), images},
                                 {QStringLiteral("imagesWithSize"), withSize},
                                 {QStringLiteral("deletedFileNames"), textArray(gallery->value.deletedFileNames)}});
}

ApiReply StandInState::deleteImages(const QString &galleryId, const QByteArray &body)
{
    Gallery *gallery = findGallery(galleryId);
    if (!gallery)
        return error(404, QStringLiteral("gallery not found"));
    const auto object = parseObject(body);
    if (!object || !object->value(QStringLiteral("imageIds")).isArray())
        return error(400, QStringLiteral("imageIds must be an array of text"));
    QStringList ids;
    for (const QJsonValue &id : object->value(QStringLiteral("imageIds")).toArray()) {
        if (!id.isString())
            return error(400, QStringLiteral("imageIds must be an array of text"));
        ids.append(id.toString());
    }
    QStringList names;
    const qsizetype deleted = gallery->value.images.removeIf([&](const StandInImage &image) {
        if (!ids.contains(image.id))
            return false;
        names.append(image.fileName);
        return true;
    });
    for (const QString &name : std::as_const(names)) {
        if (apiDeleteMarksDeleted && !gallery->value.deletedFileNames.contains(name))
            gallery->value.deletedFileNames.append(name);
    }
    return json(200, QJsonObject{{QStringLiteral("success"), true}, {QStringLiteral("deletedCount"), qint64(deleted)}});
}

ApiReply StandInState::createGallery(const QByteArray &body)
{
    const auto object = parseObject(body);
    if (!object)
        return error(400, QStringLiteral("body must be a JSON object"));
    const QJsonValue title = object->value(QStringLiteral("title"));
    std::optional<QString> address;
    std::optional<QString> folderId;
    if (!title.isString() || title.toString().trimmed().isEmpty()
        || !readOptionalText(*object, QStringLiteral("address"), address)
        || !readOptionalText(*object, QStringLiteral("folderId"), folderId))
        return error(400, QStringLiteral("title is required; address and folderId must be text"));
    if (folderId && !hasFolder(*folderId))
        return error(400, QStringLiteral("unknown folder"));
    const QString id = seedGallery(title.toString(), folderId);
    Gallery *gallery = findGallery(id);
    gallery->address = address;
    return json(201, QJsonObject{{QStringLiteral("gallery"), galleryJson(gallery->value, gallery->address)}});
}

ApiReply StandInState::updateGallery(const QString &galleryId, const QByteArray &body)
{
    Gallery *gallery = findGallery(galleryId);
    if (!gallery)
        return error(404, QStringLiteral("gallery not found"));
    const auto object = parseObject(body);
    std::optional<QString> folderId;
    if (!object || !readOptionalText(*object, QStringLiteral("folderId"), folderId))
        return error(400, QStringLiteral("folderId must be text"));
    if (folderId && !hasFolder(*folderId))
        return error(400, QStringLiteral("unknown folder"));
    gallery->value.folderId = folderId;
    return json(200, QJsonObject{{QStringLiteral("success"), true}});
}

ApiReply StandInState::deleteGallery(const QString &galleryId, const QByteArray &body)
{
    if (!findGallery(galleryId))
        return error(404, QStringLiteral("gallery not found"));
    if (!body.isEmpty() && !parseObject(body))
        return error(400, QStringLiteral("body must be a JSON object"));
    m_galleries.removeIf([&](const Gallery &g) { return g.value.id == galleryId; });
    for (Slot &slot : m_slots) {
        if (slot.galleryId == galleryId)
            slot.settled = true;
    }
    return json(200, QJsonObject{{QStringLiteral("success"), true}});
}

ApiReply StandInState::listFolders() const
{
    QJsonArray folders;
    for (const StandInFolder &folder : m_folders)
        folders.append(folderJson(folder));
    return json(200, QJsonObject{{QStringLiteral("folders"), folders}});
}

ApiReply StandInState::createFolder(const QByteArray &body)
{
    const auto object = parseObject(body);
    if (!object)
        return error(400, QStringLiteral("body must be a JSON object"));
    const QJsonValue name = object->value(QStringLiteral("name"));
    std::optional<QString> parentId;
    if (!name.isString() || name.toString().trimmed().isEmpty()
        || !readOptionalText(*object, QStringLiteral("parentId"), parentId))
        return error(400, QStringLiteral("name is required; parentId must be text"));
    if (parentId && !hasFolder(*parentId))
        return error(400, QStringLiteral("unknown parent folder"));
    seedFolder(name.toString(), parentId, std::nullopt);
    return json(201, QJsonObject{{QStringLiteral("folder"), folderJson(m_folders.constLast())}});
}

bool StandInState::renameGallery(const QString &galleryId, const QString &title)
{
    Gallery *gallery = findGallery(galleryId);
    if (gallery)
        gallery->value.title = title;
    return gallery != nullptr;
}

ApiReply StandInState::syncState() const
{
    QJsonArray galleries;
    QList<Gallery> ordered = m_galleries;
    if (syncStateReversed)
        std::reverse(ordered.begin(), ordered.end());
    for (const Gallery &entry : std::as_const(ordered)) {
        const StandInGallery &gallery = entry.value;
        QStringList fileNames;
        for (const StandInImage &image : gallery.images)
            fileNames.append(image.fileName);
        QJsonObject object{
            {QStringLiteral("id"), gallery.id},
            {QStringLiteral("slug"), gallery.slug},
            {QStringLiteral("title"), gallery.title},
            {QStringLiteral("imageCount"), qint64(gallery.images.size())},
            {QStringLiteral("status"), gallery.status},
            {QStringLiteral("createdAt"), gallery.createdAt},
            {QStringLiteral("fileNames"), textArray(fileNames)},
            {QStringLiteral("deletedFileNames"), textArray(gallery.deletedFileNames)},
        };
        if (gallery.folderId)
            object.insert(QStringLiteral("folderId"), *gallery.folderId);
        galleries.append(object);
    }
    QJsonArray folders;
    for (const StandInFolder &folder : m_folders) {
        QJsonObject object{{QStringLiteral("id"), folder.id},
                           {QStringLiteral("name"), folder.name},
                           {QStringLiteral("sortOrder"), folder.sortOrder}};
        if (folder.parentId)
            object.insert(QStringLiteral("parentId"), *folder.parentId);
        folders.append(object);
    }
    return json(200, QJsonObject{{QStringLiteral("galleries"), galleries}, {QStringLiteral("folders"), folders}});
}

ApiReply StandInState::presign(const QByteArray &body)
{
    const auto object = parseObject(body);
    if (!object || !object->value(QStringLiteral("galleryId")).isString()
        || !object->value(QStringLiteral("files")).isArray())
        return error(400, QStringLiteral("galleryId and files are required"));
    const QString galleryId = object->value(QStringLiteral("galleryId")).toString();
    if (!findGallery(galleryId))
        return error(404, QStringLiteral("gallery not found"));
    const QJsonArray files = object->value(QStringLiteral("files")).toArray();
    for (const QJsonValue &file : files) {
        const QJsonObject info = file.toObject();
        if (!file.isObject() || !info.value(QStringLiteral("name")).isString()
            || !info.value(QStringLiteral("type")).isString() || !isInteger(info.value(QStringLiteral("size"))))
            return error(400, QStringLiteral("every file needs name, type and size"));
    }

    // A new run: the uploads of an earlier one that was never confirmed are abandoned, as a store expires them.
    const int run = ++m_latestRun[galleryId];
    const QDateTime expiresAt = QDateTime::currentDateTimeUtc().addMSecs(slotLifetime.count());
    const qsizetype handedOut = std::max<qsizetype>(0, files.size() - std::max(0, withheldSlots));
    withheldSlots = 0;
    QJsonArray slotList;
    for (qsizetype i = 0; i < handedOut; ++i) {
        const QJsonObject info = files.at(i).toObject();
        Slot slot;
        slot.id = randomHex(12);
        slot.key = QStringLiteral("uploads/%1/%2").arg(galleryId, slot.id);
        slot.galleryId = galleryId;
        slot.run = run;
        slot.fileName = info.value(QStringLiteral("name")).toString();
        slot.signature = randomHex(16);
        slot.expiresAt = expiresAt;
        m_slots.append(slot);
        QString url = QStringLiteral("%1/store/%2?expires=%3&signature=%4")
                          .arg(m_baseUrl, slot.id)
                          .arg(expiresAt.toSecsSinceEpoch())
                          .arg(slot.signature);
        if (slotUrlOverride && (slotUrlOverrideIndex < 0 || slotUrlOverrideIndex == i))
            url = *slotUrlOverride;
        slotList.append(QJsonObject{{QStringLiteral("key"), slot.key},
                                 {QStringLiteral("url"), url},
                                 {QStringLiteral("fileName"), slot.fileName},
                                 {QStringLiteral("size"), info.value(QStringLiteral("size")).toInteger()},
                                 {QStringLiteral("type"), info.value(QStringLiteral("type")).toString()}});
    }
    slotUrlOverride.reset();
    slotUrlOverrideIndex = -1;
    return json(200, QJsonObject{{QStringLiteral("presignedUrls"), slotList}});
}

ApiReply StandInState::confirm(const QString &galleryId, const QByteArray &body)
{
    Gallery *gallery = findGallery(galleryId);
    if (!gallery)
        return error(404, QStringLiteral("gallery not found"));
    const auto object = parseObject(body);
    if (!object || !isInteger(object->value(QStringLiteral("imageCount")))
        || !isInteger(object->value(QStringLiteral("totalBytes"))))
        return error(400, QStringLiteral("imageCount and totalBytes must be whole numbers"));
    QStringList failedKeys;
    const QJsonValue failed = object->value(QStringLiteral("failedKeys"));
    if (!failed.isUndefined() && !failed.isNull()) {
        if (!failed.isArray())
            return error(400, QStringLiteral("failedKeys must be an array of text"));
        for (const QJsonValue &key : failed.toArray()) {
            if (!key.isString())
                return error(400, QStringLiteral("failedKeys must be an array of text"));
            failedKeys.append(key.toString());
        }
    }
    const int run = m_latestRun.value(galleryId);
    for (Slot &slot : m_slots) {
        if (slot.galleryId != galleryId || slot.run != run || slot.settled)
            continue;
        slot.settled = true;
        if (slot.object && !failedKeys.contains(slot.key))
            seedImage(galleryId, slot.fileName, slot.object->size, slot.object->sha256);
    }
    return json(200, QJsonObject{{QStringLiteral("success"), true}});
}

ApiReply StandInState::handleStorePut(const QByteArray &rawPath, const QByteArray &rawQuery, bool hasAuthorization,
                                      const QDateTime &arrival, const StoredObject &object)
{
    if (hasAuthorization)
        return storeError(400, "InvalidArgument", "Only one auth mechanism allowed");
    const QString slotId = QString::fromUtf8(rawPath.mid(qsizetype(sizeof("/store/")) - 1));
    const auto slot = std::find_if(m_slots.begin(), m_slots.end(), [&](const Slot &s) { return s.id == slotId; });
    if (slot == m_slots.end() || slot->settled)
        return storeError(404, "NoSuchKey", "The specified upload does not exist.");
    const QUrlQuery query(QString::fromUtf8(rawQuery));
    if (query.queryItemValue(QStringLiteral("signature")) != slot->signature)
        return storeError(403, "SignatureDoesNotMatch", "The request signature does not match.");
    if (arrival >= slot->expiresAt) // a lifetime of 0 has ended even for a put in the same millisecond
        return storeError(403, "ExpiredToken", "The provided token has expired.");
    slot->object = object;
    ApiReply reply;
    reply.contentType.clear();
    reply.headers.append({"ETag", '"' + object.sha256.left(32) + '"'});
    return reply;
}

} // namespace testsupport::standin
