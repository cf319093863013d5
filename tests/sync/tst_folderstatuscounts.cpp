// The manager's counts of folders by status, and of the synced folders on each gallery, kept as entries change, must
// equal a count of the list after every step of a sequence of edits: single entries edited, folders appended by a
// refresh, the whole list replaced.

#include "sync/FolderStatusCounts.h"
#include "sync/SyncManager.h"

#include "support/TempTree.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {

const SyncDelays quiet{.refresh = 1h, .autoSync = 1h, .streamLatency = 1h, .settle = 0ms};

SyncStatus statusOf(QChar letter)
{
    switch (letter.toLatin1()) {
    case 's': return SyncStatus::syncing(0.5);
    case 'y': return SyncStatus::synced("g", "s", 1);
    case 'Y': return SyncStatus::synced("h", "t", 1);
    case 'f': return SyncStatus::failed("feil");
    case 'i': return SyncStatus::ignored();
    case 'r': return SyncStatus::removedLocally("g", "s");
    default: return SyncStatus::notSynced();
    }
}

SyncFolder folder(int serial, QChar status)
{
    SyncFolder f;
    f.name = f.displayName = f.relativePath = QStringLiteral("F%1").arg(serial);
    f.path = QStringLiteral("/eksport/") + f.name;
    f.imageCount = 1;
    f.status = statusOf(status);
    return f;
}

constexpr SyncStatus::Case allCases[] = {SyncStatus::Case::notSynced, SyncStatus::Case::syncing,
                                         SyncStatus::Case::synced,    SyncStatus::Case::failed,
                                         SyncStatus::Case::ignored,   SyncStatus::Case::removedLocally};

} // namespace

class TestFolderStatusCounts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Steps, separated by blanks: "=nsy" sets the whole list (one folder per status letter: n not synced, s syncing,
    // y synced, Y synced to another gallery, f failed, i ignored, r removed locally); "2f" edits entry 2 to that status; "+n" appends a new
    // folder through a refresh; "-1" takes entry 1 out of the list.
    void countsEqualARecount_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("one folder syncs and comes back") << "=yyy 1s 1y 1s 1y";
        QTest::newRow("a failure and its retry") << "=yfy 1s 1f 0s 0f 1y 0y";
        QTest::newRow("ignored and taken back") << "=nny 0i 1i 0n 2i";
        QTest::newRow("refresh appends, then they sync") << "=yy +n +n 2s 3s 2y 3f";
        QTest::newRow("the whole list replaced") << "=nnn 0s 1s =yyf 2s";
        QTest::newRow("an entry taken out while it syncs") << "=ysy -1 0s -0";
        QTest::newRow("a placeholder's failed deletion") << "=yr 1f -1";
        QTest::newRow("an edit to the same status") << "=y 0y 0y";
        QTest::newRow("emptied and filled again") << "=sf = +n 0s";
        QTest::newRow("folders moving between two galleries") << "=yYn 0Y 1y 2Y 0s 1Y -2 +Y 0y";
    }

    void countsEqualARecount()
    {
        QFETCH(QString, steps);
        testsupport::TempTree support;
        SyncManager manager(support.root(), quiet);
        int serial = 0;
        for (const QString &step : steps.split(u' ')) {
            const QList<SyncFolder> &folders = manager.folders();
            if (step.startsWith(u'=')) {
                QList<SyncFolder> list;
                for (const QChar letter : step.mid(1))
                    list.append(folder(serial++, letter));
                manager.setFolders(list);
            } else if (step.startsWith(u'+')) {
                QList<SyncFolder> scanned;
                QSet<QString> known;
                for (const SyncFolder &f : folders) {
                    known.insert(f.path);
                    if (!f.status.is(SyncStatus::Case::removedLocally))
                        scanned.append(f);
                }
                scanned.append(folder(serial++, step.at(1)));
                manager.mergeRefreshedFolders(scanned, known);
            } else if (step.startsWith(u'-')) {
                QList<SyncFolder> list = folders;
                list.removeAt(step.mid(1).toInt());
                manager.setFolders(list);
            } else {
                const qsizetype index = step.left(step.size() - 1).toInt();
                SyncFolder entry = folders.at(index);
                entry.status = statusOf(step.back());
                manager.setFolderEntry(index, entry);
            }
            for (const SyncStatus::Case status : allCases) {
                const auto expected = std::count_if(manager.folders().cbegin(), manager.folders().cend(),
                                                    [status](const SyncFolder &f) { return f.status.is(status); });
                QVERIFY2(manager.statusCounts().count(status) == expected,
                         qPrintable(QStringLiteral("after %1: %2 folders in status %3, counted %4")
                                        .arg(step)
                                        .arg(expected)
                                        .arg(int(status))
                                        .arg(manager.statusCounts().count(status))));
            }
            for (const SyncFolder &f : manager.folders()) {
                for (const QString &gallery : {QStringLiteral("g"), QStringLiteral("h")}) {
                    const bool held = std::any_of(manager.folders().cbegin(), manager.folders().cend(), [&](const SyncFolder &o) {
                        return o.path != f.path && o.status.is(SyncStatus::Case::synced) && o.status.galleryId() == gallery;
                    });
                    QVERIFY2(manager.galleryHeldByOtherFolder(f.path, gallery) == held,
                             qPrintable(QStringLiteral("after %1: %2 on gallery %3").arg(step, f.name, gallery)));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFolderStatusCounts)
#include "tst_folderstatuscounts.moc"
