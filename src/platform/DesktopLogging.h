#pragma once

#include <QLoggingCategory>

// Categories of the desktop integration layers (notifications, autostart, single instance, updates, crash reports).
Q_DECLARE_LOGGING_CATEGORY(lcDesktopNotifications)
Q_DECLARE_LOGGING_CATEGORY(lcAutostart)
Q_DECLARE_LOGGING_CATEGORY(lcSingleInstance)
Q_DECLARE_LOGGING_CATEGORY(lcUpdater)
Q_DECLARE_LOGGING_CATEGORY(lcCrashReporter)
Q_DECLARE_LOGGING_CATEGORY(lcUrlOpener)
