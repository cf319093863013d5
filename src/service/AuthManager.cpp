#include "AuthManager.h"

#include "AppSupport.h"
#include "Errors.h"
#include "ServiceLogging.h"
#include "VarnostimaAPI.h"
#include "platform/UrlOpener.h"

#include <QPointer>
#include <QTimer>
#include <QUrlQuery>

namespace {

const QString kTokenKey = QStringLiteral("api-token");
const QString kBaseURLKey = QStringLiteral("base-url");

bool containsHeaderBreakers(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

std::optional<QUrl> parseAbsoluteURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

// The callback URL for the log: query values (the token) and any password left out, names kept.
QString redacted(const QUrl &url)
{
    QUrl copy = url;
    copy.setQuery(QString());
    copy.setFragment(QString());
    QString text = copy.toString(QUrl::RemovePassword | QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (url.hasQuery()) {
        QStringList names;
        const QStringList items = url.query(QUrl::FullyEncoded).split(QLatin1Char('&'));
        for (const QString &item : items)
            names.append(item.section(QLatin1Char('='), 0, 0));
        text += QLatin1Char('?') + names.join(QLatin1Char('&'));
    }
    return text;
}

// The first query item named exactly "token": its percent-decoded value, or nothing when it has no "=".
std::optional<QString> callbackToken(const QUrl &url)
{
    if (!url.isValid() || !url.hasQuery())
        return std::nullopt;
    const QStringList items = url.query(QUrl::FullyEncoded).split(QLatin1Char('&'));
    for (const QString &item : items) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString name = QUrl::fromPercentEncoding(item.left(equals < 0 ? item.size() : equals).toUtf8());
        if (name != QLatin1String("token"))
            continue;
        if (equals < 0)
            return std::nullopt;
        return QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8()); // "+" stays "+"
    }
    return std::nullopt;
}

} // namespace

AuthManager::AuthManager(QObject *parent)
    : AuthManager(VarnostimaAPI::shared(), SecureStorage(appSupportDirectory()), StartupRestore::Scheduled, parent)
{
}

AuthManager::AuthManager(VarnostimaAPI &api, SecureStorage storage, StartupRestore restore, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_storage(std::move(storage))
{
    if (restore == StartupRestore::Scheduled) {
        // Runs once the caller is back in the event loop, so callbacks installed right after construction are set.
        if (const auto token = m_storage.read(kTokenKey); token && !containsHeaderBreakers(*token))
            m_restoringEpoch = m_epoch;
        QTimer::singleShot(0, this, [this] { restoreSession(); });
    }
}

QUrl AuthManager::baseURL() const
{
    if (const auto stored = m_storage.read(kBaseURLKey)) {
        // Written by hand it often ends in a line break.
        const auto url = parseAbsoluteURL(stored->trimmed());
        if (url && UrlOpener::isWebUrl(*url))
            return *url;
        qCWarning(lcAuth, "Ignoring the stored base URL \"%s\": not an absolute http(s) URL; using %s",
                  qUtf8Printable(stored->trimmed()), qUtf8Printable(VarnostimaAPI::defaultBaseURL().toString()));
    }
    return VarnostimaAPI::defaultBaseURL();
}

void AuthManager::setIsAuthenticated(bool value)
{
    if (m_isAuthenticated == value)
        return;
    m_isAuthenticated = value;
    Q_EMIT isAuthenticatedChanged(value);
}

void AuthManager::setAuthenticated(bool value)
{
    const bool wasAuthenticated = m_isAuthenticated;
    setIsAuthenticated(value);
    if (!wasAuthenticated && value && onAuthenticated)
        onAuthenticated();
}

void AuthManager::setLoginError(const QString &message)
{
    if (m_loginError == message && m_loginError.isNull() == message.isNull())
        return;
    m_loginError = message;
    Q_EMIT loginErrorChanged(message);
}

void AuthManager::beginCheck()
{
    if (m_checksRunning++ == 0)
        Q_EMIT isLoadingChanged(true);
}

void AuthManager::endCheck()
{
    if (--m_checksRunning == 0)
        Q_EMIT isLoadingChanged(false);
}

QCoro::Task<void> AuthManager::restoreSession()
{
    m_restoringEpoch.reset();
    const std::optional<QString> token = m_storage.read(kTokenKey);
    if (!token) {
        qCInfo(lcAuth, "No stored token");
        co_return;
    }
    if (containsHeaderBreakers(*token)) {
        // It would inject header lines; the service never issued it, so it is neither sent nor deleted.
        qCCritical(lcAuth, "Stored token holds a line break or NUL — not sent, file kept");
        co_return;
    }

    QPointer<AuthManager> self(this);
    const quint64 epoch = m_epoch;
    m_restoringEpoch = epoch;
    beginCheck();
    m_api.setCredentials(baseURL(), *token);

    bool accepted = false;
    std::exception_ptr failure;
    try {
        accepted = co_await m_api.validateToken();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (m_restoringEpoch == epoch)
        m_restoringEpoch.reset();
    if (epoch != m_epoch) {
        // A sign-in or sign-out happened meanwhile; its outcome is the one that counts.
        qCInfo(lcAuth, "Session restore outcome dropped: the sign-in changed meanwhile");
    } else if (failure) {
        setAuthenticated(true);
        if (self)
            qCCritical(lcAuth, "Could not validate token (keeping it): %s", qUtf8Printable(logDescription(failure)));
    } else if (accepted) {
        setAuthenticated(true);
        if (self)
            qCInfo(lcAuth, "Session restored");
    } else {
        if (m_storage.read(kTokenKey) == token)
            m_storage.remove(kTokenKey);
        setIsAuthenticated(false);
        if (onLoggedOut)
            onLoggedOut();
        if (self)
            qCCritical(lcAuth, "Stored token invalid — deleted");
    }
    if (self)
        endCheck();
}

QCoro::Task<void> AuthManager::login(QString token, std::optional<QString> baseURLText)
{
    if (token.isEmpty() || containsHeaderBreakers(token)) {
        // An empty one would go out as a bare "Bearer "; one with a line break would inject header lines. No
        // service issues either.
        qCCritical(lcAuth, "Refused a token that is empty or holds a line break or NUL");
        throw AuthError::invalidToken();
    }

    QPointer<AuthManager> self(this);
    beginCheck();

    const QUrl previousURL = m_api.baseURL();
    const std::optional<QString> previousToken = m_api.authToken();
    QUrl url;
    if (const auto given = baseURLText ? parseAbsoluteURL(*baseURLText) : std::nullopt) {
        url = *given;
        m_storage.write(kBaseURLKey, url.toString(QUrl::FullyEncoded));
    } else {
        url = baseURL();
    }
    const quint64 generation = m_api.setCredentials(url, token);

    bool accepted = false;
    std::exception_ptr failure;
    try {
        accepted = co_await m_api.validateToken();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        if (failure)
            std::rethrow_exception(failure);
        co_return;
    }

    if (accepted && !failure) {
        // Only a sign-in that took effect makes a running restore stale; a refused one changed nothing.
        // The accepted token is the one to keep using, whatever else set the client meanwhile.
        ++m_epoch;
        if (m_api.credentialsGeneration() != generation)
            m_api.setCredentials(url, token);
        m_storage.write(kTokenKey, token);
        setAuthenticated(true);
        if (self) {
            qCInfo(lcAuth, "Logged in successfully");
            endCheck();
        }
        co_return;
    }

    // A refused sign-in must not leave the client on the refused token while the user stays signed in.
    if (m_api.credentialsGeneration() == generation)
        m_api.setCredentials(previousURL, previousToken);
    endCheck();
    if (failure)
        std::rethrow_exception(failure);
    throw AuthError::invalidToken();
}

QCoro::Task<void> AuthManager::handleCallbackURL(QUrl url)
{
    const std::optional<QString> token = callbackToken(url);
    if (!token) {
        qCCritical(lcAuth, "Invalid callback URL: %s", qUtf8Printable(redacted(url)));
        co_return;
    }

    QPointer<AuthManager> self(this);
    setLoginError(QString());
    std::exception_ptr failure;
    try {
        co_await login(*token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || !self)
        co_return;
    setLoginError(describeError(failure));
    qCCritical(lcAuth, "OAuth callback login failed: %s", qUtf8Printable(logDescription(failure)));
}

void AuthManager::logout()
{
    m_storage.remove(kTokenKey);
    ++m_epoch;
    setIsAuthenticated(false);
    // A sign-in error from before belongs to the account just left.
    setLoginError(QString());

    // Cleared after this returns; a sign-in that starts first keeps its own token.
    const quint64 generation = m_api.credentialsGeneration();
    VarnostimaAPI *api = &m_api;
    QTimer::singleShot(0, api, [api, generation] {
        if (api->credentialsGeneration() == generation)
            api->clearAuthToken();
    });

    if (onLoggedOut)
        onLoggedOut();
    qCInfo(lcAuth, "Logged out");
}
