#pragma once

// Strict JSON reading and ordered JSON writing for the service records and the application's own files.
//
// Reading: a required key must be present, not null, and of its JSON type; an optional key may be missing or null;
// unknown keys are ignored; integers must be whole numbers within the signed 64-bit range. Any other shape throws
// DecodingError naming the place ("galleries[2].id").
// Writing: compact, keys in the order the record writes them, optional fields without a value left out.
//
// A record T takes part by offering
//     static T fromJson(const json::ObjectReader &reader);
//     void toJson(json::ObjectWriter &writer) const;

#include "Errors.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace json {

class ObjectReader
{
public:
    explicit ObjectReader(QJsonObject object, QString path = QStringLiteral("$"));

    QString string(QStringView key) const;
    std::optional<QString> optString(QStringView key) const;
    qint64 integer(QStringView key) const;
    std::optional<qint64> optInteger(QStringView key) const;
    double number(QStringView key) const;
    std::optional<double> optNumber(QStringView key) const;
    bool boolean(QStringView key) const;
    std::optional<bool> optBoolean(QStringView key) const;
    QStringList strings(QStringView key) const;
    std::optional<QStringList> optStrings(QStringView key) const;

    // A nested object, for records of records and for objects keyed by data (the caller walks keys()).
    ObjectReader child(QStringView key) const;
    std::optional<ObjectReader> optChild(QStringView key) const;
    QStringList keys() const { return m_object.keys(); }
    // Whether the key is there at all, null included.
    bool contains(QStringView key) const { return m_object.contains(key); }

    template<typename T>
    T object(QStringView key) const
    {
        return T::fromJson(child(key));
    }
    template<typename T>
    std::optional<T> optObject(QStringView key) const
    {
        if (const auto reader = optChild(key))
            return T::fromJson(*reader);
        return std::nullopt;
    }
    template<typename T>
    QList<T> objects(QStringView key) const
    {
        return readObjects<T>(requiredArray(key), keyPath(key));
    }
    template<typename T>
    std::optional<QList<T>> optObjects(QStringView key) const
    {
        if (const auto array = optionalArray(key))
            return readObjects<T>(*array, keyPath(key));
        return std::nullopt;
    }

    const QString &path() const { return m_path; }

    // The records of an array, each an object; a non-object element fails the whole array.
    template<typename T>
    static QList<T> readObjects(const QJsonArray &array, const QString &path)
    {
        QList<T> result;
        result.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            result.append(T::fromJson(elementReader(array.at(i), path, i)));
        return result;
    }

    // The place of a key below this object: ".name", or ["key"] for a key that is data (a path, say).
    QString keyPath(QStringView key) const;

private:
    static ObjectReader elementReader(const QJsonValue &value, const QString &arrayPath, qsizetype index);

    QJsonValue present(QStringView key) const;          // throws when missing or null
    std::optional<QJsonValue> optional(QStringView key) const; // nullopt when missing or null
    QJsonArray requiredArray(QStringView key) const;
    std::optional<QJsonArray> optionalArray(QStringView key) const;

    QJsonObject m_object;
    QString m_path;
};

class ObjectWriter
{
public:
    ObjectWriter();
    ObjectWriter(const ObjectWriter &) = delete;
    ObjectWriter &operator=(const ObjectWriter &) = delete;

    void string(QStringView key, QStringView value);
    void optString(QStringView key, const std::optional<QString> &value);
    void integer(QStringView key, qint64 value);
    void optInteger(QStringView key, std::optional<qint64> value);
    // Whole numbers below 2^53 as integers, others in plain notation with the shortest digits that read back
    // exactly. Throws EncodingError for NaN and infinities.
    void number(QStringView key, double value);
    void optNumber(QStringView key, std::optional<double> value);
    void boolean(QStringView key, bool value);
    void optBoolean(QStringView key, std::optional<bool> value);
    void strings(QStringView key, const QStringList &values);
    void optStrings(QStringView key, const std::optional<QStringList> &values);

    template<typename T>
    void object(QStringView key, const T &record)
    {
        objectWith(key, [&record](ObjectWriter &inner) { record.toJson(inner); });
    }
    template<typename T>
    void optObject(QStringView key, const std::optional<T> &record)
    {
        if (record)
            object(key, *record);
    }
    // A nested object whose keys fill writes, for objects that are not records (keyed by data, say).
    template<typename Fill>
    void objectWith(QStringView key, Fill &&fill)
    {
        this->key(key);
        ObjectWriter inner(*m_out);
        fill(inner);
        inner.close();
    }
    // Any list of records with size() and at(): a QList, or a compact list that hands out values.
    template<typename Records>
    void objects(QStringView key, const Records &records)
    {
        this->key(key);
        appendObjects(*m_out, records);
    }
    template<typename T>
    void optObjects(QStringView key, const std::optional<QList<T>> &records)
    {
        if (records)
            objects(key, *records);
    }

    // Writes an already encoded JSON value under the key.
    void raw(QStringView key, const QByteArray &encodedValue);

    // For large documents: room for this many bytes up front.
    void reserve(qsizetype bytes) { m_out->reserve(bytes); }

    // Closes the object and returns its bytes; the writer is spent afterwards.
    QByteArray finish();

    template<typename T>
    static QByteArray writeObjects(const QList<T> &records)
    {
        QByteArray out;
        appendObjects(out, records);
        return out;
    }

private:
    // Nested writers append to their parent's bytes: one buffer for the whole document.
    explicit ObjectWriter(QByteArray &target);

    template<typename Records>
    static void appendObjects(QByteArray &out, const Records &records)
    {
        out += '[';
        for (qsizetype i = 0; i < records.size(); ++i) {
            if (i > 0)
                out += ',';
            ObjectWriter inner(out);
            records.at(i).toJson(inner);
            inner.close();
        }
        out += ']';
    }

    void key(QStringView key);
    void close() { *m_out += '}'; }

    QByteArray m_own;
    QByteArray *m_out;
    bool m_first = true;
};

// JSON string literal of the text, quotes included.
QByteArray quoted(QStringView text);
void appendQuoted(QByteArray &out, QStringView text);

// Parses bytes whose top level must be an object; throws DecodingError.
QJsonObject parseObject(const QByteArray &data);
// Parses bytes whose top level must be an array; throws DecodingError.
QJsonArray parseArray(const QByteArray &data);

template<typename T>
T decode(const QByteArray &data)
{
    return T::fromJson(ObjectReader(parseObject(data)));
}

template<typename T>
QList<T> decodeList(const QByteArray &data)
{
    return ObjectReader::readObjects<T>(parseArray(data), QStringLiteral("$"));
}

template<typename T>
QByteArray encode(const T &record)
{
    ObjectWriter writer;
    record.toJson(writer);
    return writer.finish();
}

template<typename T>
QByteArray encodeList(const QList<T> &records)
{
    return ObjectWriter::writeObjects(records);
}

} // namespace json
