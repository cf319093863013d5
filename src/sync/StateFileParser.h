#pragma once

// A direct reader of the state file in the shape this program writes it, a few times faster than building a
// JSON document first. It accepts only a plain subset: any key order, nulls where the general reader takes them,
// strings without escapes, no unknown or repeated keys. Anything else gives nothing, and the caller reads the
// file with the general reader, whose results and error messages stay the ones that count.

#include "SyncStateStore.h"

#include <QByteArrayView>

#include <optional>

std::optional<SyncState> parsePlainSyncState(QByteArrayView json);

// The texts of the "ignoredPaths" list of a file that cannot be read otherwise (damaged, cut short, or written in
// a shape this program no longer reads), as far as the list goes. Whatever else such a file lost, a folder the
// user kept off the service must stay off it.
QSet<QString> salvageIgnoredPaths(QByteArrayView json);
