#include "SecureStorage.h"

#include "ServiceLogging.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

SecureStorage::SecureStorage(QString directory)
    : m_directory(std::move(directory))
{
}

QString SecureStorage::filePath(const QString &key) const
{
    return m_directory + QStringLiteral("/.") + key;
}

std::optional<QString> SecureStorage::read(const QString &key) const
{
    const QString path = filePath(key);
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
    QSaveFile file(filePath(key));
    if (!file.open(QIODevice::WriteOnly)) {
        qCCritical(lcStorage, "Failed to write %s: %s", qUtf8Printable(key), qUtf8Printable(file.errorString()));
        return;
    }
    const QByteArray bytes = value.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        qCCritical(lcStorage, "Failed to write %s: %s", qUtf8Printable(key), qUtf8Printable(file.errorString()));
        file.cancelWriting();
        return;
    }
    // The token must stay private to its owner.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!file.commit())
        qCCritical(lcStorage, "Failed to write %s: %s", qUtf8Printable(key), qUtf8Printable(file.errorString()));
}

void SecureStorage::remove(const QString &key) const
{
    const QString path = filePath(key);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(path);
    if (info.isDir() || !file.remove()) {
        const QString reason = info.isDir() ? QStringLiteral("the path is a folder, not a file") : file.errorString();
        qCCritical(lcStorage, "Failed to delete %s: %s", qUtf8Printable(key), qUtf8Printable(reason));
    }
}
