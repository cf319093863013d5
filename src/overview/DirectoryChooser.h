#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// What a folder chooser shows.
struct DirectoryRequest {
    QString title;          // the question above the file browser
    QString acceptLabel;    // the confirm button
    QString startDirectory; // empty: the desktop's own choice
};

// The nearest folder that exists at `path` or above it, short of the file system's root; the home folder when
// there is none. A dialog opened in a folder that is not there offers nothing to choose.
QString nearestExistingFolder(const QString &path);

// Asks the user for one folder. The call returns at once; `done` runs later on the UI thread with the chosen path,
// or with nothing when the user cancels.
class DirectoryChooser
{
public:
    using Done = std::function<void(std::optional<QString>)>;

    virtual ~DirectoryChooser() = default;
    virtual void chooseDirectory(QWidget *parent, const DirectoryRequest &request, Done done) = 0;
    // Tells the user why the chosen folder was not taken.
    virtual void showError(QWidget *parent, const QString &message) = 0;
};

// Qt's folder dialog, window-modal over `parent` and never a nested event loop; its dates are the app's own
// ("for 3 d. siden"), shown whole. Stateless: one instance serves every window.
class FileDialogDirectoryChooser final : public DirectoryChooser
{
public:
    static FileDialogDirectoryChooser &shared();

    void chooseDirectory(QWidget *parent, const DirectoryRequest &request, Done done) override;
    void showError(QWidget *parent, const QString &message) override;
};

// Keeps each request and answers it when told, as the user would; for tests.
class ScriptedDirectoryChooser final : public DirectoryChooser
{
public:
    void chooseDirectory(QWidget *, const DirectoryRequest &request, Done done) override
    {
        requests.append(request);
        m_pending = std::move(done);
    }
    void showError(QWidget *, const QString &message) override { errors.append(message); }

    bool isOpen() const { return bool(m_pending); }
    void answer(std::optional<QString> path)
    {
        if (Done done = std::exchange(m_pending, {}))
            done(std::move(path));
    }

    QList<DirectoryRequest> requests;
    QStringList errors;

private:
    Done m_pending;
};
