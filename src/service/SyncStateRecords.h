#pragma once

// Records of the sync-state endpoint: every gallery and server folder of the account, in the service's order.

#include "Json.h"

struct SyncStateGallery {
    QString id;
    QString slug;
    QString title;
    qint64 imageCount = 0;
    std::optional<QString> folderId;
    QString status;
    QString createdAt;
    QStringList fileNames;
    QStringList deletedFileNames;

    static SyncStateGallery fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"id"),          r.string(u"slug"),      r.string(u"title"),
                r.integer(u"imageCount"), r.optString(u"folderId"), r.string(u"status"),
                r.string(u"createdAt"),   r.strings(u"fileNames"), r.strings(u"deletedFileNames")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.string(u"slug", slug);
        w.string(u"title", title);
        w.integer(u"imageCount", imageCount);
        w.optString(u"folderId", folderId);
        w.string(u"status", status);
        w.string(u"createdAt", createdAt);
        w.strings(u"fileNames", fileNames);
        w.strings(u"deletedFileNames", deletedFileNames);
    }
    bool operator==(const SyncStateGallery &) const = default;
};

struct SyncStateFolder {
    QString id;
    QString name;
    std::optional<QString> parentId;
    qint64 sortOrder = 0;

    static SyncStateFolder fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"id"), r.string(u"name"), r.optString(u"parentId"), r.integer(u"sortOrder")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.string(u"name", name);
        w.optString(u"parentId", parentId);
        w.integer(u"sortOrder", sortOrder);
    }
    bool operator==(const SyncStateFolder &) const = default;
};

struct SyncStateResponse {
    QList<SyncStateGallery> galleries;
    QList<SyncStateFolder> folders;

    static SyncStateResponse fromJson(const json::ObjectReader &r)
    {
        return {r.objects<SyncStateGallery>(u"galleries"), r.objects<SyncStateFolder>(u"folders")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.objects(u"galleries", galleries);
        w.objects(u"folders", folders);
    }
    bool operator==(const SyncStateResponse &) const = default;
};
