#pragma once

#include "sync/SyncFolder.h"

#include <functional>

// Shows a folder in the file manager. A removed folder's placeholder has no directory: nothing opens and the
// reason is logged. `reveal` opens a local path; the desktop's file manager when empty. False when nothing opened.
bool openFolderInFileManager(const SyncFolder &folder, const std::function<void(const QString &)> &reveal = {});
bool openPathInFileManager(const QString &path, const std::function<void(const QString &)> &reveal = {});

// The prefix of a removed folder's placeholder path.
inline constexpr QLatin1StringView kRemovedFolderPrefix{"__removed__/"};
