#pragma once

#include <QLoggingCategory>

// Categories of the platform layers, all under "no.varnostima.mac".
Q_DECLARE_LOGGING_CATEGORY(lcFileEvents)
