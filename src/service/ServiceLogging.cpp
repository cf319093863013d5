#include "ServiceLogging.h"

Q_LOGGING_CATEGORY(lcAppSupport, "no.varnostima.mac.AppSupport")
Q_LOGGING_CATEGORY(lcStorage, "no.varnostima.mac.Storage")
Q_LOGGING_CATEGORY(lcAPI, "no.varnostima.mac.API")
Q_LOGGING_CATEGORY(lcAuth, "no.varnostima.mac.Auth")
