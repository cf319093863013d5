// The settings tabs, offscreen, over the panel's fixture: an in-memory login item, a scripted notification service,
// and a sync engine and account on the stand-in service.

#include "app/settings/AccountSettingsTab.h"
#include "app/settings/FolderWatchSettingsTab.h"
#include "app/settings/GeneralSettingsTab.h"
#include "app/settings/SettingsForm.h"
#include "support/PanelFixture.h"
#include "overview/DirectoryChooser.h"
#include "support/TempTree.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using testsupport::TempTree;

// Generous: nothing here asserts how fast anything is.
#define WAIT_COMPARE(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, 30000)
#define WAIT_VERIFY(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 30000)

namespace {

// An export folder with one gallery in it.
struct ExportTree : TempTree {
    ExportTree() { addFile(QStringLiteral("Bryllup/a.jpg"), 10); }
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
        panel::Fixture f;
        f.loginItem.enabled = registered;
        f.loginItem.refuseChanges = refuse;
        LaunchAtLoginManager launchAtLogin(f.loginItem);
        GeneralSettingsTab tab(launchAtLogin, f.notificationCenter, {});
        auto *toggle = tab.findChild<ToggleSwitch *>();
        // The value the tab starts with runs no handler: a registered item is not unregistered by it.
        QVERIFY(!toggle->isChecked());
        QCOMPARE(f.loginItem.unregisters, 0);

        tab.show();
        QCOMPARE(toggle->isChecked(), registered);
        if (flip)
            toggle->click();

        QCOMPARE(toggle->isChecked(), switchOn);
        QCOMPARE(tab.launchAtLoginEnabled(), switchOn);
        QCOMPARE(launchAtLogin.isEnabled(), switchOn);
        QCOMPARE(f.loginItem.registers, registers);
        QCOMPARE(f.loginItem.unregisters, unregisters);
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
        const QString noService = QStringLiteral("Ingen varslingstjeneste kjører på skrivebordet");
        QTest::newRow("no notification service") << 5 << true << QString() << true << QStringList{header, noService};
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
        panel::Fixture f;
        f.notificationCenter.status = static_cast<NotificationAuthorizationStatus>(status);
        f.notificationCenter.grantOnRequest = grant;
        int settingsOpened = 0;
        std::function<void()> openSettings;
        if (knownSettings)
            openSettings = [&settingsOpened] { ++settingsOpened; };
        GeneralSettingsTab tab(f.launchAtLogin, f.notificationCenter, openSettings);
        QSignalSpy refreshed(&tab, &GeneralSettingsTab::notificationStatusRefreshed);
        tab.show();
        WAIT_COMPARE(refreshed.size(), 1);
        if (!press.isEmpty()) {
            button(*tab.notificationSection(), press)->click();
            if (press != QStringLiteral("Åpne Systeminnstillinger…"))
                WAIT_COMPARE(refreshed.size(), 2);
        }

        QCOMPARE(visibleTexts(*tab.notificationSection()), texts);
        QCOMPARE(f.notificationCenter.requests, press == QStringLiteral("Be om tillatelse til varslinger") ? 1 : 0);
        QCOMPARE(settingsOpened, press == QStringLiteral("Åpne Systeminnstillinger…") ? 1 : 0);
    }

    // The folder tab follows the engine whoever changes it: set, changed, cleared.
    void folderTabFollowsEngine()
    {
        panel::Fixture f;
        ExportTree exportTree;
        ScriptedDirectoryChooser chooser;
        FolderWatchSettingsTab tab(*f.sync, &chooser);
        QVERIFY(!tab.showsFolder());
        QVERIFY(visibleTexts(tab).contains(QStringLiteral("Ingen eksportmappe valgt")));

        button(tab, QStringLiteral("Velg mappe…"))->click();
        QCOMPARE(chooser.requests.size(), 1);
        chooser.answer(exportTree.root());
        WAIT_VERIFY(tab.showsFolder());
        QCOMPARE(tab.shownPath(), exportTree.root());
        QVERIFY(visibleTexts(tab).contains(QStringLiteral("Bytt mappe…")));

        TempTree other;
        f.sync->setWatchFolder(other.root());
        QCOMPARE(tab.shownPath(), other.root());

        f.sync->clearWatchFolder();
        QVERIFY(!tab.showsFolder());
        WAIT_VERIFY(!f.sync->isReconciling());
    }

    // "Fjern mappe" forgets the folder: no bookmark left, no scan started, the records kept for its return.
    void removeFolder()
    {
        panel::Fixture f;
        ExportTree exportTree;
        f.sync->setWatchFolder(exportTree.root());
        WAIT_COMPARE(f.sync->folders().size(), 1);
        WAIT_VERIFY(!f.sync->isReconciling());
        QVERIFY(QFile::exists(f.sync->bookmarkFilePath()));
        f.sync->setFolders({[&] {
            SyncFolder folder = f.sync->folders().first();
            folder.uploadedFiles = QList<UploadedFileMeta>{{QStringLiteral("a.jpg"), 10, std::nullopt}};
            return folder;
        }()});

        FolderWatchSettingsTab tab(*f.sync, nullptr);
        QSignalSpy scans(f.sync.get(), &SyncManager::isReconcilingChanged);
        button(tab, QStringLiteral("Fjern mappe"))->click();

        QVERIFY(f.sync->watchFolder().isEmpty());
        QVERIFY(!tab.showsFolder());
        QVERIFY(!QFile::exists(f.sync->bookmarkFilePath()));
        QVERIFY(f.sync->folders().isEmpty());
        QVERIFY(f.sync->pendingFolderUploads().contains(exportTree.path(QStringLiteral("Bryllup"))));
        QTest::qWait(0); // anything queued by the removal gets its turn
        QCOMPARE(scans.size(), 0);
    }

    void accountTab()
    {
        panel::Fixture f;
        ExportTree exportTree;
        f.sync->setWatchFolder(exportTree.root());
        AccountSettingsTab tab(*f.auth);
        QVERIFY(!tab.showsSignedIn());
        QVERIFY(visibleTexts(tab).contains(QStringLiteral("Ikke innlogget")));

        f.signIn();
        QVERIFY(tab.showsSignedIn());
        QCOMPARE(visibleTexts(tab), (QStringList{"Status", "Innlogget", "Logg ut"}));

        button(tab, QStringLiteral("Logg ut"))->click();
        QVERIFY(!tab.showsSignedIn());
        QVERIFY(!f.auth->isAuthenticated());
        QCOMPARE(f.sync->watchFolder(), exportTree.root());
        WAIT_VERIFY(!f.sync->isReconciling());
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
