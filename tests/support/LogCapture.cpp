#include "LogCapture.h"

#include <QMutexLocker>
#include <atomic>

namespace testsupport {

namespace {
std::atomic<LogCapture *> s_active{nullptr};
}

LogCapture::LogCapture()
{
    LogCapture *expected = nullptr;
    const bool installed = s_active.compare_exchange_strong(expected, this);
    Q_ASSERT_X(installed, "LogCapture", "only one capture may be alive");
    Q_UNUSED(installed);
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_active.store(nullptr);
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *self = s_active.load();
    if (!self)
        return;
    {
        QMutexLocker lock(&self->m_mutex);
        self->m_lines.append({type, QString::fromUtf8(context.category ? context.category : "default"), message});
    }
    if (self->m_previous)
        self->m_previous(type, context, message);
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

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

} // namespace testsupport
