#pragma once

#include <QFile>

#include <memory>
#include <optional>

// The file an upload streams from. It is opened without following a symbolic link and must be a regular file: a
// file swapped for a link after it was listed would otherwise send whatever the link points at.
class UploadSource
{
public:
    // Throws FileAccessError when the path is no longer a regular file or its size differs from `declaredSize`.
    UploadSource(const QString &path, std::optional<qint64> declaredSize);

    qint64 size() const { return m_size; }
    // Hands the open file to the transfer; the check below still works on its descriptor.
    std::unique_ptr<QFile> takeFile() { return std::move(m_file); }

    // Throws FileAccessError when the file changed size while it was sent: the stored object is not the file.
    void checkUnchangedAfterSending() const;

private:
    QString m_path;
    int m_descriptor = -1; // owned by the QFile
    qint64 m_size = 0;
    std::unique_ptr<QFile> m_file;
};
