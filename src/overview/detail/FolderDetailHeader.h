#pragma once

// The two top blocks of the inspector: the folder's name and status, then its counters, its directory name and
// the upload progress. Both are drawn from one folder value and hold no state of their own.

#include "sync/SyncFolder.h"

#include <QPointer>
#include <QWidget>

class ElidedLabel;
class FolderStatusIcon;
class FolderStatusLabel;
class LineLimitedLabel;
class QLabel;

// A parent folder's name as the header shows it: "_" and "-" become blanks, each pair of blanks becomes one in a
// single pass (three become two), blanks and tabs are trimmed from both ends; line breaks stay.
QString cleanedPathComponent(const QString &component);
// The cleaned parent components joined with " › "; empty for a folder at the top of the export folder.
QString parentPathText(const QStringList &parentComponents);
// The share of the progress bar: a just-started upload shows a sliver; anything that is not a number shows as 0.
double progressBarValue(double progress);
// "Laster opp… 45%".
QString uploadProgressText(double progress);
// Why the scan left entries out, one line per reason; empty when it left none out.
QString skippedEntriesText(const SkippedEntries &skipped);

class FolderDetailHeader : public QWidget
{
    Q_OBJECT
public:
    explicit FolderDetailHeader(QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    QString title() const;
    // Empty while hidden.
    QString parentPath() const;
    QString statusText() const;

private:
    FolderStatusIcon *m_icon;
    LineLimitedLabel *m_title;
    ElidedLabel *m_parentPath;
    FolderStatusLabel *m_status;
};

class FolderDetailInfo : public QWidget
{
    Q_OBJECT
public:
    explicit FolderDetailInfo(QWidget *parent = nullptr);

    void setFolder(const SyncFolder &folder);
    // "Bilder 12", "Lastet opp 10" for a synced folder, "Hoppet over 2" when the scan left entries out.
    QStringList badgeTexts() const;
    QString skippedToolTip() const;
    QString chipText() const;
    QString chipToolTip() const;
    // Empty unless the folder uploads.
    QString progressText() const;
    double progressValue() const;

private:
    QWidget *m_badges;
    // A line of its own under the counters: three badges do not fit the narrowest pane.
    QWidget *m_skippedRow;
    QPointer<QWidget> m_skipped;
    QWidget *m_chip;
    ElidedLabel *m_chipName;
    QWidget *m_progress;
    class InfoProgressBar *m_bar;
    QLabel *m_progressText;
    SyncFolder m_folder;
};
