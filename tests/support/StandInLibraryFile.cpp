// The stand-in's library as a file: what a trial keeps between two runs of the stand-in program.

#include "StandInState.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testsupport::standin {

namespace {

QJsonValue optionalText(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

std::optional<QString> optionalText(const QJsonValue &value)
{
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

QJsonObject folderJson(const StandInFolder &folder)
{
    return {{QStringLiteral("id"), folder.id},
            {QStringLiteral("name"), folder.name},
            {QStringLiteral("parentId"), optionalText(folder.parentId)},
            {QStringLiteral("sortOrder"), folder.sortOrder},
            {QStringLiteral("createdAt"), folder.createdAt}};
}

StandInFolder folderFrom(const QJsonObject &object)
{
    StandInFolder folder;
    folder.id = object.value(QStringLiteral("id")).toString();
    folder.name = object.value(QStringLiteral("name")).toString();
    folder.parentId = optionalText(object.value(QStringLiteral("parentId")));
    folder.sortOrder = object.value(QStringLiteral("sortOrder")).toInteger();
    folder.createdAt = object.value(QStringLiteral("createdAt")).toString();
    return folder;
}

QJsonObject imageJson(const StandInImage &image)
{
    return {{QStringLiteral("id"), image.id},
            {QStringLiteral("fileName"), image.fileName},
            {QStringLiteral("fileSize"), image.fileSize},
            {QStringLiteral("sha256"), QString::fromLatin1(image.sha256)}};
}

StandInImage imageFrom(const QJsonObject &object)
{
    return {object.value(QStringLiteral("id")).toString(), object.value(QStringLiteral("fileName")).toString(),
            object.value(QStringLiteral("fileSize")).toInteger(),
            object.value(QStringLiteral("sha256")).toString().toLatin1()};
}

} // namespace

QByteArray StandInState::saveLibrary() const
{
    QJsonArray folders;
    for (const StandInFolder &folder : m_folders)
        folders.append(folderJson(folder));
    QJsonArray galleries;
    for (const Gallery &gallery : m_galleries) {
        QJsonArray images;
        for (const StandInImage &image : gallery.value.images)
            images.append(imageJson(image));
        galleries.append(QJsonObject{{QStringLiteral("id"), gallery.value.id},
                                     {QStringLiteral("slug"), gallery.value.slug},
                                     {QStringLiteral("title"), gallery.value.title},
                                     {QStringLiteral("folderId"), optionalText(gallery.value.folderId)},
                                     {QStringLiteral("status"), gallery.value.status},
                                     {QStringLiteral("createdAt"), gallery.value.createdAt},
                                     {QStringLiteral("images"), images},
                                     {QStringLiteral("deletedFileNames"),
                                      QJsonArray::fromStringList(gallery.value.deletedFileNames)},
                                     {QStringLiteral("address"), optionalText(gallery.address)}});
    }
    QJsonObject counters;
    for (auto it = m_counters.constBegin(); it != m_counters.constEnd(); ++it)
        counters.insert(QString::fromLatin1(it.key()), it.value());
    return QJsonDocument(QJsonObject{{QStringLiteral("folders"), folders},
                                     {QStringLiteral("galleries"), galleries},
                                     {QStringLiteral("counters"), counters}})
        .toJson(QJsonDocument::Indented);
}

bool StandInState::loadLibrary(const QByteArray &saved)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(saved, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject root = document.object();
    if (!root.value(QStringLiteral("folders")).isArray() || !root.value(QStringLiteral("galleries")).isArray()
        || !root.value(QStringLiteral("counters")).isObject())
        return false;

    QList<StandInFolder> folders;
    for (const QJsonValue &folder : root.value(QStringLiteral("folders")).toArray())
        folders.append(folderFrom(folder.toObject()));
    QList<Gallery> galleries;
    for (const QJsonValue &entry : root.value(QStringLiteral("galleries")).toArray()) {
        const QJsonObject object = entry.toObject();
        Gallery gallery;
        gallery.value.id = object.value(QStringLiteral("id")).toString();
        gallery.value.slug = object.value(QStringLiteral("slug")).toString();
        gallery.value.title = object.value(QStringLiteral("title")).toString();
        gallery.value.folderId = optionalText(object.value(QStringLiteral("folderId")));
        gallery.value.status = object.value(QStringLiteral("status")).toString();
        gallery.value.createdAt = object.value(QStringLiteral("createdAt")).toString();
        for (const QJsonValue &image : object.value(QStringLiteral("images")).toArray())
            gallery.value.images.append(imageFrom(image.toObject()));
        for (const QJsonValue &name : object.value(QStringLiteral("deletedFileNames")).toArray())
            gallery.value.deletedFileNames.append(name.toString());
        gallery.address = optionalText(object.value(QStringLiteral("address")));
        if (gallery.value.id.isEmpty())
            return false;
        galleries.append(gallery);
    }
    QMap<QByteArray, int> counters;
    const QJsonObject savedCounters = root.value(QStringLiteral("counters")).toObject();
    for (auto it = savedCounters.constBegin(); it != savedCounters.constEnd(); ++it)
        counters.insert(it.key().toLatin1(), it.value().toInt());

    m_folders = folders;
    m_galleries = galleries;
    m_counters = counters;
    m_slots.clear();
    m_latestRun.clear();
    return true;
}

} // namespace testsupport::standin
