#pragma once

#include <QString>

// Writes a small report when the process dies of a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP):
// the signal, the raw return addresses, the loaded modules, the version and the time. Reports land in
// `folder` as "crash-<time>-<pid>.report" and are sent by CrashReportSender at the next start.
namespace CrashHandler {

// Signal handlers are per process: a second call only replaces the folder and the version.
// Returns false when the folder cannot be created.
bool install(const QString &folder, const QString &release);

// Puts back the handlers that were there before install().
void uninstall();

bool isInstalled();

// File-name suffix of a finished report; a report still being written ends in ".tmp".
inline constexpr char kReportSuffix[] = ".report";

} // namespace CrashHandler
