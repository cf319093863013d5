// A refresh that reads only what the file-system events name must leave the folder list exactly as a refresh that
// reads the whole export folder: random changes to a generated tree, the engine's own event stream, and after each
// round the list compared with what the full scan merges into the same list.

#include "UploadTestFixture.h"

#include "support/AwaitTask.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <filesystem>

using namespace std::chrono_literals;
using testsupport::StandInService;
using testsupport::TempTree;

namespace {

const QByteArray token = "tok-1";
// The refresh and automatic sync run only when the test runs them.
const SyncDelays manualDelays{.refresh = 1h, .autoSync = 1h, .streamLatency = 50ms, .settle = 0ms};
constexpr int rounds = 6;

// Random names and changes drawn from one seed. Hidden names, non-images, upper-case extensions and a folder
// written once precomposed and once decomposed are among them.
class Mutator
{
public:
    Mutator(TempTree &tree, quint32 seed) : m_tree(tree), m_rng(seed) {}

    void generate()
    {
        for (int i = 0; i < 6; ++i)
            addFolder(QString(), 2);
        if (pick(3) == 0) {
            addImagesTo(QStringLiteral("S\u00e9ance")); // two folders whose names differ only in normalisation
            addImagesTo(QStringLiteral("Se\u0301ance"));
        }
    }

    // One to four changes; returns what they were, for the failure message.
    QStringList mutate()
    {
        QStringList done;
        const int count = 1 + pick(4);
        for (int i = 0; i < count; ++i)
            done.append(mutateOnce());
        return done;
    }

private:
    int pick(int bound) { return int(m_rng.bounded(bound)); }

    QString name(bool folder)
    {
        static const QStringList stems{"a", "B", "Fest", "2024", "sommer_tur", "Bryllup på Ås", "x-y", "K"};
        static const QStringList extensions{".jpg", ".JPG", ".jpeg", ".png", ".webp", ".txt", ""};
        QString result = (pick(6) == 0 ? QStringLiteral(".") : QString()) + stems.at(pick(stems.size()))
                         + QString::number(pick(20));
        if (!folder)
            result += extensions.at(pick(extensions.size()));
        return result;
    }

    // Every folder below the root, hidden ones included, relative to the root.
    QStringList folders() const
    {
        QStringList result;
        QDirIterator it(m_tree.root(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            result.append(QDir(m_tree.root()).relativeFilePath(it.next()));
        result.sort();
        return result;
    }
    QStringList files() const
    {
        QStringList result;
        QDirIterator it(m_tree.root(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (it.hasNext())
            result.append(QDir(m_tree.root()).relativeFilePath(it.next()));
        result.sort();
        return result;
    }
    QString anyFolder(bool withRoot)
    {
        QStringList candidates = folders();
        if (withRoot || candidates.isEmpty())
            candidates.prepend(QString());
        return candidates.at(pick(candidates.size()));
    }
    static QString join(const QString &folder, const QString &name)
    {
        return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
    }

    void addImagesTo(const QString &folder)
    {
        m_tree.addDir(folder);
        for (int i = pick(4); i >= 0; --i)
            m_tree.addFile(join(folder, name(false)), 1 + pick(5000));
    }
    void addFolder(const QString &parent, int depth)
    {
        const QString folder = join(parent, name(true));
        addImagesTo(folder);
        for (int i = depth > 0 ? pick(3) : 0; i > 0; --i)
            addFolder(folder, depth - 1);
    }
    static void move(const QString &from, const QString &to)
    {
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(), error);
    }

    QString mutateOnce()
    {
        const QStringList allFiles = files();
        switch (pick(7)) {
        case 0: {
            const QString file = join(anyFolder(false), name(false));
            m_tree.addFile(file, 1 + pick(5000));
            return "add " + file;
        }
        case 1:
            if (!allFiles.isEmpty()) {
                const QString file = allFiles.at(pick(allFiles.size()));
                QFile::remove(m_tree.path(file));
                return "delete " + file;
            }
            break;
        case 2:
            if (!allFiles.isEmpty()) {
                const QString file = allFiles.at(pick(allFiles.size()));
                const QString to = join(anyFolder(false), name(false));
                move(m_tree.path(file), m_tree.path(to));
                return "move " + file + " to " + to;
            }
            break;
        case 3:
            if (!allFiles.isEmpty()) {
                const QString file = allFiles.at(pick(allFiles.size()));
                if (pick(2) == 0) {
                    QFile out(m_tree.path(file));
                    if (out.open(QIODevice::Append))
                        out.write(QByteArray(1 + pick(100), 'x'));
                    return "grow " + file;
                }
                TempTree::setMtime(m_tree.path(file), 1.6e9 + pick(100000));
                return "touch " + file;
            }
            break;
        case 4: {
            const QString parent = anyFolder(true);
            addFolder(parent, 1);
            return "add a folder in /" + parent;
        }
        case 5: {
            const QString folder = anyFolder(false);
            if (!folder.isEmpty()) {
                QDir(m_tree.path(folder)).removeRecursively();
                return "delete " + folder;
            }
            break;
        }
        default: {
            const QString folder = anyFolder(false);
            const QString parent = anyFolder(true);
            if (folder.isEmpty() || parent == folder || parent.startsWith(folder + '/'))
                break;
            const QString to = join(parent, name(true));
            move(m_tree.path(folder), m_tree.path(to));
            return "move " + folder + " to " + to;
        }
        }
        return QStringLiteral("nothing");
    }

    TempTree &m_tree;
    QRandomGenerator m_rng;
};

// The first field in which two lists differ, or nothing.
QString difference(const QList<SyncFolder> &actual, const QList<SyncFolder> &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("%1 entries instead of %2").arg(actual.size()).arg(expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        const SyncFolder &a = actual.at(i);
        const SyncFolder &e = expected.at(i);
        if (a.path != e.path)
            return QStringLiteral("entry %1 is %2 instead of %3").arg(i).arg(a.relativePath, e.relativePath);
        if (!(a == e))
            return QStringLiteral("%1 has %2 images instead of %3, or other caches")
                .arg(a.relativePath)
                .arg(a.imageCount)
                .arg(e.imageCount);
    }
    return {};
}

} // namespace

class TestPartialRefresh : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void equalsFullScanAfterRandomChanges_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {11u, 12u, 13u, 14u, 15u, 16u})
            QTest::addRow("seed %u", seed) << seed;
    }

    void equalsFullScanAfterRandomChanges()
    {
        QFETCH(quint32, seed);
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree referenceSupport;
        TempTree tree;
        Mutator mutator(tree, seed);
        mutator.generate();

        VarnostimaAPI api;
        api.setCredentials(service.baseUrl(), QString::fromLatin1(token));
        SyncManager manager(support.root(), manualDelays);
        manager.setAPI(api);
        manager.setWatchFolder(tree.root());
        QTRY_VERIFY_WITH_TIMEOUT(manager.hasCompletedInitialReconcile() && !manager.isReconciling(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(manager.isWatching(), 20000);
        // The start's scan read the tree after the watches were in place: from here on the events name what changed.
        QVERIFY(manager.pendingRefreshScope().isEmpty());

        // Some folders synced, so that a vanished one and a new one of the same name look like a move.
        QRandomGenerator statuses(seed);
        QList<SyncFolder> folders = manager.folders();
        for (SyncFolder &folder : folders) {
            if (statuses.bounded(2) == 0)
                folder.status = SyncStatus::synced("g-" + folder.relativePath, "s", folder.imageCount);
        }
        manager.setFolders(folders);

        SyncManager reference(referenceSupport.root(), manualDelays);
        for (int round = 0; round < rounds; ++round) {
            const QStringList changes = mutator.mutate();
            // Everything before the marker has reached the engine once the marker has.
            const QString marker = QStringLiteral("zz-marker-%1").arg(round);
            tree.addDir(marker);
            QTRY_VERIFY_WITH_TIMEOUT(manager.pendingRefreshScope().isEverything()
                                         || manager.pendingRefreshScope().trees().contains(marker),
                                     20000);

            const QList<SyncFolder> before = manager.folders();
            QSet<QString> known;
            for (const SyncFolder &folder : before)
                known.insert(folder.path);
            testsupport::awaitTask(manager.refreshNow());

            reference.setFolders(before);
            reference.mergeRefreshedFolders(SyncManager::scanFolderTree(tree.root(), manager.ignoredPaths()), known);
            const QString diff = difference(manager.folders(), reference.folders());
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("seed %1, round %2 after %3: %4")
                                                    .arg(seed)
                                                    .arg(round)
                                                    .arg(changes.join(QStringLiteral("; ")), diff)));
            // A possible move asks for a full scan and reconcile: let it end before the next round.
            QTRY_VERIFY_WITH_TIMEOUT(!manager.isReconciling(), 20000);
        }
    }

    // Changes of images in folders that exist: the events name those folders alone, and the refresh compares only
    // their entries. Steps: "+A/x.jpg" adds an image, "-A/0.jpg" deletes one, "*A/0.jpg" grows one, "~A/0.jpg"
    // touches one.
    void imageChangesEqualFullScan_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("an image added") << "+A/new.jpg";
        QTest::newRow("an image deleted") << "-A/1.jpg";
        QTest::newRow("a folder's last image deleted") << "-B/0.jpg";
        QTest::newRow("grown and touched") << "*A/0.jpg ~C/D/0.jpg";
        QTest::newRow("the first image of a folder without any") << "+E/0.jpg";
        QTest::newRow("the first image of a folder named like a synced one") << "+F/Shoot/0.jpg";
        QTest::newRow("a synced folder's images moved to a new one of its name") << "-Shoot/0.jpg +F/Shoot/0.jpg";
        QTest::newRow("a hidden image and a text file") << "+A/.skjult.jpg +A/notater.txt";
        QTest::newRow("several folders at once") << "+A/x.jpg -C/D/1.jpg +E/1.jpg -B/0.jpg";
    }

    void imageChangesEqualFullScan()
    {
        QFETCH(QString, steps);
        StandInService service;
        service.addAccount(token);
        TempTree support;
        TempTree referenceSupport;
        TempTree tree;
        for (const char *file : {"A/0.jpg", "A/1.jpg", "B/0.jpg", "C/D/0.jpg", "C/D/1.jpg", "Shoot/0.jpg", "zz/0.jpg"})
            tree.addFile(file, 100 + qint64(qstrlen(file)));
        tree.addDir("E");
        tree.addDir("F/Shoot");

        VarnostimaAPI api;
        api.setCredentials(service.baseUrl(), QString::fromLatin1(token));
        SyncManager manager(support.root(), manualDelays);
        manager.setAPI(api);
        manager.setWatchFolder(tree.root());
        QTRY_VERIFY_WITH_TIMEOUT(manager.hasCompletedInitialReconcile() && !manager.isReconciling(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(manager.isWatching(), 20000);
        testsupport::awaitTask(manager.refreshNow());
        QList<SyncFolder> folders = manager.folders();
        for (SyncFolder &folder : folders) {
            if (folder.relativePath != QLatin1String("B"))
                folder.status = SyncStatus::synced("g-" + folder.relativePath, "s", folder.imageCount);
        }
        manager.setFolders(folders);

        for (const QString &step : steps.split(u' ')) {
            const QString file = tree.path(step.mid(1));
            if (step.startsWith(u'+'))
                tree.addFile(step.mid(1), 321);
            else if (step.startsWith(u'-'))
                QVERIFY(QFile::remove(file));
            else if (step.startsWith(u'~'))
                TempTree::setMtime(file, 1.6e9);
            else
                tree.addFile(step.mid(1), 4321);
        }
        // Everything before the marker has reached the engine once the marker has.
        tree.addFile("zz/1.jpg", 1);
        QTRY_VERIFY_WITH_TIMEOUT(manager.pendingRefreshScope().folders().contains("zz"), 20000);
        QVERIFY(!manager.pendingRefreshScope().isEverything() && manager.pendingRefreshScope().trees().isEmpty());

        const QList<SyncFolder> before = manager.folders();
        QSet<QString> known;
        for (const SyncFolder &folder : before)
            known.insert(folder.path);
        testsupport::awaitTask(manager.refreshNow());

        SyncManager reference(referenceSupport.root(), manualDelays);
        reference.setFolders(before);
        reference.mergeRefreshedFolders(SyncManager::scanFolderTree(tree.root(), manager.ignoredPaths()), known);
        const QString diff = difference(manager.folders(), reference.folders());
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isReconciling(), 20000);
    }
};

QTEST_GUILESS_MAIN(TestPartialRefresh)
#include "tst_partialrefresh.moc"
