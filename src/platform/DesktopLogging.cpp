#include "DesktopLogging.h"

Q_LOGGING_CATEGORY(lcDesktopNotifications, "no.varnostima.mac.DesktopNotifications")
Q_LOGGING_CATEGORY(lcAutostart, "no.varnostima.mac.Autostart")
Q_LOGGING_CATEGORY(lcSingleInstance, "no.varnostima.mac.SingleInstance")
Q_LOGGING_CATEGORY(lcUpdater, "no.varnostima.mac.Updater")
Q_LOGGING_CATEGORY(lcCrashReporter, "no.varnostima.mac.CrashReporter")
Q_LOGGING_CATEGORY(lcUrlOpener, "no.varnostima.mac.UrlOpener")
