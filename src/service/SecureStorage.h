#pragma once

#include <QString>

#include <memory>
#include <optional>

class RetriedFileWrites;

// Text values kept as plain UTF-8 files named "." + key in one folder. Never throws: failures are logged and read
// as absent values. Files are written atomically and readable by their owner only; a write that fails (a full disk)
// leaves the old file as it was and is tried again until it succeeds, a newer write or a removal comes first.
// Copies share those retries. Lives on one thread.
class SecureStorage
{
public:
    explicit SecureStorage(QString directory);

    const QString &directory() const { return m_directory; }

    std::optional<QString> read(const QString &key) const;
    void write(const QString &key, const QString &value) const;
    void remove(const QString &key) const;

    QString filePath(const QString &key) const;

private:
    QString m_directory;
    std::shared_ptr<RetriedFileWrites> m_writes;
};
