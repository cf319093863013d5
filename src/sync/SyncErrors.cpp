#include "SyncErrors.h"

SyncManagerError::SyncManagerError(int code, QString message)
    : UserFacingError(std::move(message))
    , m_code(code)
{
}

SyncManagerError SyncManagerError::unreadable(const QString &fileName)
{
    return SyncManagerError(unreadableFile, QStringLiteral("Klarte ikke å lese filen ") + fileName);
}

SyncManagerError SyncManagerError::countMismatch(qsizetype received, qsizetype expected)
{
    return SyncManagerError(presignedCountMismatch, QStringLiteral("Server-svar matchet ikke antall filer (%1/%2)")
                                                        .arg(qint64(received))
                                                        .arg(qint64(expected)));
}

QString describeError(const std::exception &error)
{
    if (const auto *userFacing = dynamic_cast<const UserFacingError *>(&error))
        return userFacing->localizedDescription();
    return QString::fromUtf8(error.what());
}

QString describeCurrentException()
{
    try {
        throw;
    } catch (const std::exception &error) {
        return describeError(error);
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}
