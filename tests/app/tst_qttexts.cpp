// Qt's own folder chooser and edit menu speak Bokmål once the app's translator is installed.

#include "app/QtTexts.h"
#include "overview/DirectoryChooser.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {

// Runs `open`, which shows a menu or message box of the chooser in an event loop of Qt's own, and returns what that
// shows (a menu's entries; a box's title, text and its Yes and No) before it is closed again.
QStringList shownBy(const std::function<void()> &open)
{
    QStringList texts;
    const QObject scope; // the check never runs after this returns
    QTimer::singleShot(0, &scope, [&texts] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (const QAction *action : menu->actions()) {
                if (!action->isSeparator())
                    texts.append(action->text());
            }
            menu->close();
        } else if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts << box->windowTitle() << box->text() << box->button(QMessageBox::Yes)->text()
                  << box->button(QMessageBox::No)->text();
            box->button(QMessageBox::No)->click();
        }
    });
    open();
    return texts;
}

void rightClick(QAbstractScrollArea *area, const QPoint &at)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, area->viewport()->mapToGlobal(at));
    QApplication::sendEvent(area->viewport(), &event);
}

} // namespace

class TestQtTexts : public QObject
{
    Q_OBJECT

    QtTexts m_texts;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true); // the dialogs keep their view mode and places in the user's settings
        QVERIFY(QCoreApplication::installTranslator(&m_texts));
    }

    void folderChooser()
    {
        QTemporaryDir dir;
        QFileDialog dialog(nullptr, QStringLiteral("Velg mappe"), dir.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lookInLabel"))->text(), QStringLiteral("Se i:"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("fileNameLabel"))->text(), QStringLiteral("Mappe:"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("fileTypeLabel"))->text(), QStringLiteral("Filtype:"));
        QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentText(), QStringLiteral("Mapper"));
        QCOMPARE(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Avbryt"));

        QFileSystemModel model;
        QStringList headers;
        for (int column = 0; column < 4; ++column)
            headers.append(model.headerData(column, Qt::Horizontal).toString());
        QCOMPARE(headers, (QStringList{QStringLiteral("Navn"), QStringLiteral("Størrelse"), QStringLiteral("Type"),
                                       QStringLiteral("Endret")}));
    }

    // The chooser as the windows open it, over an export folder that holds "Bryllup".
    void chooserMenusAndQuestions_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("folder menu") << QStringLiteral("folder menu")
                                     << QStringList{QStringLiteral("&Gi nytt navn"), QStringLiteral("&Slett"),
                                                    QStringLiteral("Vis &skjulte filer"), QStringLiteral("&Ny mappe")};
        QTest::newRow("delete confirmation")
            << QStringLiteral("delete") << QStringList{QStringLiteral("Slett"),
                                                       QStringLiteral("Er du sikker på at du vil slette «Bryllup»?"),
                                                       QStringLiteral("&Ja"), QStringLiteral("&Nei")};
        QTest::newRow("column menu") << QStringLiteral("column menu")
                                     << QStringList{QStringLiteral("Vis Størrelse"), QStringLiteral("Vis Type"),
                                                    QStringLiteral("Vis Endret")};
        QTest::newRow("side bar menu") << QStringLiteral("side bar menu") << QStringList{QStringLiteral("Fjern")};
    }

    void chooserMenusAndQuestions()
    {
        QFETCH(QString, part);
        QFETCH(QStringList, texts);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Bryllup")));
        FileDialogDirectoryChooser::shared().chooseDirectory(
            nullptr, DirectoryRequest{QStringLiteral("Velg mappe"), QStringLiteral("Velg"), dir.path()}, [](auto) {});
        QFileDialog *dialog = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *shown = qobject_cast<QFileDialog *>(window); shown && shown->isVisible())
                dialog = shown;
        }
        QVERIFY(dialog);
        const auto closeDialog = qScopeGuard([dialog] { dialog->reject(); });
        dialog->setViewMode(part == QLatin1String("column menu") ? QFileDialog::Detail : QFileDialog::List);
        auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
        QModelIndex folder;
        QTRY_VERIFY((folder = list->model()->index(0, 0, list->rootIndex())).isValid()); // listed off the UI thread
        QCOMPARE(folder.data().toString(), QStringLiteral("Bryllup"));

        QStringList shown;
        if (part == QLatin1String("folder menu")) {
            shown = shownBy([&] { rightClick(list, list->visualRect(folder).center()); });
        } else if (part == QLatin1String("delete")) {
            list->selectionModel()->select(folder, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            shownBy([&] { rightClick(list, list->visualRect(folder).center()); }); // the menu enables "Slett"
            shown = shownBy([&] { dialog->findChild<QAction *>(QStringLiteral("qt_delete_action"))->trigger(); });
            QVERIFY(QFileInfo(dir.filePath(QStringLiteral("Bryllup"))).isDir()); // "Nei" keeps it
        } else if (part == QLatin1String("column menu")) {
            shown = shownBy([&] { rightClick(dialog->findChild<QTreeView *>(QStringLiteral("treeView"))->header(), {5, 5}); });
        } else {
            auto *places = dialog->findChild<QListView *>(QStringLiteral("sidebar"));
            shown = shownBy([&] { rightClick(places, places->visualRect(places->model()->index(0, 0)).center()); });
        }
        QCOMPARE(shown, texts);
    }

    void editMenuAndUnknownTexts()
    {
        QLineEdit edit;
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        QStringList actions;
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator())
                actions.append(action->text().section(u'\t', 0, 0));
        }
        QCOMPARE(actions, (QStringList{QStringLiteral("&Angre"), QStringLiteral("&Gjør om"), QStringLiteral("Klipp &ut"),
                                       QStringLiteral("&Kopier"), QStringLiteral("&Lim inn"), QStringLiteral("Slett"),
                                       QStringLiteral("Merk alt")}));
        // Anything else keeps Qt's own text.
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Some text we never listed"),
                 QStringLiteral("Some text we never listed"));
    }
};

QTEST_MAIN(TestQtTexts)
#include "tst_qttexts.moc"
