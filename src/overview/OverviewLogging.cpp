#include "OverviewLogging.h"

Q_LOGGING_CATEGORY(lcOverview, "no.varnostima.mac.Overview")
