#include "TempTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {

void fail(const QString &what)
{
    throw std::runtime_error(what.toStdString());
}

void makeParent(const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        fail(QStringLiteral("cannot create the folder of %1").arg(path));
}

} // namespace

TempTree::TempTree() = default;

TempTree::~TempTree()
{
    // By the bytes of the names: QTemporaryDir's own removal gives up on names that are not valid UTF-8.
    if (!m_dir.isValid())
        return;
    std::error_code error;
    std::filesystem::remove_all(QFile::encodeName(m_dir.path()).toStdString(), error);
}

QString TempTree::addFile(const QString &relative, qint64 size, std::optional<double> unixMtime)
{
    const QString full = path(relative);
    makeParent(full);
    QFile file(full);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        fail(QStringLiteral("cannot write %1: %2").arg(full, file.errorString()));
    file.close();
    if (unixMtime)
        setMtime(full, *unixMtime);
    return full;
}

QString TempTree::addDir(const QString &relative)
{
    const QString full = path(relative);
    if (!QDir().mkpath(full))
        fail(QStringLiteral("cannot create %1").arg(full));
    return full;
}

QString TempTree::addSymlink(const QString &relative, const QString &target)
{
    const QString full = path(relative);
    makeParent(full);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(full).constData()) != 0)
        fail(QStringLiteral("cannot link %1").arg(full));
    return full;
}

QString TempTree::addFifo(const QString &relative)
{
    const QString full = path(relative);
    makeParent(full);
    if (::mkfifo(QFile::encodeName(full).constData(), 0600) != 0)
        fail(QStringLiteral("cannot make the FIFO %1").arg(full));
    return full;
}

// Relative to the folder's descriptor: the name may make a path longer than the system allows.
QByteArray TempTree::addRawFile(const QString &folderRelative, const QByteArray &name, qint64 size)
{
    const QByteArray folder = QFile::encodeName(addDir(folderRelative));
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int fd = dir < 0 ? -1 : ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::ftruncate(fd, size) == 0;
    if (fd >= 0)
        ::close(fd);
    if (dir >= 0)
        ::close(dir);
    if (!written)
        fail(QStringLiteral("cannot write a raw-named file"));
    return folder + '/' + name;
}

QByteArray TempTree::addRawDir(const QString &folderRelative, const QByteArray &name)
{
    const QByteArray folder = QFile::encodeName(addDir(folderRelative));
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool made = dir >= 0 && ::mkdirat(dir, name.constData(), 0755) == 0;
    if (dir >= 0)
        ::close(dir);
    if (!made)
        fail(QStringLiteral("cannot create a raw-named folder"));
    return folder + '/' + name;
}

void TempTree::setMtime(const QString &path, double unixSeconds)
{
    const double whole = std::floor(unixSeconds);
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(whole);
    times[1].tv_nsec = static_cast<long>(std::llround((unixSeconds - whole) * 1e9));
    if (times[1].tv_nsec >= 1000000000L) {
        times[1].tv_sec += 1;
        times[1].tv_nsec -= 1000000000L;
    }
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        fail(QStringLiteral("cannot set the time of %1").arg(path));
}

bool TempTree::remove(const QString &path)
{
    return QFile::remove(path);
}

} // namespace testsupport
