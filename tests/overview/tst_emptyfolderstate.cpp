// The export-folder chooser, the rescan and the empty folder state, over a real engine and the stand-in service.

#include "overview/EmptyFolderStateView.h"
#include "ui/RelativeDate.h"
#include "support/ShownText.h"
#include "sync/UploadTestFixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTreeView>
#include <QTest>

// Generous: a loaded machine may take its time; nothing here asserts how fast anything is.
#define WAIT_COMPARE(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, 30000)
#define WAIT_VERIFY(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 30000)
using testsupport::TempTree;

namespace {

// The engine's own fixture with two galleries' folders on disk.
struct Engine : uploadtest::Fixture {
    Engine()
    {
        exportTree.addFile(QStringLiteral("Bryllup/a.jpg"), 10);
        exportTree.addFile(QStringLiteral("Konfirmasjon/b.jpg"), 10);
    }

    QStringList folderNames() const
    {
        QStringList names;
        for (const SyncFolder &folder : manager.folders())
            names.append(folder.name);
        names.sort();
        return names;
    }
};

// HOME, and with it the Pictures folder and the dialogs' settings, in a folder of the test's own until the guard
// goes.
[[nodiscard]] auto homeAt(const QString &path)
{
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME"); // empty counts as unset
    qputenv("HOME", QFile::encodeName(path));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path + QStringLiteral("/.config")));
    return qScopeGuard([home, config] {
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", config);
    });
}

QAbstractButton *button(QWidget &view, const QString &text)
{
    for (auto *candidate : view.findChildren<QAbstractButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

} // namespace

class TestEmptyFolderState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The desktop's dialog: one folder, files not choosable, open without blocking; a cancel answers "nothing".
    void desktopDialog()
    {
        QWidget window;
        std::optional<std::optional<QString>> answer;
        FileDialogDirectoryChooser::shared().chooseDirectory(
            &window, DirectoryRequest{QStringLiteral("Velg mappen"), QStringLiteral("Velg"), QDir::tempPath()},
            [&answer](std::optional<QString> path) { answer = path; });
        auto *dialog = window.findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Velg"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Velg mappen"));
        QVERIFY(!answer);
        dialog->reject();
        QVERIFY(answer && !*answer);
    }

    // The dialog's dates are the app's own and shown whole, whatever the system's language and date format.
    void desktopDialogShowsDatesWhole()
    {
        TempTree tree;
        const auto home = homeAt(tree.root());
        const QDateTime now = QDateTime::currentDateTime();
        for (const auto &[name, modified] : {std::pair{QStringLiteral("Bryllup"), now.addDays(-3).addSecs(-7200)},
                                             std::pair{QStringLiteral("Konfirmasjon"), now.addMonths(-11)}})
            TempTree::setMtime(tree.addDir(QStringLiteral("Eksport/") + name), modified.toSecsSinceEpoch());
        QWidget window;
        FileDialogDirectoryChooser::shared().chooseDirectory(
            &window, DirectoryRequest{QStringLiteral("Velg mappen"), QStringLiteral("Velg"), tree.path("Eksport")},
            [](std::optional<QString>) {});
        auto *dialog = window.findChild<QFileDialog *>();
        QVERIFY(dialog);
        dialog->setViewMode(QFileDialog::Detail);
        auto *details = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(details);
        WAIT_COMPARE(details->model()->rowCount(details->rootIndex()), 2);
        for (int row = 0; row < 2; ++row) {
            const QModelIndex name = details->model()->index(row, 0, details->rootIndex());
            const QModelIndex date = name.siblingAtColumn(3);
            const QString shown = date.data().toString();
            const QFileInfo folder(tree.path(QStringLiteral("Eksport/") + name.data().toString()));
            QCOMPARE(shown, relativeAge(folder.lastModified()));
            WAIT_VERIFY(details->fontMetrics().horizontalAdvance(shown) < details->visualRect(date).width());
        }
        dialog->reject();
    }

    void folderLine_data()
    {
        QTest::addColumn<QString>("watchFolder");
        QTest::addColumn<QString>("line");
        QTest::newRow("folder") << QStringLiteral("/Users/foto/Eksport") << QStringLiteral("i «Eksport»");
        QTest::newRow("trailing slash") << QStringLiteral("/Users/foto/Eksport/") << QStringLiteral("i «Eksport»");
        QTest::newRow("none") << QString() << QStringLiteral("i «»");
        // A name that could turn the words around it stands in an isolate of its own, its own isolates balanced.
        QTest::newRow("right-to-left override") << QStringLiteral("/x/\u202EtropskE")
                                                << QStringLiteral("i «\u2068\u202EtropskE\u2069»");
        QTest::newRow("right-to-left letters and a year")
            << QStringLiteral("/x/\u05E9\u05DC\u05D5\u05DD 2024") << QStringLiteral("i «\u2068\u05E9\u05DC\u05D5\u05DD 2024\u2069»");
        QTest::newRow("isolate left open") << QStringLiteral("/x/\u2067abc") << QStringLiteral("i «\u2068\u2067abc\u2069\u2069»");
        QTest::newRow("stray pop isolate") << QStringLiteral("/x/a\u2069\u202Eb") << QStringLiteral("i «\u2068a\u202Eb\u2069»");
    }
    void folderLine()
    {
        QFETCH(QString, watchFolder);
        QFETCH(QString, line);
        const QString shown = EmptyFolderStateView::folderLine(watchFolder);
        QCOMPARE(shown, line);
        QVERIFY(testsupport::readsLeftToRight(shown, QStringLiteral("i «")));
        QVERIFY(testsupport::readsLeftToRight(shown, QStringLiteral("»")));
    }

    // What each answer of the dialog does to an engine that already has an export folder with two galleries.
    void chooserAnswers_data()
    {
        QTest::addColumn<QString>("answer"); // "cancel", "same", "new", "missing", "file"
        QTest::addColumn<bool>("adopted");
        QTest::addColumn<QStringList>("error");
        const QStringList noAccess{QStringLiteral("Får ikke tilgang til eksportmappen")};
        QTest::newRow("cancelled") << "cancel" << false << QStringList();
        QTest::newRow("same folder again") << "same" << true << QStringList();
        QTest::newRow("another folder") << "new" << true << QStringList();
        QTest::newRow("vanished folder") << "missing" << false << noAccess;
        QTest::newRow("a file") << "file" << false << noAccess;
    }
    void chooserAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(bool, adopted);
        QFETCH(QStringList, error);
        Engine engine;
        engine.manager.setWatchFolder(engine.exportTree.root());
        WAIT_COMPARE(engine.folderNames(), QStringList({"Bryllup", "Konfirmasjon"}));
        WAIT_VERIFY(!engine.manager.isReconciling());
        const QString before = engine.manager.watchFolder();

        TempTree other;
        other.addFile(QStringLiteral("Portrett/c.jpg"), 10);
        const QHash<QString, QString> paths{{"same", engine.exportTree.root()},
                                            {"new", other.root()},
                                            {"missing", other.path(QStringLiteral("borte"))},
                                            {"file", other.path(QStringLiteral("Portrett/c.jpg"))}};

        ScriptedDirectoryChooser chooser;
        QSignalSpy scans(&engine.manager, &SyncManager::isReconcilingChanged);
        EmptyFolderStateView::chooseFolder(engine.manager, chooser, nullptr);
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(chooser.requests.first().startDirectory, before);
        chooser.answer(answer == "cancel" ? std::nullopt : std::optional<QString>(paths.value(answer)));

        if (adopted) {
            WAIT_COMPARE(engine.manager.watchFolder(), paths.value(answer));
            WAIT_COMPARE(scans.size(), 2); // one scan, started and ended
            QVERIFY(QFile::exists(engine.manager.bookmarkFilePath()));
            QCOMPARE(engine.folderNames(), answer == "same" ? QStringList({"Bryllup", "Konfirmasjon"})
                                                            : QStringList({"Portrett"}));
        } else {
            WAIT_COMPARE(chooser.errors, error);
            QCOMPARE(engine.manager.watchFolder(), before);
            QCOMPARE(engine.folderNames(), QStringList({"Bryllup", "Konfirmasjon"}));
            QCOMPARE(scans.size(), 0);
        }
        QVERIFY(chooser.errors == error);
    }

    // The chooser opens in a folder that is there, the export folder or else the Pictures folder, or in the
    // nearest folder above it that is: a dialog in a folder that is not there offers nothing to choose.
    void chooserStartsInAFolderThatIsThere_data()
    {
        QTest::addColumn<bool>("pictures");        // the home folder holds "Pictures"
        QTest::addColumn<QString>("exportFolder"); // chosen before; empty: none
        QTest::addColumn<QString>("removed");      // taken off the disk since
        QTest::addColumn<QString>("start");
        const QString exportFolder = QStringLiteral("disk/Kunder/Eksport");
        QTest::newRow("no export folder nor Pictures") << false << QString() << QString() << "home";
        QTest::newRow("no export folder") << true << QString() << QString() << "home/Pictures";
        QTest::newRow("export folder") << true << exportFolder << QString() << exportFolder;
        QTest::newRow("export folder gone") << true << exportFolder << exportFolder << "disk/Kunder";
        QTest::newRow("export folder and its parent gone") << true << exportFolder << "disk/Kunder" << "disk";
    }
    void chooserStartsInAFolderThatIsThere()
    {
        QFETCH(bool, pictures);
        QFETCH(QString, exportFolder);
        QFETCH(QString, removed);
        QFETCH(QString, start);
        TempTree tree;
        tree.addDir(QStringLiteral("home"));
        if (pictures)
            tree.addDir(QStringLiteral("home/Pictures"));
        const auto home = homeAt(tree.path(QStringLiteral("home")));
        Engine engine;
        if (!exportFolder.isEmpty()) {
            engine.manager.setWatchFolder(tree.addDir(exportFolder));
            WAIT_VERIFY(!engine.manager.isReconciling());
        }
        if (!removed.isEmpty())
            QVERIFY(QDir(tree.path(removed)).removeRecursively());

        ScriptedDirectoryChooser chooser;
        EmptyFolderStateView::chooseFolder(engine.manager, chooser, nullptr);
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(chooser.requests.first().startDirectory, tree.path(start));
    }

    void viewFollowsEngineAndActs()
    {
        Engine engine;
        ScriptedDirectoryChooser chooser;
        EmptyFolderStateView view(engine.manager, &chooser);
        auto labels = view.findChildren<QLabel *>();
        const auto folderLineShown = [&] {
            for (QLabel *label : std::as_const(labels)) {
                if (label->text().startsWith(QStringLiteral("i «")))
                    return label->text();
            }
            return QString();
        };
        QCOMPARE(folderLineShown(), QStringLiteral("i «»"));

        engine.manager.setWatchFolder(engine.exportTree.root());
        QCOMPARE(folderLineShown(), EmptyFolderStateView::folderLine(engine.exportTree.root()));
        WAIT_VERIFY(!engine.manager.isReconciling());

        // Each press of "Oppdater" is one full scan.
        QSignalSpy scans(&engine.manager, &SyncManager::isReconcilingChanged);
        button(view, QStringLiteral("Oppdater"))->click();
        WAIT_COMPARE(scans.size(), 2);

        button(view, QStringLiteral("Bytt mappe…"))->click();
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(chooser.requests.first().acceptLabel, QStringLiteral("Velg"));
    }
};

QTEST_MAIN(TestEmptyFolderState)
#include "tst_emptyfolderstate.moc"
