#pragma once

#include <QString>

#include <optional>

class SyncManager;

// The one line the panel's status row shows: the first rule that holds decides it.
struct MenuBarStatus {
    enum class Rule {
        ReconcileError, // the last reconcile failed: its text, with a warning sign
        Syncing,        // n folders upload: spinner
        FolderFailed,   // n folders failed to sync: with a warning sign, so a failure never reads as all well
        CheckingServer, // the first reconcile has not ended yet: spinner
        Watching,       // all is well and the export folder is watched
        ChooseFolder,   // no export folder yet
    };

    Rule rule = Rule::ChooseFolder;
    QString text;

    bool showsSpinner() const { return rule == Rule::Syncing || rule == Rule::CheckingServer; }
    bool showsWarning() const { return rule == Rule::ReconcileError || rule == Rule::FolderFailed; }
    // The texts of the first three rules are the news; the others are quiet.
    bool isPrimaryText() const { return showsWarning() || rule == Rule::Syncing; }

    bool operator==(const MenuBarStatus &) const = default;

    static MenuBarStatus of(const std::optional<QString> &reconcileError, qsizetype syncingFolders,
                            qsizetype failedFolders, bool hasCompletedInitialReconcile, bool hasWatchFolder);
    static MenuBarStatus of(const SyncManager &syncManager);
};
