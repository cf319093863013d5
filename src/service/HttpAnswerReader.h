#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Reads an HTTP/1.1 answer as its bytes arrive: the status line, the headers, and a body framed by Content-Length,
// by chunks, or by the connection's close. Of the body only its start is kept; a body that goes on past that ends
// the answer there (cut short). Interim "100 Continue" answers are passed over.
class HttpAnswerReader
{
public:
    explicit HttpAnswerReader(qint64 keptBodyLimit);

    void read(QByteArrayView bytes);
    // The peer closed the connection: an answer whose body runs to the close is complete now.
    void closeReceived();

    bool receivedAny() const { return m_receivedAny; }
    bool started() const { return m_status.has_value(); } // a final status line arrived
    bool complete() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; } // not an HTTP answer
    std::optional<int> status() const { return m_headComplete ? m_status : std::nullopt; }
    QByteArray reasonPhrase() const { return m_reason; }
    const QByteArray &bodyStart() const { return m_body; }
    bool cutShort() const { return m_cutShort; }
    // The answer is whole and the server keeps the connection open for another request.
    bool leavesConnectionOpen() const
    {
        return complete() && !m_cutShort && m_http11 && !m_closes && !m_bodyToClose;
    }

private:
    enum class State { StatusLine, Headers, Body, ChunkSize, ChunkEnd, Trailers, Done, Failed };

    bool takeLine(QByteArrayView &bytes, QByteArray &line);
    void readStatusLine(const QByteArray &line);
    void readHeader(const QByteArray &line);
    void startBody();
    void readChunkSize(const QByteArray &line);
    void keep(QByteArrayView bytes);

    qint64 m_limit;
    State m_state = State::StatusLine;
    QByteArray m_line;
    bool m_receivedAny = false;
    bool m_interim = false;
    bool m_headComplete = false;
    std::optional<int> m_status;
    QByteArray m_reason;
    std::optional<qint64> m_contentLength;
    bool m_chunked = false;
    bool m_http11 = false;
    bool m_closes = false; // "Connection: close"
    bool m_bodyToClose = false;
    qint64 m_remaining = -1; // of the body or the current chunk; -1: to the close
    QByteArray m_body;
    bool m_cutShort = false;
};
