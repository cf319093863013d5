#pragma once

#include "platform/AtomicFile.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

// Text values kept as plain UTF-8 files named "." + key in one folder. Never throws: failures are logged and read
// as absent values. Files are written atomically and readable by their owner only; a write that fails (a full disk)
// leaves the old file as it was and is tried again until it succeeds, a newer write or a removal comes first.
// Copies share those retries. Lives on one thread.
class SecureStorage
{
public:
    // firstRetry: the first back-off after a failed write (tests make it long).
    explicit SecureStorage(QString directory, std::chrono::milliseconds firstRetry = RetriedFileWrites::firstRetry);

    const QString &directory() const { return m_directory; }

    std::optional<QString> read(const QString &key) const;
    void write(const QString &key, const QString &value) const;
    void remove(const QString &key) const;
    // Tries every write still waiting for its retry now (at the end of the process); returns the keys still not
    // written.
    QStringList retryNow() const;

    QString filePath(const QString &key) const;

private:
    QString m_directory;
    std::shared_ptr<RetriedFileWrites> m_writes;
};
