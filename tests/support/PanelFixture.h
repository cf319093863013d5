#pragma once

// The objects the panel and the settings windows borrow, over a stand-in service and a temporary support folder.
// Shared by the app tests and the screenshot tools.

#include "app/AppContext.h"
#include "app/LaunchAtLoginManager.h"
#include "app/NotificationManager.h"
#include "platform/LoginItemService.h"
#include "platform/NotificationCenter.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "AwaitTask.h"
#include "StandInService.h"
#include "TempTree.h"
#include "sync/SyncManager.h"
#include "sync/UploadHistoryStore.h"

#include <QImage>
#include <QTest>

namespace panel {

using namespace std::chrono_literals;

inline const QByteArray kToken = "panel-token";

struct Fixture {
    testsupport::StandInService service;
    testsupport::TempTree support;
    VarnostimaAPI api;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<SyncManager> sync;
    std::unique_ptr<UploadHistoryStore> history;
    RecordingUrlOpener opener;
    FakeLoginItemService loginItem;
    FakeNotificationCenter notificationCenter;
    LaunchAtLoginManager launchAtLogin{loginItem};
    NotificationManager notifications{notificationCenter, opener};

    Fixture()
    {
        service.addAccount(kToken);
        api.setTimeouts({3s, 3s, 10s});
        SecureStorage(support.root()).write(QStringLiteral("base-url"), service.baseUrl().toString());
        auth = std::make_unique<AuthManager>(api, SecureStorage(support.root()), AuthManager::StartupRestore::Manual);
        sync = std::make_unique<SyncManager>(support.root());
        sync->setAPI(api);
        history = std::make_unique<UploadHistoryStore>(
            QUrl::fromLocalFile(support.path(QStringLiteral("recent-uploads.json"))));
    }

    AppContext context()
    {
        AppContext context;
        context.authManager = auth.get();
        context.syncManager = sync.get();
        context.uploadHistory = history.get();
        context.launchAtLogin = &launchAtLogin;
        context.notifications = &notifications;
        return context;
    }

    void signIn() { testsupport::awaitTask(auth->login(QString::fromLatin1(kToken))); }

    // Entries g1..gN, newest first, each in a folder of its own under the support folder.
    QList<RecentUpload> uploads(int count, const QString &prefix = QStringLiteral("g")) const
    {
        QList<RecentUpload> list;
        for (int i = 1; i <= count; ++i) {
            RecentUpload upload;
            upload.galleryId = prefix + QString::number(i);
            upload.gallerySlug = upload.galleryId;
            upload.title = QStringLiteral("Galleri ") + upload.galleryId;
            upload.imageCount = i;
            upload.completedAt = QDateTime::currentDateTime().addSecs(-60 * i);
            upload.folderPath = support.path(upload.galleryId);
            list.append(upload);
        }
        return list;
    }
};

} // namespace panel
