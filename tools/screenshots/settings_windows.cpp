// Renders the settings window (every tab in each state), the about window and the empty folder state to PNG, in
// the light and the dark palette, for a person to look at.
// Usage: QT_QPA_PLATFORM=offscreen settings_windows [output folder, default /tmp/settings-shots]

#include "app/CheckForUpdatesViewModel.h"
#include "app/settings/AboutWindow.h"
#include "app/settings/GeneralSettingsTab.h"
#include "app/settings/SettingsWindow.h"
#include "ui/Fonts.h"
#include "ui/Theme.h"
#include "overview/EmptyFolderStateView.h"
#include "platform/Updater.h"
#include "support/PanelFixture.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// The tests' fixture, with an update command and an export folder of its own.
struct Desktop : panel::Fixture {
    QTemporaryDir exportRoot;
    FakeUpdater updater;
    CheckForUpdatesViewModel updates{updater};

    AppContext context()
    {
        AppContext c = Fixture::context();
        c.updates = &updates;
        return c;
    }

    void signIn(bool signedIn)
    {
        if (signedIn && !auth->isAuthenticated())
            Fixture::signIn();
        else if (!signedIn && auth->isAuthenticated())
            auth->logout();
    }
};

// Lets queued work (the tab's status read) finish before the picture is taken.
void settle()
{
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget &widget, const QString &out, const QString &name, int scale = 1)
{
    QImage image(widget.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    widget.render(&image);
    const QString path = scale == 1 ? QStringLiteral("%1/%2.png").arg(out, name)
                                    : QStringLiteral("%1/%2@%3x.png").arg(out, name).arg(scale);
    if (!image.save(path))
        return false;
    std::printf("%s\n", qPrintable(path));
    return true;
}

struct GeneralState {
    const char *name;
    bool launchAtLogin;
    NotificationAuthorizationStatus status;
    bool settingsButton;
};

bool shootSettings(Desktop &desktop, const QString &out, const QString &look)
{
    const GeneralState general[] = {
        {"undecided", false, NotificationAuthorizationStatus::NotDetermined, true},
        {"authorized", true, NotificationAuthorizationStatus::Authorized, true},
        {"denied", false, NotificationAuthorizationStatus::Denied, true},
        {"denied-no-settings", false, NotificationAuthorizationStatus::Denied, false},
        {"no-service", false, NotificationAuthorizationStatus::NoService, true},
        {"unknown-status", false, static_cast<NotificationAuthorizationStatus>(7), true},
    };
    for (const GeneralState &state : general) {
        desktop.launchAtLogin.setEnabled(state.launchAtLogin);
        desktop.notificationCenter.status = state.status;
        SettingsEnvironment environment;
        if (state.settingsButton)
            environment.openNotificationSettings = [] {};
        SettingsWindow window(desktop.context(), environment);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        settle();
        if (!save(window, out, QStringLiteral("settings-general-%1-%2").arg(QLatin1String(state.name), look)))
            return false;
    }

    const QString longPath = desktop.exportRoot.path()
                             + QStringLiteral("/Fotografering/Kunder 2026/Bryllup og portretter/Ferdig redigert eksport");
    QDir().mkpath(longPath);
    for (const auto &[name, folder] : {std::pair{"short", desktop.exportRoot.path()}, std::pair{"long", longPath},
                                       std::pair{"none", QString()}}) {
        if (folder.isEmpty())
            desktop.sync->clearWatchFolder();
        else
            desktop.sync->setWatchFolder(folder);
        SettingsWindow window(desktop.context(), SettingsEnvironment{});
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.tabs()->setCurrentIndex(1);
        window.show();
        settle();
        if (!save(window, out, QStringLiteral("settings-folder-%1-%2").arg(QLatin1String(name), look)))
            return false;
    }

    for (const bool signedIn : {true, false}) {
        desktop.signIn(signedIn);
        SettingsWindow window(desktop.context(), SettingsEnvironment{});
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.tabs()->setCurrentIndex(2);
        window.show();
        settle();
        if (!save(window, out,
                  QStringLiteral("settings-account-%1-%2")
                      .arg(signedIn ? QStringLiteral("signed-in") : QStringLiteral("signed-out"), look)))
            return false;
    }
    return true;
}

bool shootAbout(Desktop &desktop, const QString &out, const QString &look)
{
    AboutWindow window(desktop.context());
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    settle();
    AboutInfo missing = AboutInfo::fromBuild();
    missing.shortVersion.reset();
    missing.build.reset();
    AboutWindow unknown(desktop.context(), missing, {});
    unknown.setAttribute(Qt::WA_DeleteOnClose, false);
    unknown.show();
    settle();
    return save(window, out, QStringLiteral("about-%1").arg(look))
           && save(window, out, QStringLiteral("about-%1").arg(look), 2)
           && save(unknown, out, QStringLiteral("about-unknown-version-%1").arg(look));
}

bool shootEmptyState(Desktop &desktop, const QString &out, const QString &look)
{
    desktop.sync->setWatchFolder(desktop.exportRoot.path() + QStringLiteral("/Eksport"));
    EmptyFolderStateView view(*desktop.sync);
    view.setAutoFillBackground(true);
    view.resize(560, 420);
    view.show();
    settle();
    return save(view, out, QStringLiteral("empty-folder-state-%1").arg(look));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/settings-shots");
    QDir().mkpath(out);

    Desktop desktop;
    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        const QString look = appearance == Theme::Appearance::Light ? QStringLiteral("light") : QStringLiteral("dark");
        if (!shootSettings(desktop, out, look) || !shootAbout(desktop, out, look)
            || !shootEmptyState(desktop, out, look))
            return 1;
    }
    return 0;
}
