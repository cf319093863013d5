// Renders the settings window (every tab in each state), the about window, the empty folder state and the
// export-folder chooser with its menus and questions, with and without an export folder, to PNG, in the light and
// the dark palette, for a person to look at.
// Usage: QT_QPA_PLATFORM=offscreen settings_windows [output folder, default /tmp/settings-shots]

#include "app/CheckForUpdatesViewModel.h"
#include "app/QtTexts.h"
#include "app/settings/AboutWindow.h"
#include "app/settings/GeneralSettingsTab.h"
#include "app/settings/SettingsWindow.h"
#include "ui/Fonts.h"
#include "ui/Theme.h"
#include "overview/DirectoryChooser.h"
#include "overview/EmptyFolderStateView.h"
#include "platform/Updater.h"
#include "support/PanelFixture.h"
#include "support/TempTree.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTabWidget>
#include <QTreeView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

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

void rightClick(QAbstractScrollArea *area, const QPoint &at)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, area->viewport()->mapToGlobal(at));
    QApplication::sendEvent(area->viewport(), &event);
}

// Runs `open`, which shows a menu or message box in an event loop of Qt's own, and saves the dialog with the menu
// drawn where it opened, or the message box alone; then closes what opened.
bool shootWhatOpens(QWidget &dialog, const QString &out, const QString &name, const std::function<void()> &open)
{
    bool saved = false;
    const QObject scope;
    QTimer::singleShot(0, &scope, [&] {
        if (QWidget *menu = QApplication::activePopupWidget()) {
            QImage image(dialog.size(), QImage::Format_ARGB32_Premultiplied);
            dialog.render(&image);
            QPainter(&image).drawPixmap(menu->mapToGlobal(QPoint()) - dialog.mapToGlobal(QPoint()), menu->grab());
            const QString path = QStringLiteral("%1/%2.png").arg(out, name);
            saved = image.save(path);
            std::printf("%s\n", qPrintable(path));
            menu->close();
        } else if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            saved = save(*box, out, name);
            if (QAbstractButton *no = box->button(QMessageBox::No))
                no->click(); // a rejected question is no answer: the dialog would go on and delete
            else
                box->reject();
        }
    });
    open();
    return saved;
}

// The export-folder chooser as the windows open it.
QFileDialog *openChooser(Desktop &desktop)
{
    FileDialogDirectoryChooser::shared().chooseDirectory(nullptr, EmptyFolderStateView::folderRequest(*desktop.sync),
                                                         [](auto) {});
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *shown = qobject_cast<QFileDialog *>(window); shown && shown->isVisible())
            return shown;
    }
    return nullptr;
}

// Before any export folder is chosen, in a home folder without the Pictures folder: it opens in the home folder.
bool shootChooserWithoutExportFolder(Desktop &desktop, const QString &out, const QString &look)
{
    QTemporaryDir home;
    for (const char *name : {"Dokumenter", "Nedlastinger", "Skrivebord"})
        QDir().mkpath(home.path() + u'/' + QString::fromUtf8(name));
    const QByteArray usersHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    desktop.sync->clearWatchFolder();
    QFileDialog *dialog = openChooser(desktop);
    qputenv("HOME", usersHome);
    if (!dialog)
        return false;
    const QFileDialog::ViewMode usersMode = dialog->viewMode();
    dialog->setViewMode(QFileDialog::Detail);
    auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
    for (int round = 0; round < 100 && list->model()->rowCount(list->rootIndex()) < 3; ++round)
        settle(); // listed off the UI thread
    const bool ok = save(*dialog, out, QStringLiteral("chooser-no-export-folder-%1").arg(look));
    dialog->setViewMode(usersMode);
    dialog->reject();
    settle();
    return ok;
}

// The export-folder chooser over an export folder of three galleries.
bool shootChooser(Desktop &desktop, const QString &out, const QString &look)
{
    const QString root = desktop.exportRoot.path() + QStringLiteral("/Eksport");
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto &[name, modified] : {std::pair{"Bryllup Hansen", now.addSecs(-2 * 3600)},
                                         std::pair{"Konfirmasjon", now.addDays(-3)},
                                         std::pair{"Portretter 2026", now.addMonths(-11)}}) {
        const QString path = root + u'/' + QString::fromUtf8(name);
        QDir().mkpath(path);
        testsupport::TempTree::setMtime(path, double(modified.toSecsSinceEpoch()));
    }
    desktop.sync->setWatchFolder(root);
    QFileDialog *dialog = openChooser(desktop);
    if (!dialog)
        return false;
    const QFileDialog::ViewMode usersMode = dialog->viewMode(); // kept in the user's settings when the dialog goes
    dialog->setViewMode(QFileDialog::Detail);
    auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
    auto *details = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    for (int round = 0; round < 100 && list->model()->rowCount(list->rootIndex()) < 3; ++round)
        settle(); // listed off the UI thread
    const QModelIndex folder = list->model()->index(0, 0, list->rootIndex());
    details->selectionModel()->select(folder, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    settle();

    const auto shot = [&](const char *name) { return QStringLiteral("chooser-%1-%2").arg(QLatin1String(name), look); };
    bool ok = save(*dialog, out, shot("details"))
              && shootWhatOpens(*dialog, out, shot("folder-menu"),
                                [&] { rightClick(details, details->visualRect(folder).center()); })
              && shootWhatOpens(*dialog, out, shot("delete-question"), [&] {
                     dialog->findChild<QAction *>(QStringLiteral("qt_delete_action"))->trigger();
                 })
              && shootWhatOpens(*dialog, out, shot("column-menu"), [&] { rightClick(details->header(), {5, 5}); });
    auto *places = dialog->findChild<QListView *>(QStringLiteral("sidebar"));
    ok = ok && shootWhatOpens(*dialog, out, shot("place-menu"), [&] {
             rightClick(places, places->visualRect(places->model()->index(0, 0)).center());
         });
    dialog->setViewMode(QFileDialog::List);
    settle();
    ok = ok && save(*dialog, out, shot("list"));

    FileDialogDirectoryChooser::shared().showError(dialog, SyncManager::noExportFolderAccessText());
    settle();
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
        ok = ok && save(*box, out, shot("error"));
        box->reject();
    } else {
        ok = false;
    }
    dialog->setViewMode(usersMode);
    dialog->reject();
    settle();
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QtTexts qtTexts;
    QCoreApplication::installTranslator(&qtTexts);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/settings-shots");
    QDir().mkpath(out);

    Desktop desktop;
    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        const QString look = appearance == Theme::Appearance::Light ? QStringLiteral("light") : QStringLiteral("dark");
        if (!shootSettings(desktop, out, look) || !shootAbout(desktop, out, look)
            || !shootEmptyState(desktop, out, look) || !shootChooser(desktop, out, look)
            || !shootChooserWithoutExportFolder(desktop, out, look))
            return 1;
    }
    return 0;
}
