#include "FolderZoo.h"
#include "overview/list/FolderListView.h"
#include "overview/list/FolderRowDelegate.h"
#include "support/ShownText.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Node A with a1 and a2, node B/C with c1, top-level r.
QList<SyncFolder> tree()
{
    return {zoo::folder("A/a1"), zoo::folder("r"), zoo::folder("A/a2"), zoo::folder("B/C/c1")};
}

QString p(const QString &relative)
{
    return relative.isEmpty() ? QString() : QStringLiteral("/eksport/") + relative;
}

} // namespace

class TestFolderListView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keys_data();
    void keys();
    void mouse();
    void selectionSurvivesVanishing();
    void progressChangesOneRow();
    void collapsingMovesRowsWithoutReset();
    void deepRowsKeepNameAndStatus_data();
    void deepRowsKeepNameAndStatus();
    void failureToolTipIsText();
};

void TestFolderListView::keys_data()
{
    QTest::addColumn<QStringList>("collapsed");
    QTest::addColumn<QString>("selected"); // relative path, empty for none
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("opened"); // what Return opened, empty for nothing

    QTest::newRow("none, down: first") << QStringList{} << "" << int(Qt::Key_Down) << "A/a1" << "";
    QTest::newRow("none, up: first too") << QStringList{} << "" << int(Qt::Key_Up) << "A/a1" << "";
    QTest::newRow("down across nodes") << QStringList{} << "A/a2" << int(Qt::Key_Down) << "B/C/c1" << "";
    QTest::newRow("up") << QStringList{} << "B/C/c1" << int(Qt::Key_Up) << "A/a2" << "";
    QTest::newRow("last, down: stays") << QStringList{} << "r" << int(Qt::Key_Down) << "r" << "";
    QTest::newRow("first, up: stays") << QStringList{} << "A/a1" << int(Qt::Key_Up) << "A/a1" << "";
    QTest::newRow("hidden selection, down: first visible")
        << QStringList{"A"} << "A/a2" << int(Qt::Key_Down) << "B/C/c1" << "";
    QTest::newRow("inner collapsed skipped") << QStringList{"B/C"} << "A/a2" << int(Qt::Key_Down) << "r" << "";
    QTest::newRow("vanished selection, up: first")
        << QStringList{} << "gone" << int(Qt::Key_Up) << "A/a1" << "";
    QTest::newRow("return opens") << QStringList{} << "A/a2" << int(Qt::Key_Return) << "A/a2" << "A/a2";
    QTest::newRow("return opens a hidden selection")
        << QStringList{"A"} << "A/a1" << int(Qt::Key_Return) << "A/a1" << "A/a1";
    QTest::newRow("return without selection") << QStringList{} << "" << int(Qt::Key_Return) << "" << "";
    QTest::newRow("return on a vanished selection") << QStringList{} << "gone" << int(Qt::Key_Return) << "gone"
                                                    << "";
}

void TestFolderListView::keys()
{
    QFETCH(QStringList, collapsed);
    QFETCH(QString, selected);
    QFETCH(int, key);

    FolderListView view;
    view.setFolders(tree());
    view.setCollapsedNodes(QSet<QString>(collapsed.cbegin(), collapsed.cend()));
    if (!selected.isEmpty())
        view.setSelectedFolderId(p(selected));
    QStringList openedPaths;
    view.setOnDoubleClick([&openedPaths](const SyncFolder &f) { openedPaths << f.path; });

    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
    QVERIFY(event.isAccepted());
    QFETCH(QString, expected);
    QCOMPARE(view.selectedFolderId().value_or(QString()), p(expected));
    QFETCH(QString, opened);
    QCOMPARE(openedPaths, opened.isEmpty() ? QStringList{} : QStringList{p(opened)});
}

void TestFolderListView::mouse()
{
    FolderListView view;
    view.resize(500, 600);
    view.setFolders(tree());
    QStringList opened;
    view.setOnDoubleClick([&opened](const SyncFolder &f) { opened << f.path; });
    view.show();
    const auto centre = [&view](const QString &id) {
        return view.visualRect(view.rowModel()->index(*view.rowModel()->rowOfId(id))).center();
    };

    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centre(p("A/a2")));
    QCOMPARE(view.selectedFolderId(), std::optional<QString>(p("A/a2")));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centre("node-A"));
    QCOMPARE(view.collapsedNodes(), QSet<QString>{"A"});
    QVERIFY(!view.rowModel()->rowOfId(p("A/a1")));
    QCOMPARE(view.selectedFolderId(), std::optional<QString>(p("A/a2"))); // kept while hidden
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centre(p("r")));
    QCOMPARE(view.selectedFolderId(), std::optional<QString>(p("r")));
    QCOMPARE(opened, QStringList{p("r")});
}

void TestFolderListView::selectionSurvivesVanishing()
{
    FolderListView view;
    view.setFolders(tree());
    view.setSelectedFolderId(p("A/a2"));
    QSignalSpy changed(&view, &FolderListView::selectedFolderIdChanged);
    QList<SyncFolder> without = tree();
    without.removeAt(2);
    view.setFolders(without);
    view.setFolders(tree());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(view.selectedFolderId(), std::optional<QString>(p("A/a2")));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(&view, &down);
    QCOMPARE(view.selectedFolderId(), std::optional<QString>(p("B/C/c1")));
}

void TestFolderListView::progressChangesOneRow()
{
    FolderRowModel model;
    QList<SyncFolder> folders = tree();
    folders[2].status = SyncStatus::syncing(0.25);
    model.setFolders(folders);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy dataChanged(&model, &QAbstractItemModel::dataChanged);

    folders[2].status = SyncStatus::syncing(0.5);
    model.setFolders(folders);
    QCOMPARE(reset.count() + inserted.count() + removed.count(), 0);
    QCOMPARE(dataChanged.count(), 1);
    const int row = *model.rowOfId(p("A/a2"));
    QCOMPARE(dataChanged.first().at(0).toModelIndex().row(), row);
    QCOMPARE(dataChanged.first().at(1).toModelIndex().row(), row);
    QCOMPARE(model.index(row).data(FolderRowModel::StatusTextRole).toString(), QStringLiteral("Laster opp 50%"));

    // Finishing changes the row and its node's header (its counts), nothing else.
    dataChanged.clear();
    folders[2].status = zoo::synced(3);
    model.setFolders(folders);
    QCOMPARE(reset.count() + inserted.count() + removed.count(), 0);
    QList<int> rows;
    for (const auto &args : dataChanged)
        for (int r = args.at(0).toModelIndex().row(); r <= args.at(1).toModelIndex().row(); ++r)
            rows << r;
    QCOMPARE(rows, (QList<int>{*model.rowOfId("node-A"), row}));
    QCOMPARE(model.index(0).data(FolderRowModel::StatusTextRole).toString(), QStringLiteral("1/2 \u00B7 1 nye"));
}

void TestFolderListView::collapsingMovesRowsWithoutReset()
{
    FolderRowModel model;
    model.setFolders(tree());
    const int before = model.rowCount();
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.setCollapsedNodes({"A"});
    QCOMPARE(reset.count(), 0);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(model.rowCount(), before - 2);
    QVERIFY(!model.index(0).data(FolderRowModel::IsExpandedRole).toBool());
    model.setCollapsedNodes({});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.rowCount(), before);
    QCOMPARE(reset.count(), 0);
}

void TestFolderListView::deepRowsKeepNameAndStatus_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("width"); // of the list's viewport
    QTest::addColumn<int>("indent");
    QTest::newRow("shallow") << 3 << 380 << 60;
    QTest::newRow("15 levels, narrow list") << 15 << 360 << 76;
    QTest::newRow("40 levels, narrow list") << 40 << 360 << 76;
    QTest::newRow("15 levels, wide list") << 15 << 700 << 300;
    QTest::newRow("40 levels, wide list") << 40 << 700 << 416;
}

void TestFolderListView::deepRowsKeepNameAndStatus()
{
    QFETCH(int, depth);
    QFETCH(int, width);
    QFETCH(int, indent);
    using D = FolderRowDelegate;
    QCOMPARE(D::indent(depth, width), indent);
    QVERIFY(D::indent(depth + 1, width) >= indent);

    // Symbol, then at least a few letters of the name, then the whole status, all inside the card.
    const D::LeafGeometry leaf = D::leafGeometry(QRect(0, 0, width, D::kLeafHeight + D::kLeafGap), depth,
                                                 QStringLiteral("Synkronisert"));
    QVERIFY(leaf.card.left() >= D::kListPadding);
    QVERIFY(leaf.symbol.right() <= leaf.name.left());
    QVERIFY2(leaf.name.width() >= 60, qPrintable(QString::number(leaf.name.width())));
    QVERIFY(leaf.name.right() <= leaf.capsule.left());
    QVERIFY(leaf.capsule.right() <= leaf.card.right());
    QCOMPARE(leaf.status, QStringLiteral("Synkronisert"));

    const D::HeaderGeometry header = D::headerGeometry(QRect(0, 0, width, D::kHeaderHeight + D::kHeaderGap), depth,
                                                       70, 14);
    QVERIFY(header.chevron.left() >= D::kListPadding);
    QVERIFY(header.chevron.right() <= header.symbol.left());
    QVERIFY(header.symbol.right() <= header.name.left());
    QVERIFY2(header.name.width() >= 60, qPrintable(QString::number(header.name.width())));
    QVERIFY(header.name.right() <= header.summary.left());
    QVERIFY(header.summary.right() <= header.count.left());
    QVERIFY(header.count.right() <= width - D::kListPadding);
}

QTEST_MAIN(TestFolderListView)
// A failure message quotes what the service or the disk said: a row's tooltip shows it as written.
void TestFolderListView::failureToolTipIsText()
{
    FolderRowModel model;
    const QString message = QStringLiteral("<a href=x>Serverfeil</a> for <b>Fet mappe");
    model.setFolders({zoo::folder("a", SyncStatus::failed(message))});
    QCOMPARE(testsupport::shownToolTip(model.index(0).data(Qt::ToolTipRole).toString()), message);
}

#include "tst_folderlistview.moc"
