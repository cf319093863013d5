#include "LogCapture.h"

#include <QMutexLocker>

namespace testsupport {

namespace {
// Guards the active capture: a thread may be inside the handler while the capture is destroyed.
QBasicMutex s_activeMutex;
LogCapture *s_active = nullptr;
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&s_activeMutex);
    Q_ASSERT_X(!s_active, "LogCapture", "only one capture may be alive");
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&s_activeMutex);
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler previous = nullptr;
    {
        QMutexLocker lock(&s_activeMutex);
        if (!s_active)
            return;
        QMutexLocker linesLock(&s_active->m_mutex);
        s_active->m_lines.append({type, QString::fromUtf8(context.category ? context.category : "default"), message});
        previous = s_active->m_previous;
    }
    if (previous)
        previous(type, context, message);
}

QList<LogLine> LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QList<LogLine> LogCapture::lines(const QString &category) const
{
    QMutexLocker lock(&m_mutex);
    QList<LogLine> result;
    for (const LogLine &line : m_lines) {
        if (category.isEmpty() || line.category == category)
            result.append(line);
    }
    return result;
}

int LogCapture::count(const QString &category, const QString &text) const
{
    int n = 0;
    for (const LogLine &line : lines(category)) {
        if (line.message.contains(text))
            ++n;
    }
    return n;
}

} // namespace testsupport
