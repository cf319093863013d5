#include "UploadSource.h"

#include "Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

UploadSource::UploadSource(const QString &path, std::optional<qint64> declaredSize)
    : m_path(path)
{
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO put in its place must not hang the open; a regular file ignores it.
    m_descriptor = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (m_descriptor < 0) {
        const int error = errno;
        if (error == ELOOP)
            throw FileAccessError(path, QStringLiteral("The file “%1” is a symbolic link.").arg(path));
        throw FileAccessError(path, systemText(error));
    }
    m_file = std::make_unique<QFile>();
    if (!m_file->open(m_descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(m_descriptor);
        throw FileAccessError(path, m_file->errorString());
    }
    struct stat info {};
    if (::fstat(m_descriptor, &info) != 0)
        throw FileAccessError(path, systemText(errno));
    if (!S_ISREG(info.st_mode))
        throw FileAccessError(path, QStringLiteral("The file “%1” is not a regular file.").arg(path));
    m_size = qint64(info.st_size);
    if (declaredSize && *declaredSize != m_size)
        throw FileAccessError(path, QStringLiteral("The file “%1” has %2 bytes, not the %3 it was described with.")
                                        .arg(path)
                                        .arg(m_size)
                                        .arg(*declaredSize));
}

void UploadSource::checkUnchangedAfterSending() const
{
    struct stat info {};
    if (::fstat(m_descriptor, &info) != 0)
        throw FileAccessError(m_path, systemText(errno));
    if (qint64(info.st_size) != m_size)
        throw FileAccessError(m_path, QStringLiteral("The file “%1” changed size while it was sent.").arg(m_path));
}
