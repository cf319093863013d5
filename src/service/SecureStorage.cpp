#include "SecureStorage.h"

#include "platform/AtomicFile.h"
#include "ServiceLogging.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

QString keyOf(const QString &path)
{
    return QFileInfo(path).fileName().mid(1);
}

} // namespace

SecureStorage::SecureStorage(QString directory, std::chrono::milliseconds firstRetry)
    : m_directory(std::move(directory))
    , m_writes(std::make_shared<RetriedFileWrites>(
          [](const QString &path, const QString &error) {
              qCCritical(lcStorage, "Failed to write %s: %s", qUtf8Printable(keyOf(path)), qUtf8Printable(error));
          },
          nullptr, firstRetry))
{
}

QString SecureStorage::filePath(const QString &key) const
{
    return m_directory + QStringLiteral("/.") + key;
}

std::optional<QString> SecureStorage::read(const QString &key) const
{
    const QString path = filePath(key);
    if (const std::optional<QByteArray> unwritten = m_writes->pendingBytes(path))
        return QString::fromUtf8(*unwritten);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;

    QFile file(path);
    if (info.isDir()) {
        qCCritical(lcStorage, "Failed to read %s: %s", qUtf8Printable(key), "the path is a folder, not a file");
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::OpenError && !QFileInfo::exists(path))
            return std::nullopt; // vanished in between, or a dangling link: the same as absent
        qCCritical(lcStorage, "Failed to read %s: %s", qUtf8Printable(key), qUtf8Printable(file.errorString()));
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        qCCritical(lcStorage, "Failed to read %s: %s", qUtf8Printable(key), qUtf8Printable(file.errorString()));
        return std::nullopt;
    }

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        qCCritical(lcStorage, "Failed to read %s: %s", qUtf8Printable(key), "the file is not valid UTF-8 text");
        return std::nullopt;
    }
    return text;
}

void SecureStorage::write(const QString &key, const QString &value) const
{
    m_writes->write(filePath(key), value.toUtf8());
}

QStringList SecureStorage::retryNow() const
{
    QStringList keys;
    for (const QString &path : m_writes->retryNow())
        keys.append(keyOf(path));
    return keys;
}

void SecureStorage::remove(const QString &key) const
{
    const QString path = filePath(key);
    m_writes->forget(path);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(path);
    if (info.isDir() || !file.remove()) {
        const QString reason = info.isDir() ? QStringLiteral("the path is a folder, not a file") : file.errorString();
        qCCritical(lcStorage, "Failed to delete %s: %s", qUtf8Printable(key), qUtf8Printable(reason));
    }
}
