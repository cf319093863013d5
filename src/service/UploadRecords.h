#pragma once

// Records of the upload protocol: presigned slots, and the confirmation of a run.

#include "Json.h"

struct PresignedRequest {
    struct FileInfo {
        QString name;
        QString type;
        qint64 size = 0;

        static FileInfo fromJson(const json::ObjectReader &r)
        {
            return {r.string(u"name"), r.string(u"type"), r.integer(u"size")};
        }
        void toJson(json::ObjectWriter &w) const
        {
            w.string(u"name", name);
            w.string(u"type", type);
            w.integer(u"size", size);
        }
        bool operator==(const FileInfo &) const = default;
    };

    QString galleryId;
    QList<FileInfo> files;

    static PresignedRequest fromJson(const json::ObjectReader &r)
    {
        return {r.string(u"galleryId"), r.objects<FileInfo>(u"files")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"galleryId", galleryId);
        w.objects(u"files", files);
    }
    bool operator==(const PresignedRequest &) const = default;
};

struct PresignedResponse {
    struct PresignedURL {
        QString key;
        QString url; // kept as text: it is parsed only when the file is put
        QString fileName;
        qint64 size = 0;
        QString type;

        static PresignedURL fromJson(const json::ObjectReader &r)
        {
            return {r.string(u"key"), r.string(u"url"), r.string(u"fileName"), r.integer(u"size"), r.string(u"type")};
        }
        void toJson(json::ObjectWriter &w) const
        {
            w.string(u"key", key);
            w.string(u"url", url);
            w.string(u"fileName", fileName);
            w.integer(u"size", size);
            w.string(u"type", type);
        }
        bool operator==(const PresignedURL &) const = default;
    };

    QList<PresignedURL> presignedUrls;

    static PresignedResponse fromJson(const json::ObjectReader &r)
    {
        return {r.objects<PresignedURL>(u"presignedUrls")};
    }
    void toJson(json::ObjectWriter &w) const { w.objects(u"presignedUrls", presignedUrls); }
    bool operator==(const PresignedResponse &) const = default;
};

struct ConfirmRequest {
    qint64 imageCount = 0;
    qint64 totalBytes = 0;
    std::optional<QStringList> failedKeys; // absent when nothing failed, never an empty list

    static ConfirmRequest fromJson(const json::ObjectReader &r)
    {
        return {r.integer(u"imageCount"), r.integer(u"totalBytes"), r.optStrings(u"failedKeys")};
    }
    void toJson(json::ObjectWriter &w) const
    {
        w.integer(u"imageCount", imageCount);
        w.integer(u"totalBytes", totalBytes);
        w.optStrings(u"failedKeys", failedKeys);
    }
    bool operator==(const ConfirmRequest &) const = default;
};
