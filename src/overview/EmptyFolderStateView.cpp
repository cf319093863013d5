#include "EmptyFolderStateView.h"

#include "SymbolTile.h"

#include "ui/Buttons.h"
#include "ui/Theme.h"
#include "sync/IsolatedName.h"
#include "sync/SyncManager.h"

#include <QCoroFuture>
#include <QCoroTask>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace {

using Theme::Foreground;

// Readable and enterable: a scan of it can list its folders.
bool isUsableFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

// The folder is looked at off the UI thread: a vanished network mount may take its time to answer.
QCoro::Task<void> adoptChosenFolder(QPointer<SyncManager> syncManager, QPointer<QWidget> parent,
                                    DirectoryChooser *chooser, QString path)
{
    try {
        const bool usable = co_await QtConcurrent::run(isUsableFolder, path);
        if (!syncManager)
            co_return;
        if (!usable) {
            chooser->showError(parent.data(), SyncManager::noExportFolderAccessText());
            co_return;
        }
        syncManager->setWatchFolder(QDir::cleanPath(path));
    } catch (...) {
    }
}

QCoro::Task<void> runScan(QPointer<SyncManager> syncManager)
{
    try {
        if (syncManager)
            co_await syncManager->fullScanAndReconcile();
    } catch (...) {
        // The engine reports its failures through its own state.
    }
}

void setForeground(QWidget *widget, Foreground level)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, Theme::foreground(p, level));
    widget->setPalette(p);
}

QLabel *centredLabel(const QString &text, const QFont &font)
{
    auto *label = new QLabel(text);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

EmptyFolderStateView::EmptyFolderStateView(SyncManager &syncManager, DirectoryChooser *chooser, QWidget *parent)
    : QWidget(parent), m_syncManager(syncManager),
      m_chooser(chooser ? *chooser : FileDialogDirectoryChooser::shared())
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(40, 40, 40, 40);
    stack->setSpacing(16);
    stack->addStretch();
    stack->addWidget(new SymbolTile(QStringLiteral("photo.on.rectangle")), 0, Qt::AlignHCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    auto *title = centredLabel(QStringLiteral("Ingen mapper ennå"), Theme::bricolage(20, QFont::Bold));
    texts->addWidget(title);
    auto *hint = new QVBoxLayout;
    hint->setSpacing(2);
    auto *firstLine = centredLabel(QStringLiteral("Legg ferdigredigerte bilder i undermapper"), Theme::dmSans(12));
    setForeground(firstLine, Foreground::Secondary);
    m_folderLine = centredLabel(QString(), Theme::dmSans(12));
    setForeground(m_folderLine, Foreground::Secondary);
    hint->addWidget(firstLine);
    hint->addWidget(m_folderLine);
    texts->addLayout(hint);
    stack->addLayout(texts);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    auto *retry = new QPushButton(QStringLiteral("Oppdater"));
    auto *change = new PlainButton(QStringLiteral("Bytt mappe…"));
    change->setForeground(Foreground::Secondary);
    buttons->addWidget(retry, 0, Qt::AlignVCenter);
    buttons->addWidget(change, 0, Qt::AlignVCenter);
    buttons->addStretch();
    stack->addLayout(buttons);
    stack->addStretch();

    connect(retry, &QPushButton::clicked, this, [this] { retryScan(m_syncManager); });
    connect(change, &PlainButton::clicked, this, [this] { chooseFolder(m_syncManager, m_chooser, window()); });
    connect(&m_syncManager, &SyncManager::watchFolderChanged, this, &EmptyFolderStateView::refresh);
    refresh();
}

void EmptyFolderStateView::refresh()
{
    m_folderLine->setText(folderLine(m_syncManager.watchFolder()));
}

QString EmptyFolderStateView::folderLine(const QString &watchFolder)
{
    const QString name = watchFolder.isEmpty() ? QString() : QFileInfo(QDir::cleanPath(watchFolder)).fileName();
    return QStringLiteral("i «%1»").arg(unicodenames::isolated(name));
}

DirectoryRequest EmptyFolderStateView::folderRequest(const SyncManager &syncManager)
{
    QString start = syncManager.watchFolder();
    if (start.isEmpty())
        start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return DirectoryRequest{QStringLiteral("Velg mappen der du lagrer ferdigredigerte bilder"),
                            QStringLiteral("Velg"), nearestExistingFolder(start)};
}

void EmptyFolderStateView::chooseFolder(SyncManager &syncManager, QWidget *parent)
{
    chooseFolder(syncManager, FileDialogDirectoryChooser::shared(), parent);
}

void EmptyFolderStateView::chooseFolder(SyncManager &syncManager, DirectoryChooser &chooser, QWidget *parent)
{
    QPointer<SyncManager> manager(&syncManager);
    QPointer<QWidget> owner(parent);
    chooser.chooseDirectory(parent, folderRequest(syncManager),
                            [manager, owner, &chooser](std::optional<QString> path) {
                                if (path && !path->isEmpty() && manager)
                                    adoptChosenFolder(manager, owner, &chooser, *path);
                            });
}

void EmptyFolderStateView::retryScan(SyncManager &syncManager)
{
    runScan(QPointer<SyncManager>(&syncManager));
}
