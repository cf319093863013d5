#include "ServiceFixture.h"
#include "support/RawHttpRecorder.h"

using namespace fixture;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

template<typename T>
QCoro::Task<void> storeInto(QCoro::Task<T> task, std::optional<T> &into)
{
    into = co_await std::move(task);
}

} // namespace

class TestApiClient : public QObject
{
    Q_OBJECT

    Client m_c;

    QUrl me() const { return m_c.api->endpointURL(QStringLiteral("/api/auth/me")); }
    std::exception_ptr getMe() { return awaitFailure(m_c.api->getJSON<SuccessResponse>(me())); }

private Q_SLOTS:
    void init() { m_c.start(); }
    void cleanup() { m_c.stop(); }

    // A transport failure reads as one of the app's own texts, chosen by its code; the library's text is the log's.
    // The fixed texts of the other errors are a table in the code and not repeated here.
    void userTexts_data()
    {
        using R = QNetworkReply;
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("timedOut");
        QTest::addColumn<QString>("shown");
        const QString noContact = QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
        const QString invalid = QStringLiteral("Ugyldig svar fra server");
        const QString later = QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt");
        QTest::newRow("host not found") << int(R::HostNotFoundError) << false << noContact;
        QTest::newRow("refused") << int(R::ConnectionRefusedError) << false << noContact;
        QTest::newRow("closed") << int(R::RemoteHostClosedError) << false << noContact;
        QTest::newRow("no route") << int(R::UnknownNetworkError) << false << noContact;
        QTest::newRow("network session") << int(R::NetworkSessionFailedError) << false << noContact;
        QTest::newRow("proxy closed") << int(R::ProxyConnectionClosedError) << false << noContact;
        QTest::newRow("timed out") << int(R::TimeoutError) << false << noContact;
        QTest::newRow("own time-out") << int(R::OperationCanceledError) << true << noContact;
        QTest::newRow("not HTTP") << int(R::ProtocolFailure) << false << invalid;
        QTest::newRow("TLS") << int(R::SslHandshakeFailedError) << false << later;
        QTest::newRow("other") << int(R::UnknownServerError) << false << later;
    }
    void userTexts()
    {
        QFETCH(int, code);
        QFETCH(bool, timedOut);
        QFETCH(QString, shown);
        const TransportError error(QNetworkReply::NetworkError(code), QStringLiteral("library text"), timedOut);
        QCOMPARE(describeError(error), shown);
        QCOMPARE(logDescription(error), QStringLiteral("library text"));
        QCOMPARE(isNoContact(error), shown.startsWith(QStringLiteral("Ingen kontakt")));
    }

    // Checked on the raw request: a parser trims header values, so "Bearer" and "Bearer " look alike after it.
    void authorizationHeader_data()
    {
        QTest::addColumn<std::optional<QString>>("token");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::newRow("no token") << std::optional<QString>() << QByteArrayList{};
        QTest::newRow("empty token") << std::optional<QString>(QString()) << QByteArrayList{"Authorization: Bearer \r\n"};
        QTest::newRow("token") << std::optional<QString>(QStringLiteral("abc")) << QByteArrayList{"Authorization: Bearer abc\r\n"};
    }
    void authorizationHeader()
    {
        QFETCH(std::optional<QString>, token);
        QFETCH(QByteArrayList, lines);
        testsupport::RawHttpRecorder recorder;
        m_c.api->setCredentials(recorder.baseUrl(), token);
        QVERIFY(!getMe());
        QCOMPARE(recorder.heads().size(), 1);
        QCOMPARE(recorder.headerLines("Authorization"), lines);
        QVERIFY(recorder.headerLines("Content-Type").isEmpty());
    }

    // A page of galleries, decoded on a pool thread, gives what decoding it here gives: its value, or the same
    // decoding error.
    void galleryPageDecodesAlike_data()
    {
        QTest::addColumn<QByteArray>("tail"); // after the galleries, before the closing bracket
        QTest::addColumn<bool>("reads");
        QTest::newRow("valid") << QByteArray() << true;
        QTest::newRow("wrong type at the end") << QByteArray(R"(,{"id":7})") << false;
        QTest::newRow("not JSON at the end") << QByteArray(",{") << false;
    }
    void galleryPageDecodesAlike()
    {
        QFETCH(QByteArray, tail);
        QFETCH(bool, reads);
        QByteArray body = R"({"galleries":[)";
        for (int i = 0; i < 50; ++i) {
            body += (i ? "," : "")
                    + QStringLiteral(R"({"id":"g%1","slug":"oppdrag-%1","title":"Oppdrag %1","status":"active",)"
                                     R"("imageCount":1,"createdAt":"2024-06-01T10:00:00Z"})")
                          .arg(i)
                          .toUtf8();
        }
        body += tail + R"(],"nextCursor":"c2","hasMore":true})";
        m_c.service->script("GET", "/api/gallery/list", answer(200, body));
        QString here;
        try {
            json::decode<GalleryListResponse>(body);
        } catch (const DecodingError &error) {
            here = QString::fromUtf8(error.what());
        }
        QCOMPARE(here.isEmpty(), reads);
        std::optional<GalleryListResponse> page;
        const auto failure = awaitFailure(storeInto(m_c.api->listGalleries(std::nullopt), page));
        QCOMPARE(!failure, reads);
        if (reads) {
            QCOMPARE(page->galleries.size(), 50);
            QCOMPARE(page->galleries.last().title, QStringLiteral("Oppdrag 49"));
            QCOMPARE(page->nextCursor, QStringLiteral("c2"));
        } else {
            const auto error = errorOf<DecodingError>(failure);
            QVERIFY(error);
            QCOMPARE(QString::fromUtf8(error->what()), here);
        }
    }

    void statusTable_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("outcome"); // -1: accepted, -2: decoding error, else the APIError case
        QTest::addColumn<int>("errorStatus");
        const int server = int(APIError::Case::serverError);
        QTest::newRow("200") << 200 << -1 << 0;
        QTest::newRow("299") << 299 << -1 << 0;
        QTest::newRow("204 without body") << 204 << -2 << 0;
        QTest::newRow("199") << 199 << server << 199;
        QTest::newRow("300") << 300 << server << 300;
        QTest::newRow("304") << 304 << server << 304;
        QTest::newRow("401") << 401 << int(APIError::Case::unauthorized) << 0;
        QTest::newRow("403") << 403 << int(APIError::Case::forbidden) << 0;
        QTest::newRow("413") << 413 << int(APIError::Case::quotaExceeded) << 0;
        QTest::newRow("500") << 500 << server << 500;
    }
    void statusTable()
    {
        QFETCH(int, status);
        QFETCH(int, outcome);
        QFETCH(int, errorStatus);
        m_c.service->script("GET", "/api/auth/me", answer(status, status == 204 ? QByteArray() : "{}"), 2);
        LogCapture log;
        const auto failure = getMe();
        const auto error = errorOf<APIError>(failure);
        QCOMPARE(!failure, outcome == -1);
        QCOMPARE(bool(errorOf<DecodingError>(failure)), outcome == -2);
        QCOMPARE(error ? int(error->errorCase()) : outcome, outcome);
        QCOMPARE(error ? error->statusCode() : 0, errorStatus);
        QCOMPARE(log.lines(kAPI).size(), error ? 1 : 0);
        if (error) {
            QCOMPARE(log.lines(kAPI).first().message, QStringLiteral("HTTP %1 from %2").arg(status).arg(me().toString()));
            QCOMPARE(log.lines(kAPI).first().type, QtCriticalMsg);
        }
        // The token check over the same answer: false only for a 401, every other failure thrown on unchanged.
        if (outcome == -1 || status == 401) {
            QCOMPARE(awaitTask(m_c.api->validateToken()), outcome == -1);
        } else {
            const auto check = awaitFailure(m_c.api->validateToken());
            QVERIFY(check);
            QCOMPARE(errorOf<APIError>(check), error);
        }
    }

    // No complete answer: the call ends with a transport error instead of hanging, and says why.
    void noCompleteAnswer_data()
    {
        QTest::addColumn<int>("kind"); // -1: nothing listens on the port
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("resourceMs");
        QTest::addColumn<QString>("text");
        const QString noContact = QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
        QTest::newRow("idle time-out") << int(ScriptedAnswer::Kind::Hang) << 150 << 60000 << noContact;
        QTest::newRow("resource time-out") << int(ScriptedAnswer::Kind::Hang) << 60000 << 150 << noContact;
        QTest::newRow("connection closed") << int(ScriptedAnswer::Kind::CloseWithoutAnswer) << 60000 << 60000
                                           << noContact;
        QTest::newRow("refused") << -1 << 60000 << 60000 << noContact;
    }
    void noCompleteAnswer()
    {
        QFETCH(int, kind);
        QFETCH(int, idleMs);
        QFETCH(int, resourceMs);
        QFETCH(QString, text);
        m_c.api->setTimeouts({std::chrono::milliseconds(idleMs), std::chrono::milliseconds(idleMs),
                              std::chrono::milliseconds(resourceMs)});
        if (kind < 0)
            m_c.service.reset();
        else
            m_c.service->script("GET", "/api/auth/me", ofKind(ScriptedAnswer::Kind(kind)), -1);
        const auto error = errorOf<TransportError>(getMe());
        QVERIFY(error);
        QCOMPARE(error->isTimeout(), idleMs < 1000 || resourceMs < 1000);
        QCOMPARE(error->localizedDescription(), text);
        QVERIFY(!error->libraryMessage().isEmpty());
    }

    // An answer over the limit fails its request instead of filling memory, whether its size was declared or it
    // only grew when decompressed; an error status keeps its own error.
    void answerSizeIsCapped_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("padding");
        QTest::addColumn<bool>("deflated"); // else its size is declared
        QTest::addColumn<int>("outcome"); // -1: accepted, else the APIError case
        const int invalid = int(APIError::Case::invalidResponse);
        QTest::newRow("at the limit") << 200 << 4096 - 16 << false << -1;
        QTest::newRow("declared over the limit") << 200 << 4096 << false << invalid;
        QTest::newRow("over the limit when decompressed") << 200 << 100000 << true << invalid;
        QTest::newRow("error status") << 500 << 100000 << false << int(APIError::Case::serverError);
    }
    void answerSizeIsCapped()
    {
        QFETCH(int, status);
        QFETCH(int, padding);
        QFETCH(bool, deflated);
        QFETCH(int, outcome);
        m_c.api->setAnswerLimits({4096, 1024});
        ScriptedAnswer scripted = answer(status, "{\"success\":true}" + QByteArray(padding, ' '));
        // The stand-in compresses JSON for a client that accepts it, as Qt does; other types go as they are.
        if (!deflated)
            scripted.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/octet-stream")));
        m_c.service->script("GET", "/api/auth/me", scripted);
        LogCapture log;
        const auto failure = getMe();
        const auto error = errorOf<APIError>(failure);
        QCOMPARE(error ? int(error->errorCase()) : bool(failure) ? -2 : -1, outcome);
        QCOMPARE(log.count(kAPI, QStringLiteral("is larger than 4096 bytes")), outcome == int(APIError::Case::invalidResponse) ? 1 : 0);
    }

    void tokenNeverLeavesTheOrigin()
    {
        m_c.service->script("GET", "/api/auth/me", ofKind(ScriptedAnswer::Kind::RedirectToOtherOrigin));
        LogCapture log;
        QCOMPARE(errorOf<APIError>(getMe()), APIError::serverError(307));
        QCOMPARE(log.count(kAPI, QStringLiteral("HTTP 307 from ")), 1);
        QVERIFY(m_c.service->otherOriginRequests().isEmpty());
    }

    void refusesWhatMustNotBeSent_data()
    {
        QTest::addColumn<QUrl>("base"); // empty: the stand-in's
        QTest::addColumn<QString>("token");
        QTest::addColumn<int>("errorCase");
        QTest::newRow("file base URL") << QUrl(QStringLiteral("file:///tmp")) << QString() << int(APIError::Case::invalidURL);
        QTest::newRow("relative base URL") << QUrl(QStringLiteral("example")) << QString() << int(APIError::Case::invalidURL);
        QTest::newRow("line feed in token") << QUrl() << QStringLiteral("a\nX-Evil: 1") << int(APIError::Case::unauthorized);
        QTest::newRow("carriage return in token") << QUrl() << QStringLiteral("a\rb") << int(APIError::Case::unauthorized);
        QTest::newRow("NUL in token") << QUrl() << QStringLiteral("a") + QChar(0) << int(APIError::Case::unauthorized);
    }
    void refusesWhatMustNotBeSent()
    {
        QFETCH(QUrl, base);
        QFETCH(QString, token);
        QFETCH(int, errorCase);
        m_c.api->setCredentials(base.isEmpty() ? m_c.service->baseUrl() : base, token);
        const auto error = errorOf<APIError>(getMe());
        QVERIFY(error);
        QCOMPARE(int(error->errorCase()), errorCase);
        QVERIFY(m_c.service->requests().isEmpty());
    }

    void requestKeepsTheCredentialsItWasBuiltWith()
    {
        auto task = m_c.api->getJSON<SuccessResponse>(me());
        m_c.api->clearAuthToken();
        awaitTask(std::move(task));
        QCOMPARE(m_c.service->requests().first().header("Authorization"), "Bearer " + kToken);
    }
};

QTEST_GUILESS_MAIN(TestApiClient)
#include "tst_apiclient.moc"
