#pragma once

// Turns the export folder's tree into gallery folders, and reads what the engine knows of local images.
// Every function here works only on its arguments and the file system, so it may run on any thread; none throws.
//
// Walking rules: each directory is read once and each image is stat'ed once. Hidden entries (a leading dot) are
// skipped at every level. Symbolic links are never followed below the export folder, so a link loop cannot
// recurse. Only regular files are images: a directory, FIFO or socket named "x.jpg" is not.
// A name that is not valid UTF-8 cannot be represented without loss, so that entry (and, for a directory, what
// lies below it) is skipped with a warning in the log rather than shown under a mangled name; so is an entry whose
// path is longer than the system allows, which nothing could open by its path. A gallery folder counts the images
// and subfolders it skipped, for the user to see.

#include "RefreshScope.h"
#include "SyncFolder.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class FolderScanner
{
public:
    FolderScanner() = delete;

    // Appends a folder for every directory below `directory` that directly holds an image, depth first. The
    // directories below it that exist but cannot be read go to `unreadable` when given: what lies in them is
    // unknown, not gone.
    static void scanDirectory(const QString &directory, const QStringList &parentComponents,
                              const QSet<QString> &ignoredPaths, QList<SyncFolder> &result,
                              QStringList *unreadable = nullptr);

    // The gallery folders of the export folder, ordered by relative path the way a file browser orders names
    // (case-insensitive, digit runs by value); paths equal in that order go by code point.
    static QList<SyncFolder> scanFolderTree(const QString &exportFolder, const QSet<QString> &ignoredPaths,
                                            QStringList *unreadable = nullptr);

    // Reads only what the scope names: the folders of each tree and each named folder that holds images, ordered
    // as scanFolderTree orders them. Together with the entries the scope does not cover, this is what
    // scanFolderTree would find. A named path that is gone gives nothing, silently.
    static QList<SyncFolder> scanScope(const QString &exportFolder, const RefreshScope &scope,
                                       const QSet<QString> &ignoredPaths, QStringList *unreadable = nullptr);

    // Test seam: opening these directories fails as if they could not be read (tests run as root, who reads all).
    static void setUnreadableForTesting(const QSet<QString> &paths);

    // Marks with movedFrom each scanned folder that was synced under the same display name at another place, and
    // keeps the movedFrom of a folder whose move is still pending in the previous list.
    static void detectMovedFolders(QList<SyncFolder> &scanned, const QList<SyncFolder> &previous);

private:
    static QList<SyncFolder> sortedByRelativePath(QList<SyncFolder> folders);
    static void detectNewlyMovedFolders(QList<SyncFolder> &scanned, const QList<SyncFolder> &previous);

public:
    // Absolute paths of a folder's images (not descending), ordered by file name in scalar order.
    static QStringList listImages(const QString &folder);
    static QStringList listImagesDetached(const QString &folder) { return listImages(folder); }

    // File name to size and modification time; an image whose metadata cannot be read gets size 0, no time.
    static LocalFileMetaMap localFileMetadata(const QStringList &images);

    // A folder's images with their metadata: what the first sync and the update read off the UI thread.
    struct LocalImages {
        QStringList images;
        LocalFileMetaMap metadata;
    };
    // One reading of the folder: each image's metadata comes from the listing's own stat of it.
    static LocalImages readLocalImages(const QString &folder);

    // Upload records for the given names, in their order, from the local metadata.
    static QList<UploadedFileMeta> uploadedMetaList(const QStringList &fileNames, const LocalFileMetaMap &metadata);

    struct FileChanges {
        QStringList newImages;      // in the order of the images
        QStringList modifiedImages; // in the order of the images
        QSet<QString> removedNames; // record names with no image
    };
    static FileChanges detectModifiedFiles(const QStringList &images, const LocalFileMetaMap &metadata,
                                           const QList<UploadedFileMeta> &records);
};
