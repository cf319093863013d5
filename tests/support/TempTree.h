#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace testsupport {

// A real temporary folder tree for engine tests: files of given sizes (sparse, so large sizes cost nothing) and
// modification times, folders, links, FIFOs and names in raw bytes. Removed with everything in it at the end.
class TempTree
{
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree &) = delete;
    TempTree &operator=(const TempTree &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString path(const QString &relative) const { return root() + QLatin1Char('/') + relative; }

    // Creates missing parent folders. mtime is seconds since 1970 with nanoseconds; absent leaves "now".
    QString addFile(const QString &relative, qint64 size = 0, std::optional<double> unixMtime = std::nullopt);
    QString addDir(const QString &relative);
    QString addSymlink(const QString &relative, const QString &target);
    QString addFifo(const QString &relative);
    // A file or folder whose name is given as bytes (say, not valid UTF-8), in a folder made when missing; made
    // through the folder's descriptor, so the whole path may be longer than the system allows.
    QByteArray addRawFile(const QString &folderRelative, const QByteArray &name, qint64 size = 0);
    QByteArray addRawDir(const QString &folderRelative, const QByteArray &name);

    static void setMtime(const QString &path, double unixSeconds);
    static bool remove(const QString &path);

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport
