#pragma once

#include <QString>
#include <QStringList>

// The file of the application's icon, for desktop services that show it beside our messages. Notification daemons
// often look names up in a few fixed folders only, so they get the file itself: the icon installed in the hicolor
// theme of a data folder (XDG_DATA_HOME first, then XDG_DATA_DIRS), else the one installed beside the binary, else
// the build's own. Empty when none exists.
QString appIconFile(const QStringList &dataFolders, const QString &applicationFolder, const QString &buildIcon);
// The same for this process.
QString appIconFile();
