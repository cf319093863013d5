#pragma once

#include <QByteArray>

// Blanks, in the process's own argument memory (what every local user reads in /proc/<pid>/cmdline), the query and
// fragment of each argument that is a URL of `scheme` (case-insensitive): a sign-in callback carries its token
// there. Call once the arguments have been copied. Returns how many arguments were changed.
int scrubUrlArguments(int argc, char **argv, const QByteArray &scheme);
