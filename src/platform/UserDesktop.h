#pragma once

#include <QProcessEnvironment>
#include <QStringList>
#include <QUrl>

// What the app starts for the user (the browser, the file manager, the desktop's settings) runs in the user's own
// desktop environment, not in one the app was given for itself. A run that set variables for the app alone (a trial
// with data and runtime folders of its own) names them in VARNOSTIMA_USER_ENV, separated by spaces, and passes each
// one's value from before as VARNOSTIMA_USER_<name>, left out where the variable was unset.

// `own` with those variables as they were before, and without the variables that name them.
QProcessEnvironment userDesktopEnvironment(const QProcessEnvironment &own);
// The same for this process.
QProcessEnvironment userDesktopEnvironment();

// Starts a program in the user's environment without waiting for it; false when it could not be started.
bool startInUserDesktop(const QString &program, const QStringList &arguments);

// Hands a URL to the desktop's opener (xdg-open) in the user's environment, or to Qt's where there is no xdg-open.
// False when nothing could be started.
bool openInUserDesktop(const QUrl &url);
