#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

struct FileChanges;

// The parts of the export folder a refresh reads again, as paths relative to it ("" is the export folder itself):
// folders whose own images changed, and trees (a folder with everything below it) that appeared, vanished or
// changed as a whole. A scope that cannot be named reads everything.
class RefreshScope
{
public:
    static RefreshScope everything();

    bool isEverything() const { return m_everything; }
    bool isEmpty() const { return !m_everything && m_folders.isEmpty() && m_trees.isEmpty(); }
    const QSet<QString> &folders() const { return m_folders; }
    const QSet<QString> &trees() const { return m_trees; }

    void addFolder(const QString &relative);
    void addTree(const QString &relative);
    void add(const RefreshScope &other);
    // A batch of file-system events. A name that is not valid UTF-8 is left out: the scan skips it and all below.
    void add(const FileChanges &changes);
    // Whatever lies at or below one of these folders takes in the whole folder: a folder that could not be read
    // hides what is below it, and reading it again may reveal all of that.
    void widenTo(const QStringList &relativeFolders);

    // What a refresh of the scope speaks for: the folder's entry, or everything below the folder too.
    bool coversFolder(const QString &relative) const;
    bool coversTree(const QString &relative) const;

private:
    bool m_everything = false;
    QSet<QString> m_folders;
    QSet<QString> m_trees;
};
