#pragma once

#include "DetailSection.h"
#include "sync/SyncFolder.h"

#include <QStringList>

// What one group of the changes section shows: a disclosure with the names when they are known, else a plain
// count, else nothing.
struct ChangesGroup {
    enum class Kind { New, Removed };
    enum class Form { Absent, Count, Disclosure };

    Form form = Form::Absent;
    QString label;
    QStringList rows;  // at most 15 names
    QString moreRow;   // "… og N til" beyond the 15, else empty

    static constexpr qsizetype kMaxRows = 15;
    static ChangesGroup of(Kind kind, const QStringList &names, qint64 count);
    static ChangesGroup newFiles(const SyncFolder &folder);
    static ChangesGroup removedFiles(const SyncFolder &folder);
};

// The "Endringer" section: the images a synced folder's next update will upload and delete, by name.
class FolderDetailChanges : public DetailSection
{
    Q_OBJECT
public:
    explicit FolderDetailChanges(QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    const ChangesGroup &newGroup() const { return m_new; }
    const ChangesGroup &removedGroup() const { return m_removed; }

private:
    QWidget *buildGroup(const ChangesGroup &group, ChangesGroup::Kind kind);

    QWidget *m_groups = nullptr;
    ChangesGroup m_new;
    ChangesGroup m_removed;
};
