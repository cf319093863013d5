#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QString>

#include <exception>

// The base of every error a user may get to see. localizedDescription() is the Norwegian text a view shows as it
// stands; logDescription() (and what()) the English one the log keeps, with the library's own words where it had
// any.
class UserFacingError : public std::exception
{
public:
    UserFacingError(QString localizedDescription, QString logDescription);

    QString localizedDescription() const { return m_description; }
    QString logDescription() const { return m_logDescription; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QString m_logDescription;
    QByteArray m_what;
};

// The fixed texts a window shows for failures that are not the service's own answer.
namespace usertext {
QString noContact();      // the service cannot be reached: no network, refused, dropped, timed out
QString tryAgainLater();  // any other failure
QString invalidAnswer();  // an answer that is not one the client can read
QString unreadableFile(const QString &fileName);
} // namespace usertext

// The text a view shows for any failure: a user-facing error's own description, else a general Norwegian text.
QString describeError(const std::exception &error);
QString describeError(const std::exception_ptr &error);
QString describeCurrentException(); // inside a catch block

// The English text a log line names for any failure.
QString logDescription(const std::exception &error);
QString logDescription(const std::exception_ptr &error);
QString logDescriptionOfCurrentException(); // inside a catch block

// Both texts of the failure being handled, taken inside a catch block: what a view shows, what the log says.
struct FailureTexts {
    QString shown;
    QString logged;
};
FailureTexts currentFailureTexts();

// Whether a failure means the service could not be reached at all (as opposed to an answer it gave).
bool isNoContact(const std::exception &error);

// An answer of the service the client does not accept, or a failed presigned upload.
class APIError : public UserFacingError
{
public:
    enum class Case {
        uploadFailed,
        serverError,
        invalidURL,
        invalidResponse,
        unauthorized,
        forbidden,
        quotaExceeded,
        expiredPresignedURL,
    };

    static APIError uploadFailed(int statusCode) { return APIError(Case::uploadFailed, statusCode); }
    static APIError serverError(int statusCode) { return APIError(Case::serverError, statusCode); }
    static APIError invalidURL() { return APIError(Case::invalidURL); }
    static APIError invalidResponse() { return APIError(Case::invalidResponse); }
    static APIError unauthorized() { return APIError(Case::unauthorized); }
    static APIError forbidden() { return APIError(Case::forbidden); }
    static APIError quotaExceeded() { return APIError(Case::quotaExceeded); }
    static APIError expiredPresignedURL() { return APIError(Case::expiredPresignedURL); }

    Case errorCase() const { return m_case; }
    // The HTTP status of uploadFailed and serverError; 0 for the other cases.
    int statusCode() const { return m_statusCode; }

    bool operator==(const APIError &other) const
    {
        return m_case == other.m_case && m_statusCode == other.m_statusCode;
    }

private:
    explicit APIError(Case errorCase, int statusCode = 0);

    Case m_case;
    int m_statusCode;
};

// The account manager's own error.
class AuthError : public UserFacingError
{
public:
    enum class Case { invalidToken };

    static AuthError invalidToken() { return AuthError(Case::invalidToken); }

    Case errorCase() const { return m_case; }
    bool operator==(const AuthError &other) const { return m_case == other.m_case; }

private:
    explicit AuthError(Case errorCase);

    Case m_case;
};

// A request that never got a complete HTTP answer: no connection, a dropped connection, a time-out, an answer
// that is not HTTP. Its text is chosen by the code alone; the network library's own text goes to the log.
class TransportError : public UserFacingError
{
public:
    TransportError(QNetworkReply::NetworkError code, QString message, bool timedOut = false);

    QNetworkReply::NetworkError code() const { return m_code; }
    bool isTimeout() const { return m_timedOut; }
    // Whether it ended before the service could be reached or could answer, as opposed to a garbled answer.
    bool isNoContact() const;
    // The network library's own text, for the log.
    QString libraryMessage() const { return m_libraryMessage; }

private:
    QNetworkReply::NetworkError m_code;
    bool m_timedOut;
    QString m_libraryMessage;
};

// A local file that could not be opened or read, or that changed while it was sent (for example the body of an
// upload). `message` says what happened, in English, for the log.
class FileAccessError : public UserFacingError
{
public:
    FileAccessError(QString path, QString message);

    QString path() const { return m_path; }

private:
    QString m_path;
};

// A value that cannot be written as JSON (a number that is not finite). `message` is for the log.
class EncodingError : public UserFacingError
{
public:
    explicit EncodingError(QString message);
};

// Bytes that do not read as the record asked for: bad JSON, a missing or null required key, a wrong type,
// a number that is not a whole signed 64-bit value. `message` is for the log; a view shows an invalid answer.
class DecodingError : public UserFacingError
{
public:
    explicit DecodingError(QString message);
};
