#include "FolderZoo.h"
#include "overview/list/FolderCounters.h"
#include "overview/list/FolderTree.h"

#include <QTest>

using Folders = QList<SyncFolder>;
using Collapsed = QSet<QString>;

namespace {

// "id@depth" for each row, in display order.
QStringList describe(const QList<FlatTreeRow> &rows)
{
    QStringList out;
    for (const FlatTreeRow &row : rows)
        out << QStringLiteral("%1@%2").arg(row.id()).arg(row.depth);
    return out;
}

QString p(const char *relative)
{
    return QStringLiteral("/eksport/") + QLatin1String(relative);
}

} // namespace

class TestFolderTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rows_data();
    void rows();
    void nodeDisplayName_data();
    void nodeDisplayName();
    void countsAndCounters_data();
    void countsAndCounters();
};

void TestFolderTree::rows_data()
{
    QTest::addColumn<Folders>("folders");
    QTest::addColumn<Collapsed>("collapsed");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("visible");
    using zoo::folder;

    QTest::newRow("two nodes then top level")
        << Folders{folder("r"), folder("B/y"), folder("A/x")} << Collapsed{}
        << QStringList{"node-A@0", p("A/x") + "@1", "node-B@0", p("B/y") + "@1", p("r") + "@0"}
        << QStringList{p("A/x"), p("B/y"), p("r")};
    QTest::newRow("numeric and case-insensitive keys")
        << Folders{folder("10/a"), folder("2/a"), folder("b/a"), folder("A/a")} << Collapsed{}
        << QStringList{"node-2@0",  p("2/a") + "@1", "node-10@0", p("10/a") + "@1",
                       "node-A@0",  p("A/a") + "@1", "node-b@0",  p("b/a") + "@1"}
        << QStringList{p("2/a"), p("10/a"), p("A/a"), p("b/a")};
    QTest::newRow("nested: child nodes before own folders, input order kept")
        << Folders{folder("K/z"), folder("K/2024/Mai"), folder("K/a")} << Collapsed{}
        << QStringList{"node-K@0", "node-K/2024@1", p("K/2024/Mai") + "@2", p("K/z") + "@1", p("K/a") + "@1"}
        << QStringList{p("K/2024/Mai"), p("K/z"), p("K/a")};
    QTest::newRow("collapsed outer hides an expanded inner node")
        << Folders{folder("K/2024/Mai"), folder("r")} << Collapsed{"K"}
        << QStringList{"node-K@0", p("r") + "@0"} << QStringList{p("r")};
    QTest::newRow("collapsed inner keeps its header")
        << Folders{folder("K/2024/Mai"), folder("K/a")} << Collapsed{"K/2024", "gone"}
        << QStringList{"node-K@0", "node-K/2024@1", p("K/a") + "@1"} << QStringList{p("K/a")};
    QTest::newRow("a folder that is also a node shows twice")
        << Folders{folder("Kunde"), folder("Kunde/Bryllup")} << Collapsed{}
        << QStringList{"node-Kunde@0", p("Kunde/Bryllup") + "@1", p("Kunde") + "@0"}
        << QStringList{p("Kunde/Bryllup"), p("Kunde")};
    QTest::newRow("placeholder is top level")
        << Folders{zoo::placeholder("g7", "Borte"), folder("A/x")} << Collapsed{}
        << QStringList{"node-A@0", p("A/x") + "@1", "__removed__/g7@0"}
        << QStringList{p("A/x"), "__removed__/g7"};
}

void TestFolderTree::rows()
{
    QFETCH(Folders, folders);
    QFETCH(Collapsed, collapsed);
    const FolderTree tree = buildFolderTree(folders);
    QTEST(describe(flattenFolderTree(tree, collapsed)), "rows");
    QStringList visible;
    for (const SyncFolder &f : visibleFolders(tree, collapsed))
        visible << f.path;
    QTEST(visible, "visible");
}

void TestFolderTree::nodeDisplayName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("display");
    QTest::newRow("underscore hyphen underscore") << "bryllup_-_fest" << "bryllup  fest";
    QTest::newRow("trimmed") << " _x_ " << "x";
}

void TestFolderTree::nodeDisplayName()
{
    QFETCH(QString, name);
    const FolderTree tree = buildFolderTree({zoo::folder(name + "/leaf")});
    QCOMPARE(tree.nodes.size(), 1);
    QCOMPARE(tree.nodes.first().id, name);
    QTEST(tree.nodes.first().displayName, "display");
}

void TestFolderTree::countsAndCounters_data()
{
    // Every folder lies in node N; the columns are the node's summary, its counts (total, synced, changed,
    // unsynced, removed), the quick-actions counters and the status bar's counters.
    QTest::addColumn<Folders>("folders");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QList<qint64>>("counts");
    QTest::addColumn<QList<qint64>>("statistics"); // syncing, updating, moved, removed
    QTest::addColumn<QList<qint64>>("statusBar");  // folders, images, syncet, nye, flyttet, endret
    using namespace zoo;
    const QString dot = QStringLiteral(" \u00B7 ");

    QTest::newRow("3 clean, 2 new") << Folders{changed("N/a", 0, 0), changed("N/b", 0, 0), changed("N/c", 0, 0),
                                               folder("N/d"), folder("N/e", SyncStatus::failed("x"))}
                                    << "3/5" + dot + "2 nye" << QList<qint64>{5, 3, 0, 2, 0}
                                    << QList<qint64>{2, 0, 0, 0} << QList<qint64>{5, 12, 3, 2, 0, 0};
    QTest::newRow("baseline counts as changed") << Folders{needingBaseline("N/a")} << "1 endret"
                                                << QList<qint64>{1, 0, 1, 0, 0} << QList<qint64>{0, 1, 0, 0}
                                                << QList<qint64>{1, 2, 0, 0, 0, 1};
    QTest::newRow("modified, new, removed")
        << Folders{modified("N/a"), changed("N/b", 2, 0), changed("N/c", 0, 0)} << "1/3" + dot + "2 endret"
        << QList<qint64>{3, 1, 2, 0, 0} << QList<qint64>{0, 2, 0, 0} << QList<qint64>{3, 8, 1, 0, 0, 2};
    QTest::newRow("syncing and ignored count only in totals")
        << Folders{folder("N/a", SyncStatus::syncing(0.3)), folder("N/b", SyncStatus::ignored())} << ""
        << QList<qint64>{2, 0, 0, 0, 0} << QList<qint64>{0, 0, 0, 0} << QList<qint64>{2, 6, 0, 0, 0, 0};
    // A moved synced folder is only "moved" for the bar and the status bar; the node counts its status.
    QTest::newRow("moved synced") << Folders{moved(changed("N/a", 1, 0))} << "1 endret"
                                  << QList<qint64>{1, 0, 1, 0, 0} << QList<qint64>{0, 0, 1, 0}
                                  << QList<qint64>{1, 3, 0, 0, 1, 0};
    // Nothing syncs a failed move or deletion: the bar counts each where its row is, under no spinner.
    QTest::newRow("moved failed") << Folders{moved(folder("N/a", SyncStatus::failed("Flytting feilet: x")))}
                                  << "1 nye" << QList<qint64>{1, 0, 0, 1, 0} << QList<qint64>{0, 0, 1, 0}
                                  << QList<qint64>{1, 3, 0, 1, 1, 0};
    QTest::newRow("deletion failed") << Folders{failedDeletion("g1", "x"), changed("N/y", 0, 0)} << "Synkronisert"
                                     << QList<qint64>{1, 1, 0, 0, 0} << QList<qint64>{0, 0, 0, 1}
                                     << QList<qint64>{2, 2, 1, 1, 0, 0};
    QTest::newRow("placeholder top level, nested node") << Folders{placeholder("g1", "N"), changed("N/x/y", 0, 0)}
                                        << "Synkronisert" << QList<qint64>{1, 1, 0, 0, 0} << QList<qint64>{0, 0, 0, 1}
                                        << QList<qint64>{2, 2, 1, 1, 0, 0};
    QTest::newRow("removed in a node") << Folders{changed("N/a", 0, 0), folder("N/b", SyncStatus::removedLocally("g", "s"))}
                                       << "1/2" + dot + "1 fjernet" << QList<qint64>{2, 1, 0, 0, 1}
                                       << QList<qint64>{0, 0, 0, 1} << QList<qint64>{2, 5, 1, 1, 0, 0};
    QTest::newRow("every kind") << Folders{changed("N/a", 0, 0), folder("N/b"), changed("N/c", 0, 1),
                                           moved(changed("N/d", 0, 0)), placeholder("g2", "x")}
                                << "2/4" + dot + "1 nye" + dot + "1 endret" << QList<qint64>{4, 2, 1, 1, 0}
                                << QList<qint64>{1, 1, 1, 1} << QList<qint64>{5, 9, 1, 2, 1, 1};
}

void TestFolderTree::countsAndCounters()
{
    QFETCH(Folders, folders);
    QFETCH(QList<qint64>, counts);
    QFETCH(QList<qint64>, statistics);
    QFETCH(QList<qint64>, statusBar);

    const FolderTree tree = buildFolderTree(folders);
    const auto node = std::find_if(tree.nodes.cbegin(), tree.nodes.cend(),
                                   [](const FolderTreeNode &n) { return n.id == QLatin1String("N"); });
    QVERIFY(node != tree.nodes.cend());
    const NodeCounts c = nodeCounts(*node);
    QCOMPARE((QList<qint64>{c.total, c.synced, c.changed, c.unsynced, c.removed}), counts);
    QCOMPARE((QList<qint64>{totalFolderCount(*node), syncedFolderCount(*node), changedFolderCount(*node),
                            unsyncedFolderCount(*node), removedFolderCount(*node)}),
             counts);
    QTEST(nodeStatusSummaryText(c), "summary");

    const FolderStatistics s = folderStatistics(folders);
    QCOMPARE((QList<qint64>{s.syncingCount, s.updatingCount, s.movedCount, s.removedCount}), statistics);
    const StatusBarCounts b = statusBarCounts(folders);
    QCOMPARE((QList<qint64>{b.folderCount, b.imageCount, b.syncedCount, b.newCount, b.movedCount, b.changedCount}),
             statusBar);

    // Kept answers give the same counts: one cache across the rows (each list meets the previous row's answers at
    // the same places) and each list asked twice (the second time as the same list).
    static PendingChangesCache shared;
    for (int pass = 0; pass < 2; ++pass) {
        QVERIFY(folderStatistics(folders, shared) == s);
        QVERIFY(statusBarCounts(folders, shared) == b);
    }
}

QTEST_GUILESS_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
