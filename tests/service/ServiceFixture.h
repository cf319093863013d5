#pragma once

// Shared set-up of the service client tests: a fresh stand-in service with one account and a client pointed at it.

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

namespace fixture {

inline const QString kAPI = QStringLiteral("no.varnostima.mac.API");
inline const QByteArray kToken = "tok";

// JSON written with single quotes, for readable test data.
inline QByteArray q(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

inline ScriptedAnswer answer(int status, QByteArray body = "{}", int delayMs = 0)
{
    ScriptedAnswer a;
    a.status = status;
    a.body = std::move(body);
    a.delayMs = delayMs;
    return a;
}

inline ScriptedAnswer ofKind(ScriptedAnswer::Kind kind)
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

struct Client {
    std::unique_ptr<StandInService> service;
    std::unique_ptr<VarnostimaAPI> api;

    void start()
    {
        service = std::make_unique<StandInService>();
        service->addAccount(kToken);
        api = std::make_unique<VarnostimaAPI>();
        api->setTimeouts({15s, 15s, 15s}); // only a fault waits this long; awaitTask gives up at 20 s
        api->setCredentials(service->baseUrl(), QString::fromLatin1(kToken));
    }
    void stop()
    {
        api.reset();
        service.reset();
    }
};

} // namespace fixture
