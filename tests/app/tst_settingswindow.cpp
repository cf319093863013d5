// The settings window and its three tabs, offscreen, over real managers: an in-memory login item, a scripted
// notification service, and a sync engine and account on the stand-in service.

#include "app/LaunchAtLoginManager.h"
#include "app/NotificationManager.h"
#include "app/settings/AboutWindow.h"
#include "app/settings/AccountSettingsTab.h"
#include "app/settings/FolderWatchSettingsTab.h"
#include "app/settings/GeneralSettingsTab.h"
#include "app/settings/SettingsForm.h"
#include "app/settings/SettingsWindow.h"
#include "overview/DirectoryChooser.h"
#include "platform/LoginItemService.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

using namespace std::chrono_literals;
using testsupport::TempTree;

// Generous: nothing here asserts how fast anything is.
#define WAIT_COMPARE(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, 30000)
#define WAIT_VERIFY(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 30000)

namespace {

struct Managers {
    testsupport::StandInService service;
    VarnostimaAPI api;
    TempTree support;
    TempTree exportTree;
    FakeLoginItemService loginItem;
    FakeNotificationCenter center;
    RecordingUrlOpener opener;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<SyncManager> sync;
    std::unique_ptr<LaunchAtLoginManager> launchAtLogin;
    std::unique_ptr<NotificationManager> notifications;

    explicit Managers(bool loginItemRegistered = false)
    {
        loginItem.enabled = loginItemRegistered;
        service.addAccount("token");
        api.setTimeouts({5s, 5s, 5s});
        api.setCredentials(service.baseUrl(), QString());
        support.addDir(QStringLiteral("auth"));
        auth = std::make_unique<AuthManager>(api, SecureStorage(support.path(QStringLiteral("auth"))),
                                             AuthManager::StartupRestore::Manual);
        sync = std::make_unique<SyncManager>(support.root());
        sync->setAPI(api);
        launchAtLogin = std::make_unique<LaunchAtLoginManager>(loginItem);
        notifications = std::make_unique<NotificationManager>(center, opener);
        exportTree.addFile(QStringLiteral("Bryllup/a.jpg"), 10);
    }

    AppContext context() const
    {
        AppContext c;
        c.authManager = auth.get();
        c.syncManager = sync.get();
        c.launchAtLogin = launchAtLogin.get();
        c.notifications = notifications.get();
        return c;
    }
};

// The texts a person sees in a widget: visible labels and buttons, top to bottom as built.
QStringList visibleTexts(const QWidget &widget)
{
    QStringList texts;
    for (const QWidget *child : widget.findChildren<QWidget *>()) {
        if (!child->isVisibleTo(&widget))
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(child); label && !label->text().isEmpty())
            texts.append(label->text());
        else if (const auto *button = qobject_cast<const QAbstractButton *>(child); button && !button->text().isEmpty())
            texts.append(button->text());
    }
    return texts;
}

QAbstractButton *button(const QWidget &widget, const QString &text)
{
    for (auto *candidate : widget.findChildren<QAbstractButton *>()) {
        if (candidate->text() == text && candidate->isVisibleTo(&widget))
            return candidate;
    }
    return nullptr;
}

} // namespace

class TestSettingsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowFrameAndTabs()
    {
        Managers managers;
        SettingsWindow window(managers.context(), SettingsEnvironment{});
        QCOMPARE(window.size(), QSize(450, 250));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.tabs()->count(), 3);
        QCOMPARE(window.tabs()->tabText(0), QStringLiteral("Generelt"));
        QCOMPARE(window.tabs()->tabText(1), QStringLiteral("Eksportmappe"));
        QCOMPARE(window.tabs()->tabText(2), QStringLiteral("Konto"));
        QCOMPARE(window.tabs()->currentIndex(), 0);
    }

    // The switch follows the login item: set on showing, sprung back when the system refuses a change.
    void launchAtLoginSwitch_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<bool>("flip"); // the user clicks the switch after the tab is shown
        QTest::addColumn<bool>("switchOn");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        QTest::newRow("registered: shown on, nothing registered again") << true << false << false << true << 0 << 0;
        QTest::newRow("not registered: shown off") << false << false << false << false << 0 << 0;
        QTest::newRow("turned on") << false << false << true << true << 1 << 0;
        QTest::newRow("turned on, refused: springs back") << false << true << true << false << 1 << 0;
        QTest::newRow("turned off") << true << false << true << false << 0 << 1;
        QTest::newRow("turned off, refused: springs back") << true << true << true << true << 0 << 1;
    }
    void launchAtLoginSwitch()
    {
        QFETCH(bool, registered);
        QFETCH(bool, refuse);
        QFETCH(bool, flip);
        QFETCH(bool, switchOn);
        QFETCH(int, registers);
        QFETCH(int, unregisters);
        Managers managers(registered);
        managers.loginItem.refuseChanges = refuse;
        GeneralSettingsTab tab(*managers.launchAtLogin, managers.center, {});
        auto *toggle = tab.findChild<ToggleSwitch *>();
        // The value the tab starts with runs no handler: a registered item is not unregistered by it.
        QVERIFY(!toggle->isChecked());
        QCOMPARE(managers.loginItem.unregisters, 0);

        tab.show();
        QCOMPARE(toggle->isChecked(), registered);
        if (flip)
            toggle->click();

        QCOMPARE(toggle->isChecked(), switchOn);
        QCOMPARE(tab.launchAtLoginEnabled(), switchOn);
        QCOMPARE(managers.launchAtLogin->isEnabled(), switchOn);
        QCOMPARE(managers.loginItem.registers, registers);
        QCOMPARE(managers.loginItem.unregisters, unregisters);
    }

    void notificationSection_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("knownSettings"); // this desktop has a notification settings page we can open
        QTest::addColumn<QString>("press");      // a button pressed after showing, or empty
        QTest::addColumn<bool>("grant");
        QTest::addColumn<QStringList>("texts");
        const QString on = QStringLiteral("Varslinger er på — du får beskjed når et nytt galleri er lastet opp");
        const QString ask = QStringLiteral("Be om tillatelse til varslinger");
        const QString off = QStringLiteral("Varslinger er av i Systeminnstillinger");
        const QString open = QStringLiteral("Åpne Systeminnstillinger…");
        const QString header = QStringLiteral("Varslinger");
        QTest::newRow("authorized") << 2 << true << QString() << true << QStringList{header, on};
        QTest::newRow("provisional") << 3 << true << QString() << true << QStringList{header, on};
        QTest::newRow("ephemeral") << 4 << true << QString() << true << QStringList{header, on};
        QTest::newRow("not determined") << 0 << true << QString() << true << QStringList{header, ask};
        QTest::newRow("denied") << 1 << true << QString() << true << QStringList{header, off, open};
        QTest::newRow("denied, no known settings") << 1 << false << QString() << true << QStringList{header, off};
        QTest::newRow("unknown status") << 9 << true << QString() << true << QStringList{header};
        QTest::newRow("asked and allowed") << 0 << true << ask << true << QStringList{header, on};
        QTest::newRow("asked and refused") << 0 << true << ask << false << QStringList{header, off, open};
        QTest::newRow("settings opened") << 1 << true << open << true << QStringList{header, off, open};
    }
    void notificationSection()
    {
        QFETCH(int, status);
        QFETCH(bool, knownSettings);
        QFETCH(QString, press);
        QFETCH(bool, grant);
        QFETCH(QStringList, texts);
        Managers managers;
        managers.center.status = static_cast<NotificationAuthorizationStatus>(status);
        managers.center.grantOnRequest = grant;
        int settingsOpened = 0;
        std::function<void()> openSettings;
        if (knownSettings)
            openSettings = [&settingsOpened] { ++settingsOpened; };
        GeneralSettingsTab tab(*managers.launchAtLogin, managers.center, openSettings);
        QSignalSpy refreshed(&tab, &GeneralSettingsTab::notificationStatusRefreshed);
        tab.show();
        WAIT_COMPARE(refreshed.size(), 1);
        if (!press.isEmpty()) {
            button(*tab.notificationSection(), press)->click();
            if (press != QStringLiteral("Åpne Systeminnstillinger…"))
                WAIT_COMPARE(refreshed.size(), 2);
        }

        QCOMPARE(visibleTexts(*tab.notificationSection()), texts);
        QCOMPARE(managers.center.requests, press == QStringLiteral("Be om tillatelse til varslinger") ? 1 : 0);
        QCOMPARE(settingsOpened, press == QStringLiteral("Åpne Systeminnstillinger…") ? 1 : 0);
    }

    // The folder tab follows the engine whoever changes it: set, changed, cleared.
    void folderTabFollowsEngine()
    {
        Managers managers;
        ScriptedDirectoryChooser chooser;
        FolderWatchSettingsTab tab(*managers.sync, &chooser);
        QVERIFY(!tab.showsFolder());
        QVERIFY(visibleTexts(tab).contains(QStringLiteral("Ingen eksportmappe valgt")));

        button(tab, QStringLiteral("Velg mappe…"))->click();
        QCOMPARE(chooser.requests.size(), 1);
        chooser.answer(managers.exportTree.root());
        WAIT_VERIFY(tab.showsFolder());
        QCOMPARE(tab.shownPath(), managers.exportTree.root());
        QVERIFY(visibleTexts(tab).contains(QStringLiteral("Bytt mappe…")));

        TempTree other;
        managers.sync->setWatchFolder(other.root());
        QCOMPARE(tab.shownPath(), other.root());

        managers.sync->clearWatchFolder();
        QVERIFY(!tab.showsFolder());
        WAIT_VERIFY(!managers.sync->isReconciling());
    }

    // "Fjern mappe" forgets the folder: no bookmark left, no scan started, the records kept for its return.
    void removeFolder()
    {
        Managers managers;
        managers.sync->setWatchFolder(managers.exportTree.root());
        WAIT_COMPARE(managers.sync->folders().size(), 1);
        WAIT_VERIFY(!managers.sync->isReconciling());
        QVERIFY(QFile::exists(managers.sync->bookmarkFilePath()));
        managers.sync->setFolders({[&] {
            SyncFolder folder = managers.sync->folders().first();
            folder.uploadedFiles = QList<UploadedFileMeta>{{QStringLiteral("a.jpg"), 10, std::nullopt}};
            return folder;
        }()});

        FolderWatchSettingsTab tab(*managers.sync, nullptr);
        QSignalSpy scans(managers.sync.get(), &SyncManager::isReconcilingChanged);
        button(tab, QStringLiteral("Fjern mappe"))->click();

        QVERIFY(managers.sync->watchFolder().isEmpty());
        QVERIFY(!tab.showsFolder());
        QVERIFY(!QFile::exists(managers.sync->bookmarkFilePath()));
        QVERIFY(managers.sync->folders().isEmpty());
        QVERIFY(managers.sync->pendingFolderUploads().contains(managers.exportTree.path(QStringLiteral("Bryllup"))));
        QTest::qWait(0); // anything queued by the removal gets its turn
        QCOMPARE(scans.size(), 0);
    }

    void accountTab()
    {
        Managers managers;
        managers.sync->setWatchFolder(managers.exportTree.root());
        AccountSettingsTab tab(*managers.auth);
        QVERIFY(!tab.showsSignedIn());
        QVERIFY(visibleTexts(tab).contains(QStringLiteral("Ikke innlogget")));

        testsupport::awaitTask(managers.auth->login(QStringLiteral("token"), managers.service.baseUrl().toString()));
        QVERIFY(tab.showsSignedIn());
        QCOMPARE(visibleTexts(tab), (QStringList{"Status", "Innlogget", "Logg ut"}));

        button(tab, QStringLiteral("Logg ut"))->click();
        QVERIFY(!tab.showsSignedIn());
        QVERIFY(!managers.auth->isAuthenticated());
        QCOMPARE(managers.sync->watchFolder(), managers.exportTree.root());
        WAIT_VERIFY(!managers.sync->isReconciling());
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
