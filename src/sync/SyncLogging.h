#pragma once

#include <QLoggingCategory>

// The sync engine's log category ("Sync"). Categories are thread-safe, so the scan logs through it from any thread.
Q_DECLARE_LOGGING_CATEGORY(lcSync)
