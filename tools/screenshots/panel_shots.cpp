// Renders every state of the tray panel to PNG, in the light and the dark palette at scale 2, over a stand-in
// service and temporary folders, plus the tray image itself.
// Usage: QT_QPA_PLATFORM=offscreen panel_shots [output folder, default /tmp/panel-shots]

#include "app/AppContext.h"
#include "app/menubar/MenuBarIcon.h"
#include "app/menubar/MenuBarPanel.h"
#include "app/menubar/LoginView.h"
#include "app/menubar/MenuBarView.h"
#include "ui/Fonts.h"
#include "ui/Theme.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "sync/SyncManager.h"
#include "sync/UploadHistoryStore.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace std::chrono_literals;

namespace {

const QByteArray kToken = "shots-token";

// Runs the event loop until the condition holds or the time is up.
void waitUntil(const std::function<bool()> &condition, int timeoutMs = 10000)
{
    QEventLoop loop;
    QTimer poll;
    QTimer deadline;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(20);
    deadline.start(timeoutMs);
    if (!condition())
        loop.exec();
}

void settle()
{
    waitUntil([] { return false; }, 100);
}

// A folder of photographs stand-ins: soft gradients in a colour of their own.
void writeImages(const QString &folder, const QColor &colour)
{
    QDir().mkpath(folder);
    QImage image(400, 300, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 400, 300);
    gradient.setColorAt(0, colour.lighter(150));
    gradient.setColorAt(1, colour.darker(160));
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(colour.lighter(190));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(280, 100), 60, 60);
    painter.end();
    image.save(folder + QStringLiteral("/IMG_0001.jpg"));
}

// One panel over its own objects.
struct Scene {
    testsupport::StandInService &service;
    QTemporaryDir support;
    VarnostimaAPI api;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<SyncManager> sync;
    std::unique_ptr<UploadHistoryStore> history;
    RecordingUrlOpener opener;
    std::unique_ptr<MenuBarPanel> panel;
    QDateTime now = QDateTime::currentDateTime();

    // exportFolder: the folder the engine watches from the start (none when empty).
    Scene(testsupport::StandInService &standIn, const QString &exportFolder = {}) : service(standIn)
    {
        api.setTimeouts({3s, 3s, 10s});
        SecureStorage(support.path()).write(QStringLiteral("base-url"), service.baseUrl().toString());
        if (!exportFolder.isEmpty()) {
            QFile bookmark(support.filePath(QStringLiteral("watch-folder.bookmark")));
            bookmark.open(QIODevice::WriteOnly);
            bookmark.write(exportFolder.toUtf8());
        }
        auth = std::make_unique<AuthManager>(api, SecureStorage(support.path()), AuthManager::StartupRestore::Manual);
        sync = std::make_unique<SyncManager>(support.path());
        sync->setAPI(api);
        history = std::make_unique<UploadHistoryStore>(QUrl::fromLocalFile(support.filePath(QStringLiteral("h.json"))));
        AppContext context;
        context.authManager = auth.get();
        context.syncManager = sync.get();
        context.uploadHistory = history.get();
        auto *view = new MenuBarView(context, opener, {}, [this] { return now; });
        panel = std::make_unique<MenuBarPanel>(view, MenuBarPanel::Mode::Popup);
        panel->show();
    }
    ~Scene()
    {
        panel.reset();
        sync.reset();
        auth.reset();
    }

    void signIn() { testsupport::awaitTask(auth->login(QString::fromLatin1(kToken))); }

    bool save(const QString &path)
    {
        settle();
        panel->adjustSize();
        constexpr int scale = 2;
        QImage image(panel->size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        panel->render(&image);
        if (!image.save(path))
            return false;
        std::printf("%s\n", qPrintable(path));
        return true;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    registerBundledFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/panel-shots");
    QDir().mkpath(out);

    testsupport::StandInService service;
    service.addAccount(kToken);
    QTemporaryDir photos;
    const QStringList titles{QStringLiteral("Bryllup Hansen"), QStringLiteral("Konfirmasjon Eline"),
                             QStringLiteral("Portretter vår 2026 — studio, utvalgte bilder for trykk"),
                             QStringLiteral("Bedriftsfest"), QStringLiteral("Landskap Lofoten"),
                             QStringLiteral("Eldre galleri")};
    const QList<QColor> colours{QColor(196, 120, 90), QColor(80, 140, 190), QColor(150, 110, 170),
                                QColor(210, 170, 60), QColor(70, 150, 120), QColor(120, 120, 120)};
    for (int i = 0; i < titles.size(); ++i)
        writeImages(photos.filePath(QString::number(i)), colours.at(i));

    int failures = 0;
    for (const auto appearance : {Theme::Appearance::Light, Theme::Appearance::Dark}) {
        Theme::apply(app, appearance);
        const QString look = appearance == Theme::Appearance::Light ? QStringLiteral("light") : QStringLiteral("dark");
        const auto file = [&](const QString &state) { return QStringLiteral("%1/panel-%2-%3.png").arg(out, state, look); };
        const auto check = [&](bool ok) { failures += ok ? 0 : 1; };

        {
            Scene scene(service);
            check(scene.save(file(QStringLiteral("01-signed-out"))));
        }
        {
            Scene scene(service);
            testsupport::awaitTask(scene.auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=feil"))));
            check(scene.save(file(QStringLiteral("02-sign-in-error"))));
        }
        {
            Scene scene(service);
            service.script("GET", "/api/auth/me", {0, {}, {}, 0, testsupport::ScriptedAnswer::Kind::CloseWithoutAnswer}, -1);
            testsupport::awaitTask(scene.auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=tapt"))));
            service.clearScripts();
            check(scene.save(file(QStringLiteral("02c-sign-in-no-contact"))));
        }
        {
            Scene scene(service);
            scene.opener.noBrowser = true;
            scene.panel->content()->loginView()->openDeviceLogin();
            check(scene.save(file(QStringLiteral("02b-sign-in-no-browser"))));
        }
        {
            Scene scene(service);
            testsupport::ScriptedAnswer hang;
            hang.kind = testsupport::ScriptedAnswer::Kind::Hang;
            service.script("GET", "/api/auth/me", hang);
            scene.auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=") + QString::fromLatin1(kToken)));
            check(scene.save(file(QStringLiteral("03-loading"))));
            service.clearScripts();
        }
        {
            Scene scene(service, photos.path());
            scene.signIn();
            scene.sync->setReconcileError(
                QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen. Dette er en lang feiltekst "
                               "som går over mer enn to linjer og derfor blir kuttet."));
            check(scene.save(file(QStringLiteral("04-status-error"))));
            QList<SyncFolder> folders(3);
            folders[0].status = SyncStatus::syncing(0.3);
            scene.sync->setReconcileError(std::nullopt);
            scene.sync->setFolders(folders);
            check(scene.save(file(QStringLiteral("05-status-syncing-one"))));
            folders[1].status = SyncStatus::syncing(0.6);
            folders[2].status = SyncStatus::syncing(0);
            scene.sync->setFolders(folders);
            check(scene.save(file(QStringLiteral("06-status-syncing-three"))));
            folders[0].status = SyncStatus::failed(QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen"));
            folders[1].status = SyncStatus::failed(QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen"));
            folders[2].status = SyncStatus::notSynced();
            scene.sync->setFolders(folders);
            check(scene.save(file(QStringLiteral("06b-status-folders-failed"))));
            scene.sync->setFolders({});
            check(scene.save(file(QStringLiteral("07-status-checking-server"))));
            scene.sync->setHasCompletedInitialReconcile(true);
            check(scene.save(file(QStringLiteral("08-status-watching-empty-history"))));
        }
        {
            Scene scene(service);
            scene.signIn();
            scene.sync->setHasCompletedInitialReconcile(true);
            check(scene.save(file(QStringLiteral("09-status-choose-folder"))));
        }
        {
            Scene scene(service, photos.path());
            scene.signIn();
            scene.sync->setHasCompletedInitialReconcile(true);
            QList<RecentUpload> uploads;
            const QList<qint64> minutesAgo{2, 45, 60 * 5, 60 * 26, 60 * 24 * 9, 60 * 24 * 40};
            for (int i = 0; i < titles.size(); ++i) {
                RecentUpload upload;
                upload.galleryId = QStringLiteral("gal-%1").arg(i + 1);
                upload.gallerySlug = upload.galleryId;
                upload.title = titles.at(i);
                upload.imageCount = i == 1 ? 1 : 12 * (i + 1);
                upload.completedAt = scene.now.addSecs(-60 * minutesAgo.at(i));
                upload.folderPath = photos.filePath(QString::number(i));
                uploads.append(upload);
            }
            scene.history->setRecentUploads(uploads);
            const auto rows = scene.panel->content()->recentUploads()->rows();
            waitUntil([&] {
                return std::all_of(rows.begin(), rows.end(), [](RecentUploadRow *row) { return row->hasThumbnail(); });
            });
            check(scene.save(file(QStringLiteral("10-five-uploads"))));

            // Uploads recorded while the panel was put away: it opens with them, sized for them.
            scene.panel->hide();
            scene.history->setRecentUploads(uploads.mid(3));
            scene.panel->showNear(QRect());
            const auto later = scene.panel->content()->recentUploads()->rows();
            waitUntil([&] {
                return std::all_of(later.begin(), later.end(), [](RecentUploadRow *row) { return row->hasThumbnail(); });
            });
            check(scene.save(file(QStringLiteral("11-uploads-recorded-while-closed"))));
        }
        for (const qreal scale : {1.0, 2.0}) {
            const QColor colour = appearance == Theme::Appearance::Light ? QColor(Qt::black) : QColor(Qt::white);
            QImage icon = MenuBarIcon::render(colour, scale * 4); // large enough to judge the outline
            const QString path = QStringLiteral("%1/tray-icon-%2@%3x.png").arg(out, look).arg(scale * 4);
            check(icon.save(path));
            std::printf("%s\n", qPrintable(path));
        }
    }
    return failures == 0 ? 0 : 1;
}
