#include "DirectoryChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

QString nearestExistingFolder(const QString &path)
{
    if (QDir::isAbsolutePath(path)) {
        for (QString folder = QDir::cleanPath(path); !QDir(folder).isRoot(); folder = QFileInfo(folder).path()) {
            if (QFileInfo(folder).isDir())
                return folder;
        }
    }
    return QDir::homePath();
}

FileDialogDirectoryChooser &FileDialogDirectoryChooser::shared()
{
    static FileDialogDirectoryChooser chooser;
    return chooser;
}

void FileDialogDirectoryChooser::chooseDirectory(QWidget *parent, const DirectoryRequest &request, Done done)
{
    auto *dialog = new QFileDialog(parent, request.title, request.startDirectory);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, request.acceptLabel);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done = std::move(done)](int result) {
        const QStringList chosen = dialog->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty() && !chosen.first().isEmpty())
            done(chosen.first());
        else
            done(std::nullopt);
    });
    dialog->open();
}

void FileDialogDirectoryChooser::showError(QWidget *parent, const QString &message)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Varnostima"), message, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
