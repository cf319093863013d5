#pragma once

#include <QIODevice>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

// The file an upload streams from. It is opened without following a symbolic link and must be a regular file: a
// file swapped for a link after it was listed would otherwise send whatever the link points at.
class UploadSource
{
public:
    // Throws FileAccessError when the path is no longer a regular file or its size differs from `declaredSize`.
    UploadSource(const QString &path, std::optional<qint64> declaredSize);
    ~UploadSource();

    UploadSource(const UploadSource &) = delete;
    UploadSource &operator=(const UploadSource &) = delete;

    qint64 size() const { return m_size; }
    // The body of the transfer: the open file, read in large pieces, that seeks back to its start when the request
    // is sent again. It holds a descriptor of its own, so it may outlive this object and live on another thread.
    std::unique_ptr<QIODevice> body() const;

    // Throws FileAccessError when the file changed size while it was sent, or a body could not read it: the stored
    // object is not the file. After a failed transfer, it tells a file's fault from the network's.
    void checkUnchangedAfterSending() const;

private:
    QString m_path;
    // 0, or why a body failed to read: an errno value, or -1 for a file that ended early. Set on the transport's
    // thread, read on the caller's after the transfer.
    std::shared_ptr<std::atomic<int>> m_readFailure = std::make_shared<std::atomic<int>>(0);
    int m_descriptor = -1;
    qint64 m_size = 0;
};
