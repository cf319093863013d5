#include "SyncErrors.h"

#include "IsolatedName.h"

SyncManagerError::SyncManagerError(int code, QString message, QString logText)
    : UserFacingError(std::move(message), std::move(logText))
    , m_code(code)
{
}

SyncManagerError SyncManagerError::unreadable(const QString &fileName)
{
    return SyncManagerError(unreadableFile, usertext::unreadableFile(unicodenames::isolated(fileName)),
                            QStringLiteral("%1 has no image type or its size cannot be read").arg(fileName));
}

SyncManagerError SyncManagerError::countMismatch(qsizetype received, qsizetype expected)
{
    return SyncManagerError(presignedCountMismatch,
                            QStringLiteral("Server-svar matchet ikke antall filer (%1/%2)")
                                .arg(qint64(received))
                                .arg(qint64(expected)),
                            QStringLiteral("the service answered with %1 presigned URLs for %2 files")
                                .arg(qint64(received))
                                .arg(qint64(expected)));
}

SyncManagerError SyncManagerError::unsaved()
{
    return SyncManagerError(notSaved, QStringLiteral("Klarte ikke å lagre på disken — prøver igjen senere"),
                            QStringLiteral("what must be on the disk before the service is asked could not be written"));
}

SyncManagerError SyncManagerError::linked()
{
    return SyncManagerError(galleryLinked, QStringLiteral("En mappe bruker dette galleriet — ingenting ble endret"),
                            QStringLiteral("a folder is linked to the gallery"));
}
