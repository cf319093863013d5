#pragma once

// A bare HTTP server on 127.0.0.1 that keeps each request's head exactly as it came over the wire (the stand-in's
// parser trims header values) and answers every request with one fixed status and "{}", or with bytes given as
// they are (an answer that is not HTTP at all), then closes. Serves on the thread that created it, so a test awaits
// its client there.

#include <QByteArrayList>
#include <QTcpServer>
#include <QUrl>

namespace testsupport {

class RawHttpRecorder
{
public:
    explicit RawHttpRecorder(int status = 200);
    explicit RawHttpRecorder(QByteArray rawAnswer);

    QUrl baseUrl() const;
    // The head of each request: request line and header lines, each ending in "\r\n".
    QByteArrayList heads() const { return m_heads; }
    // The header lines of the first request named `name` (case-insensitive), exactly as sent, with "\r\n".
    QByteArrayList headerLines(const QByteArray &name) const;

private:
    QTcpServer m_server;
    QByteArray m_answer;
    QByteArrayList m_heads;
};

} // namespace testsupport
