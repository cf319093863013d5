#include "ExportFolderBookmark.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

ExportFolderBookmark::ExportFolderBookmark(QString bookmarkFilePath)
    : m_filePath(std::move(bookmarkFilePath))
{
}

std::optional<QByteArray> ExportFolderBookmark::create(const QString &folderPath, QString *error)
{
    // QDir("") would mean the working directory: an empty path is no folder at all.
    if (folderPath.isEmpty() || !QDir::isAbsolutePath(folderPath)) {
        setError(error, QStringLiteral("Cannot create a bookmark for \"%1\": not an absolute path").arg(folderPath));
        return std::nullopt;
    }
    return QDir::cleanPath(folderPath).toUtf8();
}

std::optional<ExportFolderBookmark::Resolved> ExportFolderBookmark::resolve(const QByteArray &data, QString *error)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString path = decoder(data);
    if (decoder.hasError() || path.isEmpty() || !QDir::isAbsolutePath(path)) {
        setError(error, QStringLiteral("The bookmark data is not an absolute UTF-8 path"));
        return std::nullopt;
    }
    const QFileInfo info(path);
    if (!info.isDir()) {
        setError(error, QStringLiteral("The folder %1 no longer exists").arg(path));
        return std::nullopt;
    }
    const QString clean = QDir::cleanPath(path);
    return Resolved{clean, clean != path};
}

std::optional<QByteArray> ExportFolderBookmark::read(QString *error) const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("%1: %2").arg(m_filePath, file.errorString()));
        return std::nullopt;
    }
    return file.readAll();
}

bool ExportFolderBookmark::write(const QByteArray &data, QString *error) const
{
    return writeFileAtomically(m_filePath, data, error);
}
