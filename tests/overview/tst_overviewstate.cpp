#include "overview/OverviewState.h"

#include <QTest>

Q_DECLARE_METATYPE(OverviewContent)

class TestOverviewState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void content_data();
    void content();
    void scanTrigger_data();
    void scanTrigger();
};

void TestOverviewState::content_data()
{
    // Every combination of signed in, export folder, first reconcile completed and folders present.
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<int>("count");
    QTest::addColumn<OverviewContent>("content");
    using C = OverviewContent;
    for (int bits = 0; bits < 16; ++bits) {
        const bool signedIn = bits & 8, folder = bits & 4, completed = bits & 2;
        const int count = (bits & 1) ? 12 : 0;
        const C expected = !signedIn ? C::SignIn
                           : !folder ? C::ExportFolderPrompt
                           : !completed ? C::Loading
                           : count ? C::Browser
                                   : C::Empty;
        QTest::addRow("in=%d folder=%d done=%d count=%d", signedIn, folder, completed, count)
            << signedIn << folder << completed << count << expected;
    }
}

void TestOverviewState::content()
{
    QFETCH(bool, signedIn);
    QFETCH(bool, folder);
    QFETCH(bool, completed);
    QFETCH(int, count);
    QTEST(overviewContent(signedIn, folder, completed, count), "content");
}

void TestOverviewState::scanTrigger_data()
{
    // Steps: "show", "hide", "in" (sign in), "out" (sign out), "/path" (export folder). The keys of the tasks that
    // started, and which of them scanned.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("started");
    QTest::addColumn<int>("scans");

    QTest::newRow("first show, signed in with folder")
        << QStringList{"in", "/f", "show"} << QStringList{"true-/f"} << 1;
    QTest::newRow("changes while hidden start nothing")
        << QStringList{"in", "/f", "out", "in"} << QStringList{} << 0;
    QTest::newRow("sign in without folder, then choose one")
        << QStringList{"show", "in", "/Users/foto/Eksport"}
        << QStringList{"false-", "true-", "true-/Users/foto/Eksport"} << 1;
    QTest::newRow("sign out and in again") << QStringList{"in", "/f", "show", "out", "in"}
                                           << QStringList{"true-/f", "false-/f", "true-/f"} << 2;
    QTest::newRow("folder change") << QStringList{"in", "/a", "show", "/b"} << QStringList{"true-/a", "true-/b"}
                                   << 2;
    QTest::newRow("reopen scans again") << QStringList{"in", "/f", "show", "hide", "show"}
                                        << QStringList{"true-/f", "true-/f"} << 2;
    QTest::newRow("same key again starts nothing") << QStringList{"in", "/f", "show", "/f", "in"}
                                                   << QStringList{"true-/f"} << 1;
}

void TestOverviewState::scanTrigger()
{
    QFETCH(QStringList, steps);
    int scans = 0;
    QStringList started;
    quint64 generation = 0;
    ScanTrigger t([&] { ++scans; });
    ScanTrigger *trigger = &t;
    bool signedIn = false;
    QString folder;
    for (const QString &step : steps) {
        if (step == QLatin1String("show"))
            trigger->setShown(true);
        else if (step == QLatin1String("hide"))
            trigger->setShown(false);
        else if (step == QLatin1String("in") || step == QLatin1String("out"))
            trigger->setState(signedIn = step == QLatin1String("in"), folder);
        else
            trigger->setState(signedIn, folder = step);
        if (step != QLatin1String("hide") && trigger->generation() != generation)
            started << trigger->key();
        generation = trigger->generation();
    }
    QTEST(started, "started");
    QTEST(scans, "scans");
}

QTEST_GUILESS_MAIN(TestOverviewState)
#include "tst_overviewstate.moc"
