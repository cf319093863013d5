#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

class SingleInstance;

// Receives the URLs the desktop starts the application with (a browser returning from sign-in) and passes those
// of the application's own scheme on.
class CallbackUrlHandler : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Takes the URLs that later launches hand to this process.
    void listen(SingleInstance &instance);
    // The arguments this process was started with, program name excluded.
    void handleArguments(const QStringList &arguments);
    void handleURLEvent(const QString &text);

Q_SIGNALS:
    // A "varnostima:" URL; connect it to AuthManager::handleCallbackURL.
    void callbackURLReceived(const QUrl &url);
};
