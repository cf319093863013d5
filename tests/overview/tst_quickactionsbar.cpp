#include "FolderZoo.h"
#include "overview/QuickActionsBar.h"

#include "ui/Buttons.h"

#include <QCoroSignal>
#include <QTest>

namespace {

// Holds each move until the test lets it finish, as a slow service would.
class Gate : public QObject
{
    Q_OBJECT
public:
    QStringList started;
    QStringList finished;
    void open() { Q_EMIT opened(); }
Q_SIGNALS:
    void opened();
};

QCoro::Task<void> gatedMove(Gate *gate, SyncFolder folder)
{
    gate->started << folder.name;
    co_await qCoro(gate, &Gate::opened);
    gate->finished << folder.name;
}

} // namespace

class TestQuickActionsBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data();
    void texts();
    void movesOneAfterAnotherAndIgnoresASecondPress();
};

void TestQuickActionsBar::texts_data()
{
    QTest::addColumn<QList<SyncFolder>>("folders");
    QTest::addColumn<QStringList>("shown"); // empty: the bar takes no room; which folder counts where is with the tree
    using namespace zoo;
    QTest::newRow("all clean or ignored") << QList<SyncFolder>{changed("a", 0, 0), folder("b", SyncStatus::ignored())}
                                          << QStringList{};
    QTest::newRow("not synced and failed") << QList<SyncFolder>{folder("a"), folder("b", SyncStatus::failed("x"))}
                                           << QStringList{"2 synkroniseres…"};
    QTest::newRow("failed move and deletion")
        << QList<SyncFolder>{moved(folder("m", SyncStatus::failed("Flytting feilet: x"))), placeholder("g", "x"),
                             failedDeletion("h", "y")}
        << QStringList{"1 flyttet — Flytt", "2 fjernet lokalt"};
    QTest::newRow("one of each, in order")
        << QList<SyncFolder>{placeholder("g", "x"), moved(changed("m", 0, 0)), needingBaseline("u"), folder("n")}
        << QStringList{"1 synkroniseres…", "1 oppdateres…", "1 flyttet — Flytt", "1 fjernet lokalt"};
}

void TestQuickActionsBar::texts()
{
    QFETCH(QList<SyncFolder>, folders);
    QFETCH(QStringList, shown);
    QuickActionsBar bar({});
    bar.show();
    bar.setFolders(folders);
    QCOMPARE(bar.isVisible(), !shown.isEmpty());
    QCOMPARE(bar.shownTexts(), shown);
    // Only a synced folder can be moved: a failed move alone leaves the button with nothing to do.
    QCOMPARE(bar.moveButton()->isEnabled(), std::any_of(folders.cbegin(), folders.cend(), isMovableFolder));
}

void TestQuickActionsBar::movesOneAfterAnotherAndIgnoresASecondPress()
{
    Gate gate;
    QuickActionsBar bar([&gate](SyncFolder folder) { return gatedMove(&gate, std::move(folder)); });
    bar.show();
    bar.setFolders({zoo::moved(zoo::changed("A/en", 0, 0)), zoo::changed("to", 0, 0),
                    zoo::moved(zoo::folder("tre", SyncStatus::failed("x"))), zoo::moved(zoo::changed("fire", 0, 0))});
    QCOMPARE(bar.shownTexts().last(), QStringLiteral("3 flyttet — Flytt"));

    QTest::mouseClick(bar.moveButton(), Qt::LeftButton);
    QVERIFY(bar.isMoving());
    QCOMPARE(gate.started, QStringList{"en"});
    bar.moveAllMovedFolders(); // a second press while the first run goes on
    QCOMPARE(gate.started, QStringList{"en"});

    gate.open();
    QTRY_COMPARE_WITH_TIMEOUT(gate.started, (QStringList{"en", "fire"}), 30000);
    QCOMPARE(gate.finished, QStringList{"en"});
    QVERIFY(bar.isMoving());
    gate.open();
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isMoving(), 30000);
    QCOMPARE(gate.finished, (QStringList{"en", "fire"}));
    QVERIFY(bar.moveButton()->isEnabled());
}

QTEST_MAIN(TestQuickActionsBar)
#include "tst_quickactionsbar.moc"
