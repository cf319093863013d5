#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The saved reference to the export folder the user chose ("watch-folder.bookmark"). On Linux the data is the
// folder's absolute path as UTF-8, with no header; resolving it yields that path. A folder that no longer exists
// is a bookmark that cannot be resolved. Every failure comes back as text for the caller's log.
class ExportFolderBookmark
{
public:
    struct Resolved {
        QString path;
        // The data is not in the form this system writes (say, "/a//b/"): the caller should save a fresh bookmark.
        bool isStale = false;
    };

    explicit ExportFolderBookmark(QString bookmarkFilePath);

    const QString &filePath() const { return m_filePath; }

    // The data for a folder: its absolute, cleaned path. Fails for an empty or relative path.
    static std::optional<QByteArray> create(const QString &folderPath, QString *error);
    static std::optional<Resolved> resolve(const QByteArray &data, QString *error);

    // The file's bytes as they stand; fails when it is missing or unreadable.
    std::optional<QByteArray> read(QString *error) const;
    // Replaces the file atomically.
    bool write(const QByteArray &data, QString *error) const;

private:
    QString m_filePath;
};
