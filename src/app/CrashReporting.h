#pragma once

#include "platform/CrashReportSender.h"

#include <QString>

#include <memory>

namespace CrashReporting {

// "Crash Reports" in the application-support folder.
QString reportFolder();

// Call once at launch. With an empty or unusable DSN it only logs and returns null. Otherwise it installs the
// fatal-signal handler and starts sending the reports earlier runs left; keep the returned sender alive for the
// life of the process.
std::unique_ptr<CrashReportSender> start(const QString &dsn, bool sendDefaultPii, const QString &folder = reportFolder());

} // namespace CrashReporting
