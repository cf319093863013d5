#pragma once

#include "DetailSection.h"
#include "sync/SyncFolder.h"

#include <QStringList>

// What one group of the changes section shows: a disclosure with the names when they are known, else a plain
// count, else nothing.
struct ChangesGroup {
    // New and removed images; modified ones, which the update replaces; records without size and time, which the
    // update checks against the gallery.
    enum class Kind { New, Removed, Modified, Checked };
    enum class Form { Absent, Count, Disclosure };

    Kind kind = Kind::New;
    Form form = Form::Absent;
    QString label;
    QStringList rows;  // at most 15 names
    QString moreRow;   // "… og N til" beyond the 15, else empty

    static constexpr qsizetype kMaxRows = 15;
    static ChangesGroup of(Kind kind, const QStringList &names, qint64 count);
    static ChangesGroup newFiles(const SyncFolder &folder);
    static ChangesGroup removedFiles(const SyncFolder &folder);
    static ChangesGroup modifiedFiles(const SyncFolder &folder);
    static ChangesGroup checkedFiles(const SyncFolder &folder);

    bool operator==(const ChangesGroup &) const = default;
};

// The "Endringer" section: what a synced folder's next update will do, by name: the images it uploads, deletes and
// replaces, and how many it checks against the gallery.
class FolderDetailChanges : public DetailSection
{
    Q_OBJECT
public:
    explicit FolderDetailChanges(QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    // The groups shown, top to bottom; none when the folder has nothing pending.
    const QList<ChangesGroup> &groups() const { return m_groups; }
    QStringList labels() const;

private:
    QWidget *buildGroup(const ChangesGroup &group);

    QWidget *m_box = nullptr;
    QList<ChangesGroup> m_groups;
};
