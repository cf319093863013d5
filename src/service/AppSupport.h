#pragma once

#include <QString>

// The folder that holds every file the application writes: the XDG data home followed by "Varnostima".
// Computed and created once per process (thread-safe); later calls return the same path even when creation failed.
// The path has no trailing slash.
QString appSupportDirectory();
