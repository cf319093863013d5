// Each window opens once and is raised again, and closes from the keyboard; without a tray host the panel becomes a
// window of its own.

#include "app/CheckForUpdatesViewModel.h"
#include "app/WindowManager.h"
#include "app/menubar/LoginView.h"
#include "app/menubar/MenuBarPanel.h"
#include "app/menubar/TrayController.h"
#include "overview/detail/ImagePreviewSheet.h"
#include "support/PanelFixture.h"
#include "platform/Updater.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(QKeyCombination)

class TestWindowManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachWindowOpensOnce_data()
    {
        QTest::addColumn<WindowManager::Window>("window");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("rebuiltAfterClose"); // its content is read afresh on each opening
        QTest::newRow("overview") << WindowManager::Window::Overview << "Varnostima" << false;
        QTest::newRow("settings") << WindowManager::Window::Settings << "Innstillinger" << true;
        QTest::newRow("about") << WindowManager::Window::About << "Om Varnostima" << true;
    }
    void eachWindowOpensOnce()
    {
        QFETCH(WindowManager::Window, window);
        QFETCH(QString, title);
        QFETCH(bool, rebuiltAfterClose);
        panel::Fixture f;
        WindowManager windows(f.context());
        QVERIFY(!windows.window(window));
        windows.open(window);
        QPointer<QWidget> first = windows.window(window);
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->windowTitle(), title);

        windows.open(window); // asking again raises the open one
        QCOMPARE(windows.window(window), first.data());

        first->close();
        QTRY_COMPARE(first.isNull(), rebuiltAfterClose);
        windows.open(window);
        QVERIFY(windows.window(window)->isVisible());
        QCOMPARE(windows.window(window) == first.data(), !rebuiltAfterClose);
        const auto open = QApplication::topLevelWidgets();
        QCOMPARE(std::count_if(open.begin(), open.end(), [&](QWidget *w) { return w->windowTitle() == title; }), 1);
    }

    // Ctrl+W closes each window, Escape the settings and about windows; the overview leaves Escape to what is in
    // it, such as the preview sheet, which closes with either key and leaves the overview open.
    void keyboardCloses_data()
    {
        QTest::addColumn<WindowManager::Window>("window");
        QTest::addColumn<bool>("sheet"); // the keys go to a preview sheet over the window
        QTest::addColumn<QKeyCombination>("keys");
        QTest::addColumn<bool>("closes");
        using W = WindowManager::Window;
        const QKeyCombination ctrlW(Qt::ControlModifier, Qt::Key_W);
        const QKeyCombination escape(Qt::Key_Escape);
        QTest::newRow("overview, Ctrl+W") << W::Overview << false << ctrlW << true;
        QTest::newRow("overview, Escape") << W::Overview << false << escape << false;
        QTest::newRow("overview, W") << W::Overview << false << QKeyCombination(Qt::Key_W) << false;
        QTest::newRow("sheet, Ctrl+W") << W::Overview << true << ctrlW << false;
        QTest::newRow("sheet, Escape") << W::Overview << true << escape << false;
        QTest::newRow("settings, Ctrl+W") << W::Settings << false << ctrlW << true;
        QTest::newRow("settings, Escape") << W::Settings << false << escape << true;
        QTest::newRow("settings, Shift+Escape") << W::Settings << false << QKeyCombination(Qt::ShiftModifier, Qt::Key_Escape)
                                                << false;
        QTest::newRow("about, Ctrl+W") << W::About << false << ctrlW << true;
        QTest::newRow("about, Escape") << W::About << false << escape << true;
    }
    void keyboardCloses()
    {
        QFETCH(WindowManager::Window, window);
        QFETCH(bool, sheet);
        QFETCH(QKeyCombination, keys);
        QFETCH(bool, closes);
        panel::Fixture f;
        WindowManager windows(f.context());
        windows.open(window);
        QPointer<QWidget> shown = windows.window(window);
        QPointer<QWidget> active = shown;
        if (sheet) {
            active = new ImagePreviewSheet({QUrl::fromLocalFile(QStringLiteral("/nowhere/a.jpg"))}, 0, {}, shown);
            active->show();
        }
        QApplication::setActiveWindow(active);
        QVERIFY(QTest::qWaitForWindowActive(active));
        // Where a person's key goes: the focused widget inside, else the window.
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : active.data();
        QTest::keyClick(target, keys.key(), keys.keyboardModifiers());
        if (sheet)
            QVERIFY(!active->isVisible());
        QCOMPARE(!shown || !shown->isVisible(), closes);
    }

    // All of a window, its title bar included, lies on the screen's free area when it opens: on a screen smaller
    // than the window, and when it was left partly off the screen before it was closed.
    void opensWithinTheScreen_data()
    {
        QTest::addColumn<WindowManager::Window>("window");
        QTest::addColumn<QPoint>("leftAt"); // where it stood when closed; null: its first opening
        using W = WindowManager::Window;
        QTest::newRow("overview") << W::Overview << QPoint();
        QTest::newRow("settings") << W::Settings << QPoint();
        QTest::newRow("about") << W::About << QPoint();
        QTest::newRow("overview left below the edge") << W::Overview << QPoint(40, 400);
        QTest::newRow("overview left off the top left") << W::Overview << QPoint(-300, -200);
        QTest::newRow("settings left off the right") << W::Settings << QPoint(700, 100);
    }
    void opensWithinTheScreen()
    {
        QFETCH(WindowManager::Window, window);
        QFETCH(QPoint, leftAt);
        panel::Fixture f;
        WindowManager windows(f.context());
        windows.open(window);
        if (!leftAt.isNull()) {
            windows.window(window)->move(leftAt);
            windows.window(window)->close();
            windows.open(window);
        }
        QWidget *shown = windows.window(window);
        const QRect available = shown->screen()->availableGeometry();
        QCOMPARE(available.united(shown->frameGeometry()), available);
    }

    void overviewMenuHasTheApplicationCommands()
    {
        panel::Fixture f;
        FakeUpdater updater;
        CheckForUpdatesViewModel updates(updater);
        AppContext context = f.context();
        context.updates = &updates;
        WindowManager windows(context);
        windows.open(WindowManager::Window::Overview);
        auto *overview = qobject_cast<QMainWindow *>(windows.window(WindowManager::Window::Overview));
        QVERIFY(overview);
        QStringList texts;
        QAction *about = nullptr;
        for (QAction *action : overview->menuBar()->actions().first()->menu()->actions()) {
            texts << action->text();
            if (action->text() == QLatin1String("Om Varnostima"))
                about = action;
        }
        QCOMPARE(texts, (QStringList{"Om Varnostima", "Se etter oppdateringer…"}));
        about->trigger();
        QVERIFY(windows.window(WindowManager::Window::About) && windows.window(WindowManager::Window::About)->isVisible());
    }

    // The icon's menu names and orders its commands as the panel and the application menu do.
    void trayMenuFollowsThePanelsWords_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("signed out") << false
                                    << QStringList{"Logg inn med Google", "Vis panel", "", "Innstillinger", "Om Varnostima",
                                                   "Se etter oppdateringer…", "", "Avslutt"};
        QTest::newRow("signed in") << true
                                   << QStringList{"Åpne oversikt", "Vis panel", "", "Innstillinger", "Om Varnostima",
                                                  "Se etter oppdateringer…", "", "Logg ut", "Avslutt"};
    }
    void trayMenuFollowsThePanelsWords()
    {
        QFETCH(bool, signedIn);
        QFETCH(QStringList, texts);
        panel::Fixture f;
        if (signedIn)
            f.signIn();
        FakeUpdater updater;
        TrayController tray(f.context(), f.opener, updater, {});
        QStringList shown;
        for (const QAction *action : tray.menu()->actions()) {
            if (action->isVisible())
                shown << action->text();
        }
        QCOMPARE(shown, texts);
    }

    void withoutTrayThePanelIsAWindow()
    {
        panel::Fixture f;
        FakeUpdater updater;
        TrayController tray(f.context(), f.opener, updater, {});
        QSignalSpy ready(&tray, &TrayController::ready);
        tray.start();
        QVERIFY(ready.wait(20000));
        QCOMPARE(ready.first().first().toBool(), false);
        QVERIFY(!tray.trayIcon());
        QCOMPARE(tray.panel()->mode(), MenuBarPanel::Mode::Window);
        QCOMPARE(tray.panel()->windowTitle(), QStringLiteral("Varnostima"));
        QVERIFY(tray.panel()->isVisible());

        // Closed by the user, it comes back when the application is started again.
        tray.panel()->close();
        QVERIFY(!tray.panel()->isVisible());
        tray.showPanel();
        QVERIFY(tray.panel()->isVisible());

        // Signing in from the icon's menu where no browser takes the page brings the panel with its address.
        tray.panel()->close();
        f.opener.noBrowser = true;
        for (QAction *action : tray.menu()->actions()) {
            if (action->text() == QLatin1String("Logg inn med Google"))
                action->trigger();
        }
        QVERIFY(tray.panel()->isVisible());
        QVERIFY(!tray.panel()->content()->loginView()->shownLink().isEmpty());
    }
};

QTEST_MAIN(TestWindowManager)
#include "tst_windowmanager.moc"
