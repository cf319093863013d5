#pragma once

// Records of the server-folder endpoints.

#include "Json.h"

struct RemoteFolder {
    QString id;
    QString name;
    std::optional<QString> parentId;
    QString createdAt;

    static RemoteFolder fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"id"), r.string(u"name"), r.optString(u"parentId"), r.string(u"createdAt")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.string(u"name", name);
        w.optString(u"parentId", parentId);
        w.string(u"createdAt", createdAt);
    }
    bool operator==(const RemoteFolder &) const = default;
};

struct FolderListResponse {
    QList<RemoteFolder> folders;

    static FolderListResponse fromJson(const json::ObjectReader &r) { return {r.objects<RemoteFolder>(u"folders")}; }
    void toJson(json::ObjectWriter &w) const { w.objects(u"folders", folders); }
    bool operator==(const FolderListResponse &) const = default;
};

struct CreateFolderRequest {
    QString name;
    std::optional<QString> parentId;

    static CreateFolderRequest fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"name"), r.optString(u"parentId")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"name", name);
        w.optString(u"parentId", parentId);
    }
    bool operator==(const CreateFolderRequest &) const = default;
};

struct CreateFolderResponse {
    RemoteFolder folder;

    static CreateFolderResponse fromJson(const json::ObjectReader &r) { return {r.object<RemoteFolder>(u"folder")}; }
    void toJson(json::ObjectWriter &w) const { w.object(u"folder", folder); }
    bool operator==(const CreateFolderResponse &) const = default;
};
