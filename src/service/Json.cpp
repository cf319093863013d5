#include "Json.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <charconv>
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

// Where a value sits; the text is built only when a fault is reported.
struct Place {
    const ObjectReader *reader = nullptr;
    QStringView key;
    QString path;

    QString text() const { return reader ? reader->keyPath(key) : path; }
};

Place placeOf(const ObjectReader &reader, QStringView key)
{
    return Place{&reader, key, {}};
}

QString stringValue(const QJsonValue &value, const Place &place)
{
    if (!value.isString())
        wrongType(place.text(), "a string", value);
    return value.toString();
}

qint64 integerValue(const QJsonValue &value, const Place &place)
{
    if (!value.isDouble())
        wrongType(place.text(), "a whole number", value);
    // toInteger gives its default for fractions and for values outside the signed 64-bit range; two different
    // defaults tell those apart from a real value.
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        fail(QStringLiteral("Number at %1 is not a whole number within the signed 64-bit range.").arg(place.text()));
    return a;
}

double numberValue(const QJsonValue &value, const Place &place)
{
    if (!value.isDouble())
        wrongType(place.text(), "a number", value);
    return value.toDouble();
}

bool boolValue(const QJsonValue &value, const Place &place)
{
    if (!value.isBool())
        wrongType(place.text(), "a boolean", value);
    return value.toBool();
}

QStringList stringsValue(const QJsonValue &value, const Place &place)
{
    if (!value.isArray())
        wrongType(place.text(), "an array", value);
    const QJsonArray array = value.toArray();
    QStringList result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue element = array.at(i);
        if (!element.isString())
            wrongType(place.text() + QLatin1Char('[') + QString::number(i) + QLatin1Char(']'), "a string", element);
        result.append(element.toString());
    }
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
    const bool name = !key.isEmpty() && std::all_of(key.begin(), key.end(), [](QChar c) {
        return c.isLetterOrNumber() || c == u'_';
    });
    if (name)
        return m_path + QLatin1Char('.') + key.toString();
    return m_path + QStringLiteral("[\"") + key.toString() + QStringLiteral("\"]");
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
    return stringValue(present(key), placeOf(*this, key));
}

std::optional<QString> ObjectReader::optString(QStringView key) const
{
    if (const auto value = optional(key))
        return stringValue(*value, placeOf(*this, key));
    return std::nullopt;
}

qint64 ObjectReader::integer(QStringView key) const
{
    return integerValue(present(key), placeOf(*this, key));
}

std::optional<qint64> ObjectReader::optInteger(QStringView key) const
{
    if (const auto value = optional(key))
        return integerValue(*value, placeOf(*this, key));
    return std::nullopt;
}

double ObjectReader::number(QStringView key) const
{
    return numberValue(present(key), placeOf(*this, key));
}

std::optional<double> ObjectReader::optNumber(QStringView key) const
{
    if (const auto value = optional(key))
        return numberValue(*value, placeOf(*this, key));
    return std::nullopt;
}

bool ObjectReader::boolean(QStringView key) const
{
    return boolValue(present(key), placeOf(*this, key));
}

std::optional<bool> ObjectReader::optBoolean(QStringView key) const
{
    if (const auto value = optional(key))
        return boolValue(*value, placeOf(*this, key));
    return std::nullopt;
}

QStringList ObjectReader::strings(QStringView key) const
{
    return stringsValue(present(key), placeOf(*this, key));
}

std::optional<QStringList> ObjectReader::optStrings(QStringView key) const
{
    if (const auto value = optional(key))
        return stringsValue(*value, placeOf(*this, key));
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
    const QString path = arrayPath + QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
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

void appendQuoted(QByteArray &out, QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    // Keys and most values are ASCII with nothing to escape: copy them over without a UTF-8 copy.
    const bool plain = std::all_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return u >= 0x20 && u < 0x80 && u != '"' && u != '\\';
    });
    if (plain) {
        const qsizetype start = out.size();
        out.resize(start + text.size());
        std::transform(text.begin(), text.end(), out.data() + start, [](QChar c) { return char(c.unicode()); });
        out += '"';
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(utf8.constData() + runStart, i - runStart);
        runStart = i + 1;
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
        default: {
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xf]};
            out.append(escape, sizeof escape);
        }
        }
    }
    out.append(utf8.constData() + runStart, utf8.size() - runStart);
    out += '"';
}

QByteArray quoted(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    appendQuoted(out, text);
    return out;
}

ObjectWriter::ObjectWriter()
    : m_own("{")
    , m_out(&m_own)
{
}

ObjectWriter::ObjectWriter(QByteArray &target)
    : m_out(&target)
{
    *m_out += '{';
}

void ObjectWriter::key(QStringView key)
{
    if (!m_first)
        *m_out += ',';
    m_first = false;
    appendQuoted(*m_out, key);
    *m_out += ':';
}

void ObjectWriter::raw(QStringView name, const QByteArray &encodedValue)
{
    key(name);
    *m_out += encodedValue;
}

void ObjectWriter::string(QStringView name, QStringView value)
{
    key(name);
    appendQuoted(*m_out, value);
}

void ObjectWriter::optString(QStringView name, const std::optional<QString> &value)
{
    if (value)
        string(name, *value);
}

void ObjectWriter::integer(QStringView name, qint64 value)
{
    key(name);
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out->append(buffer, result.ptr - buffer);
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
    key(name);
    // Whole numbers read back as integers in every JSON reader; others in the shortest plain form that reads
    // back exactly, never with an exponent.
    char buffer[400];
    const bool whole = std::trunc(value) == value && std::fabs(value) < 9007199254740992.0;
    const auto result = whole ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<qint64>(value))
                              : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    m_out->append(buffer, result.ptr - buffer);
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
    key(name);
    *m_out += '[';
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            *m_out += ',';
        appendQuoted(*m_out, values.at(i));
    }
    *m_out += ']';
}

void ObjectWriter::optStrings(QStringView name, const std::optional<QStringList> &values)
{
    if (values)
        strings(name, *values);
}

QByteArray ObjectWriter::finish()
{
    close();
    return std::move(m_own);
}

} // namespace json
