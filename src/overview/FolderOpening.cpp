#include "FolderOpening.h"

#include "OverviewLogging.h"
#include "platform/UserDesktop.h"

#include <QDir>
#include <QUrl>

bool openFolderInFileManager(const SyncFolder &folder, const std::function<void(const QString &)> &reveal)
{
    if (folder.path.startsWith(kRemovedFolderPrefix)) {
        qCInfo(lcOverview, "Not opening %s: its local folder was removed", qUtf8Printable(folder.path));
        return false;
    }
    return openPathInFileManager(folder.path, reveal);
}

bool openPathInFileManager(const QString &path, const std::function<void(const QString &)> &reveal)
{
    if (!QDir::isAbsolutePath(path)) {
        qCWarning(lcOverview, "Not opening %s: not an absolute folder path", qUtf8Printable(path));
        return false;
    }
    if (reveal) {
        reveal(path);
        return true;
    }
    if (openInUserDesktop(QUrl::fromLocalFile(path)))
        return true;
    qCWarning(lcOverview, "Could not open %s in the file manager", qUtf8Printable(path));
    return false;
}
