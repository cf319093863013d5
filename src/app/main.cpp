#include "AppShell.h"
#include "QtTexts.h"
#include "QuitSignals.h"
#include "ui/BrandViews.h"
#include "ui/Theme.h"
#include "thumbnails/ThumbnailLoader.h"
#include "platform/ProcessArguments.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QCoroTask>

#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnostima"));
    QApplication::setOrganizationDomain(QStringLiteral("varnostima.no"));
    QApplication::setApplicationVersion(QStringLiteral(VARNOSTIMA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("varnostima"));
    // A tray application: closing its last window never ends it; "Avslutt" and the quit signals do.
    QApplication::setQuitOnLastWindowClosed(false);
    QtTexts qtTexts;
    QCoreApplication::installTranslator(&qtTexts);
    // Before any image is read: large WebP exports exceed Qt's default allocation limit.
    raiseImageAllocationLimit();
#ifdef __GLIBC__
    // With the mmap threshold fixed, glibc keeps its trim threshold at 128 KB: a pass's thousands of replies then
    // hand the top of the heap back at one free and fault it in again at the next allocation. The engine trims the
    // heap itself once a burst of work has ended.
    mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
#endif

    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [] { AppShell::quit(); });

    const QStringList launchArguments = QCoreApplication::arguments().mid(1);
    scrubUrlArguments(argc, argv, "varnostima"); // the sign-in token must not stay readable by other users
    SingleInstance instance;
    std::unique_ptr<AppShell> shell;
    QCoro::connect(instance.start(launchArguments), &app, [&](SingleInstance::Role role) {
        if (role != SingleInstance::Role::Primary) {
            // Our URLs went to the copy that is already running (or could not be handed over): this copy ends.
            QCoreApplication::exit(role == SingleInstance::Role::Secondary ? 0 : 1);
            return;
        }
        Theme::apply(app, Theme::systemAppearance());
        QApplication::setWindowIcon(applicationIcon());
        shell = std::make_unique<AppShell>(AppPlatform::desktop(), &instance, launchArguments);
    });
    const int status = app.exec();
    shell.reset();
    return status;
}
