#include "ServiceFixture.h"
#include "service/AuthManager.h"

#include <QSignalSpy>
#include <QTemporaryDir>

using namespace fixture;

namespace {
const QString kAuth = QStringLiteral("no.varnostima.mac.Auth");
const QByteArray kGood = "good-token";
} // namespace

class TestAuthManager : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    Client m_c;
    std::unique_ptr<AuthManager> m_auth;
    int m_authenticatedCalls = 0;
    int m_loggedOutCalls = 0;

    SecureStorage storage() const { return SecureStorage(m_dir->path()); }
    std::optional<QString> storedToken() const { return storage().read(QStringLiteral("api-token")); }
    void storeToken(const QString &token) const { storage().write(QStringLiteral("api-token"), token); }

    void makeManager(AuthManager::StartupRestore restore = AuthManager::StartupRestore::Manual)
    {
        m_auth = std::make_unique<AuthManager>(*m_c.api, storage(), restore);
        m_auth->onAuthenticated = [this] { ++m_authenticatedCalls; };
        m_auth->onLoggedOut = [this] { ++m_loggedOutCalls; };
    }
    QByteArrayList sentTokens() const
    {
        QByteArrayList tokens;
        for (const auto &request : m_c.service->requests("GET", "/api/auth/me"))
            tokens.append(request.header("Authorization"));
        return tokens;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_c.start();
        m_c.service->addAccount(kGood);
        m_c.api->setCredentials(VarnostimaAPI::defaultBaseURL(), std::nullopt);
        storage().write(QStringLiteral("base-url"), m_c.service->baseUrl().toString());
        m_authenticatedCalls = m_loggedOutCalls = 0;
        makeManager();
    }
    void cleanup()
    {
        m_auth.reset();
        m_c.stop();
        m_dir.reset();
    }

    void restore_data()
    {
        QTest::addColumn<QString>("token"); // null: no token file
        QTest::addColumn<int>("status");    // 0: the stand-in's own verdict; -1: the connection closes
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("tokenKept");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("no token") << QString() << 0 << false << false << QStringLiteral("No stored token");
        QTest::newRow("accepted") << QString::fromLatin1(kGood) << 0 << true << true << QStringLiteral("Session restored");
        QTest::newRow("401") << QStringLiteral("stale") << 0 << false << false
                             << QStringLiteral("Stored token invalid — deleted");
        QTest::newRow("empty token") << QStringLiteral("") << 0 << false << false
                                     << QStringLiteral("Stored token invalid — deleted");
        // Never issued by the service: neither sent nor deleted.
        QTest::newRow("line break") << QStringLiteral("good-token\n") << 0 << false << true
                                    << QStringLiteral("Stored token holds a line break or NUL — not sent, file kept");
        QTest::newRow("403") << QString::fromLatin1(kGood) << 403 << true << true
                             << QStringLiteral("Could not validate token (keeping it): the service denied access (HTTP 403)");
        QTest::newRow("offline") << QString::fromLatin1(kGood) << -1 << true << true
                                 << QStringLiteral("Could not validate token (keeping it): ");
    }
    void restore()
    {
        QFETCH(QString, token);
        QFETCH(int, status);
        QFETCH(bool, signedIn);
        QFETCH(bool, tokenKept);
        QFETCH(QString, logLine);
        if (!token.isNull())
            storeToken(token);
        if (status)
            m_c.service->script("GET", "/api/auth/me",
                                status > 0 ? answer(status) : ofKind(ScriptedAnswer::Kind::CloseWithoutAnswer), -1);
        QSignalSpy loading(m_auth.get(), &AuthManager::isLoadingChanged);
        LogCapture log;
        awaitTask(m_auth->restoreSession());

        QCOMPARE(m_auth->isAuthenticated(), signedIn);
        QCOMPARE(m_authenticatedCalls, signedIn ? 1 : 0);
        const bool sent = !token.isNull() && !token.contains(QLatin1Char('\n'));
        QCOMPARE(m_loggedOutCalls, sent && !signedIn ? 1 : 0);
        QCOMPARE(storedToken().has_value(), tokenKept);
        QCOMPARE(loading.size(), sent ? 2 : 0);
        QVERIFY(!m_auth->isLoading());
        QCOMPARE(log.count(kAuth, logLine), 1);
        // The stored token as it is, the empty one too (the stand-in's parser trims "Bearer " to "Bearer").
        QCOMPARE(sentTokens().value(0), sent ? ("Bearer " + token.toUtf8()).trimmed() : QByteArray());
    }

    // A base URL written by hand is read without its surrounding white space; one that cannot be used is said so.
    void storedBaseURL_data()
    {
        QTest::addColumn<QString>("stored"); // %1: the stand-in's URL; null: no file
        QTest::addColumn<bool>("usable");
        QTest::newRow("no file") << QString() << false;
        QTest::newRow("as written") << QStringLiteral("%1") << true;
        QTest::newRow("spaces around") << QStringLiteral(" \t%1 \r\n") << true;
        QTest::newRow("not a URL") << QStringLiteral("not a url") << false;
        QTest::newRow("not a web URL") << QStringLiteral("file:///tmp") << false;
    }
    void storedBaseURL()
    {
        QFETCH(QString, stored);
        QFETCH(bool, usable);
        if (stored.isNull())
            storage().remove(QStringLiteral("base-url"));
        else
            storage().write(QStringLiteral("base-url"), stored.arg(m_c.service->baseUrl().toString()));
        LogCapture log;
        QCOMPARE(m_auth->baseURL(), usable ? m_c.service->baseUrl() : VarnostimaAPI::defaultBaseURL());
        QCOMPARE(log.count(kAuth, QStringLiteral("Ignoring the stored base URL")), usable || stored.isNull() ? 0 : 1);
    }

    void scheduledRestoreReachesCallbacksInstalledAfterConstruction()
    {
        storeToken(QString::fromLatin1(kGood));
        makeManager(AuthManager::StartupRestore::Scheduled);
        QVERIFY(!m_auth->isLoading()); // only scheduled so far
        QSignalSpy spy(m_auth.get(), &AuthManager::isAuthenticatedChanged);
        QVERIFY(spy.wait(20000));
        QCOMPARE(m_authenticatedCalls, 1);
    }

    void callbackURL_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("status");      // 0: the stand-in's own verdict on the token
        QTest::addColumn<QByteArray>("sent"); // empty: nothing sent
        QTest::addColumn<QString>("error");   // the sign-in error afterwards; null: none
        const QString refused = AuthError::invalidToken().localizedDescription();
        auto row = [&](const char *name, const char *url, int status, const char *sent, const QString &error) {
            QTest::newRow(name) << QString::fromUtf8(url) << status << QByteArray(sent) << error;
        };
        row("token", "varnostima://auth?token=good-token", 0, "Bearer good-token", QString());
        row("percent-decoded", "varnostima://auth?token=good%2Dtoken", 0, "Bearer good-token", QString());
        row("first of two", "varnostima://x?a=1&token=good-token&token=other", 0, "Bearer good-token", QString());
        row("plus stays plus", "varnostima://auth?token=a+b", 0, "Bearer a+b", refused);
        // Refused before any request, as no service issues such a token.
        row("empty value", "varnostima://auth?token=", 0, "", refused);
        row("service refuses", "varnostima://auth?token=good-token", 403, "Bearer good-token", QStringLiteral("Ingen tilgang"));
        row("line break in token", "varnostima://auth?token=good-token%0D%0AX-Evil:%201", 0, "", refused);
        // Invalid callback URLs leave the earlier error as it was.
        row("first has no value", "varnostima://auth?token&token=good-token", 0, "", refused);
        row("case matters", "varnostima://auth?Token=good-token", 0, "", refused);
    }
    void callbackURL()
    {
        QFETCH(QString, url);
        QFETCH(int, status);
        QFETCH(QByteArray, sent);
        QFETCH(QString, error);
        awaitTask(m_auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://a?token=refused")))); // an earlier error
        m_c.service->clearRequests();
        if (status)
            m_c.service->script("GET", "/api/auth/me", answer(status));
        LogCapture log;
        awaitTask(m_auth->handleCallbackURL(QUrl(url)));
        const bool refusedLocally = url.contains(QLatin1String("%0D")) || url.endsWith(QLatin1String("token="));
        const bool invalid = sent.isEmpty() && !refusedLocally;
        QCOMPARE(m_auth->isAuthenticated(), error.isNull());
        QCOMPARE(sentTokens(), sent.isEmpty() ? QByteArrayList() : QByteArrayList{sent});
        QCOMPARE(m_auth->loginError(), error);
        QCOMPARE(storedToken(), error.isNull() ? std::optional<QString>(QStringLiteral("good-token")) : std::nullopt);
        QCOMPARE(log.count(kAuth, QStringLiteral("Logged in successfully")), error.isNull() ? 1 : 0);
        QCOMPARE(log.count(kAuth, QStringLiteral("OAuth callback login failed: ")), error.isNull() || invalid ? 0 : 1);
        QCOMPARE(log.count(kAuth, QStringLiteral("Invalid callback URL: ")), invalid ? 1 : 0);
        QVERIFY(!log.contains(kAuth, QStringLiteral("good-token"))); // no token value in the log
    }

    void secondSignInKeepsStateAndClientOnRefusal()
    {
        awaitTask(m_auth->login(QString::fromLatin1(kGood)));
        m_c.service->addAccount("newer");
        QSignalSpy loading(m_auth.get(), &AuthManager::isLoadingChanged);
        LogCapture log;
        awaitTask(m_auth->login(QStringLiteral("newer")));
        QCOMPARE(m_authenticatedCalls, 1);
        QCOMPARE(storedToken(), QStringLiteral("newer"));
        QCOMPARE(log.count(kAuth, QStringLiteral("Logged in successfully")), 1);
        QCOMPARE(loading.size(), 2);

        // A refused sign-in leaves the signed-in user on the token that works.
        const auto failure = awaitFailure(m_auth->login(QStringLiteral("refused")));
        QVERIFY(failure);
        QVERIFY(m_auth->isAuthenticated());
        QCOMPARE(storedToken(), QStringLiteral("newer"));
        QCOMPARE(m_c.api->authToken(), QStringLiteral("newer"));
    }

    // A restore whose check is answered late, overlapped by a sign-in (the callback can be what launches the app).
    void restoreOverlappedBySignIn_data()
    {
        QTest::addColumn<int>("restoreStatus");
        QTest::addColumn<QString>("signInToken");
        QTest::addColumn<QString>("kept"); // the token stored and held by the client at the end
        // The accepted sign-in makes the restore's 401 stale: the new token is neither deleted nor signed out.
        QTest::newRow("sign-in accepted") << 401 << QString::fromLatin1(kGood) << QString::fromLatin1(kGood);
        // A refused sign-in changed nothing: the restore's acceptance still signs the user in.
        QTest::newRow("sign-in refused") << 200 << QStringLiteral("refused") << QStringLiteral("old");
    }
    void restoreOverlappedBySignIn()
    {
        QFETCH(int, restoreStatus);
        QFETCH(QString, signInToken);
        QFETCH(QString, kept);
        storeToken(QStringLiteral("old"));
        ScriptedAnswer late = answer(restoreStatus);
        late.held = true; // until the sign-in has ended
        m_c.service->script("GET", "/api/auth/me", late);
        auto restore = m_auth->restoreSession();
        QTRY_COMPARE(m_c.service->requests().size(), 1); // the script went to the restore, not to the sign-in
        awaitFailure(m_auth->login(signInToken));
        m_c.service->releaseHeld();
        awaitTask(std::move(restore));
        QVERIFY(m_auth->isAuthenticated());
        QCOMPARE(m_authenticatedCalls, 1);
        QCOMPARE(m_loggedOutCalls, 0);
        QCOMPARE(storedToken(), kept);
        QCOMPARE(m_c.api->authToken(), kept);
        QVERIFY(!m_auth->isLoading());
    }

    void logoutOrder()
    {
        awaitTask(m_auth->login(QString::fromLatin1(kGood)));
        bool stateSeenInCallback = false;
        m_auth->onLoggedOut = [this, &stateSeenInCallback] {
            ++m_loggedOutCalls;
            stateSeenInCallback = !m_auth->isAuthenticated() && !storedToken();
        };
        LogCapture log;
        m_auth->logout();
        QVERIFY(stateSeenInCallback);
        QCOMPARE(m_c.api->authToken(), QString::fromLatin1(kGood)); // cleared only after logout returned
        QTRY_VERIFY(!m_c.api->authToken());
        QCOMPARE(m_c.api->baseURL(), m_c.service->baseUrl());

        m_auth->logout(); // already signed out: still reported
        QCOMPARE(m_loggedOutCalls, 2);
        QCOMPARE(log.count(kAuth, QStringLiteral("Logged out")), 2);
    }
};

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
