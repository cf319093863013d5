#pragma once

#include <QString>

#include <stdexcept>

// A failure of a desktop service (D-Bus, file system) with the service's own text.
class PlatformError : public std::runtime_error
{
public:
    explicit PlatformError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString localizedDescription() const { return m_message; }

private:
    QString m_message;
};
