#include "Json.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>

#include <cmath>

namespace json {

namespace {

[[noreturn]] void fail(const QString &message)
{
    throw DecodingError(message);
}

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void wrongType(const QString &path, const char *expected, const QJsonValue &value)
{
    fail(QStringLiteral("Expected %1 at %2 but found %3.").arg(QLatin1String(expected), path, typeName(value)));
}

QString stringValue(const QJsonValue &value, const QString &path)
{
    if (!value.isString())
        wrongType(path, "a string", value);
    return value.toString();
}

qint64 integerValue(const QJsonValue &value, const QString &path)
{
    if (!value.isDouble())
        wrongType(path, "a whole number", value);
    // toInteger gives its default for fractions and for values outside the signed 64-bit range; two different
    // defaults tell those apart from a real value.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        fail(QStringLiteral("Number at %1 is not a whole number within the signed 64-bit range.").arg(path));
    return a;
}

double numberValue(const QJsonValue &value, const QString &path)
{
    if (!value.isDouble())
        wrongType(path, "a number", value);
    return value.toDouble();
}

bool boolValue(const QJsonValue &value, const QString &path)
{
    if (!value.isBool())
        wrongType(path, "a boolean", value);
    return value.toBool();
}

QStringList stringsValue(const QJsonValue &value, const QString &path)
{
    if (!value.isArray())
        wrongType(path, "an array", value);
    const QJsonArray array = value.toArray();
    QStringList result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        result.append(stringValue(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)));
    return result;
}

QJsonDocument parse(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        fail(data.isEmpty() ? QStringLiteral("The data is empty and is not valid JSON.")
                            : QStringLiteral("The data is not valid JSON: %1 at offset %2.")
                                  .arg(error.errorString())
                                  .arg(error.offset));
    }
    return document;
}

} // namespace

ObjectReader::ObjectReader(QJsonObject object, QString path)
    : m_object(std::move(object))
    , m_path(std::move(path))
{
}

QString ObjectReader::keyPath(QStringView key) const
{
    return m_path + QLatin1Char('.') + key.toString();
}

QJsonValue ObjectReader::present(QStringView key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined())
        fail(QStringLiteral("Missing required key at %1.").arg(keyPath(key)));
    if (value.isNull())
        fail(QStringLiteral("Required key at %1 is null.").arg(keyPath(key)));
    return value;
}

std::optional<QJsonValue> ObjectReader::optional(QStringView key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return value;
}

QJsonArray ObjectReader::requiredArray(QStringView key) const
{
    const QJsonValue value = present(key);
    if (!value.isArray())
        wrongType(keyPath(key), "an array", value);
    return value.toArray();
}

std::optional<QJsonArray> ObjectReader::optionalArray(QStringView key) const
{
    const auto value = optional(key);
    if (!value)
        return std::nullopt;
    if (!value->isArray())
        wrongType(keyPath(key), "an array", *value);
    return value->toArray();
}

QString ObjectReader::string(QStringView key) const
{
    return stringValue(present(key), keyPath(key));
}

std::optional<QString> ObjectReader::optString(QStringView key) const
{
    if (const auto value = optional(key))
        return stringValue(*value, keyPath(key));
    return std::nullopt;
}

qint64 ObjectReader::integer(QStringView key) const
{
    return integerValue(present(key), keyPath(key));
}

std::optional<qint64> ObjectReader::optInteger(QStringView key) const
{
    if (const auto value = optional(key))
        return integerValue(*value, keyPath(key));
    return std::nullopt;
}

double ObjectReader::number(QStringView key) const
{
    return numberValue(present(key), keyPath(key));
}

std::optional<double> ObjectReader::optNumber(QStringView key) const
{
    if (const auto value = optional(key))
        return numberValue(*value, keyPath(key));
    return std::nullopt;
}

bool ObjectReader::boolean(QStringView key) const
{
    return boolValue(present(key), keyPath(key));
}

std::optional<bool> ObjectReader::optBoolean(QStringView key) const
{
    if (const auto value = optional(key))
        return boolValue(*value, keyPath(key));
    return std::nullopt;
}

QStringList ObjectReader::strings(QStringView key) const
{
    return stringsValue(present(key), keyPath(key));
}

std::optional<QStringList> ObjectReader::optStrings(QStringView key) const
{
    if (const auto value = optional(key))
        return stringsValue(*value, keyPath(key));
    return std::nullopt;
}

ObjectReader ObjectReader::child(QStringView key) const
{
    const QJsonValue value = present(key);
    if (!value.isObject())
        wrongType(keyPath(key), "an object", value);
    return ObjectReader(value.toObject(), keyPath(key));
}

std::optional<ObjectReader> ObjectReader::optChild(QStringView key) const
{
    const auto value = optional(key);
    if (!value)
        return std::nullopt;
    if (!value->isObject())
        wrongType(keyPath(key), "an object", *value);
    return ObjectReader(value->toObject(), keyPath(key));
}

ObjectReader ObjectReader::elementReader(const QJsonValue &value, const QString &arrayPath, qsizetype index)
{
    const QString path = QStringLiteral("%1[%2]").arg(arrayPath).arg(index);
    if (!value.isObject())
        wrongType(path, "an object", value);
    return ObjectReader(value.toObject(), path);
}

QJsonObject parseObject(const QByteArray &data)
{
    const QJsonDocument document = parse(data);
    if (!document.isObject())
        fail(QStringLiteral("Expected a JSON object at the top level."));
    return document.object();
}

QJsonArray parseArray(const QByteArray &data)
{
    const QJsonDocument document = parse(data);
    if (!document.isArray())
        fail(QStringLiteral("Expected a JSON array at the top level."));
    return document.array();
}

QByteArray quoted(QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

ObjectWriter::ObjectWriter()
    : m_out("{")
{
}

void ObjectWriter::key(QStringView key)
{
    if (!m_first)
        m_out += ',';
    m_first = false;
    m_out += quoted(key);
    m_out += ':';
}

void ObjectWriter::raw(QStringView name, const QByteArray &encodedValue)
{
    key(name);
    m_out += encodedValue;
}

void ObjectWriter::string(QStringView name, const QString &value)
{
    raw(name, quoted(value));
}

void ObjectWriter::optString(QStringView name, const std::optional<QString> &value)
{
    if (value)
        string(name, *value);
}

void ObjectWriter::integer(QStringView name, qint64 value)
{
    raw(name, QByteArray::number(value));
}

void ObjectWriter::optInteger(QStringView name, std::optional<qint64> value)
{
    if (value)
        integer(name, *value);
}

void ObjectWriter::number(QStringView name, double value)
{
    if (!std::isfinite(value))
        throw EncodingError(QStringLiteral("Unable to encode %1 as JSON: the number is not finite.").arg(name));
    raw(name, QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
}

void ObjectWriter::optNumber(QStringView name, std::optional<double> value)
{
    if (value)
        number(name, *value);
}

void ObjectWriter::boolean(QStringView name, bool value)
{
    raw(name, value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
}

void ObjectWriter::optBoolean(QStringView name, std::optional<bool> value)
{
    if (value)
        boolean(name, *value);
}

void ObjectWriter::strings(QStringView name, const QStringList &values)
{
    QByteArray array("[");
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            array += ',';
        array += quoted(values.at(i));
    }
    array += ']';
    raw(name, array);
}

void ObjectWriter::optStrings(QStringView name, const std::optional<QStringList> &values)
{
    if (values)
        strings(name, *values);
}

QByteArray ObjectWriter::finish()
{
    m_out += '}';
    return std::move(m_out);
}

} // namespace json
