#include "app/CallbackUrlHandler.h"
#include "app/CrashReporting.h"
#include "app/theme/BrandViews.h"
#include "app/theme/Fonts.h"
#include "app/theme/Theme.h"
#include "overview/ThumbnailLoader.h"
#include "platform/CrashReportDsn.h"
#include "platform/SingleInstance.h"
#include "service/AuthManager.h"

#include <QApplication>
#include <QCoroTask>
#include <QPointer>

#include <memory>

namespace {

// What lives for the whole process once this copy knows it is the only one running.
struct Session {
    std::unique_ptr<CrashReportSender> crashSender;
    AuthManager authManager;
    CallbackUrlHandler callbackUrls;
};

void startSession(QApplication &app, SingleInstance &instance, const QStringList &launchArguments,
                  std::unique_ptr<Session> &session)
{
    Theme::apply(app, Theme::systemAppearance());
    QApplication::setWindowIcon(applicationIcon());
    registerBundledFonts();

    session = std::make_unique<Session>();
    session->crashSender = CrashReporting::start(CrashReportDsn::defaultDsn(), true);

    QPointer<AuthManager> auth(&session->authManager);
    QObject::connect(&session->callbackUrls, &CallbackUrlHandler::callbackURLReceived, &app,
                     [auth](const QUrl &url) {
                         if (auth)
                             auth->handleCallbackURL(url);
                     });
    session->callbackUrls.listen(instance);
    session->callbackUrls.handleArguments(launchArguments);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnostima"));
    QApplication::setOrganizationDomain(QStringLiteral("varnostima.no"));
    QApplication::setApplicationVersion(QStringLiteral(VARNOSTIMA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("varnostima"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Before any image is read: large WebP exports exceed Qt's default allocation limit.
    raiseImageAllocationLimit();

    const QStringList launchArguments = QCoreApplication::arguments().mid(1);
    SingleInstance instance;
    std::unique_ptr<Session> session;
    QCoro::connect(instance.start(launchArguments), &app, [&](SingleInstance::Role role) {
        if (role != SingleInstance::Role::Primary) {
            // Our URLs went to the copy that is already running (or could not be handed over): this copy ends.
            QCoreApplication::exit(role == SingleInstance::Role::Secondary ? 0 : 1);
            return;
        }
        startSession(app, instance, launchArguments, session);
    });
    const int status = app.exec();
    session.reset();
    return status;
}
