#include "UploadSource.h"

#include "Errors.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

constexpr int kEndedEarly = -1;

// The file as a device that reads straight into the caller's buffer: the transport asks for large pieces.
class FileBody final : public QIODevice
{
public:
    FileBody(int descriptor, qint64 size, std::shared_ptr<std::atomic<int>> readFailure)
        : m_descriptor(descriptor)
        , m_size(size)
        , m_readFailure(std::move(readFailure))
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    ~FileBody() override { ::close(m_descriptor); }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 wanted = std::min(maxSize, m_size - pos()); // never past the size sent
        if (wanted <= 0)
            return 0;
        for (;;) {
            const ssize_t n = ::pread(m_descriptor, data, size_t(wanted), off_t(pos()));
            if (n > 0)
                return n;
            if (n == 0) {
                // Shorter than it was: an error ends the transfer now, where an empty read would wait for more.
                setErrorString(QStringLiteral("The file became shorter while it was sent."));
                m_readFailure->store(kEndedEarly);
                return -1;
            }
            if (const int error = errno; error != EINTR) {
                m_readFailure->store(error);
                setErrorString(systemText(error));
                return -1;
            }
        }
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const int m_descriptor;
    const qint64 m_size;
    const std::shared_ptr<std::atomic<int>> m_readFailure;
};

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
    struct stat info {};
    const int statError = ::fstat(m_descriptor, &info) == 0 ? 0 : errno;
    m_size = qint64(info.st_size);
    std::optional<QString> refusal;
    if (statError != 0)
        refusal = systemText(statError);
    else if (!S_ISREG(info.st_mode))
        refusal = QStringLiteral("The file “%1” is not a regular file.").arg(path);
    else if (declaredSize && *declaredSize != m_size)
        refusal = QStringLiteral("The file “%1” has %2 bytes, not the %3 it was described with.")
                      .arg(path)
                      .arg(m_size)
                      .arg(*declaredSize);
    if (refusal) {
        ::close(m_descriptor);
        throw FileAccessError(path, *refusal);
    }
}

UploadSource::~UploadSource()
{
    ::close(m_descriptor);
}

std::unique_ptr<QIODevice> UploadSource::body() const
{
    const int descriptor = ::fcntl(m_descriptor, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0)
        throw FileAccessError(m_path, systemText(errno));
    return std::make_unique<FileBody>(descriptor, m_size, m_readFailure);
}

void UploadSource::checkUnchangedAfterSending() const
{
    if (const int failure = m_readFailure->load(); failure == kEndedEarly)
        throw FileAccessError(m_path, QStringLiteral("The file “%1” became shorter while it was sent.").arg(m_path));
    else if (failure != 0)
        throw FileAccessError(m_path, QStringLiteral("The file “%1” could not be read while it was sent: %2")
                                          .arg(m_path, systemText(failure)));
    struct stat info {};
    if (::fstat(m_descriptor, &info) != 0)
        throw FileAccessError(m_path, systemText(errno));
    if (qint64(info.st_size) != m_size)
        throw FileAccessError(m_path, QStringLiteral("The file “%1” changed size while it was sent.").arg(m_path));
}
