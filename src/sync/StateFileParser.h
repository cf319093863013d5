#pragma once

// A direct reader of the state file in the shape this program writes it, a few times faster than building a
// JSON document first. It accepts only a plain subset: any key order, nulls where the general reader takes them,
// strings without escapes, no unknown or repeated keys. Anything else gives nothing, and the caller reads the
// file with the general reader, whose results and error messages stay the ones that count.

#include "SyncStateStore.h"

#include <QByteArrayView>

#include <optional>

std::optional<SyncState> parsePlainSyncState(QByteArrayView json);
