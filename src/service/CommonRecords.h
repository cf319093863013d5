#pragma once

// Records shared by several endpoints, and those of the token check.

#include "Json.h"

// The answer of several endpoints; an answer that decodes counts as success, `success` is not looked at.
struct SuccessResponse {
    std::optional<bool> success;

    static SuccessResponse fromJson(const json::ObjectReader &r) { return {r.optBoolean(u"success")}; }
    void toJson(json::ObjectWriter &w) const { w.optBoolean(u"success", success); }
    bool operator==(const SuccessResponse &) const = default;
};

// The body of a request that must send JSON but has nothing to say: "{}".
struct EmptyBody {
    static EmptyBody fromJson(const json::ObjectReader &) { return {}; }
    void toJson(json::ObjectWriter &) const {}
    bool operator==(const EmptyBody &) const = default;
};

struct UserInfo {
    QString id;
    std::optional<QString> email;

    static UserInfo fromJson(const json::ObjectReader &r) { return {r.string(u"id"), r.optString(u"email")}; }
    void toJson(json::ObjectWriter &w) const
    {
        w.string(u"id", id);
        w.optString(u"email", email);
    }
    bool operator==(const UserInfo &) const = default;
};

struct MeResponse {
    std::optional<UserInfo> user;

    static MeResponse fromJson(const json::ObjectReader &r) { return {r.optObject<UserInfo>(u"user")}; }
    void toJson(json::ObjectWriter &w) const { w.optObject(u"user", user); }
    bool operator==(const MeResponse &) const = default;
};
