#include "StrictJson.h"

namespace strictjson {

void fail(const QString &where, const QString &what)
{
    throw SyncDecodingError(what + QStringLiteral(" at ") + where);
}

QJsonValue required(const QJsonObject &object, QLatin1StringView key, const QString &where)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        fail(at(where, key), QStringLiteral("Missing required key"));
    if (value.isNull())
        fail(at(where, key), QStringLiteral("Required value is null"));
    return value;
}

QJsonObject object(const QJsonValue &value, const QString &where)
{
    if (!value.isObject())
        fail(where, QStringLiteral("Expected an object"));
    return value.toObject();
}

QJsonArray array(const QJsonValue &value, const QString &where)
{
    if (!value.isArray())
        fail(where, QStringLiteral("Expected an array"));
    return value.toArray();
}

QString string(const QJsonValue &value, const QString &where)
{
    if (!value.isString())
        fail(where, QStringLiteral("Expected a string"));
    return value.toString();
}

qint64 integer(const QJsonValue &value, const QString &where)
{
    if (!value.isDouble())
        fail(where, QStringLiteral("Expected an integer"));
    // toInteger gives its default for anything that is not a whole 64-bit number: two defaults tell them apart.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        fail(where, QStringLiteral("Expected a whole signed 64-bit number"));
    return a;
}

double number(const QJsonValue &value, const QString &where)
{
    if (!value.isDouble())
        fail(where, QStringLiteral("Expected a number"));
    return value.toDouble();
}

QStringList strings(const QJsonValue &value, const QString &where)
{
    const QJsonArray items = array(value, where);
    QStringList result;
    result.reserve(items.size());
    for (qsizetype i = 0; i < items.size(); ++i)
        result.append(string(items.at(i), at(where, i)));
    return result;
}

} // namespace strictjson
