#include "CallbackUrlHandler.h"

#include "platform/SingleInstance.h"

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(lcAppDelegate, "no.varnostima.mac.AppDelegate")
}

void CallbackUrlHandler::listen(SingleInstance &instance)
{
    connect(&instance, &SingleInstance::messageReceived, this, &CallbackUrlHandler::handleURLEvent);
    qCInfo(lcAppDelegate, "Registered URL scheme handler");
}

void CallbackUrlHandler::handleArguments(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-')))
            handleURLEvent(argument);
    }
}

void CallbackUrlHandler::handleURLEvent(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid()) {
        qCCritical(lcAppDelegate, "Failed to parse URL from Apple Event");
        return;
    }
    qCInfo(lcAppDelegate, "Received URL callback");
    // QUrl lowercases the scheme, so the test runs on the text as it came.
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0 || QStringView(text).left(colon) != QLatin1String("varnostima"))
        return;
    Q_EMIT callbackURLReceived(url);
}
