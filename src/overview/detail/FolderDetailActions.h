#pragma once

// The actions of the selected folder: at most one large button (or a short explanation) chosen by the folder's
// state, and a strip of small buttons. The view only calls the callbacks it was given.

#include "sync/SyncFolder.h"

#include <QCoroTask>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <functional>

enum class FolderAction {
    OpenFinder,
    OpenDashboard,
    CopyLink,
    Sync,
    Update,
    Ignore,
    Unignore,
    Move,
    ClearMoved,
    DeleteFromServer,
    DismissRemoved,
};

// What a folder's state offers, decided once for both rows.
struct FolderActionPlan {
    enum class Primary {
        None,
        Move,           // "Flytt på server"
        Update,         // "Oppdater galleri"
        Failure,        // the message above "Prøv igjen"
        Removed,        // the explanation above "Slett fra server"
        RemovedFailure, // a removed folder whose deletion failed: the message above "Slett fra server"
        Waiting,        // "Synkroniseres snart…"
        Unignore,       // "Gjenopprett"
    };
    Primary primary = Primary::None;
    QList<FolderAction> secondary;
    QString message; // the failure message for Failure and RemovedFailure

    static FolderActionPlan of(const SyncFolder &folder);
    // The button of the primary row, if it has one.
    std::optional<FolderAction> primaryAction() const;

    bool operator==(const FolderActionPlan &) const = default;
};

// The title and symbol of an action's button.
struct FolderActionLook {
    QString title;
    QString symbol;
    QString help; // the tooltip, where it says more than the title

    QString toolTip() const { return help.isEmpty() ? title : help; }
    static FolderActionLook of(FolderAction action, bool copied = false);
};

// The inspector connects these to the engine, the browser, the clipboard and the file manager. The asynchronous
// ones return the operation's task; none reports an outcome (the folder's status does).
struct FolderDetailCallbacks {
    std::function<void(const QString &galleryId)> onCopyLink;
    std::function<void(const QString &galleryId)> onOpenDashboard;
    std::function<void()> onOpenFinder;
    std::function<QCoro::Task<void>()> onSync;
    std::function<QCoro::Task<void>()> onUpdate;
    std::function<void()> onIgnore;
    std::function<void()> onUnignore;
    std::function<QCoro::Task<void>()> onMove;
    std::function<void()> onClearMoved;
    std::function<QCoro::Task<void>()> onDeleteFromServer;
    std::function<void()> onDismissRemoved;
};

class QAbstractButton;
class QVBoxLayout;

class FolderDetailActions : public QWidget
{
    Q_OBJECT
public:
    explicit FolderDetailActions(FolderDetailCallbacks callbacks, QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    const SyncFolder &folder() const { return m_folder; }
    // "Kopiert!" on the copy button; the inspector raises and lowers it.
    void setCopied(bool copied);
    bool isCopied() const { return m_copied; }
    // True while an asynchronous action started for the folder shown runs. It belongs to that folder: another
    // folder shown meanwhile is not busy, and the first is busy again when shown again before its action ends.
    bool isWorking() const { return m_workingPaths.contains(m_folder.path); }

    const FolderActionPlan &plan() const { return m_plan; }
    // The button of an action as shown now, or null.
    QAbstractButton *button(FolderAction action) const;
    // Presses an action's button as the user would; does nothing when the folder's state does not offer it.
    void trigger(FolderAction action);
    // The question "Slett fra server" asks before anything is deleted, while it is open; else null.
    QMessageBox *deleteConfirmation() const { return m_deleteConfirmation; }

Q_SIGNALS:
    void workingChanged();

private:
    void rebuild();
    QWidget *buildPrimary();
    QWidget *buildSecondary();
    void run(FolderAction action);
    void startAsync(const std::function<QCoro::Task<void>()> &callback);
    // The folder may hold the last copy of its images: the deletion waits for the user's yes.
    void confirmDeleteFromServer();
    QCoro::Task<void> awaitAction(QString path, QCoro::Task<void> task);

    FolderDetailCallbacks m_callbacks;
    SyncFolder m_folder;
    FolderActionPlan m_plan;
    bool m_copied = false;
    QSet<QString> m_workingPaths;
    QVBoxLayout *m_layout;
    QWidget *m_primary = nullptr;
    QWidget *m_secondary = nullptr;
    QHash<FolderAction, QAbstractButton *> m_buttons;
    QPointer<QMessageBox> m_deleteConfirmation;
};
