#include "SingleSendBody.h"

#include <cstring>

SingleSendBody::SingleSendBody(QByteArray data, QObject *parent)
    : QIODevice(parent)
    , m_data(std::move(data))
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool SingleSendBody::seek(qint64 position)
{
    if (position < m_position && m_started)
        return false;
    if (position < 0 || position > m_data.size() || !QIODevice::seek(position))
        return false;
    m_position = position;
    return true;
}

bool SingleSendBody::reset()
{
    return seek(0);
}

qint64 SingleSendBody::readData(char *data, qint64 maxSize)
{
    const qint64 count = std::min(maxSize, qint64(m_data.size()) - m_position);
    if (count <= 0)
        return 0;
    std::memcpy(data, m_data.constData() + m_position, size_t(count));
    m_position += count;
    m_started = true;
    return count;
}

qint64 SingleSendBody::writeData(const char *, qint64)
{
    return -1;
}
