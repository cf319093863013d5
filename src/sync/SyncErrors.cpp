#include "SyncErrors.h"

#include "IsolatedName.h"

SyncManagerError::SyncManagerError(int code, QString message)
    : UserFacingError(std::move(message))
    , m_code(code)
{
}

SyncManagerError SyncManagerError::unreadable(const QString &fileName)
{
    return SyncManagerError(unreadableFile, QStringLiteral("Klarte ikke å lese filen ") + unicodenames::isolated(fileName));
}

SyncManagerError SyncManagerError::countMismatch(qsizetype received, qsizetype expected)
{
    return SyncManagerError(presignedCountMismatch, QStringLiteral("Server-svar matchet ikke antall filer (%1/%2)")
                                                        .arg(qint64(received))
                                                        .arg(qint64(expected)));
}
