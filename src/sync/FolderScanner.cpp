#include "FolderScanner.h"

#include "SyncLogging.h"
#include "UnicodeNames.h"

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QVarLengthArray>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using unicodenames::canonical;

namespace {

QString lastComponent(const QString &path)
{
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(QLatin1Char('/')))
        view.chop(1);
    const auto slash = view.lastIndexOf(QLatin1Char('/'));
    return (slash < 0 ? view : view.mid(slash + 1)).toString();
}

QString joinPath(const QString &directory, const QString &name)
{
    return directory.endsWith(QLatin1Char('/')) ? directory + name : directory + QLatin1Char('/') + name;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isAscii(std::string_view bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

unsigned char highestByte(std::string_view bytes)
{
    unsigned char highest = 0;
    for (const char c : bytes)
        highest = std::max(highest, static_cast<unsigned char>(c));
    return highest;
}

bool isValidUtf8(std::string_view bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    return !decoder.hasError();
}

// A name in valid UTF-8 with no byte from 0xCC up has no code point from U+0300 up: it is its own canonical form.
constexpr unsigned char firstByteOfDecomposable = 0xCC;

QString fromValidUtf8(std::string_view bytes, bool ascii)
{
    return ascii ? QString::fromLatin1(bytes.data(), qsizetype(bytes.size()))
                 : QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// The image test on the raw name, without building a string for names that are no image.
bool isImageName(std::string_view bytes)
{
    const auto dot = bytes.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view extension = bytes.substr(dot + 1);
    if (!isAscii(extension))
        return isImageFileName(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
    QVarLengthArray<char16_t, 16> wide(qsizetype(extension.size()));
    std::copy(extension.cbegin(), extension.cend(), wide.begin());
    return isImageExtension(QStringView(wide.constData(), wide.size()));
}

LocalFileMeta metaFromStatx(const struct statx &st)
{
    LocalFileMeta meta;
    if (st.stx_mask & STATX_SIZE)
        meta.size = static_cast<qint64>(st.stx_size);
    if (st.stx_mask & STATX_MTIME)
        meta.mtime = referencedate::fromUnix(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    return meta;
}

constexpr unsigned int statxMask = STATX_TYPE | STATX_SIZE | STATX_MTIME;

struct Image {
    QString name;
    LocalFileMeta meta;
};

struct Listing {
    std::vector<QString> subdirectories; // in listing order
    std::vector<Image> images;           // in scalar order of their names
    SkippedEntries skipped;              // subdirectories, and images when asked for
};

// The extension test on the raw name: an image whose name cannot be decoded is still known as an image.
bool hasImageExtension(const char *rawName)
{
    const char *dot = std::strrchr(rawName, '.');
    return dot && isImageExtension(QString::fromLatin1(dot + 1));
}

std::mutex unreadableMutex;
QSet<QString> unreadableForTesting;

bool failsAsUnreadable(const QString &path)
{
    const std::lock_guard lock(unreadableMutex);
    return !unreadableForTesting.isEmpty() && unreadableForTesting.contains(path);
}

// An image of the directory being read: its name and its sort key as spans of the listing's byte store.
struct ListedImage {
    qsizetype name;
    qsizetype nameSize;
    qsizetype key; // the UTF-8 of the name's canonical form, whose byte order is the scalar order
    qsizetype keySize;
    bool ascii;
    LocalFileMeta meta;
};

// Reads one directory once: its visible subdirectories and, when asked, its regular image files with their
// size and time. Returns false with errno's text when the directory cannot be opened; `gone` tells a directory
// that vanished (or is no directory any more) from one that is there but cannot be read.
bool readDirectory(const QString &path, bool followLink, bool wantImages, Listing &listing, QString &error,
                   bool *gone = nullptr)
{
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (!followLink)
        flags |= O_NOFOLLOW;
    const QByteArray encodedPath = QFile::encodeName(path);
    const int fd = failsAsUnreadable(path) ? (errno = EACCES, -1) : ::open(encodedPath.constData(), flags);
    if (fd < 0) {
        if (gone)
            *gone = errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
        error = errnoText(errno);
        return false;
    }
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        error = errnoText(errno);
        ::close(fd);
        return false;
    }
    const qsizetype pathBytes = encodedPath.size();
    // Image names stay bytes until they are sorted: one string per image, built in its final place.
    std::string bytes;
    std::vector<ListedImage> images;
    while (const dirent *entry = ::readdir(dir)) {
        const char *rawName = entry->d_name;
        if (rawName[0] == '.') // hidden, and "." and ".."
            continue;
        unsigned char type = entry->d_type;
        struct statx st;
        bool statted = false;
        if (type == DT_UNKNOWN) {
            // Network mounts, FUSE and older XFS leave the type out of the listing: ask the entry itself, once
            // for its type and, for an image, its size and time.
            if (::statx(fd, rawName, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, statxMask, &st) != 0
                || !(st.stx_mask & STATX_TYPE))
                continue;
            type = S_ISDIR(st.stx_mode) ? DT_DIR : S_ISREG(st.stx_mode) ? DT_REG : DT_LNK;
            statted = true;
        }
        if (type != DT_DIR && !(wantImages && type == DT_REG))
            continue;
        const std::string_view name(rawName);
        const unsigned char highest = highestByte(name);
        const bool ascii = highest < 0x80;
        // Only subfolders and images count as skipped; the extension test runs only for the rare skipped name.
        const auto counts = [type, rawName] { return type == DT_DIR || hasImageExtension(rawName); };
        if (!ascii && !isValidUtf8(name)) {
            qCWarning(lcSync, "Skipping an entry of %s whose name is not valid UTF-8: %s",
                      qUtf8Printable(lastComponent(path)), qUtf8Printable(QString::fromUtf8(rawName)));
            listing.skipped.invalidNames += counts() ? 1 : 0;
            continue;
        }
        if (pathBytes + 1 + qsizetype(name.size()) >= PATH_MAX && counts()) {
            qCWarning(lcSync, "Skipping %s in %s: its path is longer than the system allows", rawName,
                      qUtf8Printable(lastComponent(path)));
            ++listing.skipped.tooLongPaths;
            continue;
        }
        if (type == DT_DIR) {
            listing.subdirectories.push_back(fromValidUtf8(name, ascii));
            continue;
        }
        if (!isImageName(name))
            continue;
        LocalFileMeta meta;
        if (!statted && ::statx(fd, rawName, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, statxMask, &st) != 0) {
            const int statError = errno;
            // The listing said regular file; it vanished or is unreadable since: keep it without metadata.
            qCDebug(lcSync, "Skip metadata for %s: %s", rawName, qUtf8Printable(errnoText(statError)));
        } else if ((st.stx_mask & STATX_TYPE) && S_ISDIR(st.stx_mode)) {
            listing.subdirectories.push_back(fromValidUtf8(name, ascii));
            continue;
        } else if ((st.stx_mask & STATX_TYPE) && !S_ISREG(st.stx_mode)) {
            continue;
        } else {
            meta = metaFromStatx(st);
        }
        ListedImage image{qsizetype(bytes.size()), qsizetype(name.size()), qsizetype(bytes.size()),
                          qsizetype(name.size()), ascii, meta};
        bytes.append(name);
        if (highest >= firstByteOfDecomposable) {
            const QByteArray key = canonical(fromValidUtf8(name, false)).toUtf8();
            image.key = qsizetype(bytes.size());
            image.keySize = key.size();
            bytes.append(key.constData(), size_t(key.size()));
        }
        images.push_back(image);
    }
    ::closedir(dir);

    // Camera names differ within their first eight bytes: those decide most comparisons as one integer.
    struct SortKey {
        quint64 prefix;
        std::string_view key;
        const ListedImage *image;
    };
    std::vector<SortKey> order;
    order.reserve(images.size());
    for (const ListedImage &image : images) {
        const std::string_view key = std::string_view(bytes).substr(size_t(image.key), size_t(image.keySize));
        uchar head[8] = {}; // names hold no zero byte, so a short name's padding sorts it first as it should
        std::memcpy(head, key.data(), std::min(key.size(), sizeof head));
        order.push_back({qFromBigEndian<quint64>(head), key, &image});
    }
    std::stable_sort(order.begin(), order.end(), [](const SortKey &a, const SortKey &b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.key < b.key;
    });
    listing.images.reserve(images.size());
    for (const SortKey &sorted : order) {
        const ListedImage &image = *sorted.image;
        const std::string_view name = std::string_view(bytes).substr(size_t(image.name), size_t(image.nameSize));
        listing.images.push_back({fromValidUtf8(name, image.ascii), image.meta});
    }
    return true;
}

struct TreeWalker {
    const QSet<QString> &ignoredPaths;
    QList<SyncFolder> &result;
    QStringList *unreadable;

    void walk(const QString &directory, const QStringList &parentComponents, bool isExportFolder,
              bool quietIfGone = false)
    {
        Listing listing;
        QString error;
        bool gone = false;
        // Images lying directly in the export folder belong to no gallery: they are not even stat'ed.
        if (!readDirectory(directory, isExportFolder, !isExportFolder, listing, error, &gone)) {
            if (gone && quietIfGone)
                return;
            qCCritical(lcSync, "Failed to scan directory %s: %s", qUtf8Printable(lastComponent(directory)),
                       qUtf8Printable(error));
            if (unreadable && !gone)
                unreadable->append(directory);
            return;
        }
        if (!isExportFolder && !listing.images.empty())
            appendFolder(directory, parentComponents, listing);

        QStringList components = parentComponents;
        if (!isExportFolder)
            components.append(lastComponent(directory));
        for (const QString &name : listing.subdirectories)
            walkChild(joinPath(directory, name), components);
    }

    void walkChild(const QString &directory, const QStringList &parentComponents)
    {
        walk(directory, parentComponents, false);
    }

    void appendFolder(const QString &directory, const QStringList &parentComponents, const Listing &listing)
    {
        SyncFolder folder;
        folder.path = directory;
        folder.name = lastComponent(directory);
        folder.displayName = unicodenames::displayName(folder.name);
        folder.relativePath = parentComponents.isEmpty()
            ? folder.name
            : parentComponents.join(QLatin1Char('/')) + QLatin1Char('/') + folder.name;
        folder.parentComponents = parentComponents;
        folder.imageCount = qint64(listing.images.size());
        folder.status = ignoredPaths.contains(directory) ? SyncStatus::ignored()
                                                                        : SyncStatus::notSynced();
        LocalFiles::Entries files;
        files.reserve(qsizetype(listing.images.size()));
        for (const Image &image : listing.images)
            files.append({image.name, image.meta});
        folder.cachedLocalFileMeta = LocalFiles(std::move(files));
        folder.skippedEntries = listing.skipped;
        result.append(std::move(folder));
    }
};

// A relative path's parent components and its own name.
std::pair<QStringList, QString> splitRelative(const QString &relative)
{
    QStringList components = relative.split(QLatin1Char('/'));
    QString name = components.takeLast();
    return {components, name};
}

QCollator folderCollator()
{
    // The C locale has no natural order for digits; English stands in for it.
    QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

void FolderScanner::setUnreadableForTesting(const QSet<QString> &paths)
{
    const std::lock_guard lock(unreadableMutex);
    unreadableForTesting = paths;
}

void FolderScanner::scanDirectory(const QString &directory, const QStringList &parentComponents,
                                  const QSet<QString> &ignoredPaths, QList<SyncFolder> &result,
                                  QStringList *unreadable)
{
    TreeWalker walker{ignoredPaths, result, unreadable};
    Listing listing;
    QString error;
    if (!readDirectory(directory, true, false, listing, error)) {
        qCCritical(lcSync, "Failed to scan directory %s: %s", qUtf8Printable(lastComponent(directory)),
                   qUtf8Printable(error));
        return;
    }
    for (const QString &name : listing.subdirectories)
        walker.walkChild(joinPath(directory, name), parentComponents);
}

QList<SyncFolder> FolderScanner::scanFolderTree(const QString &exportFolder, const QSet<QString> &ignoredPaths,
                                                QStringList *unreadable)
{
    qCDebug(lcSync, "Scanning the whole tree of %s", qUtf8Printable(lastComponent(exportFolder)));
    QList<SyncFolder> folders;
    scanDirectory(exportFolder, {}, ignoredPaths, folders, unreadable);
    return sortedByRelativePath(std::move(folders));
}

QList<SyncFolder> FolderScanner::sortedByRelativePath(QList<SyncFolder> folders)
{
    const QCollator collator = folderCollator();
    std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
    keys.reserve(folders.size());
    for (qsizetype i = 0; i < folders.size(); ++i)
        keys.emplace_back(collator.sortKey(folders.at(i).relativePath), i);
    // Paths the collator finds equal ("a" and "A") are ordered by their code points, never by the order the
    // directory happened to list them in: which of two look-alike folders links first must not vary.
    std::stable_sort(keys.begin(), keys.end(), [&folders](const auto &a, const auto &b) {
        const int order = a.first.compare(b.first);
        if (order != 0)
            return order < 0;
        return unicodenames::scalarLess(folders.at(a.second).relativePath, folders.at(b.second).relativePath);
    });
    QList<SyncFolder> sorted;
    sorted.reserve(folders.size());
    for (const auto &key : keys)
        sorted.append(std::move(folders[key.second]));
    return sorted;
}

QList<SyncFolder> FolderScanner::scanScope(const QString &exportFolder, const RefreshScope &scope,
                                           const QSet<QString> &ignoredPaths, QStringList *unreadable)
{
    if (scope.isEverything())
        return scanFolderTree(exportFolder, ignoredPaths, unreadable);

    const QSet<QString> &trees = scope.trees();
    QList<SyncFolder> found;
    TreeWalker walker{ignoredPaths, found, unreadable};
    for (const QString &tree : std::as_const(trees)) {
        if (scope.coversTree(tree.left(qMax(0, tree.lastIndexOf(QLatin1Char('/'))))))
            continue; // read with the tree above it
        walker.walk(joinPath(exportFolder, tree), splitRelative(tree).first, false, true);
    }
    for (const QString &folder : scope.folders()) {
        if (scope.coversTree(folder))
            continue;
        const QString directory = joinPath(exportFolder, folder);
        Listing listing;
        QString error;
        bool gone = false;
        if (!readDirectory(directory, false, true, listing, error, &gone)) {
            if (gone)
                continue;
            qCCritical(lcSync, "Failed to scan directory %s: %s", qUtf8Printable(lastComponent(directory)),
                       qUtf8Printable(error));
            if (unreadable)
                unreadable->append(directory);
            continue;
        }
        if (!listing.images.empty())
            walker.appendFolder(directory, splitRelative(folder).first, listing);
    }
    return sortedByRelativePath(std::move(found));
}

// A move the user has not acted on yet stays pending across later scans: without this, the next full scan (one
// starts whenever the overview window is shown) would find the folder "unchanged" at its new place and drop the
// move before the user could act on it. The move is moot once a folder stands at its old place again.
static void keepPendingMoves(QList<SyncFolder> &scanned, const QList<SyncFolder> &previous)
{
    QHash<QString, QString> pending; // path -> where the folder moved from
    for (const SyncFolder &folder : previous) {
        if (folder.movedFrom)
            pending.insert(folder.path, *folder.movedFrom);
    }
    if (pending.isEmpty())
        return;
    QSet<QString> scannedPlaces;
    for (const SyncFolder &folder : std::as_const(scanned))
        scannedPlaces.insert(folder.relativePath);
    for (SyncFolder &folder : scanned) {
        if (folder.movedFrom)
            continue;
        const auto source = pending.constFind(folder.path);
        if (source != pending.cend() && !scannedPlaces.contains(*source))
            folder.movedFrom = *source;
    }
}

void FolderScanner::detectMovedFolders(QList<SyncFolder> &scanned, const QList<SyncFolder> &previous)
{
    detectNewlyMovedFolders(scanned, previous);
    keepPendingMoves(scanned, previous);
}

void FolderScanner::detectNewlyMovedFolders(QList<SyncFolder> &scanned, const QList<SyncFolder> &previous)
{
    QHash<QString, QList<const SyncFolder *>> groups; // canonical display name -> synced folders, in order
    for (const SyncFolder &folder : previous) {
        if (folder.status.is(SyncStatus::Case::synced))
            groups[canonical(folder.displayName)].append(&folder);
    }
    if (groups.isEmpty())
        return;

    QSet<QString> unchangedPaths;
    QHash<QString, int> bearers;
    for (const SyncFolder &folder : scanned) {
        const QString key = canonical(folder.displayName);
        ++bearers[key];
        const auto group = groups.constFind(key);
        if (group == groups.cend())
            continue;
        for (const SyncFolder *old : *group) {
            if (old->path == folder.path) {
                unchangedPaths.insert(folder.path);
                break;
            }
        }
    }

    for (SyncFolder &folder : scanned) {
        const QString key = canonical(folder.displayName);
        const auto group = groups.constFind(key);
        if (group == groups.cend() || unchangedPaths.contains(folder.path) || bearers.value(key) != 1)
            continue;
        for (const SyncFolder *old : *group) {
            if (old->path != folder.path && !unchangedPaths.contains(old->path)) {
                folder.movedFrom = old->relativePath;
                break;
            }
        }
    }
}

QStringList FolderScanner::listImages(const QString &folder)
{
    Listing listing;
    QString error;
    if (!readDirectory(folder, true, true, listing, error)) {
        qCCritical(lcSync, "Failed to list images in %s: %s", qUtf8Printable(lastComponent(folder)),
                   qUtf8Printable(error));
        return {};
    }
    QStringList paths;
    paths.reserve(qsizetype(listing.images.size()));
    for (const Image &image : listing.images)
        paths.append(joinPath(folder, image.name));
    return paths;
}

FolderScanner::LocalImages FolderScanner::readLocalImages(const QString &folder)
{
    LocalImages local;
    Listing listing;
    QString error;
    if (!readDirectory(folder, true, true, listing, error)) {
        qCCritical(lcSync, "Failed to list images in %s: %s", qUtf8Printable(lastComponent(folder)),
                   qUtf8Printable(error));
        return local;
    }
    local.images.reserve(qsizetype(listing.images.size()));
    local.metadata.reserve(qsizetype(listing.images.size()));
    for (Image &image : listing.images) {
        local.images.append(joinPath(folder, image.name));
        local.metadata.insert(std::move(image.name), image.meta);
    }
    return local;
}

LocalFileMetaMap FolderScanner::localFileMetadata(const QStringList &images)
{
    LocalFileMetaMap result;
    result.reserve(images.size());
    for (const QString &image : images) {
        const QString name = lastComponent(image);
        struct statx st;
        if (::statx(AT_FDCWD, QFile::encodeName(image).constData(), AT_NO_AUTOMOUNT, statxMask, &st) != 0) {
            qCDebug(lcSync, "Skip metadata for %s: %s", qUtf8Printable(name), qUtf8Printable(errnoText(errno)));
            result.insert(name, LocalFileMeta{});
            continue;
        }
        result.insert(name, metaFromStatx(st));
    }
    return result;
}

QList<UploadedFileMeta> FolderScanner::uploadedMetaList(const QStringList &fileNames,
                                                        const LocalFileMetaMap &metadata)
{
    QList<UploadedFileMeta> result;
    result.reserve(fileNames.size());
    for (const QString &name : fileNames) {
        const auto found = metadata.constFind(name);
        if (found == metadata.cend())
            result.append(UploadedFileMeta{name, 0, std::nullopt});
        else
            result.append(UploadedFileMeta{found.key(), found->size, found->mtime}); // shares the cache's name
    }
    return result;
}

FolderScanner::FileChanges FolderScanner::detectModifiedFiles(const QStringList &images,
                                                              const LocalFileMetaMap &metadata,
                                                              const QList<UploadedFileMeta> &records)
{
    QHash<QString, const UploadedFileMeta *> recordByName;
    recordByName.reserve(records.size());
    for (const UploadedFileMeta &record : records)
    {
        const QString key = canonical(record.fileName);
        if (!recordByName.contains(key)) // the first record of a name counts
            recordByName.insert(key, &record);
    }

    FileChanges changes;
    QSet<QString> imageNames;
    imageNames.reserve(images.size());
    for (const QString &image : images) {
        const QString name = lastComponent(image);
        const QString key = canonical(name);
        imageNames.insert(key);
        const UploadedFileMeta *record = recordByName.value(key);
        if (!record) {
            changes.newImages.append(image);
            continue;
        }
        const auto local = metadata.constFind(name);
        if (local != metadata.cend() && isModified(*record, *local))
            changes.modifiedImages.append(image);
    }
    for (const UploadedFileMeta &record : records) {
        if (!imageNames.contains(canonical(record.fileName)))
            changes.removedNames.insert(record.fileName);
    }
    return changes;
}
