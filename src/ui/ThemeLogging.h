#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcFonts)
Q_DECLARE_LOGGING_CATEGORY(lcTheme)
