#include "PlatformLogging.h"

Q_LOGGING_CATEGORY(lcFileEvents, "no.varnostima.mac.FileEvents")
