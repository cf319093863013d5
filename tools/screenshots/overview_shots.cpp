// Renders the overview's folder list over a zoo of folders in every state (collapsed and expanded), and every
// content state of the overview window at its default and its minimum size, in the light and the dark palette,
// for a person to look at. Signs in through the stand-in service; runs no event loop after that, so the scans
// the window starts never finish and the states stay as set.
// Usage: QT_QPA_PLATFORM=offscreen overview_shots [output folder, default /tmp/overview-shots]

#include "overview/FolderZoo.h" // tests/overview: the folders the tests use

#include "app/menubar/LoginView.h"
#include "ui/Fonts.h"
#include "ui/Theme.h"
#include "overview/list/FolderListView.h"
#include "overview/SyncOverviewView.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "sync/SyncManager.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QList<SyncFolder> zooFolders()
{
    using namespace zoo;
    QList<SyncFolder> f{
        changed("Kunder/2024/Mai/Bryllup_Hansen-og-Berg", 0, 0),
        folder("Kunder/2024/Mai/Konfirmasjon", SyncStatus::syncing(0.47)),
        changed("Kunder/2024/Juni/Portrett", 3, 2),
        changed("Kunder/2024/Juni/Sommerfest", 0, 4),
        changed("Kunder/2024/Juni/Produktbilder", 12, 0),
        modified("Kunder/2024/Juni/Redigert"),
        moved(changed("Kunder/2023/Flyttet_mappe", 0, 0), "Gammelt/Flyttet_mappe"),
        folder("Kunder/2023/Mislyktes", SyncStatus::failed("Ingen kontakt med Varnostima — sjekk internettforbindelsen")),
        folder("Kunder/2023/Privat", SyncStatus::ignored()),
        changed("Kunder/2023/Tømt", 0, 5, 0),
        folder("Reiser/Island"),
        folder("Reiser/Lofoten"),
        changed("Reiser/Lofoten_2", 0, 0),
        folder("Et veldig langt mappenavn som ikke får plass på én linje i listen over mapper"),
        changed("Enkeltbilder", 0, 0),
    };
    f.append(placeholder("g42", "Slettet galleri"));
    return f;
}

// A tree 20 levels deep, with folders at a middle and at the deepest level.
QList<SyncFolder> deepFolders()
{
    QStringList levels;
    for (int i = 1; i <= 20; ++i)
        levels << QStringLiteral("Nivå_%1").arg(i);
    return {zoo::changed(levels.mid(0, 8).join(u'/') + QStringLiteral("/Midt_i_treet"), 0, 0),
            zoo::folder(levels.join(u'/') + QStringLiteral("/Bryllup_Hansen"),
                        SyncStatus::failed(QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen"))),
            zoo::changed(levels.join(u'/') + QStringLiteral("/Portrett"), 3, 0)};
}

bool save(QWidget &widget, const QString &path)
{
    widget.show();
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    widget.render(&image);
    std::printf("%s\n", qPrintable(path));
    return image.save(path);
}

struct Shots {
    QString out;
    QString tone;
    bool ok = true;

    void take(QWidget &widget, const QString &name, QSize size = {})
    {
        if (size.isValid())
            widget.resize(size);
        ok = save(widget, QStringLiteral("%1/%2-%3.png").arg(out, name, tone)) && ok;
    }
    // The window at its default and its minimum size (the content's 700 x 400 and the bars above it).
    void window(SyncOverviewView &w, const QString &name)
    {
        take(w, name + QStringLiteral("-920x560"), SyncOverviewView::kDefaultSize);
        w.show();
        w.layout()->activate();
        take(w, name + QStringLiteral("-minimum"), w.minimumSize());
    }
};

} // namespace

int main(int argc, char *argv[])
{
    using namespace std::chrono_literals;
    QApplication app(argc, argv);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/overview-shots");
    QDir().mkpath(out);

    testsupport::StandInService service;
    service.addAccount("token");
    QTemporaryDir support;
    QTemporaryDir exportFolder;
    QDir(exportFolder.path()).mkpath(QStringLiteral("Eksport"));
    SecureStorage(support.path()).write(QStringLiteral("base-url"), service.baseUrl().toString());
    VarnostimaAPI api;
    AuthManager signedOut(api, SecureStorage(support.path() + QStringLiteral("/ute")),
                          AuthManager::StartupRestore::Manual);
    AuthManager auth(api, SecureStorage(support.path()), AuthManager::StartupRestore::Manual);
    testsupport::awaitTask(auth.login(QStringLiteral("token")));
    RecordingUrlOpener browser;

    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        Shots shots{out, appearance == Theme::Appearance::Light ? QStringLiteral("light") : QStringLiteral("dark")};

        FolderListView list;
        list.resize(560, 820);
        list.setFolders(zooFolders());
        list.setSelectedFolderId(QStringLiteral("/eksport/Kunder/2024/Juni/Portrett"));
        shots.take(list, QStringLiteral("folderlist-expanded"));
        list.setCollapsedNodes({QStringLiteral("Kunder/2024"), QStringLiteral("Reiser")});
        shots.take(list, QStringLiteral("folderlist-collapsed"));
        list.setCollapsedNodes({});
        list.setFolders(deepFolders());
        shots.take(list, QStringLiteral("folderlist-deep-380"), {380, 1100});
        shots.take(list, QStringLiteral("folderlist-deep-700"), {700, 1100});
        list.hide();

        QTemporaryDir state;
        SyncManager sync(state.path());
        sync.setAPI(api);
        OverviewContext context;
        context.authManager = &signedOut;
        context.syncManager = &sync;
        context.browser = &browser;
        context.makeSignInView = [&](QWidget *parent) { return new LoginView(signedOut, browser, parent); };
        {
            SyncOverviewView window(context);
            shots.window(window, QStringLiteral("overview-1-signin"));
            // No browser took the sign-in page: its address to copy.
            browser.noBrowser = true;
            window.findChild<LoginView *>()->openDeviceLogin();
            browser.noBrowser = false;
            shots.window(window, QStringLiteral("overview-1-signin-no-browser"));
        }

        context.authManager = &auth;
        SyncOverviewView window(context);
        shots.window(window, QStringLiteral("overview-2-prompt"));
        sync.setWatchFolder(exportFolder.path() + QStringLiteral("/Eksport"));
        shots.window(window, QStringLiteral("overview-3-loading"));
        sync.setFolders(zooFolders().mid(0, 12));
        shots.window(window, QStringLiteral("overview-3-loading-count"));
        sync.setHasCompletedInitialReconcile(true);
        sync.setFolders(zooFolders());
        shots.window(window, QStringLiteral("overview-4-browser"));
        window.folderList()->setSelectedFolderId(QStringLiteral("/eksport/Kunder/2024/Juni/Portrett"));
        sync.setReconcileError(QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen"));
        shots.window(window, QStringLiteral("overview-4-browser-error"));
        sync.setReconcileError(std::nullopt);
        window.setShowInspector(false);
        shots.window(window, QStringLiteral("overview-4-browser-noinspector"));
        window.setShowInspector(true);
        // Nothing runs for a failed move or deletion: no spinner in the bar.
        sync.setFolders({zoo::moved(zoo::folder("Kunder/Flyttet", SyncStatus::failed("Flytting feilet: Ingen kontakt med Varnostima — sjekk internettforbindelsen")), "Gammelt"),
                         zoo::failedDeletion("g7", "Sommerfest"), zoo::changed("Bryllup", 0, 0)});
        shots.window(window, QStringLiteral("overview-4-browser-failedactions"));
        QList<SyncFolder> clean{zoo::changed("Bryllup", 0, 0), zoo::changed("Portrett", 0, 0)};
        sync.setFolders(clean);
        shots.window(window, QStringLiteral("overview-4-browser-allsynced"));
        // Every image of a synced folder deleted on disk: its gallery keeps them, and nothing waits.
        sync.setFolders({zoo::changed("Bryllup", 0, 0), zoo::changed("Portrett", 0, 6, 0)});
        window.folderList()->setSelectedFolderId(QStringLiteral("/eksport/Portrett"));
        shots.window(window, QStringLiteral("overview-4-browser-emptied"));
        const QString longName = QStringLiteral("Eksport for kunder og bryllup og portretter fra alle årene 2019-2024");
        QDir(exportFolder.path()).mkpath(longName);
        sync.setWatchFolder(exportFolder.path() + u'/' + longName);
        shots.window(window, QStringLiteral("overview-4-browser-longname"));
        sync.setWatchFolder(exportFolder.path() + QStringLiteral("/Eksport"));
        sync.setFolders({});
        shots.window(window, QStringLiteral("overview-5-empty"));
        window.hide();
        sync.clearWatchFolder();
    }
    return 0;
}
