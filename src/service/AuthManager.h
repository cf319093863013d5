#pragma once

#include "SecureStorage.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class VarnostimaAPI;

// The user's sign-in state. Lives on the UI thread; views observe its properties, whose signals fire only on a real
// change. Sign-in comes through a callback URL carrying the token; at start the stored token is checked again.
class AuthManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY isAuthenticatedChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString loginError READ loginError NOTIFY loginErrorChanged)

public:
    enum class StartupRestore { Scheduled, Manual };

    // Uses the shared client and the application-support folder; schedules the restore of the stored sign-in.
    explicit AuthManager(QObject *parent = nullptr);
    AuthManager(VarnostimaAPI &api, SecureStorage storage, StartupRestore restore, QObject *parent = nullptr);

    bool isAuthenticated() const { return m_isAuthenticated; }
    bool isLoading() const { return m_checksRunning > 0; }
    // A stored sign-in waits for its check at start or is being checked: until its outcome it counts as signed in.
    bool isCheckingStoredSignIn() const { return m_restoringEpoch == m_epoch; }
    // The message of the last failed sign-in through a callback URL; a null string when there is none.
    QString loginError() const { return m_loginError; }

    // Installed by the application shell; run on the UI thread. Closures should hold their owner weakly.
    std::function<void()> onAuthenticated;
    std::function<void()> onLoggedOut;

    // The stored base URL when it holds an absolute URL, else the service's default. Read on every call.
    QUrl baseURL() const;

    // Never fails: the outcome is the observed state and the log.
    QCoro::Task<void> restoreSession();
    // Throws AuthError::invalidToken when the service refuses the token, or the error of the check.
    QCoro::Task<void> login(QString token, std::optional<QString> baseURL = std::nullopt);
    // Never fails: a refused sign-in ends in loginError and the log.
    QCoro::Task<void> handleCallbackURL(QUrl url);
    void logout();

Q_SIGNALS:
    void isAuthenticatedChanged(bool isAuthenticated);
    void isLoadingChanged(bool isLoading);
    void loginErrorChanged(const QString &loginError);

private:
    void setAuthenticated(bool value);
    void setIsAuthenticated(bool value);
    void setLoginError(const QString &message);
    void beginCheck();
    void endCheck();

    VarnostimaAPI &m_api;
    SecureStorage m_storage;
    bool m_isAuthenticated = false;
    int m_checksRunning = 0;
    QString m_loginError;
    // Counts sign-ins and sign-outs, so that a restore that finishes after one of them knows its outcome is stale.
    quint64 m_epoch = 0;
    // The epoch in which a restore is pending or running; another value when none is.
    std::optional<quint64> m_restoringEpoch;
};
