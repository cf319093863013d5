#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"

#include <QTest>

using namespace std::chrono_literals;
using testsupport::awaitFailure;
using testsupport::awaitTask;
using testsupport::LogCapture;
using testsupport::ScriptedAnswer;
using testsupport::StandInService;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {
const QString kAPI = QStringLiteral("no.varnostima.mac.API");
const QByteArray kToken = "tok-123";

ScriptedAnswer answer(int status, QByteArray body = "{}")
{
    ScriptedAnswer a;
    a.status = status;
    a.body = std::move(body);
    a.headers = {{"Content-Type", "application/json"}};
    return a;
}

ScriptedAnswer ofKind(ScriptedAnswer::Kind kind)
{
    ScriptedAnswer a;
    a.kind = kind;
    return a;
}

template<typename E>
std::optional<E> errorOf(const std::exception_ptr &failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const E &error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}
} // namespace

class TestApiClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<StandInService> m_service;
    std::unique_ptr<VarnostimaAPI> m_api;

    QUrl me() const { return m_api->endpointURL(QStringLiteral("/api/auth/me")); }

private Q_SLOTS:
    void init()
    {
        m_service = std::make_unique<StandInService>();
        m_service->addAccount(kToken);
        m_api = std::make_unique<VarnostimaAPI>();
        m_api->setTimeouts({2s, 2s, 5s});
        m_api->setCredentials(m_service->baseUrl(), QString::fromLatin1(kToken));
    }
    void cleanup()
    {
        m_api.reset();
        m_service.reset();
    }

    void errorMessages_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("uploadFailed") << APIError::uploadFailed(413).localizedDescription()
                                      << QStringLiteral("Opplasting feilet (HTTP 413)");
        QTest::newRow("uploadFailed -1") << APIError::uploadFailed(-1).localizedDescription()
                                         << QStringLiteral("Opplasting feilet (HTTP -1)");
        QTest::newRow("serverError") << APIError::serverError(10500).localizedDescription()
                                     << QStringLiteral("Serverfeil (10500)");
        QTest::newRow("invalidURL") << APIError::invalidURL().localizedDescription() << QStringLiteral("Ugyldig URL");
        QTest::newRow("invalidResponse") << APIError::invalidResponse().localizedDescription()
                                         << QStringLiteral("Ugyldig svar fra server");
        QTest::newRow("unauthorized") << APIError::unauthorized().localizedDescription()
                                      << QStringLiteral("Ikke innlogget — logg inn på nytt");
        QTest::newRow("forbidden") << APIError::forbidden().localizedDescription() << QStringLiteral("Ingen tilgang");
        QTest::newRow("quotaExceeded") << APIError::quotaExceeded().localizedDescription()
                                       << QStringLiteral("Lagringskvoten er full");
        QTest::newRow("expiredPresignedURL") << APIError::expiredPresignedURL().localizedDescription()
                                             << QStringLiteral("Opplastingslenken har utløpt — prøv igjen");
        QTest::newRow("invalidToken") << AuthError::invalidToken().localizedDescription()
                                      << QStringLiteral("Ugyldig token — sjekk at du kopierte riktig");
    }
    void errorMessages()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void authorizationHeader_data()
    {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("no token") << std::optional<QString>() << false << QByteArray();
        QTest::newRow("empty token") << std::optional<QString>(QString()) << true << QByteArray("Bearer ");
        QTest::newRow("token") << std::optional<QString>(QStringLiteral("abc")) << true << QByteArray("Bearer abc");
    }
    void authorizationHeader()
    {
        QFETCH(std::optional<QString>, token);
        QFETCH(bool, present);
        QFETCH(QByteArray, value);
        m_api->setCredentials(m_service->baseUrl(), token);
        m_service->script("GET", "/api/auth/me", answer(200));
        awaitTask(m_api->getJSON<SuccessResponse>(me()));
        const auto sent = m_service->requests("GET", "/api/auth/me");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().hasHeader("Authorization"), present);
        // The wire carries "Bearer " with its space; HTTP parsers drop trailing white space of a header value.
        QCOMPARE(sent.first().header("Authorization"), value.trimmed());
        QVERIFY(!sent.first().hasHeader("Content-Type"));
        QVERIFY(sent.first().body.isEmpty());
    }

    void sendJSONCarriesBody()
    {
        m_service->script("DELETE", "/api/x", answer(200));
        awaitTask(m_api->sendJSON<SuccessResponse>(m_api->endpointURL(QStringLiteral("/api/x")), "DELETE", EmptyBody{}));
        const auto sent = m_service->requests("DELETE", "/api/x");
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().body, QByteArray("{}"));
        QCOMPARE(sent.first().header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(sent.first().header("Authorization"), "Bearer " + kToken);
    }

    void statusTable_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("errorCase"); // -1: accepted
        QTest::addColumn<int>("errorStatus");
        const int server = int(APIError::Case::serverError);
        QTest::newRow("200") << 200 << -1 << 0;
        QTest::newRow("201") << 201 << -1 << 0;
        QTest::newRow("299") << 299 << -1 << 0;
        QTest::newRow("199") << 199 << server << 199;
        QTest::newRow("300") << 300 << server << 300;
        QTest::newRow("304") << 304 << server << 304;
        QTest::newRow("401") << 401 << int(APIError::Case::unauthorized) << 0;
        QTest::newRow("403") << 403 << int(APIError::Case::forbidden) << 0;
        QTest::newRow("413") << 413 << int(APIError::Case::quotaExceeded) << 0;
        QTest::newRow("404") << 404 << server << 404;
        QTest::newRow("500") << 500 << server << 500;
    }
    void statusTable()
    {
        QFETCH(int, status);
        QFETCH(int, errorCase);
        QFETCH(int, errorStatus);
        m_service->script("GET", "/api/auth/me", answer(status));
        LogCapture log;
        const auto failure = awaitFailure(m_api->getJSON<SuccessResponse>(me()));
        const QString line = QStringLiteral("HTTP %1 from %2").arg(status).arg(me().toString());
        if (errorCase < 0) {
            QVERIFY(!failure);
            QVERIFY(log.lines(kAPI).isEmpty());
            return;
        }
        const auto error = errorOf<APIError>(failure);
        QVERIFY(error);
        QCOMPARE(int(error->errorCase()), errorCase);
        QCOMPARE(error->statusCode(), errorStatus);
        QCOMPARE(log.lines(kAPI).size(), 1);
        QCOMPARE(log.lines(kAPI).first().message, line);
        QCOMPARE(log.lines(kAPI).first().type, QtCriticalMsg);
    }

    void emptyNoContentIsADecodingError()
    {
        m_service->script("POST", "/api/x", answer(204, {}));
        const auto failure = awaitFailure(
            m_api->sendJSON<SuccessResponse>(m_api->endpointURL(QStringLiteral("/api/x")), "POST", EmptyBody{}));
        QVERIFY(errorOf<DecodingError>(failure));
    }

    void successResponseShapes_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::newRow("empty object") << QByteArray("{}") << true;
        QTest::newRow("null success") << QByteArray("{\"success\":null}") << true;
        QTest::newRow("false success") << QByteArray("{\"success\":false}") << true;
        QTest::newRow("text success") << QByteArray("{\"success\":\"yes\"}") << false;
        QTest::newRow("not json") << QByteArray("<html>") << false;
    }
    void successResponseShapes()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        m_service->script("GET", "/api/auth/me", answer(200, body));
        const auto failure = awaitFailure(m_api->getJSON<SuccessResponse>(me()));
        QCOMPARE(!failure, ok);
        if (!ok)
            QVERIFY(errorOf<DecodingError>(failure));
    }

    void validateToken_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("empty object") << 200 << QByteArray("{}") << QStringLiteral("true");
        QTest::newRow("user") << 200 << QByteArray("{\"user\":{\"id\":\"u\",\"email\":null}}") << QStringLiteral("true");
        QTest::newRow("401") << 401 << QByteArray("{}") << QStringLiteral("false");
        QTest::newRow("403") << 403 << QByteArray("{}") << QStringLiteral("forbidden");
        QTest::newRow("user without id") << 200 << QByteArray("{\"user\":{}}") << QStringLiteral("decoding");
    }
    void validateToken()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        m_service->script("GET", "/api/auth/me", answer(status, body));
        if (outcome == QLatin1String("true") || outcome == QLatin1String("false")) {
            QCOMPARE(awaitTask(m_api->validateToken()), outcome == QLatin1String("true"));
            return;
        }
        const auto failure = awaitFailure(m_api->validateToken());
        if (outcome == QLatin1String("forbidden"))
            QCOMPARE(errorOf<APIError>(failure), APIError::forbidden());
        else
            QVERIFY(errorOf<DecodingError>(failure));
    }

    void validateTokenAgainstAccounts()
    {
        QVERIFY(awaitTask(m_api->validateToken()));
        m_api->setCredentials(m_service->baseUrl(), QStringLiteral("someone else"));
        QVERIFY(!awaitTask(m_api->validateToken()));
    }

    void timeOutsEnd_data()
    {
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("resourceMs");
        QTest::newRow("idle") << 150 << 60000;
        QTest::newRow("resource") << 60000 << 150;
    }
    void timeOutsEnd()
    {
        QFETCH(int, idleMs);
        QFETCH(int, resourceMs);
        m_api->setTimeouts({std::chrono::milliseconds(idleMs), std::chrono::milliseconds(idleMs),
                            std::chrono::milliseconds(resourceMs)});
        m_service->script("GET", "/api/auth/me", ofKind(ScriptedAnswer::Kind::Hang));
        const auto error = errorOf<TransportError>(awaitFailure(m_api->getJSON<SuccessResponse>(me()), 10000));
        QVERIFY(error);
        QVERIFY(error->isTimeout());
        QVERIFY(!error->localizedDescription().isEmpty());
    }

    void closedConnectionIsATransportError()
    {
        m_service->script("GET", "/api/auth/me", ofKind(ScriptedAnswer::Kind::CloseWithoutAnswer), -1);
        const auto error = errorOf<TransportError>(awaitFailure(m_api->getJSON<SuccessResponse>(me())));
        QVERIFY(error);
        QVERIFY(!error->isTimeout());
    }

    void tokenNeverLeavesTheOrigin()
    {
        m_service->script("GET", "/api/auth/me", ofKind(ScriptedAnswer::Kind::RedirectToOtherOrigin));
        LogCapture log;
        const auto error = errorOf<APIError>(awaitFailure(m_api->getJSON<SuccessResponse>(me())));
        QCOMPARE(error, APIError::serverError(307));
        QCOMPARE(log.count(kAPI, QStringLiteral("HTTP 307 from ")), 1);
        QVERIFY(m_service->otherOriginRequests().isEmpty());
    }

    void refusesWhatMustNotBeSent_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::addColumn<QString>("token");
        QTest::addColumn<int>("errorCase");
        const QUrl ok(QStringLiteral("http://127.0.0.1:1")); // replaced by the stand-in's URL below
        QTest::newRow("file base URL") << QUrl(QStringLiteral("file:///tmp")) << QString() << int(APIError::Case::invalidURL);
        QTest::newRow("relative base URL") << QUrl(QStringLiteral("example")) << QString() << int(APIError::Case::invalidURL);
        QTest::newRow("line feed in token") << ok << QStringLiteral("a\nX-Evil: 1") << int(APIError::Case::unauthorized);
        QTest::newRow("carriage return in token") << ok << QStringLiteral("a\rb") << int(APIError::Case::unauthorized);
        QTest::newRow("NUL in token") << ok << QStringLiteral("a") + QChar(0) << int(APIError::Case::unauthorized);
    }
    void refusesWhatMustNotBeSent()
    {
        QFETCH(QUrl, base);
        QFETCH(QString, token);
        QFETCH(int, errorCase);
        m_api->setCredentials(base.scheme() == QLatin1String("http") ? m_service->baseUrl() : base, token);
        const auto error = errorOf<APIError>(awaitFailure(m_api->getJSON<SuccessResponse>(me())));
        QVERIFY(error);
        QCOMPARE(int(error->errorCase()), errorCase);
        QVERIFY(m_service->requests().isEmpty());
    }

    void requestKeepsTheCredentialsItWasBuiltWith()
    {
        ScriptedAnswer slow = answer(200);
        slow.delayMs = 200;
        m_service->script("GET", "/api/auth/me", slow);
        auto task = m_api->getJSON<SuccessResponse>(me());
        m_api->clearAuthToken();
        awaitTask(std::move(task));
        QCOMPARE(m_service->requests("GET", "/api/auth/me").first().header("Authorization"), "Bearer " + kToken);
    }
};

QTEST_GUILESS_MAIN(TestApiClient)
#include "tst_apiclient.moc"
