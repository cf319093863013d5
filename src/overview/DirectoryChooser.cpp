#include "DirectoryChooser.h"

#include "ui/RelativeDate.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QListView>
#include <QMessageBox>
#include <QTreeView>

namespace {

// The file system model's column of modification dates.
constexpr int kDateColumn = 3;

// The dates as the app writes them everywhere, not in the system's words and format.
class AppDates final : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole && index.column() == kDateColumn) {
            if (const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel()))
                return relativeAge(files->lastModified(mapToSource(index)));
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// The dates and the places take the room they need; the names take the rest.
void showTextsWhole(QFileDialog *dialog)
{
    dialog->setProxyModel(new AppDates(dialog));
    if (auto *details = dialog->findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        header->setSectionResizeMode(kDateColumn, QHeaderView::ResizeToContents);
    }
    if (auto *places = dialog->findChild<QListView *>(QStringLiteral("sidebar")))
        places->setMinimumWidth(places->sizeHintForColumn(0) + 2 * places->frameWidth());
}

} // namespace

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
    // Qt's own, so that its texts and dates are the app's on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    showTextsWhole(dialog);
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
