#pragma once

// Records of the gallery endpoints.

#include "Json.h"

struct Gallery {
    QString id;
    QString slug;
    QString title;
    std::optional<QString> address;
    QString status;
    qint64 imageCount = 0;
    QString createdAt;
    std::optional<QString> coverUrl;
    std::optional<QString> folderId;

    static Gallery fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"id"),        r.string(u"slug"),         r.string(u"title"),
                r.optString(u"address"), r.string(u"status"),       r.integer(u"imageCount"),
                r.string(u"createdAt"),  r.optString(u"coverUrl"),  r.optString(u"folderId")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.string(u"slug", slug);
        w.string(u"title", title);
        w.optString(u"address", address);
        w.string(u"status", status);
        w.integer(u"imageCount", imageCount);
        w.string(u"createdAt", createdAt);
        w.optString(u"coverUrl", coverUrl);
        w.optString(u"folderId", folderId);
    }
    bool operator==(const Gallery &) const = default;
};

struct GalleryListResponse {
    QList<Gallery> galleries;
    std::optional<QString> nextCursor;
    bool hasMore = false;

    static GalleryListResponse fromJson(const json::ObjectReader &r)
    {
        return {r.objects<Gallery>(u"galleries"), r.optString(u"nextCursor"), r.boolean(u"hasMore")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.objects(u"galleries", galleries);
        w.optString(u"nextCursor", nextCursor);
        w.boolean(u"hasMore", hasMore);
    }
    bool operator==(const GalleryListResponse &) const = default;
};

struct GalleryImage {
    QString id;
    QString fileName;

    static GalleryImage fromJson(const json::ObjectReader &r) { return {r.string(u"id"), r.string(u"fileName")}; }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.string(u"fileName", fileName);
    }
    bool operator==(const GalleryImage &) const = default;
};

struct GalleryImageWithSize {
    QString id;
    QString fileName;
    qint64 fileSize = 0;

    static GalleryImageWithSize fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"id"), r.string(u"fileName"), r.integer(u"fileSize")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.string(u"fileName", fileName);
        w.integer(u"fileSize", fileSize);
    }
    bool operator==(const GalleryImageWithSize &) const = default;
};

struct GalleryImagesResponse {
    QList<GalleryImage> images;
    std::optional<QStringList> deletedFileNames;
    std::optional<QList<GalleryImageWithSize>> imagesWithSize;

    static GalleryImagesResponse fromJson(const json::ObjectReader &r)
    {
        return {r.objects<GalleryImage>(u"images"), r.optStrings(u"deletedFileNames"),
                r.optObjects<GalleryImageWithSize>(u"imagesWithSize")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.objects(u"images", images);
        w.optStrings(u"deletedFileNames", deletedFileNames);
        w.optObjects(u"imagesWithSize", imagesWithSize);
    }
    bool operator==(const GalleryImagesResponse &) const = default;
};

struct CreateGalleryRequest {
    QString title;
    std::optional<QString> address;
    std::optional<QString> folderId;

    static CreateGalleryRequest fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"title"), r.optString(u"address"), r.optString(u"folderId")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"title", title);
        w.optString(u"address", address);
        w.optString(u"folderId", folderId);
    }
    bool operator==(const CreateGalleryRequest &) const = default;
};

struct CreateGalleryResponse {
    Gallery gallery;

    static CreateGalleryResponse fromJson(const json::ObjectReader &r) { return {r.object<Gallery>(u"gallery")}; }
    void toJson(json::ObjectWriter &w) const { w.object(u"gallery", gallery); }
    bool operator==(const CreateGalleryResponse &) const = default;
};

struct UpdateGalleryRequest {
    std::optional<QString> folderId;

    static UpdateGalleryRequest fromJson(const json::ObjectReader &r) { return {r.optString(u"folderId")}; }
    void toJson(json::ObjectWriter &w) const { w.optString(u"folderId", folderId); }
    bool operator==(const UpdateGalleryRequest &) const = default;
};

struct DeleteImagesRequest {
    QStringList imageIds;

    static DeleteImagesRequest fromJson(const json::ObjectReader &r) { return {r.strings(u"imageIds")}; }
    void toJson(json::ObjectWriter &w) const { w.strings(u"imageIds", imageIds); }
    bool operator==(const DeleteImagesRequest &) const = default;
};

struct DeleteImagesResponse {
    bool success = false;
    qint64 deletedCount = 0;

    static DeleteImagesResponse fromJson(const json::ObjectReader &r)
    {
        return {r.boolean(u"success"), r.integer(u"deletedCount")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.boolean(u"success", success);
        w.integer(u"deletedCount", deletedCount);
    }
    bool operator==(const DeleteImagesResponse &) const = default;
};
