// Qt's own folder chooser and edit menu speak Bokmål once the app's translator is installed.

#include "app/QtTexts.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestQtTexts : public QObject
{
    Q_OBJECT

    QtTexts m_texts;

private Q_SLOTS:
    void initTestCase() { QVERIFY(QCoreApplication::installTranslator(&m_texts)); }

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
