#include "SyncLogging.h"

Q_LOGGING_CATEGORY(lcSync, "no.varnostima.mac.Sync")
