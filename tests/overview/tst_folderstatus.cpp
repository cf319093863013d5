#include "FolderZoo.h"
#include "overview/list/FolderStatusPresentation.h"
#include "overview/list/FolderStatusViews.h"

#include "ui/Theme.h"

#include <QTest>

#include <limits>

Q_DECLARE_METATYPE(FolderDisplayState)
Q_DECLARE_METATYPE(StatusTone)

class TestFolderStatus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void presentation_data();
    void presentation();
    void progress_data();
    void progress();
    void viewsFollowTheFolder();
};

void TestFolderStatus::presentation_data()
{
    QTest::addColumn<SyncFolder>("folder");
    QTest::addColumn<FolderDisplayState>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<StatusTone>("tone");
    QTest::addColumn<QString>("symbol");
    using S = FolderDisplayState;
    using T = StatusTone;
    const QString triangle = QStringLiteral("exclamationmark.triangle.fill");
    const QChar minus(0x2212);

    QTest::newRow("moved wins over failed")
        << zoo::moved(zoo::folder("A/x", SyncStatus::failed("Nei"))) << S::Moved << "Flyttet" << T::Purple
        << "arrow.triangle.branch";
    QTest::newRow("syncing half") << zoo::folder("x", SyncStatus::syncing(0.5)) << S::Syncing << "Laster opp 50%"
                                  << T::Orange << QString();
    QTest::newRow("synced clean") << zoo::changed("x", 0, 0) << S::Synced << "Synkronisert" << T::Green
                                  << "checkmark.circle.fill";
    QTest::newRow("synced without records") << zoo::folder("x", zoo::synced(3), 3) << S::Synced << "Synkronisert"
                                            << T::Green << "checkmark.circle.fill";
    QTest::newRow("every image deleted") << zoo::changed("x", 0, 2, 0) << S::Emptied << "Tom mappe" << T::Secondary
                                         << "tray";
    QTest::newRow("new and removed") << zoo::changed("x", 3, 2) << S::PendingChanges
                                     << QStringLiteral("+3 / %1").arg(minus) + "2" << T::Orange << triangle;
    QTest::newRow("removed only") << zoo::changed("x", 0, 2) << S::PendingChanges
                                  << QString(minus) + "2 fjernet" << T::Orange << triangle;
    QTest::newRow("new only") << zoo::changed("x", 3, 0) << S::PendingChanges << "+3 nye" << T::Orange << triangle;
    QTest::newRow("new by count, no records") << zoo::folder("x", zoo::synced(3), 5) << S::PendingChanges
                                              << "+2 nye" << T::Orange << triangle;
    QTest::newRow("modified only") << zoo::modified("x") << S::PendingChanges << "Endret" << T::Orange << triangle;
    QTest::newRow("baseline only") << zoo::needingBaseline("x") << S::PendingChanges << "Endret" << T::Orange
                                   << triangle;
    QTest::newRow("failed with message") << zoo::folder("x", SyncStatus::failed("Opplasting feilet")) << S::Failed
                                         << "Opplasting feilet" << T::Red << "exclamationmark.circle.fill";
    QTest::newRow("failed without message") << zoo::folder("x", SyncStatus::failed(QString())) << S::Failed
                                            << "Feilet" << T::Red << "exclamationmark.circle.fill";
    QTest::newRow("placeholder") << zoo::placeholder("g9", "Borte") << S::RemovedLocally << "Fjernet lokalt"
                                 << T::Red << "trash.circle.fill";
    QTest::newRow("ignored") << zoo::folder("x", SyncStatus::ignored()) << S::Ignored << "Ignorert"
                             << T::Secondary << "eye.slash.circle.fill";
    QTest::newRow("not synced, disk differs") << zoo::folder("x") << S::NotSynced << "Ikke synkronisert"
                                              << T::Blue << "arrow.up.circle.fill";
}

void TestFolderStatus::presentation()
{
    QFETCH(SyncFolder, folder);
    const auto p = FolderStatusPresentation::of(folder);
    QTEST(p.state, "state");
    QTEST(p.text, "text");
    QTEST(p.tone, "tone");
    QTEST(p.symbol, "symbol");
    QCOMPARE(hasPendingChanges(folder) && folder.status.is(SyncStatus::Case::synced) && !folder.movedFrom,
             p.state == FolderDisplayState::PendingChanges);
}

void TestFolderStatus::progress_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<int>("percent");
    QTest::newRow("0.57 stays 57") << 0.57 << 57;
    QTest::newRow("0.999 truncates") << 0.999 << 99;
    QTest::newRow("below 0") << -0.3 << 0;
    QTest::newRow("above 1") << 7.5 << 100;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0;
    QTest::newRow("+inf") << std::numeric_limits<double>::infinity() << 0;
    QTest::newRow("huge") << 1e300 << 100;
}

void TestFolderStatus::progress()
{
    QFETCH(double, fraction);
    QFETCH(int, percent);
    QCOMPARE(progressPercent(fraction), percent);
    QCOMPARE(FolderStatusPresentation::of(zoo::folder("x", SyncStatus::syncing(fraction))).text,
             QStringLiteral("Laster opp %1%").arg(percent));
}

void TestFolderStatus::viewsFollowTheFolder()
{
    FolderStatusIcon icon;
    FolderStatusLabel label;
    icon.setPalette(Theme::palette(Theme::Appearance::Dark));
    label.setPalette(Theme::palette(Theme::Appearance::Dark));
    icon.show();
    label.show();
    SyncFolder f = zoo::folder("x", SyncStatus::syncing(0.25));
    icon.setFolder(f);
    label.setFolder(f);
    QVERIFY(icon.isShowingSpinner());
    QCOMPARE(label.text(), QStringLiteral("Laster opp 25%"));

    f.status = zoo::synced(3);
    icon.setFolder(f);
    label.setFolder(f);
    QVERIFY(!icon.isShowingSpinner());
    QCOMPARE(label.text(), QStringLiteral("Synkronisert"));
    QCOMPARE(label.presentation().color(label.palette()),
             Theme::systemColor(Theme::SystemColor::Green, Theme::palette(Theme::Appearance::Dark)));
}

QTEST_MAIN(TestFolderStatus)
#include "tst_folderstatus.moc"
