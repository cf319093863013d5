#include "HttpAnswerReader.h"

#include <algorithm>
#include <utility>

namespace {

constexpr qsizetype kLongestLine = 64 * 1024; // a head line longer than this is not an answer worth reading

} // namespace

HttpAnswerReader::HttpAnswerReader(qint64 keptBodyLimit)
    : m_limit(keptBodyLimit)
{
}

void HttpAnswerReader::read(QByteArrayView bytes)
{
    m_receivedAny = m_receivedAny || !bytes.isEmpty();
    QByteArray line;
    while (!bytes.isEmpty() && m_state != State::Done && m_state != State::Failed) {
        if (m_state == State::Body) {
            const qsizetype count = m_remaining < 0 ? bytes.size() : qsizetype(std::min<qint64>(m_remaining, bytes.size()));
            keep(bytes.first(count));
            bytes = bytes.sliced(count);
            if (m_state == State::Body && m_remaining >= 0 && (m_remaining -= count) == 0)
                m_state = m_chunked ? State::ChunkEnd : State::Done;
            continue;
        }
        if (!takeLine(bytes, line))
            return;
        switch (m_state) {
        case State::StatusLine:
            readStatusLine(line);
            break;
        case State::Headers:
            readHeader(line);
            break;
        case State::ChunkSize:
            readChunkSize(line);
            break;
        case State::ChunkEnd:
            m_state = line.isEmpty() ? State::ChunkSize : State::Failed;
            break;
        case State::Trailers:
            if (line.isEmpty())
                m_state = State::Done;
            break;
        case State::Body:
        case State::Done:
        case State::Failed:
            break;
        }
    }
}

void HttpAnswerReader::closeReceived()
{
    if (m_state == State::Body && m_remaining < 0)
        m_state = State::Done;
}

// A line without its "\r\n", once it is whole.
bool HttpAnswerReader::takeLine(QByteArrayView &bytes, QByteArray &line)
{
    const qsizetype end = bytes.indexOf('\n');
    m_line += end < 0 ? bytes : bytes.first(end);
    bytes = end < 0 ? QByteArrayView() : bytes.sliced(end + 1);
    if (m_line.size() > kLongestLine) {
        m_state = State::Failed;
        return false;
    }
    if (end < 0)
        return false;
    if (m_line.endsWith('\r'))
        m_line.chop(1);
    line = std::exchange(m_line, {});
    return true;
}

void HttpAnswerReader::readStatusLine(const QByteArray &line)
{
    // "HTTP/1.1 200 OK"
    const QList<QByteArray> parts = line.split(' ');
    bool ok = false;
    const int status = parts.size() >= 2 && parts.at(0).startsWith("HTTP/1.") && parts.at(1).size() == 3
        ? parts.at(1).toInt(&ok)
        : 0;
    if (!ok || status < 100) {
        m_state = State::Failed;
        return;
    }
    m_interim = status == 100;
    m_http11 = parts.at(0) == "HTTP/1.1";
    if (!m_interim) {
        m_status = status;
        m_reason = line.mid(parts.at(0).size() + 5);
    }
    m_state = State::Headers;
}

void HttpAnswerReader::readHeader(const QByteArray &line)
{
    if (line.isEmpty()) {
        if (m_interim) {
            m_state = State::StatusLine;
            return;
        }
        m_headComplete = true;
        startBody();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        m_state = State::Failed;
        return;
    }
    const QByteArray name = line.first(colon).trimmed().toLower();
    const QByteArray value = line.sliced(colon + 1).trimmed();
    if (name == "content-length") {
        bool ok = false;
        const qint64 length = value.toLongLong(&ok);
        if (!ok || length < 0 || (m_contentLength && *m_contentLength != length)) {
            m_state = State::Failed;
            return;
        }
        m_contentLength = length;
    } else if (name == "transfer-encoding") {
        m_chunked = value.toLower().endsWith("chunked");
    } else if (name == "connection") {
        m_closes = m_closes || value.toLower().contains("close");
    }
}

void HttpAnswerReader::startBody()
{
    const int status = *m_status;
    if (status < 200 || status == 204 || status == 304) {
        m_state = State::Done; // no body, whatever the headers say
    } else if (m_chunked) {
        m_state = State::ChunkSize;
    } else if (m_contentLength) {
        m_remaining = *m_contentLength;
        m_state = m_remaining == 0 ? State::Done : State::Body;
    } else {
        m_remaining = -1;
        m_bodyToClose = true;
        m_state = State::Body;
    }
}

void HttpAnswerReader::readChunkSize(const QByteArray &line)
{
    // "1a2b" with perhaps ";extension"
    const qsizetype end = line.indexOf(';');
    bool ok = false;
    const qint64 size = (end < 0 ? line : line.first(end)).trimmed().toLongLong(&ok, 16);
    if (!ok || size < 0) {
        m_state = State::Failed;
        return;
    }
    m_remaining = size;
    m_state = size == 0 ? State::Trailers : State::Body;
}

void HttpAnswerReader::keep(QByteArrayView bytes)
{
    const qsizetype room = qsizetype(std::max<qint64>(0, m_limit - m_body.size()));
    m_body += bytes.first(std::min(room, bytes.size()));
    if (bytes.size() > room) {
        m_cutShort = true;
        m_state = State::Done;
    }
}
