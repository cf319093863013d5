#pragma once

#include <QLoggingCategory>

// One category per component, all under "no.varnostima.mac".
Q_DECLARE_LOGGING_CATEGORY(lcAppSupport)
Q_DECLARE_LOGGING_CATEGORY(lcStorage)
Q_DECLARE_LOGGING_CATEGORY(lcAPI)
Q_DECLARE_LOGGING_CATEGORY(lcAuth)
