// The stand-in service as a program, for trying the app by hand:
//   varnostima-standin [--port N] [--token T] [--state FILE]
// Prints its base URL on the first line (a free port unless --port is given), then serves until SIGINT or SIGTERM.
// Its device-login page hands the app the token. With --state its library (folders, galleries, images) is read from
// FILE at start when FILE exists, and written back within a second of each change and at the end.

#include "StandInService.h"

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <csignal>
#include <pthread.h>

int main(int argc, char *argv[])
{
    // Blocked before any server thread starts, so every thread inherits the mask and sigwait() below gets them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in gallery service on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption tokenOption(QStringLiteral("token"), QStringLiteral("Accepted bearer token."),
                                         QStringLiteral("T"), QStringLiteral("dev-token"));
    const QCommandLineOption stateOption(QStringLiteral("state"), QStringLiteral("File that keeps the library."),
                                         QStringLiteral("FILE"));
    parser.addOption(portOption);
    parser.addOption(tokenOption);
    parser.addOption(stateOption);
    parser.process(app);

    QTextStream err(stderr);
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        err << "varnostima-standin: --port N must be 0-65535\n";
        return 2;
    }
    const QByteArray token = parser.value(tokenOption).toUtf8();
    if (token.isEmpty() || token.contains('\r') || token.contains('\n')) {
        err << "varnostima-standin: --token must be a non-empty single line\n";
        return 2;
    }

    try {
        testsupport::StandInService service{quint16(port)};
        service.addAccount(token);
        service.setDeviceLoginToken(token);
        const QString stateFile = parser.value(stateOption);
        QByteArray saved;
        if (!stateFile.isEmpty() && QFile::exists(stateFile)) {
            QFile file(stateFile);
            if (!file.open(QIODevice::ReadOnly) || !service.loadLibrary(saved = file.readAll())) {
                err << "varnostima-standin: " << stateFile << " is not a library this program saved\n";
                return 1;
            }
        }
        const auto save = [&] {
            const QByteArray library = service.saveLibrary();
            if (stateFile.isEmpty() || library == saved)
                return;
            QSaveFile file(stateFile);
            if (file.open(QIODevice::WriteOnly) && file.write(library) == library.size() && file.commit())
                saved = library;
            else
                err << "varnostima-standin: could not write " << stateFile << '\n' << Qt::flush;
        };
        QTextStream out(stdout);
        out << service.baseUrl().toString() << '\n'
            << "token: " << QString::fromUtf8(token) << '\n';
        out.flush();
        const timespec tick{1, 0};
        while (sigtimedwait(&stopSignals, nullptr, &tick) < 0)
            save();
        save();
    } catch (const std::exception &e) {
        err << "varnostima-standin: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
