// The panel offscreen: what it is made of when signed out, signed in and with a history, the status row's rules,
// redraws on model changes, and the recent-upload rows.

#include "support/FileBytes.h"
#include "support/PanelFixture.h"
#include "support/ShownText.h"
#include "app/menubar/LoginView.h"
#include "app/menubar/MenuBarPanel.h"
#include "app/menubar/MenuBarView.h"
#include "app/WindowManager.h"
#include "ui/BrandViews.h"
#include "ui/Buttons.h"
#include "ui/ElidedLabel.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>

Q_DECLARE_METATYPE(MenuBarStatus::Rule)

using panel::Fixture;

class TestMenuBarView : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    int m_overviewOpened = 0;

    std::unique_ptr<MenuBarView> makeView()
    {
        MenuBarActions actions;
        actions.openOverview = [this] { ++m_overviewOpened; };
        auto view = std::make_unique<MenuBarView>(f->context(), f->opener, actions);
        view->show();
        return view;
    }

    BaseURLSource currentBase() const
    {
        return [this] { return f->service.baseUrl(); };
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<Fixture>();
        m_overviewOpened = 0;
    }
    void cleanup() { f.reset(); }

    void compositionFollowsSignInAndHistory()
    {
        auto view = makeView();
        QCOMPARE(view->width(), 300);
        QWidget *footer = view->footer();
        // Signed out: sign-in view, one divider, footer without "Logg ut".
        QList<QWidget *> parts = view->shownParts();
        QCOMPARE(parts.size(), 3);
        QCOMPARE(parts.first()->findChild<LoginView *>(), view->loginView());
        QCOMPARE(parts.last(), footer);
        QVERIFY(view->footer()->logoutButton()->isHidden());

        // Signed in, empty history: header, divider, empty state, divider, footer with "Logg ut".
        f->signIn();
        parts = view->shownParts();
        QCOMPARE(parts.size(), 5);
        QCOMPARE(parts.at(0), view->header());
        QCOMPARE(parts.at(2), view->emptyHistory());
        QCOMPARE(parts.at(4), footer);
        QVERIFY(!view->footer()->logoutButton()->isHidden());

        // A recorded upload replaces the empty state with the list, live.
        f->history->setRecentUploads(f->uploads(1));
        QCOMPARE(view->shownParts().at(2), view->recentUploads());

        view->header()->openOverviewButton()->click();
        QCOMPARE(m_overviewOpened, 1);

        // "Logg ut" signs out and brings the sign-in view back.
        view->footer()->logoutButton()->click();
        QVERIFY(!f->auth->isAuthenticated());
        QCOMPARE(view->shownParts().size(), 3);
    }

    void statusRules_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("syncing");
        QTest::addColumn<int>("failed");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<bool>("hasFolder");
        QTest::addColumn<MenuBarStatus::Rule>("rule");
        QTest::addColumn<QString>("text");
        using R = MenuBarStatus::Rule;
        const QString offline = QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
        QTest::newRow("error hides uploads") << offline << 2 << 1 << true << true << R::ReconcileError << offline;
        QTest::newRow("one folder") << QString() << 1 << 1 << true << true << R::Syncing << "1 mappe synkes…";
        QTest::newRow("three folders") << QString() << 3 << 0 << false << true << R::Syncing << "3 mapper synkes…";
        QTest::newRow("one failed") << QString() << 0 << 1 << true << true << R::FolderFailed
                                    << "1 mappe feilet — se oversikten";
        QTest::newRow("two failed before first check") << QString() << 0 << 2 << false << true << R::FolderFailed
                                                       << "2 mapper feilet — se oversikten";
        QTest::newRow("first check") << QString() << 0 << 0 << false << true << R::CheckingServer << "Sjekker server…";
        QTest::newRow("watching") << QString() << 0 << 0 << true << true << R::Watching << "Klart — overvåker mappe";
        QTest::newRow("no folder before check") << QString() << 0 << 0 << false << false << R::ChooseFolder
                                                << "Velg mappe i innstillinger";
        QTest::newRow("no folder") << QString() << 0 << 0 << true << false << R::ChooseFolder << "Velg mappe i innstillinger";
    }
    void statusRules()
    {
        QFETCH(QString, error);
        QFETCH(int, syncing);
        QFETCH(int, failed);
        QFETCH(bool, completed);
        QFETCH(bool, hasFolder);
        QFETCH(MenuBarStatus::Rule, rule);
        QFETCH(QString, text);
        const std::optional<QString> reconcileError = error.isNull() ? std::nullopt : std::optional(error);
        const MenuBarStatus status = MenuBarStatus::of(reconcileError, syncing, failed, completed, hasFolder);
        QCOMPARE(status.rule, rule);
        QCOMPARE(status.text, text);
    }

    void statusRowRedrawsOnEngineChanges()
    {
        MenuBarSyncStatusRow row(*f->sync);
        row.show();
        QVERIFY(!row.isShowingSpinner());

        // The rules are statusRules' table; here only that each engine change redraws text and spinner.
        QList<SyncFolder> folders(3);
        folders[0].status = SyncStatus::syncing(0.2);
        folders[1].status = SyncStatus::syncing(0);
        folders[2].status = SyncStatus::synced(QStringLiteral("g"), QStringLiteral("s"), 1);
        f->sync->setFolders(folders);
        QCOMPARE(row.text(), QStringLiteral("2 mapper synkes…"));
        QVERIFY(row.isShowingSpinner());

        folders[0].status = SyncStatus::failed(QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen"));
        folders[1].status = SyncStatus::synced(QStringLiteral("h"), QStringLiteral("t"), 1);
        f->sync->setFolders(folders);
        QCOMPARE(row.status().rule, MenuBarStatus::Rule::FolderFailed);
        QVERIFY(!row.isShowingSpinner());

        f->sync->setReconcileError(QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt"));
        QCOMPARE(row.status().rule, MenuBarStatus::Rule::ReconcileError);
    }

    void showsFiveOfSixInOrder_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("five") << 5 << 5;
        QTest::newRow("six") << 6 << 5;
        QTest::newRow("two") << 2 << 2;
    }
    void showsFiveOfSixInOrder()
    {
        QFETCH(int, stored);
        QFETCH(int, shown);
        auto view = makeView();
        f->signIn();
        f->history->setRecentUploads(f->uploads(stored));
        const QList<RecentUploadRow *> rows = view->recentUploads()->rows();
        QCOMPARE(rows.size(), shown);
        for (int i = 0; i < shown; ++i)
            QCOMPARE(rows.at(i)->upload().galleryId, QStringLiteral("g%1").arg(i + 1));
    }

    void rowsAreKeyedByIdentity()
    {
        auto view = makeView();
        f->signIn();
        const QList<RecentUpload> three = f->uploads(3);
        f->history->setRecentUploads(three);
        const QList<RecentUploadRow *> before = view->recentUploads()->rows();
        QPointer<RecentUploadRow> dropped = before.at(2);

        // A new upload on top and the oldest gone: the rows that stay are the same widgets, moved down.
        QList<RecentUpload> next = f->uploads(1, QStringLiteral("n"));
        next << three.at(0) << three.at(1);
        next[1].imageCount = 40;
        f->history->setRecentUploads(next);
        const QList<RecentUploadRow *> after = view->recentUploads()->rows();
        QCOMPARE(after.size(), 3);
        QCOMPARE(after.at(1), before.at(0));
        QCOMPARE(after.at(2), before.at(1));
        QVERIFY(after.at(1)->detailText().startsWith(QStringLiteral("40 bilder · ")));
        QVERIFY(dropped.isNull());
    }

    // The service moved (to another port, say) after the entry was recorded: the row opens its gallery where the
    // service is now, whatever address the history file holds for the entry, and follows a move while it is shown.
    void rowOpensItsGalleryWhereTheServiceIsNow_data()
    {
        QTest::addColumn<QString>("recordedUnder"); // the entry's address in the history file; empty: none
        QTest::newRow("no address") << QString();
        QTest::newRow("the old port") << QStringLiteral("http://127.0.0.1:1");
        QTest::newRow("an old address with a path") << QStringLiteral("https://gammel.example/varnostima/");
    }
    void rowOpensItsGalleryWhereTheServiceIsNow()
    {
        QFETCH(QString, recordedUnder);
        RecentUpload recorded = f->uploads(1).first();
        if (!recordedUnder.isEmpty())
            recorded.baseURL = QUrl(recordedUnder);
        const QString file = f->support.path(QStringLiteral("recent-uploads.json"));
        QVERIFY(testsupport::writeFile(file, encodeRecentUploads({recorded})));
        f->history = std::make_unique<UploadHistoryStore>(QUrl::fromLocalFile(file));
        f->signIn();
        auto view = makeView();
        RecentUploadRow *row = view->recentUploads()->rows().first();
        row->click();

        const QUrl moved(QStringLiteral("http://127.0.0.1:2/neste"));
        SecureStorage(f->support.root()).write(QStringLiteral("base-url"), moved.toString());
        row->click();
        QCOMPARE(f->opener.opened, (QList<QUrl>{f->service.baseUrl().resolved(QUrl(QStringLiteral("/gallery/g1"))),
                                                QUrl(QStringLiteral("http://127.0.0.1:2/neste/gallery/g1"))}));
    }

    void rowShowsItsCountAndThumbnail()
    {
        QList<RecentUpload> uploads = f->uploads(2);
        uploads[0].imageCount = 1;
        QDir().mkpath(uploads[0].folderPath);
        QImage image(120, 80, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(uploads[0].folderPath + QStringLiteral("/b.jpg")));
        QVERIFY(image.save(uploads[0].folderPath + QStringLiteral("/a.jpg")));

        RecentUploadsSection section(f->opener, currentBase());
        section.setUploads(uploads);
        section.show();
        RecentUploadRow *withFolder = section.rows().at(0);
        RecentUploadRow *withoutFolder = section.rows().at(1);
        QVERIFY(withFolder->detailText().startsWith(QStringLiteral("1 bilder · ")));
        QCOMPARE(testsupport::shownToolTip(withFolder->toolTip()), QStringLiteral("Åpne Galleri g1 i dashboard"));

        QSignalSpy loaded(withFolder, &RecentUploadRow::thumbnailLoaded);
        QVERIFY(withFolder->hasThumbnail() || loaded.wait(20000));
        QVERIFY(withFolder->hasThumbnail());
        QVERIFY(!withoutFolder->hasThumbnail()); // its folder does not exist: the placeholder stays
    }

    // A folder that was missing (a disk not mounted yet) when the panel first showed gets its picture the next
    // time the panel opens; a folder that empties keeps the picture it had.
    void rowLoadsItsThumbnailEachTimeItShows()
    {
        QList<RecentUpload> uploads = f->uploads(1);
        RecentUploadsSection section(f->opener, currentBase());
        section.setUploads(uploads);
        RecentUploadRow *row = section.rows().at(0);
        QSignalSpy loaded(row, &RecentUploadRow::thumbnailLoaded);
        section.show();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 20000);
        QVERIFY(!row->hasThumbnail());

        QDir().mkpath(uploads[0].folderPath);
        QImage image(120, 80, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(uploads[0].folderPath + QStringLiteral("/a.jpg")));
        section.hide();
        section.show();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 2, 20000);
        QVERIFY(row->hasThumbnail());

        QVERIFY(QFile::remove(uploads[0].folderPath + QStringLiteral("/a.jpg")));
        section.hide();
        section.show();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 3, 20000);
        QVERIFY(row->hasThumbnail());
    }

    // A title from the service is text: no markup turns into formatting or links, and no direction control in it
    // turns the row's own words around.
    void rowShowsItsTitleAsWritten_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("bold tag") << "<b>Fet mappe";
        QTest::newRow("link") << "<a href=x>Klikk her</a>";
        QTest::newRow("entity") << "Tom &amp; Jerry & co";
        QTest::newRow("right-to-left override") << "\u202Eppam";
        QTest::newRow("right-to-left letters and a year") << "\u05E9\u05DC\u05D5\u05DD 2024";
        QTest::newRow("stray pop isolate then override") << "ab\u2069\u202Ecdefgh";
    }
    void rowShowsItsTitleAsWritten()
    {
        QFETCH(QString, title);
        QList<RecentUpload> uploads = f->uploads(1);
        uploads[0].title = title;
        RecentUploadsSection section(f->opener, currentBase());
        section.setUploads(uploads);
        section.show();
        RecentUploadRow *row = section.rows().first();
        const QString tip = testsupport::shownToolTip(row->toolTip());
        QString read = tip;
        read.remove(QChar(0x2068)).remove(QChar(0x2069));
        QString expected = QStringLiteral("Åpne ") + title + QStringLiteral(" i dashboard");
        expected.remove(QChar(0x2069)); // a stray one has no effect of its own; it is left out
        QCOMPARE(read, expected);
        QVERIFY(testsupport::readsLeftToRight(tip, QStringLiteral(" i dashboard")));
        QCOMPARE(row->accessibleName(), tip);

        // The shortened title's tooltip: the whole title, as written.
        auto *titleLabel = row->findChild<ElidedLabel *>();
        QCOMPARE(titleLabel->text(), title);
        titleLabel->resize(24, titleLabel->height());
        QVERIFY(titleLabel->displayedText() != title);
        QCOMPARE(testsupport::shownToolTip(titleLabel->toolTip()), title);
    }

    void agesAdvanceWhileShown()
    {
        QDateTime now = QDateTime::currentDateTime();
        RecentUploadsSection section(f->opener, currentBase(), [&now] { return now; });
        QList<RecentUpload> uploads = f->uploads(1);
        uploads[0].completedAt = now.addSecs(-10);
        section.setUploads(uploads);
        section.show();
        const QString before = section.rows().first()->detailText();
        QCOMPARE(section.ageRefreshInterval(), RecentUploadsSection::kYoungAgeRefreshMs);
        now = now.addSecs(120);
        QVERIFY(section.rows().first()->detailText() != before);
        QCOMPARE(section.ageRefreshInterval(), RecentUploadsSection::kAgeRefreshMs);
    }

    void loginViewFollowsTheAccount()
    {
        LoginView view(*f->auth, f->opener);
        view.show();
        QVERIFY(!view.isShowingSpinner());
        view.findChild<ProminentButton *>()->click();
        QCOMPARE(f->opener.opened, QList<QUrl>{f->service.baseUrl().resolved(QUrl(QStringLiteral("/auth/device-login")))});

        // A refused token: spinner while it is checked, then the error under the button.
        bool sawSpinner = false;
        connect(f->auth.get(), &AuthManager::isLoadingChanged, this,
                [&](bool loading) { sawSpinner = sawSpinner || (loading && view.isShowingSpinner()); });
        testsupport::awaitTask(f->auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=wrong"))));
        QVERIFY(sawSpinner);
        QCOMPARE(view.shownError(), QStringLiteral("Ugyldig token — sjekk at du kopierte riktig"));

        // A new sign-in clears it at its start.
        f->auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=") + QString::fromLatin1(panel::kToken)));
        QVERIFY(view.shownError().isEmpty());
        QTRY_VERIFY(f->auth->isAuthenticated());

        // Signing out leaves no stale error behind.
        testsupport::awaitTask(f->auth->handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=wrong"))));
        QVERIFY(!f->auth->loginError().isEmpty());
        f->auth->logout();
        QVERIFY(f->auth->loginError().isEmpty());
        QVERIFY(view.shownError().isEmpty());
    }

    // Where no browser takes the sign-in page, both sign-in views say so and show its address to copy.
    void withoutABrowserTheLinkShows_data()
    {
        QTest::addColumn<bool>("inOverview");
        QTest::newRow("panel") << false;
        QTest::newRow("overview window") << true;
    }
    void withoutABrowserTheLinkShows()
    {
        QFETCH(bool, inOverview);
        AppContext context = f->context();
        context.urlOpener = &f->opener;
        WindowManager windows(context);
        std::unique_ptr<MenuBarView> panel;
        LoginView *login = nullptr;
        if (inOverview) {
            windows.open(WindowManager::Window::Overview);
            login = windows.window(WindowManager::Window::Overview)->findChild<LoginView *>();
        } else {
            panel = makeView();
            login = panel->loginView();
        }
        QVERIFY(login && login->isVisible() && login->shownLink().isEmpty());
        const QString page = f->service.baseUrl().resolved(QUrl(QStringLiteral("/auth/device-login"))).toString();

        f->opener.noBrowser = true;
        QSignalSpy shown(login, &LoginView::linkShown);
        login->findChild<ProminentButton *>()->click();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(login->shownLink(), page);
        const auto labels = login->findChildren<QLabel *>();
        const auto explanation = std::find_if(labels.begin(), labels.end(), [](const QLabel *label) {
            return label->isVisible() && label->text().startsWith(QStringLiteral("Fant ingen nettleser"));
        });
        QVERIFY(explanation != labels.end());
        // Every line of it shows, in the narrow panel and in the wide window alike.
        if (panel)
            panel->adjustSize(); // as the panel window does each time it shows
        QTRY_VERIFY((*explanation)->height() >= (*explanation)->heightForWidth((*explanation)->width()));
        for (PlainButton *button : login->findChildren<PlainButton *>()) {
            if (button->text() == QStringLiteral("Kopier"))
                button->click();
        }
        QCOMPARE(QGuiApplication::clipboard()->text(), page);

        // With a browser again the page opens and the address goes.
        f->opener.noBrowser = false;
        login->findChild<ProminentButton *>()->click();
        QCOMPARE(f->opener.opened, QList<QUrl>{QUrl(page)});
        QVERIFY(login->shownLink().isEmpty());
    }

    // However much room the window gives, the wordmark, the tagline and the button stay one stack in its middle.
    void loginViewIsOneCentredStack_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("panel width") << QSize(276, 300);
        QTest::newRow("overview minimum") << QSize(700, 400);
        QTest::newRow("overview default") << QSize(920, 560);
        QTest::newRow("large window") << QSize(1600, 1100);
    }
    void loginViewIsOneCentredStack()
    {
        QFETCH(QSize, size);
        LoginView view(*f->auth, f->opener);
        view.resize(size);
        view.show();
        view.layout()->activate();
        const QRect wordmark = view.findChild<VarnostimaWordmark *>()->geometry();
        const QLabel *tagline = view.findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(tagline->text(), QStringLiteral("Last opp bilder rett fra skrivebordet"));
        const QRect button = view.findChild<ProminentButton *>()->geometry();
        QCOMPARE(tagline->height(), tagline->heightForWidth(tagline->width()));
        QCOMPARE(tagline->geometry().top() - wordmark.bottom() - 1, 24);
        QCOMPARE(button.top() - tagline->geometry().bottom() - 1, 24);
        QVERIFY(qAbs(wordmark.top() - (view.height() - button.bottom() - 1)) <= 1);
        QCOMPARE(button.center().x(), view.rect().center().x());
    }

    // Signing in or out hides the button just pressed: the focus goes back to the panel, not to the next button
    // with a focus ring. Escape puts the popup away; the window form stays.
    void panelKeepsItsFocusAndClosesOnEscape()
    {
        MenuBarPanel popup(new MenuBarView(f->context(), f->opener, MenuBarActions{}), MenuBarPanel::Mode::Popup);
        popup.showNear(QRect());
        QVERIFY(QTest::qWaitForWindowActive(&popup));
        popup.content()->loginView()->findChild<ProminentButton *>()->setFocus();
        f->signIn();
        QCOMPARE(QApplication::focusWidget(), &popup);

        auto *logout = popup.content()->footer()->logoutButton();
        logout->setFocus();
        logout->click();
        QVERIFY(!f->auth->isAuthenticated());
        QCOMPARE(QApplication::focusWidget(), &popup);

        QTest::keyClick(&popup, Qt::Key_Escape);
        QVERIFY(popup.isHidden());

        MenuBarPanel window(new MenuBarView(f->context(), f->opener, MenuBarActions{}), MenuBarPanel::Mode::Window);
        window.showNear(QRect());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
    }

    // Uploads recorded while the panel is put away show when it opens, and it is measured with them: a panel
    // sized for the list it had before would cut the new rows off.
    void panelOpensWithWhatWasRecordedWhileHidden()
    {
        f->signIn();
        MenuBarPanel popup(new MenuBarView(f->context(), f->opener, MenuBarActions{}), MenuBarPanel::Mode::Popup);
        popup.showNear(QRect());
        const int emptyHeight = popup.height();
        popup.hide();
        f->history->setRecentUploads(f->uploads(4));
        popup.showNear(QRect());
        QCOMPARE(popup.content()->recentUploads()->rows().size(), 4);
        QVERIFY(popup.height() > emptyHeight);
        QCOMPARE(popup.height(), popup.sizeHint().height());
    }

    void panelPlacement_data()
    {
        QTest::addColumn<QRect>("icon");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("no icon: top right") << QRect() << QPoint(1920 - 8 - 300, 32 + 8);
        QTest::newRow("icon in a top bar") << QRect(1700, 4, 24, 24) << QPoint(1561, 32);
        QTest::newRow("icon at the right edge") << QRect(1900, 4, 20, 24) << QPoint(1612, 32);
        QTest::newRow("icon in a bottom bar") << QRect(100, 1050, 24, 24) << QPoint(8, 1050 - 4 - 200);
    }
    void panelPlacement()
    {
        QFETCH(QRect, icon);
        QFETCH(QPoint, expected);
        const QRect available(0, 32, 1920, 1048);
        QCOMPARE(MenuBarPanel::placement(icon, QSize(300, 200), available), expected);
    }
};

QTEST_MAIN(TestMenuBarView)
#include "tst_menubarview.moc"
