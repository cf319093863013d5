#include "Errors.h"

#include <QFileInfo>

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

// English, for the log: the case and what it carries.
QString apiErrorLogText(APIError::Case errorCase, int statusCode)
{
    switch (errorCase) {
    case APIError::Case::uploadFailed:
        return QStringLiteral("the upload was refused with HTTP %1").arg(statusCode);
    case APIError::Case::serverError:
        return QStringLiteral("the service answered HTTP %1").arg(statusCode);
    case APIError::Case::invalidURL:
        return QStringLiteral("the URL is not a web address");
    case APIError::Case::invalidResponse:
        return QStringLiteral("the answer could not be read");
    case APIError::Case::unauthorized:
        return QStringLiteral("the service refused the token (HTTP 401)");
    case APIError::Case::forbidden:
        return QStringLiteral("the service denied access (HTTP 403)");
    case APIError::Case::quotaExceeded:
        return QStringLiteral("the storage quota is full (HTTP 413)");
    case APIError::Case::expiredPresignedURL:
        return QStringLiteral("the presigned upload URL has expired");
    }
    Q_UNREACHABLE();
}

bool isNoContactCode(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // nothing cancels a request but its time-out and the app's end
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError: // no route to the host or network, or no network at all
    case QNetworkReply::ContentReSendError: // closed before the answer, and not to be sent again
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return true;
    default:
        return false;
    }
}

QString transportMessage(QNetworkReply::NetworkError code, bool timedOut)
{
    if (timedOut || isNoContactCode(code))
        return usertext::noContact();
    switch (code) {
    case QNetworkReply::ProtocolFailure: // an answer that is not HTTP, or broke off mid-way
        return usertext::invalidAnswer();
    default:
        return usertext::tryAgainLater();
    }
}

} // namespace

QString usertext::noContact()
{
    return QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
}

QString usertext::tryAgainLater()
{
    return QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt");
}

QString usertext::invalidAnswer()
{
    return APIError::invalidResponse().localizedDescription();
}

QString usertext::unreadableFile(const QString &fileName)
{
    return QStringLiteral("Klarte ikke å lese filen ") + fileName;
}

UserFacingError::UserFacingError(QString localizedDescription, QString logDescription)
    : m_description(std::move(localizedDescription))
    , m_logDescription(std::move(logDescription))
    , m_what(m_logDescription.toUtf8())
{
}

APIError::APIError(Case errorCase, int statusCode)
    : UserFacingError(apiErrorMessage(errorCase, statusCode), apiErrorLogText(errorCase, statusCode))
    , m_case(errorCase)
    , m_statusCode(statusCode)
{
}

AuthError::AuthError(Case errorCase)
    : UserFacingError(QStringLiteral("Ugyldig token — sjekk at du kopierte riktig"),
                      QStringLiteral("the service refused the token"))
    , m_case(errorCase)
{
}

TransportError::TransportError(QNetworkReply::NetworkError code, QString message, bool timedOut)
    : UserFacingError(transportMessage(code, timedOut), message)
    , m_code(code)
    , m_timedOut(timedOut)
    , m_libraryMessage(std::move(message))
{
}

bool TransportError::isNoContact() const
{
    return m_timedOut || isNoContactCode(m_code);
}

FileAccessError::FileAccessError(QString path, QString message)
    : UserFacingError(usertext::unreadableFile(QFileInfo(path).fileName()), std::move(message))
    , m_path(std::move(path))
{
}

EncodingError::EncodingError(QString message)
    : UserFacingError(usertext::tryAgainLater(), std::move(message))
{
}

DecodingError::DecodingError(QString message)
    : UserFacingError(usertext::invalidAnswer(), std::move(message))
{
}

QString describeError(const std::exception &error)
{
    if (const auto *userFacing = dynamic_cast<const UserFacingError *>(&error))
        return userFacing->localizedDescription();
    return usertext::tryAgainLater(); // a library's or our own English text stays in the log
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
        return usertext::tryAgainLater();
    }
}

QString logDescription(const std::exception &error)
{
    if (const auto *userFacing = dynamic_cast<const UserFacingError *>(&error))
        return userFacing->logDescription();
    return QString::fromUtf8(error.what());
}

QString logDescription(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (...) {
        return logDescriptionOfCurrentException();
    }
}

QString logDescriptionOfCurrentException()
{
    try {
        throw;
    } catch (const std::exception &error) {
        return logDescription(error);
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

FailureTexts currentFailureTexts()
{
    return {describeCurrentException(), logDescriptionOfCurrentException()};
}

bool isNoContact(const std::exception &error)
{
    const auto *transport = dynamic_cast<const TransportError *>(&error);
    return transport && transport->isNoContact();
}
