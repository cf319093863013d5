#pragma once

#include <QString>

namespace unicodenames {

// A name from the disk or the service made ready to stand inside a sentence of the app's own words. A name that
// holds right-to-left letters or direction controls (such as U+202E) is wrapped in a first-strong isolate
// (U+2068 ... U+2069), so that it turns only itself, never the words around it; its own isolate controls are
// balanced first, so that none of them can close the wrapper early or leave it open. Any other name reads the
// same either way and is returned as it is.
QString isolated(const QString &name);

} // namespace unicodenames
