#pragma once

// Strict reading of the engine's JSON: a required key must be present and not null, every value must have its
// JSON type, integers must be whole signed 64-bit numbers. Faults throw SyncDecodingError naming the place.

#include "SyncFolder.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

namespace strictjson {

[[noreturn]] void fail(const QString &where, const QString &what);

QJsonObject object(const QJsonValue &value, const QString &where);
QJsonArray array(const QJsonValue &value, const QString &where);
QString string(const QJsonValue &value, const QString &where);
qint64 integer(const QJsonValue &value, const QString &where);
double number(const QJsonValue &value, const QString &where);
QStringList strings(const QJsonValue &value, const QString &where);

// A key that is missing or null counts as absent.
inline bool isAbsent(const QJsonValue &value) { return value.isUndefined() || value.isNull(); }
// The value of a required key; throws when it is missing or null.
QJsonValue required(const QJsonObject &object, QLatin1StringView key, const QString &where);

inline QString at(const QString &where, QLatin1StringView key) { return where + QLatin1Char('.') + key; }
inline QString at(const QString &where, qsizetype index)
{
    return where + QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
}

} // namespace strictjson
