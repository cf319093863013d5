#include "CompactJsonWriter.h"

#include <charconv>
#include <cmath>

void CompactJsonWriter::separate()
{
    if (m_needsComma)
        m_out.append(',');
    m_needsComma = false;
}

void CompactJsonWriter::beginObject()
{
    separate();
    m_out.append('{');
}

void CompactJsonWriter::endObject()
{
    m_out.append('}');
    m_needsComma = true;
}

void CompactJsonWriter::beginArray()
{
    separate();
    m_out.append('[');
}

void CompactJsonWriter::endArray()
{
    m_out.append(']');
    m_needsComma = true;
}

void CompactJsonWriter::key(QStringView name)
{
    separate();
    appendEscaped(name);
    m_out.append(':');
}

void CompactJsonWriter::string(QStringView text)
{
    separate();
    appendEscaped(text);
    m_needsComma = true;
}

void CompactJsonWriter::integer(qint64 number)
{
    separate();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    m_out.append(buffer, result.ptr - buffer);
    m_needsComma = true;
}

void CompactJsonWriter::number(double value)
{
    if (!std::isfinite(value))
        throw EncodingFailure("Unable to encode the non-finite number " + std::to_string(value) + " as JSON");
    separate();
    char buffer[400];
    // Whole numbers read back as integers in every JSON reader; others in the shortest form that round-trips.
    const bool whole = std::trunc(value) == value && std::fabs(value) < 9007199254740992.0;
    const auto result = whole ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<qint64>(value))
                              : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    m_out.append(buffer, result.ptr - buffer);
    m_needsComma = true;
}

void CompactJsonWriter::appendEscaped(QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    m_out.append('"');
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        m_out.append(utf8.constData() + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"': m_out.append("\\\""); break;
        case '\\': m_out.append("\\\\"); break;
        case '\n': m_out.append("\\n"); break;
        case '\r': m_out.append("\\r"); break;
        case '\t': m_out.append("\\t"); break;
        case '\b': m_out.append("\\b"); break;
        case '\f': m_out.append("\\f"); break;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xf]};
            m_out.append(escape, sizeof escape);
        }
        }
    }
    m_out.append(utf8.constData() + runStart, utf8.size() - runStart);
    m_out.append('"');
}
