#pragma once

#include <QString>

#include <optional>

class SyncManager;

// The one line the panel's status row shows: the first rule that holds decides it.
struct MenuBarStatus {
    enum class Rule {
        ReconcileError, // the last reconcile failed: its text, with a warning sign
        Syncing,        // n folders upload: spinner
        CheckingServer, // the first reconcile has not ended yet: spinner
        Watching,       // all is well and the export folder is watched
        ChooseFolder,   // no export folder yet
    };

    Rule rule = Rule::ChooseFolder;
    QString text;

    bool showsSpinner() const { return rule == Rule::Syncing || rule == Rule::CheckingServer; }
    // The texts of the first two rules are the news; the others are quiet.
    bool isPrimaryText() const { return rule == Rule::ReconcileError || rule == Rule::Syncing; }

    static MenuBarStatus of(const std::optional<QString> &reconcileError, qsizetype syncingFolders,
                            bool hasCompletedInitialReconcile, bool hasWatchFolder);
    static MenuBarStatus of(const SyncManager &syncManager);
};
