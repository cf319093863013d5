// A second copy of the application for the single-instance test.
// Usage: singleinstance_helper <socket> [--hold] [message...]
// Prints its role; with --hold a primary stays up and prints each message it receives.

#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty())
        return 64;
    const QString socket = arguments.takeFirst();
    const bool hold = arguments.removeAll(QStringLiteral("--hold")) > 0;

    SingleInstance instance(socket);
    QObject::connect(&instance, &SingleInstance::messageReceived, [](const QString &message) {
        std::printf("received %s\n", qPrintable(message));
        std::fflush(stdout);
    });
    QCoro::connect(instance.start(arguments), &app, [&](SingleInstance::Role role) {
        switch (role) {
        case SingleInstance::Role::Secondary:
            app.exit(0);
            break;
        case SingleInstance::Role::Failed:
            app.exit(2);
            break;
        case SingleInstance::Role::Primary:
            std::printf("primary\n");
            std::fflush(stdout);
            if (!hold)
                app.exit(3);
            break;
        }
    });
    return app.exec();
}
