#include "Errors.h"

namespace {

QString apiErrorMessage(APIError::Case errorCase, int statusCode)
{
    switch (errorCase) {
    case APIError::Case::uploadFailed:
        return QStringLiteral("Opplasting feilet (HTTP %1)").arg(statusCode);
    case APIError::Case::serverError:
        return QStringLiteral("Serverfeil (%1)").arg(statusCode);
    case APIError::Case::invalidURL:
        return QStringLiteral("Ugyldig URL");
    case APIError::Case::invalidResponse:
        return QStringLiteral("Ugyldig svar fra server");
    case APIError::Case::unauthorized:
        return QStringLiteral("Ikke innlogget — logg inn på nytt");
    case APIError::Case::forbidden:
        return QStringLiteral("Ingen tilgang");
    case APIError::Case::quotaExceeded:
        return QStringLiteral("Lagringskvoten er full");
    case APIError::Case::expiredPresignedURL:
        return QStringLiteral("Opplastingslenken har utløpt — prøv igjen");
    }
    Q_UNREACHABLE();
}

QString transportMessage(QNetworkReply::NetworkError code, bool timedOut, const QString &libraryMessage)
{
    if (timedOut)
        return QStringLiteral("Tidsavbrudd — serveren svarte ikke");
    switch (code) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Fant ikke serveren — sjekk internettforbindelsen");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Serveren avviste tilkoblingen");
    case QNetworkReply::UnknownNetworkError: // no route to the host or network, or no network at all
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("Ingen nettverksforbindelse til serveren");
    case QNetworkReply::TimeoutError:
        return QStringLiteral("Tidsavbrudd — serveren svarte ikke");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("Kunne ikke opprette en sikker forbindelse til serveren");
    default:
        return libraryMessage;
    }
}

} // namespace

UserFacingError::UserFacingError(QString localizedDescription)
    : m_description(std::move(localizedDescription))
    , m_what(m_description.toUtf8())
{
}

APIError::APIError(Case errorCase, int statusCode)
    : UserFacingError(apiErrorMessage(errorCase, statusCode))
    , m_case(errorCase)
    , m_statusCode(statusCode)
{
}

AuthError::AuthError(Case errorCase)
    : UserFacingError(QStringLiteral("Ugyldig token — sjekk at du kopierte riktig"))
    , m_case(errorCase)
{
}

TransportError::TransportError(QNetworkReply::NetworkError code, QString message, bool timedOut)
    : UserFacingError(transportMessage(code, timedOut, message))
    , m_code(code)
    , m_timedOut(timedOut)
    , m_libraryMessage(std::move(message))
{
}

FileAccessError::FileAccessError(QString path, QString message)
    : UserFacingError(std::move(message))
    , m_path(std::move(path))
{
}

QString describeError(const std::exception &error)
{
    if (const auto *userFacing = dynamic_cast<const UserFacingError *>(&error))
        return userFacing->localizedDescription();
    return QString::fromUtf8(error.what());
}

QString describeError(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (...) {
        return describeCurrentException();
    }
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
