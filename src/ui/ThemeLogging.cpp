#include "ThemeLogging.h"

Q_LOGGING_CATEGORY(lcFonts, "no.varnostima.mac.Fonts")
Q_LOGGING_CATEGORY(lcTheme, "no.varnostima.mac.Theme")
