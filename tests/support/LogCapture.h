#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QtGlobal>

namespace testsupport {

// One log line as the code under test wrote it.
struct LogLine {
    QtMsgType type;
    QString category;
    QString message;
};

// Captures every log line while alive (from any thread) and still passes it on to the previous handler.
// Only one capture may be alive at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<LogLine> lines() const;
    // Lines of one category ("no.varnostima.mac.API"); an empty category matches all.
    QList<LogLine> lines(const QString &category) const;
    // How many lines of the category contain the text.
    int count(const QString &category, const QString &contains) const;
    bool contains(const QString &category, const QString &contains) const { return count(category, contains) > 0; }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex m_mutex;
    QList<LogLine> m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace testsupport
